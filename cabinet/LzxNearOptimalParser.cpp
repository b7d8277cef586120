// The near-optimal parse: every match of every useful length is priced in
// bits from the codes (main, length and footer), and a walk forward over the
// frame keeps, for each position, the cheapest way to reach it and the
// repeated offsets along that way (a repeat is often the cheapest step). The
// first parse is priced by the last block's codes; with more passes (effort
// 3) the frame is parsed again with the codes the parse before produced, and
// a frame that starts a block may be parsed once more with its own codes
// (ParseAgain). A match of the nice length or longer is taken at once: it
// bounds the work on runs and copies.
#include "cabinet/HuffmanCode.h"
#include "cabinet/LzxParsing.h"

#include <limits>
#include <stdexcept>

namespace tirn::cabinet::lzx {

namespace {

constexpr uint32_t kUnreached = std::numeric_limits<uint32_t>::max();
// What a symbol the last codes did not have is taken to cost.
constexpr uint32_t kUnusedMainPrice = 14;
constexpr uint32_t kUnusedLengthPrice = 12;

// Bits of each symbol, from code lengths.
struct Prices {
    std::vector<uint32_t> main;
    std::vector<uint32_t> length;
    std::vector<uint32_t> aligned;  // empty when footers go verbatim
    // Each slot's match of each length (main and length symbols), looked up
    // by the walk's innermost loop.
    std::vector<uint32_t> matches;

    // Before any code: literals about a byte, matches a little more.
    static Prices Initial(int mainSymbols) {
        Prices prices;
        prices.main.assign(static_cast<size_t>(mainSymbols), 10);
        std::fill(prices.main.begin(), prices.main.begin() + kChars, 8);
        prices.length.assign(kLengthSymbols, 7);
        prices.Tabulate();
        return prices;
    }
    static Prices FromCodes(const BlockCodes& codes) {
        Prices prices;
        for (uint8_t bits : codes.main) prices.main.push_back(bits != 0 ? bits : kUnusedMainPrice);
        for (uint8_t bits : codes.length)
            prices.length.push_back(bits != 0 ? bits : kUnusedLengthPrice);
        prices.aligned.assign(codes.aligned.begin(), codes.aligned.end());
        prices.Tabulate();
        return prices;
    }
    // The prices of the codes a block of these items would be written with.
    static Prices FromItems(const std::vector<Item>& items, int mainSymbols) {
        return FromCodes(PlanBlock(SymbolCounts(items, mainSymbols), {}).codes);
    }

    // A new offset's footer: low 3 bits by the aligned tree in an
    // aligned-offset block.
    uint32_t Footer(int slot, uint32_t formatted) const {
        const uint32_t bits = kSlots.extra[slot];
        if (bits < 3 || aligned.empty()) return bits;
        return bits - 3 + aligned[formatted & 7];
    }

    // A match's main and length symbols (its footer is apart).
    uint32_t Match(int slot, uint32_t matchLength) const {
        return matches[static_cast<size_t>(slot) * kLengths + matchLength - kMinMatch];
    }

  private:
    static constexpr size_t kLengths = kMaxMatch - kMinMatch + 1;

    void Tabulate() {
        const size_t slots = (main.size() - kChars) / kLengthHeaders;
        matches.resize(slots * kLengths);
        for (size_t slot = 0; slot < slots; ++slot) {
            const uint32_t* headers = &main[kChars + slot * kLengthHeaders];
            for (uint32_t header = 0; header < kLengths; ++header) {
                matches[slot * kLengths + header] =
                    header < kLengthHeaders - 1
                        ? headers[header]
                        : headers[kLengthHeaders - 1] + length[header - (kLengthHeaders - 1)];
            }
        }
    }
};

class NearOptimalParser : public Parser {
  public:
    NearOptimalParser(const History& history, int mainSymbols, const NearOptimalSettings& settings)
        : m_history(history),
          m_mainSymbols(mainSymbols),
          m_settings(settings),
          m_finder(history, settings.searchDepth, settings.niceLength) {}

    bool Prepares() const override { return true; }

    void Prepare(uint32_t frameStart, uint32_t frameEnd) override {
        FindMatches(frameStart, frameEnd, m_found[m_prepared++ % 2]);
    }

    std::vector<Item> Parse(uint32_t frameStart, uint32_t frameEnd, RepeatOffsets& repeats,
                            const BlockCodes& previous) override {
        m_current = &m_found[m_parsed++ % 2];
        if (m_current->start != frameStart || m_current->end != frameEnd) {
            throw std::logic_error("LZX: a frame parsed before its matches were found");
        }
        Prices prices =
            previous.main.empty() ? Prices::Initial(m_mainSymbols) : Prices::FromCodes(previous);
        m_frameStart = frameStart;
        m_frameEnd = frameEnd;
        m_startRepeats = repeats;
        std::vector<Item> items;
        RepeatOffsets end;
        // The folder's first frame has no codes to start from: one pass more.
        const int passes = m_settings.passes + (previous.main.empty() ? 1 : 0);
        for (int pass = 0; pass < passes; ++pass) {
            if (pass > 0) prices = Prices::FromItems(items, m_mainSymbols);
            end = repeats;
            items = CheapestPath(frameStart, frameEnd, end, prices);
        }
        repeats = end;
        return items;
    }

    bool ParseAgain(const BlockCodes& codes, RepeatOffsets& repeats,
                    std::vector<Item>& items) override {
        repeats = m_startRepeats;
        items = CheapestPath(m_frameStart, m_frameEnd, repeats, Prices::FromCodes(codes));
        return true;
    }

  private:
    // The matches at each position of one frame.
    struct FrameMatches {
        uint32_t start = 0, end = 0;
        std::vector<MatchCandidate> matches;
        std::vector<uint32_t> first;  // a position's first match in matches
    };

    // Every position of the frame is searched (or, inside a match of the
    // nice length, entered) once; the matches are kept for every pass.
    void FindMatches(uint32_t frameStart, uint32_t frameEnd, FrameMatches& found) {
        const uint32_t size = frameEnd - frameStart;
        // Named for its frame only once complete: a search that failed
        // half-way is never parsed.
        found.start = found.end = 0;
        found.matches.clear();
        found.first.resize(size + 1);
        uint32_t skipUntil = frameStart;
        for (uint32_t i = 0; i < size; ++i) {
            const uint32_t position = frameStart + i;
            found.first[i] = static_cast<uint32_t>(found.matches.size());
            if (position < skipUntil) {
                m_finder.Skip(position, frameEnd);
                continue;
            }
            m_finder.Search(position, std::min(kMaxMatch, frameEnd - position), frameEnd,
                            found.matches);
            if (found.matches.size() > found.first[i] &&
                found.matches.back().length >= m_settings.niceLength) {
                skipUntil = position + found.matches.back().length;
            }
        }
        found.first[size] = static_cast<uint32_t>(found.matches.size());
        found.start = frameStart;
        found.end = frameEnd;
    }

    // The cheapest way through the frame under prices, as items; repeats
    // moved on along it. A walk forward: each position, once the cheapest
    // way to it is known, offers its steps to the positions after it.
    std::vector<Item> CheapestPath(uint32_t frameStart, uint32_t frameEnd, RepeatOffsets& repeats,
                                   const Prices& prices) {
        const uint32_t size = frameEnd - frameStart;
        m_way.assign(size + 1, Way{kUnreached, 0, 0});
        m_repeats.resize(size + 1);
        std::vector<Item> items;
        uint32_t segment = 0;  // where the walk started: a frame's start, or a long match's end
        m_way[0].cost = 0;
        m_repeats[0] = repeats;
        for (uint32_t i = 0; i < size; ++i) {
            if (i > segment) {
                // The offsets along the cheapest way here, now that it is known.
                m_repeats[i] = m_repeats[i - m_way[i].length];
                if (m_way[i].length > 1) m_repeats[i].Use(m_way[i].offset);
            }
            const uint32_t position = frameStart + i;
            Relax(i + 1, m_way[i].cost + prices.main[*m_history.At(position)], 1, 0);
            const uint32_t limit = std::min(kMaxMatch, size - i);
            const MatchCandidate repeat = OfferRepeats(i, position, limit, prices);
            const MatchCandidate match = OfferMatches(i, prices);
            const MatchCandidate longest = match.length > repeat.length ? match : repeat;
            if (longest.length >= m_settings.niceLength) {
                segment = TakeAtOnce(frameStart, segment, i, longest, size, items);
                i = segment - 1;
            }
        }
        if (segment < size) {
            TraceBack(frameStart, segment, size, items);
            repeats = m_endRepeats;
        } else {
            repeats = m_repeats[segment];  // a long match ended the frame
        }
        return items;
    }

    void Relax(uint32_t to, uint32_t cost, uint32_t length, uint32_t offset) {
        if (cost < m_way[to].cost) m_way[to] = {cost, length, offset};
    }

    // Every length of each repeated offset that matches at the i-th
    // position; returns the longest of them.
    MatchCandidate OfferRepeats(uint32_t i, uint32_t position, uint32_t limit,
                                const Prices& prices) {
        MatchCandidate longest{0, 0};
        if (limit < kMinMatch) return longest;
        const RepeatOffsets& here = m_repeats[i];
        const uint32_t base = m_way[i].cost;
        const uint8_t* bytes = m_history.At(position);
        for (int r = 0; r < 3; ++r) {
            const uint32_t offset = here.offsets[r];
            if (here.Find(offset) != r || !m_history.UsableOffset(position, offset)) continue;
            // Most repeats do not match at all here: two bytes tell.
            const uint8_t* source = m_history.At(position - offset);
            if (source[0] != bytes[0] || source[1] != bytes[1]) continue;
            const uint32_t length = m_history.MatchLength(position - offset, position, limit);
            if (length > longest.length) longest = {length, offset};
            for (uint32_t n = kMinMatch; n <= length; ++n) {
                Relax(i + n, base + prices.Match(r, n), n, offset);
            }
        }
        return longest;
    }

    // Each length of the found matches at the i-th position, by the nearest
    // offset that reaches it (those of repeats were offered as repeats);
    // returns the longest match.
    MatchCandidate OfferMatches(uint32_t i, const Prices& prices) {
        const RepeatOffsets& here = m_repeats[i];
        const uint32_t base = m_way[i].cost;
        MatchCandidate longest{0, 0};
        uint32_t covered = 1;
        for (uint32_t k = m_current->first[i]; k < m_current->first[i + 1]; ++k) {
            const MatchCandidate& match = m_current->matches[k];
            if (match.length > longest.length) longest = match;
            if (here.Find(match.offset) < 0) {
                const int slot = SlotOf(match.offset + 2);
                const uint32_t withFooter = base + prices.Footer(slot, match.offset + 2);
                for (uint32_t n = std::max(covered + 1, kMinMatch); n <= match.length; ++n) {
                    Relax(i + n, withFooter + prices.Match(slot, n), n, match.offset);
                }
            }
            covered = std::max(covered, match.length);
        }
        return longest;
    }

    // A match of the nice length or more at the i-th position is taken at
    // once: the cheapest way from segment to it, then the match. Returns
    // where the walk starts again (its end).
    uint32_t TakeAtOnce(uint32_t frameStart, uint32_t segment, uint32_t i, MatchCandidate match,
                        uint32_t size, std::vector<Item>& items) {
        TraceBack(frameStart, segment, i, items);
        RepeatOffsets after = m_repeats[i];
        items.push_back(MatchItem(match.length, match.offset, after));
        const uint32_t next = i + match.length;
        for (uint32_t j = i + 1; j <= std::min(size, i + kMaxMatch); ++j) {
            m_way[j].cost = kUnreached;
        }
        m_way[next].cost = 0;
        m_repeats[next] = after;
        return next;
    }

    // Appends the items of the cheapest way from start to end; the offsets
    // after them are left in m_endRepeats.
    void TraceBack(uint32_t frameStart, uint32_t start, uint32_t end, std::vector<Item>& items) {
        m_path.clear();
        for (uint32_t at = end; at > start; at -= m_way[at].length) m_path.push_back(at);
        RepeatOffsets repeats = m_repeats[start];
        for (auto step = m_path.rbegin(); step != m_path.rend(); ++step) {
            const uint32_t to = *step;
            const uint32_t length = m_way[to].length;
            if (length == 1) {
                items.push_back(LiteralItem(*m_history.At(frameStart + to - 1)));
            } else {
                items.push_back(MatchItem(length, m_way[to].offset, repeats));
            }
        }
        m_endRepeats = repeats;
    }

    const History& m_history;
    const int m_mainSymbols;
    const NearOptimalSettings m_settings;
    BinaryTreeFinder m_finder;
    uint32_t m_frameStart = 0, m_frameEnd = 0;
    RepeatOffsets m_startRepeats;  // at the frame's start
    // Found one frame ahead of the parse (Prepare), perhaps by another
    // thread: the frame being parsed uses one, the next frame's search the
    // other.
    FrameMatches m_found[2];
    uint64_t m_prepared = 0, m_parsed = 0;
    const FrameMatches* m_current = nullptr;
    // The cheapest way to each position of the frame: its cost, its last
    // step (length 1 for a literal) and the offsets there.
    struct Way {
        uint32_t cost;
        uint32_t length;
        uint32_t offset;
    };
    std::vector<Way> m_way;
    std::vector<RepeatOffsets> m_repeats;
    std::vector<uint32_t> m_path;
    RepeatOffsets m_endRepeats;
};

}  // namespace

std::unique_ptr<Parser> MakeNearOptimalParser(const History& history, int mainSymbols,
                                              const NearOptimalSettings& settings) {
    return std::make_unique<NearOptimalParser>(history, mainSymbols, settings);
}

}  // namespace tirn::cabinet::lzx
