#include "format/PayloadScrambling.h"

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

// Descrambles bytes [from, length) of a block, byte by byte, with the key
// sequence of a block of that length.
void DescrambleBytes(uint8_t* block, uint32_t from, uint32_t length) {
    uint8_t key = static_cast<uint8_t>(FirstKey(length) + from);
    for (uint32_t i = from; i < length; ++i, ++key) {
        uint8_t& b = block[i];
        switch (i & 3) {
            case 0: b ^= key; break;
            case 1: b = static_cast<uint8_t>(b - key); break;
            case 2: b = static_cast<uint8_t>(~b); break;
            default: b = RotateRight(b, key); break;
        }
    }
}
}  // namespace

namespace tirn::format {

void DescrambleBlockScalar(uint8_t* block, uint32_t length) {
    DescrambleBytes(block, 0, length);
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

// Sixteen bytes at a time; lane l of the vector at offset i has key
// key0 + i + l. Lanes 0 and 2 (mod 4) are one XOR (with the key, or with
// 0xFF), lane 1 an addition of the negated key: out = (b ^ x) + y, with x
// and y advancing by 16 in their lanes. Lane 3 is a rotation whose amount is
// fixed within a block (16 is a multiple of 8): (key0 + 3) mod 8 in lanes 3
// and 11, (key0 + 7) mod 8 in lanes 7 and 15. The byte, moved down into a
// 16-bit word and multiplied by 2^(8 - r), holds b >> r in its high byte and
// the bits rotated out in its low byte: OR-ing the two gives the rotation.
__attribute__((target("sse2"))) void DescrambleBlock(uint8_t* block, uint32_t length) {
    const uint8_t key0 = FirstKey(length);
    alignas(16) uint8_t xorInit[16], addInit[16], xorStep[16], addStep[16];
    for (int lane = 0; lane < 16; ++lane) {
        const uint8_t key = static_cast<uint8_t>(key0 + lane);
        xorInit[lane] = lane % 4 == 0 ? key : lane % 4 == 2 ? 0xFF : 0;
        addInit[lane] = lane % 4 == 1 ? static_cast<uint8_t>(-key) : 0;
        xorStep[lane] = lane % 4 == 0 ? 16 : 0;
        addStep[lane] = lane % 4 == 1 ? static_cast<uint8_t>(-16) : 0;
    }
    __m128i x = _mm_load_si128(reinterpret_cast<const __m128i*>(xorInit));
    __m128i y = _mm_load_si128(reinterpret_cast<const __m128i*>(addInit));
    const __m128i xStep = _mm_load_si128(reinterpret_cast<const __m128i*>(xorStep));
    const __m128i yStep = _mm_load_si128(reinterpret_cast<const __m128i*>(addStep));
    const int multiplier0 = 1 << (8 - ((key0 + 3u) & 7u));
    const int multiplier1 = 1 << (8 - ((key0 + 7u) & 7u));
    const __m128i multipliers =
        _mm_set_epi16(static_cast<short>(multiplier1), 0, static_cast<short>(multiplier0), 0,
                      static_cast<short>(multiplier1), 0, static_cast<short>(multiplier0), 0);
    const __m128i rotateLanes = _mm_set1_epi32(static_cast<int>(0xFF000000u));

    uint32_t i = 0;
    for (; i + 16 <= length; i += 16) {
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + i));
        const __m128i mixed = _mm_add_epi8(_mm_xor_si128(b, x), y);
        const __m128i product = _mm_mullo_epi16(_mm_srli_epi16(b, 8), multipliers);
        const __m128i rotated = _mm_or_si128(product, _mm_slli_epi16(product, 8));
        const __m128i out =
            _mm_or_si128(_mm_andnot_si128(rotateLanes, mixed), _mm_and_si128(rotateLanes, rotated));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(block + i), out);
        x = _mm_add_epi8(x, xStep);
        y = _mm_add_epi8(y, yStep);
    }
    DescrambleBytes(block, i, length);  // the tail continues the key sequence
}

#else

void DescrambleBlock(uint8_t* block, uint32_t length) {
    tirn::format::DescrambleBlockScalar(block, length);
}

#endif
