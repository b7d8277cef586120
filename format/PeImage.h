// The headers of a PE image, read once from its first bytes with every
// offset checked: where its section data ends (where a package starts), which
// of the launcher's two builds it is, and the places a signature concerns
// (the checksum field, the certificate-table entry and the table itself).
// Everyone who needs a PE's layout asks this one reader.
#pragma once

#include "format/Layer.h"

#include "format/ByteReader.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace tirn::format {

struct PeImage {
    // "MZ" at the start and "PE\0\0" where e_lfanew points: a PE indeed,
    // not only bytes laid out like one.
    bool hasSignatures = false;
    uint64_t headerOffset = 0;  // e_lfanew: the "PE\0\0" signature
    uint16_t machine = 0;
    std::optional<uint16_t> optionalHeaderMagic;  // 0x10B PE32, 0x20B PE32+
    uint16_t sectionCount = 0;
    // The largest PointerToRawData + SizeOfRawData over the section table,
    // summed in 64 bits (0 with no sections).
    uint64_t sectionDataEnd = 0;
    // File offsets of the 4-byte CheckSum field and of the 8-byte
    // certificate-table entry (data directory 4), when the optional header
    // holds them.
    std::optional<uint64_t> checksumField;
    std::optional<uint64_t> certificateEntryField;
    // The certificate table that entry names (a file offset, not an RVA),
    // 0 and 0 when the image is not signed.
    uint32_t certificateTableOffset = 0;
    uint32_t certificateTableSize = 0;

    bool IsSigned() const { return certificateTableOffset != 0 || certificateTableSize != 0; }
};

// The layout of the image whose headers start at headers[0]; headers need
// hold only the headers and the section table. Empty when the DOS header,
// the file header or the section table does not lie inside them.
std::optional<PeImage> ReadPeImage(Bytes headers);

struct ByteRange {
    uint64_t offset;
    uint64_t length;
};

// What an Authenticode digest covers, in order: the file up to its
// certificate table (its whole length when unsigned), without the CheckSum
// field and the certificate-table entry. Empty when the image has no such
// fields or names a table outside the file.
std::optional<std::vector<ByteRange>> AuthenticodeRanges(const PeImage& image, uint64_t fileSize);

}  // namespace tirn::format
