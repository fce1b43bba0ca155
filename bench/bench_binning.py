"""get_bins against the NumPy work it is built on, measured in the same run.

Run: PYTHONPATH=src python bench/bench_binning.py [size]
"""

import sys

import numpy as np

from velmo_brevant.utils import utils

from timing import best_of


def main():
    size = int(sys.argv[1]) if len(sys.argv) > 1 else 10_000_000
    n_bins = 10
    x = np.random.default_rng(7).normal(size=size)
    probabilities = np.linspace(0, n_bins, n_bins + 1) / n_bins

    quantile = best_of(5, lambda: np.quantile(x, probabilities))
    bins = best_of(5, lambda: utils.get_bins(x, n_bins))
    print("get_bins quantile, {:,} floats: {:.3f} s, np.quantile alone {:.3f} s, ratio {:.3f} "
          "(target <= 1.2)".format(size, bins, quantile, bins / quantile))

    width_python = best_of(1, lambda: np.linspace(min(x), max(x), n_bins + 1))
    width = best_of(3, lambda: utils.get_bins(x, n_bins, "width"))
    print("get_bins width, {:,} floats: {:.3f} s, builtin min/max + np.linspace {:.3f} s, "
          "speed-up {:.1f}x".format(size, width, width_python, width_python / width))


if __name__ == "__main__":
    main()
