// Reading the appended package from real PE files built by mingw: a probe
// program copied, given a package by the test, and run.
#include "package/SelfImageView.h"
#include "format/PackageTrailer.h"
#include "tests/unit/TestSupport.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

using namespace tirn::format;
using tirn::test::ExecutableDirectory;
using tirn::test::ReadWholeFile;
using tirn::test::ScratchDirectory;
using tirn::test::WriteWholeFile;

std::vector<uint8_t> Probe() {
    return ReadWholeFile(ExecutableDirectory() + L"PackageVersionProbe.exe");
}

std::vector<uint8_t> TrailerBytes(uint32_t magic, uint32_t version, uint32_t payloadSize,
                                  uint32_t reserved) {
    auto bytes = EncodeTrailer(PackageTrailer{magic, version, payloadSize, reserved});
    return {bytes.begin(), bytes.end()};
}

DWORD RunProbeWith(const std::vector<uint8_t>& appended) {
    ScratchDirectory dir;
    std::vector<uint8_t> image = Probe();
    image.insert(image.end(), appended.begin(), appended.end());
    WriteWholeFile(dir / L"setup.exe", image);
    return tirn::test::RunAndWait(L"\"" + (dir / L"setup.exe") + L"\"");
}

TEST(ReadPackageVersion, FromTheRunningExecutable) {
    auto concat = [](std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    const std::vector<uint8_t> payload(100, 0x5A);
    const std::vector<uint8_t> trailer = TrailerBytes(kTrailerMagic, 5, 100, 0);
    struct Case {
        const char* name;
        std::vector<uint8_t> appended;
        DWORD expected;
    };
    const Case cases[] = {
        {"nothing appended", {}, 0},
        {"complete package", concat(trailer, payload), 5},
        {"bytes after the payload", concat(concat(trailer, payload), std::vector<uint8_t>(77)), 5},
        {"payload cut short", concat(trailer, std::vector<uint8_t>(10)), 5},
        {"no payload at all", trailer, 5},
        {"any reserved value", concat(TrailerBytes(kTrailerMagic, 5, 100, 0xFFFFFFFF), payload), 5},
        {"version 0 reads as no package", concat(TrailerBytes(kTrailerMagic, 0, 100, 0), payload),
         0},
        {"largest version", concat(TrailerBytes(kTrailerMagic, 0x7FFFFFFF, 0, 0), {}), 0x7FFFFFFF},
        {"trailer cut to 15 bytes", std::vector<uint8_t>(trailer.begin(), trailer.end() - 1), 0},
        {"wrong magic", concat(TrailerBytes(0x53524955, 5, 100, 0), payload), 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(RunProbeWith(c.appended), c.expected);
    }
}

// Made at test time by make-signed-setup.sh: the certificate table of the
// signature lies after the payload.
TEST(ReadPackageVersion, SignedSetupKeepsItsPackage) {
    std::wstring signedSetup = ExecutableDirectory() + L"signed-setup.exe";
    ASSERT_NE(::GetFileAttributesW(signedSetup.c_str()), INVALID_FILE_ATTRIBUTES);
    std::vector<uint8_t> image = ReadWholeFile(signedSetup);
    // The security directory: data directory 4, whose table starts 96 bytes
    // into a PE32 optional header and 112 into a PE32+ one.
    uint32_t pe = LoadLittleEndian32(&image[60]);
    const bool pe32Plus = image[pe + 24] == 0x0B && image[pe + 25] == 0x02;
    uint32_t certificates = LoadLittleEndian32(&image[pe + 24 + (pe32Plus ? 112 : 96) + 4 * 8]);
    ASSERT_GT(certificates, 0u);
    std::optional<uint64_t> t = SectionDataEnd(image);
    ASSERT_TRUE(t);
    EXPECT_GE(certificates, *t + 16 + 64);

    ScratchDirectory dir;
    WriteWholeFile(dir / L"signed.exe", image);
    EXPECT_EQ(tirn::test::RunAndWait(L"\"" + (dir / L"signed.exe") + L"\""), 9u);
}

// The section table of a real PE rewritten in place: the scan must not depend
// on the table's order, and no sections means no package.
TEST(SectionDataEnd, RealImageWithItsSectionTableReorderedOrEmptied) {
    std::vector<uint8_t> image = Probe();
    const auto trailer = TrailerBytes(kTrailerMagic, 3, 0, 0);
    image.insert(image.end(), trailer.begin(), trailer.end());
    const uint64_t expected = image.size() - 16;

    uint32_t pe = LoadLittleEndian32(&image[60]);
    uint16_t count = static_cast<uint16_t>(image[pe + 6] | image[pe + 7] << 8);
    uint16_t optionalSize = static_cast<uint16_t>(image[pe + 20] | image[pe + 21] << 8);
    ASSERT_GE(count, 2);
    uint8_t* table = &image[pe + 24 + optionalSize];

    std::vector<uint8_t> reversed = image;
    uint8_t* reversedTable = &reversed[pe + 24 + optionalSize];
    for (uint16_t i = 0; i < count; ++i) {
        std::memcpy(reversedTable + 40 * i, table + 40 * (count - 1 - i), 40);
    }
    std::vector<uint8_t> noSections = image;
    noSections[pe + 6] = noSections[pe + 7] = 0;

    ScratchDirectory dir;
    struct Case {
        const char* name;
        const std::vector<uint8_t>& bytes;
        bool present;
    };
    for (const Case& c : {Case{"as linked", image, true}, Case{"table reversed", reversed, true},
                          Case{"no sections", noSections, false}}) {
        SCOPED_TRACE(c.name);
        WriteWholeFile(dir / L"image.exe", c.bytes);
        SelfImageView view;
        ASSERT_TRUE(view.OpenFile((dir / L"image.exe").c_str()));
        std::optional<uint64_t> t = SectionDataEnd(view.Bytes());
        ASSERT_TRUE(t);
        EXPECT_EQ(ReadPresentTrailer(view.Bytes(), *t).has_value(), c.present);
        if (c.present) {
            EXPECT_EQ(*t, expected);
        }
    }
}

TEST(SelfImageView, OpensReadOnlySharedForReadingAndReleasesOnce) {
    ScratchDirectory dir;
    const std::wstring path = dir / L"file.bin";
    WriteWholeFile(path, std::vector<uint8_t>(5000, 0x11));

    SelfImageView view;
    ASSERT_TRUE(view.OpenFile(path.c_str()));
    EXPECT_EQ(view.Size(), 5000u);
    EXPECT_EQ(view.Data()[4999], 0x11);

    // Others may read while the view is open, but not write.
    HANDLE reader = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(reader, INVALID_HANDLE_VALUE);
    if (reader != INVALID_HANDLE_VALUE) ::CloseHandle(reader);
    HANDLE writer = ::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(writer, INVALID_HANDLE_VALUE);

    view.Release();
    view.Release();
    EXPECT_EQ(view.Data(), nullptr);
    EXPECT_TRUE(view.Bytes().empty());
    writer = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(writer, INVALID_HANDLE_VALUE);
    if (writer != INVALID_HANDLE_VALUE) ::CloseHandle(writer);
}

TEST(SelfImageView, FailuresCarryThePlatformError) {
    ScratchDirectory dir;
    SelfImageView view;
    EXPECT_FALSE(view.OpenFile((dir / L"missing.exe").c_str()));
    EXPECT_EQ(view.LastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

    tirn::test::CreateEmptyFile(dir / L"empty.exe");  // nothing to map
    EXPECT_FALSE(view.OpenFile((dir / L"empty.exe").c_str()));
    EXPECT_NE(view.LastError(), 0u);
    EXPECT_EQ(view.Data(), nullptr);

    EXPECT_TRUE(view.Open());  // the running test itself
    EXPECT_GT(view.Size(), 0u);
}

}  // namespace

namespace {

TEST(SelfImageView, WindowsMapOnlyThePartAskedForCutAtTheEnd) {
    ScratchDirectory dir;
    const std::wstring path = dir / L"file.bin";
    std::vector<uint8_t> bytes(300000);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7);
    WriteWholeFile(path, bytes);

    SelfImageView view;
    ASSERT_TRUE(view.OpenFile(path.c_str(), SelfImageView::Extent::OnDemand));
    EXPECT_TRUE(view.Bytes().empty());
    EXPECT_EQ(view.Size(), 300000u);
    struct Case {
        uint64_t offset;
        uint32_t length;
        uint32_t expected;
    };
    for (const Case& c : {Case{0, 16, 16}, Case{70001, 16, 16}, Case{299990, 16, 10},
                          Case{300000, 16, 0}, Case{0xFFFFFFFF0ull, 16, 0}, Case{5, 0, 0}}) {
        SCOPED_TRACE(c.offset);
        ASSERT_TRUE(view.MapWindow(c.offset, c.length));
        ASSERT_EQ(view.Bytes().size(), c.expected);
        for (uint32_t i = 0; i < c.expected; ++i) {
            ASSERT_EQ(view.Bytes()[i], bytes[c.offset + i]);
        }
    }
    view.Release();
    EXPECT_TRUE(view.Bytes().empty());
}

}  // namespace
