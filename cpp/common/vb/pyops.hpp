// Python's own str(), float() and `==` on objects, where pybind11's shortcuts
// differ: py::str and py::float_ pass a str or float subclass through
// unconverted, and object_api::equal treats identical objects as equal.
#pragma once

#include "vb/common.hpp"

namespace vb {

inline py::object steal_or_throw(PyObject *result) {
    if (result == nullptr) throw py::error_already_set();
    return py::reinterpret_steal<py::object>(result);
}

// str(x)
inline py::str python_str(const py::handle &x) {
    return py::reinterpret_steal<py::str>(steal_or_throw(PyObject_Str(x.ptr())).release());
}

// float(x)
inline py::float_ python_float(const py::handle &x) {
    return py::reinterpret_steal<py::float_>(steal_or_throw(PyNumber_Float(x.ptr())).release());
}

// `a <op> b` for a Py_EQ, Py_LT, ... comparison: the result object, not its truth.
inline py::object python_compare(const py::handle &a, const py::handle &b, int op) {
    return steal_or_throw(PyObject_RichCompare(a.ptr(), b.ptr(), op));
}

// `a == b` in a condition: __eq__ (or its reflection), then truth.
inline bool python_equal(const py::handle &a, const py::handle &b) {
    return py::bool_(python_compare(a, b, Py_EQ));
}

// [items...]
template <typename... Items>
py::list python_list(const Items &...items) {
    py::list list;
    (list.append(items), ...);
    return list;
}

}  // namespace vb
