// Lazy Python generators whose work is done by a C++ iterator object: pybind11
// has no `yield`, so a two-line Python function delegates with `yield from`.
#pragma once

#include "vb/common.hpp"

#include <pybind11/eval.h>

#include <initializer_list>
#include <string>

namespace vb {

// Defines `def name(params): yield from factory(params)` in the module, with
// the right __module__, __qualname__ and docstring. `factory` is called only
// when iteration starts, with the generator's own arguments, and returns the
// iterator. The parameters are plain names (no defaults).
inline py::object make_generator(py::module_ &module, const char *name,
                                 std::initializer_list<const char *> params,
                                 const py::object &factory, const char *doc) {
    std::string names;
    for (const char *param : params) names += (names.empty() ? "" : ", ") + std::string(param);
    std::string source = "def " + std::string(name) + "(" + names + "):\n    yield from _factory(" +
                         names + ")\n";
    py::dict ns;
    ns["__builtins__"] = py::module_::import("builtins");
    ns["_factory"] = factory;
    py::exec(source.c_str(), ns);
    py::object function = ns[name];
    function.attr("__module__") = module.attr("__name__");
    function.attr("__qualname__") = name;
    function.attr("__doc__") = doc;
    module.attr(name) = function;
    return function;
}

}  // namespace vb
