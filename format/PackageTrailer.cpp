#include "format/PackageTrailer.h"

namespace tirn::format {
namespace {
constexpr uint64_t kNewHeaderOffsetField = 60;  // e_lfanew
constexpr uint64_t kNumberOfSectionsField = 6;  // from the PE signature
constexpr uint64_t kSizeOfOptionalHeaderField = 20;
constexpr uint64_t kSectionTableStart = 24;  // signature + file header
constexpr uint64_t kSectionEntrySize = 40;
constexpr uint64_t kSizeOfRawDataField = 16;
constexpr uint64_t kPointerToRawDataField = 20;
}  // namespace

std::optional<uint64_t> SectionDataEnd(Bytes image) {
    std::optional<uint32_t> peOffset = ReadLittleEndian32(image, kNewHeaderOffsetField);
    if (!peOffset) return std::nullopt;
    std::optional<uint16_t> sectionCount =
        ReadLittleEndian16(image, *peOffset + kNumberOfSectionsField);
    std::optional<uint16_t> optionalHeaderSize =
        ReadLittleEndian16(image, *peOffset + kSizeOfOptionalHeaderField);
    if (!sectionCount || !optionalHeaderSize) return std::nullopt;

    const uint64_t table = uint64_t{*peOffset} + kSectionTableStart + *optionalHeaderSize;
    if (!FitsIn(image, table, kSectionEntrySize * *sectionCount)) return std::nullopt;

    uint64_t end = 0;
    for (uint64_t i = 0; i < *sectionCount; ++i) {
        const uint8_t* entry = image.data() + table + i * kSectionEntrySize;
        uint64_t sectionEnd = uint64_t{LoadLittleEndian32(entry + kPointerToRawDataField)} +
                              LoadLittleEndian32(entry + kSizeOfRawDataField);
        if (sectionEnd > end) end = sectionEnd;
    }
    return end;
}

std::optional<PackageTrailer> ReadPresentTrailer(Bytes image, uint64_t offset) {
    if (!FitsIn(image, offset, kTrailerSize)) return std::nullopt;
    const uint8_t* p = image.data() + offset;
    PackageTrailer trailer{LoadLittleEndian32(p), LoadLittleEndian32(p + 4),
                           LoadLittleEndian32(p + 8), LoadLittleEndian32(p + 12)};
    if (trailer.magic != kTrailerMagic) return std::nullopt;
    return trailer;
}

std::optional<LocatedTrailer> FindPackageTrailer(Bytes image) {
    std::optional<uint64_t> offset = SectionDataEnd(image);
    if (!offset) return std::nullopt;
    std::optional<PackageTrailer> trailer = ReadPresentTrailer(image, *offset);
    if (!trailer) return std::nullopt;
    return LocatedTrailer{*offset, *trailer};
}

bool IsPackageComplete(uint64_t imageSize, uint64_t offset, const PackageTrailer& trailer) {
    return offset <= imageSize &&
           kTrailerSize + uint64_t{trailer.payloadSize} <= imageSize - offset;
}

std::array<uint8_t, kTrailerSize> EncodeTrailer(const PackageTrailer& trailer) {
    std::array<uint8_t, kTrailerSize> bytes{};
    StoreLittleEndian32(bytes.data(), trailer.magic);
    StoreLittleEndian32(bytes.data() + 4, trailer.definitionVersion);
    StoreLittleEndian32(bytes.data() + 8, trailer.payloadSize);
    StoreLittleEndian32(bytes.data() + 12, trailer.reserved);
    return bytes;
}

}  // namespace tirn::format
