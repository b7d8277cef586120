// Little-endian loads and stores, and reads from a byte span with the bounds checked: an offset or
// length that does not fit inside the span is an empty result, never a read
// outside it. Offsets are 64-bit so that sums of 32-bit header fields cannot
// wrap.
#pragma once

#include "format/Layer.h"

#include <cstdint>
#include <optional>
#include <span>

namespace tirn::format {

using Bytes = std::span<const uint8_t>;

inline bool FitsIn(Bytes bytes, uint64_t offset, uint64_t length) {
    return offset <= bytes.size() && length <= bytes.size() - offset;
}

inline uint16_t LoadLittleEndian16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

inline void StoreLittleEndian16(uint8_t* p, uint16_t value) {
    p[0] = static_cast<uint8_t>(value);
    p[1] = static_cast<uint8_t>(value >> 8);
}

inline uint32_t LoadLittleEndian32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

inline void StoreLittleEndian32(uint8_t* p, uint32_t value) {
    p[0] = static_cast<uint8_t>(value);
    p[1] = static_cast<uint8_t>(value >> 8);
    p[2] = static_cast<uint8_t>(value >> 16);
    p[3] = static_cast<uint8_t>(value >> 24);
}

inline std::optional<uint32_t> ReadLittleEndian32(Bytes bytes, uint64_t offset) {
    if (!FitsIn(bytes, offset, 4)) return std::nullopt;
    return LoadLittleEndian32(bytes.data() + offset);
}

inline std::optional<uint16_t> ReadLittleEndian16(Bytes bytes, uint64_t offset) {
    if (!FitsIn(bytes, offset, 2)) return std::nullopt;
    return LoadLittleEndian16(bytes.data() + offset);
}

}  // namespace tirn::format
