// Which launcher build a PE image is, over crafted headers.
#include "format/LauncherImage.h"

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <vector>

using namespace tirn::format;

namespace {

// DOS header, "PE\0\0", a file header with the machine, and the first bytes
// of an optional header with the magic.
std::vector<uint8_t> Headers(uint16_t machine, uint16_t magic) {
    constexpr uint32_t peOffset = 0x80;
    std::vector<uint8_t> image(peOffset + 24 + 2);
    image[0] = 'M';
    image[1] = 'Z';
    StoreLittleEndian32(&image[60], peOffset);
    std::memcpy(&image[peOffset], "PE\0\0", 4);
    image[peOffset + 4] = static_cast<uint8_t>(machine);
    image[peOffset + 5] = static_cast<uint8_t>(machine >> 8);
    image[peOffset + 24] = static_cast<uint8_t>(magic);
    image[peOffset + 25] = static_cast<uint8_t>(magic >> 8);
    return image;
}

TEST(ReadLauncherKind, TakesTheTwoBuildsAndNothingElse) {
    struct Case {
        const char* name;
        std::vector<uint8_t> image;
        std::optional<LauncherKind> expected;
    };
    std::vector<uint8_t> noMz = Headers(0x014C, 0x010B);
    noMz[0] = 'N';
    std::vector<uint8_t> noPe = Headers(0x014C, 0x010B);
    noPe[0x80 + 2] = 1;
    std::vector<uint8_t> cutMagic = Headers(0x8664, 0x020B);
    cutMagic.pop_back();
    std::vector<uint8_t> farPe = Headers(0x014C, 0x010B);
    StoreLittleEndian32(&farPe[60], 0xFFFFFFF0u);
    const Case cases[] = {
        {"PE32 i386", Headers(0x014C, 0x010B), LauncherKind::Pe32I386},
        {"PE32+ AMD64", Headers(0x8664, 0x020B), LauncherKind::Pe32PlusAmd64},
        {"ARM64", Headers(0xAA64, 0x020B), std::nullopt},
        {"ARM (Thumb-2)", Headers(0x01C4, 0x010B), std::nullopt},
        {"i386 machine with a PE32+ header", Headers(0x014C, 0x020B), std::nullopt},
        {"AMD64 machine with a PE32 header", Headers(0x8664, 0x010B), std::nullopt},
        {"no MZ", noMz, std::nullopt},
        {"no PE signature", noPe, std::nullopt},
        {"magic cut off", cutMagic, std::nullopt},
        {"e_lfanew past the end", farPe, std::nullopt},
        {"empty", {}, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ReadLauncherKind(c.image), c.expected);
    }
    EXPECT_STREQ(LauncherKindName(LauncherKind::Pe32I386), "PE32 i386");
    EXPECT_STREQ(LauncherKindName(LauncherKind::Pe32PlusAmd64), "PE32+ AMD64");
}

}  // namespace
