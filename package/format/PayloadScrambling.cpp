#include "PayloadScrambling.h"

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

void DescrambleBlock(uint8_t* block, uint32_t length) {
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

namespace tirn::format {

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
