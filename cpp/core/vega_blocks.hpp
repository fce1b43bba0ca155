// Vega chart blocks in Markdown text: "```vega" up to the last "```" before the
// next "```vega" (or the end of the text). Works on any code unit type, so the
// text of a Python str is scanned in place whatever its storage width.
#pragma once

#include <cstddef>
#include <cstring>
#include <type_traits>
#include <vector>

#include "code_units.hpp"

namespace vb::core {

struct TextSpan {
    std::size_t begin;
    std::size_t end;  // one past the last code unit
};

inline constexpr std::size_t kVegaOpenerLength = 7;  // "```vega"
inline constexpr std::size_t kFenceLength = 3;       // "```"

template <typename CharT> bool is_fence_at(CodeUnits<CharT> text, std::size_t at) {
    return at + kFenceLength <= text.size() && text[at] == CharT('`') && text[at + 1] == CharT('`') &&
           text[at + 2] == CharT('`');
}

template <typename CharT> bool is_vega_opener_at(CodeUnits<CharT> text, std::size_t at) {
    static constexpr char kWord[] = "vega";
    if (at + kVegaOpenerLength > text.size() || !is_fence_at(text, at)) return false;
    for (std::size_t i = 0; i < 4; ++i)
        if (text[at + kFenceLength + i] != CharT(kWord[i])) return false;
    return true;
}

// Position of the next backtick at or after `from` (text.size() when none).
template <typename CharT> std::size_t next_backtick(CodeUnits<CharT> text, std::size_t from) {
    if constexpr (sizeof(CharT) == 1) {
        const void *found = std::memchr(text.data + from, '`', text.size() - from);
        return found ? static_cast<std::size_t>(static_cast<const CharT *>(found) - text.data) : text.size();
    } else {
        while (from < text.size() && text[from] != CharT('`')) ++from;
        return from;
    }
}

// Starts of the non-overlapping openers, found left to right.
template <typename CharT> std::vector<std::size_t> vega_openers(CodeUnits<CharT> text) {
    std::vector<std::size_t> starts;
    for (std::size_t at = next_backtick(text, 0); at + kVegaOpenerLength <= text.size();
         at = next_backtick(text, at)) {
        if (is_vega_opener_at(text, at)) {
            starts.push_back(at);
            at += kVegaOpenerLength;
        } else {
            ++at;
        }
    }
    return starts;
}

// The block of one piece runs from its opener to the end of the last fence that
// starts after the opener; a piece with no such fence has no block.
template <typename CharT>
bool last_fence_end(CodeUnits<CharT> text, std::size_t from, std::size_t limit,
                    std::size_t &end) {
    if (limit < from + kFenceLength) return false;
    for (std::size_t at = limit - kFenceLength + 1; at-- > from;) {
        if (is_fence_at(text, at)) {
            end = at + kFenceLength;
            return true;
        }
    }
    return false;
}

template <typename CharT> std::vector<TextSpan> find_vega_blocks(CodeUnits<CharT> text) {
    const std::vector<std::size_t> openers = vega_openers(text);
    std::vector<TextSpan> blocks;
    for (std::size_t i = 0; i < openers.size(); ++i) {
        const std::size_t begin = openers[i];
        const std::size_t limit = i + 1 < openers.size() ? openers[i + 1] : text.size();
        std::size_t end = 0;
        if (last_fence_end(text, begin + kVegaOpenerLength, limit, end)) blocks.push_back({begin, end});
    }
    return blocks;
}

}  // namespace vb::core
