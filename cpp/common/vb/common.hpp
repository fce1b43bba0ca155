// Included first by every extension module: the pybind11 alias, the builder of
// genuine Python classes whose methods are C++ functions, and the helpers for
// raising and reporting Python exceptions exactly.
#pragma once

#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <initializer_list>
#include <string>
#include <utility>

namespace py = pybind11;
using namespace pybind11::literals;

namespace vb {

// Raises the Python exception `type` with exactly the text `message`.
[[noreturn]] inline void raise(PyObject *type, const std::string &message) {
    PyErr_SetString(type, message.c_str());
    throw py::error_already_set();
}

// True for errors derived from Exception: KeyboardInterrupt and SystemExit are
// never absorbed.
inline bool is_exception(const py::error_already_set &error) {
    return error.matches(PyExc_Exception);
}

inline py::object import_attr(const char *module, const char *name) {
    return py::module_::import(module).attr(name);
}

// The system's other modules reach `utils` through Python, as an import.
inline py::object utils_attr(const char *name) {
    return import_attr("velmo_brevant.utils.utils", name);
}

inline py::object default_logger() { return utils_attr("DEFAULT_LOGGER"); }

// While alive, the caught error is the exception being handled as far as
// sys.exc_info() and traceback are concerned, as inside a Python `except`.
class HandlingScope {
  public:
    explicit HandlingScope(const py::error_already_set &error) {
        PyErr_GetExcInfo(&saved_type_, &saved_value_, &saved_trace_);
        PyObject *type = error.type().ptr();
        PyObject *value = error.value().ptr();
        PyObject *trace = error.trace().ptr();
        Py_XINCREF(type);
        Py_XINCREF(value);
        Py_XINCREF(trace);
        PyErr_SetExcInfo(type, value, trace);
    }
    ~HandlingScope() { PyErr_SetExcInfo(saved_type_, saved_value_, saved_trace_); }
    HandlingScope(const HandlingScope &) = delete;
    HandlingScope &operator=(const HandlingScope &) = delete;

  private:
    PyObject *saved_type_ = nullptr;
    PyObject *saved_value_ = nullptr;
    PyObject *saved_trace_ = nullptr;
};

// Reports a caught error through utils.handle_exception with the error as the
// exception being handled.
inline void report_exception(const py::error_already_set &error, const py::object &message,
                             const py::object &logger) {
    HandlingScope scope(error);
    utils_attr("handle_exception")(message, logger);
}

// Builds a genuine Python class, type(name, bases, namespace), registered in
// the module, whose methods are C++ functions. Docstrings of methods start with
// a text signature line ("name(self, a, b=1)\n--\n\n") so inspect.signature
// reads them.
class PyClass {
  public:
    PyClass(py::module_ &module, const char *name, const char *doc,
            const py::tuple &bases = py::tuple()) {
        py::dict ns;
        ns["__module__"] = module.attr("__name__");
        ns["__qualname__"] = name;
        ns["__doc__"] = doc;
        type_ = py::reinterpret_borrow<py::object>(reinterpret_cast<PyObject *>(&PyType_Type))(
            name, bases, ns);
        module.attr(name) = type_;
    }

    // pybind11 treats a function named "__init__" as the constructor of a C++
    // type, so the initialiser carries the dotted name "<Class>.__init__".
    template <typename F, typename... Extra> PyClass &init(F &&f, const Extra &...extra) {
        std::string name = qualname() + ".__init__";
        py::cpp_function function(std::forward<F>(f), py::name(name.c_str()),
                                  py::is_method(type_), extra...);
        type_.attr("__init__") = function;
        return *this;
    }

    template <typename F, typename... Extra>
    PyClass &method(const char *name, F &&f, const Extra &...extra) {
        type_.attr(name) = py::cpp_function(std::forward<F>(f), py::name(name),
                                            py::is_method(type_), extra...);
        return *this;
    }

    template <typename F, typename... Extra>
    PyClass &static_method(const char *name, F &&f, const Extra &...extra) {
        type_.attr(name) = py::staticmethod(
            py::cpp_function(std::forward<F>(f), py::name(name), py::scope(type_), extra...));
        return *this;
    }

    // A read-only property computed by `getter(self)`.
    template <typename F> PyClass &property(const char *name, F &&getter, const char *doc) {
        py::cpp_function fget(std::forward<F>(getter), py::name(name), py::scope(type_));
        type_.attr(name) = import_attr("builtins", "property")(fget, py::none(), py::none(), doc);
        return *this;
    }

    PyClass &attr(const char *name, const py::object &value) {
        type_.attr(name) = value;
        return *this;
    }

    const py::object &type() const { return type_; }

  private:
    std::string qualname() const { return py::str(type_.attr("__qualname__")); }

    py::object type_;
};

// enum.Enum(name, members, module=..., qualname=...): with the module given,
// members pickle and repr as the module's own.
inline py::object make_enum(py::module_ &module, const char *name,
                            std::initializer_list<std::pair<const char *, const char *>> members) {
    py::list pairs;
    for (const auto &member : members) pairs.append(py::make_tuple(member.first, member.second));
    py::object type = import_attr("enum", "Enum")(name, pairs, "module"_a = module.attr("__name__"),
                                                  "qualname"_a = name);
    module.attr(name) = type;
    return type;
}

}  // namespace vb

namespace vb {

// A Python `assert`: AssertionError with `message` (none when it is null),
// skipped like the statement when the interpreter runs optimised (-O).
inline void python_assert(bool condition, const char *message = nullptr) {
    if (condition) return;
    if (py::int_(import_attr("sys", "flags").attr("optimize")).cast<long>() > 0) return;
    if (message == nullptr) PyErr_SetNone(PyExc_AssertionError);
    else PyErr_SetString(PyExc_AssertionError, message);
    throw py::error_already_set();
}

}  // namespace vb
