#include "vb/common.hpp"

PYBIND11_MODULE(config, m) {
    py::options options;
    options.disable_function_signatures();
    m.doc() = "The report configuration: Config.";
    py::module_::import("velmo_brevant.base.enums");
    py::module_::import("velmo_brevant.utils.utils");
    py::module_::import("velmo_brevant.utils.output_router");
}
