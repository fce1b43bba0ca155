// The one entry point for rendering a template section: picks the renderer by
// suffix, converts to the enclosing format, keeps the template type stack and
// absorbs (or re-raises) failures.
#include "areas.hpp"

namespace vb::page_forge {
namespace {

py::object output_type(const char *member) {
    return import_attr("velmo_brevant.base.enums", "OutputType").attr(member);
}

py::object render_any(const py::object &file, const py::object &context, const py::object &config) {
    if (py::bool_(file.attr("endswith")(output_type("DOC")))) return render_docx(file, context, config);
    if (py::bool_(file.attr("endswith")(output_type("MD")))) return render_md(file, context, config);
    py::object extension = file.attr("split")(".")[py::int_(-1)];
    raise(PyExc_ValueError, py::str("Unsupported extension {}").format(extension));
}

py::object convert_if_needed(const py::object &template_, const py::object &context,
                             const py::object &config, const py::object &logger) {
    py::object stack = config.attr("current_template_types");
    py::list levels(stack[py::slice(-2, PY_SSIZE_T_MAX, 1)]);
    if (py::len(levels) != 2)
        raise(PyExc_ValueError,
              "not enough values to unpack (expected 2, got " + std::to_string(py::len(levels)) + ")");
    py::object previous_type = levels[0];
    py::object new_type = levels[1];
    if (previous_type.equal(new_type)) return template_;
    if (previous_type.equal(output_type("DOC"))) return md_to_docx(template_, context, config, logger);
    return docx_to_md(template_, context, config);
}

// "model.summary.md" for <sections>/model/summary.md.
py::object section_name(const py::object &file, const py::object &config) {
    py::object name = file.attr("replace")(config.attr("template_sections_path"), "");
    name = name.attr("replace")(import_attr("os", "sep"), ".");
    if (py::bool_(name.attr("startswith")("."))) name = name[py::slice(1, PY_SSIZE_T_MAX, 1)];
    return name;
}

void pop_template_type(const py::object &config) { config.attr("current_template_types").attr("pop")(); }

py::object render_template(const py::object &file, const py::object &context, const py::object &config,
                           const py::object &logger) {
    py::object template_type = file.attr("split")(".")[py::int_(-1)];
    config.attr("current_template_types").attr("append")(template_type);
    py::object rendered;
    try {
        try {
            rendered = render_any(file, context, config);
            rendered = convert_if_needed(rendered, context, config, logger);
        } catch (py::error_already_set &error) {
            if (!is_exception(error)) throw;
            py::str message = py::str("Exception occurred during rendering {}:\n{}")
                                  .format(section_name(file, config), py::str(error.value()));
            report_exception(error, message, logger.is_none() ? default_logger() : logger);
            if (py::bool_(config.attr("hard_asserts"))) throw;
            rendered = py::str("");
        }
    } catch (...) {
        pop_template_type(config);
        throw;
    }
    pop_template_type(config);
    return rendered;
}

}  // namespace

void register_driver(py::module_ &m) {
    m.def("render_template", &render_template, py::arg("file"), py::arg("context"), py::arg("config"),
          py::arg("logger") = py::none(),
          "render_template(file, context, config, logger=None)\n--\n\n"
          "Render a template section (.docx or .md) with context and convert it to the format of "
          "the enclosing template: a Subdoc under a Word level, Markdown text under a Markdown "
          "level.\n\nThe section's type is on config.current_template_types while it renders. A "
          "failure is reported through handle_exception (to logger, or the package logger when "
          "None) and gives \"\", unless config.hard_asserts, which re-raises it.");
    m.def("render_any", &render_any, py::arg("file"), py::arg("context"), py::arg("config"),
          "render_any(file, context, config)\n--\n\n"
          "Render file in its own format (render_docx for a path ending in docx, render_md for "
          "one ending in md); ValueError('Unsupported extension <ext>') otherwise.");
    m.def("convert_if_needed", &convert_if_needed, py::arg("template"), py::arg("context"),
          py::arg("config"), py::arg("logger") = py::none(),
          "convert_if_needed(template, context, config, logger=None)\n--\n\n"
          "Convert a rendered template to the format of the enclosing level of "
          "config.current_template_types (md_to_docx or docx_to_md); the template itself when "
          "the two top levels have the same format.");
}

}  // namespace vb::page_forge
