// Layout of a setup executable: the linked image (headers and section data),
// then a 16-byte trailer, then the scrambled payload, then anything (a
// certificate table when the setup is signed). All integers little-endian.
//
//   T          PackageTrailer { "TIRS", definitionVersion, payloadSize, reserved }
//   T + 16     payloadSize bytes of payload
//
// T is the largest end of section raw data named by the PE section table.
#pragma once

#include "format/Layer.h"

#include "format/ByteReader.h"

#include <array>
#include <cstdint>
#include <optional>

namespace tirn::format {

inline constexpr uint32_t kTrailerSize = 16;
// "TIRS" read as one little-endian word.
inline constexpr uint32_t kTrailerMagic = 0x53524954;

struct PackageTrailer {
    uint32_t magic = kTrailerMagic;
    uint32_t definitionVersion = 0;
    uint32_t payloadSize = 0;
    uint32_t reserved = 0;
};

// Where the section data ends, which is where a package's trailer starts:
// the largest PointerToRawData + SizeOfRawData over the section table, summed
// in 64 bits (0 with no sections). Empty when the DOS header, the file header
// or the section table does not lie inside the image.
std::optional<uint64_t> SectionDataEnd(Bytes image);

// The trailer at offset when its 16 bytes lie inside the image and its magic
// is "TIRS"; the presence test that the version read needs.
std::optional<PackageTrailer> ReadPresentTrailer(Bytes image, uint64_t offset);

// A present trailer whose payload lies wholly inside the image as well.
bool IsPackageComplete(uint64_t imageSize, uint64_t offset, const PackageTrailer& trailer);

struct LocatedTrailer {
    uint64_t offset;  // T, where the section data ends
    PackageTrailer trailer;
};

// The present trailer of a whole setup image (SectionDataEnd, then
// ReadPresentTrailer), or empty when there is none.
std::optional<LocatedTrailer> FindPackageTrailer(Bytes image);

std::array<uint8_t, kTrailerSize> EncodeTrailer(const PackageTrailer& trailer);

}  // namespace tirn::format
