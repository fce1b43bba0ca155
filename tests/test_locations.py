"""Packaged templates, fresh names and artifact directory names."""

import os
import re
import uuid

import pytest

from velmo_brevant.utils import utils

HEX32 = r"[0-9a-f]{32}"


def test_default_templates_exist_in_the_package():
    docx = utils.get_default_template_path()
    assert os.path.isabs(docx) and docx.endswith("report_template_VELMO3.docx")
    assert os.path.isfile(docx)
    assert utils.get_default_template_path("md").endswith("report_template_VELMO3.md")
    assert utils.get_default_template_path(ext="docx") == docx
    assert utils.get_default_template_path("DOCX") is None
    assert utils.get_default_template_path(None) is None


def test_templates_are_found_relative_to_the_module_file():
    module_dir = os.path.dirname(os.path.abspath(utils.__file__))
    expected = os.path.realpath(os.path.join(module_dir, "..", "templates", "templates"))
    assert os.path.dirname(utils.get_default_template_path()) == expected
    assert utils.get_template_sections_path() == os.path.join(expected, "sections")
    assert utils.get_default_template_section_path() == utils.get_template_sections_path()
    assert os.path.isdir(utils.get_template_sections_path())


def test_get_template_path_absolute_and_symlinked(tmp_path):
    target = tmp_path / "real.docx"
    target.write_text("x")
    link = tmp_path / "link.docx"
    link.symlink_to(target)
    assert utils.get_template_path(str(target)) == str(target)
    assert utils.get_template_path(template_path=str(link)) == os.path.realpath(target)


@pytest.mark.parametrize("name", ["sections", "missing.docx", "../templates"])
def test_get_template_path_not_a_file(name):
    with pytest.raises(Exception) as raised:
        utils.get_template_path(name)
    assert type(raised.value) is Exception
    real = os.path.realpath(os.path.join(os.path.dirname(utils.get_default_template_path()), name))
    assert str(raised.value) == "File not found " + real


def test_get_unseen_key_form_and_retry(monkeypatch):
    assert re.fullmatch("b" + HEX32 + r"\.png", utils.get_unseen_key([], "b", ".png"))
    assert re.fullmatch("b" + HEX32, utils.get_unseen_key(keys=set(), base_str="b"))

    drawn = [uuid.UUID(int=1, version=4), uuid.UUID(int=1, version=4), uuid.UUID(int=2, version=4)]
    monkeypatch.setattr(uuid, "uuid4", lambda: drawn.pop(0))
    taken = {"k" + uuid.UUID(int=1, version=4).hex}
    assert utils.get_unseen_key(taken, "k") == "k" + uuid.UUID(int=2, version=4).hex


def test_artifact_directory_paths_names_but_creates_nothing(tmp_path):
    first = utils.artifact_directory_paths(str(tmp_path))
    second = utils.artifact_directory_paths(dirname=str(tmp_path))
    for images, tables in (first, second):
        assert os.path.dirname(images) == str(tmp_path)
        assert re.fullmatch("images_key_" + HEX32, os.path.basename(images))
        assert re.fullmatch("tables_key_" + HEX32, os.path.basename(tables))
        assert uuid.UUID(os.path.basename(images)[-32:]).version == 4
    assert first != second
    assert os.listdir(tmp_path) == []


def test_artifact_directory_paths_keeps_relative_paths(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    images, tables = utils.artifact_directory_paths(".")
    assert images.startswith("./images_key_") and tables.startswith("./tables_key_")


@pytest.mark.parametrize("bad", [None, 1, b".", __import__("pathlib").Path(".")])
def test_artifact_directory_paths_takes_str_only(bad):
    with pytest.raises(TypeError):
        utils.artifact_directory_paths(bad)


def test_artifact_directory_paths_missing_directory(tmp_path):
    with pytest.raises(FileNotFoundError):
        utils.artifact_directory_paths(str(tmp_path / "nope"))
