#include "areas.hpp"

PYBIND11_MODULE(repo_courier, m) {
    py::options options;
    options.disable_function_signatures();
    m.doc() = "Publishing reports to a directory of a GitHub repository branch.";
    py::module_::import("velmo_brevant.utils.utils");
    vb::repo_courier::register_courier(m);
}
