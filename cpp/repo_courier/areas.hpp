// The areas of the repo_courier module.
#pragma once

#include "vb/common.hpp"

namespace vb::repo_courier {

void register_courier(py::module_ &m);

}  // namespace vb::repo_courier
