// Data frames as Markdown pipe tables and Word table values, their float
// formatting and CSV artifacts, splitting wide frames and reading Word table
// values back. The pipe layout, the cell conversions and the float patterns
// run natively for the frames a report shows; anything else takes the
// library calls the native code replaces.
#include "areas.hpp"

#include "frame_columns.hpp"
#include "number_text.hpp"
#include "pipe_table.hpp"
#include "vb/gc_pause.hpp"
#include "vb/pytext.hpp"

#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

namespace vb::utils {
namespace {

constexpr int kWordDecimals = 4;
constexpr int kMarkdownFloatDecimals = 3;
// The tabulate release whose pipe layout the native writer reproduces; under
// any other the tables are tabulate's own.
constexpr const char *kTabulateRelease = "0.10.0";

bool python_equals(const py::handle &a, const py::handle &b) {
    return py::bool_(
        py::reinterpret_steal<py::object>(PyObject_RichCompare(a.ptr(), b.ptr(), Py_EQ)));
}

// Calls `call` and tells whether it raised one of the given error types (the
// error is then dropped); other errors propagate.
template <typename F>
bool raises(F &&call, std::initializer_list<PyObject *> types) {
    try {
        call();
        return false;
    } catch (py::error_already_set &error) {
        for (PyObject *type : types)
            if (error.matches(type)) return true;
        throw;
    }
}

std::size_t row_count(const py::object &df) { return py::len(df.attr("index")); }
std::size_t column_count(const py::object &df) { return py::len(df.attr("columns")); }

py::object column_at(const py::object &df, std::size_t position) {
    return df.attr("iloc")[py::make_tuple(py::slice(), position)];
}

bool is_frame(const py::object &df) {
    return py::isinstance(df, import_attr("pandas", "DataFrame"));
}

// Positions of the columns select_dtypes(include="int") picks, found on an
// empty slice of the frame relabelled by position (labels may repeat).
std::vector<bool> integer_typed(const py::object &df) {
    const std::size_t columns = column_count(df);
    py::object positions = import_attr("builtins", "range")(columns);
    py::object probe =
        df.attr("iloc")[py::slice(0, 0, 1)].attr("set_axis")(positions, "axis"_a = 1);
    std::vector<bool> selected(columns, false);
    py::object picked = probe.attr("select_dtypes")("include"_a = "int").attr("columns");
    for (py::handle position : picked) selected[position.cast<std::size_t>()] = true;
    return selected;
}

// "{:,}" applied to every cell of the integer-typed columns of `frame`, in
// place (`frame` is the caller's own copy).
void group_integer_columns(py::object &frame) {
    const std::vector<bool> selected = integer_typed(frame);
    py::object group = py::str("{:,}").attr("format");
    for (std::size_t position = 0; position < selected.size(); ++position)
        if (selected[position])
            frame.attr("isetitem")(position, column_at(frame, position).attr("map")(group));
}

// ---------------------------------------------------------------- Markdown

class PythonNumbers : public core::NumberReader {
  public:
    core::TextNumber read(const std::u32string &text) const override {
        py::str value = from_u32(text);
        core::TextNumber number;
        number.is_int = !raises([&] { import_attr("builtins", "int")(value); },
                                {PyExc_ValueError, PyExc_TypeError});
        py::object parsed;
        number.is_float = !raises([&] { parsed = import_attr("builtins", "float")(value); },
                                  {PyExc_ValueError, PyExc_TypeError});
        if (number.is_float) {
            number.value = parsed.cast<double>();
            py::tuple special = py::make_tuple("inf", "-inf", "nan");
            number.is_number =
                std::isfinite(number.value) || special.contains(value.attr("lower")());
        }
        return number;
    }
};

void check_text_labels(const py::object &df) {
    for (py::handle label : df.attr("columns")) {
        if (PyUnicode_Check(label.ptr())) continue;
        std::string shown = py::repr(label);
        std::string type = py::str(py::type::handle_of(label).attr("__name__"));
        raise(PyExc_TypeError,
              "markdown_table needs str column labels, got " + shown + " (" + type + ")");
    }
}

// frame = replace(frame), keeping the frame when pandas refuses.
template <typename F>
void keep_if_refused(py::object &frame, F &&replace) {
    try {
        frame = replace(frame);
    } catch (py::error_already_set &error) {
        if (!is_exception(error)) throw;
    }
}

// The designed steps on a copy: escape "_" and newlines in text cells (left
// unescaped when pandas refuses the replacement), escape "_" in the labels,
// group the integer columns, lay out with tabulate.
py::object tabulated_markdown(const py::object &df, const py::object &showindex) {
    py::object frame = df.attr("copy")();
    keep_if_refused(
        frame, [](const py::object &f) { return f.attr("replace")("_", "\\_", "regex"_a = true); });
    py::dict newline;
    newline["\n"] = " ";
    keep_if_refused(
        frame, [&](const py::object &f) { return f.attr("replace")(newline, "regex"_a = true); });
    py::list labels;
    for (py::handle label : frame.attr("columns")) labels.append(label.attr("replace")("_", "\\_"));
    frame.attr("columns") = labels;
    group_integer_columns(frame);
    return import_attr("tabulate", "tabulate")(frame, "headers"_a = "keys",
                                               "showindex"_a = showindex, "tablefmt"_a = "pipe",
                                               "floatfmt"_a = ",.3f");
}

py::str pipe_text(const core::PipeTable &table) {
    PyObject *text = PyUnicode_New(static_cast<Py_ssize_t>(table.length()),
                                   static_cast<Py_UCS4>(table.max_char()));
    if (text == nullptr) throw py::error_already_set();
    switch (PyUnicode_KIND(text)) {
        case PyUnicode_1BYTE_KIND:
            table.write(PyUnicode_1BYTE_DATA(text));
            break;
        case PyUnicode_2BYTE_KIND:
            table.write(PyUnicode_2BYTE_DATA(text));
            break;
        default:
            table.write(reinterpret_cast<char32_t *>(PyUnicode_4BYTE_DATA(text)));
    }
    return py::reinterpret_steal<py::str>(text);
}

// The index column tabulate prepends, or nothing for kinds the writer does
// not read.
std::unique_ptr<core::CellSource> index_cells(const py::object &index) {
    if (py::isinstance(index, import_attr("pandas", "RangeIndex")))
        return std::make_unique<RangeCells>(index.attr("start").cast<long long>(),
                                            index.attr("step").cast<long long>());
    if (py::isinstance(index, import_attr("pandas", "MultiIndex"))) return nullptr;
    auto column = FrameColumn::read(index);
    if (!column) return nullptr;
    return std::make_unique<ColumnCells>(std::move(*column), false);
}

// The pipe table written natively, or nothing when the frame holds anything
// the writer cannot prove it lays out as tabulate does.
std::optional<py::str> native_markdown(const py::object &df, const py::object &showindex) {
    if (!is_frame(df) || (!showindex.is(py::bool_(true)) && !showindex.is(py::bool_(false))))
        return std::nullopt;
    py::module_ tabulate = py::module_::import("tabulate");
    if (!py::str(py::getattr(tabulate, "__version__", py::none())).equal(py::str(kTabulateRelease)))
        return std::nullopt;
    py::object min_padding = tabulate.attr("MIN_PADDING");
    if (!PyLong_CheckExact(min_padding.ptr()) || min_padding.cast<long long>() < 0)
        return std::nullopt;
    const std::size_t rows = row_count(df);

    std::vector<py::object> keep;  // the strings viewed by the writer
    std::vector<std::unique_ptr<core::CellSource>> sources;
    std::vector<core::PipeColumn> layout;
    if (py::bool_(showindex)) {
        py::object index = df.attr("index");
        auto cells = index_cells(index);
        if (!cells) return std::nullopt;
        py::object name = index.attr("name");
        keep.push_back(name.is_none() ? py::str("") : py::str(name));
        layout.push_back(core::PipeColumn{text_view(keep.back().ptr()), false, false, cells.get()});
        sources.push_back(std::move(cells));
    }
    const std::vector<bool> grouped = integer_typed(df);
    bool has_text = false;
    bool has_bool = false;
    bool all_float = true;
    bool all_bool = true;
    std::size_t position = 0;
    for (py::handle label : df.attr("columns")) {
        if (!PyUnicode_CheckExact(label.ptr())) return std::nullopt;
        auto column = FrameColumn::read(column_at(df, position));
        if (!column) return std::nullopt;
        has_text = has_text || column->is_object() || grouped[position];
        has_bool = has_bool || column->storage() == Storage::boolean;
        all_float = all_float && column->is_float();
        all_bool = all_bool && column->storage() == Storage::boolean;
        keep.push_back(py::reinterpret_borrow<py::object>(label));
        sources.push_back(std::make_unique<ColumnCells>(std::move(*column), grouped[position]));
        layout.push_back(
            core::PipeColumn{text_view(label.ptr()), true, true, sources.back().get()});
        ++position;
    }
    // tabulate reads the frame as one numpy array of the columns' common type:
    // objects (each cell keeps its column's type) when a column holds text or
    // bools meet numbers, otherwise numpy scalars, typed like the cells here
    // only when all columns are floats.
    const bool objects = has_text || (has_bool && !all_bool);
    if (!objects && !all_float) return std::nullopt;

    PythonNumbers numbers;
    core::PipeOptions options;
    options.float_precision = kMarkdownFloatDecimals;
    options.float_grouping = true;
    options.min_padding = min_padding.cast<std::size_t>();
    options.printable_ascii_only =
        py::bool_(tabulate.attr("WIDE_CHARS_MODE")) && !tabulate.attr("wcwidth").is_none();
    options.is_space = &PyCharClasses::is_space;
    options.numbers = &numbers;
    try {
        core::PipeTable table(std::move(layout), rows, options);
        return pipe_text(table);
    } catch (const core::UnsupportedTable &) {
        return std::nullopt;
    }
}

py::object markdown_table(const py::object &df, const py::object &showindex) {
    check_text_labels(df);
    if (auto text = native_markdown(df, showindex)) return *text;
    return tabulated_markdown(df, showindex);
}

// ---------------------------------------------------------------- Word

py::object steal(PyObject *object) {
    if (object == nullptr) throw py::error_already_set();
    return py::reinterpret_steal<py::object>(object);
}

py::object ascii_text(const char *text, std::size_t length) {
    py::object value = steal(PyUnicode_New(static_cast<Py_ssize_t>(length), 127));
    std::memcpy(PyUnicode_1BYTE_DATA(value.ptr()), text, length);
    return value;
}

py::object word_cell(const FrameColumn &column, std::size_t row, bool grouped) {
    switch (column.storage()) {
        case Storage::f32:
            return steal(
                PyFloat_FromDouble(core::numpy_round(column.at<float>(row), kWordDecimals)));
        case Storage::f64:
            return steal(
                PyFloat_FromDouble(core::numpy_round(column.at<double>(row), kWordDecimals)));
        default:
            break;
    }
    if (grouped && column.is_integer()) {
        long long value = 0;
        column.integer(row, value);
        char text[core::kIntegerRoom];
        return ascii_text(text, core::write_integer(text, value, true));
    }
    return column.python(row);
}

py::list word_labels(const py::object &df) {
    py::list labels;
    labels.append("");
    for (py::handle label : df.attr("columns")) labels.append(label);
    return labels;
}

py::dict word_value(py::object labels, py::list contents) {
    py::dict value;
    value["col_labels"] = std::move(labels);
    value["tbl_contents"] = std::move(contents);
    return value;
}

// The designed steps: group the integer columns of a copy, round it to four
// decimals, reset its index into the first column when shown, one list of
// cell values per row.
py::dict rounded_word_table(const py::object &df, bool with_index) {
    py::object frame = df.attr("copy")();
    group_integer_columns(frame);
    frame = import_attr("numpy", "round")(frame, kWordDecimals);
    py::object labels = df.attr("columns");
    if (with_index) {
        frame = frame.attr("reset_index")();
        labels = word_labels(df);
    }
    py::list contents;
    py::object rows = frame.attr("astype")(py::dtype("O")).attr("values").attr("tolist")();
    for (py::handle row : rows) contents.append(py::dict("cols"_a = row));
    return word_value(labels, contents);
}

// Whether reset_index() would insert the index under a free name.
bool index_resets_cleanly(const py::object &df) {
    py::object index = df.attr("index");
    py::object columns = df.attr("columns");
    py::object multi = import_attr("pandas", "MultiIndex");
    if (py::isinstance(index, multi) || py::isinstance(columns, multi)) return false;
    py::object name = index.attr("name");
    if (name.is_none()) name = py::str(columns.contains("index") ? "level_0" : "index");
    return !columns.contains(name);
}

std::optional<py::dict> native_word_table(const py::object &df, bool with_index) {
    if (!is_frame(df) || (with_index && !index_resets_cleanly(df))) return std::nullopt;
    const std::size_t rows = row_count(df);
    const std::size_t columns = column_count(df);
    std::vector<FrameColumn> values;
    for (std::size_t position = 0; position < columns; ++position) {
        auto column = FrameColumn::read(column_at(df, position));
        if (!column) return std::nullopt;
        values.push_back(std::move(*column));
    }
    const std::vector<bool> grouped = integer_typed(df);
    py::list index;
    if (with_index) index = py::list(df.attr("index"));
    const std::size_t offset = with_index ? 1 : 0;

    GcPause pause;
    py::str cols("cols");
    py::list contents(rows);
    for (std::size_t row = 0; row < rows; ++row) {
        py::object cells = steal(PyList_New(static_cast<Py_ssize_t>(columns + offset)));
        if (with_index) PyList_SET_ITEM(cells.ptr(), 0, py::object(index[row]).release().ptr());
        for (std::size_t column = 0; column < columns; ++column)
            PyList_SET_ITEM(cells.ptr(), static_cast<Py_ssize_t>(column + offset),
                            word_cell(values[column], row, grouped[column]).release().ptr());
        py::object entry = steal(PyDict_New());
        if (PyDict_SetItem(entry.ptr(), cols.ptr(), cells.ptr()) != 0)
            throw py::error_already_set();
        PyList_SET_ITEM(contents.ptr(), static_cast<Py_ssize_t>(row), entry.release().ptr());
    }
    py::object labels = with_index ? py::object(word_labels(df)) : df.attr("columns");
    return word_value(labels, contents);
}

py::dict docx_table(const py::object &df, const py::object &showindex) {
    const bool with_index = py::bool_(showindex);
    if (auto value = native_word_table(df, with_index)) return *value;
    return rounded_word_table(df, with_index);
}

// ---------------------------------------------------------------- float patterns

std::optional<core::FloatPattern> native_pattern(const py::object &pattern) {
    if (!PyUnicode_CheckExact(pattern.ptr())) return std::nullopt;
    core::FloatPattern parsed;
    if (!core::parse_float_pattern(pattern.cast<std::string>(), parsed)) return std::nullopt;
    return parsed;
}

// float(value) into `number`; false when float() refuses the value for a
// conversion reason (ValueError for text, TypeError for None and other
// objects). Other errors propagate.
bool float_of(PyObject *value, double &number) {
    if (PyFloat_CheckExact(value)) {
        number = PyFloat_AS_DOUBLE(value);
        return true;
    }
    if (PyBool_Check(value)) {
        number = value == Py_True ? 1.0 : 0.0;
        return true;
    }
    if (PyLong_CheckExact(value)) {
        number = PyLong_AsDouble(value);
        if (number == -1.0 && PyErr_Occurred()) throw py::error_already_set();
        return true;
    }
    if (PyUnicode_CheckExact(value)) {
        const core::TextView view = text_view(value);
        if (view.unit == 1) {
            std::string_view text(static_cast<const char *>(view.data), view.length);
            const core::Verdict verdict = core::read_python_float(text, number);
            if (verdict != core::Verdict::undecided) return verdict == core::Verdict::yes;
        }
    }
    py::object converted;
    const bool refused =
        raises([&] { converted = import_attr("builtins", "float")(py::handle(value)); },
               {PyExc_ValueError, PyExc_TypeError});
    if (!refused) number = converted.cast<double>();
    return !refused;
}

// pattern.format(number), natively for the common patterns. A ValueError (a
// pattern that does not take floats) leaves the column unchanged like a
// refused cell: false.
bool format_number(const py::object &pattern, const std::optional<core::FloatPattern> &native,
                   double number, std::string &scratch, py::object &text) {
    if (native) {
        scratch.clear();
        core::append_float_pattern(scratch, number, *native);
        text = ascii_text(scratch.data(), scratch.size());
        return true;
    }
    return !raises([&] { text = pattern.attr("format")(number); }, {PyExc_ValueError});
}

// The column through its own apply, which keeps what pandas makes of the
// results for column kinds other than numpy arrays; nothing when a cell is
// refused.
std::optional<py::object> applied_column(const py::object &column, const py::object &pattern,
                                         const std::optional<core::FloatPattern> &native) {
    bool refused = false;
    std::string scratch;
    py::cpp_function format_cell([&](const py::object &cell) -> py::object {
        double number = 0;
        py::object text;
        if (!float_of(cell.ptr(), number) ||
            !format_number(pattern, native, number, scratch, text)) {
            refused = true;
            raise(PyExc_ValueError, "cell is not a number");
        }
        return text;
    });
    try {
        return column.attr("apply")(format_cell);
    } catch (py::error_already_set &error) {
        if (refused) return std::nullopt;
        throw;
    }
}

double numeric_cell(const FrameColumn &values, std::size_t row) {
    if (values.is_float()) return values.number(row);
    if (values.storage() == Storage::boolean) return values.flag(row) ? 1.0 : 0.0;
    if (values.storage() == Storage::u64)
        return static_cast<double>(values.at<unsigned long long>(row));
    long long integer = 0;
    values.integer(row, integer);
    return static_cast<double>(integer);
}

std::optional<py::object> formatted_column(const py::object &column, const py::object &pattern,
                                           const std::optional<core::FloatPattern> &native) {
    const bool numpy_backed = py::isinstance(column.attr("dtype"), import_attr("numpy", "dtype"));
    auto values = numpy_backed ? FrameColumn::read(column) : std::nullopt;
    if (!values || values->size() == 0) return applied_column(column, pattern, native);
    const std::size_t rows = values->size();
    py::list texts(rows);
    std::string scratch;
    for (std::size_t row = 0; row < rows; ++row) {
        double number = 0;
        if (!values->is_object()) {
            number = numeric_cell(*values, row);
        } else if (!float_of(values->object(row), number)) {
            return std::nullopt;
        }
        py::object text;
        if (!format_number(pattern, native, number, scratch, text)) return std::nullopt;
        texts[row] = text;
    }
    return import_attr("pandas", "Series")(texts, "index"_a = column.attr("index"));
}

// A copy whose columns are float-formatted with the pattern, except those
// with a cell that is not a number.
py::object float_formatted(const py::object &df, const py::object &pattern) {
    py::object frame = df.attr("copy")();
    const std::optional<core::FloatPattern> native = native_pattern(pattern);
    const std::size_t columns = column_count(frame);
    for (std::size_t position = 0; position < columns; ++position) {
        if (auto formatted = formatted_column(column_at(frame, position), pattern, native))
            frame.attr("isetitem")(position, *formatted);
    }
    return frame;
}

// ---------------------------------------------------------------- artifacts and values

py::str table_filename_creator(const py::object &dirname, const py::object &config) {
    py::object names = import_attr("os", "listdir")(dirname);
    py::str table_key = get_unseen_key(names, py::str("table_key_"), py::str(""));
    py::object runtime = config.attr("runtime");
    py::object counter = runtime.attr("get")("table_counter", table_key);
    py::str table_name = py::str("table_key_").attr("__add__")(py::str(counter));
    if (py::bool_(runtime.attr("get")("table_counter"))) {
        py::object next = runtime["table_counter"];
        next += py::int_(1);
        runtime["table_counter"] = next;
    }
    return table_name;
}

py::object format_table(const py::object &df, const py::object &config, const py::object &showindex,
                        const py::object &float_format, py::object table_name) {
    py::object frame = float_format.is_none() ? df : float_formatted(df, float_format);
    py::object main_type = config.attr("main_template_type");
    py::object output_type = import_attr("velmo_brevant.base.enums", "OutputType");
    py::object value = frame;
    if (python_equals(main_type, output_type.attr("MD")))
        value = markdown_table(frame, showindex);
    else if (python_equals(main_type, output_type.attr("DOC")))
        value = docx_table(frame, showindex);
    py::object tables_dir = config.attr("tables_dir");
    if (py::bool_(import_attr("os.path", "exists")(tables_dir))) {
        if (table_name.is_none()) table_name = table_filename_creator(tables_dir, config);
        py::object path =
            import_attr("os.path", "join")(tables_dir, py::str("{}.csv").format(table_name));
        frame.attr("to_csv")(path, "index"_a = showindex);
    }
    return encode_to_template(value, config, py::str("table"));
}

py::object inverse_format_table(const py::object &formatted_df) {
    py::list rows;
    for (py::handle row : formatted_df.attr("tbl_contents")) rows.append(row["cols"]);
    py::object frame =
        import_attr("pandas", "DataFrame")(rows, "columns"_a = formatted_df.attr("col_labels"));
    py::object drop_commas = import_attr("operator", "methodcaller")("replace", ",", "");
    py::object as_float = import_attr("builtins", "float");
    py::object as_int = import_attr("builtins", "int");
    const std::size_t columns = column_count(frame);
    for (std::size_t position = 0; position < columns; ++position) {
        try {
            py::object numbers =
                column_at(frame, position).attr("apply")(drop_commas).attr("astype")(as_float);
            frame.attr("isetitem")(position, numbers);
            frame.attr("isetitem")(position, numbers.attr("astype")(as_int));
        } catch (py::error_already_set &error) {
            if (!is_exception(error)) throw;
        }
    }
    return frame;
}

py::object create_multiple_tables(const py::object &orig_table,
                                  const py::object &num_cols_per_table,
                                  const py::object &template_formatted, const py::object &config) {
    py::object columns = py::int_(column_count(orig_table));
    py::object remain_cols = columns - num_cols_per_table;
    if (remain_cols < py::int_(0)) remain_cols = py::int_(0);
    py::object ceiling = import_attr("math", "ceil")(remain_cols / num_cols_per_table);
    const long long num_tables = py::int_(ceiling).cast<long long>() + 1;
    py::object tables = import_attr("collections", "OrderedDict")();
    const bool formatted = py::bool_(template_formatted);
    for (long long table = 0; table < num_tables; ++table) {
        py::object start = py::int_(table) * num_cols_per_table;
        py::object stop = py::int_(table + 1) * num_cols_per_table;
        py::object group = orig_table.attr(
            "iloc")[py::make_tuple(py::slice(), py::slice(start, stop, py::none()))];
        if (formatted)
            group = format_table(group, config, py::bool_(false), py::none(), py::none());
        tables[py::int_(table)] = group;
    }
    return tables;
}

}  // namespace

void register_tables(py::module_ &m) {
    m.def("markdown_table", &markdown_table, py::arg("df"), py::arg("showindex") = false,
          "markdown_table(df, showindex=False)\n--\n\n"
          "The frame as Markdown pipe-table text: '_' and newlines escaped in text cells and "
          "'_' in the column labels (which must be str), integer columns with thousands "
          "separators, floats with three decimals and thousands separators, in tabulate's "
          "'pipe' layout with the column labels as headers.\n\nThe caller's frame is never "
          "changed.");
    m.def("docx_table", &docx_table, py::arg("df"), py::arg("showindex") = false,
          "docx_table(df, showindex=False)\n--\n\n"
          "The frame as a Word table value {'col_labels': ..., 'tbl_contents': [{'cols': row}, "
          "...]}: integer columns as text with thousands separators, other numbers rounded to "
          "four decimals. With showindex, the first label is '' and each row starts with its "
          "index value; otherwise 'col_labels' is the frame's own columns object.");
    m.def("format_table", &format_table, py::arg("df"), py::arg("config"),
          py::arg("showindex") = false, py::arg("float_format") = py::none(),
          py::arg("table_name") = py::none(),
          "format_table(df, config, showindex=False, float_format=None, table_name=None)\n--\n\n"
          "The frame as the table value of the report's main format, encoded for the template "
          "being rendered (encode_to_template with type='table').\n\nWith float_format (a "
          "str.format pattern such as '{:6.4g}'), every column whose cells all convert to float "
          "is formatted with it first; other columns stay as they are. When config.tables_dir "
          "exists, the (formatted) frame is also written there as '<table_name>.csv', the name "
          "made by table_filename_creator when none is given.");
    m.def("inverse_format_table", &inverse_format_table, py::arg("formatted_df"),
          "inverse_format_table(formatted_df)\n--\n\n"
          "A new frame from an object with the attributes col_labels and tbl_contents (a "
          "TextWithTableValues): each column becomes float after removing ',' from its texts, "
          "then int, as far as the conversions succeed.");
    m.def("create_multiple_tables", &create_multiple_tables, py::arg("orig_table"),
          py::arg("num_cols_per_table"), py::arg("template_formatted") = true,
          py::arg("config") = py::none(),
          "create_multiple_tables(orig_table, num_cols_per_table, template_formatted=True, "
          "config=None)\n--\n\n"
          "OrderedDict {0: first num_cols_per_table columns, 1: the next ones, ...}, each group "
          "passed through format_table(group, config) when template_formatted.");
    m.def("table_filename_creator", &table_filename_creator, py::arg("dirname"), py::arg("config"),
          "table_filename_creator(dirname, config)\n--\n\n"
          "The name of the next table artifact: 'table_key_<n>' for the counter n in "
          "config.runtime['table_counter'] (then incremented when truthy), otherwise "
          "'table_key_' followed by a fresh key 'table_key_<32 hex digits>' unseen in dirname.");
}

}  // namespace vb::utils
