"""Feature tables condensed to their top rows, and clean, unique names."""

import logging
import re
import subprocess
import sys

import numpy as np
import pandas as pd
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from velmo_brevant.utils import separators, utils


@pytest.fixture
def features():
    """Ten features, importances 10 (f0) down to 1 (f9), shuffled; index named."""
    order = [3, 7, 0, 9, 1, 5, 8, 2, 6, 4]
    table = pd.DataFrame(
        {"importance": [10.0 - i for i in order], "count": [i + 1 for i in order]},
        index=pd.Index(["f{}".format(i) for i in order], name="feature"),
    )
    return table


def test_condense_table_top_rows_and_one_others_row(features):
    before = features.copy()
    shown = utils.condense_table(features, 8, "importance")
    assert shown.index.tolist() == ["f{}".format(i) for i in range(8)] + ["Others"]
    assert shown.loc["Others"].tolist() == [1.0 + 2.0, 9 + 10]
    assert shown.index.name == "feature"
    pd.testing.assert_frame_equal(features, before)


@pytest.mark.parametrize("top_n", [9, None, 10, 12])
def test_condense_table_shows_every_row_rather_than_fold_one(features, top_n):
    shown = utils.condense_table(features, top_n, "importance")
    assert shown.index.tolist() == ["f{}".format(i) for i in range(10)]
    assert shown.index.name == "feature"


def test_condense_table_ascending_and_custom_label(features):
    shown = utils.condense_table(
        features, top_n=2, importance_col="importance", ascending=True, others_all_str="Rest"
    )
    assert shown.index.tolist() == ["f9", "f8", "Rest"]
    assert shown.loc["Rest", "importance"] == sum(range(3, 11))


def test_condense_table_differ_sign_always_has_both_rows():
    table = pd.DataFrame(
        {"importance": [5.0, 0.0, -2.0, 3.0, 1.0, -4.0]}, index=list("abcdef")
    )
    shown = utils.condense_table(table, 2, "importance", differ_sign=True)
    assert shown.index.tolist() == ["a", "d", "Others (Positive)", "Others (Negative)"]
    assert shown["importance"].tolist() == [5.0, 3.0, 1.0, -6.0]

    only_positive = table[table["importance"] >= 0]
    shown = utils.condense_table(
        only_positive, 1, "importance", differ_sign=True, others_pos_str="+", others_neg_str="-"
    )
    assert shown.index.tolist() == ["a", "+", "-"]
    assert shown.loc["+", "importance"] == 4.0 and shown.loc["-", "importance"] == 0


@pytest.mark.parametrize(
    "ascending, order", [(False, ["b", "a", "c"]), (True, ["c", "a", "b"])]
)
def test_condense_table_sort_by_abs(ascending, order):
    table = pd.DataFrame({"importance": [0.5, -0.9, 0.1]}, index=list("abc"))
    shown = utils.condense_table(table, None, "importance", sort_by_abs=True, ascending=ascending)
    assert shown.index.tolist() == order


def test_condense_table_missing_column_is_a_key_error(features):
    with pytest.raises(KeyError):
        utils.condense_table(features, 3, "weight")


@pytest.mark.parametrize(
    "name, part, replacement, renamed",
    [
        ("Coefficients_Class_0", "Coefficients", "Coef", "Coef_Class_0"),
        ("a_b_a", "a", "x", "x_b_a"),
        ("abc", "", "_", "_abc"),
    ],
)
def test_rename_col(name, part, replacement, renamed):
    assert utils.rename_col(name, part, replacement) == renamed


def test_rename_col_returns_the_very_object_when_the_part_is_absent():
    name = "".join(["Class", "_0"])
    assert utils.rename_col(col_name=name, orig_str="Coef", rep_str="C") is name
    assert utils.rename_col(("a", "b"), "z", "y") == ("a", "b")


def strip_with_re(x):
    x = re.sub(r"[^\w\s]", "_", x)
    x = x.strip()
    return re.sub(r"\s+", "_", x)


@pytest.mark.parametrize(
    "text, stripped",
    [
        (" Age (years) ", "Age__years_"),
        ("", ""),
        ("   ", ""),
        ("a \t\n b", "a_b"),
        ("\u00e9t\u00e9 \u2003 \u00e0-la", "\u00e9t\u00e9_\u00e0_la"),  # em space is \s
        ("x\u200by", "x_y"),  # zero-width space is not \s
        ("\x1c5\u0663", "5\u0663"),  # file separator is \s; Arabic-Indic digit is \w
        ("\ud800a", "_a"),  # a lone surrogate
        ("\U0001f600 ok", "__ok"),
    ],
)
def test_custom_strip(text, stripped):
    assert utils.custom_strip(text) == stripped == strip_with_re(text)


@settings(max_examples=500)
@given(st.text(alphabet=st.characters(exclude_categories=()), max_size=20))
def test_custom_strip_matches_re_on_any_text(text):
    assert utils.custom_strip(text) == strip_with_re(text)


@given(st.text(alphabet="ab_ -()\t\x1c\x1f\x7f.", max_size=20))
def test_custom_strip_matches_re_on_ascii(text):
    assert utils.custom_strip(text) == strip_with_re(text)


@pytest.mark.parametrize("value", [b"a b", 5, None])
def test_custom_strip_needs_str(value):
    with pytest.raises(TypeError):
        utils.custom_strip(value)


def sanitize_by_rescanning(strings):
    """The list-rescanning algorithm, with the current separators."""
    ret = []
    for x in strings:
        x = str(x)
        specials = separators.can_t_haves + [
            separators.orig_feat_prefix,
            separators.extra_prefix,
            separators.col_sep,
        ]
        for special in specials:
            x = x.replace(special, separators.san_sep)
        while x in ret:
            x += separators.san_sep
        ret.append(x)
    return ret


def test_sanitize_string_list_collisions_and_log(caplog_info, logger):
    names = ["a.b", "a[b", "a{b", "plain", "orig__x||y", 7]
    result = utils.sanitize_string_list(names, logger)
    assert result == ["a_b", "a_b_", "a_b__", "plain", "_x_y", "7"]
    assert result == sanitize_by_rescanning(names)
    assert [r.getMessage() for r in caplog_info.records] == [
        "Sanitized: a.b -> a_b",
        "Sanitized: a[b -> a_b_",
        "Sanitized: a{b -> a_b__",
        "Sanitized: orig__x||y -> _x_y",
    ]
    assert all(r.levelno == logging.INFO for r in caplog_info.records)


def test_sanitize_string_list_logs_a_repeat_but_not_an_unchanged_name(caplog_info, logger):
    assert utils.sanitize_string_list(iter(["x", "y", "x"]), logger) == ["x", "y", "x_"]
    assert [r.getMessage() for r in caplog_info.records] == ["Sanitized: x -> x_"]


def test_sanitize_string_list_refuses_none(logger):
    with pytest.raises(AssertionError, match="^can't sanitize None$"):
        utils.sanitize_string_list(["a", None], logger)


def test_sanitize_string_list_turns_none_into_text_when_optimised():
    code = (
        "from velmo_brevant.utils import utils;"
        "print(utils.sanitize_string_list([None, 'None'], utils.DEFAULT_LOGGER))"
    )
    out = subprocess.run(
        [sys.executable, "-O", "-c", code], capture_output=True, text=True, check=True
    )
    assert out.stdout.strip() == "['None', 'None_']"


SEPARATOR_SETS = [
    dict(can_t_haves=[".", "_"], san_sep="_", col_sep="||"),
    dict(can_t_haves=["."], san_sep="ab", col_sep="b"),
    dict(can_t_haves=["x"], san_sep="aa", col_sep="|"),
    dict(can_t_haves=["", "."], san_sep="-", col_sep="|"),
]


@pytest.mark.parametrize("separator_set", SEPARATOR_SETS)
@settings(max_examples=200, deadline=None)
@given(names=st.lists(st.text(alphabet="ab_.-x|", max_size=5), max_size=25))
def test_sanitize_string_list_matches_rescanning(separator_set, names):
    with pytest.MonkeyPatch.context() as patch:
        for name, value in separator_set.items():
            patch.setattr(separators, name, value)
        assert utils.sanitize_string_list(names, utils.DEFAULT_LOGGER) == sanitize_by_rescanning(
            names
        )


def test_sanitize_string_list_with_an_empty_separator(monkeypatch, logger):
    monkeypatch.setattr(separators, "san_sep", "")
    assert utils.sanitize_string_list(["a.b", "c"], logger) == ["ab", "c"]
    with pytest.raises(ValueError, match="'ab' cannot be made unique"):
        utils.sanitize_string_list(["a.b", "ab"], logger)


def test_sanitize_string_list_rejects_a_separator_that_is_not_text(monkeypatch, logger):
    monkeypatch.setattr(separators, "col_sep", 3)
    with pytest.raises(TypeError, match="separators.col_sep must hold str, got 3"):
        utils.sanitize_string_list(["a"], logger)


@pytest.mark.parametrize(
    "values, base, expected",
    [
        (["a"], "b", "b"),
        (["b"], "b", "b_[1]"),
        (["UNSEEN", "x"], "UNSEEN", "UNSEEN_[1]"),
        (["{x}"], "{x}", "{x}_[1]"),
        (["{}", "{}_[1]"], "{}", None),
        (iter([1, 2]), 3, 3),
    ],
)
def test_get_unseen_value(values, base, expected):
    np.random.seed(0)
    result = utils.get_unseen_value(values, base)
    if expected is None:
        assert re.fullmatch(r"\{\}_\[1\d\]", result)
    else:
        assert result == expected


def unseen_by_reference(values, base):
    unique = set(values)
    if base not in unique:
        return base
    index = "1"
    while base + "_[" + index + "]" in unique:
        index += str(np.random.randint(10))
    return base + "_[" + index + "]"


@pytest.mark.parametrize("seed", range(5))
def test_get_unseen_value_draws_digits_from_numpys_generator(seed):
    taken = ["b", "b_[1]"] + ["b_[1{}]".format(d) for d in range(10) if d != 4]
    np.random.seed(seed)
    result = utils.get_unseen_value(iterable=taken, base_string="b")
    np.random.seed(seed)
    assert result == unseen_by_reference(taken, "b")
    assert re.fullmatch(r"b_\[1(4|\d\d+)\]", result)


def test_get_unseen_value_unhashable_values():
    with pytest.raises(TypeError):
        utils.get_unseen_value([["a"]], "a")
