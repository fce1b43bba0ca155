// Packaged templates, found from this module's own file at call time, and
// fresh names for context keys, files and artifact directories.
#include "areas.hpp"

namespace vb::utils {
namespace {

// M/../templates/templates/<parts...>, resolved with realpath, where M is the
// directory of this module's file.
template <typename... Parts> py::object packaged_template_path(const Parts &...parts) {
    py::module_ path = py::module_::import("os.path");
    py::object module_file = utils_attr("__file__");
    py::object module_dir = path.attr("dirname")(path.attr("abspath")(module_file));
    return path.attr("realpath")(
        path.attr("join")(module_dir, "..", "templates", "templates", parts...));
}

py::object get_template_path(const py::object &template_path) {
    py::object real_path = packaged_template_path(template_path);
    if (!py::bool_(import_attr("os.path", "isfile")(real_path)))
        raise(PyExc_Exception, py::str("File not found ") + real_path);
    return real_path;
}

py::object get_template_sections_path() { return packaged_template_path("sections"); }

py::object get_default_template_path(const py::object &ext) {
    if (py::bool_(ext.equal(py::str("docx"))))
        return get_template_path(py::str("report_template_VELMO3.docx"));
    if (py::bool_(ext.equal(py::str("md"))))
        return get_template_path(py::str("report_template_VELMO3.md"));
    return py::none();
}

py::list artifact_directory_paths(const py::str &dirname) {
    py::object entries = import_attr("os", "listdir")(dirname);
    py::object join = import_attr("os.path", "join");
    py::list paths;
    for (const char *base : {"images_key_", "tables_key_"})
        paths.append(join(dirname, get_unseen_key(entries, py::str(base), py::str(""))));
    return paths;
}

}  // namespace

py::str get_unseen_key(const py::object &keys, const py::object &base_str,
                       const py::object &suffix) {
    py::object uuid4 = import_attr("uuid", "uuid4");
    while (true) {
        py::str candidate = py::str("{}{}{}").format(base_str, uuid4().attr("hex"), suffix);
        if (!keys.contains(candidate)) return candidate;
    }
}

void register_locations(py::module_ &m) {
    m.def("get_template_path", &get_template_path, py::arg("template_path"),
          "get_template_path(template_path)\n--\n\n"
          "Real path of a packaged template file (a name relative to the packaged templates "
          "directory, or an absolute path).\n\nRaises Exception('File not found <path>') when "
          "the path is not an existing file.");
    m.def("get_template_sections_path", &get_template_sections_path,
          "get_template_sections_path()\n--\n\n"
          "Real path of the packaged directory of template sections (not checked to exist).");
    m.def("get_default_template_path", &get_default_template_path, py::arg("ext") = "docx",
          "get_default_template_path(ext='docx')\n--\n\n"
          "Real path of the default main template for ext 'docx' or 'md'; None for any other "
          "ext.");
    m.def("get_default_template_section_path", &get_template_sections_path,
          "get_default_template_section_path()\n--\n\n"
          "The same as get_template_sections_path().");
    m.def("get_unseen_key", &get_unseen_key, py::arg("keys"), py::arg("base_str"),
          py::arg("suffix") = "",
          "get_unseen_key(keys, base_str, suffix='')\n--\n\n"
          "base_str + 32 hexadecimal digits of a random UUID + suffix, drawn again until the "
          "name is not in keys.");
    m.def("artifact_directory_paths", &artifact_directory_paths, py::arg("dirname"),
          "artifact_directory_paths(dirname)\n--\n\n"
          "Name fresh images and tables directories inside dirname (a str): "
          "[dirname/images_key_<hex>, dirname/tables_key_<hex>], not among its entries.\n\n"
          "Nothing is created on disk.");
}

}  // namespace vb::utils
