// A read-only run of text code units of any width (1, 2 or 4 bytes), so one
// scanning algorithm serves every storage form of a Python str.
#pragma once

#include <cstddef>

namespace vb::core {

template <typename CharT> struct CodeUnits {
    const CharT *data;
    std::size_t length;
    std::size_t size() const { return length; }
    CharT operator[](std::size_t i) const { return data[i]; }
};

}  // namespace vb::core
