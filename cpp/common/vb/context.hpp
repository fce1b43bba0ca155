// Python's with-statement for C++ code that drives Python context managers.
#pragma once

#include "vb/common.hpp"

namespace vb {

// Runs body(entered) as `with manager as entered:` does: __exit__ runs however
// body ends, is told of a Python error escaping it, and may suppress it.
template <typename Body> void with_context(const py::object &manager, Body &&body) {
    py::object exit = manager.attr("__exit__");
    py::object entered = manager.attr("__enter__")();
    try {
        body(entered);
    } catch (py::error_already_set &error) {
        // An error raised from C++ has no traceback yet.
        py::object trace = error.trace() ? error.trace() : py::none();
        if (py::bool_(exit(error.type(), error.value(), trace))) return;
        throw;
    } catch (...) {
        exit(py::none(), py::none(), py::none());
        throw;
    }
    exit(py::none(), py::none(), py::none());
}

}  // namespace vb
