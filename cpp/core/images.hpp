// Placing images on a report page: the page fit of an image size, the pixel
// density of a chart image, the reference of an image from a Markdown report
// and the pixel size recorded in a PNG header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>

namespace vb::core {

// Default limits of an image on a report page, in millimetres.
constexpr double kPageWidthMm = 180;
constexpr double kPageHeightMm = 240;

enum class PageFit {
    keep_width,  // the image fits: placed at its width
    cap_width,   // placed max_width wide, the height follows
    cap_height,  // placed max_height high, the width follows
};

// How an image of width x height fits into max_width x max_height: the width
// is capped first, and the height instead when the capped width would still
// leave the image too high.
PageFit page_fit(double width, double height, double max_width, double max_height);

// Pixels per inch at which to export a chart that measures px_width x
// px_height pixels at 72 ppi, so that it shows at least 300 pixels per inch
// where it is placed: width_mm wide (fitted to the default page), or at its
// native size when width_mm is not positive. Never below 300.
double chart_ppi(double px_width, double px_height, double width_mm);

// Pixel width and height from the IHDR chunk of PNG data; nothing for data
// that does not start like a PNG file.
std::optional<std::pair<std::uint32_t, std::uint32_t>> png_size(const std::string &data);

// Where the reference to an image starts in a Markdown report: at the last
// folder of `path` whose name begins with "images" (the image directory), or
// at 0 when the path has no such folder. Folders are separated by '/'; the
// last component is the file and never counts.
std::size_t image_reference_start(const std::u32string &path);

}  // namespace vb::core
