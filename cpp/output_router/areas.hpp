// The areas of the output_router module.
#pragma once

#include "vb/common.hpp"

namespace vb::output_router {

void register_router(py::module_ &m);

}  // namespace vb::output_router
