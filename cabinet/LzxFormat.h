// LZX as cabinets carry it, written from the format's published description:
// one bit stream per folder, in 16-bit little-endian words filled from the
// most significant bit; a header saying whether x86 call translation is on;
// then blocks (verbatim or aligned-offset here), each with its trees sent as
// changes to the previous block's; the stream re-aligned to 16 bits after
// every 32 KiB frame of output, one frame per data block.
//
// What the encoder's parts share: the format's constants, the position
// slots, the coded items and the three repeated offsets.
#pragma once

#include "cabinet/Layer.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <stdexcept>
#include <vector>

namespace tirn::cabinet::lzx {

inline constexpr int kChars = 256;
inline constexpr int kLengthSymbols = 249;
inline constexpr int kAlignedSymbols = 8;
inline constexpr int kPretreeSymbols = 20;
inline constexpr uint32_t kMinMatch = 2;
inline constexpr uint32_t kMaxMatch = 257;
inline constexpr uint32_t kLengthHeaders = 8;  // 0 to 6 say the length, 7 sends a length symbol
inline constexpr int kMaxCodeLength = 16;
inline constexpr int kMaxPretreeLength = 15;  // sent in 4 bits
inline constexpr int kMaxAlignedLength = 7;   // sent in 3 bits
// The x86 call translation: on in every stream, with the size Microsoft's
// own cabinet compressor announces; it applies to the first 1 GiB of output.
inline constexpr uint32_t kTranslationSize = 12000000;
inline constexpr uint32_t kTranslatedFrames = 32768;
inline constexpr uint32_t kUntranslatedTail = 10;  // the last bytes of a frame

// Position slots: slots 0 to 2 are the repeated offsets, then each slot
// covers 2^extra formatted offsets (offset + 2) from its base.
struct PositionSlots {
    std::array<uint32_t, 51> base{};
    std::array<uint8_t, 51> extra{};
    constexpr PositionSlots() {
        for (int slot = 0; slot < 51; ++slot) {
            extra[slot] = static_cast<uint8_t>(slot < 4 ? 0 : std::min((slot - 2) / 2, 17));
            if (slot > 0) base[slot] = base[slot - 1] + (1u << extra[slot - 1]);
        }
    }
};
inline constexpr PositionSlots kSlots;

inline int SlotCount(unsigned windowBits) {
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

inline int SlotOf(uint32_t formatted) {
    if (formatted < 4) return static_cast<int>(formatted);
    if (formatted >= kSlots.base[36])
        return 36 + static_cast<int>((formatted - kSlots.base[36]) >> 17);
    const int top = 31 - __builtin_clz(formatted);
    return 2 * top + static_cast<int>((formatted >> (top - 1)) & 1);
}

// The main symbol of a match: its position slot and its length header.
inline int MainSymbol(int slot, uint32_t length) {
    return kChars + slot * static_cast<int>(kLengthHeaders) +
           static_cast<int>(std::min<uint32_t>(length - kMinMatch, kLengthHeaders - 1));
}

// One coded item of a frame: a literal, or a match with its footer.
struct Item {
    uint16_t mainSymbol;
    uint8_t lengthSymbol;  // when mainSymbol's length header is 7
    uint8_t footerBits;
    uint32_t footer;

    bool IsMatch() const { return mainSymbol >= kChars; }
    bool HasLengthSymbol() const {
        return IsMatch() && (mainSymbol - kChars) % kLengthHeaders == kLengthHeaders - 1;
    }
};

inline Item LiteralItem(uint8_t byte) {
    return {byte, 0, 0, 0};
}

// The three most recent match offsets, R0 first; a match may name one of
// them by its slot instead of sending the offset.
struct RepeatOffsets {
    uint32_t offsets[3] = {1, 1, 1};

    // The repeat that a match at offset would be, or -1.
    int Find(uint32_t offset) const {
        for (int r = 0; r < 3; ++r) {
            if (offsets[r] == offset) return r;
        }
        return -1;
    }
    // After a match at offset: a repeat swaps with R0, a new one shifts in.
    void Use(uint32_t offset) {
        const int r = Find(offset);
        if (r >= 0) {
            std::swap(offsets[0], offsets[r]);
            return;
        }
        offsets[2] = offsets[1];
        offsets[1] = offsets[0];
        offsets[0] = offset;
    }
};

// The item of a match of length at offset, said the cheapest way (a repeat
// when it is one); the offsets move on as the decoder's will.
inline Item MatchItem(uint32_t length, uint32_t offset, RepeatOffsets& repeats) {
    const int repeat = repeats.Find(offset);
    const uint32_t formatted = repeat >= 0 ? static_cast<uint32_t>(repeat) : offset + 2;
    repeats.Use(offset);
    const int slot = SlotOf(formatted);
    Item item{static_cast<uint16_t>(MainSymbol(slot, length)), 0, kSlots.extra[slot],
              formatted - kSlots.base[slot]};
    if (item.HasLengthSymbol()) {
        item.lengthSymbol = static_cast<uint8_t>(length - kMinMatch - (kLengthHeaders - 1));
    }
    return item;
}

}  // namespace tirn::cabinet::lzx
