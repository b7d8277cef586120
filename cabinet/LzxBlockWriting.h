// Writing LZX's bit stream: the words, and blocks of one or more frames'
// items as their plan says (LzxBlockPlanning.h).
#pragma once

#include "cabinet/Layer.h"

#include "cabinet/FolderEncoder.h"
#include "cabinet/LzxBlockPlanning.h"
#include "cabinet/LzxFormat.h"

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

class BlockWriter {
  public:
    // Writes frames as one block as planned for their items after the
    // trees last sent, each frame's bits in a data block of its own; the
    // stream's header goes before the first block.
    void Put(const std::vector<FrameItems>& frames, const BlockPlan& plan,
             std::vector<DataBlock>& out);

    // The trees the last block was sent with (none before the first).
    const BlockCodes& Sent() const { return m_sent; }

  private:
    BlockCodes m_sent;
    bool m_started = false;
};

}  // namespace tirn::cabinet::lzx
