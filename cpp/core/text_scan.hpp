// Whitespace as the interpreter's re (\s) and str.split() see it, for the
// text of whole documents. Templated on the character classes (PyCharClasses
// at the boundary, AsciiCharClasses in fuzz targets) so it stays Python-free.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vb::core {

// re.sub(r"\s+", " ", text) followed by replacing the right and left single
// quotation marks (U+2019, U+2018) with "'".
template <typename Classes>
std::u32string trim_whitespaces(std::u32string_view text) {
    std::u32string out;
    out.reserve(text.size());
    bool in_space = false;
    for (char32_t c : text) {
        if (Classes::is_space(c)) {
            if (!in_space) out.push_back(U' ');
            in_space = true;
            continue;
        }
        in_space = false;
        out.push_back((c == U'\u2019' || c == U'\u2018') ? U'\'' : c);
    }
    return out;
}

// text.split(): the pieces between runs of whitespace, none empty.
template <typename Classes>
std::vector<std::u32string_view> split_whitespace(std::u32string_view text) {
    std::vector<std::u32string_view> pieces;
    std::size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && Classes::is_space(text[i])) ++i;
        const std::size_t start = i;
        while (i < text.size() && !Classes::is_space(text[i])) ++i;
        if (i > start) pieces.push_back(text.substr(start, i - start));
    }
    return pieces;
}

}  // namespace vb::core
