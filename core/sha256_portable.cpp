// SHA-256's compression in plain C++, for processors without the SHA instructions. The 64
// rounds are written out with the eight working variables renamed from round to round instead
// of shifted, and the message schedule lives in a 16-word ring indexed by constants, so the
// compiler keeps both in registers where it has them.
#include <cstdint>

#include "core/sha256_blocks.h"

// The round constants, shared with the SHA-instruction path.
extern const uint32_t SHA256_K[64] = {
    0x428a2f98u, 0x71374491u, 0xb5c0fbcfu, 0xe9b5dba5u, 0x3956c25bu, 0x59f111f1u, 0x923f82a4u,
    0xab1c5ed5u, 0xd807aa98u, 0x12835b01u, 0x243185beu, 0x550c7dc3u, 0x72be5d74u, 0x80deb1feu,
    0x9bdc06a7u, 0xc19bf174u, 0xe49b69c1u, 0xefbe4786u, 0x0fc19dc6u, 0x240ca1ccu, 0x2de92c6fu,
    0x4a7484aau, 0x5cb0a9dcu, 0x76f988dau, 0x983e5152u, 0xa831c66du, 0xb00327c8u, 0xbf597fc7u,
    0xc6e00bf3u, 0xd5a79147u, 0x06ca6351u, 0x14292967u, 0x27b70a85u, 0x2e1b2138u, 0x4d2c6dfcu,
    0x53380d13u, 0x650a7354u, 0x766a0abbu, 0x81c2c92eu, 0x92722c85u, 0xa2bfe8a1u, 0xa81a664bu,
    0xc24b8b70u, 0xc76c51a3u, 0xd192e819u, 0xd6990624u, 0xf40e3585u, 0x106aa070u, 0x19a4c116u,
    0x1e376c08u, 0x2748774cu, 0x34b0bcb5u, 0x391c0cb3u, 0x4ed8aa4au, 0x5b9cca4fu, 0x682e6ff3u,
    0x748f82eeu, 0x78a5636fu, 0x84c87814u, 0x8cc70208u, 0x90befffau, 0xa4506cebu, 0xbef9a3f7u,
    0xc67178f2u};

namespace {

inline uint32_t rotr(uint32_t x, int n)
{
    return (x >> n) | (x << (32 - n));
}

inline uint32_t load_be32(const uint8_t *p)
{
    return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
           (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
}

inline uint32_t big_sigma0(uint32_t x)
{
    return rotr(x, 2) ^ rotr(x, 13) ^ rotr(x, 22);
}
inline uint32_t big_sigma1(uint32_t x)
{
    return rotr(x, 6) ^ rotr(x, 11) ^ rotr(x, 25);
}
inline uint32_t small_sigma0(uint32_t x)
{
    return rotr(x, 7) ^ rotr(x, 18) ^ (x >> 3);
}
inline uint32_t small_sigma1(uint32_t x)
{
    return rotr(x, 17) ^ rotr(x, 19) ^ (x >> 10);
}
inline uint32_t choose(uint32_t e, uint32_t f, uint32_t g)
{
    return g ^ (e & (f ^ g));
}

// One round: d and h take the new values; the caller's next round names the variables one
// place further on. The majority is taken as ((a ^ b) & (b ^ c)) ^ b: this round's a ^ b is
// the next round's b ^ c, so ab and bc trade places from round to round and one operation
// per round is saved.
#define SHA256_ROUND(a, b, c, d, e, f, g, h, k, w, ab, bc)               \
    do {                                                                 \
        uint32_t t1 = (h) + big_sigma1(e) + choose(e, f, g) + (k) + (w); \
        (d) += t1;                                                       \
        (ab) = (a) ^ (b);                                                \
        (h) = t1 + big_sigma0(a) + (((ab) & (bc)) ^ (b));                \
    } while (0)

// Word i of the schedule (i >= 16), replacing word i - 16 in the ring.
#define SHA256_NEXT(w, i) \
    ((w)[(i)&15] +=       \
     small_sigma1((w)[((i)-2) & 15]) + (w)[((i)-7) & 15] + small_sigma0((w)[((i)-15) & 15]))

// Eight rounds from round r on, taking words n to n + 7 of the ring (n is r modulo 16, a
// constant, so the ring's indices are too).
#define SHA256_EIGHT(r, n, WORD)                                                      \
    do {                                                                              \
        SHA256_ROUND(a, b, c, d, e, f, g, h, SHA256_K[(r) + 0], WORD((n) + 0), x, y); \
        SHA256_ROUND(h, a, b, c, d, e, f, g, SHA256_K[(r) + 1], WORD((n) + 1), y, x); \
        SHA256_ROUND(g, h, a, b, c, d, e, f, SHA256_K[(r) + 2], WORD((n) + 2), x, y); \
        SHA256_ROUND(f, g, h, a, b, c, d, e, SHA256_K[(r) + 3], WORD((n) + 3), y, x); \
        SHA256_ROUND(e, f, g, h, a, b, c, d, SHA256_K[(r) + 4], WORD((n) + 4), x, y); \
        SHA256_ROUND(d, e, f, g, h, a, b, c, SHA256_K[(r) + 5], WORD((n) + 5), y, x); \
        SHA256_ROUND(c, d, e, f, g, h, a, b, SHA256_K[(r) + 6], WORD((n) + 6), x, y); \
        SHA256_ROUND(b, c, d, e, f, g, h, a, SHA256_K[(r) + 7], WORD((n) + 7), y, x); \
    } while (0)

}  // namespace

void sha256_blocks_portable(uint32_t state[8], const uint8_t *data, size_t count)
{
    for (; count > 0; --count, data += 64) {
        uint32_t w[16];
        for (int i = 0; i < 16; ++i)
            w[i] = load_be32(data + 4 * i);
        uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
        uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
        uint32_t x, y = b ^ c;  // x: this round's a ^ b, y: its b ^ c (then they trade)

#define SHA256_LOADED(i) w[(i)&15]
        SHA256_EIGHT(0, 0, SHA256_LOADED);
        SHA256_EIGHT(8, 8, SHA256_LOADED);
        // Rounds 16 to 63 in three passes of sixteen, each replacing the whole ring.
        for (int r = 16; r < 64; r += 16) {
#define SHA256_SCHEDULED(i) SHA256_NEXT(w, i)
            SHA256_EIGHT(r, 0, SHA256_SCHEDULED);
            SHA256_EIGHT(r + 8, 8, SHA256_SCHEDULED);
        }
#undef SHA256_LOADED
#undef SHA256_SCHEDULED

        state[0] += a;
        state[1] += b;
        state[2] += c;
        state[3] += d;
        state[4] += e;
        state[5] += f;
        state[6] += g;
        state[7] += h;
    }
}
