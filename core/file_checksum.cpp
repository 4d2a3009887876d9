// CRC-32 (reflected 0xEDB88320, as zlib and PNG). Three ways to the same value:
//  - one table step per byte, the plain definition, kept as the reference;
//  - slicing-by-8 with eight tables, the portable fast path;
//  - on x86 processors with carry-less multiply, folding 64 bytes per step, chosen at run time
//    so the program still runs on processors without it.
#include "core/file_checksum.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__)
#define CRC_HAVE_CLMUL 1
#include <immintrin.h>
#endif

namespace {

constexpr uint32_t REFLECTED_POLY = 0xEDB88320u;

struct crc_tables {
    uint32_t t[8][256];  // t[k][b]: register after byte b followed by k zero bytes
};

constexpr crc_tables make_tables()
{
    crc_tables tables{};
    for (uint32_t n = 0; n < 256; ++n) {
        uint32_t r = n;
        for (int bit = 0; bit < 8; ++bit)
            r = (r & 1) ? (r >> 1) ^ REFLECTED_POLY : r >> 1;
        tables.t[0][n] = r;
    }
    for (int k = 1; k < 8; ++k)
        for (int n = 0; n < 256; ++n) {
            uint32_t prev = tables.t[k - 1][n];
            tables.t[k][n] = (prev >> 8) ^ tables.t[0][prev & 0xFF];
        }
    return tables;
}

constexpr crc_tables tables = make_tables();
static_assert(tables.t[0][1] == 0x77073096u, "table entry 1 of the reflected polynomial");

uint32_t register_bytewise(uint32_t reg, const uint8_t *p, size_t length)
{
    while (length--)
        reg = (reg >> 8) ^ tables.t[0][(reg ^ *p++) & 0xFF];
    return reg;
}

uint32_t load_le32(const uint8_t *p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

uint32_t register_slice8(uint32_t reg, const uint8_t *p, size_t length)
{
    const auto &t = tables.t;
    while (length >= 8) {
        uint32_t lo = reg ^ load_le32(p);
        uint32_t hi = load_le32(p + 4);
        reg = t[7][lo & 0xFF] ^ t[6][(lo >> 8) & 0xFF] ^ t[5][(lo >> 16) & 0xFF] ^ t[4][lo >> 24] ^
              t[3][hi & 0xFF] ^ t[2][(hi >> 8) & 0xFF] ^ t[1][(hi >> 16) & 0xFF] ^ t[0][hi >> 24];
        p += 8;
        length -= 8;
    }
    return register_bytewise(reg, p, length);
}

#ifdef CRC_HAVE_CLMUL

// Folding constants, derived rather than typed in: x^n mod P (P = 0x104C11DB7), bit-reversed
// over 33 bits so that a carry-less product of reflected data lands aligned for the next block.
constexpr uint64_t fold_constant(int n)
{
    uint64_t r = 1;
    for (int i = 0; i < n; ++i) {
        r <<= 1;
        if (r & 0x100000000ull)
            r ^= 0x104C11DB7ull;
    }
    uint64_t reversed = 0;
    for (int bit = 0; bit < 33; ++bit)
        if (r & (1ull << bit))
            reversed |= 1ull << (32 - bit);
    return reversed;
}

// Moving a 128-bit block forward by D bits multiplies its low (earlier) half by x^(D+32) and
// its high half by x^(D-32), both reduced modulo P.
constexpr uint64_t FOLD512_LOW = fold_constant(512 + 32);
constexpr uint64_t FOLD512_HIGH = fold_constant(512 - 32);
constexpr uint64_t FOLD128_LOW = fold_constant(128 + 32);
constexpr uint64_t FOLD128_HIGH = fold_constant(128 - 32);
static_assert(FOLD512_LOW == 0x154442bd4ull && FOLD128_HIGH == 0xccaa009eull,
              "folding constants of the reflected CRC-32");

#if defined(__i386__)
// 32-bit Windows only keeps the stack 4-byte aligned; vector spills need 16.
#define CLMUL_FUNCTION __attribute__((target("sse2,pclmul"), force_align_arg_pointer))
#else
#define CLMUL_FUNCTION __attribute__((target("sse2,pclmul")))
#endif

CLMUL_FUNCTION inline __m128i fold(__m128i block, __m128i constants)
{
    return _mm_xor_si128(_mm_clmulepi64_si128(block, constants, 0x00),
                         _mm_clmulepi64_si128(block, constants, 0x11));
}

// Runs the register over the whole 16-byte blocks of p (length at least 64) and returns it;
// the caller finishes the tail. Four independent lanes keep the multiplier busy.
CLMUL_FUNCTION uint32_t register_clmul(uint32_t reg, const uint8_t *p, size_t length)
{
    const __m128i k512 =
        _mm_set_epi64x(static_cast<long long>(FOLD512_HIGH), static_cast<long long>(FOLD512_LOW));
    const __m128i k128 =
        _mm_set_epi64x(static_cast<long long>(FOLD128_HIGH), static_cast<long long>(FOLD128_LOW));
    const __m128i *in = reinterpret_cast<const __m128i *>(p);

    // A register r over the data equals a zero register over the data with r in its first word.
    __m128i x0 = _mm_xor_si128(_mm_loadu_si128(in + 0), _mm_cvtsi32_si128(static_cast<int>(reg)));
    __m128i x1 = _mm_loadu_si128(in + 1);
    __m128i x2 = _mm_loadu_si128(in + 2);
    __m128i x3 = _mm_loadu_si128(in + 3);
    in += 4;
    length -= 64;

    while (length >= 64) {
        x0 = _mm_xor_si128(fold(x0, k512), _mm_loadu_si128(in + 0));
        x1 = _mm_xor_si128(fold(x1, k512), _mm_loadu_si128(in + 1));
        x2 = _mm_xor_si128(fold(x2, k512), _mm_loadu_si128(in + 2));
        x3 = _mm_xor_si128(fold(x3, k512), _mm_loadu_si128(in + 3));
        in += 4;
        length -= 64;
    }

    x1 = _mm_xor_si128(x1, fold(x0, k128));
    x2 = _mm_xor_si128(x2, fold(x1, k128));
    x3 = _mm_xor_si128(x3, fold(x2, k128));
    while (length >= 16) {
        x3 = _mm_xor_si128(fold(x3, k128), _mm_loadu_si128(in));
        ++in;
        length -= 16;
    }

    // The folded block stands for everything so far; run a zero register over its 16 bytes.
    uint8_t last[16];
    _mm_storeu_si128(reinterpret_cast<__m128i *>(last), x3);
    return register_slice8(0, last, sizeof last);
}

bool clmul_available()
{
    static const bool available = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("sse2") && __builtin_cpu_supports("pclmul");
    }();
    return available;
}

#endif  // CRC_HAVE_CLMUL

constexpr size_t FILE_BUFFER_SIZE = 64 * 1024;
constexpr size_t FALLBACK_BUFFER_SIZE = 4096;

}  // namespace

uint32_t crc32_update(uint32_t crc, const void *data, size_t length)
{
    if (!data || length == 0)
        return crc;
    const uint8_t *p = static_cast<const uint8_t *>(data);
    uint32_t reg = ~crc;
#ifdef CRC_HAVE_CLMUL
    if (length >= 64 && clmul_available()) {
        size_t whole = length & ~static_cast<size_t>(15);
        reg = register_clmul(reg, p, whole);
        p += whole;
        length -= whole;
    }
#endif
    return ~register_slice8(reg, p, length);
}

uint32_t crc32_bytewise(uint32_t crc, const void *data, size_t length)
{
    if (!data || length == 0)
        return crc;
    return ~register_bytewise(~crc, static_cast<const uint8_t *>(data), length);
}

int file_crc32(const char *path, uint32_t *checksum)
{
    if (!path)
        return -1;
    FILE *file = std::fopen(path, "rb");
    if (!file) {
        std::fprintf(stderr, "%s: %s\n", path, std::strerror(errno));
        return -1;
    }
    // A fixed buffer, whatever the file's size; a small one on the stack if memory is short.
    uint8_t fallback[FALLBACK_BUFFER_SIZE];
    uint8_t *buffer = static_cast<uint8_t *>(std::malloc(FILE_BUFFER_SIZE));
    size_t capacity = buffer ? FILE_BUFFER_SIZE : sizeof fallback;
    if (!buffer)
        buffer = fallback;

    uint32_t crc = 0;
    size_t got;
    while ((got = std::fread(buffer, 1, capacity, file)) > 0)
        crc = crc32_update(crc, buffer, got);
    if (std::ferror(file))
        std::fprintf(stderr, "%s: %s\n", path, std::strerror(errno));

    if (buffer != fallback)
        std::free(buffer);
    std::fclose(file);
    if (checksum)
        *checksum = crc;
    return 0;
}
