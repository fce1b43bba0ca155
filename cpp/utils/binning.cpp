// Model data as report numbers: bin bounds, log odds, validation scores read
// from a performance table, and the statistics of one dataset column.
#include "areas.hpp"

#include <pybind11/numpy.h>

#include "bin_bounds.hpp"
#include "vb/pyops.hpp"
#include "vb/pytext.hpp"

namespace vb::utils {
namespace {

using DoubleArray = py::array_t<double, py::array::c_style | py::array::forcecast>;

// Quantile bounds read through the platform library; both temporary frames it
// makes are removed there.
py::object platform_quantiles(const py::object &frame, const py::object &probabilities,
                              const py::object &velmo) {
    py::object quantile_frame = frame.attr("quantile")(probabilities.attr("tolist")());
    py::object quantiles = quantile_frame[py::int_(1)];
    py::object column = quantiles.attr("as_data_frame")().attr(
        "iloc")[py::make_tuple(py::slice(py::none(), py::none(), py::none()), 0)];
    py::object bounds = column.attr("tolist")();
    velmo.attr("remove")(python_list(quantiles, quantile_frame));
    return bounds;
}

// builtins.min and builtins.max over a float64 vector, without making a
// scalar object per element: the same `<` and `>` walks, NaN included.
bool float_vector_extremes(const py::object &x, py::object &minimum, py::object &maximum) {
    py::object ndarray = import_attr("numpy", "ndarray");
    if (Py_TYPE(x.ptr()) != reinterpret_cast<PyTypeObject *>(ndarray.ptr()) ||
        !py::isinstance<py::array_t<double>>(x))
        return false;
    auto values = py::reinterpret_borrow<py::array_t<double>>(x);
    if (values.ndim() != 1 || values.size() == 0) return false;
    auto view = values.unchecked<1>();
    double low = view(0);
    double high = view(0);
    for (py::ssize_t i = 1; i < view.shape(0); ++i) {
        const double value = view(i);
        if (value < low) low = value;
        if (value > high) high = value;
    }
    py::object scalar = py::module_::import("numpy").attr("float64");
    minimum = scalar(low);
    maximum = scalar(high);
    return true;
}

py::object equal_width_bounds(const py::object &x, const py::object &n_bins,
                              const py::object &velmo) {
    py::object minimum;
    py::object maximum;
    if (!velmo.is_none()) {
        py::object present = x.attr("na_omit")();
        minimum = present.attr("min")();
        maximum = present.attr("max")();
    } else if (!float_vector_extremes(x, minimum, maximum)) {
        minimum = import_attr("builtins", "min")(x);
        maximum = import_attr("builtins", "max")(x);
    }
    return py::module_::import("numpy").attr("linspace")(minimum, maximum, n_bins + py::int_(1));
}

py::object get_bins(const py::object &x, py::object n_bins, const py::object &bin_type,
                    const py::object &lower_inf, const py::object &upper_inf,
                    const py::object &velmo) {
    py::module_ np = py::module_::import("numpy");
    if (n_bins < py::int_(1)) n_bins = py::int_(1);
    py::object bounds;
    if (python_equal(bin_type, py::str("quantile"))) {
        py::object probabilities = np.attr("linspace")(0, n_bins, n_bins + py::int_(1)) / n_bins;
        bounds = velmo.is_none() ? np.attr("quantile")(x, probabilities)
                                 : platform_quantiles(x, probabilities, velmo);
    } else {
        bounds = equal_width_bounds(x, n_bins, velmo);
    }
    // A fresh sorted float64 vector, cleaned in place.
    DoubleArray sorted(np.attr("sort")(np.attr("asarray")(bounds, "dtype"_a = np.attr("float64"))));
    const bool open_ends = velmo.is_none();
    std::vector<std::size_t> dropped =
        core::clean_bounds(sorted.mutable_data(), static_cast<std::size_t>(sorted.size()),
                           open_ends && py::bool_(lower_inf), open_ends && py::bool_(upper_inf));
    py::object series = import_attr("pandas", "Series")(sorted);
    if (dropped.empty()) return series;
    return series.attr("drop")(py::cast(dropped));
}

py::object log_odds(const py::object &x, const py::object &logger) {
    try {
        py::module_ np = py::module_::import("numpy");
        py::object values = np.attr("array")(x);
        py::object certain =
            python_compare(values, py::int_(0), Py_EQ) | python_compare(values, py::int_(1), Py_EQ);
        values[certain] = np.attr("nan");
        return np.attr("log")(values / (py::int_(1) - values));
    } catch (py::error_already_set &error) {
        if (!is_exception(error)) throw;
        py::str message = py::str("Error when computing log odds: {}").format(error.value());
        logger.attr("warning")(message);
        return import_attr("numpy", "nan");
    }
}

// str(x) without its dots is non-empty and all digits (str.isdigit).
bool is_float(const py::object &x) {
    py::str text = python_str(x);
    PyObject *object = text.ptr();
    const int kind = PyUnicode_KIND(object);
    const void *data = PyUnicode_DATA(object);
    bool any_digit = false;
    for (Py_ssize_t i = 0, n = PyUnicode_GET_LENGTH(object); i < n; ++i) {
        const char32_t c = PyUnicode_READ(kind, data, i);
        if (c == U'.') continue;
        if (!PyCharClasses::is_digit(c)) return false;
        any_digit = true;
    }
    return any_digit;
}

py::object validation_score_column(const py::object &performance_table) {
    for (const py::handle &column : performance_table.attr("columns")) {
        py::object name = column.attr("lower")();
        if (name.contains("validation") && name.contains("score") && name.contains("final"))
            return py::reinterpret_borrow<py::object>(column);
    }
    raise(PyExc_KeyError, "no final validation score column");
}

py::object lookup_val_score(const py::object &performance_table, const py::object &scorer) {
    try {
        py::object column = validation_score_column(performance_table);
        py::object cells = performance_table.attr("loc");
        if (performance_table.attr("index").contains(scorer)) {
            py::object cell = cells[py::make_tuple(scorer, column)];
            if (is_float(cell)) return python_float(cell);
        }
        py::object conversion = utils_attr("score_convert_map")[scorer];
        py::object source = cells[py::make_tuple(conversion["score"], column)];
        return conversion["fn"](python_float(source));
    } catch (const std::exception &) {
        // Any failure, an interruption included, means "no score".
        return py::none();
    }
}

py::object get_stats_data(const py::object &data, const py::object &col) {
    for (const py::handle &column : data.attr("columns")) {
        if (!python_equal(column.attr("name"), col)) continue;
        py::object stats = column.attr("stats");
        py::object chosen =
            stats.attr(py::bool_(stats.attr("is_numeric")) ? "numeric" : "non_numeric");
        py::object data_type = column.attr("data_type");
        if (python_equal(data_type, py::str("int")) || python_equal(data_type, py::str("real"))) {
            py::list ticks;
            for (const py::handle &tick : chosen.attr("hist_ticks"))
                ticks.append(python_float(tick));
            chosen.attr("hist_ticks") = ticks;
        }
        return chosen;
    }
    PyErr_SetNone(PyExc_StopIteration);
    throw py::error_already_set();
}

py::dict make_score_convert_map() {
    py::cpp_function gini_from_auc(
        [](const py::object &x) { return py::int_(2) * x - py::int_(1); },
        py::name("gini_from_auc"), py::arg("x"),
        "gini_from_auc(x)\n--\n\nGini from AUC: 2 * x - 1.");
    py::cpp_function auc_from_gini(
        [](const py::object &x) { return (x + py::int_(1)) / py::int_(2); },
        py::name("auc_from_gini"), py::arg("x"),
        "auc_from_gini(x)\n--\n\nAUC from Gini: (x + 1) / 2.");
    py::dict map;
    map["GINI"] = py::dict("score"_a = "AUC", "fn"_a = gini_from_auc);
    map["AUC"] = py::dict("score"_a = "GINI", "fn"_a = auc_from_gini);
    return map;
}

const char *const kGetBinsDoc =
    "get_bins(x, n_bins, bin_type='quantile', lower_inf=True, upper_inf=True, velmo=None)\n"
    "--\n\n"
    "Derive bins either by equal height (quantiles - default) or equal width.\n\n"
    "Parameters\n"
    "----------\n"
    "x : array, pandas Series or list of numbers, or a one-column VelmoFrame when velmo is "
    "given\n"
    "    The values to bin. Missing values are not removed, except on a VelmoFrame with "
    "equal width.\n"
    "n_bins : int\n"
    "    The number of bins; a number below 1 counts as 1.\n"
    "bin_type : str, default 'quantile'\n"
    "    'quantile' for bins of equal height (the 0, 1/n_bins, ..., 1 quantiles of x); any "
    "other value for n_bins bins of equal width between the minimum and the maximum of x.\n"
    "lower_inf : bool, default True\n"
    "    Replace the lowest bound by -inf.\n"
    "upper_inf : bool, default True\n"
    "    Replace the highest bound by +inf.\n"
    "velmo : module, optional\n"
    "    The modelling platform's client library, imported and connected, when x is a "
    "VelmoFrame. The bounds are then computed on the platform, its temporary frames are "
    "removed, and lower_inf and upper_inf have no effect.\n\n"
    "Returns\n"
    "-------\n"
    "pandas.Series\n"
    "    The lower bounds of the bins as floats, ascending. The index labels are the "
    "positions 0 ... n_bins of the sorted bounds; a bound equal to the one before it is "
    "dropped with its label, as long as at least two bounds remain, so the labels need not "
    "be consecutive.\n\n"
    "Examples\n"
    "--------\n"
    ">>> get_bins([0, 0, 0, 1, 1, 2], 5)\n"
    "0   -inf\n"
    "3    1.0\n"
    "5    inf\n"
    "dtype: float64\n\n"
    "The quantile bounds are 0, 0, 0, 1, 1, 2: the labels 1, 2 and 4 repeat the bound before "
    "them and are dropped, the first bound becomes -inf and the last +inf.";

}  // namespace

void register_binning(py::module_ &m) {
    py::module_::import("numpy");
    py::module_::import("pandas");
    m.attr("score_convert_map") = make_score_convert_map();

    m.def("get_bins", &get_bins, py::arg("x"), py::arg("n_bins"), py::arg("bin_type") = "quantile",
          py::arg("lower_inf") = true, py::arg("upper_inf") = true, py::arg("velmo") = py::none(),
          kGetBinsDoc);
    m.def("log_odds", &log_odds, py::arg("x"), py::arg("logger"),
          "log_odds(x, logger)\n--\n\n"
          "log(x / (1 - x)) element by element, as a NumPy array (a NumPy number for a scalar), "
          "with NaN where x is 0 or 1. x itself is not changed.\n\n"
          "An error (for example an integer array holding 0 or 1, which cannot take NaN) is "
          "logged through logger.warning as 'Error when computing log odds: <error>' and NaN is "
          "returned.");
    m.def("is_float", &is_float, py::arg("x"),
          "is_float(x)\n--\n\n"
          "Whether str(x) without its dots is a non-empty run of digits (str.isdigit): True "
          "for 0.85 and 3, False for -0.2, 1e-05, nan and ''.");
    m.def("lookup_val_score", &lookup_val_score, py::arg("performance_table"), py::arg("scorer"),
          "lookup_val_score(performance_table, scorer)\n--\n\n"
          "The final validation score named scorer from a performance table (a DataFrame "
          "indexed by score names), as a float.\n\n"
          "The score column is the first whose lower-cased name contains 'validation', "
          "'score' and 'final'. A scorer missing from the index, or whose cell is not a plain "
          "non-negative number (is_float), is computed from its partner in score_convert_map: "
          "GINI = 2 * AUC - 1, AUC = (GINI + 1) / 2. Returns None on any failure.");
    m.def("get_stats_data", &get_stats_data, py::arg("data"), py::arg("col"),
          "get_stats_data(data, col)\n--\n\n"
          "The statistics object of the column named col in a dataset description: "
          "stats.numeric for a numeric column, stats.non_numeric otherwise. For a column of "
          "data_type 'int' or 'real' its hist_ticks are replaced, in place, by a list of "
          "floats.\n\n"
          "Raises StopIteration when no column is named col.");
}

}  // namespace vb::utils
