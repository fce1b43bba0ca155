// Module functions as a Python user inspects them: annotated parameters and
// "str or None" arguments checked before the body runs.
#pragma once

#include "vb/common.hpp"

#include <string>

namespace vb {

// A builtin function has no __annotations__ and inspect rejects annotations in
// text signatures, so an annotated public function is a small Python function
// forwarding every call to the C++ one `impl` (whose docstring starts with a
// text signature). It carries impl's docstring, the annotations, a signature
// with them, and the module's name.
inline py::object annotated_function(py::module_ &module, const char *name,
                                     const py::cpp_function &impl, const py::dict &annotations) {
    static const char *const source =
        "def forwarding(impl):\n"
        "    def forward(*args, **kwargs):\n"
        "        return impl(*args, **kwargs)\n"
        "    return forward\n";
    // Compiled under the module's name, which tracebacks and log records show.
    py::object code = import_attr("builtins", "compile")(source, module.attr("__name__"), "exec");
    py::dict scope;
    scope["__builtins__"] = py::module_::import("builtins");
    import_attr("builtins", "exec")(code, scope);
    py::object function = scope["forwarding"](impl);

    py::object signature = import_attr("inspect", "signature")(impl);
    py::object empty = signature.attr("empty");
    auto annotation_of = [&](const py::object &key) -> py::object {
        return annotations.contains(key) ? py::object(annotations[key]) : empty;
    };
    py::list parameters;
    for (py::handle parameter : signature.attr("parameters").attr("values")())
        parameters.append(
            parameter.attr("replace")("annotation"_a = annotation_of(parameter.attr("name"))));
    function.attr("__signature__") = signature.attr("replace")(
        "parameters"_a = parameters, "return_annotation"_a = annotation_of(py::str("return")));
    function.attr("__annotations__") = import_attr("builtins", "dict")(annotations);
    function.attr("__doc__") = impl.attr("__doc__");
    function.attr("__name__") = name;
    function.attr("__qualname__") = name;
    function.attr("__module__") = module.attr("__name__");
    module.attr(name) = function;
    return function;
}

// TypeError "<function>() argument '<name>' must be str or None, not <type>".
inline void require_str_or_none(const py::handle &value, const char *function, const char *name) {
    if (value.is_none() || py::isinstance<py::str>(value)) return;
    raise(PyExc_TypeError,
          std::string(function) + "() argument '" + name + "' must be str or None, not " +
              py::str(py::type::handle_of(value).attr("__name__")).cast<std::string>());
}

}  // namespace vb
