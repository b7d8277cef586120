// Canonical prefix codes, as LZX (and deflate) transmit them: only the code
// lengths travel; codes are handed out in order of length, then symbol.
#pragma once

#include "cabinet/Layer.h"

#include <cstdint>
#include <vector>

namespace tirn::cabinet {

// Code lengths for the given symbol frequencies, none longer than maxLength.
// The code is always complete and has at least two symbols (a decoder's
// table builder may refuse anything else): unused symbols are drawn in as
// needed with the smallest weight.
std::vector<uint8_t> CodeLengths(const std::vector<uint32_t>& frequencies, int maxLength);

// The canonical codes of those lengths (MSB first, lengths[i] bits each).
std::vector<uint16_t> CanonicalCodes(const std::vector<uint8_t>& lengths);

}  // namespace tirn::cabinet
