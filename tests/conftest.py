import logging
import os

import pytest

from fakes.github_server import FakeGitHub
from velmo_brevant.utils import utils

CREDENTIAL_VARIABLES = (
    "GITHUB_PAT",
    "AWS_ACCESS_KEY_ID",
    "AWS_SECRET_ACCESS_KEY",
    "AWS_SESSION_TOKEN",
    "AWS_PROFILE",
    "AWS_DEFAULT_PROFILE",
    "AWS_SHARED_CREDENTIALS_FILE",
    "AWS_CONFIG_FILE",
    "AWS_CONTAINER_CREDENTIALS_RELATIVE_URI",
    "AWS_CONTAINER_CREDENTIALS_FULL_URI",
    "AWS_WEB_IDENTITY_TOKEN_FILE",
)


@pytest.fixture
def logger():
    """The package logger; use with caplog to read what was logged."""
    return utils.DEFAULT_LOGGER


@pytest.fixture
def caplog_info(caplog):
    caplog.set_level(logging.INFO)
    return caplog


@pytest.fixture
def report_config(tmp_path):
    """make(main_template_type="docx", sub_template_type=None, template_path=None):
    a Config for a local report in tmp_path with its image directory created and
    its main template loaded."""
    from velmo_brevant.base.enums import OutputType
    from velmo_brevant.config.config import Config

    def make(main_template_type="docx", sub_template_type=None, template_path=None):
        main_template_type = OutputType(main_template_type)
        config = Config(
            str(tmp_path / ("report." + main_template_type.value)),
            template_path=template_path,
            sub_template_type=OutputType(sub_template_type) if sub_template_type else None,
            main_template_type=main_template_type,
        )
        os.makedirs(config.images_dir)
        config.load_template()
        return config

    return make
class RootLog:
    """What reached the package logger (the root logger) during a test."""

    def __init__(self, caplog):
        self._caplog = caplog

    def messages(self):
        """(level name, message) of each record of the root logger, in order."""
        return [(r.levelname, r.getMessage()) for r in self._caplog.records if r.name == "root"]

    def text(self):
        """Every record of every logger, formatted, with exception texts."""
        return self._caplog.text

    def clear(self):
        self._caplog.clear()


@pytest.fixture
def root_log(caplog):
    caplog.set_level(logging.INFO)
    return RootLog(caplog)


class Home:
    def __init__(self, path):
        self.path = path

    def credentials(self, relative, section="default", **values):
        """Write the INI file `relative` under the home directory."""
        path = self.path / relative
        path.parent.mkdir(parents=True, exist_ok=True)
        lines = ["[%s]" % section] + ["%s = %s" % item for item in values.items()]
        path.write_text("\n".join(lines) + "\n")
        return path


@pytest.fixture
def home(tmp_path, monkeypatch):
    """A temporary home directory and an environment without any credentials."""
    directory = tmp_path / "home"
    directory.mkdir()
    monkeypatch.setenv("HOME", str(directory))
    for name in CREDENTIAL_VARIABLES:
        monkeypatch.delenv(name, raising=False)
    monkeypatch.setenv("AWS_EC2_METADATA_DISABLED", "true")
    return Home(directory)


@pytest.fixture(scope="session")
def github_server():
    server = FakeGitHub().start()
    yield server
    server.stop()


@pytest.fixture
def fake_github(github_server):
    """The local GitHub, emptied for the test."""
    github_server.reset()
    return github_server


@pytest.fixture(scope="session")
def s3_server():
    from fakes.s3_server import LocalS3

    server = LocalS3().start()
    yield server
    server.stop()


@pytest.fixture
def local_s3(s3_server, home, monkeypatch):
    """boto3 pointed at the local S3 server (emptied for the test) in a clean environment."""
    s3_server.reset()
    monkeypatch.setenv("AWS_ENDPOINT_URL", s3_server.endpoint_url)
    monkeypatch.setenv("AWS_DEFAULT_REGION", "us-east-1")
    return s3_server


@pytest.fixture
def output_config(tmp_path, monkeypatch):
    """make(output_path, main_template_type="docx", template=None, **options): a Config
    built with tmp_path as the working directory (where a report without an output path,
    or one copied to HDFS, gets its artifact directories), holding `template` as its
    loaded main template. The artifact directories are named, not created."""
    from velmo_brevant.base.enums import OutputType
    from velmo_brevant.config.config import Config

    monkeypatch.chdir(tmp_path)

    def make(output_path, main_template_type=OutputType.DOC, template=None, **options):
        config = Config(output_path, main_template_type=main_template_type, **options)
        config.template = template
        return config

    return make


@pytest.fixture
def word_template(tmp_path):
    """make(text, context): a docxtpl template of one paragraph, already rendered (the
    report driver renders before saving; docxtpl reloads an unrendered one on save)."""
    import docx
    import docxtpl

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
    file it was asked to copy, prints "put done" and exits with the status given to
    exit_with (0 by default)."""

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
