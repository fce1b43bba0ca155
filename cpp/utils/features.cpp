// Feature tables and names: the most important rows of a feature table with
// the rest folded into "others" rows, and clean, unique column names.
#include "areas.hpp"

#include <algorithm>
#include <optional>
#include <unordered_set>

#include "ascii_classes.hpp"
#include "names.hpp"
#include "vb/pyops.hpp"
#include "vb/pytext.hpp"

namespace vb::utils {
namespace {

constexpr const char *kSeparators = "velmo_brevant.utils.separators";
// A length hint is only a hint: room beyond this is made as names come.
constexpr std::size_t kMostNamesReserved = std::size_t(1) << 22;

py::slice slice_to(const py::object &stop) { return py::slice(py::none(), stop, py::none()); }
py::slice slice_from(const py::object &start) { return py::slice(start, py::none(), py::none()); }

py::object order_rows(py::object tbl, const py::object &importance_col, bool sort_by_abs,
                      const py::object &ascending) {
    if (!sort_by_abs) return tbl.attr("sort_values")(importance_col, "ascending"_a = ascending);
    py::object order = tbl[importance_col].attr("abs")().attr("argsort")();
    if (!py::bool_(ascending)) order = order[py::slice(py::none(), py::none(), py::int_(-1))];
    return tbl.attr("iloc")[order];
}

py::object condense_table(const py::object &table, py::object top_n,
                          const py::object &importance_col, const py::object &differ_sign,
                          const py::object &sort_by_abs, const py::object &ascending,
                          const py::object &others_pos_str, const py::object &others_neg_str,
                          const py::object &others_all_str) {
    py::object tbl = order_rows(table, importance_col, py::bool_(sort_by_abs), ascending);
    // One folded row would stand for a single feature: show that feature instead.
    py::int_ rows(py::len(tbl));
    if (top_n.is_none() || python_equal(top_n + py::int_(1), rows)) top_n = rows;
    py::object rows_by_position = tbl.attr("iloc");
    py::object top = rows_by_position[slice_to(top_n)];
    py::object others = rows_by_position[slice_from(top_n)];
    if (py::len(others) == 0) return top;

    py::module_ pd = py::module_::import("pandas");
    py::object folded;
    if (py::bool_(differ_sign)) {
        py::object importance = others[importance_col];
        py::object positive = others[python_compare(importance, py::int_(0), Py_GE)].attr("sum")();
        py::object negative = others[python_compare(importance, py::int_(0), Py_LT)].attr("sum")();
        folded = pd.attr("DataFrame")(python_list(positive, negative),
                                      "index"_a = python_list(others_pos_str, others_neg_str));
    } else {
        folded = pd.attr("DataFrame")(python_list(others.attr("sum")()),
                                      "index"_a = python_list(others_all_str));
    }
    py::object result = pd.attr("concat")(python_list(top, folded));
    result.attr("index").attr("name") = tbl.attr("index").attr("name");
    return result;
}

py::object rename_col(const py::object &col_name, const py::object &orig_str,
                      const py::object &rep_str) {
    if (!col_name.contains(orig_str)) return col_name;
    return col_name.attr("replace")(orig_str, rep_str, 1);
}

py::str custom_strip(const py::str &x) {
    PyObject *text = x.ptr();
    if (PyUnicode_IS_ASCII(text)) {
        std::string_view ascii(reinterpret_cast<const char *>(PyUnicode_1BYTE_DATA(text)),
                               static_cast<size_t>(PyUnicode_GET_LENGTH(text)));
        std::string stripped = core::custom_strip<core::AsciiCharClasses>(ascii);
        PyObject *result = PyUnicode_FromKindAndData(PyUnicode_1BYTE_KIND, stripped.data(),
                                                     static_cast<Py_ssize_t>(stripped.size()));
        return py::reinterpret_steal<py::str>(steal_or_throw(result).release());
    }
    std::u32string code_points = to_u32(x);
    return from_u32(core::custom_strip<PyCharClasses>(std::u32string_view(code_points)));
}

std::u32string separator_text(const py::object &value, const char *name) {
    if (!py::isinstance<py::str>(value))
        raise(PyExc_TypeError, std::string("separators.") + name + " must hold str, got " +
                                   py::repr(value).cast<std::string>());
    return to_u32(value);
}

// The parts a sanitised name may not contain, in the order they are replaced.
std::vector<std::u32string> forbidden_parts(const py::module_ &separators) {
    std::vector<std::u32string> parts;
    for (const py::handle &part : separators.attr("can_t_haves"))
        parts.push_back(separator_text(py::reinterpret_borrow<py::object>(part), "can_t_haves"));
    for (const char *name : {"orig_feat_prefix", "extra_prefix", "col_sep"})
        parts.push_back(separator_text(separators.attr(name), name));
    return parts;
}

// Makes every name unique by appending the separator; with an empty separator
// a repeated name can never be made unique and is refused.
class NameRegister {
  public:
    NameRegister(const std::u32string &separator, std::size_t expected_names)
        : separator_(separator) {
        if (separator.empty()) return;
        namer_.emplace(separator);
        namer_->reserve(expected_names);
    }

    void add(std::u32string &name) {
        if (!namer_) {
            if (!taken_.insert(name).second)
                raise(PyExc_ValueError, "separators.san_sep is empty, so the repeated name " +
                                            py::repr(from_u32(name)).cast<std::string>() +
                                            " cannot be made unique");
            return;
        }
        for (std::size_t copies = namer_->add(name); copies > 0; --copies) name += separator_;
    }

  private:
    std::u32string separator_;
    std::optional<core::UniqueNamer> namer_;
    std::unordered_set<std::u32string> taken_;
};

py::list sanitize_string_list(const py::object &strings, const py::object &logger) {
    py::module_ separators = py::module_::import(kSeparators);
    const std::vector<std::u32string> forbidden = forbidden_parts(separators);
    const std::u32string separator = separator_text(separators.attr("san_sep"), "san_sep");
    const bool check_none =
        py::int_(import_attr("sys", "flags").attr("optimize")).cast<long>() == 0;
    NameRegister names(separator, std::min(py::len_hint(strings), kMostNamesReserved));
    py::object info = logger.attr("info");
    py::list ret;
    for (const py::handle &item : strings) {
        if (check_none && item.is_none()) raise(PyExc_AssertionError, "can't sanitize None");
        py::str orig = python_str(item);
        const std::u32string orig_text = to_u32(orig);
        std::u32string text = orig_text;
        for (const std::u32string &part : forbidden) core::replace_all(text, part, separator);
        names.add(text);
        if (text == orig_text) {
            // A str subclass from str() comes back from str.replace as a plain str.
            ret.append(PyUnicode_CheckExact(orig.ptr()) ? orig : from_u32(text));
            continue;
        }
        py::str sanitized = from_u32(text);
        info(py::str("Sanitized: {} -> {}").format(orig, sanitized));
        ret.append(sanitized);
    }
    return ret;
}

py::object get_unseen_value(const py::object &iterable, const py::object &base_string) {
    py::object unique_values = steal_or_throw(PySet_New(iterable.ptr()));
    if (!unique_values.contains(base_string)) return base_string;
    // The base is user text: it is joined to the index, never used as a format pattern.
    py::object prefix = base_string + py::str("_[");
    py::object randint = import_attr("numpy.random", "randint");
    py::object random_index = py::str("1");
    py::object candidate = prefix + random_index + py::str("]");
    while (unique_values.contains(candidate)) {
        random_index = random_index + python_str(randint(10));
        candidate = prefix + random_index + py::str("]");
    }
    return candidate;
}

}  // namespace

void register_features(py::module_ &m) {
    py::module_::import(kSeparators);

    m.def("condense_table", &condense_table, py::arg("tbl"), py::arg("top_n"),
          py::arg("importance_col"), py::arg("differ_sign") = false, py::arg("sort_by_abs") = false,
          py::arg("ascending") = false, py::arg("others_pos_str") = "Others (Positive)",
          py::arg("others_neg_str") = "Others (Negative)", py::arg("others_all_str") = "Others",
          "condense_table(tbl, top_n, importance_col, differ_sign=False, sort_by_abs=False, "
          "ascending=False, others_pos_str='Others (Positive)', "
          "others_neg_str='Others (Negative)', others_all_str='Others')\n--\n\n"
          "The top_n most important rows of a feature table followed by the column sums of "
          "the other rows, as a new DataFrame (tbl is not changed).\n\n"
          "Rows are ordered by importance_col (by its absolute value with sort_by_abs), "
          "largest first unless ascending. The other rows are folded into one row labelled "
          "others_all_str, or with differ_sign into two rows, others_pos_str (importance >= 0) "
          "and others_neg_str (importance < 0), both always present. With top_n None, or when "
          "only one row would be folded, every row is shown. The index name of tbl is kept.");
    m.def("rename_col", &rename_col, py::arg("col_name"), py::arg("orig_str"), py::arg("rep_str"),
          "rename_col(col_name, orig_str, rep_str)\n--\n\n"
          "col_name with the first occurrence of orig_str replaced by rep_str "
          "('Coefficients_Class_0' -> 'Coef_Class_0'), or col_name itself when orig_str does "
          "not occur.");
    m.def("custom_strip", &custom_strip, py::arg("x"),
          "custom_strip(x)\n--\n\n"
          "x (a str) as an identifier-like name: every character that is neither a word "
          "character nor whitespace becomes '_', the ends are stripped of whitespace, and each "
          "inner run of whitespace becomes one '_' (' Age (years) ' -> 'Age__years_').\n\n"
          "Word characters and whitespace are Unicode-aware, as in Python's re.");
    m.def("sanitize_string_list", &sanitize_string_list, py::arg("strings"), py::arg("logger"),
          "sanitize_string_list(strings, logger)\n--\n\n"
          "A new list of the str() of each item of strings, in order, with every entry of "
          "separators.can_t_haves, then orig_feat_prefix, extra_prefix and col_sep, replaced by "
          "separators.san_sep, and san_sep appended to a name until it differs from every "
          "name before it.\n\n"
          "Each changed name is logged through logger.info as 'Sanitized: <orig> -> <name>'. "
          "A None item raises AssertionError(\"can't sanitize None\") unless Python runs "
          "optimised (-O), where it becomes 'None'.");
    m.def("get_unseen_value", &get_unseen_value, py::arg("iterable"), py::arg("base_string"),
          "get_unseen_value(iterable, base_string)\n--\n\n"
          "base_string when it is not among the values of iterable; otherwise the first of "
          "base_string + '_[1]', '_[1d]', '_[1dd]', ... (each d a digit drawn from NumPy's "
          "global random generator) that is not among them. Braces in base_string are kept "
          "as they are.");
}

}  // namespace vb::utils
