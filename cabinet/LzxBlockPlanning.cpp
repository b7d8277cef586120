#include "cabinet/LzxBlockPlanning.h"

#include "cabinet/HuffmanCode.h"

namespace tirn::cabinet::lzx {

namespace {

// lengths[first, first + count) after previous (all zero when empty).
SentTree SendTree(const std::vector<uint8_t>& lengths, const std::vector<uint8_t>& previous,
                  int first, int count) {
    SentTree tree;
    for (int i = 0; i < count;) {
        int zeros = 0;
        while (i + zeros < count && lengths[static_cast<size_t>(first + i + zeros)] == 0 &&
               zeros < 51) {
            ++zeros;
        }
        if (zeros >= 20) {
            tree.steps.push_back({18, 5, static_cast<uint8_t>(zeros - 20)});
            i += zeros;
        } else if (zeros >= 4) {
            tree.steps.push_back({17, 4, static_cast<uint8_t>(zeros - 4)});
            i += zeros;
        } else {
            const auto at = static_cast<size_t>(first + i);
            const int before = previous.empty() ? 0 : previous[at];
            tree.steps.push_back({static_cast<uint8_t>((before + 17 - lengths[at]) % 17), 0, 0});
            ++i;
        }
    }
    std::vector<uint32_t> frequencies(kPretreeSymbols, 0);
    for (const TreeStep& step : tree.steps) ++frequencies[step.code];
    tree.pretree = CodeLengths(frequencies, kMaxPretreeLength);
    return tree;
}

uint64_t SentBits(const SentTree& tree) {
    uint64_t bits = 4 * kPretreeSymbols;
    for (const TreeStep& step : tree.steps) bits += tree.pretree[step.code] + step.extraBits;
    return bits;
}

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

}  // namespace

SymbolCounts::SymbolCounts(int mainSymbols)
    : main(static_cast<size_t>(mainSymbols), 0),
      length(kLengthSymbols, 0),
      aligned(kAlignedSymbols, 0) {}

SymbolCounts::SymbolCounts(const std::vector<Item>& items, int mainSymbols)
    : SymbolCounts(mainSymbols) {
    for (const Item& item : items) Add(item);
}

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

BlockPlan PlanBlock(const SymbolCounts& counts, const BlockCodes& previous) {
    const auto mainSymbols = static_cast<int>(counts.main.size());
    BlockPlan plan;
    BlockCodes& codes = plan.codes;
    codes.main = CodeLengths(counts.main, kMaxCodeLength);
    codes.length = CodeLengths(counts.length, kMaxCodeLength);
    codes.aligned = CodeLengths(counts.aligned, kMaxAlignedLength);
    const uint64_t saved = AlignedSavings(counts, codes.aligned);
    if (saved == 0) codes.aligned.clear();
    plan.trees[0] = SendTree(codes.main, previous.main, 0, kChars);
    plan.trees[1] = SendTree(codes.main, previous.main, kChars, mainSymbols - kChars);
    plan.trees[2] = SendTree(codes.length, previous.length, 0, kLengthSymbols);
    plan.basis.main = previous.main;
    plan.basis.length = previous.length;
    plan.bits = 3 + 24 + CodedBits(counts.main, codes.main) +
                CodedBits(counts.length, codes.length) + counts.footerBits - saved +
                SentBits(plan.trees[0]) + SentBits(plan.trees[1]) + SentBits(plan.trees[2]);
    return plan;
}

}  // namespace tirn::cabinet::lzx
