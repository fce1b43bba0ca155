"""Table formatting against the straightforward pandas and tabulate steps it
replaces, measured in the same run, with the outputs compared.

Run: PYTHONPATH=src python bench/bench_tables.py [markdown_rows] [word_rows]

Memory is the peak resident size reached during one call beyond the size
before it (the input frame already built), next to the size of the result.
"""

import gc
import os
import subprocess
import sys
import types

import docxtpl
import numpy as np
import pandas as pd
import tabulate

from velmo_brevant.base.enums import OutputType
from velmo_brevant.utils import utils

from timing import best_of


# ---------------------------------------------------------------- baselines


def integer_positions(frame):
    probe = frame.iloc[:0].set_axis(range(frame.shape[1]), axis=1)
    return list(probe.select_dtypes(include="int").columns)


def pandas_markdown(df, showindex=False):
    frame = df.copy()
    try:
        frame = frame.replace("_", "\\_", regex=True)
    except Exception:
        pass
    try:
        frame = frame.replace({"\n": " "}, regex=True)
    except Exception:
        pass
    frame.columns = [label.replace("_", "\\_") for label in frame.columns]
    for position in integer_positions(frame):
        frame.isetitem(position, frame.iloc[:, position].map("{:,}".format))
    return tabulate.tabulate(
        frame, headers="keys", showindex=showindex, tablefmt="pipe", floatfmt=",.3f"
    )


def pandas_docx(df, showindex=False):
    frame = df.copy()
    for position in integer_positions(frame):
        frame.isetitem(position, frame.iloc[:, position].map("{:,}".format))
    frame = np.round(frame, 4)
    labels = df.columns
    if showindex:
        frame = frame.reset_index()
        labels = [""] + list(df.columns)
    rows = frame.astype(object).values.tolist()
    return {"col_labels": labels, "tbl_contents": [{"cols": row} for row in rows]}


def pandas_float_format(df, pattern):
    frame = df.copy()
    for position in range(frame.shape[1]):
        try:
            formatted = frame.iloc[:, position].apply(lambda x: pattern.format(float(x)))
        except (ValueError, TypeError):
            continue
        frame.isetitem(position, formatted)
    return frame


def pandas_format_table(df, config, pattern):
    frame = pandas_float_format(df, pattern)
    return utils.encode_to_template(pandas_docx(frame), config, type="table")


# ---------------------------------------------------------------- inputs


def mixed_frame(rows):
    rng = np.random.default_rng(0)
    return pd.DataFrame(
        {
            "count_a": rng.integers(-(10**6), 10**6, rows),
            "score": rng.normal(size=rows) * 1000,
            "feature_name": ["feature_%d" % i for i in range(rows)],
            "flag": rng.random(rows) > 0.5,
            "share": rng.random(rows),
            "level": rng.choice(["low", "mid high", "n/a", None], rows),
            "count_b": rng.integers(0, 100, rows),
            "gain": np.where(rng.random(rows) < 0.05, np.nan, rng.normal(size=rows)),
            "group": rng.choice(["x", "y_z"], rows),
            "amount": rng.random(rows) * 1e6,
        }
    )


def numeric_frame(rows):
    rng = np.random.default_rng(1)
    columns = {}
    for k in range(5):
        columns["n%d" % k] = rng.integers(-(10**7), 10**7, rows)
        columns["x%d" % k] = rng.normal(size=rows) * 10.0 ** (k - 1)
    return pd.DataFrame(columns)


def word_config():
    template = docxtpl.DocxTemplate(utils.get_default_template_path())
    return types.SimpleNamespace(
        main_template_type=OutputType.DOC,
        sub_template_type=OutputType.DOC,
        current_template_types=[OutputType.DOC],
        template=template,
        runtime={"context": {}},
        tables_dir=os.path.join(os.sep, "nonexistent", "tables"),
    )


# ---------------------------------------------------------------- memory


def resident_kib(field):
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith(field):
                return int(line.split()[1])
    raise RuntimeError(field)


def deep_size(value, seen=None):
    seen = set() if seen is None else seen
    if id(value) in seen:
        return 0
    seen.add(id(value))
    size = sys.getsizeof(value)
    if isinstance(value, dict):
        size += sum(deep_size(k, seen) + deep_size(v, seen) for k, v in value.items())
    elif isinstance(value, (list, tuple)):
        size += sum(deep_size(item, seen) for item in value)
    return size


def memory_child(kind, rows):
    """Run in a fresh interpreter: peak growth of one call against its result."""
    frame = mixed_frame(rows) if kind == "markdown" else numeric_frame(rows)
    call = {
        "markdown": lambda: utils.markdown_table(frame),
        "docx": lambda: utils.docx_table(frame),
        "format": lambda: utils.format_table(frame, word_config(), float_format="{:6.4g}"),
    }[kind]
    call()  # imports and first-use caches settle
    gc.collect()
    before = resident_kib("VmRSS:")
    with open("/proc/self/clear_refs", "w") as refs:
        refs.write("5")  # reset the peak resident size
    result = call()
    peak = resident_kib("VmHWM:") - before
    if kind == "format":
        result = {"col_labels": result.col_labels, "tbl_contents": result.tbl_contents}
    size = deep_size(result) // 1024
    print("{} {} {}".format(peak, size, peak / max(size, 1)))


def memory(kind, rows):
    code = "import bench_tables as b; b.memory_child({!r}, {})".format(kind, rows)
    env = dict(os.environ, PYTHONPATH=os.pathsep.join([os.path.dirname(__file__)] + sys.path))
    out = subprocess.run(
        [sys.executable, "-c", code], env=env, capture_output=True, text=True, check=True
    )
    peak, size, ratio = out.stdout.split()
    return int(peak), int(size), float(ratio)


def report_memory(kind, rows):
    peak, size, ratio = memory(kind, rows)
    print(
        "  memory: peak growth {:,} KiB for a result of {:,} KiB, {:.2f} times "
        "(target <= 2)".format(peak, size, ratio)
    )


# ---------------------------------------------------------------- main


def main():
    markdown_rows = int(sys.argv[1]) if len(sys.argv) > 1 else 10_000
    word_rows = int(sys.argv[2]) if len(sys.argv) > 2 else 100_000

    frame = mixed_frame(markdown_rows)
    assert utils.markdown_table(frame) == pandas_markdown(frame)
    assert utils.markdown_table(frame, True) == pandas_markdown(frame, True)
    native = best_of(5, lambda: utils.markdown_table(frame))
    baseline = best_of(2, lambda: pandas_markdown(frame))
    print(
        "markdown_table, {:,} rows x 10 mixed columns: {:.4f} s, pandas + tabulate {:.3f} s, "
        "speed-up {:.1f}x (target >= 20)".format(markdown_rows, native, baseline, baseline / native)
    )
    report_memory("markdown", markdown_rows)

    numbers = numeric_frame(word_rows)
    assert utils.docx_table(numbers) == pandas_docx(numbers)
    native = best_of(5, lambda: utils.docx_table(numbers))
    baseline = best_of(3, lambda: pandas_docx(numbers))
    print(
        "docx_table, {:,} rows x 10 numeric columns: {:.3f} s, pandas {:.3f} s, "
        "speed-up {:.1f}x (target >= 3)".format(word_rows, native, baseline, baseline / native)
    )
    report_memory("docx", word_rows)

    config = word_config()

    def ours():
        config.runtime["context"] = {}  # parked tables of earlier runs would burden the collector
        return utils.format_table(numbers, config, float_format="{:6.4g}")

    def theirs():
        config.runtime["context"] = {}
        return pandas_format_table(numbers, config, "{:6.4g}")

    mine, reference = ours(), theirs()
    assert mine.tbl_contents == reference.tbl_contents
    assert list(mine.col_labels) == list(reference.col_labels)
    native = best_of(5, ours)
    baseline = best_of(3, theirs)
    print(
        "format_table '{{:6.4g}}' to a Word table, {:,} rows x 10 numeric columns: {:.3f} s, "
        "pandas {:.3f} s, speed-up {:.1f}x (target >= 3)".format(
            word_rows, native, baseline, baseline / native
        )
    )
    report_memory("format", word_rows)


if __name__ == "__main__":
    main()
