// Config: the description of one report (destination, templates, format,
// artifact directories and the settings the report code reads), its main
// template, its runtime context and its export.
#include "areas.hpp"

#include <array>
#include <string>
#include <utility>

namespace vb::config {
namespace {

py::object output_type(const char *member) {
    return import_attr("velmo_brevant.base.enums", "OutputType").attr(member);
}

py::object os_path(const char *name) { return import_attr("os.path", name); }

// Left out of the export: they only make sense while rendering.
constexpr std::array<const char *, 8> kRenderingOnly = {
    "images_dir", "tables_dir", "current_template_types", "hard_asserts", "template",
    "runtime",    "converter",  "output_router"};

// Exported under their constructor parameter names, in this order, at the end.
constexpr std::array<std::pair<const char *, const char *>, 5> kRenamed = {{
    {"brevant_prediction_stats_n_quantiles", "stats_quantiles"},
    {"brevant_population_stability_index_n_quantiles", "psi_quantiles"},
    {"brevant_response_rate_n_quantiles", "response_rate_quantiles"},
    {"brevant_pdp_feature_list", "pdp_feature_list"},
    {"brevant_data_summary_col_num", "data_summary_feat_num"},
}};

// The directory under which the artifact directories are named.
py::object artifact_parent(const py::object &output_path, const py::object &use_hdfs) {
    py::object getcwd = import_attr("os", "getcwd");
    if (output_path.is_none()) {
        default_logger().attr("warning")(
            "Config does not contain *output_path*. Report will be returned by the standard "
            "output.");
        return getcwd();
    }
    if (py::bool_(use_hdfs)) return getcwd();
    py::object directory = os_path("dirname")(output_path);
    return py::bool_(directory) ? directory : getcwd();
}

void init(const py::object &self, py::object output_path, const py::object &tmp_dir,
          py::object template_path, py::object template_sections_path,
          const py::object &template_dirs, py::object sub_template_type,
          const py::object &main_template_type, const py::object &float_format,
          const py::object &data_summary_feat_num, const py::object &num_features,
          const py::object &plot_num_features, const py::object &min_relative_importance,
          const py::object &stats_quantiles, const py::object &psi_quantiles,
          const py::object &response_rate_quantiles, const py::object &pdp_feature_list,
          const py::object &mli_frame, const py::object &ice_frame, const py::object &num_ice_rows,
          const py::object &cardinality_limit, const py::object &use_hdfs,
          const py::object &pdp_out_of_range, const py::object &pdp_num_bins,
          const py::object &warning_shift_auc_threshold, const py::object &include_hist,
          const py::object &use_shapley, const py::object &document_reproducibility,
          const py::object &progress_file_path, const py::object &hist_features,
          const py::object &export_artifacts) {
    if (!output_path.is_none()) {
        py::object router = import_attr("velmo_brevant.utils.output_router", "OutputRouter")(
            output_path, main_template_type);
        self.attr("output_router") = router;
        output_path = router.attr("temp_filename");
    }
    auto [images_dir, tables_dir] = unpack_pair(utils_attr("artifact_directory_paths")(
        "dirname"_a = artifact_parent(output_path, use_hdfs)));
    if (template_path.is_none() || template_path.equal(py::str(""))) {
        const bool markdown = main_template_type.equal(output_type("MD"));
        template_path = utils_attr("get_default_template_path")(markdown ? "md" : "docx");
    }
    if (sub_template_type.is_none()) sub_template_type = main_template_type;
    if (template_sections_path.is_none())
        template_sections_path = utils_attr("get_default_template_section_path")();

    py::list sections;
    sections.append(template_sections_path);
    py::list current_types;
    current_types.append(main_template_type);
    py::dict runtime;
    runtime["context"] = py::dict();

    self.attr("tmp_dir") = tmp_dir;
    self.attr("images_dir") = images_dir;
    self.attr("template_path") = template_path;
    self.attr("template_sections_path") = template_sections_path;
    self.attr("template_dirs") = template_dirs + sections;
    self.attr("output_path") = output_path;
    self.attr("sub_template_type") = sub_template_type;
    self.attr("main_template_type") = main_template_type;
    self.attr("current_template_types") = current_types;
    self.attr("float_format") = float_format;
    self.attr("brevant_data_summary_col_num") = data_summary_feat_num;
    self.attr("num_features") = num_features;
    self.attr("plot_num_features") = plot_num_features;
    self.attr("min_relative_importance") = min_relative_importance;
    self.attr("hard_asserts") = false;
    self.attr("template") = py::none();
    self.attr("runtime") = runtime;
    self.attr("brevant_prediction_stats_n_quantiles") = stats_quantiles;
    self.attr("brevant_population_stability_index_n_quantiles") = psi_quantiles;
    self.attr("brevant_response_rate_n_quantiles") = response_rate_quantiles;
    self.attr("brevant_pdp_feature_list") = pdp_feature_list;
    self.attr("mli_frame") = mli_frame;
    self.attr("ice_frame") = ice_frame;
    self.attr("num_ice_rows") = num_ice_rows;
    self.attr("cardinality_limit") = cardinality_limit;
    self.attr("use_hdfs") = use_hdfs;
    self.attr("pdp_out_of_range") = pdp_out_of_range;
    self.attr("pdp_num_bins") = pdp_num_bins;
    self.attr("warning_shift_auc_threshold") = warning_shift_auc_threshold;
    self.attr("include_hist") = include_hist;
    self.attr("use_shapley") = use_shapley;
    self.attr("document_reproducibility") = document_reproducibility;
    self.attr("converter") = import_attr("velmo_brevant.utils.converter", "PandocExecutor")();
    self.attr("progress_file_path") = progress_file_path;
    self.attr("hist_features") = hist_features;
    self.attr("export_artifacts") = export_artifacts;
    self.attr("tables_dir") = tables_dir;
}

void load_template(const py::object &self) {
    py::object template_type = self.attr("main_template_type");
    py::object template_path = self.attr("template_path");
    if (template_type.equal(output_type("MD"))) {
        py::module_ jinja2 = py::module_::import("jinja2");
        py::object loader = jinja2.attr("FileSystemLoader")(os_path("dirname")(template_path),
                                                            "encoding"_a = "utf-8");
        py::object environment = jinja2.attr("Environment")("loader"_a = loader);
        self.attr("template") =
            environment.attr("get_template")(os_path("basename")(template_path));
    } else if (template_type.equal(output_type("DOC"))) {
        self.attr("template") = import_attr("docxtpl", "DocxTemplate")(template_path);
    } else {
        raise(PyExc_ValueError,
              py::str("Unsupported output type {}, only supported types are '{}' and '{}'")
                  .format(template_type, output_type("DOC"), output_type("MD")));
    }
}

void set_runtime_parameters(const py::object &self, const py::kwargs &kwargs) {
    py::dict runtime = import_attr("builtins", "dict")(self.attr("runtime"));
    for (auto item : kwargs) runtime[item.first] = item.second;
    self.attr("runtime") = runtime;
}

py::dict get_dict(const py::object &self) {
    py::dict exported;
    for (auto item : py::dict(self.attr("__dict__"))) {
        py::str name(item.first);
        bool left_out = false;
        for (const char *rendering : kRenderingOnly) left_out |= name.equal(py::str(rendering));
        for (const auto &renamed : kRenamed) left_out |= name.equal(py::str(renamed.first));
        if (!left_out) exported[item.first] = item.second;
    }
    for (const auto &renamed : kRenamed) exported[renamed.second] = self.attr(renamed.first);
    // A frame is exported by its identifier; a plain str already is one.
    for (const char *frame_key : {"mli_frame", "ice_frame"}) {
        if (!exported.contains(frame_key)) continue;
        py::object frame = exported[frame_key];
        if (!frame.is_none() && !PyUnicode_CheckExact(frame.ptr()))
            exported[frame_key] = frame.attr("frame_id");
    }
    return exported;
}

py::str serialize(const py::object &self) {
    return import_attr("json", "dumps")(self.attr("get_dict")());
}

}  // namespace

void register_config(py::module_ &m) {
    const std::string parameters =
        "output_path, tmp_dir=None, template_path=None, template_sections_path=None, "
        "template_dirs=[], sub_template_type=None, main_template_type=OutputType.DOC, "
        "float_format='{:6.4g}', data_summary_feat_num=-1, num_features=20, "
        "plot_num_features=20, min_relative_importance=0, stats_quantiles=20, psi_quantiles=10, "
        "response_rate_quantiles=10, pdp_feature_list=None, mli_frame=None, ice_frame=None, "
        "num_ice_rows=0, cardinality_limit=25, use_hdfs=False, pdp_out_of_range=3, "
        "pdp_num_bins=10, warning_shift_auc_threshold=0.8, include_hist=True, use_shapley=True, "
        "document_reproducibility=True, progress_file_path=None, hist_features=10, "
        "export_artifacts=False";
    const std::string class_doc =
        "The description of one report: where it goes (a local path, a GitHub branch directory "
        "URL or an S3 location), its templates and format, where its image and table artifacts "
        "are collected, and the settings its tables and plots read.\n\nConfig(" +
        parameters + ")";
    const std::string init_doc =
        "__init__(self, " + parameters +
        ")\n--\n\n"
        "Classify output_path through an OutputRouter (kept as output_router; none when "
        "output_path is None) and write the report to its temp_filename; name the image and "
        "table directories beside it; pick the default main template of main_template_type and "
        "the packaged sections directory when none are given; store the other settings.";
    vb::PyClass(m, "Config", class_doc.c_str())
        .init(&init, py::arg("output_path"), py::arg("tmp_dir") = py::none(),
              py::arg("template_path") = py::none(), py::arg("template_sections_path") = py::none(),
              py::arg("template_dirs") = py::list(), py::arg("sub_template_type") = py::none(),
              py::arg("main_template_type") = output_type("DOC"),
              py::arg("float_format") = "{:6.4g}", py::arg("data_summary_feat_num") = -1,
              py::arg("num_features") = 20, py::arg("plot_num_features") = 20,
              py::arg("min_relative_importance") = 0, py::arg("stats_quantiles") = 20,
              py::arg("psi_quantiles") = 10, py::arg("response_rate_quantiles") = 10,
              py::arg("pdp_feature_list") = py::none(), py::arg("mli_frame") = py::none(),
              py::arg("ice_frame") = py::none(), py::arg("num_ice_rows") = 0,
              py::arg("cardinality_limit") = 25, py::arg("use_hdfs") = false,
              py::arg("pdp_out_of_range") = 3, py::arg("pdp_num_bins") = 10,
              py::arg("warning_shift_auc_threshold") = 0.8, py::arg("include_hist") = true,
              py::arg("use_shapley") = true, py::arg("document_reproducibility") = true,
              py::arg("progress_file_path") = py::none(), py::arg("hist_features") = 10,
              py::arg("export_artifacts") = false, init_doc.c_str())
        .method("load_template", &load_template,
                "load_template(self)\n--\n\n"
                "Load the main template into template: a Jinja2 Template (its directory as the "
                "loader's search path) for OutputType.MD, a DocxTemplate for OutputType.DOC; "
                "ValueError for any other main_template_type.")
        .method("set_runtime_parameters", &set_runtime_parameters,
                "set_runtime_parameters(self, **kwargs)\n--\n\n"
                "Replace runtime by a new dict: its entries followed by the keywords (a keyword "
                "replaces an entry of the same name). The old dict is left as it was.")
        .method("get_dict", &get_dict,
                "get_dict(self)\n--\n\n"
                "The configuration as a dict in attribute order, without the rendering state "
                "(images_dir, tables_dir, current_template_types, hard_asserts, template, "
                "runtime, converter, output_router), with the five brevant_ settings under "
                "their parameter names at the end and frames by their frame_id.")
        .method("serialize", &serialize,
                "serialize(self)\n--\n\n"
                "json.dumps(self.get_dict()).");
}

}  // namespace vb::config
