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


class FakeConfig:
    """Stands in for the report configuration (velmo_brevant.config.config.Config).

    It has the attributes of a Config, in their order, as a Config built for a
    report in `directory` would hold them (without a destination router), and
    its load_template. Swap it for the real Config once that is available.
    """

    def __init__(self, directory, main_template_type="docx", sub_template_type=None,
                 template_path=None):
        from velmo_brevant.base.enums import OutputType
        from velmo_brevant.utils.converter import PandocExecutor

        main_template_type = OutputType(main_template_type)
        images_dir, tables_dir = utils.artifact_directory_paths(str(directory))
        self.output_router = None
        self.tmp_dir = None
        self.images_dir = images_dir
        self.template_path = template_path or utils.get_default_template_path(
            "md" if main_template_type == OutputType.MD else "docx"
        )
        self.template_sections_path = utils.get_default_template_section_path()
        self.template_dirs = [self.template_sections_path]
        self.output_path = str(directory / ("report." + main_template_type))
        self.sub_template_type = OutputType(sub_template_type or main_template_type)
        self.main_template_type = main_template_type
        self.current_template_types = [main_template_type]
        self.float_format = "{:6.4g}"
        self.brevant_data_summary_col_num = -1
        self.num_features = 20
        self.plot_num_features = 20
        self.min_relative_importance = 0
        self.hard_asserts = False
        self.template = None
        self.runtime = {"context": {}}
        self.brevant_prediction_stats_n_quantiles = 20
        self.brevant_population_stability_index_n_quantiles = 10
        self.brevant_response_rate_n_quantiles = 10
        self.brevant_pdp_feature_list = None
        self.mli_frame = None
        self.ice_frame = None
        self.num_ice_rows = 0
        self.cardinality_limit = 25
        self.use_hdfs = False
        self.pdp_out_of_range = 3
        self.pdp_num_bins = 10
        self.warning_shift_auc_threshold = 0.8
        self.include_hist = True
        self.use_shapley = True
        self.document_reproducibility = True
        self.converter = PandocExecutor()
        self.progress_file_path = None
        self.hist_features = 10
        self.export_artifacts = False
        self.tables_dir = tables_dir

    def load_template(self):
        import jinja2
        from docxtpl import DocxTemplate

        if self.main_template_type == "md":
            loader = jinja2.FileSystemLoader(os.path.dirname(self.template_path), encoding="utf-8")
            self.template = jinja2.Environment(loader=loader).get_template(
                os.path.basename(self.template_path)
            )
        else:
            self.template = DocxTemplate(self.template_path)


@pytest.fixture
def fake_config(tmp_path):
    """make(main_template_type="docx", sub_template_type=None, template_path=None):
    a FakeConfig for a report in tmp_path with its image directory created and
    its main template loaded."""

    def make(main_template_type="docx", sub_template_type=None, template_path=None):
        config = FakeConfig(tmp_path, main_template_type, sub_template_type, template_path)
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
