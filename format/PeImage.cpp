#include "format/PeImage.h"

namespace tirn::format {
namespace {
constexpr uint64_t kNewHeaderOffsetField = 60;  // e_lfanew
constexpr uint32_t kPeSignature = 0x00004550;   // "PE\0\0"
// From the PE signature.
constexpr uint64_t kMachineField = 4;
constexpr uint64_t kNumberOfSectionsField = 6;
constexpr uint64_t kSizeOfOptionalHeaderField = 20;
constexpr uint64_t kOptionalHeaderStart = 24;  // signature + file header
// From the optional header's start.
constexpr uint64_t kCheckSumField = 64;
constexpr uint64_t kDirectoryCountFieldPe32 = 92;
constexpr uint64_t kDirectoryCountFieldPe32Plus = 108;
constexpr uint32_t kCertificateDirectory = 4;
constexpr uint64_t kDirectoryEntrySize = 8;
constexpr uint16_t kPe32Magic = 0x010B;
constexpr uint16_t kPe32PlusMagic = 0x020B;
// A section table entry.
constexpr uint64_t kSectionEntrySize = 40;
constexpr uint64_t kSizeOfRawDataField = 16;
constexpr uint64_t kPointerToRawDataField = 20;

// The checksum field and the certificate-table entry, when the optional
// header is one of the two kinds and is long enough to hold them.
void ReadSignatureFields(Bytes headers, uint64_t optionalHeader, uint16_t optionalHeaderSize,
                         PeImage& image) {
    if (!image.optionalHeaderMagic) return;
    const uint16_t magic = *image.optionalHeaderMagic;
    if (magic != kPe32Magic && magic != kPe32PlusMagic) return;
    const uint64_t countField =
        magic == kPe32Magic ? kDirectoryCountFieldPe32 : kDirectoryCountFieldPe32Plus;
    if (kCheckSumField + 4 > optionalHeaderSize ||
        !FitsIn(headers, optionalHeader + kCheckSumField, 4)) {
        return;
    }
    image.checksumField = optionalHeader + kCheckSumField;
    const std::optional<uint32_t> directories =
        ReadLittleEndian32(headers, optionalHeader + countField);
    const uint64_t entry = countField + 4 + kCertificateDirectory * kDirectoryEntrySize;
    if (!directories || *directories <= kCertificateDirectory ||
        entry + kDirectoryEntrySize > optionalHeaderSize ||
        !FitsIn(headers, optionalHeader + entry, kDirectoryEntrySize)) {
        return;
    }
    image.certificateEntryField = optionalHeader + entry;
    image.certificateTableOffset = LoadLittleEndian32(headers.data() + optionalHeader + entry);
    image.certificateTableSize = LoadLittleEndian32(headers.data() + optionalHeader + entry + 4);
}

}  // namespace

std::optional<PeImage> ReadPeImage(Bytes headers) {
    const std::optional<uint32_t> peOffset = ReadLittleEndian32(headers, kNewHeaderOffsetField);
    if (!peOffset) return std::nullopt;
    PeImage image;
    image.headerOffset = *peOffset;
    const std::optional<uint16_t> machine =
        ReadLittleEndian16(headers, image.headerOffset + kMachineField);
    const std::optional<uint16_t> sectionCount =
        ReadLittleEndian16(headers, image.headerOffset + kNumberOfSectionsField);
    const std::optional<uint16_t> optionalHeaderSize =
        ReadLittleEndian16(headers, image.headerOffset + kSizeOfOptionalHeaderField);
    if (!machine || !sectionCount || !optionalHeaderSize) return std::nullopt;
    image.machine = *machine;
    image.sectionCount = *sectionCount;
    image.hasSignatures = headers[0] == 'M' && headers[1] == 'Z' &&
                          ReadLittleEndian32(headers, image.headerOffset) == kPeSignature;

    const uint64_t optionalHeader = image.headerOffset + kOptionalHeaderStart;
    image.optionalHeaderMagic = ReadLittleEndian16(headers, optionalHeader);
    const uint64_t table = optionalHeader + *optionalHeaderSize;
    if (!FitsIn(headers, table, kSectionEntrySize * image.sectionCount)) return std::nullopt;
    for (uint64_t i = 0; i < image.sectionCount; ++i) {
        const uint8_t* entry = headers.data() + table + i * kSectionEntrySize;
        const uint64_t end = uint64_t{LoadLittleEndian32(entry + kPointerToRawDataField)} +
                             LoadLittleEndian32(entry + kSizeOfRawDataField);
        if (end > image.sectionDataEnd) image.sectionDataEnd = end;
    }
    ReadSignatureFields(headers, optionalHeader, *optionalHeaderSize, image);
    return image;
}

std::optional<std::vector<ByteRange>> AuthenticodeRanges(const PeImage& image, uint64_t fileSize) {
    if (!image.checksumField || !image.certificateEntryField) return std::nullopt;
    const uint64_t checksum = *image.checksumField;
    const uint64_t entry = *image.certificateEntryField;
    const uint64_t end = image.IsSigned() ? image.certificateTableOffset : fileSize;
    if (entry + kDirectoryEntrySize > end || end > fileSize ||
        uint64_t{image.certificateTableOffset} + image.certificateTableSize > fileSize) {
        return std::nullopt;
    }
    return std::vector<ByteRange>{
        {0, checksum},
        {checksum + 4, entry - (checksum + 4)},
        {entry + kDirectoryEntrySize, end - (entry + kDirectoryEntrySize)}};
}

}  // namespace tirn::format
