// Word-side building blocks: the table sub-document, the packaged table
// skeleton, the walk over a document's body and the rewriting of its runs,
// and numbered paragraphs turned into bullet lists.
#include "areas.hpp"
#include "docx_templates.hpp"
#include "vb/generator.hpp"

#include <unordered_set>

namespace vb::utils {
namespace {

const char *const kTableVariable = "TABLE_VARIABLE";

// The top-level blocks of a document body in order: a python-docx Table or
// Paragraph for each table or paragraph element, nothing for the others
// (section properties). Paragraphs inside cells are reached through their
// table.
class BodyBlocks {
  public:
    explicit BodyBlocks(py::object document)
        : document_(std::move(document)),
          children_(document_.attr("element").attr("body").attr("iterchildren")()),
          table_element_(import_attr("docx.oxml.table", "CT_Tbl")),
          paragraph_element_(import_attr("docx.oxml.text.paragraph", "CT_P")),
          table_(import_attr("docx.table", "Table")),
          paragraph_(import_attr("docx.text.paragraph", "Paragraph")) {}

    // The next block, or None after the last one.
    py::object next() {
        while (PyObject *item = PyIter_Next(children_.ptr())) {
            py::object child = py::reinterpret_steal<py::object>(item);
            if (py::isinstance(child, table_element_)) return table_(child, document_);
            if (py::isinstance(child, paragraph_element_)) return paragraph_(child, document_);
        }
        if (PyErr_Occurred()) throw py::error_already_set();
        return py::none();
    }

    py::object python_next() {
        py::object block = next();
        if (block.is_none()) throw py::stop_iteration();
        return block;
    }

    bool is_table(const py::object &block) const { return py::isinstance(block, table_); }

  private:
    py::object document_;
    py::object children_;
    py::object table_element_;
    py::object paragraph_element_;
    py::object table_;
    py::object paragraph_;
};

// Sets the text of every run of the document's body paragraphs and of the
// paragraphs of its top-level tables' cells to handle_fn(text). A cell that
// spans several grid positions (python-docx lists it once per position) is
// rewritten once.
template <typename F> void rewrite_runs(const py::object &document, F &&handle_fn) {
    auto rewrite = [&handle_fn](const py::handle &paragraph) {
        for (py::handle run : paragraph.attr("runs"))
            run.attr("text") = handle_fn(py::object(run.attr("text")));
    };
    BodyBlocks blocks(document);
    for (py::object block = blocks.next(); !block.is_none(); block = blocks.next()) {
        if (!blocks.is_table(block)) {
            rewrite(block);
            continue;
        }
        py::list cell_elements;  // keeps each element's proxy, hence its identity, alive
        std::unordered_set<PyObject *> seen;
        for (py::handle row : block.attr("rows")) {
            for (py::handle cell : row.attr("cells")) {
                py::object element = cell.attr("_tc");
                if (!seen.insert(element.ptr()).second) continue;
                cell_elements.append(element);
                for (py::handle paragraph : cell.attr("paragraphs")) rewrite(paragraph);
            }
        }
    }
}

void handle_runs(const py::object &tpl, const py::object &handle_fn) {
    rewrite_runs(loaded_docx(tpl), [&handle_fn](const py::object &text) { return handle_fn(text); });
}

void numbering_to_list(const py::object &doc) {
    py::object styles = doc.attr("styles");
    for (py::handle paragraph : doc.attr("paragraphs")) {
        py::object properties = paragraph.attr("_p").attr("pPr");
        if (properties.is_none()) continue;
        py::object numbering = properties.attr("numPr");
        if (numbering.is_none()) continue;
        py::int_ level(numbering.attr("ilvl").attr("val"));
        py::object style = styles[py::str("List Bullet {}").format(level + py::int_(2))];
        paragraph.attr("style") = style;
        py::object numbering_id =
            style.attr("element").attr("get_or_add_pPr")().attr("numPr").attr("numId").attr("val");
        numbering.attr("numId").attr("val") = numbering_id;
    }
}

const char *const kTextWithTableValuesDoc =
    "A docxtpl sub-document that carries a table into a main Word template: its column "
    "headers (col_labels) and rows (tbl_contents, each {'cols': [cell values]}).\n\n"
    "For a context variable named TABLE it is used in one of two ways:\n\n"
    "1. As one paragraph: the tag \"{{p TABLE}}\" inserts the sub-document, the one paragraph "
    "holding the given text.\n"
    "2. As a Word table built by docxtpl's table-cell and table-row loops over the attributes: "
    "a header row whose cells hold, in order, \"{%tc for col in TABLE.col_labels %}\", "
    "\"{{ col|e}}\" and \"{%tc endfor %}\"; then a row \"{%tr for item in TABLE.tbl_contents "
    "%}\"; a body row whose cells hold, in order, \"{%tc for col in item.cols %}\", "
    "\"{{col|e}}\" and \"{%tc endfor %}\"; then a row \"{%tr endfor %}\".\n\n"
    "len() is the number of columns, so a table without columns is false. Other attributes "
    "are those of the sub-document (subdocx), and str() is its XML, as for any Subdoc.";

void register_text_with_table_values(py::module_ &m) {
    py::object subdoc = import_attr("docxtpl", "Subdoc");
    PyClass(m, "TextWithTableValues", kTextWithTableValuesDoc, py::make_tuple(subdoc))
        .init(
            [subdoc](const py::object &self, const py::object &tpl, const py::object &text,
                     const py::object &col_labels, const py::object &tbl_contents) {
                // The base sets up the attribute delegation, so it comes first.
                on_current_document(tpl, [&] {
                    return subdoc.attr("__init__")(self, tpl, "docpath"_a = py::none());
                });
                self.attr("col_labels") = col_labels;
                self.attr("tbl_contents") = tbl_contents;
                self.attr("subdocx").attr("add_paragraph")(text);
            },
            py::arg("template"), py::arg("text"), py::arg("col_labels"), py::arg("tbl_contents"),
            "__init__(self, template, text, col_labels, tbl_contents)\n--\n\n"
            "A new sub-document of template (the main DocxTemplate) holding one paragraph "
            "with text, and the table's col_labels and tbl_contents.")
        .method(
            "__len__", [](const py::object &self) { return py::len(self.attr("col_labels")); },
            "__len__(self)\n--\n\nThe number of columns (len(col_labels)).");
}

}  // namespace

py::list body_paragraphs(const py::object &document) {
    py::list paragraphs;
    BodyBlocks blocks(document);
    for (py::object block = blocks.next(); !block.is_none(); block = blocks.next())
        if (!blocks.is_table(block)) paragraphs.append(block);
    return paragraphs;
}

py::object create_docx_table(const py::object &key) {
    py::module_ os_path = py::module_::import("os.path");
    py::object act_dir = os_path.attr("dirname")(os_path.attr("abspath")(utils_attr("__file__")));
    py::object template_file =
        os_path.attr("join")(act_dir, "..", "templates", "templates", "table.docx");
    py::object tbl_doc = import_attr("docxtpl", "DocxTemplate")(template_file);
    py::str token(kTableVariable);
    rewrite_runs(loaded_docx(tbl_doc),
                 [&](const py::object &text) { return text.attr("replace")(token, key); });
    return tbl_doc.attr("docx");
}

void register_docx_objects(py::module_ &m) {
    register_text_with_table_values(m);
    m.def("create_docx_table", &create_docx_table, py::arg("key"),
          "create_docx_table(key)\n--\n\n"
          "The packaged Word table skeleton (templates/templates/table.docx) as a python-docx "
          "Document whose loops refer to the context variable key: every 'TABLE_VARIABLE' in "
          "the text of its runs is replaced by key.");

    py::class_<BodyBlocks>(m, "_BodyBlocks", "Iterator over the blocks of a document body.")
        .def("__iter__", [](py::object self) { return self; })
        .def("__next__", &BodyBlocks::python_next);
    make_generator(m, "docx_iterator", {"document"},
                   py::cpp_function([](py::object document) { return BodyBlocks(document); }),
                   "Yield the blocks of a python-docx Document's body lazily, in document "
                   "order: a docx.table.Table for each table and a docx.text.paragraph.Paragraph "
                   "for each paragraph at the top level, with the document as their parent. "
                   "Section properties and other elements yield nothing; paragraphs inside "
                   "table cells are reached through their table.");
    m.def("handle_runs", &handle_runs, py::arg("template"), py::arg("handle_fn"),
          "handle_runs(template, handle_fn)\n--\n\n"
          "Set the text of every run to handle_fn(text), in place, in the body paragraphs and "
          "in the cell paragraphs of the body tables of template.docx (a DocxTemplate, or "
          "anything with a docx attribute holding a python-docx Document).\n\n"
          "A merged cell is rewritten once; headers, footers and tables nested in cells are "
          "left alone.");
    m.def("numbering_to_list", &numbering_to_list, py::arg("doc"),
          "numbering_to_list(doc)\n--\n\n"
          "Turn the numbered paragraphs of the python-docx Document doc into bullet-list "
          "paragraphs, in place: a paragraph at numbering level n gets the style "
          "'List Bullet {n + 2}' and that style's numbering id; its level stays.\n\n"
          "A missing style raises KeyError; the paragraphs before it are already changed.");
}

}  // namespace vb::utils
