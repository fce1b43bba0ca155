#include "images.hpp"

#include <algorithm>

namespace vb::core {

namespace {
constexpr double kMmPerInch = 25.4;
constexpr double kExportPpi = 72;
constexpr double kSharpPpi = 300;
}  // namespace

PageFit page_fit(double width, double height, double max_width, double max_height) {
    if (width > max_width) {
        // height * max_width / width > max_height, without dividing
        return height * max_width > max_height * width ? PageFit::cap_height : PageFit::cap_width;
    }
    if (height > max_height) return PageFit::cap_height;
    return PageFit::keep_width;
}

double chart_ppi(double px_width, double px_height, double width_mm) {
    if (!(width_mm > 0) || !(px_width > 0) || !(px_height > 0)) return kSharpPpi;
    double placed_mm = width_mm;
    switch (page_fit(width_mm, width_mm * px_height / px_width, kPageWidthMm, kPageHeightMm)) {
        case PageFit::keep_width:
            break;
        case PageFit::cap_width:
            placed_mm = kPageWidthMm;
            break;
        case PageFit::cap_height:
            placed_mm = kPageHeightMm * px_width / px_height;
            break;
    }
    const double needed_px = placed_mm / kMmPerInch * kSharpPpi;
    return std::max(kSharpPpi, kExportPpi * needed_px / px_width);
}

std::optional<std::pair<std::uint32_t, std::uint32_t>> png_size(const std::string &data) {
    static const std::string kSignature("\x89PNG\r\n\x1a\n", 8);
    if (data.size() < 24 || data.compare(0, 8, kSignature) != 0 || data.compare(12, 4, "IHDR") != 0)
        return std::nullopt;
    auto big_endian = [&data](std::size_t at) {
        std::uint32_t value = 0;
        for (std::size_t i = 0; i < 4; ++i)
            value = (value << 8) | static_cast<unsigned char>(data[at + i]);
        return value;
    };
    return std::make_pair(big_endian(16), big_endian(20));
}

std::size_t image_reference_start(const std::u32string &path) {
    static const std::u32string kImages = U"images";
    std::size_t start = 0;
    std::size_t folder = 0;
    for (std::size_t slash = path.find(U'/'); slash != std::u32string::npos;
         folder = slash + 1, slash = path.find(U'/', folder)) {
        if (path.compare(folder, kImages.size(), kImages) == 0) start = folder;
    }
    return start;
}

}  // namespace vb::core
