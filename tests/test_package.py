"""The package as a user imports it: compiled modules, stubs, the output format enum."""

import ast
import importlib
import importlib.machinery
import json
import logging
import os
import pickle
import subprocess
import sys

import pytest

from package_modules import MODULES
from velmo_brevant.base.enums import OutputType


@pytest.mark.parametrize("name", MODULES)
def test_modules_are_compiled_extensions(name):
    module = importlib.import_module(name)
    assert module.__file__.endswith(tuple(importlib.machinery.EXTENSION_SUFFIXES))


def public_names(names):
    return {name for name in names if not name.startswith("_")}


@pytest.mark.parametrize("name", MODULES)
def test_stub_lists_the_public_names_of_its_module(name):
    module = importlib.import_module(name)
    stub = os.path.splitext(module.__file__.split(".cpython")[0])[0] + ".pyi"
    tree = ast.parse(open(stub, encoding="utf-8").read())
    declared = set()
    for node in tree.body:
        if isinstance(node, (ast.FunctionDef, ast.ClassDef)):
            declared.add(node.name)
        elif isinstance(node, ast.AnnAssign):
            declared.add(node.target.id)
        elif isinstance(node, ast.Assign):
            declared.update(target.id for target in node.targets)
        elif isinstance(node, ast.ImportFrom):
            declared.update(alias.asname for alias in node.names if alias.asname)
    assert public_names(declared) == public_names(vars(module))


def test_stubs_match_the_runtime_signatures(tmp_path):
    pytest.importorskip("mypy")
    config = tmp_path / "mypy.ini"
    config.write_text("[mypy]\nignore_missing_imports = True\n")
    # Enum's own __new__, whose signature stubtest reads differently on older Pythons.
    allowlist = tmp_path / "allowlist.txt"
    allowlist.write_text(r".*\.OutputType\.__new__" + "\n")
    result = subprocess.run(
        [sys.executable, "-m", "mypy.stubtest", "--mypy-config-file", str(config),
         "--allowlist", str(allowlist), "--ignore-unused-allowlist"] + list(MODULES),
        env=dict(os.environ, MYPY_CACHE_DIR=str(tmp_path / "cache")),
        capture_output=True,
        text=True,
    )
    assert result.returncode == 0, result.stdout[-4000:]


def test_public_classes_and_their_methods_have_docstrings():
    for name in MODULES:
        module = importlib.import_module(name)
        for attr, value in vars(module).items():
            if attr.startswith("_") or not isinstance(value, type) or value.__module__ != name:
                continue
            assert value.__doc__ and value.__doc__.strip(), attr
            for method_name, method in vars(value).items():
                if method_name.startswith("_") and method_name != "__init__":
                    continue
                target = method.fget if isinstance(method, property) else getattr(method, "__func__", method)
                if callable(target) or isinstance(method, property):
                    assert (method.__doc__ or "").strip(), "%s.%s" % (attr, method_name)


def test_public_functions_have_docstrings_and_signatures():
    import inspect

    for name in MODULES:
        module = importlib.import_module(name)
        for attr, value in vars(module).items():
            if attr.startswith("_") or not callable(value) or isinstance(value, type):
                continue
            assert value.__doc__ and value.__doc__.strip(), attr
            inspect.signature(value)


def test_importing_utils_sets_root_logger_to_info_without_handlers():
    code = (
        "import logging; import velmo_brevant.utils.utils as u;"
        "r = logging.getLogger(); assert u.DEFAULT_LOGGER is r;"
        "print(r.level, len(r.handlers), 'matplotlib' in __import__('sys').modules)"
    )
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True)
    assert out.stdout.split() == [str(logging.INFO), "0", "False"]


def test_brackets_are_defined_just_before_the_logger():
    from velmo_brevant.utils import utils

    names = list(vars(utils))
    at = names.index("DEFAULT_LOGGER")
    assert names[at - 2 : at] == ["LEFT_BRACKET", "RIGHT_BRACKET"]
    assert (utils.LEFT_BRACKET, utils.RIGHT_BRACKET) == ("XXXLLLLXXX", "XXXRRRRXXX")


def test_output_type_members_are_their_text():
    assert OutputType.DOC == "docx" and OutputType.MD == "md"
    assert isinstance(OutputType.DOC, str)
    assert "a.docx".endswith(OutputType.DOC) and "a.md".endswith(OutputType.MD)
    assert "{}/{}".format(OutputType.DOC, OutputType.MD) == "docx/md"
    assert "%s" % OutputType.MD == "md"
    assert json.dumps({"t": OutputType.DOC}) == '{"t": "docx"}'
    assert pickle.loads(pickle.dumps(OutputType.MD)) is OutputType.MD


def test_separators():
    from velmo_brevant.utils import separators

    assert separators.san_sep
    assert isinstance(separators.can_t_haves, list)
    for name in ("orig_feat_prefix", "extra_prefix", "col_sep", "san_sep"):
        assert isinstance(getattr(separators, name), str)
