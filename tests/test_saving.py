"""Saving the rendered report: Word file, archive, standard output, HDFS copy."""

import io
import logging
import os
import subprocess
import sys
import zipfile
from types import SimpleNamespace

import docx
import pytest

from velmo_brevant.base.enums import OutputType
from velmo_brevant.utils import utils

MARKDOWN = "# Model report\n\nAUC 0.91 — ünïcode\n"


@pytest.fixture
def table_renders(monkeypatch):
    """Records the calls of render_images_and_tables, seen through the module at call time."""
    calls = []

    def record(config):
        calls.append(config)

    monkeypatch.setattr(utils, "render_images_and_tables", record, raising=False)
    return calls


def docx_text(data):
    return [p.text for p in docx.Document(io.BytesIO(data)).paragraphs]


def make_artifacts(config):
    os.mkdir(config.images_dir)
    os.mkdir(config.tables_dir)
    with open(os.path.join(config.images_dir, "roc.png"), "wb") as f:
        f.write(b"\x89PNG roc")
    with open(os.path.join(config.tables_dir, "scores.csv"), "w") as f:
        f.write("a,b\n1,2\n")


def image_member(config):
    return os.path.basename(config.images_dir) + "/roc.png"


def table_member(config):
    return os.path.basename(config.tables_dir) + "/scores.csv"


# (main type, export_artifacts, with an output path) -> the members of the archive, or
# None when the Word file itself is written.
OUTCOMES = [
    (OutputType.DOC, False, True, None),
    (OutputType.DOC, False, False, None),
    (OutputType.DOC, True, True, ["report.docx", "images", "tables"]),
    (OutputType.DOC, True, False, ["report.docx", "images", "tables"]),
    (OutputType.MD, False, True, ["report.md", "images"]),
    (OutputType.MD, True, True, ["report.md", "images", "tables"]),
    (OutputType.MD, False, False, ["report.md", "images"]),
    (OutputType.MD, True, False, ["report.md", "images", "tables"]),
]


@pytest.mark.parametrize("main_type, artifacts, with_path, members", OUTCOMES)
def test_outcome_table(
    tmp_path, capsysbinary, output_config, word_template, table_renders, logger,
    main_type, artifacts, with_path, members,
):
    output_path = str(tmp_path / ("report." + main_type.value)) if with_path else None
    template = word_template() if main_type == OutputType.DOC else None
    config = output_config(output_path, main_type, export_artifacts=artifacts, template=template)
    if main_type == OutputType.MD:
        del config.template  # a Markdown save never reads it
    if not with_path:
        del config.use_hdfs  # not read without an output path
    make_artifacts(config)

    result = utils.save_rendered_template(config, MARKDOWN, logger)

    out = capsysbinary.readouterr().out
    assert table_renders == ([config] if main_type == OutputType.DOC else [])
    if members is None:  # the Word file itself
        if with_path:
            assert result == output_path and out == b""
            data = open(output_path, "rb").read()
        else:
            assert result is sys.stdout.buffer
            data = out
        assert docx_text(data) == ["Model report alpha"]
        files = sorted(n for n in os.listdir(tmp_path) if os.path.isfile(tmp_path / n))
        assert files == (["main_template.docx", "report.docx"] if with_path
                         else ["main_template.docx"])
        return
    if with_path:
        assert result == str(tmp_path / "report.zip") and out == b""
        data = open(result, "rb").read()
    else:
        assert result is None
        assert not any(name.endswith(".zip") for name in os.listdir(tmp_path))
        data = out
    archive = zipfile.ZipFile(io.BytesIO(data))
    expected = {"report.docx": "report.docx", "report.md": "report.md",
                "images": image_member(config), "tables": table_member(config)}
    assert archive.namelist() == [expected[m] for m in members]
    report = archive.read(members[0])
    if main_type == OutputType.MD:
        assert report == MARKDOWN.encode("utf-8")
    else:
        assert docx_text(report) == ["Model report alpha"]


def test_word_tables_and_images_are_put_in_place_before_saving(
    tmp_path, output_config, word_template, monkeypatch, logger
):
    config = output_config(str(tmp_path / "out.docx"), template=word_template())
    seen = []

    def render(cfg):
        seen.append(os.path.exists(cfg.output_path))
        cfg.template.render({"name": "beta"})

    monkeypatch.setattr(utils, "render_images_and_tables", render, raising=False)
    utils.save_rendered_template(config, None, logger)
    assert seen == [False]
    assert docx_text(open(config.output_path, "rb").read()) == ["Model report beta"]


@pytest.mark.parametrize("artifacts", [False, True])
def test_word_report_with_a_parked_table(tmp_path, output_config, word_template, logger,
                                         artifacts):
    config = output_config(str(tmp_path / "out.docx"), export_artifacts=artifacts)
    config.template = word_template("Scores {{ scores }}")
    config.current_template_types.append(OutputType.MD)  # while a Markdown section renders
    table = utils.encode_to_template(
        {"col_labels": ["name", "auc"], "tbl_contents": [{"cols": ["gbm", "0.91"]}]}, config,
        type="table")
    config.current_template_types.pop()
    config.template.render({"scores": table.paragraphs[0].text})

    result = utils.save_rendered_template(config, None, logger)

    if artifacts:
        assert result == str(tmp_path / "out.zip")
        data = zipfile.ZipFile(result).read("out.docx")
    else:
        assert result == config.output_path
        data = open(result, "rb").read()
    tables = docx.Document(io.BytesIO(data)).tables
    assert [[c.text for c in row.cells] for row in tables[0].rows] == [["name", "auc"],
                                                                        ["gbm", "0.91"]]


STDOUT_SCRIPT = """
import docxtpl
from velmo_brevant.config.config import Config
from velmo_brevant.utils import utils
template = docxtpl.DocxTemplate({template!r})
template.render({{"name": "gamma"}})
config = Config(None, main_template_type={main_type!r})
config.template = template
print("text first")
utils.save_rendered_template(config, "# md", utils.DEFAULT_LOGGER)
"""


@pytest.mark.parametrize("main_type", ["docx", "md"])
def test_standard_output_redirected_to_a_file_holds_the_report(
    tmp_path, word_template, main_type
):
    template = word_template()
    target = tmp_path / "delivered"
    script = STDOUT_SCRIPT.format(template=template.template_file, main_type=main_type)
    with open(target, "wb") as out:
        subprocess.run([sys.executable, "-c", script], stdout=out, check=True, cwd=str(tmp_path),
                       env=dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path)))
    data = target.read_bytes()
    assert data.startswith(b"text first\n")
    report = data[len(b"text first\n"):]
    if main_type == "docx":
        assert docx_text(report) == ["Model report gamma"]
    else:
        assert zipfile.ZipFile(io.BytesIO(report)).read("report.md") == b"# md"


def test_markdown_on_hdfs_copies_the_archive_from_the_working_directory(
    tmp_path, output_config, hadoop, caplog_info, logger
):
    config = output_config("report.md", OutputType.MD, use_hdfs=True)
    del config.template
    result = utils.save_rendered_template(config, MARKDOWN, logger)
    archive = str(tmp_path / "report.zip")
    assert result == archive
    assert hadoop.calls == ["fs", "-put", "-f", archive, "report.zip"]
    assert zipfile.ZipFile(io.BytesIO(hadoop.copied)).namelist() == ["report.md"]
    assert not os.path.exists(archive)
    messages = [r.getMessage() for r in caplog_info.records]
    assert "Trying to write to hdfs path report.zip" in messages
    assert "put done\n" in messages


@pytest.mark.parametrize("artifacts", [False, True])
def test_word_on_hdfs_keeps_the_configured_destination(
    tmp_path, output_config, word_template, table_renders, hadoop, logger, artifacts
):
    (tmp_path / "reports dir").mkdir()  # the destination is also checked as a local path
    destination = "reports dir/model.docx"
    config = output_config(destination, export_artifacts=artifacts, use_hdfs=True,
                           template=word_template())
    result = utils.save_rendered_template(config, None, logger)
    local = str(tmp_path / "model.zip") if artifacts else "model.docx"
    assert result == local
    assert hadoop.calls == ["fs", "-put", "-f", local, destination]
    assert not os.path.exists(local)
    if artifacts:
        assert zipfile.ZipFile(io.BytesIO(hadoop.copied)).namelist() == ["model.docx"]
    else:
        assert docx_text(hadoop.copied) == ["Model report alpha"]


@pytest.mark.parametrize(
    "main_type, hdfs_path, local, expected_hdfs, expected_local",
    [
        (OutputType.MD, "dir.md/report.md", "run.md/report.md", "dir.md/report.zip",
         "run.md/report.zip"),
        (OutputType.MD, "hdfs dir/report.md", "local dir/report.zip", "hdfs dir/report.zip",
         "local dir/report.zip"),
        (OutputType.MD, "reports/markdown", "out.md.zip", "reports/markdown", "out.md.zip"),
        (OutputType.DOC, "dir.md/report.md", "run.md/report.md", "dir.md/report.md",
         "run.md/report.md"),
    ],
)
def test_save_on_hdfs_arguments(
    tmp_path, monkeypatch, hadoop, logger,
    main_type, hdfs_path, local, expected_hdfs, expected_local,
):
    monkeypatch.chdir(tmp_path)
    if os.path.dirname(expected_local):
        os.makedirs(os.path.dirname(expected_local), exist_ok=True)
    with open(expected_local, "wb") as f:
        f.write(b"payload")
    config = SimpleNamespace(output_path=hdfs_path, main_template_type=main_type)
    assert utils.save_on_hdfs(local, config, logger) is None
    assert hadoop.calls == ["fs", "-put", "-f", expected_local, expected_hdfs]
    assert hadoop.copied == b"payload"
    assert not os.path.exists(expected_local)


@pytest.mark.parametrize("failure", ["status", "missing program"])
def test_failed_hdfs_copy_raises_and_keeps_the_local_file(
    tmp_path, monkeypatch, hadoop, logger, failure
):
    local = tmp_path / "report.zip"
    local.write_bytes(b"archive")
    config = SimpleNamespace(output_path="/hdfs/report.zip", main_template_type=OutputType.DOC)
    if failure == "status":
        hadoop.exit_with(3)
        expected = "exited with status 3"
    else:
        monkeypatch.setenv("PATH", str(tmp_path / "nowhere"))
        expected = "could not run"
    with pytest.raises(RuntimeError) as raised:
        utils.save_on_hdfs(str(local), config, logger)
    message = str(raised.value)
    assert message.startswith("Copy to HDFS failed: ") and expected in message
    assert "hadoop fs -put -f {} /hdfs/report.zip".format(local) in message
    assert local.read_bytes() == b"archive"
    if failure == "missing program":
        assert isinstance(raised.value.__cause__, FileNotFoundError)


def test_failed_hdfs_copy_from_save_rendered_template_keeps_the_archive(
    output_config, hadoop, logger
):
    hadoop.exit_with(1)
    config = output_config("report.md", OutputType.MD, use_hdfs=True)
    with pytest.raises(RuntimeError, match="status 1"):
        utils.save_rendered_template(config, MARKDOWN, logger)
    assert zipfile.ZipFile("report.zip").read("report.md") == MARKDOWN.encode("utf-8")


class Unreadable:
    def __getattr__(self, name):
        raise AssertionError("read " + name)


@pytest.mark.parametrize("path", ["", None])
def test_full_report_path_without_a_path_reads_nothing(path):
    assert utils.get_full_report_path(path, Unreadable()) is None


def test_full_report_path(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    (tmp_path / "real.docx").write_bytes(b"x")
    os.symlink("real.docx", "link.docx")
    config = SimpleNamespace(use_hdfs=False)
    assert utils.get_full_report_path("link.docx", config) == str(tmp_path / "link.docx")
    config.use_hdfs = True
    assert utils.get_full_report_path("missing.docx", config) is None
    config.use_hdfs = False
    with pytest.raises(ValueError) as raised:
        utils.get_full_report_path("missing.docx", config)
    assert str(raised.value) == "Report failed to generate and was not found at '{}'.".format(
        tmp_path / "missing.docx")


def test_docx_file_stream_is_the_saved_file_and_repeatable(
    word_template
):
    config = SimpleNamespace(template=word_template())
    first = utils.get_docx_file_stream(config)
    assert isinstance(first, bytes)
    assert docx_text(first) == ["Model report alpha"]
    assert docx_text(utils.get_docx_file_stream(config)) == ["Model report alpha"]


def test_errors_of_saving_propagate(tmp_path, output_config, word_template, table_renders,
                                    logger):
    config = output_config(str(tmp_path / "r.docx"), template=word_template())
    config.output_path = str(tmp_path / "no such dir" / "r.docx")
    with pytest.raises(FileNotFoundError):
        utils.save_rendered_template(config, None, logger)
