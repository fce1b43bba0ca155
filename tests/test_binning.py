"""Bin bounds, log odds, validation scores and column statistics."""

import logging
import math
from types import SimpleNamespace

import numpy as np
import pandas as pd
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from velmo_brevant.utils import utils

INF = float("inf")


def as_pairs(series):
    return list(zip(series.index.tolist(), series.tolist()))


@pytest.mark.parametrize(
    "x, n_bins, bin_type, pairs",
    [
        ([0, 0, 0, 1, 1, 2], 5, "quantile", [(0, -INF), (3, 1.0), (5, INF)]),
        ([1, 5, 3], 2, "width", [(0, -INF), (1, 3.0), (2, INF)]),
        ([1, 5, 3], 0, "width", [(0, -INF), (1, INF)]),
        ([1, 5, 3], -4, "quantile", [(0, -INF), (1, INF)]),
        ([7.5] * 10, 5, "quantile", [(0, -INF), (5, INF)]),
        # The last bound repeats the one before it: the +inf goes to the last kept one.
        ([0, 1, 2, 2, 2, 2, 2], 3, "quantile", [(0, -INF), (1, INF)]),
    ],
)
def test_get_bins_worked_examples(x, n_bins, bin_type, pairs):
    bins = utils.get_bins(x, n_bins, bin_type)
    assert isinstance(bins, pd.Series) and bins.dtype == np.float64
    assert as_pairs(bins) == pairs


def test_get_bins_finite_ends_keyword_call_and_input_untouched():
    x = np.array([3.0, 1.0, 2.0, 2.0, 5.0])
    before = x.copy()
    bins = utils.get_bins(
        x=x, n_bins=4, bin_type="quantile", lower_inf=False, upper_inf=False, velmo=None
    )
    assert as_pairs(bins) == [(0, 1.0), (1, 2.0), (3, 3.0), (4, 5.0)]
    np.testing.assert_array_equal(x, before)
    assert as_pairs(utils.get_bins(x, 2, "width", lower_inf=False)) == [(0, 1.0), (1, 3.0), (2, INF)]


@pytest.mark.parametrize(
    "x",
    [
        np.array([4.0, np.nan, -1.0, 9.0]),  # builtin min/max step over a NaN that is not first
        np.array([np.nan, 4.0, -1.0]),  # ... and keep a NaN that is first
        np.array([0.0, -0.0, 2.0]),
        np.array([3.0, 1.0], dtype=">f8"),
        np.arange(6, dtype=np.float64)[::2],
        pd.Series([2.0, 8.0, 5.0]),
        [2, 8, 5],
    ],
)
def test_get_bins_equal_width_uses_builtin_min_and_max(x):
    expected = np.linspace(min(x), max(x), 4)
    bins = utils.get_bins(x, 3, "width", lower_inf=False, upper_inf=False)
    np.testing.assert_array_equal(bins.to_numpy(), expected[: len(bins)])


def test_get_bins_nan_bounds_are_never_dropped():
    bins = utils.get_bins([1.0, np.nan, 2.0], 3, "quantile", lower_inf=False, upper_inf=False)
    assert bins.index.tolist() == [0, 1, 2, 3] and bins.isna().all()
    bins = utils.get_bins([np.nan, 1.0, 2.0], 3, "width")
    assert comparable(bins) == [(0, -INF), (1, "nan"), (2, "nan"), (3, INF)]


def test_get_bins_errors_propagate():
    with pytest.raises(ValueError):
        utils.get_bins([], 3, "width")
    with pytest.raises(TypeError):
        utils.get_bins([1.0, 2.0], 2.5)


def reference_walk(bounds):
    """The duplicate-dropping walk written out over a pandas Series (NaN sorted last)."""
    series = pd.Series(sorted(bounds, key=lambda v: (math.isnan(v), v)), dtype=float)
    marked, previous = [], None
    for label in series.index:
        if previous is not None and series[label] <= series[previous]:
            if len(marked) < len(series) - 2:
                marked.append(label)
        previous = label
    return series.drop(marked)


def comparable(series):
    return [(label, "nan" if math.isnan(value) else value) for label, value in as_pairs(series)]


@settings(max_examples=200, deadline=None)
@given(
    st.lists(st.sampled_from([0.0, 1.0, 2.5, -3.0]), min_size=1, max_size=12),
    st.integers(-1, 8),
    st.booleans(),
    st.booleans(),
)
def test_quantile_bins_match_the_walk_over_a_series(x, n_bins, lower_inf, upper_inf):
    n = max(n_bins, 1)
    expected = reference_walk(np.quantile(x, np.linspace(0, n, n + 1) / n).tolist())
    if lower_inf:
        expected.iloc[0] = -INF
    if upper_inf:
        expected.iloc[-1] = INF
    got = utils.get_bins(x, n_bins, lower_inf=lower_inf, upper_inf=upper_inf)
    assert comparable(got) == comparable(expected)


@settings(max_examples=200, deadline=None)
@given(st.lists(st.sampled_from([0.0, 1.0, -3.0, np.nan]), max_size=10))
def test_platform_bounds_are_sorted_and_walked_without_infinite_ends(bounds):
    frame = FakeFrame([], [], "x", fixed_quantiles=bounds)
    got = utils.get_bins(frame, 3, velmo=FakePlatform([]))
    assert comparable(got) == comparable(reference_walk(bounds))


class FakeFrame:
    """A one-column platform frame that records every call made on it."""

    def __init__(self, values, calls, name, fixed_quantiles=None):
        self.values, self.calls, self.name = list(values), calls, name
        self.fixed_quantiles = fixed_quantiles

    def quantile(self, prob):
        self.calls.append(("quantile", self.name, prob))
        values = self.fixed_quantiles
        if values is None:
            values = np.quantile(self.values, prob).tolist()
        return FakeQuantileFrame([prob, values], self.calls, self.name + ".q")

    def as_data_frame(self):
        self.calls.append(("as_data_frame", self.name))
        return pd.DataFrame({"quantiles": self.values, "other": 0})

    def na_omit(self):
        self.calls.append(("na_omit", self.name))
        return FakeFrame([v for v in self.values if not np.isnan(v)], self.calls, self.name + ".ok")

    def min(self):
        self.calls.append(("min", self.name))
        return min(self.values)

    def max(self):
        self.calls.append(("max", self.name))
        return max(self.values)


class FakeQuantileFrame:
    def __init__(self, columns, calls, name):
        self.columns, self.calls, self.name = columns, calls, name

    def __getitem__(self, position):
        self.calls.append(("column", self.name, position))
        return FakeFrame(self.columns[position], self.calls, "{}[{}]".format(self.name, position))


class FakePlatform:
    def __init__(self, calls):
        self.calls = calls

    def remove(self, frames):
        self.calls.append(("remove", [frame.name for frame in frames]))


def test_get_bins_platform_quantiles_make_exactly_the_listed_calls():
    calls = []
    frame = FakeFrame([0, 0, 0, 1, 1, 2], calls, "x")
    bins = utils.get_bins(frame, 5, velmo=FakePlatform(calls))
    assert calls == [
        ("quantile", "x", [0.0, 0.2, 0.4, 0.6, 0.8, 1.0]),
        ("column", "x.q", 1),
        ("as_data_frame", "x.q[1]"),
        ("remove", ["x.q[1]", "x.q"]),
    ]
    assert type(calls[0][2]) is list
    assert as_pairs(bins) == [(0, 0.0), (3, 1.0), (5, 2.0)]


def test_get_bins_platform_equal_width_omits_missing_values():
    calls = []
    frame = FakeFrame([4.0, np.nan, 0.0, 2.0], calls, "x")
    bins = utils.get_bins(frame, 2, "width", velmo=FakePlatform(calls))
    assert calls == [("na_omit", "x"), ("min", "x.ok"), ("max", "x.ok")]
    assert as_pairs(bins) == [(0, 0.0), (1, 2.0), (2, 4.0)]


def test_get_bins_docstring():
    doc = utils.get_bins.__doc__
    assert doc.startswith("Derive bins either by equal height (quantiles - default) or equal")
    for word in ("x :", "n_bins :", "bin_type :", "lower_inf :", "upper_inf :", "velmo :", "Returns"):
        assert word in doc
    assert ">>> get_bins([0, 0, 0, 1, 1, 2], 5)" in doc


def test_log_odds(caplog):
    x = [0.5, 0.0, 1.0, 0.75, 2.0]
    with caplog.at_level(logging.WARNING):
        with np.errstate(invalid="ignore"):
            result = utils.log_odds(x, utils.DEFAULT_LOGGER)
    np.testing.assert_allclose(result, [0.0, np.nan, np.nan, math.log(3), np.nan])
    assert x == [0.5, 0.0, 1.0, 0.75, 2.0] and caplog.records == []

    array = np.array([0.25, 1.0])
    utils.log_odds(array, utils.DEFAULT_LOGGER)
    assert array.tolist() == [0.25, 1.0]
    assert utils.log_odds(x=0.5, logger=utils.DEFAULT_LOGGER) == 0.0


def test_log_odds_failure_is_logged_and_gives_nan(caplog):
    with caplog.at_level(logging.WARNING):
        result = utils.log_odds([0, 1, 1], utils.DEFAULT_LOGGER)
    assert result is np.nan
    assert [r.getMessage() for r in caplog.records] == [
        "Error when computing log odds: cannot convert float NaN to integer"
    ]


def test_log_odds_lets_interruptions_through():
    class Interrupting:
        def __array__(self, *args, **kwargs):
            raise KeyboardInterrupt

    with pytest.raises(KeyboardInterrupt):
        utils.log_odds(Interrupting(), utils.DEFAULT_LOGGER)


@pytest.mark.parametrize(
    "x, expected",
    [
        ("0.85", True),
        (0.85, True),
        (3, True),
        ("1.2.3", True),
        ("\u0663.\u00b2", True),  # str.isdigit: Arabic-Indic three, superscript two
        (-0.2, False),
        ("", False),
        (".", False),
        (1e-05, False),
        (float("nan"), False),
        (float("inf"), False),
        (" 1", False),
    ],
)
def test_is_float(x, expected):
    assert utils.is_float(x) is expected


@given(st.text(alphabet=st.sampled_from("0.9\u0663\u00b2\u2155a- ")))
def test_is_float_matches_str_isdigit(text):
    assert utils.is_float(text) == text.replace(".", "").isdigit()


def performance(rows, column="Final Validation Score"):
    return pd.DataFrame({"Training": [0.0] * len(rows), column: list(rows.values())}, index=list(rows))


@pytest.mark.parametrize(
    "rows, scorer, expected",
    [
        ({"AUC": 0.85}, "GINI", 0.7),
        ({"GINI": 0.7}, "AUC", 0.85),
        ({"AUC": 0.85, "GINI": -0.1}, "GINI", 0.7),
        ({"AUC": "0.85", "GINI": "n/a"}, "GINI", 0.7),
        ({"AUC": 0.85}, "AUC", 0.85),
        ({"AUC": 0.85, "LOGLOSS": 0.3}, "LOGLOSS", 0.3),
        ({"AUC": 0.85, "LOGLOSS": -0.3}, "LOGLOSS", None),
        ({"AUC": 0.85}, "LOGLOSS", None),
        ({"AUC": "bad"}, "GINI", None),
    ],
)
def test_lookup_val_score(rows, scorer, expected):
    score = utils.lookup_val_score(performance(rows), scorer)
    if expected is None:
        assert score is None
    else:
        assert type(score) is float and score == pytest.approx(expected)


@pytest.mark.parametrize("column", ["Validation Score", "final score", "FINAL_VALIDATION_SCORE"])
def test_lookup_val_score_column_must_name_all_three_words(column):
    table = performance({"AUC": 0.85}, column)
    assert (utils.lookup_val_score(table, "AUC") is None) == (column != "FINAL_VALIDATION_SCORE")


def test_lookup_val_score_returns_none_even_when_interrupted():
    class Interrupting(pd.DataFrame):
        @property
        def columns(self):
            raise KeyboardInterrupt

    assert utils.lookup_val_score(Interrupting(), "AUC") is None


def test_score_convert_map():
    assert list(utils.score_convert_map) == ["GINI", "AUC"]
    for entry in utils.score_convert_map.values():
        assert list(entry) == ["score", "fn"]
    gini, auc = utils.score_convert_map["GINI"], utils.score_convert_map["AUC"]
    assert (gini["score"], auc["score"]) == ("AUC", "GINI")
    assert gini["fn"](0.85) == pytest.approx(0.7) and auc["fn"](0.7) == pytest.approx(0.85)
    assert gini["fn"](x=np.float64(1.0)) == 1.0 and auc["fn"](-1) == 0.0


def description(data_type, is_numeric, ticks):
    numeric = SimpleNamespace(hist_ticks=ticks)
    non_numeric = SimpleNamespace(hist_ticks=ticks)
    stats = SimpleNamespace(is_numeric=is_numeric, numeric=numeric, non_numeric=non_numeric)
    other = SimpleNamespace(name="other", data_type="real", stats=None)
    column = SimpleNamespace(name="col", data_type=data_type, stats=stats)
    return SimpleNamespace(columns=[other, column]), numeric, non_numeric


@pytest.mark.parametrize(
    "data_type, is_numeric, ticks, chosen, hist_ticks",
    [
        ("real", 1, ("1", 2, np.int64(3)), "numeric", [1.0, 2.0, 3.0]),
        ("int", True, [4], "numeric", [4.0]),
        ("enum", 0, ("a", "b"), "non_numeric", ("a", "b")),
        ("time", True, (5,), "numeric", (5,)),
    ],
)
def test_get_stats_data(data_type, is_numeric, ticks, chosen, hist_ticks):
    data, numeric, non_numeric = description(data_type, is_numeric, ticks)
    stats = utils.get_stats_data(data, col="col")
    assert stats is {"numeric": numeric, "non_numeric": non_numeric}[chosen]
    assert stats.hist_ticks == hist_ticks
    assert all(type(t) is float for t in stats.hist_ticks) == (data_type in ("int", "real"))


def test_get_stats_data_unknown_column_ends_the_search():
    data, _, _ = description("real", True, [])
    with pytest.raises(StopIteration):
        utils.get_stats_data(data, "missing")
