"""The report configuration: construction for every output kind, main template, runtime, export."""

import json
import os
import re
import time
import uuid

import docxtpl
import jinja2
import pytest

from velmo_brevant.base.enums import OutputType
from velmo_brevant.config.config import Config
from velmo_brevant.utils import utils
from velmo_brevant.utils.bucket_courier import BucketCourier
from velmo_brevant.utils.converter import PandocExecutor
from velmo_brevant.utils.output_router import OutputRouter, StorageType

PARAMETERS = [
    ("output_path", None),
    ("tmp_dir", None),
    ("template_path", None),
    ("template_sections_path", None),
    ("template_dirs", []),
    ("sub_template_type", None),
    ("main_template_type", OutputType.DOC),
    ("float_format", "{:6.4g}"),
    ("data_summary_feat_num", -1),
    ("num_features", 20),
    ("plot_num_features", 20),
    ("min_relative_importance", 0),
    ("stats_quantiles", 20),
    ("psi_quantiles", 10),
    ("response_rate_quantiles", 10),
    ("pdp_feature_list", None),
    ("mli_frame", None),
    ("ice_frame", None),
    ("num_ice_rows", 0),
    ("cardinality_limit", 25),
    ("use_hdfs", False),
    ("pdp_out_of_range", 3),
    ("pdp_num_bins", 10),
    ("warning_shift_auc_threshold", 0.8),
    ("include_hist", True),
    ("use_shapley", True),
    ("document_reproducibility", True),
    ("progress_file_path", None),
    ("hist_features", 10),
    ("export_artifacts", False),
]
ATTRIBUTES = [
    "tmp_dir", "images_dir", "template_path", "template_sections_path", "template_dirs",
    "output_path", "sub_template_type", "main_template_type", "current_template_types",
    "float_format", "brevant_data_summary_col_num", "num_features", "plot_num_features",
    "min_relative_importance", "hard_asserts", "template", "runtime",
    "brevant_prediction_stats_n_quantiles", "brevant_population_stability_index_n_quantiles",
    "brevant_response_rate_n_quantiles", "brevant_pdp_feature_list", "mli_frame", "ice_frame",
    "num_ice_rows", "cardinality_limit", "use_hdfs", "pdp_out_of_range", "pdp_num_bins",
    "warning_shift_auc_threshold", "include_hist", "use_shapley", "document_reproducibility",
    "converter", "progress_file_path", "hist_features", "export_artifacts", "tables_dir",
]  # fmt: skip
EXPORT_KEYS = [
    "tmp_dir", "template_path", "template_sections_path", "template_dirs", "output_path",
    "sub_template_type", "main_template_type", "float_format", "num_features",
    "plot_num_features", "min_relative_importance", "mli_frame", "ice_frame", "num_ice_rows",
    "cardinality_limit", "use_hdfs", "pdp_out_of_range", "pdp_num_bins",
    "warning_shift_auc_threshold", "include_hist", "use_shapley", "document_reproducibility",
    "progress_file_path", "hist_features", "export_artifacts", "stats_quantiles",
    "psi_quantiles", "response_rate_quantiles", "pdp_feature_list", "data_summary_feat_num",
]  # fmt: skip
ATTRIBUTE_OF = {
    "data_summary_feat_num": "brevant_data_summary_col_num",
    "stats_quantiles": "brevant_prediction_stats_n_quantiles",
    "psi_quantiles": "brevant_population_stability_index_n_quantiles",
    "response_rate_quantiles": "brevant_response_rate_n_quantiles",
    "pdp_feature_list": "brevant_pdp_feature_list",
}
NO_OUTPUT_PATH = "Config does not contain *output_path*. Report will be returned by the standard output."
NOT_VALID = (
    "\n" + " " * 20 + "Given output_path/URL is not valid or supported.\n\n" + " " * 20
    + "If given output_path points to a local storage, ensure the directory is valid and accessible.\n"
    + " " * 20
)
HEX = "[0-9a-f]{32}"


@pytest.fixture
def workdir(tmp_path, home, monkeypatch):
    """An empty current directory, a temporary home and no credentials in the environment."""
    directory = tmp_path / "work"
    directory.mkdir()
    monkeypatch.chdir(directory)
    return directory


def assert_artifact_dirs_in(config, directory):
    for attribute, base in (("images_dir", "images"), ("tables_dir", "tables")):
        path = getattr(config, attribute)
        assert os.path.dirname(path) == directory
        assert re.fullmatch(base + "_key_" + HEX, os.path.basename(path))
        assert not os.path.exists(path)


# Construction ------------------------------------------------------------------------------


def test_bare_file_name_and_defaults(workdir):
    config = Config("report.docx")
    assert type(Config) is type and Config.__bases__ == (object,)
    assert list(vars(config)) == ["output_router"] + ATTRIBUTES
    assert isinstance(config.output_router, OutputRouter)
    assert config.output_router._storage_type is StorageType.LOCAL
    assert config.output_path == "report.docx"
    assert_artifact_dirs_in(config, os.getcwd())
    sections = utils.get_default_template_section_path()
    assert config.template_path == utils.get_default_template_path("docx")
    assert (config.template_sections_path, config.template_dirs) == (sections, [sections])
    assert config.main_template_type is OutputType.DOC and config.sub_template_type is OutputType.DOC
    assert config.current_template_types == [OutputType.DOC]
    assert (config.hard_asserts, config.template, config.runtime) == (False, None, {"context": {}})
    assert isinstance(config.converter, PandocExecutor)
    for name, default in PARAMETERS[7:]:
        value = getattr(config, ATTRIBUTE_OF.get(name, name))
        assert value == default and type(value) is type(default), name


def test_parameters_by_position_and_by_keyword(workdir):
    values = ["r.md", "tmp", "", "secs", ["d"], "docx", "md", "{:.2f}", 5, 6, 7, 0.1, 8, 9, 11,
              ["f"], "mli", "ice", 12, 13, True, 14, 15, 0.7, False, False, False, "p.txt", "all", True]  # fmt: skip
    by_position = Config(*values)
    by_keyword = Config(**dict(zip([name for name, _ in PARAMETERS], values)))
    varying = {"output_router", "converter", "images_dir", "tables_dir"}
    assert {k: v for k, v in vars(by_position).items() if k not in varying} == {
        k: v for k, v in vars(by_keyword).items() if k not in varying
    }
    assert by_position.template_dirs == ["d", "secs"]
    assert by_position.template_path == utils.get_default_template_path("md")
    assert by_position.sub_template_type == "docx" and by_position.brevant_pdp_feature_list == ["f"]
    assert by_position.use_hdfs is True
    with pytest.raises(TypeError):
        Config()
    with pytest.raises(TypeError):
        Config(*values, "one too many")


def test_defaults_are_made_once_and_never_changed(workdir):
    first, second = Config("a.docx"), Config("b.docx")
    assert first.main_template_type is OutputType.DOC is second.main_template_type
    assert first.template_dirs is not second.template_dirs
    first.template_dirs.append("changed")
    assert Config("c.docx").template_dirs == [first.template_sections_path]
    given = ["a"]
    assert Config("d.docx", template_dirs=given).template_dirs == ["a", first.template_sections_path]
    assert given == ["a"]
    with pytest.raises(TypeError):
        Config("e.docx", template_dirs=("a",))


def test_local_path_in_a_subdirectory_with_markdown(workdir):
    (workdir / "sub").mkdir()
    config = Config("sub/notes.md", main_template_type="md")
    assert config.output_path == "sub/notes.md"
    assert_artifact_dirs_in(config, "sub")
    assert config.template_path == utils.get_default_template_path("md")
    assert config.current_template_types == ["md"] and config.sub_template_type == "md"
    hdfs = Config("sub/notes.md", main_template_type=OutputType.MD, use_hdfs=True)
    assert_artifact_dirs_in(hdfs, os.getcwd())


def test_artifact_directories_are_fresh_in_the_output_directory(workdir, monkeypatch):
    (workdir / "sub").mkdir()
    drawn = [uuid.UUID(int=n, version=4) for n in (1, 2, 2, 3, 4, 5)]
    (workdir / "sub" / ("images_key_" + drawn[0].hex)).mkdir()
    (workdir / "sub" / ("tables_key_" + drawn[1].hex)).write_text("")
    monkeypatch.setattr(uuid, "uuid4", lambda: drawn.pop(0))
    first = Config("sub/report.docx")
    assert os.path.basename(first.images_dir) == "images_key_" + uuid.UUID(int=2, version=4).hex
    assert os.path.basename(first.tables_dir) == "tables_key_" + uuid.UUID(int=3, version=4).hex
    second = Config("sub/report.docx")
    assert {first.images_dir, first.tables_dir}.isdisjoint({second.images_dir, second.tables_dir})


def test_s3_folder_gets_a_time_stamped_name_in_the_current_directory(workdir, monkeypatch):
    monkeypatch.setenv("AWS_ACCESS_KEY_ID", "AKIAFAKE")
    monkeypatch.setenv("AWS_SECRET_ACCESS_KEY", "secret")
    pattern = "Experiment_Report_%Y-%m-%d-%H-%M-%S"
    before = time.strftime(pattern, time.gmtime())
    config = Config("s3://reports/q1/")
    stamps = {before, time.strftime(pattern, time.gmtime())}
    assert config.output_path in {stamp + ".docx" for stamp in stamps}
    assert isinstance(config.output_router.storage, BucketCourier)
    assert_artifact_dirs_in(config, os.getcwd())
    assert Config("s3://reports/q1/final.md").output_path == "final.md"


def test_s3_without_credentials_still_constructs(workdir, root_log):
    config = Config("s3://reports/q1/", main_template_type=OutputType.MD)
    assert isinstance(config.output_router.storage, BucketCourier)
    assert config.output_path.endswith(".md")
    assert ("ERROR", "'AWS_ACCESS_KEY_ID is missing in your environment.'") in root_log.messages()


def test_no_output_path(workdir, root_log):
    config = Config(None)
    assert root_log.messages() == [("WARNING", NO_OUTPUT_PATH)]
    assert list(vars(config)) == ATTRIBUTES and not hasattr(config, "output_router")
    assert config.output_path is None
    assert_artifact_dirs_in(config, os.getcwd())


@pytest.mark.parametrize(
    "output_path, use_hdfs, message",
    [
        ("", False, "Given output_path/URL is not specified."),
        ("missing/report.docx", False, NOT_VALID),
        ("missing/report.docx", True, NOT_VALID),
    ],
)
def test_rejected_output_paths(workdir, output_path, use_hdfs, message):
    with pytest.raises(ValueError) as raised:
        Config(output_path, use_hdfs=use_hdfs)
    assert str(raised.value) == message


def test_empty_template_path_means_the_default(workdir):
    assert Config("r.docx", template_path="").template_path == utils.get_default_template_path("docx")
    assert Config("r.md", template_path="", main_template_type="md").template_path.endswith(".md")
    assert Config("r.docx", template_path="mine.docx").template_path == "mine.docx"


# Main template -----------------------------------------------------------------------------


@pytest.fixture
def markdown_template(tmp_path):
    directory = tmp_path / "templates"
    directory.mkdir()
    (directory / "main.md").write_text("{% include 'part.md' %} {{ x }} é <b>", encoding="utf-8")
    (directory / "part.md").write_text("Part {{ y }}", encoding="utf-8")
    return directory / "main.md"


@pytest.mark.parametrize("template_type", ["md", OutputType.MD])
def test_load_markdown_template(workdir, markdown_template, template_type):
    config = Config("r.md", template_path=str(markdown_template), main_template_type=template_type)
    config.load_template()
    assert isinstance(config.template, jinja2.Template)
    assert config.template.render(x="<i>", y=1) == "Part 1 <i> é <b>"
    loader = config.template.environment.loader
    assert isinstance(loader, jinja2.FileSystemLoader)
    assert (loader.searchpath, loader.encoding) == ([str(markdown_template.parent)], "utf-8")
    assert config.template.environment.autoescape is False
    first = config.template
    config.load_template()
    assert config.template is not first


@pytest.mark.parametrize("template_type", ["docx", OutputType.DOC])
def test_load_word_template(workdir, template_type):
    config = Config("r.docx", main_template_type=template_type)
    config.load_template()
    assert isinstance(config.template, docxtpl.DocxTemplate)


def test_unsupported_template_type_keeps_the_loaded_template(workdir):
    config = Config("r.docx")
    config.load_template()
    loaded = config.template
    config.main_template_type = "pdf"
    with pytest.raises(ValueError) as raised:
        config.load_template()
    assert str(raised.value) == "Unsupported output type pdf, only supported types are 'docx' and 'md'"
    assert config.template is loaded


def test_missing_markdown_template_propagates_jinja2s_error(workdir, tmp_path):
    config = Config("r.md", template_path=str(tmp_path / "none.md"), main_template_type="md")
    with pytest.raises(jinja2.TemplateNotFound):
        config.load_template()


# Runtime context ---------------------------------------------------------------------------


def test_set_runtime_parameters_builds_a_new_dict(workdir):
    config = Config("r.docx")
    old = config.runtime
    context = old["context"]
    config.set_runtime_parameters(table_counter=1)
    assert list(config.runtime.items()) == [("context", context), ("table_counter", 1)]
    assert config.runtime["context"] is context
    assert config.runtime is not old and old == {"context": {}}
    new_context = {"a": 1}
    config.set_runtime_parameters(context=new_context, other="x")
    assert list(config.runtime) == ["context", "table_counter", "other"]
    assert config.runtime["context"] is new_context
    with pytest.raises(TypeError):
        config.set_runtime_parameters({"context": {}})


# Export ------------------------------------------------------------------------------------


class Frame:
    frame_id = "frame-123"


class FrameName(str):
    frame_id = "frame-from-str-subclass"


def test_get_dict_keys_renames_and_order(workdir):
    config = Config(
        "r.docx", stats_quantiles=7, psi_quantiles=8, response_rate_quantiles=9,
        pdp_feature_list=["age"], data_summary_feat_num=3,
    )  # fmt: skip
    before = dict(vars(config))
    exported = config.get_dict()
    assert list(exported) == EXPORT_KEYS
    assert [exported[key] for key in EXPORT_KEYS[-5:]] == [7, 8, 9, ["age"], 3]
    assert exported["output_path"] == "r.docx" and exported["template_dirs"] == config.template_dirs
    assert vars(config) == before
    config.added_by_caller = "x"
    config.runtime = {"context": {"replaced": True}}
    assert list(config.get_dict()) == EXPORT_KEYS[:-5] + ["added_by_caller"] + EXPORT_KEYS[-5:]
    assert list(Config(None).get_dict()) == EXPORT_KEYS


@pytest.mark.parametrize(
    "frame, exported",
    [
        (Frame(), "frame-123"),
        ("plain-frame-id", "plain-frame-id"),
        (FrameName("text"), "frame-from-str-subclass"),
        (None, None),
    ],
)
def test_frames_are_exported_by_their_identifier(workdir, frame, exported):
    config = Config("r.docx", mli_frame=frame, ice_frame=frame)
    result = config.get_dict()
    assert (result["mli_frame"], result["ice_frame"]) == (exported, exported)
    assert config.mli_frame is frame


def test_frame_without_identifier_propagates(workdir):
    with pytest.raises(AttributeError):
        Config("r.docx", ice_frame=object()).get_dict()


def test_serialize(workdir):
    config = Config("r.docx", tmp_dir="temp é")
    text = config.serialize()
    assert '"main_template_type": "docx"' in text and '"sub_template_type": "docx"' in text
    assert text == json.dumps(config.get_dict())
    assert '"temp \\u00e9"' in text and '"tmp_dir": "temp \\u00e9", ' in text
    assert json.loads(text)["warning_shift_auc_threshold"] == 0.8
    config.num_features = object()
    with pytest.raises(TypeError):
        config.serialize()
