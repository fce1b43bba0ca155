// Python text at the native boundary: str <-> UTF-32 (every code point,
// lone surrogates included) and the interpreter's own character classes, so
// native algorithms keep the semantics of re's \s and \w and of str.isdigit.
#pragma once

#include "vb/common.hpp"

#include <string>

namespace vb {

inline std::u32string to_u32(const py::handle &text) {
    PyObject *object = text.ptr();
    if (!PyUnicode_Check(object)) raise(PyExc_TypeError, "expected str");
    const Py_ssize_t length = PyUnicode_GET_LENGTH(object);
    const int kind = PyUnicode_KIND(object);
    const void *data = PyUnicode_DATA(object);
    std::u32string result(static_cast<size_t>(length), U'\0');
    for (Py_ssize_t i = 0; i < length; ++i)
        result[static_cast<size_t>(i)] = static_cast<char32_t>(PyUnicode_READ(kind, data, i));
    return result;
}

inline py::str from_u32(const std::u32string &text) {
    PyObject *object =
        PyUnicode_FromKindAndData(PyUnicode_4BYTE_KIND, text.data(), static_cast<Py_ssize_t>(text.size()));
    if (object == nullptr) throw py::error_already_set();
    return py::reinterpret_steal<py::str>(object);
}

// Character classes of the running interpreter, for the templated algorithms
// of cpp/core (which stay Python-free and take the classes as a parameter).
struct PyCharClasses {
    // re's \s for str patterns.
    static bool is_space(char32_t c) { return Py_UNICODE_ISSPACE(static_cast<Py_UCS4>(c)); }
    // re's \w for str patterns: alphanumeric (str.isalnum) or underscore.
    static bool is_word(char32_t c) {
        return c == U'_' || Py_UNICODE_ISALNUM(static_cast<Py_UCS4>(c));
    }
    // str.isdigit
    static bool is_digit(char32_t c) { return Py_UNICODE_ISDIGIT(static_cast<Py_UCS4>(c)); }
};

}  // namespace vb
