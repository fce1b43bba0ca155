"""Differential fuzzing of the table and text-inspection code through the Python
API: markdown_table and docx_table against the designed pandas and tabulate
steps, trim_whitespaces against re, and the number scan of get_floats_in_str
against Python's float() on every whitespace-separated piece.

Run by run_fuzzers.sh (target tables) with the developer build on PYTHONPATH; a
mismatch raises AssertionError with the input.
"""

import logging
import math
import os
import re
import sys
import tempfile

import atheris

import docx
import numpy as np
import pandas as pd

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "bench"))
from bench_tables import pandas_docx, pandas_markdown  # noqa: E402

from velmo_brevant.utils import utils  # noqa: E402

logging.disable(logging.CRITICAL)

# Texts that tabulate reads as numbers, booleans or missing values, or that the
# escaping steps change.
WORDS = ["1", "-2", "1,234", "1e5", "nan", "inf", "True", "x_y", "a\nb", " 3 ", "0x1F", "1_000",
         "", "é", "日本", "—", "  1235", "-0.0", "+7", "1.5e-3", "None"]
DOCUMENT = os.path.join(tempfile.mkdtemp(), "inspect.docx")


def same(got, expected, what, *inputs):
    if got != expected:
        raise AssertionError("%s%r: got %r, expected %r" % (what, inputs, got, expected))


def column(fdp, rows):
    kind = fdp.ConsumeIntInRange(0, 5)
    if kind == 0:
        return pd.Series([fdp.ConsumeIntInRange(-10**12, 10**12) for _ in range(rows)], dtype="int64")
    if kind == 1:
        return pd.Series([fdp.ConsumeRegularFloat() if fdp.ConsumeBool() else fdp.ConsumeFloat()
                          for _ in range(rows)], dtype="float64")
    if kind == 2:
        return pd.Series([fdp.ConsumeBool() for _ in range(rows)], dtype="bool")
    if kind == 3:
        return pd.Series([WORDS[fdp.ConsumeIntInRange(0, len(WORDS) - 1)] for _ in range(rows)], dtype=object)
    if kind == 4:
        return pd.Series([fdp.ConsumeUnicode(fdp.ConsumeIntInRange(0, 6)) for _ in range(rows)], dtype=object)
    return pd.Series([None if fdp.ConsumeBool() else fdp.ConsumeIntInRange(-99, 99) * 0.25
                      for _ in range(rows)], dtype="float64")


def frame(fdp):
    rows = fdp.ConsumeIntInRange(0, 6)
    columns = fdp.ConsumeIntInRange(1, 5)
    labels = []
    for _ in range(columns):
        label = WORDS[fdp.ConsumeIntInRange(0, len(WORDS) - 1)] + "_" + str(len(labels))
        labels.append(label)
    return pd.DataFrame({label: column(fdp, rows) for label in labels})


def outcome(function, *args):
    try:
        return function(*args)
    except Exception as error:  # both sides must fail alike
        return type(error)


def check_tables(fdp):
    df = frame(fdp)
    showindex = fdp.ConsumeBool()
    before = df.copy()
    same(outcome(utils.markdown_table, df, showindex), outcome(pandas_markdown, df, showindex),
         "markdown_table", df.to_dict("list"), showindex)
    assert df.equals(before) and list(df.columns) == list(before.columns), "markdown_table changed its input"
    got, expected = outcome(utils.docx_table, df, showindex), outcome(pandas_docx, df, showindex)
    if isinstance(got, dict) and isinstance(expected, dict):
        same(list(got["col_labels"]), list(expected["col_labels"]), "docx_table labels", df.to_dict("list"))
        same(repr(got["tbl_contents"]), repr(expected["tbl_contents"]), "docx_table rows", df.to_dict("list"))
    else:
        same(got, expected, "docx_table", df.to_dict("list"), showindex)


def expected_trim(x):
    return re.sub(r"\s+", " ", x).replace("\u2019", "'").replace("\u2018", "'")


def expected_floats(texts, sentence):
    wanted = expected_trim(sentence)
    kept = [expected_trim(t) for t in texts if wanted in expected_trim(t)]
    numbers = []
    for piece in " ".join(kept).split():
        try:
            numbers.append(float(piece))
        except ValueError:
            pass
    return numbers


def check_text(fdp):
    text = fdp.ConsumeUnicode(fdp.ConsumeIntInRange(0, 80))
    same(utils.trim_whitespaces(text), expected_trim(text), "trim_whitespaces", text)
    if "\x00" in text or any(0xD800 <= ord(c) <= 0xDFFF for c in text):
        return  # python-docx cannot store these
    pieces = [WORDS[fdp.ConsumeIntInRange(0, len(WORDS) - 1)] if fdp.ConsumeBool()
              else fdp.ConsumeUnicodeNoSurrogates(8) for _ in range(fdp.ConsumeIntInRange(0, 8))]
    paragraphs = [" ".join(pieces), text]
    try:
        document = docx.Document()
        for paragraph in paragraphs:
            document.add_paragraph(paragraph)
        document.save(DOCUMENT)
    except ValueError:  # control characters that XML cannot hold
        return
    texts = [p.text for p in docx.Document(DOCUMENT).paragraphs]
    sentence = fdp.ConsumeUnicodeNoSurrogates(2)
    got = utils.get_floats_in_str(DOCUMENT, sentence)
    expected = expected_floats(texts, sentence)
    same([repr(x) for x in got], [repr(x) for x in expected], "get_floats_in_str", texts, sentence)


def test_one_input(data):
    fdp = atheris.FuzzedDataProvider(data)
    with np.errstate(all="ignore"):
        (check_tables, check_text)[fdp.ConsumeIntInRange(0, 1)](fdp)


if __name__ == "__main__":
    atheris.Setup(sys.argv, test_one_input)
    atheris.Fuzz()
