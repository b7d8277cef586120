// The one PE reader over crafted headers: where the signature's fields lie
// in either kind of optional header, and what an Authenticode digest covers.
#include "format/PeImage.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

using namespace tirn::format;

namespace {

constexpr uint32_t kPeOffset = 0x80;
constexpr uint64_t kOptionalHeader = kPeOffset + 24;

// DOS header, "PE\0\0", a file header with one section, and an optional
// header of the given kind and size with directoryCount data directories;
// the certificate-table entry set to (tableOffset, tableSize).
std::vector<uint8_t> Image(uint16_t magic, uint16_t optionalHeaderSize, uint32_t directoryCount,
                           uint32_t tableOffset = 0, uint32_t tableSize = 0) {
    std::vector<uint8_t> image(kOptionalHeader + optionalHeaderSize + 40);
    image[0] = 'M';
    image[1] = 'Z';
    StoreLittleEndian32(&image[60], kPeOffset);
    std::memcpy(&image[kPeOffset], "PE\0\0", 4);
    StoreLittleEndian16(&image[kPeOffset + 6], 1);
    StoreLittleEndian16(&image[kPeOffset + 20], optionalHeaderSize);
    StoreLittleEndian16(&image[kOptionalHeader], magic);
    const uint64_t count = magic == 0x20B ? 108 : 92;
    if (count + 4 <= optionalHeaderSize) {
        StoreLittleEndian32(&image[kOptionalHeader + count], directoryCount);
    }
    const uint64_t entry = count + 4 + 4 * 8;
    if (entry + 8 <= optionalHeaderSize) {
        StoreLittleEndian32(&image[kOptionalHeader + entry], tableOffset);
        StoreLittleEndian32(&image[kOptionalHeader + entry + 4], tableSize);
    }
    const uint64_t section = kOptionalHeader + optionalHeaderSize;
    StoreLittleEndian32(&image[section + 16], 0x200);  // SizeOfRawData
    StoreLittleEndian32(&image[section + 20], 0x400);  // PointerToRawData
    return image;
}

TEST(ReadPeImage, FindsTheSignatureFieldsInEitherKind) {
    struct Case {
        const char* name;
        std::vector<uint8_t> image;
        std::optional<uint64_t> checksum;
        std::optional<uint64_t> entry;
        bool isSigned;
    };
    const Case cases[] = {
        {"PE32, 16 directories", Image(0x10B, 0xE0, 16, 0x800, 0x100), kOptionalHeader + 64,
         kOptionalHeader + 128, true},
        {"PE32+, 16 directories", Image(0x20B, 0xF0, 16, 0x800, 0x100), kOptionalHeader + 64,
         kOptionalHeader + 144, true},
        {"PE32+, not signed", Image(0x20B, 0xF0, 16), kOptionalHeader + 64, kOptionalHeader + 144,
         false},
        {"four directories: none for certificates", Image(0x10B, 0xE0, 4, 0x800, 0x100),
         kOptionalHeader + 64, std::nullopt, false},
        {"optional header ends before the entry", Image(0x10B, 0x80, 16), kOptionalHeader + 64,
         std::nullopt, false},
        {"optional header ends before the checksum", Image(0x10B, 0x40, 16), std::nullopt,
         std::nullopt, false},
        {"another magic", Image(0x107, 0xE0, 16, 0x800, 0x100), std::nullopt, std::nullopt, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::optional<PeImage> image = ReadPeImage(c.image);
        ASSERT_TRUE(image.has_value());
        EXPECT_TRUE(image->hasSignatures);
        EXPECT_EQ(image->sectionDataEnd, 0x600u);
        EXPECT_EQ(image->checksumField, c.checksum);
        EXPECT_EQ(image->certificateEntryField, c.entry);
        EXPECT_EQ(image->IsSigned(), c.isSigned);
    }
}

TEST(ReadPeImage, BytesLaidOutLikeAPeWithoutItsSignaturesAreSaidSo) {
    std::vector<uint8_t> image = Image(0x10B, 0xE0, 16);
    image[kPeOffset] = 'X';
    const std::optional<PeImage> read = ReadPeImage(image);
    ASSERT_TRUE(read.has_value());
    EXPECT_FALSE(read->hasSignatures);
}

TEST(AuthenticodeRanges, EverythingButTheChecksumTheEntryAndTheTable) {
    const uint64_t entry = kOptionalHeader + 144;
    const uint64_t checksum = kOptionalHeader + 64;
    const std::optional<PeImage> signedImage = ReadPeImage(Image(0x20B, 0xF0, 16, 0x900, 0x100));
    ASSERT_TRUE(signedImage.has_value());
    const auto ranges = AuthenticodeRanges(*signedImage, 0xA00);
    ASSERT_TRUE(ranges.has_value());
    ASSERT_EQ(ranges->size(), 3u);
    EXPECT_EQ((*ranges)[0].offset, 0u);
    EXPECT_EQ((*ranges)[0].length, checksum);
    EXPECT_EQ((*ranges)[1].offset, checksum + 4);
    EXPECT_EQ((*ranges)[1].length, entry - checksum - 4);
    EXPECT_EQ((*ranges)[2].offset, entry + 8);
    EXPECT_EQ((*ranges)[2].offset + (*ranges)[2].length, 0x900u);

    const std::optional<PeImage> unsignedImage = ReadPeImage(Image(0x20B, 0xF0, 16));
    const auto whole = AuthenticodeRanges(*unsignedImage, 0xA00);
    ASSERT_TRUE(whole.has_value());
    EXPECT_EQ(whole->back().offset + whole->back().length, 0xA00u);

    // A table past the file's end, or one that starts inside the headers.
    EXPECT_FALSE(AuthenticodeRanges(*signedImage, 0x9FF).has_value());
    const std::optional<PeImage> inside = ReadPeImage(Image(0x20B, 0xF0, 16, 0x10, 0x100));
    EXPECT_FALSE(AuthenticodeRanges(*inside, 0xA00).has_value());
}

}  // namespace
