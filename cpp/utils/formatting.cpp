// Human-readable sizes, durations and file names.
#include "areas.hpp"

#include "duration.hpp"

namespace vb::utils {
namespace {

constexpr long kLargestSizePower = 5;

py::str format_size(const py::object &byte_size) {
    py::module_ np = py::module_::import("numpy");
    py::object log = np.attr("log");
    py::object power_float = np.attr("floor")(log(byte_size) / log(1024));
    py::int_ power(power_float);
    if (power.cast<long long>() > kLargestSizePower) power = py::int_(kLargestSizePower);
    py::list units;
    for (const char *unit : {"B", "KiB", "MiB", "GiB", "TiB", "PiB"}) units.append(unit);
    py::object size = byte_size / py::int_(1024).attr("__pow__")(power);
    return py::str("{:3.01f} {}").format(size, units.attr("__getitem__")(power));
}

py::dict format_time(const py::object &seconds) {
    if (py::isinstance<py::str>(seconds))
        return py::dict("formatted_time"_a = "N/A", "string_time"_a = seconds);
    py::object timedelta = import_attr("datetime", "timedelta");
    py::int_ whole(seconds);
    if (whole.equal(py::int_(0))) {
        py::object milliseconds = seconds * py::int_(1000);
        return py::dict(
            "formatted_time"_a = py::str("%d milliseconds").attr("__mod__")(milliseconds),
            "string_time"_a = py::str(timedelta("milliseconds"_a = milliseconds)));
    }
    // timedelta rejects anything beyond its range first, so the count fits.
    py::str string_time(timedelta("seconds"_a = whole));
    return py::dict("formatted_time"_a = core::duration_sentence(whole.cast<long long>()),
                    "string_time"_a = string_time);
}

py::object get_file_name(const py::object &path, const py::object &ext) {
    py::module_ os_path = py::module_::import("os.path");
    py::object name = os_path.attr("basename")(path);
    if (py::bool_(ext)) return name;
    return os_path.attr("splitext")(name)[py::int_(0)];
}

}  // namespace

void register_formatting(py::module_ &m) {
    m.def("format_size", &format_size, py::arg("byte_size"),
          "format_size(byte_size)\n--\n\n"
          "A byte count (at least 1) as text with one decimal and a binary unit from B to PiB, "
          "for example '953.7 MiB'.");
    m.def("format_time", &format_time, py::arg("seconds"),
          "format_time(seconds)\n--\n\n"
          "A duration as {'formatted_time': sentence, 'string_time': timedelta text}, for "
          "example {'formatted_time': '2 minutes and 5 seconds', 'string_time': '0:02:05'}.\n\n"
          "A text is passed through as the string time with 'N/A' as the sentence.");
    m.def("get_file_name", &get_file_name, py::arg("path"), py::arg("ext") = true,
          "get_file_name(path, ext=True)\n--\n\n"
          "The last component of path, without its last extension when ext is false.");
}

}  // namespace vb::utils
