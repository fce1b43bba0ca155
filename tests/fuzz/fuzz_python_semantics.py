"""Differential fuzzing through the Python API: the native functions against
the plain Python expressions they replace, on any Unicode text (lone
surrogates included) and any numbers.

Run by run_fuzzers.sh (target python_semantics) with the developer build on
PYTHONPATH; a mismatch raises AssertionError with both sides.
"""

import logging
import math
import re
import sys

import atheris

import numpy as np
import pandas as pd

from velmo_brevant.utils import page_forge, utils
from velmo_brevant.utils import separators
from velmo_brevant.utils.repo_courier import RepoCourier

logging.disable(logging.CRITICAL)

# The native side has no coverage counters: the references' own branches guide
# the search (@atheris.instrument_func).

VEGA_OPENER = "```vega"
FENCE = "```"


@atheris.instrument_func
def expected_custom_strip(x):
    x = re.sub(r"[^\w\s]", "_", x)
    x = x.strip()
    return re.sub(r"\s+", "_", x)


@atheris.instrument_func
def expected_vega_charts(text):
    if VEGA_OPENER not in text:
        return []
    charts = []
    for piece in text[text.index(VEGA_OPENER):].split(VEGA_OPENER)[1:]:
        charts += re.findall(re.escape(VEGA_OPENER) + r"[\s\S]*" + FENCE, VEGA_OPENER + piece)
    return charts


@atheris.instrument_func
def expected_sanitized(strings):
    ret = []
    for x in strings:
        x = str(x)
        for special in separators.can_t_haves + [separators.orig_feat_prefix,
                                                  separators.extra_prefix, separators.col_sep]:
            x = x.replace(special, separators.san_sep)
        while x in ret:
            x += separators.san_sep
        ret.append(x)
    return ret


@atheris.instrument_func
def expected_is_float(x):
    text = str(x).replace(".", "")
    return len(text) > 0 and text.isdigit()


@atheris.instrument_func
def expected_bins(x, n_bins, quantile, lower_inf, upper_inf):
    n_bins = max(n_bins, 1)
    if quantile:
        bounds = np.quantile(x, np.linspace(0, n_bins, n_bins + 1) / n_bins)
    else:
        bounds = np.linspace(min(x), max(x), n_bins + 1)
    series = pd.Series(np.sort(bounds))
    marked, previous = [], None
    for label, value in series.items():
        if previous is not None and value <= series[previous] and len(marked) < len(series) - 2:
            marked.append(label)
        previous = label
    series = series.drop(marked)
    if lower_inf:
        series.iloc[0] = -float("inf")
    if upper_inf:
        series.iloc[-1] = float("inf")
    return series


@atheris.instrument_func
def same(got, expected, what, *inputs):
    if got != expected:
        raise AssertionError("%s%r: got %r, expected %r" % (what, inputs, got, expected))


@atheris.instrument_func
def check_texts(fdp):
    text = fdp.ConsumeUnicode(fdp.ConsumeIntInRange(0, 200))
    same(utils.custom_strip(text), expected_custom_strip(text), "custom_strip", text)
    same(page_forge.parse_vega_charts(text), expected_vega_charts(text), "parse_vega_charts", text)
    same(utils.is_float(text), expected_is_float(text), "is_float", text)
    old = fdp.ConsumeUnicode(2)
    new = fdp.ConsumeUnicode(2)
    same(utils.rename_col(text, old, new), text.replace(old, new, 1) if old in text else text,
         "rename_col", text, old, new)
    pieces = text.split("/")
    if len(pieces) >= 5:
        same(RepoCourier.get_repo_name(text), pieces[3] + "/" + pieces[4], "get_repo_name", text)


@atheris.instrument_func
def check_names(fdp):
    strings = [fdp.ConsumeUnicode(fdp.ConsumeIntInRange(0, 6))
               for _ in range(fdp.ConsumeIntInRange(0, 30))]
    same(utils.sanitize_string_list(strings, utils.DEFAULT_LOGGER), expected_sanitized(strings),
         "sanitize_string_list", strings)


@atheris.instrument_func
def check_numbers(fdp):
    x = [fdp.ConsumeRegularFloat() if fdp.ConsumeBool() else float(fdp.ConsumeIntInRange(-3, 3))
         for _ in range(fdp.ConsumeIntInRange(1, 12))]
    n_bins = fdp.ConsumeIntInRange(-1, 12)
    quantile, lower_inf, upper_inf = fdp.ConsumeBool(), fdp.ConsumeBool(), fdp.ConsumeBool()
    bin_type = "quantile" if quantile else "width"
    with np.errstate(all="ignore"):
        try:
            expected = expected_bins(x, n_bins, quantile, lower_inf, upper_inf)
        except Exception as error:  # the same error must come out
            expected = error
        try:
            got = utils.get_bins(x, n_bins, bin_type, lower_inf, upper_inf)
        except Exception as error:
            got = error
    if isinstance(expected, Exception) or isinstance(got, Exception):
        same(type(got), type(expected), "get_bins error", x, n_bins, bin_type)
    else:
        same(list(got.index), list(expected.index), "get_bins labels", x, n_bins, bin_type,
             lower_inf, upper_inf)
        same(np.array_equal(got.to_numpy(), expected.to_numpy(), equal_nan=True), True,
             "get_bins values %r vs %r" % (got.tolist(), expected.tolist()), x, n_bins, bin_type,
             lower_inf, upper_inf)
    # The whole range of timedelta.
    seconds = fdp.ConsumeIntInRange(-86399999913600, 86399999999999)
    same(utils.format_time(seconds)["formatted_time"], expected_sentence(seconds), "format_time",
         seconds)
    value = fdp.ConsumeRegularFloat()
    if math.isfinite(value) and value != 0:
        same(utils.format_size(abs(value) + 1), expected_size(abs(value) + 1), "format_size",
             abs(value) + 1)


@atheris.instrument_func
def expected_sentence(seconds):
    if seconds == 0:
        return "0 milliseconds"
    days, rest = seconds // 86400, seconds % 86400
    hours, rest = rest // 3600, rest % 3600
    minutes, rest = rest // 60, rest % 60
    if days > 0:
        return "%d days and %d hours" % (days, hours)
    if hours > 0:
        return "%d hours and %d minutes" % (hours, minutes)
    if minutes > 0:
        return "%d minutes and %d seconds" % (minutes, rest)
    return "%d seconds" % rest


@atheris.instrument_func
def expected_size(byte_size):
    units = ["B", "KiB", "MiB", "GiB", "TiB", "PiB"]
    power = min(int(np.floor(np.log(byte_size) / np.log(1024))), 5)
    return "{:3.01f} {}".format(byte_size / 1024 ** power, units[power])


def test_one_input(data):
    fdp = atheris.FuzzedDataProvider(data)
    (check_texts, check_names, check_numbers)[fdp.ConsumeIntInRange(0, 2)](fdp)


if __name__ == "__main__":
    atheris.Setup(sys.argv, test_one_input)
    atheris.Fuzz()
