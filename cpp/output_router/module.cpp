#include "areas.hpp"

PYBIND11_MODULE(output_router, m) {
    py::options options;
    options.disable_function_signatures();
    m.doc() = "Output routing: classifies an output location and sends the report to its courier.";
    py::module_::import("velmo_brevant.base.enums");
    py::module_::import("velmo_brevant.utils.utils");
    py::module_::import("velmo_brevant.utils.repo_courier");
    py::module_::import("velmo_brevant.utils.bucket_courier");
    vb::output_router::register_router(m);
}
