// The chart-block scanner against the Python algorithm it stands for:
//   pieces = text[text.find(opener):].split(opener)
//   for each piece: re.findall(opener + r"[\s\S]*" + fence, opener + piece)
// and the same blocks for every code unit width the text fits in.
#include "fuzz_input.hpp"
#include "vega_blocks.hpp"

#include <limits>

using namespace vb::core;
using vb::fuzz::literal;

namespace {

using Text = std::u32string;
const Text kOpener = U"```vega";
const Text kFence = U"```";

std::vector<Text> reference_blocks(const Text &text) {
    std::vector<Text> blocks;
    std::size_t at = text.find(kOpener);
    if (at == Text::npos) return blocks;
    // Split at every opener, left to right; the first piece is empty.
    std::vector<Text> pieces;
    while (at != Text::npos) {
        const std::size_t next = text.find(kOpener, at + kOpener.size());
        pieces.push_back(text.substr(at + kOpener.size(),
                                     (next == Text::npos ? text.size() : next) - at - kOpener.size()));
        at = next;
    }
    for (const Text &piece : pieces) {
        const Text candidate = kOpener + piece;
        // Greedy: the match ends with the last fence that starts after the opener.
        const std::size_t fence = candidate.rfind(kFence);
        if (fence != Text::npos && fence >= kOpener.size())
            blocks.push_back(candidate.substr(0, fence + kFence.size()));
    }
    return blocks;
}

template <typename CharT> bool fits(const Text &text) {
    for (char32_t c : text)
        if (c > static_cast<char32_t>(std::numeric_limits<CharT>::max())) return false;
    return true;
}

template <typename CharT>
void check_width(const Text &text, const std::vector<Text> &expected, const char *what) {
    if (!fits<CharT>(text)) return;
    const std::basic_string<CharT> units(text.begin(), text.end());
    std::vector<Text> got;
    for (const TextSpan &span : find_vega_blocks(CodeUnits<CharT>{units.data(), units.size()})) {
        if (span.begin > span.end || span.end > units.size() ||
            span.end - span.begin < kOpener.size() + kFence.size())
            vb::fuzz::mismatch(what, "span " + literal(span.begin) + ".." + literal(span.end),
                               "a block inside the text", literal(text));
        got.push_back(text.substr(span.begin, span.end - span.begin));
    }
    vb::fuzz::check_equal(what, got, expected, literal(text));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    static const std::vector<Text> kTokens = {kOpener, kFence, U"`", U"vega", U"\n", U"{}", U"-lite"};
    vb::fuzz::Input in(data, size);
    const Text text = in.text(kTokens, 256);
    const std::vector<Text> expected = reference_blocks(text);
    check_width<unsigned char>(text, expected, "find_vega_blocks (1-byte units)");
    check_width<char16_t>(text, expected, "find_vega_blocks (2-byte units)");
    check_width<char32_t>(text, expected, "find_vega_blocks (4-byte units)");
    return 0;
}
