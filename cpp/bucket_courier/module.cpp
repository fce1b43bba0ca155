#include "areas.hpp"

PYBIND11_MODULE(bucket_courier, m) {
    py::options options;
    options.disable_function_signatures();
    m.doc() = "Publishing reports to an S3 bucket.";
    py::module_::import("velmo_brevant.utils.utils");
    vb::bucket_courier::register_courier(m);
}
