// SHA-256's compression on the x86 SHA instructions, and the choice of path. Only the block
// function is compiled for those instructions (a target attribute), so the program still builds
// for, and runs on, processors without them; cpuid says at run time whether to take it.
#include "core/sha256_blocks.h"

#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__)
#define SHA256_HAVE_X86 1
#include <cpuid.h>
#include <immintrin.h>
#endif

#ifdef SHA256_HAVE_X86

#if defined(__i386__)
// 32-bit Windows only keeps the stack 4-byte aligned; vector spills need 16.
#define SHA_FUNCTION __attribute__((target("sha,sse4.1"), force_align_arg_pointer))
#else
#define SHA_FUNCTION __attribute__((target("sha,sse4.1")))
#endif

// sha256rnds2 runs two rounds on the state split as (A, B, E, F) and (C, D, G, H), taking the
// two words-plus-constants from the low half of its third operand; its result is the new
// ABEF, and the old ABEF is the new CDGH. Two calls, the second on the high half, make four
// rounds and leave each variable holding what its name says.
#define SHA_FOUR_ROUNDS(group, words)                                                           \
    do {                                                                                        \
        __m128i wk = _mm_add_epi32(                                                             \
            words, _mm_loadu_si128(reinterpret_cast<const __m128i *>(SHA256_K + 4 * (group)))); \
        cdgh = _mm_sha256rnds2_epu32(cdgh, abef, wk);                                           \
        abef = _mm_sha256rnds2_epu32(abef, cdgh, _mm_shuffle_epi32(wk, 0x0E));                  \
    } while (0)

// The next four schedule words into w0, from the previous sixteen in w0 (oldest) to w3.
// msg1 adds sigma0 of the following word, the byte shift brings in the words seven back,
// msg2 adds sigma1 of the words two back (the first two of them new themselves).
#define SHA_NEXT_WORDS(w0, w1, w2, w3) \
    (w0) = _mm_sha256msg2_epu32(       \
        _mm_add_epi32(_mm_sha256msg1_epu32(w0, w1), _mm_alignr_epi8(w3, w2, 4)), w3)

SHA_FUNCTION void sha256_blocks_x86_sha(uint32_t state[8], const uint8_t *data, size_t count)
{
    // Bytes to big-endian words, in every 32-bit lane.
    const __m128i byte_order = _mm_set_epi8(12, 13, 14, 15, 8, 9, 10, 11, 4, 5, 6, 7, 0, 1, 2, 3);
    __m128i abcd = _mm_loadu_si128(reinterpret_cast<const __m128i *>(state));
    __m128i efgh = _mm_loadu_si128(reinterpret_cast<const __m128i *>(state + 4));
    abcd = _mm_shuffle_epi32(abcd, 0xB1);              // B A D C
    efgh = _mm_shuffle_epi32(efgh, 0x1B);              // H G F E
    __m128i abef = _mm_alignr_epi8(abcd, efgh, 8);     // F E B A
    __m128i cdgh = _mm_blend_epi16(efgh, abcd, 0xF0);  // H G D C

    for (; count > 0; --count, data += 64) {
        const __m128i abef_before = abef;
        const __m128i cdgh_before = cdgh;
        const __m128i *in = reinterpret_cast<const __m128i *>(data);
        __m128i w0 = _mm_shuffle_epi8(_mm_loadu_si128(in + 0), byte_order);
        __m128i w1 = _mm_shuffle_epi8(_mm_loadu_si128(in + 1), byte_order);
        __m128i w2 = _mm_shuffle_epi8(_mm_loadu_si128(in + 2), byte_order);
        __m128i w3 = _mm_shuffle_epi8(_mm_loadu_si128(in + 3), byte_order);
        SHA_FOUR_ROUNDS(0, w0);
        SHA_FOUR_ROUNDS(1, w1);
        SHA_FOUR_ROUNDS(2, w2);
        SHA_FOUR_ROUNDS(3, w3);
        for (int group = 4; group < 16; group += 4) {
            SHA_NEXT_WORDS(w0, w1, w2, w3);
            SHA_FOUR_ROUNDS(group + 0, w0);
            SHA_NEXT_WORDS(w1, w2, w3, w0);
            SHA_FOUR_ROUNDS(group + 1, w1);
            SHA_NEXT_WORDS(w2, w3, w0, w1);
            SHA_FOUR_ROUNDS(group + 2, w2);
            SHA_NEXT_WORDS(w3, w0, w1, w2);
            SHA_FOUR_ROUNDS(group + 3, w3);
        }
        abef = _mm_add_epi32(abef, abef_before);
        cdgh = _mm_add_epi32(cdgh, cdgh_before);
    }

    __m128i afeb = _mm_shuffle_epi32(abef, 0x1B);  // A B E F
    __m128i ghcd = _mm_shuffle_epi32(cdgh, 0xB1);  // G H C D
    _mm_storeu_si128(reinterpret_cast<__m128i *>(state), _mm_blend_epi16(afeb, ghcd, 0xF0));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(state + 4), _mm_alignr_epi8(ghcd, afeb, 8));
}

#undef SHA_FOUR_ROUNDS
#undef SHA_NEXT_WORDS

namespace {

int processor_has_sha()
{
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (!__get_cpuid(1, &a, &b, &c, &d))
        return 0;
    const unsigned SSSE3 = 1u << 9, SSE4_1 = 1u << 19;  // leaf 1, ECX
    if ((c & (SSSE3 | SSE4_1)) != (SSSE3 | SSE4_1))
        return 0;
    if (!__get_cpuid_count(7, 0, &a, &b, &c, &d))
        return 0;
    const unsigned SHA = 1u << 29;  // leaf 7, EBX
    return (b & SHA) != 0;
}

}  // namespace

int sha256_path_available(int path)
{
    static const int has_sha = processor_has_sha();
    return path == SHA256_PATH_PORTABLE || (path == SHA256_PATH_X86_SHA && has_sha);
}

#else  // not x86: only the portable path

void sha256_blocks_x86_sha(uint32_t state[8], const uint8_t *data, size_t count)
{
    sha256_blocks_portable(state, data, count);  // never chosen: the processor has none
}

int sha256_path_available(int path)
{
    return path == SHA256_PATH_PORTABLE;
}

#endif

int sha256_chosen_path()
{
    return sha256_path_available(SHA256_PATH_X86_SHA) ? SHA256_PATH_X86_SHA : SHA256_PATH_PORTABLE;
}
