// The zip pieces on any bytes: the CRC-32 against a bit-by-bit reference and
// over any split, the archive readers on arbitrary files (no crash, no read
// outside the input), and every entry and end record written back and read
// again, at any offset and size (the zip64 forms included).
#include "fuzz_input.hpp"
#include "zip_format.hpp"

#include <algorithm>
#include <cstring>
#include <string>

using namespace vb::core;
using vb::fuzz::check_equal;
using vb::fuzz::literal;

namespace {

std::uint32_t reference_crc(const unsigned char *data, std::size_t size) {
    std::uint32_t c = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < size; ++i) {
        c ^= data[i];
        for (int bit = 0; bit < 8; ++bit) c = (c & 1u) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
    }
    return ~c;
}

const unsigned char *bytes(const std::string &text) {
    return reinterpret_cast<const unsigned char *>(text.data());
}

std::string number(std::uint64_t value) { return std::to_string(value); }

void check_crc(const std::string &data, std::size_t split, std::size_t shift) {
    // A copy starting `shift` bytes into its buffer, so the loads are unaligned.
    std::string buffer(shift, '\0');
    buffer += data;
    const unsigned char *p = bytes(buffer) + shift;
    const std::uint32_t whole = crc32(0, p, data.size());
    const std::string input = literal(data);
    check_equal("crc32", number(whole), number(reference_crc(p, data.size())), input);
    split = std::min(split, data.size());
    check_equal("crc32 carried on", number(crc32(crc32(0, p, split), p + split, data.size() - split)),
                number(whole), input + " split at " + std::to_string(split));
}

void check_same_entry(const zip::CentralEntry &got, const zip::CentralEntry &want,
                      const std::string &input) {
    check_equal("name", got.name, want.name, input);
    check_equal("comment", got.comment, want.comment, input);
    check_equal("crc", number(got.crc), number(want.crc), input);
    check_equal("compress_size", number(got.compress_size), number(want.compress_size), input);
    check_equal("file_size", number(got.file_size), number(want.file_size), input);
    check_equal("header_offset", number(got.header_offset), number(want.header_offset), input);
    check_equal("flags", number(got.flags), number(want.flags), input);
    check_equal("method", number(got.method), number(want.method), input);
    check_equal("date and time", number(got.date << 16 | got.time), number(want.date << 16 | want.time),
                input);
    check_equal("attributes", number(std::uint64_t(got.external_attr) << 16 | got.internal_attr),
                number(std::uint64_t(want.external_attr) << 16 | want.internal_attr), input);
    check_equal("system", number(got.create_system), number(want.create_system), input);
}

// An entry written, read back and written again gives the same bytes.
void check_entry_round_trip(const zip::CentralEntry &entry, const std::string &input) {
    std::string written;
    try {
        written = zip::central_entry_bytes(entry);
    } catch (const std::overflow_error &) {
        return;  // an extra field that the zip64 block would push past 65535 bytes
    }
    const auto read = zip::read_central_directory(bytes(written), written.size());
    check_equal("entries read back", read.size(), std::size_t(1), input);
    check_same_entry(read[0], entry, input);
    check_equal("written again", zip::central_entry_bytes(read[0]), written, input);
}

void check_end_record(std::uint64_t count, std::uint64_t size, std::uint64_t offset,
                      const std::string &comment) {
    if (comment.find("PK\x05\x06") != std::string::npos) return;  // zipfile assumes none there
    const std::string records = zip::end_record_bytes(count, size, offset, comment);
    const std::uint64_t file_size = offset + size + records.size();
    if (file_size < offset) return;
    const std::string input = literal(comment) + " " + number(count) + " " + number(size) + " " + number(offset);
    const zip::EndRecord end = zip::find_end_record(bytes(records), records.size(), file_size);
    check_equal("directory start", number(end.directory_start), number(offset), input);
    check_equal("directory size", number(end.directory_size), number(size), input);
    check_equal("shift", literal(static_cast<long long>(end.shift)), literal(0LL), input);
    check_equal("archive comment", end.comment, comment, input);
}

// The input as a whole file: whatever it holds is read without a crash.
void read_as_archive(const std::string &file) {
    const std::size_t tail_size = std::min<std::size_t>(
        file.size(), (1u << 16) + zip::kEndRecordSize + zip::kZip64LocatorSize +
                         zip::kZip64EndRecordSize);
    try {
        const zip::EndRecord end =
            zip::find_end_record(bytes(file) + file.size() - tail_size, tail_size, file.size());
        if (end.directory_start + end.directory_size > file.size()) return;
        const auto entries = zip::read_central_directory(
            bytes(file) + end.directory_start, static_cast<std::size_t>(end.directory_size));
        for (const auto &entry : entries) check_entry_round_trip(entry, literal(file));
    } catch (const zip::BadArchive &) {
    }
    unsigned char header[zip::kLocalHeaderSize] = {};
    std::memcpy(header, file.data(), std::min(file.size(), sizeof header));  // padded
    (void)zip::read_local_header(header);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const std::string raw(reinterpret_cast<const char *>(data), size);
    read_as_archive(raw);

    vb::fuzz::Input in(data, size);
    const std::size_t split = in.byte() * 8 + in.byte();
    const std::size_t shift = in.byte() % 64;
    const std::uint64_t offset = in.flag() ? in.word() % (std::uint64_t(1) << 40) : in.word() % 4096;
    const std::uint64_t file_size = in.flag() ? in.word() >> 20 : in.word() % 100000;
    const std::uint64_t count = in.flag() ? 0x10000 + in.byte() : in.byte();
    std::string rest;
    while (!in.empty()) rest += static_cast<char>(in.byte());
    check_crc(rest, split, shift);

    zip::CentralEntry entry;
    entry.name = rest.substr(0, std::min<std::size_t>(rest.size(), split % 300));
    entry.comment = rest.substr(entry.name.size(), shift);
    entry.header_offset = offset;
    entry.file_size = file_size;
    entry.compress_size = file_size / 2;
    entry.crc = crc32(0, bytes(rest), rest.size());
    check_entry_round_trip(entry, literal(rest));
    check_end_record(count, file_size, offset, entry.comment);
    return 0;
}
