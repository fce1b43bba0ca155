import logging
import os

import pytest

from velmo_brevant.utils import utils


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
