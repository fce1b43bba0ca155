// Working on a docxtpl template in place. A DocxTemplate loads its document
// lazily, and once rendered it reloads the file from disk in render(),
// new_subdoc(), build_url_id() and Subdoc(...), silently dropping everything
// rendered or added so far. These helpers load the document when needed and
// keep the rendered one.
// The top-level paragraphs of a python-docx document are best read through
// body_paragraphs (areas.hpp), which follows the live body element.
#pragma once

#include "vb/common.hpp"

#include <utility>

namespace vb::utils {

// The python-docx document of `tpl` (anything with a `docx` attribute),
// loading a template that has not loaded it yet.
inline py::object loaded_docx(const py::object &tpl) {
    py::object document = tpl.attr("docx");
    if (document.is_none() && py::hasattr(tpl, "init_docx")) {
        tpl.attr("init_docx")();
        document = tpl.attr("docx");
    }
    return document;
}

// Runs `call()` (a docxtpl operation on `tpl`) on the document `tpl` holds
// now, not on a fresh copy of its file. The rendered flag is put back
// afterwards, since saving an unrendered template also reloads the file; a
// render that succeeds sets the flag itself (`keeps_flag`).
template <typename F>
py::object on_current_document(const py::object &tpl, F &&call, bool keeps_flag = false) {
    if (!py::hasattr(tpl, "is_rendered")) return std::forward<F>(call)();
    py::object rendered = tpl.attr("is_rendered");
    tpl.attr("is_rendered") = false;
    py::object result;
    try {
        result = std::forward<F>(call)();
    } catch (...) {
        tpl.attr("is_rendered") = rendered;
        throw;
    }
    if (!keeps_flag) tpl.attr("is_rendered") = rendered;
    return result;
}

// docxtpl renders by swapping in a new body element, while a python-docx
// Document keeps serving the body it first read: until that cache is dropped
// its paragraphs and tables are those of the detached old body.
inline void forget_cached_body(const py::object &document) {
    if (py::hasattr(document, "_Document__body")) document.attr("_Document__body") = py::none();
}

}  // namespace vb::utils
