#include "cabinet/LzxBlockWriting.h"

#include "cabinet/HuffmanCode.h"

#include <stdexcept>

namespace tirn::cabinet::lzx {

namespace {

enum BlockType : uint32_t { kVerbatim = 1, kAligned = 2 };

struct Code {
    std::vector<uint8_t> lengths;
    std::vector<uint16_t> codes;
    explicit Code(std::vector<uint8_t> planned)
        : lengths(std::move(planned)), codes(CanonicalCodes(lengths)) {}
    void Put(BitWriter& out, uint32_t symbol) const { out.Put(codes[symbol], lengths[symbol]); }
};

void PutTree(BitWriter& out, const SentTree& tree) {
    const Code pretree(tree.pretree);
    for (int symbol = 0; symbol < kPretreeSymbols; ++symbol) {
        out.Put(pretree.lengths[static_cast<size_t>(symbol)], 4);
    }
    for (const TreeStep& step : tree.steps) {
        pretree.Put(out, step.code);
        if (step.extraBits > 0) out.Put(step.extra, step.extraBits);
    }
}

// A block's codes and its type, as its frames are written.
struct BlockTrees {
    Code main, length, aligned;
    uint32_t type;
};

void PutItems(BitWriter& bits, const std::vector<Item>& items, const BlockTrees& trees) {
    for (const Item& item : items) {
        trees.main.Put(bits, item.mainSymbol);
        if (!item.IsMatch()) continue;
        if (item.HasLengthSymbol()) trees.length.Put(bits, item.lengthSymbol);
        if (trees.type == kAligned && item.footerBits >= 3) {
            if (item.footerBits > 3) bits.Put(item.footer >> 3, item.footerBits - 3);
            trees.aligned.Put(bits, item.footer & 7);
        } else if (item.footerBits > 0) {
            bits.Put(item.footer, item.footerBits);
        }
    }
}

// The block's type and size, its aligned tree if any, and its main and
// length trees as planned.
void PutBlockHeader(BitWriter& bits, const BlockTrees& trees, uint32_t size,
                    const BlockPlan& plan) {
    bits.Put(trees.type, 3);
    bits.Put(size >> 8, 16);
    bits.Put(size & 0xFF, 8);
    if (trees.type == kAligned) {
        for (int symbol = 0; symbol < kAlignedSymbols; ++symbol)
            bits.Put(trees.aligned.lengths[static_cast<size_t>(symbol)], 3);
    }
    for (const SentTree& tree : plan.trees) PutTree(bits, tree);
}

}  // namespace

void BitWriter::Put(uint32_t value, int bits) {
    m_bits = m_bits << bits | (value & ((uint64_t{1} << bits) - 1));
    m_count += bits;
    while (m_count >= 16) {
        m_count -= 16;
        const auto word = static_cast<uint16_t>(m_bits >> m_count);
        m_out.push_back(static_cast<uint8_t>(word));
        m_out.push_back(static_cast<uint8_t>(word >> 8));
    }
    m_bits &= (uint64_t{1} << m_count) - 1;
}

void BlockWriter::Put(const std::vector<FrameItems>& frames, const BlockPlan& plan,
                      std::vector<DataBlock>& out) {
    // The trees go as changes to the ones they were planned after.
    if (plan.basis.main != m_sent.main || plan.basis.length != m_sent.length) {
        throw std::logic_error("LZX: a block planned after other trees than the last sent");
    }
    const BlockCodes& codes = plan.codes;
    const BlockTrees trees{Code(codes.main), Code(codes.length), Code(codes.aligned),
                           codes.aligned.empty() ? kVerbatim : kAligned};
    uint32_t size = 0;
    for (const FrameItems& frame : frames) size += frame.size;

    for (size_t f = 0; f < frames.size(); ++f) {
        DataBlock& block = out.emplace_back();
        block.uncompressedSize = static_cast<uint16_t>(frames[f].size);
        BitWriter bits(block.bytes);
        if (!m_started) {
            bits.Put(1, 1);  // translation on, and its size
            bits.Put(kTranslationSize >> 16, 16);
            bits.Put(kTranslationSize & 0xFFFF, 16);
            m_started = true;
        }
        if (f == 0) PutBlockHeader(bits, trees, size, plan);
        PutItems(bits, frames[f].items, trees);
        bits.AlignToWord();
    }
    m_sent.main = codes.main;
    m_sent.length = codes.length;
}

}  // namespace tirn::cabinet::lzx
