// A read-only view of text stored the way the interpreter stores str: one
// code unit of 1, 2 or 4 bytes per code point (Latin-1, UCS-2, UCS-4).
#pragma once

#include <cstddef>
#include <cstdint>

namespace vb::core {

struct TextView {
    const void *data = nullptr;
    std::size_t length = 0;
    unsigned char unit = 1;

    char32_t operator[](std::size_t i) const {
        switch (unit) {
            case 1:
                return static_cast<const std::uint8_t *>(data)[i];
            case 2:
                return static_cast<const std::uint16_t *>(data)[i];
            default:
                return static_cast<const char32_t *>(data)[i];
        }
    }
};

inline TextView ascii_view(const char *text, std::size_t length) {
    return TextView{text, length, 1};
}

}  // namespace vb::core
