// The zip format as far as an archive is rewritten natively: the CRC-32 of
// member data, finding and reading the central directory (zip64 included),
// local file headers and data descriptors, and writing central directory
// entries and end records under the rules Python's zipfile writes them by.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace vb::core {

// The CRC-32 that zip and zlib use (reflected polynomial 0xEDB88320), carried
// on from `crc` over `length` bytes: crc32(crc32(0, a), b) is the CRC of a + b,
// exactly as zlib.crc32(b, zlib.crc32(a)).
std::uint32_t crc32(std::uint32_t crc, const unsigned char *data, std::size_t length);

namespace zip {

constexpr std::size_t kLocalHeaderSize = 30;
constexpr std::size_t kCentralHeaderSize = 46;
constexpr std::size_t kEndRecordSize = 22;
constexpr std::size_t kZip64EndRecordSize = 56;
constexpr std::size_t kZip64LocatorSize = 20;
constexpr std::size_t kMaxCommentSize = 0xFFFF;

// Beyond these a size, an offset or a member count takes the zip64 form.
constexpr std::uint64_t kZip64Limit = (std::uint64_t(1) << 31) - 1;
constexpr std::uint64_t kFileCountLimit = 0xFFFF;

constexpr std::uint16_t kStored = 0;
constexpr std::uint16_t kDeflated = 8;
constexpr std::uint16_t kBzip2 = 12;
constexpr std::uint16_t kLzma = 14;

constexpr std::uint16_t kEncrypted = 0x01;
constexpr std::uint16_t kDataDescriptor = 0x08;

// A damaged or unsupported archive, worded as zipfile words it.
struct BadArchive : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The end of central directory record (the zip64 one where present).
struct EndRecord {
    std::uint64_t directory_start = 0;  // in the file
    std::uint64_t directory_size = 0;
    // Added to a recorded offset to find it in the file: the size of what the
    // archive was appended to, or less when the offsets recorded are too large.
    std::int64_t shift = 0;
    std::string comment;
};

// Finds the end record in the last bytes of a file of `file_size` bytes;
// `tail` holds its last `tail_size` bytes, at least the last 64 KiB + 98 bytes
// (all of a shorter file). Throws BadArchive when there is none.
EndRecord find_end_record(const unsigned char *tail, std::size_t tail_size,
                          std::uint64_t file_size);

// One member's central directory entry, its sizes and offset read through a
// zip64 extra field where the entry defers to one.
struct CentralEntry {
    std::uint8_t create_version = 20, create_system = 3, extract_version = 20, reserved = 0;
    std::uint16_t flags = 0, method = kStored, time = 0, date = 0;
    std::uint32_t crc = 0;
    std::uint64_t compress_size = 0, file_size = 0, header_offset = 0;
    std::uint16_t internal_attr = 0;
    std::uint32_t external_attr = 0;
    std::string name, extra, comment;
};

// The entries of a central directory of `size` bytes, in their order.
std::vector<CentralEntry> read_central_directory(const unsigned char *directory,
                                                 std::size_t size);

// The central directory entry for `entry` as zipfile writes one: sizes and
// offset beyond the zip64 limit move into a zip64 extra field (any earlier
// one removed), which raises the versions to 4.5.
std::string central_entry_bytes(const CentralEntry &entry);

// The end records after a central directory of `count` entries and `size`
// bytes at `offset`: the zip64 end record and locator first when the count,
// offset or size needs them, then the end record with the archive comment.
std::string end_record_bytes(std::uint64_t count, std::uint64_t size, std::uint64_t offset,
                             const std::string &comment);

// What the fixed part of a local file header tells: where the member's data
// starts from the header's first byte, its flags, method, date and time.
// `valid` is false when the bytes do not start with the local header
// signature "PK\x03\x04".
struct LocalHeader {
    bool valid;
    std::uint16_t flags, method, time, date;
    std::size_t name_size;
    std::size_t extra_size;
    std::size_t data_start() const { return kLocalHeaderSize + name_size + extra_size; }
};

// `header` holds at least kLocalHeaderSize bytes.
LocalHeader read_local_header(const unsigned char *header);

// The size of the data descriptor that `after` (the `available` bytes after a
// member's data, at most 24 needed) starts with for `entry`: with or without
// its signature, with 4- or 8-byte sizes, recognised by carrying the entry's
// CRC and sizes; 0 when none fits.
std::size_t data_descriptor_size(const unsigned char *after, std::size_t available,
                                 const CentralEntry &entry);

}  // namespace zip
}  // namespace vb::core
