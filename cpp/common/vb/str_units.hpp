// Native scans over a Python str in place: the callable receives the str's own
// code units (1, 2 or 4 bytes wide, as CPython stores it) without a copy.
#pragma once

#include "vb/common.hpp"

#include "code_units.hpp"

namespace vb {

template <typename F> decltype(auto) with_code_units(const py::str &text, F &&scan) {
    PyObject *object = text.ptr();
#if PY_VERSION_HEX < 0x030C0000
    if (PyUnicode_READY(object) != 0) throw py::error_already_set();
#endif
    const std::size_t length = static_cast<std::size_t>(PyUnicode_GET_LENGTH(object));
    switch (PyUnicode_KIND(object)) {
        case PyUnicode_1BYTE_KIND:
            return scan(core::CodeUnits<Py_UCS1>{PyUnicode_1BYTE_DATA(object), length});
        case PyUnicode_2BYTE_KIND:
            return scan(core::CodeUnits<Py_UCS2>{PyUnicode_2BYTE_DATA(object), length});
        default:
            return scan(core::CodeUnits<Py_UCS4>{PyUnicode_4BYTE_DATA(object), length});
    }
}

// text[begin:end] as a new str.
inline py::str substring(const py::str &text, std::size_t begin, std::size_t end) {
    PyObject *piece = PyUnicode_Substring(text.ptr(), static_cast<Py_ssize_t>(begin),
                                          static_cast<Py_ssize_t>(end));
    if (piece == nullptr) throw py::error_already_set();
    return py::reinterpret_steal<py::str>(piece);
}

}  // namespace vb
