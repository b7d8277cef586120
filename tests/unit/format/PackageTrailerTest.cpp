// The section-end scan and the trailer checks over crafted PE headers.
#include "format/PackageTrailer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

using namespace tirn::format;

namespace {

// A minimal PE image: DOS header with e_lfanew, file header, an optional
// header of the given size, then the section table. Section data is not
// needed: only the table is read.
struct Section {
    uint32_t pointerToRawData;
    uint32_t sizeOfRawData;
};

std::vector<uint8_t> MakeImage(const std::vector<Section>& sections, uint32_t peOffset = 0x80,
                               uint16_t optionalHeaderSize = 0xE0) {
    const size_t table = peOffset + 24 + optionalHeaderSize;
    std::vector<uint8_t> image(table + 40 * sections.size());
    image[0] = 'M';
    image[1] = 'Z';
    StoreLittleEndian32(&image[60], peOffset);
    std::memcpy(&image[peOffset], "PE\0\0", 4);
    image[peOffset + 6] = static_cast<uint8_t>(sections.size());
    image[peOffset + 7] = static_cast<uint8_t>(sections.size() >> 8);
    image[peOffset + 20] = static_cast<uint8_t>(optionalHeaderSize);
    image[peOffset + 21] = static_cast<uint8_t>(optionalHeaderSize >> 8);
    for (size_t i = 0; i < sections.size(); ++i) {
        StoreLittleEndian32(&image[table + 40 * i + 16], sections[i].sizeOfRawData);
        StoreLittleEndian32(&image[table + 40 * i + 20], sections[i].pointerToRawData);
    }
    return image;
}

void Append(std::vector<uint8_t>& image, const PackageTrailer& trailer, uint32_t payloadBytes) {
    auto bytes = EncodeTrailer(trailer);
    image.insert(image.end(), bytes.begin(), bytes.end());
    image.insert(image.end(), payloadBytes, 0xAB);
}

// Pads the image with section data up to the end its table names.
void PadTo(std::vector<uint8_t>& image, size_t end) {
    if (image.size() < end) image.resize(end, 0xCC);
}

TEST(SectionDataEnd, LargestSectionEndWhateverTheTableOrder) {
    struct Case {
        const char* name;
        std::vector<Section> sections;
        uint64_t expected;
    };
    const Case cases[] = {
        {"in file order", {{0x400, 0x200}, {0x600, 0x400}, {0xA00, 0x200}}, 0xC00},
        {"largest end listed first", {{0xA00, 0x200}, {0x400, 0x200}, {0x600, 0x400}}, 0xC00},
        {"empty section last", {{0x400, 0x800}, {0xC00, 0}}, 0xC00},
        {"no sections", {}, 0},
        // The sum is taken in 64 bits: a wrapping pair gives an end past the
        // file, never a small offset inside it.
        {"sum past 4 GiB", {{0x400, 0x200}, {0xFFFFF000, 0x2000}}, 0x100001000ull},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> image = MakeImage(c.sections);
        std::optional<uint64_t> end = SectionDataEnd(image);
        ASSERT_TRUE(end.has_value());
        EXPECT_EQ(*end, c.expected);
    }
}

TEST(SectionDataEnd, HeadersPointingOutsideTheImageAreAFailure) {
    std::vector<uint8_t> good = MakeImage({{0x400, 0x200}, {0x600, 0x200}});
    struct Case {
        const char* name;
        std::vector<uint8_t> image;
    };
    auto withPeOffset = [&](uint32_t offset) {
        std::vector<uint8_t> image = good;
        StoreLittleEndian32(&image[60], offset);
        return image;
    };
    auto withSectionCount = [&](uint16_t count) {
        std::vector<uint8_t> image = good;
        image[0x80 + 6] = static_cast<uint8_t>(count);
        image[0x80 + 7] = static_cast<uint8_t>(count >> 8);
        return image;
    };
    auto withOptionalHeaderSize = [&](uint16_t size) {
        std::vector<uint8_t> image = good;
        image[0x80 + 20] = static_cast<uint8_t>(size);
        image[0x80 + 21] = static_cast<uint8_t>(size >> 8);
        return image;
    };
    const Case cases[] = {
        {"empty file", {}},
        {"shorter than the DOS header", std::vector<uint8_t>(good.begin(), good.begin() + 63)},
        {"e_lfanew past the end", withPeOffset(static_cast<uint32_t>(good.size()))},
        {"e_lfanew near 4 GiB", withPeOffset(0xFFFFFFF0u)},
        {"file header cut", withPeOffset(static_cast<uint32_t>(good.size()) - 10)},
        {"one section more than the table holds", withSectionCount(3)},
        {"65535 sections", withSectionCount(0xFFFF)},
        {"optional header past the end", withOptionalHeaderSize(0xFFFF)},
        {"last entry cut by one byte", std::vector<uint8_t>(good.begin(), good.end() - 1)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(SectionDataEnd(c.image).has_value());
    }
}

TEST(PackageTrailer, PresenceAndCompleteness) {
    std::vector<uint8_t> base = MakeImage({{0x400, 0x200}});
    PadTo(base, 0x600);
    PackageTrailer trailer{kTrailerMagic, 7, 100, 0xDEADBEEF};

    std::vector<uint8_t> complete = base;
    Append(complete, trailer, 100);
    complete.insert(complete.end(), 300, 0);  // e.g. a certificate table

    ASSERT_EQ(SectionDataEnd(complete), 0x600u);
    std::optional<PackageTrailer> read = ReadPresentTrailer(complete, 0x600);
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(read->definitionVersion, 7u);
    EXPECT_EQ(read->payloadSize, 100u);
    EXPECT_EQ(read->reserved, 0xDEADBEEFu);
    EXPECT_TRUE(IsPackageComplete(complete.size(), 0x600, *read));

    // Payload exactly to the end of the file; then one byte short.
    EXPECT_TRUE(IsPackageComplete(0x600 + 16 + 100, 0x600, *read));
    EXPECT_FALSE(IsPackageComplete(0x600 + 16 + 99, 0x600, *read));
    // A payload size near 2^32 never wraps into "complete".
    PackageTrailer huge = trailer;
    huge.payloadSize = 0xFFFFFFFF;
    EXPECT_FALSE(IsPackageComplete(complete.size(), 0x600, huge));
    EXPECT_FALSE(IsPackageComplete(0x500, 0x600, trailer));
}

TEST(PackageTrailer, TrailerCutAtEachByteIsAbsent) {
    std::vector<uint8_t> image = MakeImage({{0x400, 0x200}});
    PadTo(image, 0x600);
    Append(image, PackageTrailer{kTrailerMagic, 3, 0, 0}, 0);
    for (size_t keep = 0; keep < kTrailerSize; ++keep) {
        SCOPED_TRACE(keep);
        std::vector<uint8_t> cut(image.begin(), image.begin() + 0x600 + keep);
        EXPECT_FALSE(ReadPresentTrailer(cut, 0x600).has_value());
    }
    EXPECT_TRUE(ReadPresentTrailer(image, 0x600).has_value());
}

TEST(PackageTrailer, MagicIsTheFourBytesTIRS) {
    std::vector<uint8_t> image(16);
    std::memcpy(image.data(), "TIRS", 4);
    EXPECT_TRUE(ReadPresentTrailer(image, 0).has_value());
    for (const char* wrong : {"SRIT", "TIRs", "TIR\0", "XIRS"}) {
        std::memcpy(image.data(), wrong, 4);
        EXPECT_FALSE(ReadPresentTrailer(image, 0).has_value()) << wrong;
    }
    EXPECT_FALSE(ReadPresentTrailer(image, 0xFFFFFFFFFFFFFFF8ull).has_value());
}

TEST(PackageTrailer, EncodeWritesLittleEndianFieldsInOrder) {
    auto bytes = EncodeTrailer(PackageTrailer{kTrailerMagic, 0x01020304, 0xA0B0C0D0, 0});
    const uint8_t expected[16] = {'T',  'I',  'R',  'S',  4, 3, 2, 1,
                                  0xD0, 0xC0, 0xB0, 0xA0, 0, 0, 0, 0};
    EXPECT_EQ(0, std::memcmp(bytes.data(), expected, 16));
}

}  // namespace
