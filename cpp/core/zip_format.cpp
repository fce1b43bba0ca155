#include "zip_format.hpp"

#include <array>

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

VB_CLMUL_TARGET inline __m128i load(const unsigned char *p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
}

// x times the two halves of k, carried into the next 128 bits.
VB_CLMUL_TARGET inline __m128i fold(__m128i x, __m128i k, __m128i next) {
    const __m128i lo = _mm_clmulepi64_si128(x, k, 0x00);
    const __m128i hi = _mm_clmulepi64_si128(x, k, 0x11);
    return _mm_xor_si128(_mm_xor_si128(hi, lo), next);
}

// Carry-less multiplication folding (four 128-bit lanes, then one, then a
// Barrett reduction) for the reflected polynomial. n is a multiple of 16 and
// at least 64; c is the inverted register.
VB_CLMUL_TARGET std::uint32_t crc32_clmul(std::uint32_t c, const unsigned char *p,
                                          std::size_t n) {
    alignas(16) static const std::uint64_t k1k2[2] = {0x0154442bd4u, 0x01c6e41596u};
    alignas(16) static const std::uint64_t k3k4[2] = {0x01751997d0u, 0x00ccaa009eu};
    alignas(16) static const std::uint64_t k5k0[2] = {0x0163cd6124u, 0x0000000000u};
    alignas(16) static const std::uint64_t poly[2] = {0x01db710641u, 0x01f7011641u};
    __m128i x1 = _mm_xor_si128(load(p), _mm_cvtsi32_si128(static_cast<int>(c)));
    __m128i x2 = load(p + 16);
    __m128i x3 = load(p + 32);
    __m128i x4 = load(p + 48);
    p += 64;
    n -= 64;
    __m128i k = _mm_load_si128(reinterpret_cast<const __m128i *>(k1k2));
    while (n >= 64) {
        x1 = fold(x1, k, load(p));
        x2 = fold(x2, k, load(p + 16));
        x3 = fold(x3, k, load(p + 32));
        x4 = fold(x4, k, load(p + 48));
        p += 64;
        n -= 64;
    }
    k = _mm_load_si128(reinterpret_cast<const __m128i *>(k3k4));
    x1 = fold(x1, k, x2);
    x1 = fold(x1, k, x3);
    x1 = fold(x1, k, x4);
    while (n >= 16) {
        x1 = fold(x1, k, load(p));
        p += 16;
        n -= 16;
    }

    // 128 bits to 64.
    const __m128i mask32 = _mm_setr_epi32(~0, 0, ~0, 0);
    __m128i x = _mm_xor_si128(_mm_srli_si128(x1, 8), _mm_clmulepi64_si128(x1, k, 0x10));
    k = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(k5k0));
    x = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(x, mask32), k, 0x00),
                      _mm_srli_si128(x, 4));
    // Barrett reduction to 32 bits.
    k = _mm_load_si128(reinterpret_cast<const __m128i *>(poly));
    __m128i t = _mm_clmulepi64_si128(_mm_and_si128(x, mask32), k, 0x10);
    t = _mm_clmulepi64_si128(_mm_and_si128(t, mask32), k, 0x00);
    return static_cast<std::uint32_t>(_mm_extract_epi32(_mm_xor_si128(x, t), 1));
}

bool has_clmul() {
    static const bool available = __builtin_cpu_supports("pclmul") &&
                                  __builtin_cpu_supports("sse4.1");
    return available;
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

LocalHeader read_local_header(const unsigned char (&header)[kLocalHeaderSize]) {
    const bool valid = header[0] == 'P' && header[1] == 'K' && header[2] == 3 && header[3] == 4;
    const std::size_t name_length = std::size_t(header[26]) | std::size_t(header[27]) << 8;
    const std::size_t extra_length = std::size_t(header[28]) | std::size_t(header[29]) << 8;
    return {valid, name_length + extra_length};
}

}  // namespace vb::core
