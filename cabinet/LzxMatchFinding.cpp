#include "cabinet/LzxMatchFinding.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace tirn::cabinet::lzx {

namespace {
constexpr int kHash3Bits = 17;
constexpr int kHash4Bits = 18;
// How far ahead of the position inserted the bucket finder fetches.
constexpr uint32_t kAhead = 4;

uint32_t Hash3(const uint8_t* p) {
    const uint32_t v = uint32_t{p[0]} << 16 | uint32_t{p[1]} << 8 | p[2];
    return (v * 2654435761u) >> (32 - kHash3Bits);
}

uint32_t Hash4(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return (v * 2654435761u) >> (32 - kHash4Bits);
}
}  // namespace

uint32_t History::Append(std::span<const uint8_t> frame) {
    // Keep one window before the last frame, which may still be parsing
    // while the new one is searched, and no more; what falls out is dropped
    // a quarter window at a time.
    const uint32_t keepFrom = m_lastFrame > m_window ? m_lastFrame - m_window : 0;
    if (keepFrom > m_start && keepFrom - m_start >= m_window / 4) {
        m_buffer.erase(m_buffer.begin(),
                       m_buffer.begin() + static_cast<ptrdiff_t>(keepFrom - m_start));
        m_start = keepFrom;
    }
    m_lastFrame = End();
    m_buffer.insert(m_buffer.end(), frame.begin(), frame.end());
    return m_lastFrame;
}

HashBucketFinder::HashBucketFinder(const History& history)
    : m_history(history),
      m_head3(1u << kHash3Bits, kNone),
      m_buckets(size_t{kWays} << kHash4Bits, kNone),
      m_newest(1u << kHash4Bits, 0) {}

void HashBucketFinder::Insert(uint32_t position, uint32_t end) {
    if (position + 3 > end) return;
    const uint8_t* here = m_history.At(position);
    m_head3[Hash3(here)] = position;
    if (position + 4 > end) return;
    // Positions come in order: the bucket a few ahead is fetched meanwhile.
    if (position + kAhead + 4 <= end) {
        __builtin_prefetch(&m_buckets[size_t{Hash4(here + kAhead)} * kWays]);
    }
    const uint32_t bucket = Hash4(here);
    const uint8_t way = (m_newest[bucket] + 1) & (kWays - 1);
    m_buckets[bucket * kWays + way] = position;
    m_newest[bucket] = way;
}

MatchCandidate HashBucketFinder::Longest(uint32_t position, uint32_t limit,
                                         uint32_t goodEnough) const {
    MatchCandidate found{0, 0};
    if (limit < 3) return found;
    const uint8_t* here = m_history.At(position);
    if (limit >= 4) {
        // The candidates sit side by side, not behind one another as in a
        // chain: their bytes are fetched from memory all at once.
        const uint32_t bucket = Hash4(here);
        const uint32_t* ways = &m_buckets[bucket * kWays];
        uint32_t prefix;
        std::memcpy(&prefix, here, 4);
        for (uint32_t k = 0; k < kWays; ++k) {
            const uint32_t candidate = ways[(m_newest[bucket] - k) & (kWays - 1)];
            if (candidate == kNone || candidate >= position) break;
            if (!m_history.UsableOffset(position, position - candidate)) break;
            const uint8_t* a = m_history.At(candidate);
            uint32_t theirs;
            std::memcpy(&theirs, a, 4);
            if (theirs != prefix || a[found.length] != here[found.length]) continue;
            const uint32_t length = m_history.MatchLength(candidate, position, limit);
            if (length > found.length) {
                found = {length, position - candidate};
                if (length >= limit || length >= goodEnough) break;
            }
        }
        if (found.length >= 3) return found;
    }
    // A copy of 3 bytes only pays when near: the latest one is the one.
    const uint32_t candidate = m_head3[Hash3(here)];
    if (candidate != kNone && candidate < position &&
        m_history.UsableOffset(position, position - candidate) &&
        m_history.MatchLength(candidate, position, 3) == 3) {
        found = {3, position - candidate};
    }
    return found;
}

BinaryTreeFinder::BinaryTreeFinder(const History& history, int depth, uint32_t niceLength)
    : m_history(history),
      m_depth(depth),
      m_niceLength(niceLength),
      m_head2(1u << 16, kNone),
      m_head3(1u << kHash3Bits, kNone),
      m_head4(1u << kHash4Bits, kNone),
      m_children(2 * static_cast<size_t>(history.Window()), kNone) {}

void BinaryTreeFinder::Search(uint32_t position, uint32_t limit, uint32_t compare,
                              std::vector<MatchCandidate>& out) {
    Walk<true>(position, limit, compare, &out);
}

void BinaryTreeFinder::Skip(uint32_t position, uint32_t compare) {
    Walk<false>(position, 0, compare, nullptr);
}

template <bool kCollect>
uint32_t BinaryTreeFinder::NearCopies(uint32_t position, uint32_t limit, uint32_t available,
                                      std::vector<MatchCandidate>* out) {
    const uint8_t* here = m_history.At(position);
    uint32_t best = 1;
    // Lengths 2 and 3 need a near copy to pay: the latest one of the prefix
    // (of its hash, for 3 bytes), taken when it has exactly that length.
    const auto nearest = [&](uint32_t& head, uint32_t length) {
        if (kCollect && head != kNone && head < position &&
            m_history.UsableOffset(position, position - head) &&
            m_history.MatchLength(head, position, std::min(limit, length)) == length) {
            out->push_back({length, position - head});
            best = length;
        }
        head = position;
    };
    nearest(m_head2[uint32_t{here[0]} | uint32_t{here[1]} << 8], 2);
    if (available >= 3) nearest(m_head3[Hash3(here)], 3);
    return best;
}

uint32_t BinaryTreeFinder::Collect(uint32_t position, uint32_t candidate, uint32_t length,
                                   uint32_t limit, uint32_t best,
                                   std::vector<MatchCandidate>& out) const {
    // A match as long as the nice length is followed to its end.
    const uint32_t toWindowEnd = m_history.Window() - (candidate & (m_history.Window() - 1));
    const uint32_t full = length == m_niceLength ? m_history.MatchLength(candidate, position, limit)
                                                 : std::min({length, limit, toWindowEnd});
    if (full <= best || full < 2) return best;
    out.push_back({full, position - candidate});
    return full;
}

template <bool kCollect>
void BinaryTreeFinder::Walk(uint32_t position, uint32_t limit, uint32_t compare,
                            std::vector<MatchCandidate>* out) {
    const uint32_t mask = m_history.Window() - 1;
    const uint32_t slot = position & mask;
    uint32_t* const children = m_children.data();
    children[2 * slot] = children[2 * slot + 1] = kNone;
    const uint32_t available = compare - position;
    if (available < 2) return;
    const uint32_t best = NearCopies<kCollect>(position, limit, available, out);
    if (available < 4) return;

    // Positions come in order: the hash heads a few ahead are fetched now,
    // and the next position's root node and bytes.
    if (available >= kAhead + 4) {
        __builtin_prefetch(&m_head4[Hash4(m_history.At(position + kAhead))]);
        const uint32_t next = m_head4[Hash4(m_history.At(position + 1))];
        if (next < position && next >= m_history.OldestSource(position)) {
            __builtin_prefetch(&children[2 * (next & mask)]);
            __builtin_prefetch(m_history.At(next));
        }
    }
    // Longer ones: the tree of the 4-byte prefix's hash, which position now
    // roots.
    uint32_t& head4 = m_head4[Hash4(m_history.At(position))];
    const uint32_t root = head4;
    head4 = position;
    Descend<kCollect>(position, root, std::min(m_niceLength, available), limit, best, out);
}

template <bool kCollect>
void BinaryTreeFinder::Descend(uint32_t position, uint32_t candidate, uint32_t treeLimit,
                               uint32_t limit, uint32_t best, std::vector<MatchCandidate>* out) {
    const uint32_t mask = m_history.Window() - 1;
    uint32_t* const children = m_children.data();
    const uint8_t* here = m_history.At(position);
    uint32_t* smallerSlot = &children[2 * (position & mask)];
    uint32_t* largerSlot = smallerSlot + 1;
    const uint32_t oldest = m_history.OldestSource(position);
    for (int depth = m_depth; depth > 0; --depth) {
        // (kNone is past every position.)
        if (candidate >= position || candidate < oldest) break;
        const uint32_t candidateSlot = candidate & mask;
        // The node's children are fetched while its bytes are compared: two
        // waits on memory at once instead of one after the other.
        __builtin_prefetch(&children[2 * candidateSlot]);
        const uint8_t* there = m_history.At(candidate);
        // Every length is measured here, never assumed from the tree: a tree
        // built near a frame's end saw fewer bytes than there are now.
        const uint32_t length = History::CommonLength(there, here, treeLimit);
        if (kCollect && length > best)
            best = Collect(position, candidate, length, limit, best, *out);
        if (length == treeLimit) {
            // Equal as far as the tree looks: this position takes its place.
            *smallerSlot = children[2 * candidateSlot];
            *largerSlot = children[2 * candidateSlot + 1];
            return;
        }
        if (there[length] < here[length]) {
            *smallerSlot = candidate;
            smallerSlot = &children[2 * candidateSlot + 1];
            candidate = *smallerSlot;
        } else {
            *largerSlot = candidate;
            largerSlot = &children[2 * candidateSlot];
            candidate = *largerSlot;
        }
    }
    *smallerSlot = kNone;
    *largerSlot = kNone;
}

template void BinaryTreeFinder::Walk<true>(uint32_t, uint32_t, uint32_t,
                                           std::vector<MatchCandidate>*);
template void BinaryTreeFinder::Walk<false>(uint32_t, uint32_t, uint32_t,
                                            std::vector<MatchCandidate>*);

}  // namespace tirn::cabinet::lzx
