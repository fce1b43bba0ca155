// Word sections through docxtpl, Markdown sections through Jinja2, and the
// Vega chart blocks of rendered Markdown turned into images.
#include "areas.hpp"

#include "vb/docx_templates.hpp"
#include "vb/str_units.hpp"
#include "vega_blocks.hpp"

namespace vb::page_forge {

py::object render_docx(const py::object &file, const py::object &context, const py::object &config) {
    py::object page_doc = import_attr("docxtpl", "DocxTemplate")(file);
    page_doc.attr("render")("context"_a = context, "autoescape"_a = true);
    // A main template that was rendered already would reload its file here.
    py::object main = config.attr("template");
    py::object subdoc = on_current_document(main, [&]() { return main.attr("new_subdoc")(); });
    subdoc.attr("subdocx") = page_doc.attr("docx");
    return subdoc;
}

namespace {

constexpr const char *kVegaOpener = "```vega";
constexpr const char *kFence = "```";

py::list parse_vega_charts(const py::str &text) {
    const std::vector<core::TextSpan> blocks =
        with_code_units(text, [](auto units) { return core::find_vega_blocks(units); });
    py::list charts;
    for (const core::TextSpan &block : blocks) charts.append(substring(text, block.begin, block.end));
    return charts;
}

bool assertions_enabled() {
    py::object flags = import_attr("sys", "flags");
    return !py::bool_(flags.attr("optimize"));
}

void assert_chart_delimiters(const py::str &chart) {
    if (!assertions_enabled()) return;
    if (!py::bool_(chart.attr("startswith")(kVegaOpener)))
        raise(PyExc_AssertionError, std::string("vega charts should start with: ") + kVegaOpener);
    if (!py::bool_(chart.attr("endswith")(kFence)))
        raise(PyExc_AssertionError, std::string("vega charts should end with: ") + kFence);
}

py::object render_vega(const py::str &text, const py::object &config) {
    py::object rendered = text;
    for (const py::handle &chart_handle : parse_vega_charts(text)) {
        py::str chart = py::reinterpret_borrow<py::str>(chart_handle);
        assert_chart_delimiters(chart);
        const std::size_t length = static_cast<std::size_t>(py::len(chart));
        py::str content = substring(chart, core::kVegaOpenerLength, length - core::kFenceLength);
        py::object encoded = utils_attr("vega_to_template_var")(config, content);
        rendered = rendered.attr("replace")(chart, encoded, 1);
    }
    return rendered;
}

}  // namespace

py::object render_md(const py::object &file, const py::object &context, const py::object &config) {
    py::module_ jinja2 = py::module_::import("jinja2");
    py::module_ os_path = py::module_::import("os.path");
    py::object loader = jinja2.attr("FileSystemLoader")(os_path.attr("dirname")(file));
    py::object environment = jinja2.attr("Environment")("loader"_a = loader);
    py::object template_ = environment.attr("get_template")(os_path.attr("basename")(file));
    py::str rendered(template_.attr("render")(context));
    return render_vega(rendered, config);
}

void register_rendering(py::module_ &m) {
    m.def("render_docx", &render_docx, py::arg("file"), py::arg("context"), py::arg("config"),
          "render_docx(file, context, config)\n--\n\n"
          "Render the Word template file with context (autoescaped) and return it as a new "
          "sub-document of config.template.");
    m.def("render_md", &render_md, py::arg("file"), py::arg("context"), py::arg("config"),
          "render_md(file, context, config)\n--\n\n"
          "Render the Markdown template file with Jinja2 (loader on the file's directory) and "
          "replace its Vega chart blocks by images; returns the text.");
    m.def("parse_vega_charts", &parse_vega_charts, py::arg("text"),
          "parse_vega_charts(text)\n--\n\n"
          "The Vega chart blocks of text, in order: each runs from '```vega' to the last '```' "
          "before the next '```vega' (or the end of the text).");
    m.def("render_vega", &render_vega, py::arg("text"), py::arg("config"),
          "render_vega(text, config)\n--\n\n"
          "text with each Vega chart block replaced (first occurrence, in order) by what "
          "vega_to_template_var(config, chart_json) returns.");
}

}  // namespace vb::page_forge
