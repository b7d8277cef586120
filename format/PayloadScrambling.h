// The payload is the cabinet scrambled in blocks of 40960 bytes (the last
// one shorter). Each block starts afresh: key = (block length mod 256) XOR
// PayloadSeed, then for byte i, by i mod 4: XOR key; add key (scramble) or
// subtract it (descramble); complement; rotate left (scramble) or right
// (descramble) by key mod 8. The key grows by one after every byte.
#pragma once

#include "format/Layer.h"

#include <cstdint>

namespace tirn::format {

// Shared by the launcher and tirn-pack; changing it breaks every package.
inline constexpr uint8_t PayloadSeed = 0xB7;
inline constexpr uint32_t kPayloadBlockSize = 40960;

void ScrambleBlock(uint8_t* block, uint32_t length);

// The byte-at-a-time form of DescrambleBlock: the reference that the vector
// form is tested against.
void DescrambleBlockScalar(uint8_t* block, uint32_t length);

}  // namespace tirn::format

// In place; the inverse of ScrambleBlock. Uses SSE2 (16 bytes at a time),
// which every processor that runs this product has.
void DescrambleBlock(uint8_t* block, uint32_t length);
