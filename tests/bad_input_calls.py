"""The table of bad-input calls behind test_bad_input.py, and the child
interpreter that makes them.

Every public function and class of the six modules, and every public method of
those classes, is found by walking the modules, so what is added to them later
is covered too. Each is called with every bad value in place of all its
arguments at once, and in place of one argument at a time while the others
hold ordinary values. A call may return anything or raise an Exception other
than SystemError or MemoryError whose text (and that of the errors it chains)
shows nothing of the C++ layer; it must not kill or hang the interpreter.

Run as a script (``python bad_input_calls.py WORK_DIR RESULTS START``) it makes
the calls of the callables from index START on, in a sandbox under WORK_DIR
(no network, no credentials, a ``hadoop`` that only fails), and writes one JSON
line per call to RESULTS before making it and one per problem after, so that
the parent can tell which call killed it.
"""

import faulthandler
import importlib
import inspect
import json
import os
import socket
import sys
import time

from package_modules import MODULES

# Texts that only the C++ layer or pybind11 would put into an exception.
LEAK_MARKERS = (
    "std::", "basic_string", "vector::", "_M_", "__cxx11", "bad_alloc", "bad_cast",
    "Unable to cast", "cast_error", "Unable to convert", "type_caster", "pybind11",
    "Caught an unknown exception", "what():", "PyObject", "nullptr",
)

# Calls that are slow by design, left out: (callable, description).
SLOW_BY_DESIGN = {
    # A str is an iterable of one-letter names; a million equal ones are made
    # unique by ever longer suffixes, quadratic in time and memory.
    ("utils.sanitize_string_list", "strings a huge str"),
    ("utils.sanitize_string_list", "every argument a huge str"),
    # A str is a group of one-letter file names: a missing file is logged, a
    # million times.
    ("utils.get_zipped_data", "artifact_list a huge str"),
    ("utils.get_zipped_data", "every argument a huge str"),
}

# A call that takes longer than this counts as hanging.
CALL_SECONDS = 20
# Calls slower than this are noted in the results (the table should stay fast).
SLOW_SECONDS = 0.1


class Callable:
    """One public callable: `owner.name`, called unbound for a method."""

    def __init__(self, ident, target, kind, owner=None):
        self.ident = ident
        self.target = target
        # "function", "class", "method", "static" or "property"
        self.kind = kind
        # The class of a method or property
        self.owner = owner

    def parameters(self):
        function = self.target.fget if self.kind == "property" else self.target
        if self.kind == "class":
            function = self.target.__init__
        try:
            parameters = list(inspect.signature(function).parameters.values())
        except (TypeError, ValueError):
            # No text signature: a getter or private step taking only self.
            return [inspect.Parameter("self", inspect.Parameter.POSITIONAL_OR_KEYWORD)]
        if self.kind == "class":
            parameters = parameters[1:]
        return parameters

    def call(self, args, kwargs):
        if self.kind == "property":
            return self.target.fget(*args, **kwargs)
        return self.target(*args, **kwargs)


def public_callables():
    """Every public callable of the six modules, in a fixed order."""
    found = []
    for module_name in MODULES:
        module = importlib.import_module(module_name)
        short = module_name.rsplit(".", 1)[1]
        for name in sorted(vars(module)):
            value = getattr(module, name)
            if name.startswith("_") or getattr(value, "__module__", None) != module_name:
                continue
            if inspect.isclass(value):
                found.append(Callable("%s.%s" % (short, name), value, "class"))
                found.extend(public_members(short, value))
            elif callable(value):
                found.append(Callable("%s.%s" % (short, name), value, "function"))
    return found


def public_members(short, cls):
    members = []
    for name, member in vars(cls).items():
        if name.startswith("_"):
            continue
        ident = "%s.%s.%s" % (short, cls.__name__, name)
        if isinstance(member, staticmethod):
            members.append(Callable(ident, getattr(cls, name), "static"))
        elif isinstance(member, property):
            members.append(Callable(ident, member, "property", cls))
        elif callable(member) and not isinstance(member, cls):  # enum members are instances
            members.append(Callable(ident, getattr(cls, name), "method", cls))
    return members


# The sandbox --------------------------------------------------------------------


def refuse_network(*args, **kwargs):
    raise OSError("the network is off for bad-input calls")


def enter_sandbox(work):
    """No network, no credentials, local files only, a failing hadoop."""
    socket.socket.connect = refuse_network
    socket.socket.connect_ex = refuse_network
    socket.create_connection = refuse_network
    socket.getaddrinfo = refuse_network
    bin_dir = os.path.join(work, "bin")
    home = os.path.join(work, "home")
    for directory in (bin_dir, home, os.path.join(work, "run")):
        os.makedirs(directory, exist_ok=True)
    hadoop = os.path.join(bin_dir, "hadoop")
    with open(hadoop, "w") as script:
        script.write("#!/bin/sh\necho 'hadoop is not reachable here' >&2\nexit 1\n")
    os.chmod(hadoop, 0o755)
    for name in list(os.environ):
        if name.startswith("AWS_") or name == "GITHUB_PAT":
            del os.environ[name]
    os.environ.update(
        HOME=home,
        PATH=bin_dir + os.pathsep + os.environ.get("PATH", ""),
        XDG_CACHE_HOME=os.path.join(work, "cache"),
        MPLCONFIGDIR=os.path.join(work, "mpl"),
        AWS_EC2_METADATA_DISABLED="true",
        AWS_MAX_ATTEMPTS="1",
        AWS_DEFAULT_REGION="us-east-1",
    )
    os.chdir(os.path.join(work, "run"))


class QuickConverter:
    """Stands in for the pandoc converter, which is not under test here and
    would take a good part of a second per call: a Word file with one
    paragraph, or a line of Markdown."""

    def __init__(self, work):
        import docx

        self.docx = os.path.join(work, "converted.docx")
        document = docx.Document()
        document.add_paragraph("converted")
        document.save(self.docx)

    def convert_md_to_docx(self, md_path, docx_path, reference_docx):
        with open(md_path, encoding="utf8"), open(self.docx, "rb") as source:
            data = source.read()
        with open(docx_path, "wb") as target:
            target.write(data)

    def convert_docx_to_md(self, docx_path, md_path):
        with open(docx_path, "rb"), open(md_path, "w", encoding="utf8") as target:
            target.write("converted\n")


class Values:
    """Bad values and ordinary ones, made fresh for every call."""

    def __init__(self, work):
        import docx
        import numpy as np
        import pandas as pd

        from velmo_brevant.config.config import Config
        from velmo_brevant.utils import utils

        self.section = os.path.join(work, "section.md")
        self.garbage = os.path.join(work, "garbage.docx")
        with open(self.garbage, "wb") as garbage:
            garbage.write(b"\x00\xffthis is not a Word document")
        self.config = Config(os.path.join(work, "run", "report.docx"))
        os.makedirs(self.config.images_dir, exist_ok=True)
        self.config.load_template()
        self.config.converter = QuickConverter(work)
        self.document = docx.Document()
        self.logger = utils.DEFAULT_LOGGER
        self.bad = (
            ("None", lambda: None),
            ("an int", lambda: 7),
            ("a negative int", lambda: -1),
            ("a huge int", lambda: 2 ** 70),
            ("the lowest int64", lambda: -2 ** 63),
            ("nan", lambda: float("nan")),
            ("inf", lambda: float("inf")),
            ("an empty str", lambda: ""),
            ("a huge str", lambda: "x" * (1 << 20)),
            ("a str with NUL", lambda: "a\x00b"),
            ("a lone surrogate", lambda: "\ud800"),
            ("bytes", lambda: b"bytes"),
            ("an empty list", list),
            ("an empty dict", dict),
            ("an object", object),
            ("an empty frame", pd.DataFrame),
            ("an empty array", lambda: np.empty(0)),
            ("a missing file", lambda: os.path.join(work, "missing", "report.docx")),
            ("a directory", lambda: work),
            ("a garbage file", lambda: self.garbage),
        )
        ordinary_file = self.section_file
        frame = lambda: pd.DataFrame({"a": [1.0, 2.0], "b": ["x", "y"]})
        self.ordinary = {
            "config": lambda: self.config,
            "logger": lambda: self.logger,
            "context": dict, "kwargs": dict, "image_meta_data": dict, "width_map": dict,
            "nested_dict": dict,
            "file": ordinary_file, "template": ordinary_file, "path": ordinary_file,
            "image_file": ordinary_file, "file_path": ordinary_file, "report_path": ordinary_file,
            "filename": ordinary_file, "template_path": ordinary_file,
            "progress_file": lambda: os.path.join(work, "progress.json"),
            "dirname": lambda: os.path.join(work, "artifacts"),
            "main_template_type": lambda: "md", "template_type": lambda: "md",
            "ext": lambda: "md", "type": lambda: "key",
            "tbl": frame, "performance_table": frame, "data": frame,
            "document": lambda: self.document, "doc": lambda: self.document,
            "handle_fn": lambda: str,
            "keys": lambda: ["a"], "iterable": lambda: ["a"], "strings": lambda: ["a"],
            "cmd": lambda: ["true"],
            "n_bins": lambda: 3, "top_n": lambda: 1, "seconds": lambda: 5, "byte_size": lambda: 5,
            "new_width": lambda: 10, "new_height": lambda: 10, "width": lambda: 10,
            "x": lambda: [1.0, 2.0, 3.0],
            "repo": object,
        }
        self.instances = {}

    def section_file(self):
        with open(self.section, "w") as section:
            section.write("A section {{ x }}\n")
        return self.section

    def ordinary_value(self, name):
        return self.ordinary.get(name, lambda: "x")()

    def instance(self, cls):
        """An instance made with ordinary values, or None when that fails."""
        if cls not in self.instances:
            try:
                args = [self.ordinary_value(p.name) for p in Callable("", cls, "class").parameters()
                        if p.default is p.empty and p.kind not in (p.VAR_POSITIONAL, p.VAR_KEYWORD)]
                self.instances[cls] = cls(*args)
            except Exception:
                self.instances[cls] = None
        return self.instances[cls]


def calls(target, values):
    """(description, args, kwargs) of every bad call of one callable."""
    parameters = target.parameters()
    owner = values.instance(target.owner) if target.owner else None
    positional = [p for p in parameters if p.kind in (p.POSITIONAL_ONLY, p.POSITIONAL_OR_KEYWORD)]
    variadic = [p for p in parameters if p.kind == p.VAR_KEYWORD]

    def ordinary(p):
        if p.name == "self" and target.owner:
            return owner
        return values.ordinary_value(p.name)

    required = [p for p in positional if p.default is p.empty]
    for label, make in values.bad:
        yield "every argument %s" % label, [make() for _ in required], {}
    for index, parameter in enumerate(positional):
        for label, make in values.bad:
            args = [ordinary(p) for p in positional[:index]] + [make()]
            args += [ordinary(p) for p in positional[index + 1:] if p.default is p.empty]
            yield "%s %s" % (parameter.name, label), args, {}
    for parameter in variadic:
        base = [ordinary(p) for p in required]
        for label, make in values.bad:
            yield "keyword option %s" % label, base, {"option": make()}


def problem(error):
    """What is wrong with how a call ended, or None."""
    if error is None:
        return None
    text = "%s: %s" % (type(error).__name__, error)
    if not isinstance(error, Exception):
        return "raised %s, which is no Exception" % text
    if isinstance(error, (SystemError, MemoryError)):
        return "raised " + text
    chained, seen = error, set()
    while chained is not None and id(chained) not in seen:
        seen.add(id(chained))
        shown = "%s: %s" % (type(chained).__name__, chained)
        for marker in LEAK_MARKERS:
            if marker in shown:
                return "the C++ layer shows through (%r): %s" % (marker, shown[:300])
        chained = chained.__cause__ or chained.__context__
    return None


def main(work, results_path, start):
    faulthandler.enable()
    enter_sandbox(work)
    values = Values(work)
    targets = public_callables()
    with open(results_path, "a") as results:

        def report(**fields):
            results.write(json.dumps(fields) + "\n")
            results.flush()

        for index in range(start, len(targets)):
            target = targets[index]
            for description, args, kwargs in calls(target, values):
                if (target.ident, description) in SLOW_BY_DESIGN:
                    continue
                report(index=index, ident=target.ident, call=description)
                started = time.perf_counter()
                faulthandler.dump_traceback_later(CALL_SECONDS, exit=True)
                try:
                    target.call(args, kwargs)
                    error = None
                except BaseException as caught:  # judged below: only Exception is fine
                    error = caught
                finally:
                    faulthandler.cancel_dump_traceback_later()
                seconds = time.perf_counter() - started
                if seconds > SLOW_SECONDS:
                    report(index=index, ident=target.ident, call=description, seconds=seconds)
                found = problem(error)
                if found:
                    report(index=index, ident=target.ident, call=description, problem=found)
        report(finished=True)


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2], int(sys.argv[3]))
