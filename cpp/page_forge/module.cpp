#include "areas.hpp"

PYBIND11_MODULE(page_forge, m) {
    py::options options;
    options.disable_function_signatures();
    m.doc() = "Template rendering: Word and Markdown sections, Vega blocks and cross-format conversion.";
    py::module_::import("velmo_brevant.base.enums");
    py::module_::import("velmo_brevant.utils.utils");
    vb::page_forge::register_rendering(m);
    vb::page_forge::register_conversion(m);
    vb::page_forge::register_driver(m);
}
