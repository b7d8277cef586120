// What an LZX block of items would cost and how it would go: its codes,
// verbatim or aligned-offset (whichever is smaller), its trees as the
// pretree sends them after the last block's, and its size in bits. The
// parser prices from the codes, the encoder chooses where blocks end from
// the bits, and the writer writes the plan as it stands: nothing is built
// or chosen twice.
#pragma once

#include "cabinet/Layer.h"

#include "cabinet/LzxFormat.h"

#include <cstdint>
#include <vector>

namespace tirn::cabinet::lzx {

// How often a run of items uses each symbol.
struct SymbolCounts {
    std::vector<uint32_t> main;
    std::vector<uint32_t> length;
    std::vector<uint32_t> aligned;  // the low 3 bits of footers of 3 bits or more
    uint64_t footerBits = 0;

    explicit SymbolCounts(int mainSymbols);
    SymbolCounts(const std::vector<Item>& items, int mainSymbols);
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

// One tree's lengths as the pretree sends them: 0 to 16 are (previous -
// new) mod 17; 17 and 18 are runs of zeros, with extra bits.
struct TreeStep {
    uint8_t code;
    uint8_t extraBits;
    uint8_t extra;
};
struct SentTree {
    std::vector<TreeStep> steps;
    std::vector<uint8_t> pretree;  // the pretree's code lengths
};

struct BlockPlan {
    BlockCodes codes;
    // The main tree's first 256 lengths, its others, and the length tree's,
    // each as changes to the block's before it (basis).
    SentTree trees[3];
    BlockCodes basis;
    uint64_t bits = 0;  // the block's header, trees, symbols and footers
};

// The plan of a block of these counts sent after a block of previous's
// codes (empty before the first).
BlockPlan PlanBlock(const SymbolCounts& counts, const BlockCodes& previous);

}  // namespace tirn::cabinet::lzx
