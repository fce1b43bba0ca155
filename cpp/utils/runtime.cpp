// The package logger and the process services: exception reports, external
// commands, headless plotting and the progress file.
#include "areas.hpp"

namespace vb::utils {

void handle_exception(const py::object &err_msg, const py::object &logger) {
    import_attr("builtins", "print")(err_msg);
    py::object exc_info = import_attr("sys", "exc_info")();
    py::object lines = import_attr("traceback", "format_exception")(*exc_info);
    logger.attr("error")(py::str("").attr("join")(lines));
}

namespace {

void run_simple_command(const py::object &cmd, const py::object &logger) {
    try {
        py::module_ subprocess = py::module_::import("subprocess");
        py::object process = subprocess.attr("Popen")(cmd, "bufsize"_a = 1,
                                                      "universal_newlines"_a = true,
                                                      "stdout"_a = subprocess.attr("PIPE"));
        py::tuple streams = process.attr("communicate")();
        py::object output = streams[0];
        if (py::bool_(output)) logger.attr("info")(output);
    } catch (py::error_already_set &error) {
        if (!is_exception(error)) throw;
        HandlingScope scope(error);
        handle_exception(py::str(error.value()), logger);
    }
}

// matplotlib settles its cache directory on first import, so XDG_CACHE_HOME is
// fixed before that; a temporary directory is made only when none is set.
void matplotlib_import() {
    py::module_ os = py::module_::import("os");
    py::object cache_home = os.attr("getenv")("XDG_CACHE_HOME");
    if (cache_home.is_none()) cache_home = import_attr("tempfile", "mkdtemp")();
    os.attr("environ")["XDG_CACHE_HOME"] = cache_home;
    py::object get_cachedir = import_attr("matplotlib", "get_cachedir");
    py::module_ matplotlib = py::module_::import("matplotlib");
    matplotlib.attr("use")("backend"_a = "agg", "force"_a = false);
    py::module_::import("matplotlib.pyplot");
    py::module_::import("numpy");
    py::module_::import("pandas");
}

// Written to "<file>.tmp" and renamed over the file, so a reader in another
// process sees either the previous or the new three lines.
void write_progress(const py::object &progress_file, const py::object &progress,
                    const py::object &status) {
    if (!py::bool_(progress_file)) return;
    py::object temporary = py::str("%s.tmp").attr("__mod__")(progress_file);
    py::object now = import_attr("time", "strftime")("%Y-%m-%d %H:%M:%S");
    py::object text = py::str("{}\n{}\n{}\n").format(status.attr("value"), progress, now);
    write_text_file(temporary, text);
    import_attr("os", "rename")(temporary, progress_file);
}

}  // namespace

void register_runtime(py::module_ &m) {
    m.attr("LEFT_BRACKET") = "XXXLLLLXXX";
    m.attr("RIGHT_BRACKET") = "XXXRRRRXXX";
    py::object logger = import_attr("logging", "getLogger")();
    logger.attr("setLevel")(import_attr("logging", "INFO"));
    m.attr("DEFAULT_LOGGER") = logger;

    m.def("handle_exception", &handle_exception, py::arg("err_msg"), py::arg("logger"),
          "handle_exception(err_msg, logger)\n--\n\n"
          "Print err_msg and log the exception being handled, with its traceback, at error "
          "level.\n\nMeant to be called inside an exception handler.");
    m.def("run_simple_command", &run_simple_command, py::arg("cmd"), py::arg("logger"),
          "run_simple_command(cmd, logger)\n--\n\n"
          "Run cmd (a Popen argument list), log its standard output at info level.\n\n"
          "A command that fails or cannot be started is reported through handle_exception; "
          "nothing is raised and the exit status is not examined.");
    m.def("matplotlib_import", &matplotlib_import,
          "matplotlib_import()\n--\n\n"
          "Prepare matplotlib for headless plotting: a cache directory under XDG_CACHE_HOME "
          "(a new temporary one when the variable is not set) and the 'agg' backend.");
    m.def("write_progress", &write_progress, py::arg("progress_file"), py::arg("progress"),
          py::arg("status"),
          "write_progress(progress_file, progress, status)\n--\n\n"
          "Replace progress_file with three lines: status.value, progress and the local time "
          "('%Y-%m-%d %H:%M:%S').\n\nDoes nothing when progress_file is empty. The file is "
          "written as '<progress_file>.tmp' and renamed, so readers never see half a file.");
}

}  // namespace vb::utils
