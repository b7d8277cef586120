// The cabinet container as this tool writes and reads it: the header
// (CFHEADER), folder entries (CFFOLDER), file entries (CFFILE) and data
// blocks (CFDATA), all integers little-endian. Portable: no platform calls.
#pragma once

#include "cabinet/Layer.h"

#include <cstddef>
#include <cstdint>

namespace tirn::cabinet {

inline constexpr uint32_t kHeaderSize = 36;
inline constexpr uint32_t kFolderEntrySize = 8;
inline constexpr uint32_t kFileEntrySize = 16;  // before the name
inline constexpr uint32_t kDataHeaderSize = 8;  // before the bytes
// Uncompressed bytes in one data block; every block but a folder's last is
// exactly this long.
inline constexpr uint32_t kFrameSize = 32768;
// The most bytes a compressed data block may hold: a frame and the 6144
// bytes of worst-case growth readers allow for (libmspack and the system's
// cabinet library refuse a larger block).
inline constexpr uint32_t kMaxDataBlockBytes = kFrameSize + 6144;
// A stored name, its terminator included.
inline constexpr uint32_t kMaxNameBytes = 256;
inline constexpr uint16_t kMaxDataBlocks = 0xFFFF;

// Header flags.
inline constexpr uint16_t kFlagPreviousCabinet = 0x0001;
inline constexpr uint16_t kFlagNextCabinet = 0x0002;
inline constexpr uint16_t kFlagReservePresent = 0x0004;

// File attributes.
inline constexpr uint16_t kAttributeArchive = 0x0020;
inline constexpr uint16_t kAttributeNameIsUtf8 = 0x0080;

enum class Compression : uint16_t { None = 0, Mszip = 1, Quantum = 2, Lzx = 3 };

// The folder's compression field: the type in the low 4 bits, for LZX the
// window's size as a power of two in bits 8 to 12.
inline constexpr uint16_t kCompressionTypeMask = 0x000F;
inline uint16_t CompressionField(Compression type, unsigned windowBits = 0) {
    return static_cast<uint16_t>(static_cast<uint16_t>(type) | (windowBits << 8));
}

// The data block checksum: the block's bytes, then its two size fields,
// folded as little-endian 32-bit words by XOR; a tail of 1 to 3 bytes is
// taken most significant byte first. seed chains the two parts.
uint32_t BlockChecksum(const uint8_t* bytes, size_t length, uint32_t seed);
uint32_t DataBlockChecksum(const uint8_t* data, uint16_t compressedSize, uint16_t uncompressedSize);

}  // namespace tirn::cabinet
