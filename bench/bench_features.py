"""Name cleaning against the Python algorithms it replaces, measured in the same run.

Run: PYTHONPATH=src python bench/bench_features.py
"""

import logging
import random
import re

from velmo_brevant.utils import separators, utils

from timing import timed


def sanitize_by_rescanning(strings, logger):
    """The list-rescanning algorithm: each name is looked for in the whole result so far."""
    ret = []
    for x in strings:
        assert x is not None, "can't sanitize None"
        x = str(x)
        orig = x
        specials = separators.can_t_haves + [
            separators.orig_feat_prefix,
            separators.extra_prefix,
            separators.col_sep,
        ]
        for special in specials:
            x = x.replace(special, separators.san_sep)
        while x in ret:
            x += separators.san_sep
        if x != orig:
            logger.info("Sanitized: " + orig + " -> " + x)
        ret.append(x)
    return ret


def feature_names(count, rng):
    """count names, 20% of which sanitise to a name already in the list."""
    names = []
    for i in range(count):
        if i % 5 == 4:
            taken = names[rng.randrange(len(names))]
            names.append(taken.replace("_", ".", 1) if "_" in taken else taken + ".")
        else:
            names.append(rng.choice(["orig__", "extra__", "", ""]) + "feature_{}||bin".format(i))
    return names


def bench_sanitize(logger):
    rng = random.Random(11)
    names = feature_names(20_000, rng)
    native, result = timed(utils.sanitize_string_list, names, logger)
    python, expected = timed(sanitize_by_rescanning, names, logger)
    assert result == expected
    print("sanitize_string_list, 20,000 names: {:.3f} s, rescanning Python {:.3f} s, "
          "speed-up {:.0f}x (identical results)".format(native, python, python / native))
    small_names, large_names = feature_names(50_000, rng), feature_names(200_000, rng)
    for level, logged in ((logging.INFO, "every change logged"), (logging.WARNING, "not logged")):
        logger.setLevel(level)
        small, _ = timed(utils.sanitize_string_list, small_names, logger)
        large, _ = timed(utils.sanitize_string_list, large_names, logger)
        print("sanitize_string_list, 50,000 -> 200,000 names ({}): {:.3f} s -> {:.3f} s, growth "
              "{:.2f}x for 4x the names (linear 4, quadratic 16)".format(
                  logged, small, large, large / small))


def strip_with_re(x):
    x = re.sub(r"[^\w\s]", "_", x)
    x = x.strip()
    x = re.sub(r"\s+", "_", x)
    return x


def bench_custom_strip():
    rng = random.Random(5)
    words = ["Age", "(years)", "income", "\u00e9t\u00e9", "Stra\u00dfe", "\u6570\u91cf", "x-y",
             "%", "rate.1", "\u0663\u0664", " ", "\t"]
    names = [" ".join(rng.choice(words) for _ in range(rng.randint(1, 4)))
             for _ in range(1_000_000)]
    ascii_share = sum(name.isascii() for name in names) / len(names)
    python, expected = timed(lambda: [strip_with_re(name) for name in names])
    strip = utils.custom_strip
    native, result = timed(lambda: [strip(name) for name in names])
    assert result == expected
    print("custom_strip, 1,000,000 names ({:.0%} ASCII): {:.3f} s, three re calls {:.3f} s, "
          "speed-up {:.1f}x (target >= 5, identical results)".format(
              ascii_share, native, python, python / native))


def main():
    logger = logging.getLogger("bench_features")
    logger.addHandler(logging.NullHandler())
    logger.propagate = False
    logger.setLevel(logging.INFO)
    bench_sanitize(logger)
    bench_custom_strip()


if __name__ == "__main__":
    main()
