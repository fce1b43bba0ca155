// Sections converted between the two formats through files in the image
// directory and config.converter, then rendered again in the new format.
#include "areas.hpp"

namespace vb::page_forge {
namespace {

struct ConversionFiles {
    py::object md_path;
    py::object docx_path;
};

ConversionFiles conversion_files(const py::object &config) {
    py::object join = import_attr("os.path", "join");
    py::object images_dir = config.attr("images_dir");
    return {join(images_dir, "tmp_brevant.md"), join(images_dir, "tmp_brevant.docx")};
}

void remove_files(const ConversionFiles &files) {
    py::object remove = import_attr("os", "remove");
    remove(files.md_path);
    remove(files.docx_path);
}

// On failure the temporary files must not stay in the image directory (the
// artifact archive copies it); the original error is what propagates.
void remove_left_over_files(const ConversionFiles &files) {
    py::object exists = import_attr("os.path", "lexists");
    py::object remove = import_attr("os", "remove");
    for (const py::object *path : {&files.md_path, &files.docx_path}) {
        try {
            if (py::bool_(exists(*path))) remove(*path);
        } catch (py::error_already_set &error) {
            if (!is_exception(error)) throw;
        }
    }
}

template <typename F> py::object converting(const ConversionFiles &files, F &&convert) {
    py::object result;
    try {
        result = convert();
    } catch (...) {
        remove_left_over_files(files);
        throw;
    }
    remove_files(files);
    return result;
}

void convert_numbering(const py::object &docx, const py::object &logger) {
    try {
        utils_attr("numbering_to_list")(docx.attr("subdocx"));
    } catch (py::error_already_set &error) {
        if (!is_exception(error)) throw;
        if (logger.is_none()) return;
        py::str message = py::str("Failed to convert numbering to bullets: {}").format(py::str(error.value()));
        logger.attr("warning")(message);
    }
}

}  // namespace

py::object md_to_docx(const py::object &template_, const py::object &context,
                      const py::object &config, const py::object &logger) {
    const ConversionFiles files = conversion_files(config);
    return converting(files, [&]() {
        write_text_file(files.md_path, template_, py::str("utf8"));
        config.attr("converter").attr("convert_md_to_docx")(files.md_path, files.docx_path,
                                                           config.attr("template_path"));
        py::object docx = render_docx(files.docx_path, context, config);
        convert_numbering(docx, logger);
        return docx;
    });
}

py::object docx_to_md(const py::object &template_, const py::object &context,
                      const py::object &config) {
    const ConversionFiles files = conversion_files(config);
    return converting(files, [&]() {
        template_.attr("save")(files.docx_path);
        config.attr("converter").attr("convert_docx_to_md")(files.docx_path, files.md_path);
        return render_md(files.md_path, context, config);
    });
}

void register_conversion(py::module_ &m) {
    m.def("md_to_docx", &md_to_docx, py::arg("template"), py::arg("context"), py::arg("config"),
          py::arg("logger") = py::none(),
          "md_to_docx(template, context, config, logger=None)\n--\n\n"
          "Convert rendered Markdown text to a Word sub-document of config.template: written to "
          "images_dir/tmp_brevant.md, converted by config.converter, rendered again with context, "
          "numbered lists turned into bullets. The temporary files are always removed.");
    m.def("docx_to_md", &docx_to_md, py::arg("template"), py::arg("context"), py::arg("config"),
          "docx_to_md(template, context, config)\n--\n\n"
          "Convert a rendered Word section (anything with save(path)) to Markdown text through "
          "images_dir/tmp_brevant.docx and config.converter, rendered again with context. The "
          "temporary files are always removed.");
}

}  // namespace vb::page_forge
