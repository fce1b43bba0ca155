"""Vega block scanning of a 5 MB Markdown text with 200 chart blocks.

Prints the time of parse_vega_charts against the regular-expression scan it
replaces, measured in the same run on the same text, and checks both agree.
Run: python bench/bench_vega_scan.py
"""

import json
import re

from velmo_brevant.utils import page_forge

from timing import best_of

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


def main():
    text = make_text()
    native = page_forge.parse_vega_charts(text)
    assert native == regex_scan(text) and len(native) == 200
    native_time = best_of(5, lambda: page_forge.parse_vega_charts(text))
    regex_time = best_of(5, lambda: regex_scan(text))
    print("text: %.1f MB, %d blocks" % (len(text) / 1e6, len(native)))
    print("parse_vega_charts: %.2f ms" % (native_time * 1e3))
    print("re-based scan:     %.2f ms" % (regex_time * 1e3))
    print("speed-up: %.1fx" % (regex_time / native_time))


if __name__ == "__main__":
    main()
