// Writing LZX's bit stream: the words, the trees (sent as changes to the
// last block's through a pretree) and a frame's items as one block, verbatim
// or aligned-offset, whichever is smaller.
#pragma once

#include "LzxFormat.h"

#include <cstdint>
#include <vector>

namespace tirn::cabinet::lzx {

// 16-bit words, little-endian, each filled from its most significant bit.
class BitWriter {
  public:
    explicit BitWriter(std::vector<uint8_t>& out) : m_out(out) {}
    void Put(uint32_t value, int bits);
    void AlignToWord() {
        if (m_count > 0) Put(0, 16 - m_count);
    }

  private:
    std::vector<uint8_t>& m_out;
    uint64_t m_bits = 0;
    int m_count = 0;
};

// The code lengths a block was written with: what the next frame's parse
// starts its prices from.
struct BlockCodes {
    std::vector<uint8_t> main;
    std::vector<uint8_t> length;
};

class BlockWriter {
  public:
    explicit BlockWriter(int mainSymbols);
    // Writes a frame's items, of size bytes of output, as one block.
    void Put(BitWriter& out, const std::vector<Item>& items, uint32_t size);
    const BlockCodes& LastCodes() const { return m_last; }

  private:
    const int m_mainSymbols;
    std::vector<uint8_t> m_previousMain;
    std::vector<uint8_t> m_previousLength;
    BlockCodes m_last;
};

}  // namespace tirn::cabinet::lzx
