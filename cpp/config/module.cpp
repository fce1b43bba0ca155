#include "areas.hpp"

PYBIND11_MODULE(config, m) {
    py::options options;
    options.disable_function_signatures();
    m.doc() = "The report configuration: Config.";
    m.attr("OutputType") = vb::import_attr("velmo_brevant.base.enums", "OutputType");
    py::module_::import("velmo_brevant.utils.utils");
    py::module_::import("velmo_brevant.utils.output_router");
    vb::config::register_config(m);
}
