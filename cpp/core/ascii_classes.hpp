// ASCII-only character classes with the same interface as vb::PyCharClasses:
// exact for ASCII text, used by the fuzz targets and fast paths of cpp/core.
#pragma once

namespace vb::core {

struct AsciiCharClasses {
    static bool is_space(char32_t c) { return c == U' ' || (c >= U'\t' && c <= U'\r') || (c >= 0x1c && c <= 0x1f); }
    static bool is_word(char32_t c) {
        return c == U'_' || (c >= U'0' && c <= U'9') || (c >= U'a' && c <= U'z') || (c >= U'A' && c <= U'Z');
    }
    static bool is_digit(char32_t c) { return c >= U'0' && c <= U'9'; }
};

}  // namespace vb::core
