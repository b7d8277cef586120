// Writing LZX's bit stream: the words, the trees (sent as changes to the
// last block's through a pretree) and blocks of one or more frames' items,
// verbatim or aligned-offset, whichever is smaller; and what a block would
// cost, so the encoder can choose where blocks end.
#pragma once

#include "cabinet/Layer.h"

#include "cabinet/FolderEncoder.h"
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

// How often a run of items uses each symbol.
struct SymbolCounts {
    std::vector<uint32_t> main;
    std::vector<uint32_t> length;
    std::vector<uint32_t> aligned;  // the low 3 bits of footers of 3 bits or more
    uint64_t footerBits = 0;

    explicit SymbolCounts(int mainSymbols);
    void Add(const Item& item);
    void Add(const SymbolCounts& other);
};

// The code lengths of a block's main and length trees, and of its aligned
// tree when it is an aligned-offset block (else empty).
struct BlockCodes {
    std::vector<uint8_t> main;
    std::vector<uint8_t> length;
    std::vector<uint8_t> aligned;
};

// A frame's items, of size bytes of output.
struct FrameItems {
    std::vector<Item> items;
    uint32_t size = 0;
};

// The plan of a block of these counts: its codes (aligned-offset when that
// is smaller, else verbatim), and the bits it would take (trees sent after
// the block of previous, its symbols and footers), which are returned. The
// writer writes what the plan says; nothing is chosen twice.
uint64_t BlockCost(const SymbolCounts& counts, const BlockCodes& previous, BlockCodes& codes);

class BlockWriter {
  public:
    explicit BlockWriter(int mainSymbols);

    // Writes frames as one block with the codes BlockCost planned for
    // their items, each frame's bits in a data block of its own; the
    // stream's header goes before the first block.
    void Put(const std::vector<FrameItems>& frames, const BlockCodes& codes,
             std::vector<DataBlock>& out);

    // The trees the last block was sent with (none before the first).
    const BlockCodes& Sent() const { return m_sent; }

  private:
    int m_mainSymbols;
    BlockCodes m_sent;
    bool m_started = false;
};

}  // namespace tirn::cabinet::lzx
