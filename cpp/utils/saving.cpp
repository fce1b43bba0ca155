// Saving the rendered report: the Word file, the artifact archive, the bytes on
// standard output, and the copy on HDFS.
#include "areas.hpp"

namespace vb::utils {

void flush_text_streams() {
    py::module_ sys = py::module_::import("sys");
    for (const char *name : {"stdout", "stderr"}) {
        py::object stream = sys.attr(name);
        if (!stream.is_none()) stream.attr("flush")();
    }
}

// Text already printed comes before the report's bytes; going through
// sys.stdout lets callers that replace it still receive them.
py::object binary_stdout() {
    flush_text_streams();
    return import_attr("sys", "stdout").attr("buffer");
}

py::bytes get_docx_file_stream(const py::object &config) {
    py::object stream = import_attr("io", "BytesIO")();
    config.attr("template").attr("save")(stream);
    stream.attr("seek")(0);
    return stream.attr("read")();
}

namespace {

bool is_markdown(const py::object &template_type) {
    return template_type.equal(import_attr("velmo_brevant.base.enums", "OutputType").attr("MD"));
}

// A Markdown report travels as its archive, so a ".md" ending names the ".zip"
// beside it; ".md" elsewhere in the path (a folder "dir.md") is left alone.
py::object md_suffix_to_zip(const py::object &path) {
    if (!py::isinstance<py::str>(path) || !py::bool_(path.attr("endswith")(".md"))) return path;
    py::str text(path);
    return py::object(text[py::slice(0, -3, 1)]) + py::str(".zip");
}

// str(value) as UTF-8; code points UTF-8 cannot hold (lone surrogates) are escaped.
std::string text_of(const py::handle &value) {
    return py::str(value).attr("encode")("utf-8", "backslashreplace").cast<std::string>();
}

// The local file is removed only once hadoop reports a successful copy, so a
// failed copy never loses the report.
void save_on_hdfs(const py::object &base_name, const py::object &config,
                  const py::object &logger) {
    py::object local = base_name;
    py::object hdfs_path = config.attr("output_path");
    if (is_markdown(config.attr("main_template_type"))) {
        hdfs_path = md_suffix_to_zip(hdfs_path);
        local = md_suffix_to_zip(local);
    }
    logger.attr("info")(py::str("Trying to write to hdfs path {}").format(hdfs_path));
    py::list cmd;
    for (const char *word : {"hadoop", "fs", "-put", "-f"}) cmd.append(word);
    cmd.append(local);
    cmd.append(hdfs_path);
    py::object as_text = import_attr("builtins", "map")(import_attr("builtins", "str"), cmd);
    std::string command = text_of(import_attr("shlex", "join")(as_text));
    py::module_ subprocess = py::module_::import("subprocess");
    py::object finished;
    try {
        finished = subprocess.attr("run")(cmd, "stdout"_a = subprocess.attr("PIPE"),
                                          "universal_newlines"_a = true, "errors"_a = "replace");
    } catch (py::error_already_set &error) {
        if (!error.matches(PyExc_OSError)) throw;
        py::raise_from(error, PyExc_RuntimeError,
                       ("Copy to HDFS failed: could not run '" + command + "': " +
                        text_of(error.value()) + "; the local file " + text_of(local) +
                        " was kept.")
                           .c_str());
        throw py::error_already_set();
    }
    py::object output = finished.attr("stdout");
    if (py::bool_(output)) logger.attr("info")(output);
    py::object status = finished.attr("returncode");
    if (!status.equal(py::int_(0)))
        raise(PyExc_RuntimeError, "Copy to HDFS failed: '" + command + "' exited with status " +
                                      text_of(status) + "; the local file " + text_of(local) +
                                      " was kept.");
    import_attr("os", "remove")(local);
}

py::object save_rendered_template(const py::object &config, const py::object &rendered,
                                  const py::object &logger) {
    py::object output_path = config.attr("output_path");
    const bool hdfs = !output_path.is_none() && py::bool_(config.attr("use_hdfs"));
    py::object output_type = config.attr("main_template_type");
    const bool docx =
        output_type.equal(import_attr("velmo_brevant.base.enums", "OutputType").attr("DOC"));
    py::object include_artifacts = config.attr("export_artifacts");
    const bool using_tavrel = output_path.is_none();

    // With HDFS the local copy is made in the working directory; the HDFS
    // destination stays the configured path.
    if (hdfs) output_path = import_attr("os.path", "basename")(output_path);
    if (docx) utils_attr("render_images_and_tables")(config);
    if (docx && !py::bool_(include_artifacts)) {
        if (using_tavrel) output_path = binary_stdout();
        config.attr("template").attr("save")(output_path);
        if (using_tavrel) output_path.attr("flush")();
    } else {
        output_path = create_artifact_zip(rendered, output_path, output_type,
                                          py::bool_(using_tavrel), config, logger,
                                          include_artifacts);
    }
    if (hdfs) save_on_hdfs(output_path, config, logger);
    return output_path;
}

py::object get_full_report_path(const py::object &path, const py::object &config) {
    if (!py::bool_(path) || py::bool_(config.attr("use_hdfs"))) return py::none();
    py::module_ os_path = py::module_::import("os.path");
    py::object full_path = os_path.attr("abspath")(path);
    if (!py::bool_(os_path.attr("exists")(full_path)))
        raise(PyExc_ValueError,
              py::str("Report failed to generate and was not found at '") + full_path + py::str("'."));
    return full_path;
}

}  // namespace

void register_saving(py::module_ &m) {
    m.def("save_rendered_template", &save_rendered_template, py::arg("config"),
          py::arg("rendered"), py::arg("logger"),
          "save_rendered_template(config, rendered, logger)\n--\n\n"
          "Write the rendered report and return where it went.\n\n"
          "A Word report without exported artifacts is saved by config.template at "
          "config.output_path (returned), or to sys.stdout.buffer (returned) when there is no "
          "output path. Otherwise (a Markdown report, whose text is rendered, or a Word report "
          "with artifacts) the report is zipped with its images (and, with artifacts, its "
          "tables) by create_artifact_zip, and the archive's path is returned, or None when it "
          "went to standard output. Word tables and images are put in place by "
          "render_images_and_tables first. With config.use_hdfs the file is written in the "
          "working directory, copied to config.output_path on HDFS and deleted locally.");
    m.def("get_full_report_path", &get_full_report_path, py::arg("path"), py::arg("config"),
          "get_full_report_path(path, config)\n--\n\n"
          "The absolute path (links not resolved) of the written report, or None when path is "
          "empty or config.use_hdfs is true.\n\nRaises ValueError when the file does not "
          "exist.");
    m.def("get_docx_file_stream", &get_docx_file_stream, py::arg("config"),
          "get_docx_file_stream(config)\n--\n\n"
          "The bytes of the Word file that config.template.save writes.");
    m.def("save_on_hdfs", &save_on_hdfs, py::arg("base_name"), py::arg("config"),
          py::arg("logger"),
          "save_on_hdfs(base_name, config, logger)\n--\n\n"
          "Copy the local file base_name to config.output_path on HDFS with "
          "'hadoop fs -put -f', then delete it locally.\n\n"
          "For a Markdown report a '.md' ending of either path becomes '.zip'. The command's "
          "output is logged at info level. When hadoop cannot be started or exits with a "
          "non-zero status, RuntimeError is raised and the local file is kept.");
}

}  // namespace vb::utils
