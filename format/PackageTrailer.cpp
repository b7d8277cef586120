#include "format/PackageTrailer.h"

#include "format/PeImage.h"

namespace tirn::format {

std::optional<uint64_t> SectionDataEnd(Bytes image) {
    const std::optional<PeImage> pe = ReadPeImage(image);
    if (!pe) return std::nullopt;
    return pe->sectionDataEnd;
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
