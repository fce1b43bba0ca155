// Name cleaning against the Python it stands for, step by step:
//   custom_strip:  re.sub(r"[^\w\s]", "_", x), .strip(), re.sub(r"\s+", "_", x)
//                  (ASCII classes, for 1-byte and 4-byte code units)
//   replace_all:   str.replace(old, new)
//   UniqueNamer:   while x in ret: x += suffix; ret.append(x)
#include "ascii_classes.hpp"
#include "fuzz_input.hpp"
#include "names.hpp"

#include <algorithm>

using namespace vb::core;
using vb::fuzz::check_equal;
using vb::fuzz::literal;

namespace {

using Text = std::u32string;

// Python's ASCII whitespace (str.isspace, re's \s) and word characters.
bool py_space(char32_t c) { return c < 0x80 && std::u32string_view(U" \t\n\v\f\r\x1c\x1d\x1e\x1f").find(c) != Text::npos; }
bool py_word(char32_t c) {
    return c < 0x80 && (c == U'_' || (c >= U'0' && c <= U'9') || ((c | 0x20) >= U'a' && (c | 0x20) <= U'z'));
}

Text reference_strip(const Text &x) {
    Text step1;
    for (char32_t c : x) step1.push_back(py_word(c) || py_space(c) ? c : U'_');
    std::size_t begin = 0, end = step1.size();
    while (begin < end && py_space(step1[begin])) ++begin;
    while (end > begin && py_space(step1[end - 1])) --end;
    Text result;
    bool in_run = false;
    for (std::size_t i = begin; i < end; ++i) {
        if (!py_space(step1[i])) {
            result.push_back(step1[i]);
            in_run = false;
        } else if (!in_run) {
            result.push_back(U'_');
            in_run = true;
        }
    }
    return result;
}

Text reference_replace(const Text &text, const Text &old, const Text &replacement) {
    Text result;
    if (old.empty()) {
        for (char32_t c : text) result += replacement + c;
        return result + replacement;
    }
    for (std::size_t i = 0; i < text.size();) {
        if (text.compare(i, old.size(), old) == 0) {
            result += replacement;
            i += old.size();
        } else {
            result.push_back(text[i++]);
        }
    }
    return result;
}

void check_strip(const Text &x) {
    const Text expected = reference_strip(x);
    check_equal("custom_strip (4-byte units)", custom_strip<AsciiCharClasses>(std::u32string_view(x)), expected,
                literal(x));
    if (std::all_of(x.begin(), x.end(), [](char32_t c) { return c < 0x80; })) {
        const std::string ascii(x.begin(), x.end());
        const std::string stripped = custom_strip<AsciiCharClasses>(std::string_view(ascii));
        check_equal("custom_strip (1-byte units)", Text(stripped.begin(), stripped.end()), expected, literal(x));
    }
}

void check_unique_names(const Text &suffix, const std::vector<Text> &names) {
    UniqueNamer namer(suffix);
    std::vector<Text> taken;
    for (const Text &name : names) {
        std::size_t expected = 0;
        Text x = name;
        while (std::find(taken.begin(), taken.end(), x) != taken.end()) {
            x += suffix;
            ++expected;
        }
        taken.push_back(x);
        check_equal("UniqueNamer.add", namer.add(name), expected,
                    "suffix=" + literal(suffix) + ", names=" + literal(names) + ", at " + literal(name));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    static const std::vector<Text> kTokens = {U"  ", U"_", U"__", U"\t\n", U"(", U"-", U"\x1f", U"ab"};
    vb::fuzz::Input in(data, size);
    switch (in.byte() % 3) {
        case 0:
            check_strip(in.text(kTokens, 128));
            break;
        case 1: {
            Text text = in.text(kTokens, 64);
            const Text old = in.text(kTokens, 3), replacement = in.text(kTokens, 3);
            const Text original = text;
            replace_all(text, old, replacement);
            check_equal("replace_all", text, reference_replace(original, old, replacement),
                        literal(original) + ".replace(" + literal(old) + ", " + literal(replacement) + ")");
            break;
        }
        default: {
            Text suffix = in.text(kTokens, 2);
            if (suffix.empty()) suffix = U"_";
            std::vector<Text> names(in.byte() % 24);
            for (Text &name : names) name = in.text(kTokens, 4);
            check_unique_names(suffix, names);
        }
    }
    return 0;
}
