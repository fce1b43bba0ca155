// Deferred substitution of Word values: a value that a section cannot show
// (a Word table, an image, a hyperlink) is parked in the main template's
// context behind a plain-text placeholder; once the sections are in the main
// Word template the placeholders become docxtpl tags and the template is
// rendered again.
#include "areas.hpp"
#include "docx_templates.hpp"

namespace vb::utils {
namespace {

// The markers, LEFT_BRACKET and RIGHT_BRACKET of this module.
py::object left_bracket() { return utils_attr("LEFT_BRACKET"); }
py::object right_bracket() { return utils_attr("RIGHT_BRACKET"); }

py::object output_type(const char *member) {
    return import_attr("velmo_brevant.base.enums", "OutputType").attr(member);
}

// The format of the template being rendered: the top of the template type
// stack, or the sections' format while no section is being rendered.
py::object current_template_type(const py::object &config) {
    py::object stack = config.attr("current_template_types");
    if (py::len(stack) < 2) return config.attr("sub_template_type");
    return stack[py::int_(-1)];
}

// TextWithTableValues(template, text, **value), with the checks of a Python
// `**` call: value must be a mapping.
py::object table_placeholder(const py::object &config, const py::str &text,
                             const py::object &value) {
    py::object cls = utils_attr("TextWithTableValues");
    if (!py::hasattr(value, "keys"))
        raise(PyExc_TypeError,
              "TextWithTableValues() argument after ** must be a mapping, not " +
                  py::str(py::type::of(value).attr("__name__")).cast<std::string>());
    py::dict keywords;
    if (PyDict_Merge(keywords.ptr(), value.ptr(), 1) != 0) throw py::error_already_set();
    py::tuple args = py::make_tuple(config.attr("template"), text);
    PyObject *result = PyObject_Call(cls.ptr(), args.ptr(), keywords.ptr());
    if (result == nullptr) throw py::error_already_set();
    return py::reinterpret_steal<py::object>(result);
}

}  // namespace

py::object encode_to_template(const py::object &value, const py::object &config,
                              const py::object &type) {
    py::object current = current_template_type(config);
    py::object main_type = config.attr("main_template_type");
    bool is_table = type.equal(py::str("table"));
    if (main_type.equal(current)) {
        bool word_object = is_table || type.equal(py::str("image"));
        if (current.equal(output_type("MD")) || !word_object) return value;
    }
    py::object context = config.attr("runtime")[py::str("context")];
    py::str key = get_unseen_key(context.attr("keys")(), type, py::str(""));
    context[key] = value;
    if (type.equal(py::str("url")))
        return py::str("{}r {}{}").format(left_bracket(), key, right_bracket());
    if (is_table) {
        python_assert(py::bool_(main_type.equal(output_type("DOC"))));
        py::str text = py::str("{}p {}{}").format(left_bracket(), key, right_bracket());
        return table_placeholder(config, text, value);
    }
    return py::str("{}{}{}").format(left_bracket(), key, right_bracket());
}

namespace {

// Placeholders in the runs of the body's top-level paragraphs become tags. A
// run without the opening marker is left alone.
void markers_to_tags(const py::object &document) {
    py::object left = left_bracket(), right = right_bracket();
    for (py::handle paragraph : body_paragraphs(document)) {
        for (py::handle run : paragraph.attr("runs")) {
            py::object text = run.attr("text");
            if (!text.contains(left)) continue;
            run.attr("text") = text.attr("replace")(left, "{{").attr("replace")(right, "}}");
        }
    }
}

// Each parked Word table value (a key starting with "table") becomes a
// sub-document holding the table skeleton bound to "content" + key, where the
// value is stored again for the skeleton's loops.
void tables_to_subdocs(const py::object &tpl, const py::object &context) {
    py::list keys(context.attr("keys")());
    for (py::handle key : keys) {
        if (!py::isinstance<py::str>(key) || !py::bool_(key.attr("startswith")("table"))) continue;
        py::object table_content = context[key];
        py::str new_key = py::str("content{}").format(key);
        context[new_key] = table_content;
        py::object table_doc = create_docx_table(new_key);
        py::object subdoc = on_current_document(tpl, [&] { return tpl.attr("new_subdoc")(); });
        subdoc.attr("subdocx") = table_doc;
        context[key] = subdoc;
    }
}

void render_images_and_tables(const py::object &config) {
    py::object tpl = config.attr("template");
    markers_to_tags(loaded_docx(tpl));
    py::object context = config.attr("runtime")[py::str("context")];
    tables_to_subdocs(tpl, context);
    py::object stack = config.attr("current_template_types");
    py::object current = stack[py::int_(-1)];
    bool autoescape = py::bool_(current.equal(output_type("DOC")));
    // The first render puts the values and the table skeletons in; the second
    // expands the skeletons' loops.
    for (int pass = 0; pass < 2; ++pass) {
        on_current_document(
            tpl,
            [&] {
                if (autoescape) return tpl.attr("render")(context, "autoescape"_a = true);
                return tpl.attr("render")(context);
            },
            /*keeps_flag=*/true);
        forget_cached_body(tpl.attr("docx"));
    }
}

}  // namespace

void register_encoding(py::module_ &m) {
    m.def("encode_to_template", &encode_to_template, py::arg("value"), py::arg("config"),
          py::arg("type") = "key",
          "encode_to_template(value, config, type='key')\n--\n\n"
          "value as the template being rendered can carry it: value itself, or a placeholder "
          "for a value parked in config.runtime['context'] under a fresh key "
          "(type + 32 hexadecimal digits).\n\n"
          "The placeholder is LEFT_BRACKET + 'r ' + key + RIGHT_BRACKET for type 'url', a "
          "TextWithTableValues holding LEFT_BRACKET + 'p ' + key + RIGHT_BRACKET for type "
          "'table' (value is a Word table value; the main template must be Word), and "
          "LEFT_BRACKET + key + RIGHT_BRACKET otherwise. value comes back unchanged when the "
          "main format equals the current one (the top of config.current_template_types, or "
          "config.sub_template_type outside section rendering), except for tables and images "
          "in Word.");
    m.def("render_images_and_tables", &render_images_and_tables, py::arg("config"),
          "render_images_and_tables(config)\n--\n\n"
          "Put the parked values into the main Word template config.template, in place: the "
          "placeholders in its body paragraphs become docxtpl tags, each parked table "
          "(context key starting with 'table') becomes a sub-document of the table skeleton "
          "bound to 'content' + key, and the template is rendered twice with "
          "config.runtime['context'] (autoescaped when the current template type is Word).\n\n"
          "The rendered document is kept: nothing is reloaded from the template file.");
}

}  // namespace vb::utils
