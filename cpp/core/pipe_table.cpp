#include "pipe_table.hpp"

#include <algorithm>
#include <cmath>
#include <string_view>

#include "number_text.hpp"

namespace vb::core {
namespace {

bool equals_ascii(const TextView &text, std::string_view word) {
    if (text.length != word.size()) return false;
    for (std::size_t i = 0; i < word.size(); ++i)
        if (text[i] != static_cast<unsigned char>(word[i])) return false;
    return true;
}

// The code point shown for text[i] when newlines are shown as spaces.
char32_t shown(const TextView &text, std::size_t i, bool newlines_as_spaces) {
    const char32_t c = text[i];
    return (newlines_as_spaces && c == U'\n') ? U' ' : c;
}

// The text with the escapes applied, as ASCII; false when it has other
// characters.
bool escaped_ascii(const TextView &text, bool escaped, bool drop_commas, std::string &out) {
    out.clear();
    for (std::size_t i = 0; i < text.length; ++i) {
        const char32_t c = shown(text, i, escaped);
        if (c >= 0x80) return false;
        if (drop_commas && c == U',') continue;
        if (escaped && c == U'_') out.push_back('\\');
        out.push_back(static_cast<char>(c));
    }
    return true;
}

std::u32string escaped_u32(const TextView &text, bool escaped, bool drop_commas) {
    std::u32string out;
    for (std::size_t i = 0; i < text.length; ++i) {
        const char32_t c = shown(text, i, escaped);
        if (drop_commas && c == U',') continue;
        if (escaped && c == U'_') out.push_back(U'\\');
        out.push_back(c);
    }
    return out;
}

std::size_t escaped_length(const TextView &text, std::size_t begin, std::size_t end,
                           bool escape_underscores) {
    std::size_t length = end - begin;
    if (escape_underscores)
        for (std::size_t i = begin; i < end; ++i) length += text[i] == U'_';
    return length;
}

TextNumber read_with(const NumberReader *numbers, const std::u32string &text) {
    if (numbers == nullptr) throw UnsupportedTable{};
    return numbers->read(text);
}

// int() and float() of the text as tabulate sees it (escapes applied).
struct Reading {
    bool is_int = false;
    bool is_number = false;
    bool thousands = false;
    bool has_point = false;
};

Reading read_text(const TextView &text, bool escaped, const NumberReader *numbers,
                  std::string &scratch) {
    Reading reading;
    if (!escaped_ascii(text, escaped, false, scratch)) {
        // tabulate's thousands pattern only matches ASCII.
        const TextNumber number = read_with(numbers, escaped_u32(text, escaped, false));
        reading.is_int = number.is_int;
        reading.is_number = number.is_number;
        return reading;
    }
    double value = 0;
    const Verdict as_int = read_python_int(scratch);
    const Verdict as_float = read_python_float(scratch, value);
    if (as_int == Verdict::undecided || as_float == Verdict::undecided) {
        const TextNumber number = read_with(numbers, escaped_u32(text, escaped, false));
        reading.is_int = number.is_int;
        reading.is_number = number.is_number;
    } else {
        reading.is_int = as_int == Verdict::yes;
        reading.is_number =
            as_float == Verdict::yes && (std::isfinite(value) || is_special_float_word(scratch));
    }
    reading.thousands = is_thousands_number(scratch);
    reading.has_point = scratch.find('.') != std::string::npos;
    return reading;
}

// float() of a text cell in a number column, after tabulate drops its commas;
// false when float() refuses it (tabulate then shows the text as it is).
bool text_value(const TextView &text, bool escaped, const NumberReader *numbers,
                std::string &scratch, double &value) {
    if (escaped_ascii(text, escaped, true, scratch)) {
        const Verdict verdict = read_python_float(scratch, value);
        if (verdict != Verdict::undecided) return verdict == Verdict::yes;
    }
    const TextNumber number = read_with(numbers, escaped_u32(text, escaped, true));
    value = number.value;
    return number.is_float;
}

}  // namespace

PipeTable::PipeTable(std::vector<PipeColumn> columns, std::size_t rows, PipeOptions options)
    : columns_(std::move(columns)), layouts_(columns_.size()), rows_(rows), options_(options) {
    if (columns_.empty() || rows_ == 0 || options_.is_space == nullptr) throw UnsupportedTable{};
    std::size_t line = 1;
    for (std::size_t column = 0; column < columns_.size(); ++column) {
        measure(column);
        line += layouts_[column].width + 3;
    }
    const std::size_t lines = rows_ + 2;
    length_ = lines * line + (lines - 1);
    max_char_ = std::max<char32_t>(max_char_, U'|');
}

// Refuses text that would make tabulate leave its single-line plain-text
// layout: line breaks, ANSI escapes, its separating-line marker, and any
// character without a known width when wide characters are measured.
void PipeTable::note_text(const TextView &text, bool newlines_as_spaces) {
    for (std::size_t i = 0; i < text.length; ++i) {
        const char32_t c = shown(text, i, newlines_as_spaces);
        if (c == U'\x01' || c == U'\x1b' || c == U'\r' || c == U'\n') throw UnsupportedTable{};
        if (options_.printable_ascii_only && (c < 0x20 || c > 0x7e)) throw UnsupportedTable{};
    }
}

PipeTable::Type PipeTable::cell_type(const Cell &cell, bool escaped) {
    switch (cell.kind) {
        case CellKind::missing:
            return Type::none;
        case CellKind::boolean:
            return Type::boolean;
        case CellKind::integer:
        case CellKind::grouped_integer:
            return Type::integer;
        case CellKind::number:
            return Type::number;
        case CellKind::text:
            break;
    }
    note_text(cell.text, escaped);
    if (cell.text.length == 0) return Type::none;
    if (equals_ascii(cell.text, "True") || equals_ascii(cell.text, "False")) return Type::boolean;
    std::string scratch;
    const Reading reading = read_text(cell.text, escaped, options_.numbers, scratch);
    if (reading.is_int || (reading.thousands && !reading.has_point)) return Type::integer;
    if (reading.is_number || reading.thousands) return Type::number;
    return Type::text;
}

PipeTable::Piece PipeTable::format(const Cell &cell, const Layout &layout, bool escaped,
                                   std::string &scratch) const {
    Piece piece;
    scratch.clear();
    piece.ascii = &scratch;
    auto whole_text = [&]() {
        piece.ascii = nullptr;
        piece.text = cell.text;
        piece.end = cell.text.length;
        piece.escaped = escaped;
        piece.length = escaped_length(cell.text, 0, piece.end, escaped);
        return piece;
    };
    auto generated = [&](int decimals) {
        piece.length = scratch.size();
        piece.decimals = decimals;
        return piece;
    };
    if (cell.kind == CellKind::missing) return generated(-1);
    if (cell.kind == CellKind::boolean && layout.type != Type::number) {
        scratch = cell.flag ? "True" : "False";
        return generated(-1);
    }
    switch (layout.type) {
        case Type::integer:
            switch (cell.kind) {
                case CellKind::integer:
                case CellKind::grouped_integer:
                    append_integer(scratch, cell.integer, cell.kind == CellKind::grouped_integer);
                    return generated(-1);
                case CellKind::text:
                    return whole_text();
                default:
                    throw UnsupportedTable{};
            }
        case Type::number: {
            double value = 0;
            switch (cell.kind) {
                case CellKind::boolean:
                    value = cell.flag ? 1.0 : 0.0;
                    break;
                case CellKind::integer:
                case CellKind::grouped_integer:
                    value = static_cast<double>(cell.integer);
                    break;
                case CellKind::number:
                    value = cell.number;
                    break;
                default:
                    if (cell.text.length == 0) return generated(-1);
                    if (!text_value(cell.text, escaped, options_.numbers, scratch, value))
                        return whole_text();
                    scratch.clear();
            }
            append_fixed(scratch, value, options_.float_precision, options_.float_grouping);
            const bool point = std::isfinite(value) && options_.float_precision > 0;
            return generated(point ? options_.float_precision : -1);
        }
        default:
            switch (cell.kind) {
                case CellKind::integer:
                case CellKind::grouped_integer:
                    append_integer(scratch, cell.integer, cell.kind == CellKind::grouped_integer);
                    return generated(-1);
                case CellKind::number:
                    append_repr(scratch, cell.number);
                    return generated(-1);
                default: {
                    // Left-aligned text is shown stripped.
                    std::size_t begin = 0;
                    std::size_t end = cell.text.length;
                    while (begin < end && options_.is_space(cell.text[begin])) ++begin;
                    while (end > begin && options_.is_space(cell.text[end - 1])) --end;
                    piece.ascii = nullptr;
                    piece.text = cell.text;
                    piece.begin = begin;
                    piece.end = end;
                    piece.escaped = escaped;
                    piece.length = escaped_length(cell.text, begin, end, escaped);
                    return piece;
                }
            }
    }
}

void PipeTable::measure(std::size_t column) {
    const PipeColumn &source = columns_[column];
    Layout &layout = layouts_[column];
    note_text(source.header, false);
    layout.header_length =
        escaped_length(source.header, 0, source.header.length, source.escape_header);
    for (std::size_t i = 0; i < source.header.length; ++i)
        max_char_ = std::max(max_char_, source.header[i]);

    for (std::size_t row = 0; row < rows_; ++row)
        layout.type =
            std::max(layout.type, cell_type(source.cells->cell(row), source.escape_cells));
    layout.decimal = layout.type == Type::integer || layout.type == Type::number;

    std::string scratch;
    long long widest = 0;  // largest length minus decimals (decimal columns)
    for (std::size_t row = 0; row < rows_; ++row) {
        const Piece piece = format(source.cells->cell(row), layout, source.escape_cells, scratch);
        if (layout.decimal) {
            layout.max_decimals = std::max(layout.max_decimals, piece.decimals);
            widest = std::max(widest, static_cast<long long>(piece.length) - piece.decimals);
        } else {
            widest = std::max(widest, static_cast<long long>(piece.length));
        }
        if (piece.ascii != nullptr) continue;
        for (std::size_t i = piece.begin; i < piece.end; ++i) {
            const char32_t c = shown(piece.text, i, piece.escaped);
            max_char_ = std::max(max_char_, c);
        }
    }
    const long long content = layout.decimal ? widest + layout.max_decimals : widest;
    layout.width =
        std::max(layout.header_length + options_.min_padding, static_cast<std::size_t>(content));
}

template <typename Unit>
void PipeTable::write_all(Unit *out) const {
    auto put = [&out](char32_t c) { *out++ = static_cast<Unit>(c); };
    auto repeat = [&put](char32_t c, std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) put(c);
    };
    auto text = [&put](const TextView &view, std::size_t begin, std::size_t end,
                       bool escape_underscores, bool newlines_as_spaces) {
        for (std::size_t i = begin; i < end; ++i) {
            const char32_t c = shown(view, i, newlines_as_spaces);
            if (escape_underscores && c == U'_') put(U'\\');
            put(c);
        }
    };

    put(U'|');
    for (std::size_t column = 0; column < columns_.size(); ++column) {
        const PipeColumn &source = columns_[column];
        const Layout &layout = layouts_[column];
        const std::size_t pad = layout.width - layout.header_length;
        put(U' ');
        if (layout.decimal) repeat(U' ', pad);
        text(source.header, 0, source.header.length, source.escape_header, false);
        if (!layout.decimal) repeat(U' ', pad);
        put(U' ');
        put(U'|');
    }
    put(U'\n');
    put(U'|');
    for (const Layout &layout : layouts_) {
        if (!layout.decimal) put(U':');
        repeat(U'-', layout.width + 1);
        if (layout.decimal) put(U':');
        put(U'|');
    }

    std::string scratch;
    for (std::size_t row = 0; row < rows_; ++row) {
        put(U'\n');
        put(U'|');
        for (std::size_t column = 0; column < columns_.size(); ++column) {
            const PipeColumn &source = columns_[column];
            const Layout &layout = layouts_[column];
            const Piece piece =
                format(source.cells->cell(row), layout, source.escape_cells, scratch);
            const std::size_t trailing =
                layout.decimal ? static_cast<std::size_t>(layout.max_decimals - piece.decimals) : 0;
            const std::size_t pad = layout.width - piece.length - trailing;
            put(U' ');
            if (layout.decimal) repeat(U' ', pad);
            if (piece.ascii != nullptr) {
                for (char c : *piece.ascii) put(static_cast<unsigned char>(c));
            } else {
                text(piece.text, piece.begin, piece.end, piece.escaped, piece.escaped);
            }
            repeat(U' ', trailing);
            if (!layout.decimal) repeat(U' ', pad);
            put(U' ');
            put(U'|');
        }
    }
}

void PipeTable::write(std::uint8_t *out) const { write_all(out); }
void PipeTable::write(std::uint16_t *out) const { write_all(out); }
void PipeTable::write(char32_t *out) const { write_all(out); }

}  // namespace vb::core
