// Reading the text of finished Word reports: whether a sentence occurs in it
// and the numbers written in the paragraphs that contain one, comparing text
// with whitespace runs and typographic single quotes normalised.
#include "areas.hpp"

#include "number_text.hpp"
#include "text_scan.hpp"
#include "vb/pytext.hpp"

#include <vector>

namespace vb::utils {
namespace {

std::u32string normalised(const py::handle &text) {
    if (!PyUnicode_Check(text.ptr())) {
        std::string type = py::str(py::type::handle_of(text).attr("__name__"));
        raise(PyExc_TypeError, "expected str text, got " + type);
    }
    return core::trim_whitespaces<PyCharClasses>(to_u32(text));
}

py::str trim_whitespaces(const py::str &x) { return from_u32(normalised(x)); }

// The text of each body paragraph of the Word file (tables, headers and
// footers are not read).
std::vector<std::u32string> paragraph_texts(const py::object &path) {
    py::object document = import_attr("docx", "Document")(path);
    std::vector<std::u32string> texts;
    for (py::handle paragraph : document.attr("paragraphs"))
        texts.push_back(to_u32(paragraph.attr("text")));
    return texts;
}

void assert_text_present(const py::object &path, const py::object &txt, const py::object &err) {
    std::vector<std::u32string> texts = paragraph_texts(path);
    // An assertion: skipped when the interpreter runs optimised.
    if (import_attr("sys", "flags").attr("optimize").cast<long>() > 0) return;
    std::u32string all_text;
    for (std::size_t i = 0; i < texts.size(); ++i) {
        if (i > 0) all_text.push_back(U' ');
        all_text += texts[i];
    }
    const std::u32string sentence = normalised(txt);
    const std::u32string document = core::trim_whitespaces<PyCharClasses>(all_text);
    if (document.find(sentence) != std::u32string::npos) return;
    py::object error = import_attr("builtins", "AssertionError")(err);
    PyErr_SetObject(PyExc_AssertionError, error.ptr());
    throw py::error_already_set();
}

// float(piece), natively for ASCII; false when float() raises ValueError.
bool piece_value(std::u32string_view piece, double &value) {
    std::string ascii;
    for (char32_t c : piece) {
        if (c >= 0x80) {
            ascii.clear();
            break;
        }
        ascii.push_back(static_cast<char>(c));
    }
    if (ascii.size() == piece.size()) {
        const core::Verdict verdict = core::read_python_float(ascii, value);
        if (verdict != core::Verdict::undecided) return verdict == core::Verdict::yes;
    }
    try {
        value = import_attr("builtins", "float")(from_u32(std::u32string(piece))).cast<double>();
        return true;
    } catch (py::error_already_set &error) {
        if (error.matches(PyExc_ValueError)) return false;
        throw;
    }
}

py::list get_floats_in_str(const py::object &path, const py::object &txt) {
    std::vector<std::u32string> texts = paragraph_texts(path);
    const std::u32string sentence = normalised(txt);
    py::list numbers;
    for (const std::u32string &text : texts) {
        const std::u32string paragraph = core::trim_whitespaces<PyCharClasses>(text);
        if (paragraph.find(sentence) == std::u32string::npos) continue;
        for (std::u32string_view piece : core::split_whitespace<PyCharClasses>(paragraph)) {
            double value = 0;
            if (piece_value(piece, value)) numbers.append(py::float_(value));
        }
    }
    return numbers;
}

}  // namespace

void register_inspection(py::module_ &m) {
    m.def("trim_whitespaces", &trim_whitespaces, py::arg("x"),
          "trim_whitespaces(x)\n--\n\n"
          "x with every run of whitespace (Unicode, line breaks and tabs included) replaced by "
          "one space, then the typographic single quotes U+2019 and U+2018 by \"'\".");
    m.def("assert_text_present", &assert_text_present, py::arg("path"), py::arg("txt"),
          py::arg("err"),
          "assert_text_present(path, txt, err)\n--\n\n"
          "Assert that the sentence txt occurs in the body paragraphs of the Word file at path "
          "(joined with spaces), both compared after trim_whitespaces; AssertionError(err) "
          "otherwise.\n\nAn assertion: nothing is tested when Python runs with -O.");
    m.def("get_floats_in_str", &get_floats_in_str, py::arg("path"), py::arg("txt"),
          "get_floats_in_str(path, txt)\n--\n\n"
          "The numbers written in the body paragraphs of the Word file at path that contain "
          "the sentence txt (compared after trim_whitespaces), in text order: every "
          "whitespace-separated piece that float() accepts.");
}

}  // namespace vb::utils
