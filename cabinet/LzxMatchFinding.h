// Finding earlier copies of the bytes at a position, within LZX's window:
// the history of the folder's (translated) input, a hash-bucket finder for
// the fastest effort, and a binary-tree finder that gives every useful
// length for the near-optimal parser.
#pragma once

#include "cabinet/Layer.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

namespace tirn::cabinet::lzx {

// The folder's input so far, addressed by absolute position (from the
// folder's start); at least a window before the last two frames is kept.
// Appending moves the bytes: no search or parse may run meanwhile.
class History {
  public:
    explicit History(uint32_t window) : m_window(window) {}

    // Appends a frame; returns where it starts. The caller may change the
    // frame's bytes in place (the x86 translation) before any search.
    uint32_t Append(std::span<const uint8_t> frame);
    uint8_t* Data(uint32_t position) { return m_buffer.data() + (position - m_start); }
    const uint8_t* At(uint32_t position) const { return m_buffer.data() + (position - m_start); }
    uint32_t End() const { return m_start + static_cast<uint32_t>(m_buffer.size()); }
    uint32_t Window() const { return m_window; }

    // An offset a match at position may use: inside the window (less 3, as
    // the format asks) and inside what is kept.
    bool UsableOffset(uint32_t position, uint32_t offset) const {
        return offset >= 1 && offset <= position && position - offset >= OldestSource(position);
    }
    // The earliest source whose offset is usable at position: the one rule
    // above, as the tree walk checks it once a position.
    uint32_t OldestSource(uint32_t position) const {
        const uint32_t reach = m_window - 3;
        return std::max(m_start, position > reach ? position - reach : 0u);
    }
    // How many bytes at position equal those at source, up to limit; the
    // source's copy must not run past the window's end either (some
    // decoders do not wrap a copy there).
    uint32_t MatchLength(uint32_t source, uint32_t position, uint32_t limit) const {
        const uint32_t sourceInWindow = source & (m_window - 1);
        return CommonLength(At(source), At(position), std::min(limit, m_window - sourceInWindow));
    }
    // Inline: the walks call it for every node and every repeat.
    static uint32_t CommonLength(const uint8_t* a, const uint8_t* b, uint32_t limit) {
        uint32_t n = 0;
        // Eight bytes at a time while they last, then byte by byte.
        while (std::endian::native == std::endian::little && n + 8 <= limit) {
            uint64_t x, y;
            std::memcpy(&x, a + n, 8);
            std::memcpy(&y, b + n, 8);
            if (x != y) return n + static_cast<uint32_t>(__builtin_ctzll(x ^ y) / 8);
            n += 8;
        }
        while (n < limit && a[n] == b[n]) ++n;
        return n;
    }

  private:
    const uint32_t m_window;
    std::vector<uint8_t> m_buffer;
    uint32_t m_start = 0;      // the position of m_buffer's first byte
    uint32_t m_lastFrame = 0;  // where the last frame appended starts
};

struct MatchCandidate {
    uint32_t length;
    uint32_t offset;
};

// The latest few positions of each 4-byte prefix's hash, newest first, and
// the latest of each 3-byte prefix's. Positions must be inserted in order.
class HashBucketFinder {
  public:
    explicit HashBucketFinder(const History& history);
    // The longest match at position of up to limit bytes (0 when none of 3
    // bytes or more), stopping early at good enough.
    MatchCandidate Longest(uint32_t position, uint32_t limit, uint32_t goodEnough) const;
    void Insert(uint32_t position, uint32_t end);

  private:
    static constexpr uint32_t kNone = 0xFFFFFFFF;
    static constexpr uint32_t kWays = 8;  // candidates fetched together
    const History& m_history;
    std::vector<uint32_t> m_head3;
    std::vector<uint32_t> m_buckets;  // kWays positions a 4-byte hash, a ring
    std::vector<uint8_t> m_newest;    // each ring's newest way
};

// Binary trees of the window's suffixes, one a 4-byte hash, each position
// made the root of its tree as it is searched: every match longer than the
// ones before, shortest first, at the nearest offset of its length. Each
// position must be searched or skipped, in order.
class BinaryTreeFinder {
  public:
    BinaryTreeFinder(const History& history, int depth, uint32_t niceLength);
    // Appends the matches at position to out (lengths rising, up to limit,
    // and at most the nice length); compare is how far bytes may be read.
    void Search(uint32_t position, uint32_t limit, uint32_t compare,
                std::vector<MatchCandidate>& out);
    // Enters position into the trees without collecting matches.
    void Skip(uint32_t position, uint32_t compare);

  private:
    static constexpr uint32_t kNone = 0xFFFFFFFF;
    template <bool kCollect>
    void Walk(uint32_t position, uint32_t limit, uint32_t compare,
              std::vector<MatchCandidate>* out);
    // The nearest 2- and 3-byte copies (entering position as the latest);
    // returns the longest collected, 1 when none.
    template <bool kCollect>
    [[gnu::always_inline]] inline uint32_t NearCopies(uint32_t position, uint32_t limit,
                                                      uint32_t available,
                                                      std::vector<MatchCandidate>* out);
    // Walks down a tree from candidate: collects the matches longer than
    // best, and hangs the nodes passed beneath position, the new root.
    template <bool kCollect>
    [[gnu::always_inline]] inline void Descend(uint32_t position, uint32_t candidate,
                                               uint32_t treeLimit, uint32_t limit, uint32_t best,
                                               std::vector<MatchCandidate>* out);
    // A tree node's match of length at candidate, collected when longer than
    // best; returns the new best.
    uint32_t Collect(uint32_t position, uint32_t candidate, uint32_t length, uint32_t limit,
                     uint32_t best, std::vector<MatchCandidate>& out) const;

    const History& m_history;
    const int m_depth;
    const uint32_t m_niceLength;
    std::vector<uint32_t> m_head2;  // the last position of each 2-byte prefix
    std::vector<uint32_t> m_head3;  // ... and of each 3-byte one's hash
    std::vector<uint32_t> m_head4;  // the tree of each 4-byte prefix's hash
    // Each position's two children, smaller then larger, side by side: one
    // cache line a node.
    std::vector<uint32_t> m_children;
};

}  // namespace tirn::cabinet::lzx
