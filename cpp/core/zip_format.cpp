#include "zip_format.hpp"

#include <algorithm>
#include <array>
#include <cstdio>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define VB_CRC32_CLMUL 1
#include <immintrin.h>
#endif

namespace vb::core {
namespace {

constexpr std::uint32_t kPolynomial = 0xEDB88320u;

// Slicing by eight: table[k][b] is the CRC contribution of byte b followed by
// k zero bytes.
using Tables = std::array<std::array<std::uint32_t, 256>, 8>;

constexpr Tables make_tables() {
    Tables tables{};
    for (std::uint32_t b = 0; b < 256; ++b) {
        std::uint32_t c = b;
        for (int bit = 0; bit < 8; ++bit) c = (c & 1u) ? (c >> 1) ^ kPolynomial : c >> 1;
        tables[0][b] = c;
    }
    for (std::size_t k = 1; k < 8; ++k)
        for (std::size_t b = 0; b < 256; ++b)
            tables[k][b] = (tables[k - 1][b] >> 8) ^ tables[0][tables[k - 1][b] & 0xFFu];
    return tables;
}

constexpr Tables kTables = make_tables();

// On the inverted register, as zlib keeps it between bytes.
std::uint32_t crc32_tables(std::uint32_t c, const unsigned char *p, std::size_t n) {
    while (n >= 8) {
        const std::uint32_t lo = c ^ (std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 |
                                      std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24);
        c = kTables[7][lo & 0xFFu] ^ kTables[6][(lo >> 8) & 0xFFu] ^
            kTables[5][(lo >> 16) & 0xFFu] ^ kTables[4][lo >> 24] ^ kTables[3][p[4]] ^
            kTables[2][p[5]] ^ kTables[1][p[6]] ^ kTables[0][p[7]];
        p += 8;
        n -= 8;
    }
    while (n-- > 0) c = (c >> 8) ^ kTables[0][(c ^ *p++) & 0xFFu];
    return c;
}

#ifdef VB_CRC32_CLMUL

#define VB_CLMUL_TARGET __attribute__((target("pclmul,sse4.1")))
#define VB_WIDE_CLMUL_TARGET __attribute__((target("pclmul,sse4.1,avx512f,vpclmulqdq")))

// Folding constants for the reflected polynomial, as pairs {for the low half,
// for the high half} of a 128-bit lane carried forward by a distance of d
// bits: x^(d+32) and x^(d-32) modulo the polynomial, bit-reflected, times x.
alignas(16) constexpr std::uint64_t kFold128[2] = {0x01751997d0u, 0x00ccaa009eu};
alignas(16) constexpr std::uint64_t kFold256[2] = {0x00f1da05aau, 0x015a546366u};
alignas(16) constexpr std::uint64_t kFold384[2] = {0x003db1ecdcu, 0x0174359406u};
alignas(16) constexpr std::uint64_t kFold512[2] = {0x0154442bd4u, 0x01c6e41596u};
alignas(16) constexpr std::uint64_t kFold2048[2] = {0x011542778au, 0x01322d1430u};
// The last steps: 64 bits to 32 (x^64), and the Barrett reduction.
alignas(16) constexpr std::uint64_t kFold64[2] = {0x0163cd6124u, 0x0000000000u};
alignas(16) constexpr std::uint64_t kBarrett[2] = {0x01db710641u, 0x01f7011641u};

VB_CLMUL_TARGET inline __m128i load(const unsigned char *p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
}

VB_CLMUL_TARGET inline __m128i constants(const std::uint64_t (&pair)[2]) {
    return _mm_load_si128(reinterpret_cast<const __m128i *>(pair));
}

// x times the two halves of k, carried into the next 128 bits.
VB_CLMUL_TARGET inline __m128i fold(__m128i x, __m128i k, __m128i next) {
    const __m128i lo = _mm_clmulepi64_si128(x, k, 0x00);
    const __m128i hi = _mm_clmulepi64_si128(x, k, 0x11);
    return _mm_xor_si128(_mm_xor_si128(hi, lo), next);
}

// All but the last 0 to 48 bytes of p (n of them, a multiple of 16 and at
// least 64) folded into 128 bits, four 128-bit lanes at a time; c is the
// inverted register. p and n are moved past what was folded.
VB_CLMUL_TARGET __m128i fold_lanes(std::uint32_t c, const unsigned char *&p, std::size_t &n) {
    __m128i x1 = _mm_xor_si128(load(p), _mm_cvtsi32_si128(static_cast<int>(c)));
    __m128i x2 = load(p + 16);
    __m128i x3 = load(p + 32);
    __m128i x4 = load(p + 48);
    p += 64;
    n -= 64;
    const __m128i k = constants(kFold512);
    while (n >= 64) {
        x1 = fold(x1, k, load(p));
        x2 = fold(x2, k, load(p + 16));
        x3 = fold(x3, k, load(p + 32));
        x4 = fold(x4, k, load(p + 48));
        p += 64;
        n -= 64;
    }
    const __m128i k128 = constants(kFold128);
    return fold(fold(fold(x1, k128, x2), k128, x3), k128, x4);
}

VB_WIDE_CLMUL_TARGET inline __m512i load_wide(const unsigned char *p) {
    return _mm512_loadu_si512(p);
}

VB_WIDE_CLMUL_TARGET inline __m512i wide_constants(const std::uint64_t (&pair)[2]) {
    const auto lo = static_cast<long long>(pair[0]), hi = static_cast<long long>(pair[1]);
    return _mm512_set_epi64(hi, lo, hi, lo, hi, lo, hi, lo);
}

// fold() on the four 128-bit lanes of a 512-bit register at once.
VB_WIDE_CLMUL_TARGET inline __m512i fold_wide(__m512i x, __m512i k, __m512i next) {
    return _mm512_ternarylogic_epi64(_mm512_clmulepi64_epi128(x, k, 0x00),
                                     _mm512_clmulepi64_epi128(x, k, 0x11), next, 0x96);
}

// fold_lanes() with four 512-bit registers (sixteen lanes) at a time, for n
// of at least 256: all but the last 0 to 240 bytes folded.
VB_WIDE_CLMUL_TARGET __m128i fold_wide_lanes(std::uint32_t c, const unsigned char *&p,
                                             std::size_t &n) {
    __m512i x1 = _mm512_xor_si512(load_wide(p), _mm512_zextsi128_si512(
                                                  _mm_cvtsi32_si128(static_cast<int>(c))));
    __m512i x2 = load_wide(p + 64);
    __m512i x3 = load_wide(p + 128);
    __m512i x4 = load_wide(p + 192);
    p += 256;
    n -= 256;
    const __m512i k = wide_constants(kFold2048);
    while (n >= 256) {
        x1 = fold_wide(x1, k, load_wide(p));
        x2 = fold_wide(x2, k, load_wide(p + 64));
        x3 = fold_wide(x3, k, load_wide(p + 128));
        x4 = fold_wide(x4, k, load_wide(p + 192));
        p += 256;
        n -= 256;
    }
    const __m512i k512 = wide_constants(kFold512);
    const __m512i x = fold_wide(fold_wide(fold_wide(x1, k512, x2), k512, x3), k512, x4);
    // The register's four lanes into its last one, each across its distance.
    alignas(64) unsigned char lanes[64];
    _mm512_store_si512(lanes, x);
    __m128i last = load(lanes + 48);
    last = fold(load(lanes), constants(kFold384), last);
    last = fold(load(lanes + 16), constants(kFold256), last);
    last = fold(load(lanes + 32), constants(kFold128), last);
    return last;
}

// The remaining 16-byte blocks folded into x, then 128 bits reduced to the
// 32-bit register.
VB_CLMUL_TARGET std::uint32_t fold_rest(__m128i x, const unsigned char *p, std::size_t n) {
    __m128i k = constants(kFold128);
    while (n >= 16) {
        x = fold(x, k, load(p));
        p += 16;
        n -= 16;
    }
    // 128 bits to 64.
    const __m128i mask32 = _mm_setr_epi32(~0, 0, ~0, 0);
    x = _mm_xor_si128(_mm_srli_si128(x, 8), _mm_clmulepi64_si128(x, k, 0x10));
    k = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(kFold64));
    x = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(x, mask32), k, 0x00),
                      _mm_srli_si128(x, 4));
    // Barrett reduction to 32 bits.
    k = constants(kBarrett);
    __m128i t = _mm_clmulepi64_si128(_mm_and_si128(x, mask32), k, 0x10);
    t = _mm_clmulepi64_si128(_mm_and_si128(t, mask32), k, 0x00);
    return static_cast<std::uint32_t>(_mm_extract_epi32(_mm_xor_si128(x, t), 1));
}

bool has_clmul() {
    static const bool available = __builtin_cpu_supports("pclmul") &&
                                  __builtin_cpu_supports("sse4.1");
    return available;
}

bool has_wide_clmul() {
    static const bool available = has_clmul() && __builtin_cpu_supports("avx512f") &&
                                  __builtin_cpu_supports("vpclmulqdq");
    return available;
}

// Carry-less multiplication folding for the reflected polynomial. n is a
// multiple of 16 and at least 64; c is the inverted register.
std::uint32_t crc32_clmul(std::uint32_t c, const unsigned char *p, std::size_t n) {
    const __m128i x = n >= 256 && has_wide_clmul() ? fold_wide_lanes(c, p, n)
                                                   : fold_lanes(c, p, n);
    return fold_rest(x, p, n);
}

#endif

}  // namespace

std::uint32_t crc32(std::uint32_t crc, const unsigned char *data, std::size_t length) {
    std::uint32_t c = ~crc;
#ifdef VB_CRC32_CLMUL
    if (length >= 64 && has_clmul()) {
        const std::size_t folded = length & ~std::size_t(15);
        c = crc32_clmul(c, data, folded);
        data += folded;
        length -= folded;
    }
#endif
    return ~crc32_tables(c, data, length);
}

namespace zip {
namespace {

std::uint16_t get16(const unsigned char *p) { return std::uint16_t(p[0] | p[1] << 8); }

std::uint32_t get32(const unsigned char *p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
}

std::uint64_t get64(const unsigned char *p) {
    return std::uint64_t(get32(p)) | std::uint64_t(get32(p + 4)) << 32;
}

bool has_signature(const unsigned char *p, unsigned char kind, unsigned char number) {
    return p[0] == 'P' && p[1] == 'K' && p[2] == kind && p[3] == number;
}

// Little-endian fields appended one after the other.
class Bytes {
  public:
    Bytes &signature(unsigned char kind, unsigned char number) {
        out_ += "PK";
        out_ += static_cast<char>(kind);
        out_ += static_cast<char>(number);
        return *this;
    }
    Bytes &u8(std::uint64_t value) { return put(value, 1); }
    Bytes &u16(std::uint64_t value) { return put(value, 2); }
    Bytes &u32(std::uint64_t value) { return put(value, 4); }
    Bytes &u64(std::uint64_t value) { return put(value, 8); }
    Bytes &raw(const std::string &bytes) {
        out_ += bytes;
        return *this;
    }
    std::string take() { return std::move(out_); }

  private:
    Bytes &put(std::uint64_t value, int width) {
        for (int i = 0; i < width; ++i) out_ += static_cast<char>((value >> (8 * i)) & 0xFFu);
        return *this;
    }
    std::string out_;
};

// A length for a 16-bit field; `what` names the field for the error.
std::uint16_t field_length(std::size_t length, const char *what) {
    if (length > 0xFFFF) throw std::overflow_error(std::string(what) + " longer than 65535 bytes");
    return static_cast<std::uint16_t>(length);
}

constexpr std::uint16_t kZip64Extra = 0x0001;
constexpr std::uint8_t kZip64Version = 45;
constexpr std::uint8_t kBzip2Version = 46;
constexpr std::uint8_t kLzmaVersion = 63;
constexpr std::uint64_t kNotRecorded32 = 0xFFFFFFFFu;

// The extra field without its blocks of type `id`; a trailing piece shorter
// than a block header stays.
std::string strip_extra(const std::string &extra, std::uint16_t id) {
    const auto *bytes = reinterpret_cast<const unsigned char *>(extra.data());
    std::string kept;
    std::size_t start = 0, at = 0;
    bool stripped = false;
    while (at + 4 <= extra.size()) {
        const std::size_t next = at + 4 + get16(bytes + at + 2);
        if (get16(bytes + at) == id) {
            kept.append(extra, start, at - start);
            start = next;
            stripped = true;
        }
        at = next;
    }
    if (!stripped) return extra;
    if (start < extra.size()) kept.append(extra, start, std::string::npos);
    return kept;
}

// Sizes and offset that the fixed fields defer to a zip64 block, read from
// it; a field it lacks makes the archive corrupt.
void decode_zip64_extra(CentralEntry &entry) {
    const auto *bytes = reinterpret_cast<const unsigned char *>(entry.extra.data());
    std::size_t rest = entry.extra.size();
    while (rest >= 4) {
        const std::uint16_t type = get16(bytes);
        const std::size_t length = get16(bytes + 2);
        if (length + 4 > rest) {
            char message[64];
            std::snprintf(message, sizeof message, "Corrupt extra field %04x (size=%zu)", type,
                          length);
            throw BadArchive(message);
        }
        if (type == kZip64Extra) {
            const unsigned char *data = bytes + 4;
            std::size_t left = length;
            auto take = [&](std::uint64_t &field, const char *name) {
                if (left < 8)
                    throw BadArchive(std::string("Corrupt zip64 extra field. ") + name +
                                     " not found.");
                field = get64(data);
                data += 8;
                left -= 8;
            };
            if (entry.file_size == kNotRecorded32 || entry.file_size == ~std::uint64_t(0))
                take(entry.file_size, "File size");
            if (entry.compress_size == kNotRecorded32) take(entry.compress_size, "Compress size");
            if (entry.header_offset == kNotRecorded32) take(entry.header_offset, "Header offset");
        }
        bytes += length + 4;
        rest -= length + 4;
    }
}

// Where in the file the end record starts (the search zipfile makes: the last
// 22 bytes when they are a record without comment, else the last signature in
// the last 64 KiB + 22 bytes), or -1.
long long end_record_position(const unsigned char *tail, std::size_t tail_size,
                              std::uint64_t file_size) {
    if (file_size < kEndRecordSize || tail_size < kEndRecordSize) return -1;
    const std::uint64_t tail_start = file_size - tail_size;
    const unsigned char *last = tail + tail_size - kEndRecordSize;
    if (has_signature(last, 5, 6) && last[20] == 0 && last[21] == 0)
        return static_cast<long long>(file_size - kEndRecordSize);
    const std::uint64_t search_start = std::max<std::uint64_t>(
        tail_start,
        file_size > (1u << 16) + kEndRecordSize ? file_size - (1u << 16) - kEndRecordSize : 0);
    for (std::uint64_t at = file_size - 4 + 1; at-- > search_start;) {
        if (has_signature(tail + (at - tail_start), 5, 6))
            return at + kEndRecordSize <= file_size ? static_cast<long long>(at) : -1;
    }
    return -1;
}

}  // namespace

EndRecord find_end_record(const unsigned char *tail, std::size_t tail_size,
                          std::uint64_t file_size) {
    const long long found = end_record_position(tail, tail_size, file_size);
    if (found < 0) throw BadArchive("File is not a zip file");
    const std::uint64_t position = static_cast<std::uint64_t>(found);
    const unsigned char *record = tail + (position - (file_size - tail_size));
    EndRecord end;
    end.directory_size = get32(record + 12);
    std::uint64_t directory_offset = get32(record + 16);
    const std::size_t comment_size = get16(record + 20);
    const std::size_t comment_available =
        static_cast<std::size_t>(file_size - position - kEndRecordSize);
    end.comment.assign(reinterpret_cast<const char *>(record + kEndRecordSize),
                       std::min(comment_size, comment_available));

    std::uint64_t records_start = position;
    const std::uint64_t before = position - (file_size - tail_size);  // bytes of tail before it
    if (before >= kZip64LocatorSize) {
        const unsigned char *locator = record - kZip64LocatorSize;
        if (has_signature(locator, 6, 7)) {
            if (get32(locator + 4) != 0 || get32(locator + 16) > 1)
                throw BadArchive("zipfiles that span multiple disks are not supported");
            const unsigned char *record64 = locator - kZip64EndRecordSize;
            if (before >= kZip64LocatorSize + kZip64EndRecordSize &&
                has_signature(record64, 6, 6)) {
                end.directory_size = get64(record64 + 40);
                directory_offset = get64(record64 + 48);
                records_start = position - kZip64LocatorSize - kZip64EndRecordSize;
            }
        }
    }
    if (end.directory_size > records_start) throw BadArchive("Bad offset for central directory");
    end.directory_start = records_start - end.directory_size;
    end.shift = static_cast<std::int64_t>(end.directory_start - directory_offset);
    return end;
}

std::vector<CentralEntry> read_central_directory(const unsigned char *directory,
                                                 std::size_t size) {
    std::vector<CentralEntry> entries;
    std::size_t at = 0;
    while (at < size) {
        if (size - at < kCentralHeaderSize) throw BadArchive("Truncated central directory");
        const unsigned char *p = directory + at;
        if (!has_signature(p, 1, 2)) throw BadArchive("Bad magic number for central directory");
        const std::size_t name_size = get16(p + 28), extra_size = get16(p + 30),
                          comment_size = get16(p + 32);
        if (size - at - kCentralHeaderSize < name_size + extra_size + comment_size)
            throw BadArchive("Truncated central directory");
        CentralEntry entry;
        entry.create_version = p[4];
        entry.create_system = p[5];
        entry.extract_version = p[6];
        entry.reserved = p[7];
        entry.flags = get16(p + 8);
        entry.method = get16(p + 10);
        entry.time = get16(p + 12);
        entry.date = get16(p + 14);
        entry.crc = get32(p + 16);
        entry.compress_size = get32(p + 20);
        entry.file_size = get32(p + 24);
        entry.internal_attr = get16(p + 36);
        entry.external_attr = get32(p + 38);
        entry.header_offset = get32(p + 42);
        const char *variable = reinterpret_cast<const char *>(p + kCentralHeaderSize);
        entry.name.assign(variable, name_size);
        entry.extra.assign(variable + name_size, extra_size);
        entry.comment.assign(variable + name_size + extra_size, comment_size);
        decode_zip64_extra(entry);
        entries.push_back(std::move(entry));
        at += kCentralHeaderSize + name_size + extra_size + comment_size;
    }
    return entries;
}

std::string central_entry_bytes(const CentralEntry &entry) {
    std::vector<std::uint64_t> zip64;
    std::uint64_t compress_size = entry.compress_size, file_size = entry.file_size;
    if (file_size > kZip64Limit || compress_size > kZip64Limit) {
        zip64 = {file_size, compress_size};
        compress_size = file_size = kNotRecorded32;
    }
    std::uint64_t header_offset = entry.header_offset;
    if (header_offset > kZip64Limit) {
        zip64.push_back(header_offset);
        header_offset = kNotRecorded32;
    }
    std::string extra = entry.extra;
    std::uint8_t min_version = 0;
    if (!zip64.empty()) {
        Bytes block;
        block.u16(kZip64Extra).u16(8 * zip64.size());
        for (std::uint64_t value : zip64) block.u64(value);
        extra = block.take() + strip_extra(extra, kZip64Extra);
        min_version = kZip64Version;
    }
    if (entry.method == kBzip2) min_version = std::max(min_version, kBzip2Version);
    if (entry.method == kLzma) min_version = std::max(min_version, kLzmaVersion);

    Bytes out;
    out.signature(1, 2)
        .u8(std::max(min_version, entry.create_version))
        .u8(entry.create_system)
        .u8(std::max(min_version, entry.extract_version))
        .u8(entry.reserved)
        .u16(entry.flags)
        .u16(entry.method)
        .u16(entry.time)
        .u16(entry.date)
        .u32(entry.crc)
        .u32(compress_size)
        .u32(file_size)
        .u16(field_length(entry.name.size(), "A member name"))
        .u16(field_length(extra.size(), "A member's extra field"))
        .u16(field_length(entry.comment.size(), "A member comment"))
        .u16(0)
        .u16(entry.internal_attr)
        .u32(entry.external_attr)
        .u32(header_offset);
    return out.raw(entry.name).raw(extra).raw(entry.comment).take();
}

std::string end_record_bytes(std::uint64_t count, std::uint64_t size, std::uint64_t offset,
                             const std::string &comment) {
    Bytes out;
    if (count > kFileCountLimit || offset > kZip64Limit || size > kZip64Limit) {
        const std::uint64_t records_start = offset + size;
        out.signature(6, 6).u64(44).u16(45).u16(45).u32(0).u32(0);
        out.u64(count).u64(count).u64(size).u64(offset);
        out.signature(6, 7).u32(0).u64(records_start).u32(1);
        count = std::min<std::uint64_t>(count, 0xFFFF);
        size = std::min<std::uint64_t>(size, kNotRecorded32);
        offset = std::min<std::uint64_t>(offset, kNotRecorded32);
    }
    out.signature(5, 6).u16(0).u16(0).u16(count).u16(count).u32(size).u32(offset);
    out.u16(field_length(comment.size(), "The archive comment"));
    return out.raw(comment).take();
}

LocalHeader read_local_header(const unsigned char *header) {
    return {has_signature(header, 3, 4), get16(header + 6), get16(header + 8),
            get16(header + 10), get16(header + 12), get16(header + 26), get16(header + 28)};
}

std::size_t data_descriptor_size(const unsigned char *after, std::size_t available,
                                 const CentralEntry &entry) {
    auto fits = [&](std::size_t start, std::size_t size_width) {
        const unsigned char *p = after + start;
        if (available < start + 4 + 2 * size_width || get32(p) != entry.crc) return false;
        if (size_width == 4)
            return get32(p + 4) == entry.compress_size && get32(p + 8) == entry.file_size;
        return get64(p + 4) == entry.compress_size && get64(p + 12) == entry.file_size;
    };
    const bool signed_form = available >= 4 && has_signature(after, 7, 8);
    for (const std::size_t start : {std::size_t(4), std::size_t(0)}) {
        if (start == 4 && !signed_form) continue;
        for (const std::size_t width : {std::size_t(4), std::size_t(8)})
            if (fits(start, width)) return start + 4 + 2 * width;
    }
    return 0;
}

}  // namespace zip

}  // namespace vb::core
