"""Bad input everywhere: every public function, class and method of the six
modules, called with wrong types and absurd values (see bad_input_calls.py),
returns or raises a clear Python exception, and never kills the interpreter.

The calls run in child interpreters, so a crash fails the callable that caused
it; the next child carries on with the callable after it."""

import json
import os
import subprocess
import sys

import pytest

import bad_input_calls

CALLABLES = [target.ident for target in bad_input_calls.public_callables()]


def run_children(work):
    """{callable: [problem, ...]} for every callable of the table."""
    results = os.path.join(work, "results.jsonl")
    problems = {ident: [] for ident in CALLABLES}
    start = 0
    while start < len(CALLABLES):
        stderr_path = os.path.join(work, "stderr-%d.txt" % start)
        with open(stderr_path, "w") as stderr:
            child = subprocess.run(
                [sys.executable, bad_input_calls.__file__, work, results, str(start)],
                stdout=subprocess.DEVNULL, stderr=stderr,
                env=dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path)),
            )
        with open(results) as lines:
            records = [json.loads(line) for line in lines]
        if records and records[-1].get("finished"):
            break
        last = next((r for r in reversed(records) if "call" in r and len(r) == 3), None)
        with open(stderr_path) as stderr:
            tail = stderr.read()[-3000:]
        if last is None or last["index"] < start:
            pytest.fail("the bad-input child failed before its first call (exit %d):\n%s"
                        % (child.returncode, tail))
        problems[last["ident"]].append(
            "the interpreter died, or hung for %d s, (exit %d) on the call with %s:\n%s"
            % (bad_input_calls.CALL_SECONDS, child.returncode, last["call"], tail))
        start = last["index"] + 1
    for record in records:
        if "problem" in record:
            problems[record["ident"]].append("%s: %s" % (record["call"], record["problem"]))
    return problems


@pytest.fixture(scope="module")
def problems(tmp_path_factory):
    work = tmp_path_factory.mktemp("bad_input")
    return run_children(str(work))


@pytest.mark.parametrize("ident", CALLABLES)
def test_bad_input_gives_a_clear_error(problems, ident):
    assert problems[ident] == []
