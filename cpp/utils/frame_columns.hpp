// The columns of a pandas frame read at the native boundary: plain numpy
// arrays (float, integer, bool, object) and text columns, cell by cell
// without making Python objects, and str views for the table writer.
#pragma once

#include "vb/common.hpp"

#include <pybind11/numpy.h>

#include <cstring>
#include <optional>

#include "pipe_table.hpp"
#include "text_view.hpp"

namespace vb::utils {

enum class Storage { f32, f64, i8, i16, i32, i64, u8, u16, u32, u64, boolean, object };

inline core::TextView text_view(PyObject *text) {
#if PY_VERSION_HEX < 0x030C0000
    if (PyUnicode_READY(text) != 0) throw py::error_already_set();
#endif
    return core::TextView{PyUnicode_DATA(text),
                          static_cast<std::size_t>(PyUnicode_GET_LENGTH(text)),
                          static_cast<unsigned char>(PyUnicode_KIND(text))};
}

// One column's values, kept alive, read by row.
class FrameColumn {
  public:
    // The values of a Series or Index (anything with dtype and to_numpy):
    // nothing for kinds other than numpy float32/64, integers, bool and
    // object, and pandas text.
    static std::optional<FrameColumn> read(const py::object &values) {
        py::object dtype = values.attr("dtype");
        py::module_ np = py::module_::import("numpy");
        py::object array;
        if (py::isinstance(dtype, np.attr("dtype"))) {
            if (!py::bool_(dtype.attr("isnative"))) return std::nullopt;
            array = values.attr("to_numpy")();
        } else if (py::isinstance(dtype, import_attr("pandas", "StringDtype"))) {
            array = values.attr("to_numpy")("dtype"_a = py::dtype("O"));
        } else {
            return std::nullopt;
        }
        auto numpy = py::reinterpret_borrow<py::array>(array);
        if (numpy.ndim() != 1) return std::nullopt;
        auto storage = storage_of(numpy.dtype().kind(), numpy.itemsize());
        if (!storage) return std::nullopt;
        return FrameColumn(numpy, *storage);
    }

    Storage storage() const { return storage_; }
    std::size_t size() const { return size_; }
    bool is_float() const { return storage_ == Storage::f32 || storage_ == Storage::f64; }
    bool is_object() const { return storage_ == Storage::object; }
    bool is_integer() const { return !is_float() && !is_object() && storage_ != Storage::boolean; }

    template <typename T>
    T at(std::size_t row) const {
        T value;
        std::memcpy(&value, data_ + static_cast<Py_ssize_t>(row) * stride_, sizeof value);
        return value;
    }

    PyObject *object(std::size_t row) const { return at<PyObject *>(row); }
    bool flag(std::size_t row) const { return at<unsigned char>(row) != 0; }

    // The value of a float32 or float64 cell.
    double number(std::size_t row) const {
        return storage_ == Storage::f32 ? static_cast<double>(at<float>(row)) : at<double>(row);
    }

    // The value of an integer cell; false for an unsigned value beyond long long.
    bool integer(std::size_t row, long long &value) const {
        switch (storage_) {
            case Storage::i8:
                value = at<signed char>(row);
                return true;
            case Storage::i16:
                value = at<short>(row);
                return true;
            case Storage::i32:
                value = at<int>(row);
                return true;
            case Storage::i64:
                value = at<long long>(row);
                return true;
            case Storage::u8:
                value = at<unsigned char>(row);
                return true;
            case Storage::u16:
                value = at<unsigned short>(row);
                return true;
            case Storage::u32:
                value = at<unsigned int>(row);
                return true;
            default: {
                const auto wide = at<unsigned long long>(row);
                value = static_cast<long long>(wide);
                return wide <= static_cast<unsigned long long>(LLONG_MAX);
            }
        }
    }

    // The cell as a Python object, as the column gives it to a Python list
    // (float, int, bool, or the stored object).
    py::object python(std::size_t row) const {
        switch (storage_) {
            case Storage::f32:
            case Storage::f64:
                return py::float_(number(row));
            case Storage::boolean:
                return py::bool_(flag(row));
            case Storage::object:
                return py::reinterpret_borrow<py::object>(object(row));
            case Storage::u64:
                return py::reinterpret_steal<py::object>(
                    PyLong_FromUnsignedLongLong(at<unsigned long long>(row)));
            default: {
                long long value = 0;
                integer(row, value);
                return py::int_(value);
            }
        }
    }

  private:
    FrameColumn(const py::array &array, Storage storage)
        : array_(array),
          data_(static_cast<const char *>(array.data())),
          stride_(array.strides(0)),
          size_(static_cast<std::size_t>(array.shape(0))),
          storage_(storage) {}

    static std::optional<Storage> storage_of(char kind, Py_ssize_t size) {
        switch (kind) {
            case 'f':
                if (size == 4) return Storage::f32;
                if (size == 8) return Storage::f64;
                return std::nullopt;
            case 'i':
                if (size == 1) return Storage::i8;
                if (size == 2) return Storage::i16;
                if (size == 4) return Storage::i32;
                return Storage::i64;
            case 'u':
                if (size == 1) return Storage::u8;
                if (size == 2) return Storage::u16;
                if (size == 4) return Storage::u32;
                return Storage::u64;
            case 'b':
                return Storage::boolean;
            case 'O':
                return Storage::object;
            default:
                return std::nullopt;
        }
    }

    py::array array_;
    const char *data_;
    Py_ssize_t stride_;
    std::size_t size_;
    Storage storage_;
};

// A stored Python object as the table writer sees it.
inline core::Cell object_cell(PyObject *value) {
    core::Cell cell;
    if (value == Py_None) return cell;
    if (PyBool_Check(value)) {
        cell.kind = core::CellKind::boolean;
        cell.flag = value == Py_True;
    } else if (PyLong_CheckExact(value)) {
        int overflow = 0;
        cell.kind = core::CellKind::integer;
        cell.integer = PyLong_AsLongLongAndOverflow(value, &overflow);
        if (overflow != 0) throw core::UnsupportedTable{};
    } else if (PyFloat_CheckExact(value)) {
        cell.kind = core::CellKind::number;
        cell.number = PyFloat_AS_DOUBLE(value);
    } else if (PyUnicode_CheckExact(value)) {
        cell.kind = core::CellKind::text;
        cell.text = text_view(value);
    } else {
        throw core::UnsupportedTable{};
    }
    return cell;
}

// A frame column for the table writer; integers shown with "{:,}" when
// `grouped`.
class ColumnCells : public core::CellSource {
  public:
    ColumnCells(FrameColumn column, bool grouped) : column_(std::move(column)), grouped_(grouped) {}

    core::Cell cell(std::size_t row) const override {
        if (column_.is_object()) return object_cell(column_.object(row));
        core::Cell cell;
        if (column_.is_float()) {
            cell.kind = core::CellKind::number;
            cell.number = column_.number(row);
        } else if (column_.storage() == Storage::boolean) {
            cell.kind = core::CellKind::boolean;
            cell.flag = column_.flag(row);
        } else {
            cell.kind = grouped_ ? core::CellKind::grouped_integer : core::CellKind::integer;
            if (!column_.integer(row, cell.integer)) throw core::UnsupportedTable{};
        }
        return cell;
    }

  private:
    FrameColumn column_;
    bool grouped_;
};

// The row numbers of a RangeIndex, without making them.
class RangeCells : public core::CellSource {
  public:
    RangeCells(long long start, long long step) : start_(start), step_(step) {}

    core::Cell cell(std::size_t row) const override {
        core::Cell cell;
        cell.kind = core::CellKind::integer;
        cell.integer = start_ + step_ * static_cast<long long>(row);
        return cell;
    }

  private:
    long long start_;
    long long step_;
};

}  // namespace vb::utils
