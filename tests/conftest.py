import logging
import os

import docx
import docxtpl
import pytest

from velmo_brevant.base.enums import OutputType
from velmo_brevant.utils import utils


@pytest.fixture
def logger():
    """The package logger; use with caplog to read what was logged."""
    return utils.DEFAULT_LOGGER


@pytest.fixture
def caplog_info(caplog):
    caplog.set_level(logging.INFO)
    return caplog


class ReportConfig:
    """Stands in for Config with exactly the attributes that saving and packaging read.

    The artifact directories are named as Config names them, inside `folder` (made when
    missing), and are not created. Delete an attribute to check that an operation never
    reads it.
    """

    def __init__(
        self,
        folder,
        output_path=None,
        main_template_type=OutputType.DOC,
        export_artifacts=False,
        use_hdfs=False,
        template=None,
    ):
        os.makedirs(str(folder), exist_ok=True)
        self.images_dir, self.tables_dir = utils.artifact_directory_paths(str(folder))
        self.output_path = output_path
        self.main_template_type = main_template_type
        self.current_template_types = [main_template_type]
        self.template = template
        self.runtime = {"context": {}}
        self.use_hdfs = use_hdfs
        self.export_artifacts = export_artifacts


@pytest.fixture
def report_config():
    return ReportConfig


@pytest.fixture
def word_template(tmp_path):
    """A rendered docxtpl template (rendering first, as the report driver does)."""

    def make(text="Model report {{ name }}", context=None):
        path = tmp_path / "main_template.docx"
        document = docx.Document()
        document.add_paragraph(text)
        document.save(str(path))
        template = docxtpl.DocxTemplate(str(path))
        template.render(context or {"name": "alpha"})
        return template

    return make


HADOOP_SCRIPT = """#!/bin/sh
printf '%s\\n' "$@" > "$HADOOP_RECORD"
cp -- "$4" "$HADOOP_RECORD.data" 2>/dev/null
echo "put done"
exit ${HADOOP_STATUS:-0}
"""


class RecordingHadoop:
    """A `hadoop` program first on PATH that records its arguments and the bytes of the
    file it was asked to copy, prints "put done" and exits with `status`."""

    def __init__(self, folder, monkeypatch):
        bin_dir = folder / "hadoop_bin"
        bin_dir.mkdir()
        program = bin_dir / "hadoop"
        program.write_text(HADOOP_SCRIPT)
        program.chmod(0o755)
        self.record = folder / "hadoop_args"
        self.monkeypatch = monkeypatch
        monkeypatch.setenv("PATH", "{}{}{}".format(bin_dir, os.pathsep, os.environ["PATH"]))
        monkeypatch.setenv("HADOOP_RECORD", str(self.record))

    def exit_with(self, status):
        self.monkeypatch.setenv("HADOOP_STATUS", str(status))

    @property
    def calls(self):
        """The argument list of the one call, or None when hadoop was not run."""
        if not self.record.exists():
            return None
        return self.record.read_text().splitlines()

    @property
    def copied(self):
        return (self.record.parent / (self.record.name + ".data")).read_bytes()


@pytest.fixture
def hadoop(tmp_path, monkeypatch):
    return RecordingHadoop(tmp_path, monkeypatch)
