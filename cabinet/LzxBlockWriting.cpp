#include "cabinet/LzxBlockWriting.h"

#include "cabinet/HuffmanCode.h"

namespace tirn::cabinet::lzx {

namespace {

enum BlockType : uint32_t { kVerbatim = 1, kAligned = 2 };

struct Code {
    std::vector<uint8_t> lengths;
    std::vector<uint16_t> codes;
    void Build(const std::vector<uint32_t>& frequencies, int maxLength) {
        Take(CodeLengths(frequencies, maxLength));
    }
    void Take(std::vector<uint8_t> planned) {
        lengths = std::move(planned);
        codes = CanonicalCodes(lengths);
    }
    void Put(BitWriter& out, uint32_t symbol) const { out.Put(codes[symbol], lengths[symbol]); }
};

// A tree's lengths as the pretree says them: 0 to 16 are (previous - new)
// mod 17; 17 and 18 are runs of zeros, with extra bits.
struct TreeStep {
    uint8_t code;
    uint8_t extraBits;
    uint8_t extra;
};

class TreeLengths {
  public:
    // lengths[first, first + count) after previous (all zero when empty).
    TreeLengths(const std::vector<uint8_t>& lengths, const std::vector<uint8_t>& previous,
                int first, int count) {
        for (int i = 0; i < count;) {
            int zeros = 0;
            while (i + zeros < count && lengths[static_cast<size_t>(first + i + zeros)] == 0 &&
                   zeros < 51) {
                ++zeros;
            }
            if (zeros >= 20) {
                m_steps.push_back({18, 5, static_cast<uint8_t>(zeros - 20)});
                i += zeros;
            } else if (zeros >= 4) {
                m_steps.push_back({17, 4, static_cast<uint8_t>(zeros - 4)});
                i += zeros;
            } else {
                const auto at = static_cast<size_t>(first + i);
                const int before = previous.empty() ? 0 : previous[at];
                m_steps.push_back({static_cast<uint8_t>((before + 17 - lengths[at]) % 17), 0, 0});
                ++i;
            }
        }
        std::vector<uint32_t> frequencies(kPretreeSymbols, 0);
        for (const TreeStep& step : m_steps) ++frequencies[step.code];
        m_pretree.Build(frequencies, kMaxPretreeLength);
    }

    uint64_t Bits() const {
        uint64_t bits = 4 * kPretreeSymbols;
        for (const TreeStep& step : m_steps) bits += m_pretree.lengths[step.code] + step.extraBits;
        return bits;
    }

    void Put(BitWriter& out) const {
        for (int symbol = 0; symbol < kPretreeSymbols; ++symbol) {
            out.Put(m_pretree.lengths[static_cast<size_t>(symbol)], 4);
        }
        for (const TreeStep& step : m_steps) {
            m_pretree.Put(out, step.code);
            if (step.extraBits > 0) out.Put(step.extra, step.extraBits);
        }
    }

  private:
    std::vector<TreeStep> m_steps;
    Code m_pretree;
};

uint64_t CodedBits(const std::vector<uint32_t>& frequencies, const std::vector<uint8_t>& lengths) {
    uint64_t bits = 0;
    for (size_t symbol = 0; symbol < frequencies.size(); ++symbol) {
        bits += uint64_t{frequencies[symbol]} * lengths[symbol];
    }
    return bits;
}

// What an aligned-offset block saves on footers over a verbatim one: the
// low 3 bits of long footers coded by the aligned tree, sent in 24 bits.
uint64_t AlignedSavings(const SymbolCounts& counts, const std::vector<uint8_t>& alignedLengths) {
    uint64_t verbatim = 0, aligned = 3 * kAlignedSymbols;
    for (size_t symbol = 0; symbol < kAlignedSymbols; ++symbol) {
        verbatim += uint64_t{counts.aligned[symbol]} * 3;
        aligned += uint64_t{counts.aligned[symbol]} * alignedLengths[symbol];
    }
    return verbatim > aligned ? verbatim - aligned : 0;
}

// A block's codes and its type, as its frames are written.
struct BlockTrees {
    Code main, length, aligned;
    uint32_t type = kVerbatim;
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
// length trees as changes to the last block's (sent).
void PutBlockHeader(BitWriter& bits, const BlockTrees& trees, uint32_t size, const BlockCodes& sent,
                    int mainSymbols) {
    bits.Put(trees.type, 3);
    bits.Put(size >> 8, 16);
    bits.Put(size & 0xFF, 8);
    if (trees.type == kAligned) {
        for (int symbol = 0; symbol < kAlignedSymbols; ++symbol)
            bits.Put(trees.aligned.lengths[static_cast<size_t>(symbol)], 3);
    }
    TreeLengths(trees.main.lengths, sent.main, 0, kChars).Put(bits);
    TreeLengths(trees.main.lengths, sent.main, kChars, mainSymbols - kChars).Put(bits);
    TreeLengths(trees.length.lengths, sent.length, 0, kLengthSymbols).Put(bits);
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

SymbolCounts::SymbolCounts(int mainSymbols)
    : main(static_cast<size_t>(mainSymbols), 0),
      length(kLengthSymbols, 0),
      aligned(kAlignedSymbols, 0) {}

void SymbolCounts::Add(const Item& item) {
    ++main[item.mainSymbol];
    if (item.HasLengthSymbol()) ++length[item.lengthSymbol];
    footerBits += item.footerBits;
    if (item.footerBits >= 3) ++aligned[item.footer & 7];
}

void SymbolCounts::Add(const SymbolCounts& other) {
    for (size_t i = 0; i < main.size(); ++i) main[i] += other.main[i];
    for (size_t i = 0; i < length.size(); ++i) length[i] += other.length[i];
    for (size_t i = 0; i < aligned.size(); ++i) aligned[i] += other.aligned[i];
    footerBits += other.footerBits;
}

BlockWriter::BlockWriter(int mainSymbols) : m_mainSymbols(mainSymbols) {}

uint64_t BlockCost(const SymbolCounts& counts, const BlockCodes& previous, BlockCodes& codes) {
    const auto mainSymbols = static_cast<int>(counts.main.size());
    codes.main = CodeLengths(counts.main, kMaxCodeLength);
    codes.length = CodeLengths(counts.length, kMaxCodeLength);
    codes.aligned = CodeLengths(counts.aligned, kMaxAlignedLength);
    const uint64_t saved = AlignedSavings(counts, codes.aligned);
    if (saved == 0) codes.aligned.clear();
    const uint64_t footers = counts.footerBits - saved;
    return 3 + 24 + CodedBits(counts.main, codes.main) + CodedBits(counts.length, codes.length) +
           footers + TreeLengths(codes.main, previous.main, 0, kChars).Bits() +
           TreeLengths(codes.main, previous.main, kChars, mainSymbols - kChars).Bits() +
           TreeLengths(codes.length, previous.length, 0, kLengthSymbols).Bits();
}

void BlockWriter::Put(const std::vector<FrameItems>& frames, const BlockCodes& codes,
                      std::vector<DataBlock>& out) {
    BlockTrees trees;
    trees.main.Take(codes.main);
    trees.length.Take(codes.length);
    if (!codes.aligned.empty()) trees.aligned.Take(codes.aligned);
    trees.type = codes.aligned.empty() ? kVerbatim : kAligned;
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
        if (f == 0) PutBlockHeader(bits, trees, size, m_sent, m_mainSymbols);
        PutItems(bits, frames[f].items, trees);
        bits.AlignToWord();
    }
    m_sent.main = std::move(trees.main.lengths);
    m_sent.length = std::move(trees.length.lengths);
}

}  // namespace tirn::cabinet::lzx
