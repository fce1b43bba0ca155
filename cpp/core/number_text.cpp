#include "number_text.hpp"

#include <charconv>
#include <cmath>

namespace vb::core {
namespace {

// The interpreter gives integer text of up to 640 digits to int() under any
// setting of its digit limit.
constexpr std::size_t kSafeIntDigits = 640;
constexpr std::size_t kLargestWidth = 1000;
constexpr int kLargestPrecision = 100;

bool is_ascii(std::string_view text) {
    for (char c : text)
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    return true;
}

// Py_ISSPACE: the only whitespace int() and float() skip around ASCII text.
bool is_number_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

bool is_digit(char c) { return c >= '0' && c <= '9'; }

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool equals_ignoring_case(std::string_view text, std::string_view word) {
    if (text.size() != word.size()) return false;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (lower(text[i]) != word[i]) return false;
    return true;
}

std::string_view strip_number_space(std::string_view text) {
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && is_number_space(text[begin])) ++begin;
    while (end > begin && is_number_space(text[end - 1])) --end;
    return text.substr(begin, end - begin);
}

// Digits with single underscores between them, from text[i]; appends the
// digits to `digits` and returns how many there were (0: none, i unchanged).
std::size_t read_digits(std::string_view text, std::size_t &i, std::string *digits) {
    std::size_t count = 0;
    while (i < text.size()) {
        if (is_digit(text[i])) {
            if (digits) digits->push_back(text[i]);
            ++count;
            ++i;
        } else if (text[i] == '_' && count > 0 && i + 1 < text.size() && is_digit(text[i + 1])) {
            ++i;
        } else {
            break;
        }
    }
    return count;
}

// nan and inf as format() writes them for every float type: no sign on nan.
bool append_special(std::string &out, double value) {
    if (std::isnan(value)) {
        out += "nan";
        return true;
    }
    if (std::isinf(value)) {
        out += value < 0 ? "-inf" : "inf";
        return true;
    }
    return false;
}

template <typename... Format>
void append_chars(std::string &out, std::size_t room, double value, Format... format) {
    const std::size_t start = out.size();
    out.resize(start + room);
    auto result = std::to_chars(out.data() + start, out.data() + out.size(), value, format...);
    out.resize(static_cast<std::size_t>(result.ptr - out.data()));
}

// Inserts "," every three digits into the run of digits starting at `from`.
void group_digits(std::string &out, std::size_t from) {
    std::size_t end = from;
    while (end < out.size() && is_digit(out[end])) ++end;
    const std::size_t count = end - from;
    if (count < 4) return;
    out.insert(end, (count - 1) / 3, ',');
    std::size_t write = end + (count - 1) / 3;
    std::size_t read = end;
    for (std::size_t k = 1; read > from; ++k) {
        out[--write] = out[--read];
        if (k % 3 == 0 && read > from) out[--write] = ',';
    }
}

double power_of_ten(int n) {
    static const double small[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8};
    if (n < 9) return small[n];
    double result = 1e9;
    while (n-- > 9) result *= 10.;
    return result;
}

}  // namespace

Verdict read_python_int(std::string_view text) {
    if (!is_ascii(text)) return Verdict::undecided;
    std::string_view body = strip_number_space(text);
    std::size_t i = 0;
    if (i < body.size() && (body[i] == '+' || body[i] == '-')) ++i;
    const std::size_t digits = read_digits(body, i, nullptr);
    if (digits == 0 || i != body.size()) return Verdict::no;
    return digits > kSafeIntDigits ? Verdict::undecided : Verdict::yes;
}

Verdict read_python_float(std::string_view text, double &value) {
    if (!is_ascii(text)) return Verdict::undecided;
    std::string_view body = strip_number_space(text);
    std::size_t i = 0;
    bool negative = false;
    if (i < body.size() && (body[i] == '+' || body[i] == '-')) negative = body[i++] == '-';
    std::string_view word = body.substr(i);
    if (equals_ignoring_case(word, "inf") || equals_ignoring_case(word, "infinity")) {
        value = negative ? -HUGE_VAL : HUGE_VAL;
        return Verdict::yes;
    }
    if (equals_ignoring_case(word, "nan")) {
        value = std::copysign(std::nan(""), negative ? -1.0 : 1.0);
        return Verdict::yes;
    }
    std::string clean;
    if (negative) clean.push_back('-');
    std::size_t digits = read_digits(body, i, &clean);
    if (i < body.size() && body[i] == '.') {
        clean.push_back('.');
        ++i;
        digits += read_digits(body, i, &clean);
    }
    if (digits == 0) return Verdict::no;
    if (i < body.size() && (body[i] == 'e' || body[i] == 'E')) {
        clean.push_back('e');
        ++i;
        if (i < body.size() && (body[i] == '+' || body[i] == '-')) clean.push_back(body[i++]);
        if (read_digits(body, i, &clean) == 0) return Verdict::no;
    }
    if (i != body.size()) return Verdict::no;
    auto result = std::from_chars(clean.data(), clean.data() + clean.size(), value);
    if (result.ec != std::errc() || result.ptr != clean.data() + clean.size())
        return Verdict::undecided;
    return Verdict::yes;
}

namespace {

bool is_whole_thousands_number(std::string_view text) {
    std::size_t i = 0;
    const std::size_t n = text.size();
    if (i < n && (text[i] == '+' || text[i] == '-')) ++i;
    std::size_t lead = 0;
    while (i + lead < n && is_digit(text[i + lead])) ++lead;
    if (lead == 0) {
        // Without the integer part only "" or "." followed by digits match.
        if (i > 0) return false;
        if (n == 0) return true;
        if (text[0] != '.' || n == 1) return false;
        for (std::size_t k = 1; k < n; ++k)
            if (!is_digit(text[k])) return false;
        return true;
    }
    if (lead > 3) return false;
    i += lead;
    while (i < n && text[i] == ',') {
        std::size_t group = 0;
        while (i + 1 + group < n && is_digit(text[i + 1 + group])) ++group;
        if (group != 3) return false;
        i += 4;
    }
    if (i < n && text[i] == '.') {
        ++i;
        while (i < n && is_digit(text[i])) ++i;
    }
    return i == n;
}

}  // namespace

bool is_thousands_number(std::string_view text) {
    // "$" also matches just before a newline that ends the text.
    if (is_whole_thousands_number(text)) return true;
    return !text.empty() && text.back() == '\n' &&
           is_whole_thousands_number(text.substr(0, text.size() - 1));
}

bool is_special_float_word(std::string_view text) {
    return equals_ignoring_case(text, "inf") || equals_ignoring_case(text, "-inf") ||
           equals_ignoring_case(text, "nan");
}

void append_fixed(std::string &out, double value, int precision, bool grouping) {
    if (append_special(out, value)) return;
    const std::size_t start = out.size();
    append_chars(out, static_cast<std::size_t>(precision) + 330, value, std::chars_format::fixed,
                 precision);
    if (grouping) group_digits(out, out[start] == '-' ? start + 1 : start);
}

void append_general(std::string &out, double value, int precision) {
    if (append_special(out, value)) return;
    append_chars(out, static_cast<std::size_t>(precision) + 32, value, std::chars_format::general,
                 precision);
}

void append_exponent(std::string &out, double value, int precision) {
    if (append_special(out, value)) return;
    append_chars(out, static_cast<std::size_t>(precision) + 32, value,
                 std::chars_format::scientific, precision);
}

void append_repr(std::string &out, double value) {
    if (append_special(out, value)) return;
    // The shortest digits that read back as the value, laid out the way repr
    // does: positional while the decimal point falls within (-4, 16].
    std::string scientific;
    append_chars(scientific, 32, value, std::chars_format::scientific);
    std::size_t i = 0;
    if (scientific[i] == '-') {
        out.push_back('-');
        ++i;
    }
    std::string digits;
    while (scientific[i] != 'e') {
        if (scientific[i] != '.') digits.push_back(scientific[i]);
        ++i;
    }
    const int point = std::stoi(scientific.substr(i + 1)) + 1;
    const int count = static_cast<int>(digits.size());
    if (point > -4 && point <= 16) {
        if (point <= 0) {
            out += "0.";
            out.append(static_cast<std::size_t>(-point), '0');
            out += digits;
        } else if (point >= count) {
            out += digits;
            out.append(static_cast<std::size_t>(point - count), '0');
            out += ".0";
        } else {
            out.append(digits, 0, static_cast<std::size_t>(point));
            out.push_back('.');
            out.append(digits, static_cast<std::size_t>(point), std::string::npos);
        }
        return;
    }
    out.push_back(digits[0]);
    if (count > 1) {
        out.push_back('.');
        out.append(digits, 1, std::string::npos);
    }
    const int exponent = point - 1;
    out.push_back('e');
    out.push_back(exponent < 0 ? '-' : '+');
    const int magnitude = exponent < 0 ? -exponent : exponent;
    if (magnitude < 10) out.push_back('0');
    out += std::to_string(magnitude);
}

std::size_t write_integer(char *out, long long value, bool grouping) {
    char digits[20];
    unsigned long long magnitude = value < 0 ? 0ULL - static_cast<unsigned long long>(value)
                                             : static_cast<unsigned long long>(value);
    int count = 0;
    do {
        digits[count++] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    std::size_t length = 0;
    if (value < 0) out[length++] = '-';
    for (int i = count - 1; i >= 0; --i) {
        out[length++] = digits[i];
        if (grouping && i > 0 && i % 3 == 0) out[length++] = ',';
    }
    return length;
}

void append_integer(std::string &out, long long value, bool grouping) {
    char text[kIntegerRoom];
    out.append(text, write_integer(text, value, grouping));
}

double numpy_round(double value, int decimals) {
    const double scale = power_of_ten(decimals);
    return std::nearbyint(value * scale) / scale;
}

float numpy_round(float value, int decimals) {
    const float scale = static_cast<float>(power_of_ten(decimals));
    return std::nearbyint(value * scale) / scale;
}

bool parse_float_pattern(std::string_view pattern, FloatPattern &out) {
    const std::size_t open = pattern.find('{');
    if (open == std::string_view::npos) return false;
    const std::size_t close = pattern.find('}', open);
    if (close == std::string_view::npos) return false;
    std::string_view prefix = pattern.substr(0, open);
    std::string_view suffix = pattern.substr(close + 1);
    if (!is_ascii(prefix) || !is_ascii(suffix) || prefix.find('}') != std::string_view::npos ||
        suffix.find_first_of("{}") != std::string_view::npos)
        return false;
    std::string_view field = pattern.substr(open + 1, close - open - 1);
    if (field.substr(0, 1) == "0") field.remove_prefix(1);
    if (field.substr(0, 1) != ":") return false;
    field.remove_prefix(1);

    FloatPattern parsed;
    std::size_t i = 0;
    if (i < field.size() && field[i] == '0') return false;  // zero padding
    while (i < field.size() && is_digit(field[i])) {
        parsed.width = parsed.width * 10 + static_cast<std::size_t>(field[i++] - '0');
        if (parsed.width > kLargestWidth) return false;
    }
    if (i < field.size() && field[i] == ',') {
        parsed.grouping = true;
        ++i;
    }
    if (i < field.size() && field[i] == '.') {
        ++i;
        if (i == field.size() || !is_digit(field[i])) return false;
        parsed.precision = 0;
        while (i < field.size() && is_digit(field[i])) {
            parsed.precision = parsed.precision * 10 + (field[i++] - '0');
            if (parsed.precision > kLargestPrecision) return false;
        }
    }
    if (i + 1 != field.size()) return false;
    parsed.type = field[i];
    if (parsed.type != 'f' && parsed.type != 'g' && parsed.type != 'e') return false;
    if (parsed.grouping && parsed.type != 'f') return false;
    parsed.prefix = std::string(prefix);
    parsed.suffix = std::string(suffix);
    out = std::move(parsed);
    return true;
}

void append_float_pattern(std::string &out, double value, const FloatPattern &pattern) {
    out += pattern.prefix;
    const std::size_t start = out.size();
    switch (pattern.type) {
        case 'f':
            append_fixed(out, value, pattern.precision, pattern.grouping);
            break;
        case 'e':
            append_exponent(out, value, pattern.precision);
            break;
        default:
            append_general(out, value, pattern.precision);
    }
    const std::size_t length = out.size() - start;
    if (length < pattern.width) out.insert(start, pattern.width - length, ' ');
    out += pattern.suffix;
}

}  // namespace vb::core
