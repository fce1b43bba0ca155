// Markdown pipe tables laid out exactly as tabulate 0.10.0 lays out a frame
// with headers="keys", tablefmt="pipe" and a floatfmt of the form ",.Nf":
// column types inferred from every cell (number-like text counts as a
// number), decimal alignment of number columns, stripped left-aligned text,
// widths of at least the header plus two, ":" alignment markers.
//
// The writer only lays out what it can prove it lays out identically; for
// anything else (control characters that make tabulate switch to multi-line
// or invisible-code handling, wide-character widths, cells of unknown kinds)
// it throws UnsupportedTable and the caller renders the table another way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "text_view.hpp"

namespace vb::core {

enum class CellKind : unsigned char { missing, boolean, integer, grouped_integer, number, text };

// One cell as the writer sees it. grouped_integer is an integer already
// turned into text with "{:,}".
struct Cell {
    CellKind kind = CellKind::missing;
    bool flag = false;
    long long integer = 0;
    double number = 0;
    TextView text;
};

class CellSource {
  public:
    virtual ~CellSource() = default;
    virtual Cell cell(std::size_t row) const = 0;
};

// int() and float() of text the writer cannot read itself (non-ASCII text,
// very long digit strings, values beyond the double range).
struct TextNumber {
    bool is_int = false;     // int(text) succeeds
    bool is_float = false;   // float(text) succeeds
    bool is_number = false;  // and is finite, or text.lower() is "inf", "-inf" or "nan"
    double value = 0;        // float(text)
};

class NumberReader {
  public:
    virtual ~NumberReader() = default;
    virtual TextNumber read(const std::u32string &text) const = 0;
};

struct UnsupportedTable {};

struct PipeColumn {
    TextView header;
    bool escape_header = false;  // "_" shown as "\_"
    bool escape_cells = false;   // in text cells "_" shown as "\_" and "\n" as " "
    const CellSource *cells = nullptr;
};

struct PipeOptions {
    int float_precision = 3;
    bool float_grouping = true;
    std::size_t min_padding = 2;
    // Wide-character widths are in use: only printable ASCII has known widths.
    bool printable_ascii_only = false;
    // str.strip()'s whitespace (Unicode).
    bool (*is_space)(char32_t) = nullptr;
    const NumberReader *numbers = nullptr;
};

class PipeTable {
  public:
    // Lays the table out; throws UnsupportedTable.
    PipeTable(std::vector<PipeColumn> columns, std::size_t rows, PipeOptions options);

    // Code points of the whole text and the largest of them, so the caller
    // can allocate the result before `write` fills it.
    std::size_t length() const { return length_; }
    char32_t max_char() const { return max_char_; }

    void write(std::uint8_t *out) const;
    void write(std::uint16_t *out) const;
    void write(char32_t *out) const;

  private:
    enum class Type : unsigned char { none = 0, boolean = 1, integer = 2, number = 3, text = 5 };

    // A formatted cell: generated ASCII, or a range of a text cell.
    struct Piece {
        const std::string *ascii = nullptr;
        TextView text;
        std::size_t begin = 0;
        std::size_t end = 0;
        bool escaped = false;
        std::size_t length = 0;
        int decimals = -1;
    };

    struct Layout {
        Type type = Type::boolean;
        bool decimal = false;
        std::size_t width = 0;
        std::size_t header_length = 0;
        int max_decimals = -1;
    };

    Type cell_type(const Cell &cell, bool escaped);
    Piece format(const Cell &cell, const Layout &layout, bool escaped, std::string &scratch) const;
    void note_text(const TextView &text, bool newlines_as_spaces);
    void measure(std::size_t column);
    template <typename Unit>
    void write_all(Unit *out) const;

    std::vector<PipeColumn> columns_;
    std::vector<Layout> layouts_;
    std::size_t rows_;
    PipeOptions options_;
    std::size_t length_ = 0;
    char32_t max_char_ = 0;
};

}  // namespace vb::core
