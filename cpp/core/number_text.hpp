// Numbers read and written exactly as the interpreter does: int() and float()
// of ASCII text, float formatting with the format-spec types f, g and e, float
// repr, integer thousands grouping, numpy's rounding to decimals, and the
// common one-field str.format patterns for floats.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vb::core {

enum class Verdict : unsigned char { no, yes, undecided };

// int(text) for ASCII text: yes or no; undecided for text with non-ASCII
// characters and for more digits than the interpreter's smallest limit on
// integer text allows.
Verdict read_python_int(std::string_view text);

// float(text) for ASCII text; `value` is set when the verdict is yes.
// Undecided for non-ASCII text and for values out of the double range (the
// interpreter gives inf or 0.0 there).
Verdict read_python_float(std::string_view text, double &value);

// re.match(r"^(([+-]?[0-9]{1,3})(?:,([0-9]{3}))*)?(?(1)\.[0-9]*|\.[0-9]+)?$",
// text): numbers written with comma thousands separators (the empty text
// matches too).
bool is_thousands_number(std::string_view text);

// text.lower() in ("inf", "-inf", "nan")
bool is_special_float_word(std::string_view text);

// format(value, ".<precision>f"), with "," grouping when `grouping`.
void append_fixed(std::string &out, double value, int precision, bool grouping);
// format(value, ".<precision>g")
void append_general(std::string &out, double value, int precision);
// format(value, ".<precision>e")
void append_exponent(std::string &out, double value, int precision);
// repr(value), which is also str(value) and f"{value}".
void append_repr(std::string &out, double value);
// str(value), or "{:,}".format(value) when `grouping`; write_integer writes
// at most kIntegerRoom characters and returns how many.
constexpr std::size_t kIntegerRoom = 27;
std::size_t write_integer(char *out, long long value, bool grouping);
void append_integer(std::string &out, long long value, bool grouping);

// numpy.round(value, decimals) for float64 and float32 values: scaled by a
// power of ten, rounded half to even, scaled back, in the value's own
// precision.
double numpy_round(double value, int decimals);
float numpy_round(float value, int decimals);

// A str.format pattern whose one replacement field formats a float with type
// f, g or e, an optional width, optional "," grouping (type f only) and an
// optional precision, between literal ASCII text without braces:
// "{:6.4g}", "{:.2f}", "{0:,.1f} %".
struct FloatPattern {
    std::string prefix;
    std::string suffix;
    std::size_t width = 0;
    bool grouping = false;
    int precision = 6;
    char type = 'g';
};

// False for any pattern outside that form (the caller formats those itself).
bool parse_float_pattern(std::string_view pattern, FloatPattern &out);
// pattern.format(value)
void append_float_pattern(std::string &out, double value, const FloatPattern &pattern);

}  // namespace vb::core
