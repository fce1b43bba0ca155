// The areas of the config module.
#pragma once

#include "vb/common.hpp"

namespace vb::config {

void register_config(py::module_ &m);

}  // namespace vb::config
