#include "PayloadScrambling.h"

#if defined(__SSE2__) || defined(__i386__) || defined(__x86_64__)
#include <emmintrin.h>
#define TIRN_HAVE_SSE2 1
#endif

namespace {
inline uint8_t RotateRight(uint8_t value, unsigned bits) {
    bits &= 7;
    return static_cast<uint8_t>((value >> bits) | (value << ((8 - bits) & 7)));
}
inline uint8_t RotateLeft(uint8_t value, unsigned bits) {
    bits &= 7;
    return static_cast<uint8_t>((value << bits) | (value >> ((8 - bits) & 7)));
}
inline uint8_t FirstKey(uint32_t length) {
    return static_cast<uint8_t>((length & 0xFF) ^ tirn::format::PayloadSeed);
}
}  // namespace

namespace tirn::format {

void DescrambleBlockScalar(uint8_t* block, uint32_t length) {
    uint8_t key = FirstKey(length);
    for (uint32_t i = 0; i < length; ++i, ++key) {
        uint8_t& b = block[i];
        switch (i & 3) {
            case 0: b ^= key; break;
            case 1: b = static_cast<uint8_t>(b - key); break;
            case 2: b = static_cast<uint8_t>(~b); break;
            default: b = RotateRight(b, key); break;
        }
    }
}

void ScrambleBlock(uint8_t* block, uint32_t length) {
    uint8_t key = FirstKey(length);
    for (uint32_t i = 0; i < length; ++i, ++key) {
        uint8_t& b = block[i];
        switch (i & 3) {
            case 0: b ^= key; break;
            case 1: b = static_cast<uint8_t>(b + key); break;
            case 2: b = static_cast<uint8_t>(~b); break;
            default: b = RotateLeft(b, key); break;
        }
    }
}

}  // namespace tirn::format

#ifdef TIRN_HAVE_SSE2

namespace {

// Rotates every byte right by bits (0 to 7), with 16-bit shifts and masks.
__attribute__((target("sse2"))) inline __m128i RotateBytesRight(__m128i v, unsigned bits) {
    const __m128i right = _mm_and_si128(_mm_srl_epi16(v, _mm_cvtsi32_si128(static_cast<int>(bits))),
                                        _mm_set1_epi8(static_cast<char>(0xFF >> bits)));
    const __m128i left =
        _mm_and_si128(_mm_sll_epi16(v, _mm_cvtsi32_si128(static_cast<int>(8 - bits))),
                      _mm_set1_epi8(static_cast<char>((0xFF << (8 - bits)) & 0xFF)));
    return _mm_or_si128(right, left);
}

}  // namespace

// Sixteen bytes at a time. The key of lane l in the vector at offset i is
// key0 + i + l; with i a multiple of 16, the rotations of lanes 3 and 11
// ((key0 + 3) mod 8) and of lanes 7 and 15 ((key0 + 7) mod 8) never change
// within a block.
__attribute__((target("sse2"))) void DescrambleBlock(uint8_t* block, uint32_t length) {
    const uint8_t key0 = FirstKey(length);
    const unsigned rotation0 = (key0 + 3u) & 7u;
    const unsigned rotation1 = (key0 + 7u) & 7u;
    const __m128i xorLanes = _mm_set_epi32(0x000000FF, 0x000000FF, 0x000000FF, 0x000000FF);
    const __m128i subLanes = _mm_slli_epi32(xorLanes, 8);
    const __m128i notLanes = _mm_slli_epi32(xorLanes, 16);
    const __m128i rotate0Lanes = _mm_set_epi32(0, static_cast<int>(0xFF000000u), 0,
                                               static_cast<int>(0xFF000000u));
    const __m128i rotate1Lanes = _mm_set_epi32(static_cast<int>(0xFF000000u), 0,
                                               static_cast<int>(0xFF000000u), 0);
    __m128i keys = _mm_add_epi8(_mm_set1_epi8(static_cast<char>(key0)),
                                _mm_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15));
    const __m128i sixteen = _mm_set1_epi8(16);
    const __m128i ones = _mm_set1_epi8(static_cast<char>(0xFF));

    uint32_t i = 0;
    for (; i + 16 <= length; i += 16) {
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + i));
        __m128i out = _mm_and_si128(_mm_xor_si128(b, keys), xorLanes);
        out = _mm_or_si128(out, _mm_and_si128(_mm_sub_epi8(b, keys), subLanes));
        out = _mm_or_si128(out, _mm_and_si128(_mm_xor_si128(b, ones), notLanes));
        out = _mm_or_si128(out, _mm_and_si128(RotateBytesRight(b, rotation0), rotate0Lanes));
        out = _mm_or_si128(out, _mm_and_si128(RotateBytesRight(b, rotation1), rotate1Lanes));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(block + i), out);
        keys = _mm_add_epi8(keys, sixteen);
    }
    // The tail continues the key sequence byte by byte.
    uint8_t key = static_cast<uint8_t>(key0 + i);
    for (; i < length; ++i, ++key) {
        uint8_t& b = block[i];
        switch (i & 3) {
            case 0: b ^= key; break;
            case 1: b = static_cast<uint8_t>(b - key); break;
            case 2: b = static_cast<uint8_t>(~b); break;
            default: b = RotateRight(b, key); break;
        }
    }
}

#else

void DescrambleBlock(uint8_t* block, uint32_t length) {
    tirn::format::DescrambleBlockScalar(block, length);
}

#endif
