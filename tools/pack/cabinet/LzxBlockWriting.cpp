#include "LzxBlockWriting.h"

#include "HuffmanCode.h"

#include <cstring>

namespace tirn::cabinet::lzx {

namespace {

enum BlockType : uint32_t { kVerbatim = 1, kAligned = 2 };

struct Code {
    std::vector<uint8_t> lengths;
    std::vector<uint16_t> codes;
    void Build(const std::vector<uint32_t>& frequencies, int maxLength) {
        lengths = CodeLengths(frequencies, maxLength);
        codes = CanonicalCodes(lengths);
    }
    void Put(BitWriter& out, uint32_t symbol) const { out.Put(codes[symbol], lengths[symbol]); }
};

// A tree's lengths, sent as changes to the previous ones through a pretree:
// 0 to 16 say (previous - new) mod 17; 17 and 18 are runs of zeros.
void PutTreeLengths(BitWriter& out, const uint8_t* lengths, uint8_t* previous, int count) {
    struct Step {
        uint8_t code;
        uint8_t extraBits;
        uint8_t extra;
    };
    std::vector<Step> steps;
    for (int i = 0; i < count;) {
        int zeros = 0;
        while (i + zeros < count && lengths[i + zeros] == 0 && zeros < 51) ++zeros;
        if (zeros >= 20) {
            steps.push_back({18, 5, static_cast<uint8_t>(zeros - 20)});
            i += zeros;
        } else if (zeros >= 4) {
            steps.push_back({17, 4, static_cast<uint8_t>(zeros - 4)});
            i += zeros;
        } else {
            steps.push_back({static_cast<uint8_t>((previous[i] + 17 - lengths[i]) % 17), 0, 0});
            ++i;
        }
    }
    std::vector<uint32_t> frequencies(kPretreeSymbols, 0);
    for (const Step& step : steps) ++frequencies[step.code];
    Code pretree;
    pretree.Build(frequencies, kMaxPretreeLength);
    for (int symbol = 0; symbol < kPretreeSymbols; ++symbol) out.Put(pretree.lengths[symbol], 4);
    for (const Step& step : steps) {
        pretree.Put(out, step.code);
        if (step.extraBits > 0) out.Put(step.extra, step.extraBits);
    }
    std::memcpy(previous, lengths, static_cast<size_t>(count));
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

BlockWriter::BlockWriter(int mainSymbols)
    : m_mainSymbols(mainSymbols),
      m_previousMain(static_cast<size_t>(mainSymbols), 0),
      m_previousLength(kLengthSymbols, 0) {}

void BlockWriter::Put(BitWriter& out, const std::vector<Item>& items, uint32_t size) {
    std::vector<uint32_t> mainFrequencies(static_cast<size_t>(m_mainSymbols), 0);
    std::vector<uint32_t> lengthFrequencies(kLengthSymbols, 0);
    std::vector<uint32_t> alignedFrequencies(kAlignedSymbols, 0);
    uint64_t verbatimFooterBits = 0;
    for (const Item& item : items) {
        ++mainFrequencies[item.mainSymbol];
        if (item.HasLengthSymbol()) ++lengthFrequencies[item.lengthSymbol];
        verbatimFooterBits += item.footerBits;
        if (item.footerBits >= 3) ++alignedFrequencies[item.footer & 7];
    }
    Code main, length, aligned;
    main.Build(mainFrequencies, kMaxCodeLength);
    length.Build(lengthFrequencies, kMaxCodeLength);
    aligned.Build(alignedFrequencies, kMaxAlignedLength);
    uint64_t alignedFooterBits = 3 * kAlignedSymbols;
    for (const Item& item : items) {
        alignedFooterBits += item.footerBits >= 3
                                 ? item.footerBits - 3u + aligned.lengths[item.footer & 7]
                                 : item.footerBits;
    }
    const BlockType type = alignedFooterBits < verbatimFooterBits ? kAligned : kVerbatim;

    out.Put(type, 3);
    out.Put(size >> 8, 16);
    out.Put(size & 0xFF, 8);
    if (type == kAligned) {
        for (int symbol = 0; symbol < kAlignedSymbols; ++symbol)
            out.Put(aligned.lengths[symbol], 3);
    }
    PutTreeLengths(out, main.lengths.data(), m_previousMain.data(), kChars);
    PutTreeLengths(out, main.lengths.data() + kChars, m_previousMain.data() + kChars,
                   m_mainSymbols - kChars);
    PutTreeLengths(out, length.lengths.data(), m_previousLength.data(), kLengthSymbols);

    for (const Item& item : items) {
        main.Put(out, item.mainSymbol);
        if (!item.IsMatch()) continue;
        if (item.HasLengthSymbol()) length.Put(out, item.lengthSymbol);
        if (type == kAligned && item.footerBits >= 3) {
            if (item.footerBits > 3) out.Put(item.footer >> 3, item.footerBits - 3);
            aligned.Put(out, item.footer & 7);
        } else if (item.footerBits > 0) {
            out.Put(item.footer, item.footerBits);
        }
    }
    m_last.main = std::move(main.lengths);
    m_last.length = std::move(length.lengths);
}

}  // namespace tirn::cabinet::lzx
