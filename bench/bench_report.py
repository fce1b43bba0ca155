"""Where the sample report's time goes, and whether repeated reports leak.

    python bench/bench_report.py            # time breakdown, both formats
    python bench/bench_report.py --leaks 50 # resident memory and temporary files over 50 reports

The breakdown times the library calls a report is made of (docxtpl renders and
sub-documents, pandoc conversions, the chart export, Jinja2, tabulate, the Word
and zip saves) and the sample driver's own work (data, model, plot) by wrapping
their entry points; the outermost wrapped call counts, so nested calls are not
counted twice. What is left of the wall time is this package's own code (an
upper bound: it also holds the library calls that are not wrapped, such as the
pandas steps inside the table functions).
"""

import argparse
import collections
import functools
import gc
import os
import sys
import tempfile
import time

LIBRARY_CALLS = collections.OrderedDict()
_depth = [0]


def wrap(owner, name, label):
    original = getattr(owner, name)

    @functools.wraps(original)
    def timed(*args, **kwargs):
        if _depth[0]:
            return original(*args, **kwargs)
        _depth[0] += 1
        start = time.perf_counter()
        try:
            return original(*args, **kwargs)
        finally:
            LIBRARY_CALLS[label] = LIBRARY_CALLS.get(label, 0.0) + time.perf_counter() - start
            _depth[0] -= 1

    setattr(owner, name, staticmethod(timed) if isinstance(owner.__dict__.get(name), staticmethod) else timed)


def instrument():
    import zipfile

    import docxtpl
    import docxtpl.subdoc
    import jinja2
    import matplotlib.figure
    import tabulate
    import vl_convert

    from velmo_brevant.utils import converter

    wrap(docxtpl.DocxTemplate, "render", "docxtpl render")
    wrap(docxtpl.DocxTemplate, "save", "python-docx save")
    wrap(docxtpl.DocxTemplate, "__init__", "docxtpl load")
    wrap(docxtpl.DocxTemplate, "init_docx", "docxtpl load")
    wrap(docxtpl.subdoc.Subdoc, "__init__", "docxtpl sub-documents")
    wrap(converter.PandocExecutor, "_run", "pandoc")
    wrap(vl_convert, "vegalite_to_png", "chart export")
    wrap(vl_convert, "vega_to_png", "chart export")
    wrap(matplotlib.figure.Figure, "savefig", "matplotlib")
    wrap(zipfile.ZipFile, "writestr", "zip writing")
    wrap(jinja2.Environment, "get_template", "jinja2")
    wrap(jinja2.Template, "render", "jinja2")
    wrap(tabulate, "tabulate", "tabulate")
    from velmo_brevant import demo

    # The sample driver's own work: data, model, plot and chart data.
    for name in ("train_sample_model", "importance_plot", "data_summary_table", "response_rates", "roc_chart"):
        wrap(demo, name, "sample driver (model, data, plot)")


def one_report(directory, fmt):
    from velmo_brevant.demo import generate_sample_report

    return generate_sample_report(os.path.join(directory, "report." + fmt))


def breakdown(rounds):
    instrument()
    with tempfile.TemporaryDirectory() as directory:
        one_report(directory, "docx")  # imports, caches and the chart renderer's start-up
        for fmt in ("docx", "md"):
            totals = collections.Counter()
            wall = 0.0
            for _ in range(rounds):
                LIBRARY_CALLS.clear()
                start = time.perf_counter()
                os.remove(one_report(directory, fmt))
                wall += time.perf_counter() - start
                totals.update(LIBRARY_CALLS)
            library = sum(totals.values())
            print("\n%s report, mean of %d: %.3f s" % (fmt, rounds, wall / rounds))
            for label, seconds in totals.most_common():
                print("  %-34s %7.3f s  %5.1f%%" % (label, seconds / rounds, 100 * seconds / wall))
            own = wall - library
            print("  %-34s %7.3f s  %5.1f%%" % ("velmo_brevant's own code", own / rounds, 100 * own / wall))


def resident_mb():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE") / 2**20


def leaks(runs):
    temporary = tempfile.gettempdir()
    before = set(os.listdir(temporary))
    with tempfile.TemporaryDirectory() as directory:
        os.environ.setdefault("XDG_CACHE_HOME", os.path.join(directory, "cache"))
        resident = []
        for run in range(runs):
            for fmt in ("docx", "md"):
                os.remove(one_report(directory, fmt))
            gc.collect()
            resident.append(resident_mb())
            print("run %2d: %.1f MB resident" % (run + 1, resident[-1]), flush=True)
        left = sorted(set(os.listdir(directory)) - {"cache"})
    new_temporaries = sorted(set(os.listdir(temporary)) - before)
    growth = resident[-1] / resident[min(2, runs - 1)] - 1
    print("resident memory after run 3: %.1f MB, after run %d: %.1f MB, growth %.1f%% (limit 10%%)"
          % (resident[min(2, runs - 1)], runs, resident[-1], 100 * growth))
    print("files left in the report directory: %s" % (left or "none"))
    print("new entries in %s: %s" % (temporary, new_temporaries or "none"))
    return growth <= 0.10 and not left and not new_temporaries


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--leaks", type=int, metavar="RUNS", help="run the leak check over RUNS reports of each format")
    parser.add_argument("--rounds", type=int, default=3, help="reports per format in the breakdown")
    arguments = parser.parse_args()
    if arguments.leaks:
        sys.exit(0 if leaks(arguments.leaks) else 1)
    breakdown(arguments.rounds)


if __name__ == "__main__":
    main()
