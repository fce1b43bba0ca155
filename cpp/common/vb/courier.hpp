// What the two couriers (GitHub and S3) share: credentials files under the
// home directory, the messages of their location checkers and access checks,
// and the consumption of the local report file.
#pragma once

#include "vb/common.hpp"

#include <string>

namespace vb::courier {

// A new ConfigParser holding the INI file `relative` under the user's home
// directory ("~" expanded), or None when that is not an existing file.
inline py::object read_home_credentials(const char *relative) {
    py::module_ path = py::module_::import("os.path");
    py::object file = path.attr("join")(path.attr("expanduser")("~"), relative);
    if (!py::bool_(path.attr("isfile")(file))) return py::none();
    py::object parser = import_attr("configparser", "ConfigParser")();
    parser.attr("read")(file);
    return parser;
}

inline py::object environment_variable(const char *name) {
    return import_attr("os", "environ").attr("get")(name);
}

// A missing credential is logged as the string form of a KeyError: the
// message inside single quotes.
inline void log_missing_key(const char *message) {
    py::object error = py::reinterpret_borrow<py::object>(PyExc_KeyError)(message);
    default_logger().attr("error")(py::str(error));
}

// What a location checker answers for None: (None, None), with the warning.
inline py::tuple no_output_path() {
    default_logger().attr("warning")("Config does not contain *output_path*.");
    return py::make_tuple(py::none(), py::none());
}

// The ValueError of an access check: `what` is "git repo" or "s3 bucket".
[[noreturn]] inline void raise_inaccessible(const char *what, const py::object &location) {
    raise(PyExc_ValueError,
          py::str("The {} specified with the {} does not exist or inaccessible. \\\n{}\n Also "
                  "please check whether your internet connection is stable.")
              .format(what, location, std::string(20, ' ')));
}

// A push whose upload failed must not look like a success: the upload already
// logged why and left the report in place.
[[noreturn]] inline void raise_push_failed(const py::object &report_path,
                                           const py::object &destination) {
    raise(PyExc_RuntimeError,
          py::str("Pushing {0} to {1} failed (the error is logged above); the local file {0} is "
                  "kept.")
              .format(report_path, destination));
}

inline void remove_if_file(const py::object &path) {
    if (py::bool_(import_attr("os.path", "isfile")(path))) import_attr("os", "remove")(path);
}

}  // namespace vb::courier
