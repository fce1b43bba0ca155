// The artifact archive: the report with its image and table files, built in
// memory and written beside the artifact directories or to standard output.
#include "areas.hpp"

#include "vb/context.hpp"

namespace vb::utils {
namespace {

// The directory's entries as glob("*") lists them (hidden names left out, in
// listing order), with the directory's own path taken literally: a folder
// named "runs [2024]" is not a pattern.
py::list directory_entries(const py::object &directory) {
    py::module_ glob = py::module_::import("glob");
    py::object pattern =
        import_attr("os.path", "join")(glob.attr("escape")(directory), py::str("*"));
    return glob.attr("glob")(pattern);
}

void write_to_zip(const py::object &zipfile, const py::object &dir_name,
                  const py::object &file_list, const py::object &logger) {
    py::module_ os_path = py::module_::import("os.path");
    py::object get_file_name = utils_attr("get_file_name");
    for (const auto &file : file_list) {
        if (py::bool_(os_path.attr("exists")(file))) {
            zipfile.attr("write")(file, os_path.attr("join")(dir_name, get_file_name(file)));
        } else {
            logger.attr("error")(py::str(" {} file is expected but does not exist").format(file));
        }
    }
}

py::object get_zipped_data(const py::object &filename, const py::object &rendered_report,
                           const py::object &artifact_list, const py::object &logger) {
    py::object stream = import_attr("io", "BytesIO")();
    py::module_ os_path = py::module_::import("os.path");
    with_context(import_attr("zipfile", "ZipFile")(stream, "w"), [&](const py::object &archive) {
        archive.attr("writestr")(filename, rendered_report);
        for (const auto &item : artifact_list) {
            py::object group = py::reinterpret_borrow<py::object>(item);
            if (!py::bool_(group)) continue;
            py::object first = group[py::int_(0)];
            write_to_zip(archive, os_path.attr("basename")(os_path.attr("dirname")(first)), group,
                         logger);
        }
    });
    stream.attr("seek")(0);
    return stream;
}

// What zip_data.read() returns, without copying the archive when it is an
// in-memory stream: a view of its bytes from the current position, which is
// moved to the end as reading would.
py::object remaining_bytes(const py::object &zip_data) {
    if (!py::isinstance(zip_data, import_attr("io", "BytesIO"))) return zip_data.attr("read")();
    py::object start = zip_data.attr("tell")();
    zip_data.attr("seek")(0, 2);
    return zip_data.attr("getbuffer")()[py::slice(start, py::none(), py::none())];
}

py::str final_zip_path(const py::object &report_path, const py::object &zip_data,
                       const py::object &config) {
    py::module_ os_path = py::module_::import("os.path");
    py::object name = py::str("{}.zip").format(utils_attr("get_file_name")(report_path, false));
    py::str zip_path = os_path.attr("join")(os_path.attr("dirname")(config.attr("images_dir")),
                                            name);
    with_context(import_attr("builtins", "open")(zip_path, "wb"),
                 [&](const py::object &file) { file.attr("write")(remaining_bytes(zip_data)); });
    return zip_path;
}

void copy_dir(const py::object &src, const py::object &dst) {
    py::object join = import_attr("os.path", "join");
    py::object copy = import_attr("shutil", "copy");
    for (const auto &name : import_attr("os", "listdir")(src)) copy(join(src, name), dst);
}

}  // namespace

py::object create_artifact_zip(py::object rendered_report, const py::object &report_path,
                               const py::object &output_type, const py::object &using_tavrel,
                               const py::object &config, const py::object &logger,
                               const py::object &include_artifacts) {
    flush_text_streams();
    py::list artifact_list;
    artifact_list.append(directory_entries(config.attr("images_dir")));
    if (py::bool_(include_artifacts))
        artifact_list.append(directory_entries(config.attr("tables_dir")));
    const bool to_stdout = py::bool_(using_tavrel);
    py::object filename = to_stdout ? py::object(py::str("report.{}").format(output_type))
                                    : utils_attr("get_file_name")(report_path);
    if (output_type.equal(import_attr("velmo_brevant.base.enums", "OutputType").attr("DOC")))
        rendered_report = get_docx_file_stream(config);
    py::object zip_data = get_zipped_data(filename, rendered_report, artifact_list, logger);
    if (!to_stdout) return final_zip_path(report_path, zip_data, config);
    py::object standard_output = binary_stdout();
    standard_output.attr("write")(zip_data.attr("getvalue")());
    standard_output.attr("flush")();
    return py::none();
}

void register_archives(py::module_ &m) {
    m.def("create_artifact_zip", &create_artifact_zip, py::arg("rendered_report"),
          py::arg("report_path"), py::arg("output_type"), py::arg("using_tavrel"),
          py::arg("config"), py::arg("logger"), py::arg("include_artifacts") = false,
          "create_artifact_zip(rendered_report, report_path, output_type, using_tavrel, "
          "config, logger, include_artifacts=False)\n--\n\n"
          "Zip the report with the files of config.images_dir (and, with include_artifacts, "
          "of config.tables_dir) and return the archive's path.\n\n"
          "The report member comes first: the Markdown text rendered_report, or for a Word "
          "output_type the bytes of config.template. The archive <report name>.zip is written "
          "in the folder that holds config.images_dir, or, when using_tavrel is true (no "
          "output path), its bytes go to sys.stdout.buffer, the member is named "
          "report.<output_type>, and None is returned.");
    m.def("get_zipped_data", &get_zipped_data, py::arg("filename"), py::arg("rendered_report"),
          py::arg("artifact_list"), py::arg("logger"),
          "get_zipped_data(filename, rendered_report, artifact_list, logger)\n--\n\n"
          "An io.BytesIO at position 0 holding a zip archive (members stored): rendered_report "
          "as the member filename, then each non-empty group of artifact_list under the name of "
          "the folder of its first file.");
    m.def("write_to_zip", &write_to_zip, py::arg("zipfile"), py::arg("dir_name"),
          py::arg("file_list"), py::arg("logger"),
          "write_to_zip(zipfile, dir_name, file_list, logger)\n--\n\n"
          "Add each existing path of file_list to the open ZipFile as dir_name/<file name>; a "
          "missing one is logged at error level and skipped.");
    m.def("final_zip_path", &final_zip_path, py::arg("report_path"), py::arg("zip_data"),
          py::arg("config"),
          "final_zip_path(report_path, zip_data, config)\n--\n\n"
          "Write what zip_data holds from its current position to <report name without "
          "extension>.zip in the folder that holds config.images_dir, and return that path.");
    m.def("copy_dir", &copy_dir, py::arg("src"), py::arg("dst"),
          "copy_dir(src, dst)\n--\n\n"
          "Copy every entry of the directory src (hidden ones included) into the directory "
          "dst with shutil.copy (contents and permission bits).");
}

}  // namespace vb::utils
