// Pieces of the zip format used when member data is copied natively: the
// CRC-32 of member data and the fixed part of a local file header.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vb::core {

// The CRC-32 that zip and zlib use (reflected polynomial 0xEDB88320), carried
// on from `crc` over `length` bytes: crc32(crc32(0, a), b) is the CRC of a + b,
// exactly as zlib.crc32(b, zlib.crc32(a)).
std::uint32_t crc32(std::uint32_t crc, const unsigned char *data, std::size_t length);

constexpr std::size_t kLocalHeaderSize = 30;

// What follows the fixed 30 bytes of a local file header before the member's
// data: its file name and extra field. `valid` is false when the bytes do not
// start with the local header signature "PK\x03\x04".
struct LocalHeader {
    bool valid;
    std::size_t variable_size;
};

LocalHeader read_local_header(const unsigned char (&header)[kLocalHeaderSize]);

}  // namespace vb::core
