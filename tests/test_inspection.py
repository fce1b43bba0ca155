"""Reading finished Word reports: whether a sentence occurs, and the numbers written in the
paragraphs that hold it, with whitespace and typographic single quotes normalised."""

import math
import os
import re
import subprocess
import sys

import docx
import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from velmo_brevant.utils import utils

SPACES = " \t\n\r\x0b\x0c\x1c\x1d\x1e\x1f\x85\xa0\u1680\u2000\u200a\u2028\u2029\u202f\u3000"
NOT_SPACES = "\u200b\ufeff\u180e_ax'\u2018\u2019\u201c"


def designed_trim(text):
    return re.sub(r"\s+", " ", text).replace("\u2019", "'").replace("\u2018", "'")


@pytest.mark.parametrize(
    "text, trimmed",
    [
        ("It\u2019s  the\tmodel\u2018s\n", "It's the model's "),
        ("  a \r\n b  ", " a b "),
        ("\u3000wide\xa0space\x85", " wide space "),
        ("zero\u200bwidth", "zero\u200bwidth"),
        ("", ""),
    ],
)
def test_trim_whitespaces(text, trimmed):
    assert utils.trim_whitespaces(text) == trimmed


@settings(max_examples=300)
@given(st.text(st.sampled_from(SPACES + NOT_SPACES) | st.characters()))
def test_trim_whitespaces_is_the_regular_expression(text):
    assert utils.trim_whitespaces(text) == designed_trim(text)


@pytest.mark.parametrize("value", [None, b"a  b", 3])
def test_trim_whitespaces_needs_text(value):
    with pytest.raises(TypeError):
        utils.trim_whitespaces(value)


@pytest.fixture
def report(tmp_path):
    """A Word report whose sentences are split over runs and paragraphs, with text in a table
    and in the page header that is never read."""
    document = docx.Document()
    document.sections[0].header.paragraphs[0].text = "Header AUC: 42"
    paragraph = document.add_paragraph("The model reached ")
    paragraph.add_run("AUC: 0.")
    paragraph.add_run("87 and 12 features")
    document.add_paragraph("It isn\u2019t  over\tyet: 3 of (4) 5, 7% 1e3 +4 NaN -inf 1_000 \u0663")
    document.add_table(rows=1, cols=1).cell(0, 0).text = "Table AUC: 99"
    document.add_paragraph("Second AUC: 0.5 in total")
    document.add_paragraph("This sentence spans")
    document.add_paragraph("two paragraphs")
    path = str(tmp_path / "report.docx")
    document.save(path)
    return path


@pytest.mark.parametrize(
    "sentence",
    ["AUC: 0.87 and 12 features", "It isn't over yet", "reached  AUC:\n0.87", "spans two", ""],
)
def test_assert_text_present_finds_sentences(report, sentence):
    assert utils.assert_text_present(report, sentence, "missing") is None


@pytest.mark.parametrize("sentence", ["Table AUC: 99", "Header AUC", "AUC: 0.88"])
def test_assert_text_present_raises_the_given_message(report, sentence):
    with pytest.raises(AssertionError) as raised:
        utils.assert_text_present(path=report, txt=sentence, err=("not found", sentence))
    assert raised.value.args == (("not found", sentence),)


def test_assert_text_present_is_skipped_when_optimised(report):
    code = "from velmo_brevant.utils import utils; print(utils.assert_text_present({!r}, 'x', 'e'))"
    out = subprocess.run(
        [sys.executable, "-O", "-c", code.format(report)], capture_output=True, text=True,
        check=True, env=dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path)),
    )
    assert out.stdout.strip() == "None"


def shown(numbers):
    return ["nan" if math.isnan(x) else x for x in numbers]


@pytest.mark.parametrize(
    "sentence, numbers",
    [
        ("AUC:", [0.87, 12.0, 0.5]),
        ("AUC: 0.87 and 12 features", [0.87, 12.0]),
        ("isn't over", [3.0, 1000.0, 4.0, "nan", -math.inf, 1000.0, 3.0]),
        ("spans two", []),
        ("absent", []),
        ("", [0.87, 12.0, 3.0, 1000.0, 4.0, "nan", -math.inf, 1000.0, 3.0, 0.5]),
    ],
)
def test_get_floats_in_str_reads_matching_paragraphs(report, sentence, numbers):
    assert shown(utils.get_floats_in_str(report, sentence)) == numbers


def test_get_floats_in_str_takes_what_float_takes(tmp_path):
    rng = np.random.default_rng(3)
    pieces = ["", "+", "-", "0", "1", "12", "_", ".", "e", "E", "e-", "inf", "InFiNiTy", "nan",
              "9" * 25, "x", "1_0", "e400", ",", "%", "(", "\u0661", "\xb2", "\uff15"]
    words = ["".join(rng.choice(pieces, int(rng.integers(1, 5)))) for _ in range(2000)]
    document = docx.Document()
    for start in range(0, len(words), 50):
        document.add_paragraph("n " + " ".join(words[start:start + 50]))
    path = str(tmp_path / "numbers.docx")
    document.save(path)

    expected = []
    for word in " ".join(words).split():
        try:
            expected.append(float(word))
        except ValueError:
            pass
    assert shown(utils.get_floats_in_str(path, "n")) == shown(expected)


def test_a_missing_report_fails_in_python_docx(tmp_path):
    with pytest.raises(Exception, match="not found|No such file|Package not found"):
        utils.get_floats_in_str(str(tmp_path / "missing.docx"), "x")
