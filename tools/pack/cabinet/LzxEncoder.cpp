// LZX as cabinets carry it, written from the format's published description:
// one bit stream per folder, in 16-bit little-endian words filled from the
// most significant bit; a header saying whether x86 call translation is on;
// then blocks (verbatim or aligned-offset here), each with its trees sent as
// changes to the previous block's; the stream re-aligned to 16 bits after
// every 32 KiB frame of output, one frame per data block.
//
// Where decoders are known to differ, this encoder keeps to what all of
// them take: one block per frame, so no block crosses a frame's end; no match
// crosses a frame's end or the window's wrap; no uncompressed blocks (their
// padding is read differently); every code complete, with two symbols at
// least.
#include "FolderEncoder.h"
#include "HuffmanCode.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <stdexcept>

namespace tirn::cabinet {
namespace {

constexpr int kChars = 256;
constexpr int kLengthSymbols = 249;
constexpr int kAlignedSymbols = 8;
constexpr int kPretreeSymbols = 20;
constexpr uint32_t kMinMatch = 2;
constexpr uint32_t kMaxMatch = 257;
constexpr int kMaxCodeLength = 16;
constexpr int kMaxPretreeLength = 15;  // sent in 4 bits
constexpr int kMaxAlignedLength = 7;   // sent in 3 bits
// The x86 call translation: on in every stream, with the size Microsoft's
// own cabinet compressor announces; it applies to the first 1 GiB of output.
constexpr uint32_t kTranslationSize = 12000000;
constexpr uint32_t kTranslatedFrames = 32768;
constexpr uint32_t kUntranslatedTail = 10;  // the last bytes of a frame

enum BlockType : uint32_t { kVerbatim = 1, kAligned = 2 };

// Position slots: slots 0 to 2 are the repeated offsets, then each slot
// covers 2^extra formatted offsets from its base.
struct PositionSlots {
    std::array<uint32_t, 51> base{};
    std::array<uint8_t, 51> extra{};
    PositionSlots() {
        for (int slot = 0; slot < 51; ++slot) {
            extra[slot] = static_cast<uint8_t>(slot < 4 ? 0 : std::min((slot - 2) / 2, 17));
            if (slot > 0) base[slot] = base[slot - 1] + (1u << extra[slot - 1]);
        }
    }
};
const PositionSlots kSlots;

int SlotCount(unsigned windowBits) {
    switch (windowBits) {
        case 15: return 30;
        case 16: return 32;
        case 17: return 34;
        case 18: return 36;
        case 19: return 38;
        case 20: return 42;
        case 21: return 50;
    }
    throw std::invalid_argument("LZX window must be 2^15 to 2^21");
}

int SlotOf(uint32_t formatted) {
    if (formatted < 4) return static_cast<int>(formatted);
    if (formatted >= kSlots.base[36])
        return 36 + static_cast<int>((formatted - kSlots.base[36]) >> 17);
    const int top = 31 - __builtin_clz(formatted);
    return 2 * top + static_cast<int>((formatted >> (top - 1)) & 1);
}

// 16-bit words, little-endian, each filled from its most significant bit.
class BitWriter {
  public:
    explicit BitWriter(std::vector<uint8_t>& out) : m_out(out) {}
    void Put(uint32_t value, int bits) {
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
    void AlignToWord() {
        if (m_count > 0) Put(0, 16 - m_count);
    }

  private:
    std::vector<uint8_t>& m_out;
    uint64_t m_bits = 0;
    int m_count = 0;
};

struct Code {
    std::vector<uint8_t> lengths;
    std::vector<uint16_t> codes;
    void Build(const std::vector<uint32_t>& frequencies, int maxLength) {
        lengths = CodeLengths(frequencies, maxLength);
        codes = CanonicalCodes(lengths);
    }
    void Put(BitWriter& out, uint32_t symbol) const { out.Put(codes[symbol], lengths[symbol]); }
};

// One coded item of a frame: a literal, or a match with its footer.
struct Item {
    uint16_t mainSymbol;
    uint8_t lengthSymbol;  // when mainSymbol's length header is 7
    uint8_t footerBits;
    uint32_t footer;
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

class LzxEncoder : public FolderEncoder {
  public:
    explicit LzxEncoder(unsigned windowBits)
        : m_windowBits(windowBits),
          m_window(1u << windowBits),
          m_mainSymbols(kChars + SlotCount(windowBits) * 8),
          m_head(kHashSize, kNone),
          m_chain(m_window, kNone),
          m_previousMain(static_cast<size_t>(m_mainSymbols), 0),
          m_previousLength(kLengthSymbols, 0) {}

    uint16_t CompressionField() const override {
        return cabinet::CompressionField(Compression::Lzx, m_windowBits);
    }

    void Encode(std::span<const uint8_t> input, bool, std::vector<DataBlock>& out) override {
        for (size_t at = 0; at < input.size(); at += kFrameSize) {
            const auto frame = input.subspan(at, std::min<size_t>(kFrameSize, input.size() - at));
            out.push_back(EncodeFrame(frame));
        }
    }

  private:
    static constexpr uint32_t kNone = 0xFFFFFFFF;
    static constexpr int kHashBits = 16;
    static constexpr uint32_t kHashSize = 1u << kHashBits;
    static constexpr int kChainDepth = 8;
    static constexpr uint32_t kGoodEnough = 48;
    // A match this long is taken as it is, without looking one byte ahead.
    static constexpr uint32_t kLazyBelow = 16;

    // Absolute positions count from the folder's start; the buffer holds at
    // least the last window of them.
    const uint8_t* At(uint32_t position) const {
        return m_buffer.data() + (position - m_bufferStart);
    }

    static uint32_t Hash(const uint8_t* p) {
        const uint32_t v = uint32_t{p[0]} << 16 | uint32_t{p[1]} << 8 | p[2];
        return (v * 2654435761u) >> (32 - kHashBits);
    }

    void Insert(uint32_t position, uint32_t end) {
        if (position + 3 > end) return;
        const uint32_t h = Hash(At(position));
        m_chain[position & (m_window - 1)] = m_head[h];
        m_head[h] = position;
    }

    // The longest match of source and position up to limit bytes, where the
    // source's copy must not run past the window's end (some decoders do not
    // wrap a copy there).
    uint32_t MatchLength(uint32_t source, uint32_t position, uint32_t limit) const {
        const uint32_t sourceInWindow = source & (m_window - 1);
        limit = std::min(limit, m_window - sourceInWindow);
        const uint8_t* a = At(source);
        const uint8_t* b = At(position);
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

    struct Match {
        uint32_t length = 0;
        uint32_t offset = 0;
        int repeat = -1;  // 0 to 2 for a repeated offset
    };

    bool UsableOffset(uint32_t position, uint32_t offset) const {
        return offset >= 1 && offset <= position && offset <= m_window - 3 &&
               position - offset >= m_bufferStart;
    }

    Match FindMatch(uint32_t position, uint32_t frameEnd) const {
        Match best;
        const uint32_t limit = std::min(kMaxMatch, frameEnd - position);
        if (limit < kMinMatch) return best;
        for (int r = 0; r < 3; ++r) {
            if (!UsableOffset(position, m_repeat[r])) continue;
            const uint32_t length = MatchLength(position - m_repeat[r], position, limit);
            if (length >= kMinMatch && length > best.length) best = {length, m_repeat[r], r};
        }
        if (position + 3 > frameEnd) return best;
        Match found;
        uint32_t candidate = m_head[Hash(At(position))];
        for (int depth = 0; depth < kChainDepth && candidate != kNone && candidate < position;
             ++depth) {
            const uint32_t offset = position - candidate;
            if (!UsableOffset(position, offset)) break;
            const uint8_t* a = At(candidate);
            const uint8_t* b = At(position);
            if (a[found.length] == b[found.length] && a[0] == b[0]) {
                const uint32_t length = MatchLength(candidate, position, limit);
                if (length > found.length) {
                    found = {length, offset, -1};
                    if (length >= limit || length >= kGoodEnough) break;
                }
            }
            candidate = m_chain[candidate & (m_window - 1)];
        }
        // Length 3 from far away costs more than three literals.
        if (found.length == 3 && found.offset > (1u << 14)) found.length = 0;
        if (found.length < 3) return best;
        for (int r = 0; r < 3; ++r) {
            if (found.offset == m_repeat[r]) found.repeat = r;  // the cheaper way to say it
        }
        // A repeated offset is cheap: take it unless the other is clearly longer.
        if (best.length >= 2 && best.length + 2 >= found.length) return best;
        return found;
    }

    void AddMatch(const Match& match, std::vector<Item>& items) {
        uint32_t formatted;
        if (match.repeat >= 0) {
            formatted = static_cast<uint32_t>(match.repeat);
            std::swap(m_repeat[0], m_repeat[match.repeat]);
        } else {
            formatted = match.offset + 2;
            m_repeat[2] = m_repeat[1];
            m_repeat[1] = m_repeat[0];
            m_repeat[0] = match.offset;
        }
        const int slot = SlotOf(formatted);
        const uint32_t header = std::min<uint32_t>(match.length - kMinMatch, 7);
        Item item{static_cast<uint16_t>(kChars + slot * 8 + static_cast<int>(header)), 0,
                  kSlots.extra[slot], formatted - kSlots.base[slot]};
        if (header == 7) item.lengthSymbol = static_cast<uint8_t>(match.length - kMinMatch - 7);
        items.push_back(item);
    }

    // The x86 call translation of one frame, in place: a relative call
    // target after an 0xE8 byte becomes absolute, as the decoder undoes it.
    void Translate(uint8_t* frame, uint32_t size) const {
        if (m_frameIndex >= kTranslatedFrames || size <= kUntranslatedTail) return;
        const uint32_t start = m_frameIndex * kFrameSize;
        for (uint32_t i = 0; i < size - kUntranslatedTail;) {
            if (frame[i] != 0xE8) {
                ++i;
                continue;
            }
            const auto position = static_cast<int32_t>(start + i);
            uint8_t* operand = frame + i + 1;
            const auto relative =
                static_cast<int32_t>(uint32_t{operand[0]} | uint32_t{operand[1]} << 8 |
                                     uint32_t{operand[2]} << 16 | uint32_t{operand[3]} << 24);
            const auto size32 = static_cast<int32_t>(kTranslationSize);
            if (relative >= -position && relative < size32) {
                const int32_t absolute =
                    relative < size32 - position ? relative + position : relative - size32;
                const auto value = static_cast<uint32_t>(absolute);
                operand[0] = static_cast<uint8_t>(value);
                operand[1] = static_cast<uint8_t>(value >> 8);
                operand[2] = static_cast<uint8_t>(value >> 16);
                operand[3] = static_cast<uint8_t>(value >> 24);
            }
            i += 5;
        }
    }

    // Greedy parsing with one step of lazy evaluation: when the next
    // position has a clearly longer match, this one goes as a literal.
    std::vector<Item> Parse(uint32_t frameStart, uint32_t frameEnd) {
        std::vector<Item> items;
        uint32_t position = frameStart;
        while (position < frameEnd) {
            Match match = FindMatch(position, frameEnd);
            Insert(position, frameEnd);
            if (match.length >= 3 && match.length < kLazyBelow && match.repeat < 0 &&
                position + 1 < frameEnd) {
                const Match next = FindMatch(position + 1, frameEnd);
                if (next.length > match.length + 1 ||
                    (next.repeat >= 0 && next.length >= match.length)) {
                    items.push_back({*At(position), 0, 0, 0});
                    ++position;
                    Insert(position, frameEnd);
                    match = next;
                }
            }
            if (match.length < kMinMatch) {
                items.push_back({*At(position), 0, 0, 0});
                ++position;
                continue;
            }
            AddMatch(match, items);
            // Inside a long match (a run, a copied table) every position
            // would only lengthen the chains with more of the same.
            const uint32_t inserted = match.length <= kLazyBelow ? match.length : 8;
            for (uint32_t i = 1; i < inserted; ++i) Insert(position + i, frameEnd);
            position += match.length;
        }
        return items;
    }

    DataBlock EncodeFrame(std::span<const uint8_t> frame) {
        const auto size = static_cast<uint32_t>(frame.size());
        // Keep one window of history before this frame, and no more.
        if (m_buffer.size() >= 2 * static_cast<size_t>(m_window)) {
            const size_t drop = m_buffer.size() - m_window;
            m_buffer.erase(m_buffer.begin(), m_buffer.begin() + static_cast<ptrdiff_t>(drop));
            m_bufferStart += static_cast<uint32_t>(drop);
        }
        const uint32_t frameStart = m_bufferStart + static_cast<uint32_t>(m_buffer.size());
        m_buffer.insert(m_buffer.end(), frame.begin(), frame.end());
        Translate(m_buffer.data() + (frameStart - m_bufferStart), size);
        const std::vector<Item> items = Parse(frameStart, frameStart + size);

        DataBlock block;
        block.uncompressedSize = static_cast<uint16_t>(size);
        BitWriter out(block.bytes);
        if (m_frameIndex == 0) {
            out.Put(1, 1);  // translation on, and its size
            out.Put(kTranslationSize >> 16, 16);
            out.Put(kTranslationSize & 0xFFFF, 16);
        }
        PutBlock(out, items, size);
        out.AlignToWord();
        ++m_frameIndex;
        return block;
    }

    void PutBlock(BitWriter& out, const std::vector<Item>& items, uint32_t size) {
        std::vector<uint32_t> mainFrequencies(static_cast<size_t>(m_mainSymbols), 0);
        std::vector<uint32_t> lengthFrequencies(kLengthSymbols, 0);
        std::vector<uint32_t> alignedFrequencies(kAlignedSymbols, 0);
        uint64_t verbatimFooterBits = 0;
        for (const Item& item : items) {
            ++mainFrequencies[item.mainSymbol];
            if (item.mainSymbol >= kChars && (item.mainSymbol - kChars) % 8 == 7) {
                ++lengthFrequencies[item.lengthSymbol];
            }
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
            if (item.mainSymbol < kChars) continue;
            if ((item.mainSymbol - kChars) % 8 == 7) length.Put(out, item.lengthSymbol);
            if (type == kAligned && item.footerBits >= 3) {
                if (item.footerBits > 3) out.Put(item.footer >> 3, item.footerBits - 3);
                aligned.Put(out, item.footer & 7);
            } else if (item.footerBits > 0) {
                out.Put(item.footer, item.footerBits);
            }
        }
    }

    const unsigned m_windowBits;
    const uint32_t m_window;
    const int m_mainSymbols;
    std::vector<uint32_t> m_head;
    std::vector<uint32_t> m_chain;
    std::vector<uint8_t> m_buffer;  // translated input, from m_bufferStart
    uint32_t m_bufferStart = 0;
    uint32_t m_repeat[3] = {1, 1, 1};
    std::vector<uint8_t> m_previousMain;
    std::vector<uint8_t> m_previousLength;
    uint32_t m_frameIndex = 0;
};

}  // namespace

std::unique_ptr<FolderEncoder> MakeLzxEncoder(unsigned windowBits) {
    return std::make_unique<LzxEncoder>(windowBits);
}

}  // namespace tirn::cabinet
