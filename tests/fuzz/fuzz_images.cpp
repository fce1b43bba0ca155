// The image helpers against what they promise:
//   page_fit:   the exact comparison height * max_width / width > max_height
//               (away from ties that rounding decides)
//   chart_ppi:  at least 300, never more than a full page width needs, finite
//   png_size:   the big-endian width and height of the IHDR chunk
//   image_reference_start: the start of the last folder whose name begins
//               with "images", found by "/".split
#include "fuzz_input.hpp"
#include "images.hpp"

#include <cmath>

using namespace vb::core;
using vb::fuzz::literal;

namespace {

using Text = std::u32string;

std::string show(PageFit fit) {
    return fit == PageFit::keep_width ? "keep_width" : fit == PageFit::cap_width ? "cap_width" : "cap_height";
}

void check_page_fit(double width, double height, double max_width, double max_height) {
    const PageFit got = page_fit(width, height, max_width, max_height);
    const std::string input = literal(width) + ", " + literal(height) + ", " + literal(max_width) + ", " +
                              literal(max_height);
    if (!std::isfinite(width) || !std::isfinite(height) || !std::isfinite(max_width) || !std::isfinite(max_height))
        return;
    PageFit expected = PageFit::keep_width;
    if (width > max_width) {
        if (!(width > 0) || !(max_width > 0)) return;  // a division by zero or a sign flip: undefined
        // Sizes so small or large that the products leave the normal range
        // (below 1e-150 mm or above 1e150 mm) are decided by underflow or overflow.
        const double double_tall = height * max_width, double_limit = max_height * width;
        for (double product : {double_tall, double_limit})
            if (product != 0 && !std::isnormal(product)) return;
        if ((double_tall == 0) != (height == 0 || max_width == 0) || (double_limit == 0) != (max_height == 0))
            return;
        // Products of two doubles are exact in 113 bits.
        const __float128 tall = static_cast<__float128>(height) * max_width;
        const __float128 limit = static_cast<__float128>(max_height) * width;
        const __float128 gap = tall > limit ? tall - limit : limit - tall;
        const __float128 scale = (tall > 0 ? tall : -tall) + (limit > 0 ? limit : -limit);
        if (gap <= scale * 1e-15) return;
        expected = tall > limit ? PageFit::cap_height : PageFit::cap_width;
    } else if (height > max_height) {
        expected = PageFit::cap_height;
    }
    if (got != expected) vb::fuzz::mismatch("page_fit", show(got), show(expected), input);
}

void check_chart_ppi(double px_width, double px_height, double width_mm) {
    const double ppi = chart_ppi(px_width, px_height, width_mm);
    // At most the density that the full page width needs.
    const double most = std::max(300.0, 72 * (kPageWidthMm / 25.4 * 300) / px_width) * (1 + 1e-12);
    if (!(ppi >= 300) || !(ppi <= most))
        vb::fuzz::mismatch("chart_ppi", literal(ppi), "300 to " + literal(most),
                           literal(px_width) + ", " + literal(px_height) + ", " + literal(width_mm));
}

void check_png_size(const std::string &data) {
    const auto got = png_size(data);
    std::string expected = "None";
    if (data.size() >= 24 && data.compare(0, 8, std::string("\x89PNG\r\n\x1a\n", 8)) == 0 &&
        data.compare(12, 4, "IHDR") == 0) {
        auto read = [&](std::size_t at) {
            return (std::uint32_t(std::uint8_t(data[at])) << 24) | (std::uint32_t(std::uint8_t(data[at + 1])) << 16) |
                   (std::uint32_t(std::uint8_t(data[at + 2])) << 8) | std::uint32_t(std::uint8_t(data[at + 3]));
        };
        expected = std::to_string(read(16)) + "x" + std::to_string(read(20));
    }
    const std::string shown = got ? std::to_string(got->first) + "x" + std::to_string(got->second) : "None";
    if (shown != expected) vb::fuzz::mismatch("png_size", shown, expected, literal(data));
}

void check_image_reference_start(const Text &path) {
    std::size_t expected = 0, folder = 0;
    for (std::size_t at = 0; at <= path.size(); ++at) {
        if (at < path.size() && path[at] != U'/') continue;
        if (at == path.size()) break;  // the file name never counts
        if (path.compare(folder, 6, U"images") == 0 && at - folder >= 6) expected = folder;
        folder = at + 1;
    }
    vb::fuzz::check_equal("image_reference_start", image_reference_start(path), expected, literal(path));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    static const std::vector<Text> kTokens = {U"/", U"images", U"images_k", U"/images/", U"plot.png", U"image"};
    vb::fuzz::Input in(data, size);
    switch (in.byte() % 4) {
        case 0: {
            const double width = in.number(), height = in.number();
            const double max_width = in.flag() ? kPageWidthMm : in.number();
            const double max_height = in.flag() ? kPageHeightMm : in.number();
            check_page_fit(width, height, max_width, max_height);
            break;
        }
        case 1: {
            // Pixel sizes come from a PNG header, scaled from 300 to 72 ppi.
            const double px_width = (in.word() % 0xffffffffu + 1) * 0.24;
            const double px_height = (in.word() % 0xffffffffu + 1) * 0.24;
            check_chart_ppi(px_width, px_height, in.number());
            break;
        }
        case 2: {
            std::string png("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16);
            png.resize(in.byte() % 40);
            for (char &c : png)
                if (in.flag()) c = static_cast<char>(in.byte());
            check_png_size(png);
            break;
        }
        default:
            check_image_reference_start(in.text(kTokens, 48));
    }
    return 0;
}
