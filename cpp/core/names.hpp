// Cleaning of column and feature names: identifier-like stripping, replacement
// of forbidden parts, and unique names made by repeating a suffix.
//
// Character classes come in as a template parameter (vb::PyCharClasses for
// the interpreter's own, AsciiCharClasses for ASCII text), so the algorithms
// stay free of Python and exact for both.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <vector>

namespace vb::core {

template <typename CharT>
char32_t code_point(CharT c) {
    return static_cast<char32_t>(static_cast<std::make_unsigned_t<CharT>>(c));
}

// The same as, in Python,
//   x = re.sub(r"[^\w\s]", "_", x); x = x.strip(); x = re.sub(r"\s+", "_", x)
// with \w, \s and strip's whitespace all taken from Classes.
template <typename Classes, typename CharT>
std::basic_string<CharT> custom_strip(std::basic_string_view<CharT> text) {
    auto is_space = [](CharT c) { return Classes::is_space(code_point(c)); };
    std::size_t begin = 0;
    std::size_t end = text.size();
    // Every character that is not a space survives the first step as itself
    // or as "_", so only spaces are stripped.
    while (begin < end && is_space(text[begin])) ++begin;
    while (end > begin && is_space(text[end - 1])) --end;
    std::basic_string<CharT> result;
    result.reserve(end - begin);
    for (std::size_t i = begin; i < end; ++i) {
        const CharT c = text[i];
        if (is_space(c)) {
            if (!is_space(text[i - 1])) result.push_back(CharT('_'));
        } else {
            result.push_back(Classes::is_word(code_point(c)) ? c : CharT('_'));
        }
    }
    return result;
}

// str.replace(old, new) in place: every non-overlapping occurrence, left to
// right; an empty `old` puts `replacement` before every character and at the end.
void replace_all(std::u32string &text, std::u32string_view old, std::u32string_view replacement);

// Hands out the names of a list built by, in Python,
//   while x in ret: x += suffix
//   ret.append(x)
// in linear time. A name is split into its root and a count of trailing
// suffixes (name = root + suffix * k, root not ending in suffix); two names are
// equal exactly when both parts are, so the taken names of one root form a set
// of counts, searched with a union-find "next free count".
class UniqueNamer {
  public:
    // `suffix` must not be empty.
    explicit UniqueNamer(std::u32string suffix);

    // Room for `names` names without rehashing.
    void reserve(std::size_t names);

    // How many suffixes `name` needs to be unique among the names added so far;
    // the name with those suffixes is then taken.
    std::size_t add(std::u32string_view name);

  private:
    struct Taken {
        std::size_t root;
        std::size_t count;
        bool operator==(const Taken &other) const {
            return root == other.root && count == other.count;
        }
    };
    struct TakenHash {
        std::size_t operator()(const Taken &t) const {
            return std::hash<std::size_t>()(t.root * 0x9e3779b97f4a7c15ULL ^ t.count);
        }
    };

    std::size_t next_free(std::size_t root, std::size_t count);

    std::u32string suffix_;
    std::unordered_map<std::u32string, std::size_t> root_ids_;
    // For each taken (root, count), a count of that root at or before the next
    // free one.
    std::unordered_map<Taken, std::size_t, TakenHash> next_;
};

}  // namespace vb::core
