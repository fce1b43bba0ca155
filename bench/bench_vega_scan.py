"""Vega block scanning of a 5 MB Markdown text with 200 chart blocks.

Prints the time of parse_vega_charts against the regular-expression scan it
replaces, measured in the same run on the same text, and checks both agree.
Run: python bench/bench_vega_scan.py
"""

import json
import re
import time

from velmo_brevant.utils import page_forge

OPENER = "```vega"


def regex_scan(text):
    if OPENER not in text:
        return []
    found = []
    for piece in text[text.find(OPENER):].split(OPENER):
        found.extend(re.findall(OPENER + r"[\s\S]*" + "```", OPENER + piece))
    return found


def make_text(size=5_000_000, charts=200):
    chart = json.dumps({"mark": "bar", "data": {"values": [{"a": i, "b": i * i} for i in range(20)]}})
    prose = "Some report text with `code`, **bold** words and numbers 1,234.5.\n"
    filler = prose * ((size // charts) // len(prose))
    blocks = ["```vega\n" + chart + "\n```\n\n```python\nprint(1)\n```\n" for _ in range(charts)]
    return "".join(filler + block for block in blocks)


def best_of(function, text, repeat=5):
    times = []
    for _ in range(repeat):
        start = time.perf_counter()
        result = function(text)
        times.append(time.perf_counter() - start)
    return min(times), result


def main():
    text = make_text()
    native_time, native = best_of(page_forge.parse_vega_charts, text)
    regex_time, expected = best_of(regex_scan, text)
    assert native == expected and len(native) == 200
    print("text: %.1f MB, %d blocks" % (len(text) / 1e6, len(native)))
    print("parse_vega_charts: %.2f ms" % (native_time * 1e3))
    print("re-based scan:     %.2f ms" % (regex_time * 1e3))
    print("speed-up: %.1fx" % (regex_time / native_time))


if __name__ == "__main__":
    main()
