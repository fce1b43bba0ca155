// The areas of the bucket_courier module.
#pragma once

#include "vb/common.hpp"

namespace vb::bucket_courier {

void register_courier(py::module_ &m);

}  // namespace vb::bucket_courier
