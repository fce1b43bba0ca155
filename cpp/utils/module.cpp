#include "areas.hpp"

PYBIND11_MODULE(utils, m) {
    py::options options;
    options.disable_function_signatures();
    m.doc() = "Document content, report output and packaging, and common utilities.";
    m.attr("OutputType") = vb::import_attr("velmo_brevant.base.enums", "OutputType");
    vb::utils::register_runtime(m);
    vb::utils::register_locations(m);
    vb::utils::register_formatting(m);
    vb::utils::register_binning(m);
    vb::utils::register_features(m);
    vb::utils::register_docx_objects(m);
    vb::utils::register_encoding(m);
    vb::utils::register_images(m);
    vb::utils::register_tables(m);
    vb::utils::register_inspection(m);
    vb::utils::register_saving(m);
    vb::utils::register_archives(m);
    vb::utils::register_zip_update(m);
}
