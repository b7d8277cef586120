// The fastest effort: the longest match among the latest few candidates,
// repeated offsets preferred, with one step of lazy evaluation.
#include "cabinet/LzxParsing.h"

namespace tirn::cabinet::lzx {

namespace {

class GreedyParser : public Parser {
  public:
    explicit GreedyParser(const History& history) : m_history(history), m_candidates(history) {}

    std::vector<Item> Parse(uint32_t frameStart, uint32_t frameEnd, RepeatOffsets& repeats,
                            const BlockCodes&) override {
        std::vector<Item> items;
        uint32_t position = frameStart;
        while (position < frameEnd) {
            MatchCandidate match = FindMatch(position, frameEnd, repeats);
            m_candidates.Insert(position, frameEnd);
            if (match.length >= 3 && match.length < kLazyBelow && repeats.Find(match.offset) < 0 &&
                position + 1 < frameEnd) {
                const MatchCandidate next = FindMatch(position + 1, frameEnd, repeats);
                if (next.length > match.length + 1 ||
                    (repeats.Find(next.offset) >= 0 && next.length >= match.length)) {
                    items.push_back(LiteralItem(*m_history.At(position)));
                    ++position;
                    m_candidates.Insert(position, frameEnd);
                    match = next;
                }
            }
            if (match.length < kMinMatch) {
                items.push_back(LiteralItem(*m_history.At(position)));
                ++position;
                continue;
            }
            items.push_back(MatchItem(match.length, match.offset, repeats));
            // Inside a long match (a run, a copied table) every position
            // would only fill the buckets with more of the same.
            const uint32_t inserted = match.length <= kLazyBelow ? match.length : 8;
            for (uint32_t i = 1; i < inserted; ++i) m_candidates.Insert(position + i, frameEnd);
            position += match.length;
        }
        return items;
    }

  private:
    static constexpr uint32_t kGoodEnough = 48;
    // A match this long is taken as it is, without looking one byte ahead.
    static constexpr uint32_t kLazyBelow = 16;

    MatchCandidate FindMatch(uint32_t position, uint32_t frameEnd,
                             const RepeatOffsets& repeats) const {
        MatchCandidate best{0, 0};
        const uint32_t limit = std::min(kMaxMatch, frameEnd - position);
        if (limit < kMinMatch) return best;
        for (uint32_t offset : repeats.offsets) {
            if (!m_history.UsableOffset(position, offset)) continue;
            const uint32_t length = m_history.MatchLength(position - offset, position, limit);
            if (length >= kMinMatch && length > best.length) best = {length, offset};
        }
        if (position + 3 > frameEnd) return best;
        MatchCandidate found = m_candidates.Longest(position, limit, kGoodEnough);
        // Length 3 from far away costs more than three literals.
        if (found.length == 3 && found.offset > (1u << 14)) found.length = 0;
        if (found.length < 3) return best;
        // A repeated offset is cheap: take it unless the other is clearly longer.
        if (best.length >= 2 && best.length + 2 >= found.length) return best;
        return found;
    }

    const History& m_history;
    HashBucketFinder m_candidates;
};

}  // namespace

std::unique_ptr<Parser> MakeGreedyParser(const History& history) {
    return std::make_unique<GreedyParser>(history);
}

}  // namespace tirn::cabinet::lzx
