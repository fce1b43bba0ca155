// What every fuzz target of the native core shares: the fuzzer's bytes read as
// texts, numbers and choices, and a check that stops the run with both sides
// of a mismatch printed as Python literals (ready for a regression test).
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

namespace vb::fuzz {

class Input {
  public:
    Input(const std::uint8_t *data, std::size_t size) : data_(data), size_(size) {}

    bool empty() const { return at_ >= size_; }

    // 0 once the input is used up, so every target runs on any input.
    std::uint8_t byte() { return empty() ? 0 : data_[at_++]; }

    bool flag() { return byte() & 1; }

    std::uint64_t word() {
        std::uint64_t value = 0;
        for (int i = 0; i < 8; ++i) value = (value << 8) | byte();
        return value;
    }

    // Mostly one of the values where comparisons and rounding turn, sometimes
    // any double (NaN and infinities included).
    double number() {
        static const double kSpecial[] = {0.0, -0.0, 1.0, -1.0, 2.0, 0.5, 180.0, 240.0, 1e-300,
                                          1e300, HUGE_VAL, -HUGE_VAL, NAN, 3.0, 7.0, 1e16};
        const std::uint8_t choice = byte();
        if (choice < 16 * 12) return kSpecial[choice % 16];
        const std::uint64_t bits = word();
        double value;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }

    // A text of at most max_pieces pieces. A byte below 0x80 is that ASCII
    // character, the next bytes pick one of `tokens` (the substrings the code
    // under test looks for) or one of a few non-ASCII code points, 0xff ends
    // the text.
    std::u32string text(const std::vector<std::u32string> &tokens, std::size_t max_pieces = 64) {
        // U+0160 and U+1F060 end in the code unit of '`', U+2F2F in that of '/'.
        static const char32_t kWide[] = {0xe9, 0x85, 0xa0, 0x160, 0x2019, 0x2f2f, 0x3000, 0x1f060};
        constexpr std::size_t kWideCount = sizeof kWide / sizeof kWide[0];
        std::u32string result;
        for (std::size_t piece = 0; piece < max_pieces && !empty(); ++piece) {
            const std::uint8_t b = byte();
            if (b == 0xff) break;
            if (b < 0x80) {
                result.push_back(b);
            } else if (std::size_t(b - 0x80) < tokens.size()) {
                result += tokens[b - 0x80];
            } else {
                result.push_back(kWide[b % kWideCount]);
            }
        }
        return result;
    }

  private:
    const std::uint8_t *data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

// A Python literal of any text of code units.
template <typename Text> std::string literal(const Text &text) {
    std::string out = "'";
    for (auto unit : text) {
        const auto c = static_cast<std::uint32_t>(static_cast<std::make_unsigned_t<decltype(unit)>>(unit));
        char buffer[16];
        if (c == '\'' || c == '\\') {
            out += '\\';
            out += char(c);
        } else if (c >= 0x20 && c < 0x7f) {
            out += char(c);
        } else {
            std::snprintf(buffer, sizeof buffer, c < 0x100 ? "\\x%02x" : c < 0x10000 ? "\\u%04x" : "\\U%08x", c);
            out += buffer;
        }
    }
    return out + "'";
}

inline std::string literal(double value) {
    if (std::isnan(value)) return "float('nan')";
    if (std::isinf(value)) return value > 0 ? "float('inf')" : "-float('inf')";
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.17g", value);
    return buffer;
}

inline std::string literal(long long value) { return std::to_string(value); }
inline std::string literal(std::size_t value) { return std::to_string(value); }
inline std::string literal(bool value) { return value ? "True" : "False"; }

template <typename T> std::string literal(const std::vector<T> &values) {
    std::string out = "[";
    for (std::size_t i = 0; i < values.size(); ++i) out += (i ? ", " : "") + literal(values[i]);
    return out + "]";
}

// Stops the run: the input is kept by the fuzzer as a crash file.
[[noreturn]] inline void mismatch(const char *what, const std::string &got, const std::string &expected,
                                  const std::string &input) {
    std::fprintf(stderr, "MISMATCH in %s\n  input:    %s\n  got:      %s\n  expected: %s\n", what,
                 input.c_str(), got.c_str(), expected.c_str());
    std::abort();
}

template <typename Got, typename Expected>
void check_equal(const char *what, const Got &got, const Expected &expected, const std::string &input) {
    if (!(got == expected)) mismatch(what, literal(got), literal(expected), input);
}

}  // namespace vb::fuzz
