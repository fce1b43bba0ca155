"""Data frames as Markdown pipe tables and Word table values, float patterns, CSV artifacts,
splitting wide frames and reading Word table values back.

The native layout and cell conversions are checked against the designed steps written with
pandas and tabulate (below), on the documented examples and on thousands of generated frames."""

import collections
import math
import os
import re
import sys
import types

import numpy as np
import pandas as pd
import pytest
import tabulate

from velmo_brevant.base.enums import OutputType
from velmo_brevant.utils import utils

HEX32 = "[0-9a-f]{32}"


# ---------------------------------------------------------------- the designed steps

# The straightforward pandas and tabulate implementation of the designed steps, which the
# benchmarks also measure against.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "bench"))
from bench_tables import pandas_docx as designed_docx  # noqa: E402
from bench_tables import pandas_float_format as designed_float_format  # noqa: E402
from bench_tables import pandas_markdown as designed_markdown  # noqa: E402


def outcome(call, *args):
    try:
        return call(*args)
    except Exception as error:  # the same failure is the same outcome
        return type(error)


# ---------------------------------------------------------------- generated frames

TEXTS = [
    "a", "bb", "my_word", "two words", "line\nbreak", " pad ", "  1235", "   0.1", "1,234",
    "1,234.5", "12", "-3", "+4", "1e5", "1E-3", ".5", "5.", "nan", "NaN", "inf", "-inf", "+inf",
    " inf", "Infinity", "1_000", "1__0", "True", "False", "", " ", "\t", "1,0000", "12,345,678",
    "\u0661\u0662", "\uff11\uff12", "\xa01", "1\xa0", "\xe9", "\u65e5\u672c", "x\u3000", "\x85y",
    "0x10", "1e400", "-1e-400", "9" * 30, "9" * 700, "a\\b", "|", "1,234\n", "5\n", "0.0625",
    "-0", "00012", "1.", "+.5", "\x1c1", "\xe9_\xe9", "\U0001d7d9", "x\ud800",
]
# Text that makes tabulate leave its plain single-line layout.
UNUSUAL_TEXTS = ["cr\rx", "\x01", "\x1b[31mred\x1b[0m"]
FLOATS = [0.0, -0.0, 1.5, 1234.56789, 1e16, 1e-5, 123456789.123, math.nan, math.inf, -math.inf,
          0.0625, 2.5, 1e300, 5e-324, 0.1, 0.00005, 1.00005]
INTS = [0, 1, -1, 999, 1000, -1234567, 2**62, 12]
LABELS = ["a", "b_c", "my_col", "\xe9", "\u65e5\u672c", "", " x ", "n", "_", "Gr\xf6\xdfe"]


class Frames:
    """Seeded frames of the kinds a report shows, and of others."""

    REPORT_KINDS = ["int64", "int32", "float64", "float32", "bool", "str", "object", "float64"]
    ALL_KINDS = REPORT_KINDS + ["int8", "uint8", "uint64", "string", "category", "Int64"]

    def __init__(self, seed, texts=TEXTS + UNUSUAL_TEXTS, labels=LABELS + ["a\nb"]):
        self.rng = np.random.default_rng(seed)
        self.texts = texts
        self.labels = labels

    def pick(self, pool):
        return pool[self.rng.integers(len(pool))]

    def floats(self, n):
        return [
            self.pick(FLOATS) if self.rng.random() < 0.5
            else float(self.rng.normal() * 10.0 ** int(self.rng.integers(-3, 9)))
            for _ in range(n)
        ]

    def texts_or_none(self, n):
        return [None if self.rng.random() < 0.1 else self.pick(self.texts) for _ in range(n)]

    def objects(self, n, plain):
        makers = [
            lambda: self.pick(self.texts), lambda: self.floats(1)[0], lambda: self.pick(INTS),
            lambda: bool(self.rng.random() < 0.5), lambda: None, lambda: math.nan,
        ]
        if not plain:
            makers += [lambda: 10**30, lambda: np.float64(1.5)]
        return pd.Series([self.pick(makers)() for _ in range(n)], dtype=object)

    def column(self, n, kind, plain):
        rng = self.rng
        if kind == "int64":
            return pd.Series(rng.choice(INTS + list(rng.integers(-(10**7), 10**7, 4)), n))
        if kind in ("int32", "int8", "uint8"):
            return pd.Series(rng.integers(-100 if kind[0] == "i" else 0, 100, n), dtype=kind)
        if kind == "uint64":
            return pd.Series(rng.integers(0, 2**63, n, dtype="uint64"))
        if kind in ("float64", "float32"):
            with np.errstate(over="ignore"):
                return pd.Series(np.array(self.floats(n)).astype(kind))
        if kind == "bool":
            return pd.Series(rng.random(n) < 0.5)
        if kind == "str":
            return pd.Series(self.texts_or_none(n))
        if kind == "object":
            return self.objects(n, plain)
        if kind == "string":
            return pd.Series(self.texts_or_none(n), dtype="string")
        if kind == "category":
            return pd.Series([self.pick(TEXTS[:-1]) for _ in range(n)], dtype="category")
        values = rng.integers(-5000, 5000, n)
        return pd.Series([None if rng.random() < 0.2 else int(v) for v in values], dtype="Int64")

    def frame(self, kinds=None, plain=False):
        kinds = kinds or (self.REPORT_KINDS if self.rng.random() < 0.5 else self.ALL_KINDS)
        rows, width = int(self.rng.integers(1, 6)), int(self.rng.integers(1, 5))
        columns = [self.column(rows, self.pick(kinds), plain) for _ in range(width)]
        df = pd.concat(columns, axis=1)
        df.columns = [self.pick(self.labels) for _ in range(width)]
        shape = self.rng.random()
        if shape < 0.2:
            df.index = pd.RangeIndex(5, 5 + 2 * rows, 2)
        elif shape < 0.35:
            df.index = pd.Index(self.rng.integers(-1000, 100000, rows))
        elif shape < 0.45:
            df.index = pd.Index(self.floats(rows))
        elif shape < 0.6:
            # index text is shown as it is: a line break in it is unusual text
            texts = [t for t in self.texts if "\n" not in t] if plain else self.texts
            df.index = pd.Index([self.pick(texts) for _ in range(rows)])
        if self.rng.random() < 0.3:
            df.index.name = self.pick(["idx", "my_idx", 3, "\xe9"])
        return df


def same(a, b):
    """Equal values of equal types (floats bit for bit, nan equal to nan)."""
    if type(a) is not type(b):
        return False
    if isinstance(a, float):
        return (math.isnan(a) and math.isnan(b)) or (
            a == b and math.copysign(1, a) == math.copysign(1, b)
        )
    if isinstance(a, list):
        return len(a) == len(b) and all(same(x, y) for x, y in zip(a, b))
    if isinstance(a, dict):
        return list(a) == list(b) and all(same(a[k], b[k]) for k in a)
    if isinstance(a, pd.Index):
        return a.equals(b)
    return a is b or bool(a == b)


def unchanged(before, after):
    return before.equals(after) and list(before.columns) == list(after.columns) and list(
        before.dtypes
    ) == list(after.dtypes)


# ---------------------------------------------------------------- markdown_table

# Python 3.8 and 3.9 install an older tabulate: the tables are then its own layout.
PINNED_TABULATE = pytest.mark.skipif(tabulate.__version__ != "0.10.0",
                                     reason="the layout of the tabulate release pinned")

DESIGN_FRAME = pd.DataFrame(
    {"my_col": ["a_b", "c\nd"], "n": [1234567, 2], "f": [1234.56789, 0.5]}
)


def test_markdown_table_of_the_design_example():
    for showindex in ("always", ["r1", "r2"], None, False, True):
        assert utils.markdown_table(DESIGN_FRAME, showindex) == designed_markdown(
            DESIGN_FRAME, showindex
        )


@PINNED_TABULATE
def test_markdown_table_text_of_the_design_example():
    assert utils.markdown_table(DESIGN_FRAME) == (
        "| my\\_col   |         n |         f |\n"
        "|:----------|----------:|----------:|\n"
        "| a\\_b      | 1,234,567 | 1,234.568 |\n"
        "| c d       |         2 |     0.500 |"
    )
    assert utils.markdown_table(DESIGN_FRAME, showindex=True) == (
        "|    | my\\_col   |         n |         f |\n"
        "|---:|:----------|----------:|----------:|\n"
        "|  0 | a\\_b      | 1,234,567 | 1,234.568 |\n"
        "|  1 | c d       |         2 |     0.500 |"
    )


@pytest.mark.parametrize(
    "column",
    [
        pd.Categorical(["a_b", "c"]),  # pandas refuses the escape: new categories
        pd.arrays.SparseArray([1.0, np.nan]),  # pandas refuses any replacement
        ["a_b", "c\nd"],
    ],
    ids=["categorical", "sparse", "text"],
)
def test_markdown_table_never_changes_the_callers_frame(column):
    df = pd.DataFrame({"my_col": column, "count_n": [1234, 5]})
    before = df.copy(deep=True)
    assert utils.markdown_table(df) == designed_markdown(before)
    assert unchanged(before, df)


def test_markdown_table_needs_text_labels():
    with pytest.raises(TypeError, match="str column labels, got 0 \\(int\\)"):
        utils.markdown_table(pd.DataFrame([[1, 2]]))


@pytest.mark.parametrize("seed", range(6))
def test_markdown_table_matches_the_designed_steps(seed):
    frames = Frames(seed)
    for _ in range(500):
        df = frames.frame()
        before = df.copy(deep=True)
        for showindex in (False, True):
            assert outcome(utils.markdown_table, df, showindex) == outcome(
                designed_markdown, before, showindex
            ), (df.to_dict("list"), df.index, showindex)
        assert unchanged(before, df)


@pytest.mark.parametrize("release, native",
                         [pytest.param("0.10.0", True, marks=PINNED_TABULATE), ("0.9.0", False)])
def test_report_frames_are_laid_out_without_tabulate(monkeypatch, release, native):
    monkeypatch.setattr(tabulate, "__version__", release)
    frames = Frames(7, texts=TEXTS, labels=LABELS)
    cases = []
    for _ in range(300):
        df = frames.frame(["int64", "int32", "float64", "float32", "str", "object"], plain=True)
        cases += [(df, showindex, designed_markdown(df, showindex)) for showindex in (0, 1)]

    def refused(*args, **kwargs):
        raise AssertionError("tabulate was called")

    monkeypatch.setattr(tabulate, "tabulate", refused)
    for df, showindex, text in cases if native else cases[:2]:
        if native:
            assert utils.markdown_table(df, bool(showindex)) == text
        else:  # another release lays out its own tables
            with pytest.raises(AssertionError, match="tabulate was called"):
                utils.markdown_table(df, bool(showindex))


def fake_wcswidth(text):
    widths = [-1 if ord(c) < 32 else 2 if ord(c) >= 0x1100 else 1 for c in text]
    return -1 if -1 in widths else sum(widths)


@pytest.mark.parametrize(
    "settings",
    [{"WIDE_CHARS_MODE": True, "wcwidth": types.SimpleNamespace(wcswidth=fake_wcswidth)},
     {"MIN_PADDING": 0}, {"MIN_PADDING": 5}],
    ids=["wide characters", "no padding", "wide padding"],
)
def test_markdown_table_follows_tabulates_settings(monkeypatch, settings):
    for name, value in settings.items():
        monkeypatch.setattr(tabulate, name, value)
    frames = Frames(3, texts=TEXTS, labels=LABELS)
    for _ in range(100):
        df = frames.frame(plain=True)
        for showindex in (False, True):
            assert outcome(utils.markdown_table, df, showindex) == outcome(
                designed_markdown, df, showindex
            )


# ---------------------------------------------------------------- docx_table


def test_docx_table_of_the_design_example():
    value = utils.docx_table(DESIGN_FRAME)
    assert list(value) == ["col_labels", "tbl_contents"]
    assert value["col_labels"] is DESIGN_FRAME.columns
    assert value["tbl_contents"] == [
        {"cols": ["a_b", "1,234,567", 1234.5679]},
        {"cols": ["c\nd", "2", 0.5]},
    ]
    indexed = utils.docx_table(DESIGN_FRAME.set_axis(["r1", "r2"]), showindex=True)
    assert indexed["col_labels"] == ["", "my_col", "n", "f"]
    assert [row["cols"][0] for row in indexed["tbl_contents"]] == ["r1", "r2"]


@pytest.mark.parametrize("seed", range(3))
def test_docx_table_matches_the_designed_steps(seed):
    frames = Frames(seed)
    for _ in range(500):
        df = frames.frame()
        for showindex in (False, True):
            assert same(
                outcome(utils.docx_table, df, showindex), outcome(designed_docx, df, showindex)
            ), (df.to_dict("list"), df.index, showindex)


def test_docx_table_rounds_like_numpy():
    rng = np.random.default_rng(11)
    halves = (rng.integers(-(10**6), 10**6, 2000) + 0.5) / 10**4
    values = np.concatenate([halves, rng.normal(size=2000) * 10.0 ** rng.integers(-6, 12, 2000)])
    df = pd.DataFrame({"f64": values, "f32": values.astype("float32")})
    rows = [row["cols"] for row in utils.docx_table(df)["tbl_contents"]]
    assert [row[0] for row in rows] == np.round(df["f64"], 4).tolist()
    assert [row[1] for row in rows] == np.round(df["f32"], 4).tolist()


# ---------------------------------------------------------------- format_table


def parked_frame(df, **kwargs):
    """The value format_table hands to encode_to_template, for a main format that is neither
    Word nor Markdown (which then refuses to encode it as a table)."""
    config = types.SimpleNamespace(
        main_template_type="pdf", sub_template_type="pdf", current_template_types=["pdf"],
        tables_dir=os.path.join(os.sep, "nonexistent"), runtime={"context": {}},
    )
    with pytest.raises(AssertionError):
        utils.format_table(df, config, **kwargs)
    (value,) = config.runtime["context"].values()
    return value


def test_float_format_of_the_design_example():
    df = pd.DataFrame({"x": [1234.5678, 0.1], "name": ["a", "1"], "n": [3, 40000]})
    formatted = parked_frame(df, float_format="{:6.4g}")
    assert formatted.to_dict("list") == {
        "x": ["  1235", "   0.1"], "name": ["a", "1"], "n": ["     3", " 4e+04"],
    }
    assert parked_frame(df) is df


@pytest.mark.skipif(sys.version_info < (3, 9),
                    reason="Python 3.8's 'g' format keeps a trailing zero after some ties")
@pytest.mark.parametrize("seed", range(3))
def test_float_format_matches_the_designed_steps(seed):
    patterns = ["{:6.4g}", "{:.2f}", "{:,.1f}", "{:10.3e}", "{:g}", "{:.0f}", "{0:.3g} %",
                "{:8,.2f}", "{:d}", "{:.2%}", "{}", "x{:5.1f}y", "{:.17g}", "{:.0g}", "{:+.2f}"]
    frames = Frames(seed)
    for _ in range(400):
        df = frames.frame()
        pattern = frames.pick(patterns)
        got = outcome(lambda: parked_frame(df, float_format=pattern))
        want = outcome(designed_float_format, df, pattern)
        if isinstance(want, type):
            assert got is want
            continue
        assert list(got.dtypes) == list(want.dtypes), (pattern, df.to_dict("list"))
        assert same(got.astype(object).values.tolist(), want.astype(object).values.tolist())


def number_texts(rng, count):
    """Text that float() may or may not read: signs, digits, underscores, points, exponents,
    words, spaces."""
    pieces = ["", "+", "-", "0", "1", "7", "12", "_", "__", ".", "e", "E", "e-", "e+", "inf",
              "iNfInItY", "nan", " ", "\t", "9" * 25, "0" * 5, "x", "1_0", "e400", "e-400", ","]
    return ["".join(rng.choice(pieces, int(rng.integers(1, 6)))) for _ in range(count)]


def test_float_format_reads_and_writes_numbers_as_python_does():
    rng = np.random.default_rng(5)
    doubles = np.concatenate([
        rng.normal(size=500) * 10.0 ** rng.integers(-30, 30, 500),
        [0.125, 2.5, -0.0, 0.0625, 1e22, 5e-324, 1.7976931348623157e308, 9.995, 0.5, 1.5],
    ])
    for pattern in ["{:.17g}", "{:6.4g}", "{:.3f}", "{:,.2f}", "{:.0e}", "{:12.5e}", "{:g}"]:
        df = pd.DataFrame({"x": doubles})
        assert parked_frame(df, float_format=pattern)["x"].tolist() == [
            pattern.format(x) for x in doubles
        ]
    for text in number_texts(rng, 3000):
        df = pd.DataFrame({"t": pd.Series([text], dtype=object)})
        assert parked_frame(df, float_format="{:.17g}").equals(
            designed_float_format(df, "{:.17g}")
        ), text


class Unconvertible:
    def __float__(self):
        raise RuntimeError("no number here")


def test_float_format_leaves_columns_it_cannot_convert():
    df = pd.DataFrame(
        {"missing": pd.Series([1.5, None], dtype=object), "text": ["1.5", "x"], "x": [1.0, 2.0]}
    )
    formatted = parked_frame(df, float_format="{:.1f}")
    assert formatted["missing"].tolist() == [1.5, None]
    assert formatted["text"].tolist() == ["1.5", "x"]
    assert formatted["x"].tolist() == ["1.0", "2.0"]
    # a pattern that does not take floats leaves every column as it was
    assert parked_frame(df, float_format="{:d}").equals(df)
    with pytest.raises(RuntimeError, match="no number here"):
        parked_frame(pd.DataFrame({"o": [Unconvertible()]}), float_format="{:.1f}")


def test_format_table_gives_the_value_of_the_main_format(report_config):
    df = pd.DataFrame({"x": [1234.5678, 0.1], "n": [1234567, 2]})
    markdown = report_config("md")
    assert utils.format_table(df, markdown, float_format="{:6.4g}") == utils.markdown_table(
        designed_float_format(df, "{:6.4g}")
    )
    word = report_config("docx")
    table = utils.format_table(df, word, showindex=True)
    (key, value), = word.runtime["context"].items()
    assert re.fullmatch("table" + HEX32, key)
    assert value == utils.docx_table(df, showindex=True)
    assert isinstance(table, utils.TextWithTableValues)
    assert (table.col_labels, table.tbl_contents) == (value["col_labels"], value["tbl_contents"])
    assert table.subdocx.paragraphs[0].text == utils.LEFT_BRACKET + "p " + key + utils.RIGHT_BRACKET


def test_format_table_writes_csv_only_into_an_existing_tables_directory(report_config):
    df = pd.DataFrame({"x": [1234.5678, 0.1]}, index=["a", "b"])
    config = report_config("md")
    config.runtime["table_counter"] = 5
    utils.format_table(df, config)
    assert not os.path.exists(config.tables_dir) and config.runtime["table_counter"] == 5

    os.makedirs(config.tables_dir)
    utils.format_table(df, config, showindex=True, float_format="{:6.4g}", table_name="roc")
    with open(os.path.join(config.tables_dir, "roc.csv")) as csv:
        assert csv.read() == ",x\na,  1235\nb,   0.1\n"
    assert config.runtime["table_counter"] == 5
    utils.format_table(df, config)
    with open(os.path.join(config.tables_dir, "table_key_5.csv")) as csv:
        assert csv.read() == "x\n1234.5678\n0.1\n"
    assert config.runtime["table_counter"] == 6


# ---------------------------------------------------------------- names and groups


@pytest.mark.parametrize("counter, name, after", [(5, "table_key_5", 6), (0, "table_key_0", 0)])
def test_table_filename_creator_counts(tmp_path, counter, name, after):
    config = types.SimpleNamespace(runtime={"table_counter": counter})
    assert utils.table_filename_creator(str(tmp_path), config) == name
    assert config.runtime == {"table_counter": after}


def test_table_filename_creator_without_a_counter(tmp_path):
    (tmp_path / "table_key_x.csv").write_text("")
    config = types.SimpleNamespace(runtime={})
    name = utils.table_filename_creator(dirname=str(tmp_path), config=config)
    assert re.fullmatch("table_key_table_key_" + HEX32, name)
    assert name[len("table_key_"):] not in os.listdir(tmp_path) and config.runtime == {}
    with pytest.raises(FileNotFoundError):
        utils.table_filename_creator(str(tmp_path / "missing"), config)


@pytest.mark.parametrize("width, per_table, widths", [(10, 4, [4, 4, 2]), (3, 4, [3]), (4, 4, [4])])
def test_create_multiple_tables_splits_columns(width, per_table, widths):
    df = pd.DataFrame([list(range(width))], columns=["c%d" % i for i in range(width)])
    groups = utils.create_multiple_tables(df, per_table, template_formatted=False)
    assert isinstance(groups, collections.OrderedDict)
    assert list(groups) == list(range(len(widths)))
    assert [group.shape[1] for group in groups.values()] == widths
    assert list(pd.concat(groups.values(), axis=1).columns) == list(df.columns)


def test_create_multiple_tables_formats_each_group(report_config):
    df = pd.DataFrame([[1.5, 2, "a_b"]], columns=["a", "b", "c"])
    groups = utils.create_multiple_tables(df, 2, config=report_config("md"))
    assert list(groups.values()) == [
        utils.markdown_table(df[["a", "b"]]), utils.markdown_table(df[["c"]])
    ]
    with pytest.raises(ZeroDivisionError):
        utils.create_multiple_tables(df, 0)
    with pytest.raises(AttributeError):
        utils.create_multiple_tables(df, 2)


# ---------------------------------------------------------------- inverse_format_table


def test_inverse_format_table_of_a_table_object(report_config):
    config = report_config("docx")
    table = utils.TextWithTableValues(
        config.template, "x", ["n", "t", "f", "half"],
        [{"cols": ["1,234", "x", "0.5", "0.5"]}, {"cols": ["5", "y", "nan", "1,000.5"]}],
    )
    frame = utils.inverse_format_table(table)
    assert list(frame.columns) == ["n", "t", "f", "half"]
    assert frame["n"].dtype == np.int64 and frame["n"].tolist() == [1234, 5]
    assert frame["t"].tolist() == ["x", "y"]
    assert frame["f"].dtype == np.float64 and frame["f"].iloc[0] == 0.5
    assert math.isnan(frame["f"].iloc[1])
    assert frame["half"].tolist() == [0, 1000]  # truncated toward zero


def test_inverse_format_table_needs_table_attributes():
    with pytest.raises(AttributeError):
        utils.inverse_format_table({"col_labels": ["a"], "tbl_contents": []})
    with pytest.raises(KeyError):
        utils.inverse_format_table(types.SimpleNamespace(col_labels=["a"], tbl_contents=[{}]))
    mixed = types.SimpleNamespace(col_labels=["a"], tbl_contents=[{"cols": [1]}, {"cols": ["2"]}])
    assert utils.inverse_format_table(mixed)["a"].tolist() == [1, "2"]
