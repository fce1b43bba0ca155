// The areas of the page_forge module, registered by module.cpp in dependency
// order, and the functions one area calls in another.
#pragma once

#include "vb/common.hpp"

namespace vb::page_forge {

void register_rendering(py::module_ &m);
void register_conversion(py::module_ &m);
void register_driver(py::module_ &m);

py::object render_docx(const py::object &file, const py::object &context, const py::object &config);
py::object render_md(const py::object &file, const py::object &context, const py::object &config);
py::object md_to_docx(const py::object &template_, const py::object &context,
                      const py::object &config, const py::object &logger);
py::object docx_to_md(const py::object &template_, const py::object &context,
                      const py::object &config);

}  // namespace vb::page_forge
