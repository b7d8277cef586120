// The cabinet writer and reader, natively: what the writer makes is read back
// by our reader and decoded byte for byte by libmspack (which checks every
// block's checksum), whatever the size, codec and number of threads.
#include "cabinet/CabinetReader.h"
#include "tests/unit/cabinet/CabinetTestSupport.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace tirn::cabinet;
using namespace tirn::cabinet::test;

std::vector<uint8_t> Write(const std::vector<uint8_t>& input, FolderEncoder& encoder,
                           const std::string& name = "TirnHomeSetup.exe") {
    std::vector<uint8_t> cabinet = WriteCabinet(input, encoder, name);
    EXPECT_FALSE(cabinet.empty());
    return cabinet;
}

std::vector<uint8_t> Mixed(size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) {
        // Stretches of text-like repetition between stretches of noise.
        bytes[i] = (i / 5000) % 2 ? static_cast<uint8_t>(random()) : "Tirn Home "[i % 10];
    }
    return bytes;
}

TEST(CabinetWriter, EveryCodecRoundTripsThroughLibmspackAndOurReader) {
    struct Codec {
        const char* name;
        std::function<std::unique_ptr<FolderEncoder>()> make;
        const char* compression;
    };
    const Codec codecs[] = {
        {"none", [] { return MakeStoredEncoder(); }, "none"},
        {"MSZIP, one thread", [] { return MakeMszipEncoder(1); }, "MSZIP"},
        {"MSZIP, three threads", [] { return MakeMszipEncoder(3); }, "MSZIP"},
    };
    for (size_t size : {size_t{0}, size_t{1}, size_t{32767}, size_t{32768}, size_t{32769},
                        size_t{64 * 32768 + 5}, size_t{3000000}}) {
        const std::vector<uint8_t> input = Mixed(size, static_cast<unsigned>(size));
        for (const Codec& codec : codecs) {
            SCOPED_TRACE(std::string(codec.name) + ", " + std::to_string(size) + " bytes");
            std::unique_ptr<FolderEncoder> encoder = codec.make();
            const std::vector<uint8_t> cabinet = Write(input, *encoder);
            EXPECT_EQ(DecodeWithLibmspack(cabinet), input);

            const CabinetDirectory directory = ReadCabinetDirectory(cabinet);
            EXPECT_EQ(directory.cabinetSize, cabinet.size());
            ASSERT_EQ(directory.folders.size(), 1u);
            EXPECT_EQ(CompressionName(directory.folders[0].compression), codec.compression);
            EXPECT_EQ(directory.folders[0].blockCount, (size + 32767) / 32768);
            ASSERT_EQ(directory.files.size(), 1u);
            EXPECT_EQ(directory.files[0].name, "TirnHomeSetup.exe");
            EXPECT_EQ(directory.files[0].size, size);
            EXPECT_EQ(DosDateTimeText(directory.files[0].dosDate, directory.files[0].dosTime),
                      "2026-06-10 12:34:56");
        }
    }
}

// The same bytes whatever the number of threads: each block depends only
// on its frame and the frame before.
TEST(CabinetWriter, MszipIsTheSameOnAnyNumberOfThreads) {
    const std::vector<uint8_t> input = Mixed(5000000, 7);
    const std::vector<uint8_t> one = Write(input, *MakeMszipEncoder(1));
    for (unsigned threads : {2u, 5u}) {
        EXPECT_EQ(Write(input, *MakeMszipEncoder(threads)), one) << threads;
    }
    EXPECT_LT(one.size(), input.size() * 6 / 10);
}

TEST(CabinetWriter, NamesAreStoredAsUtf8AndFlaggedSo) {
    const std::string vietnamese = "C\xc3\xa0i \xc4\x91\xe1\xba\xb7t.exe";  // "Cài đặt.exe"
    for (const std::string& name : {std::string("Setup.exe"), vietnamese}) {
        const std::vector<uint8_t> cabinet = Write({1, 2, 3}, *MakeStoredEncoder(), name);
        const CabinetDirectory directory = ReadCabinetDirectory(cabinet);
        EXPECT_EQ(directory.files[0].name, name);
        EXPECT_EQ((directory.files[0].attributes & kAttributeNameIsUtf8) != 0, name == vietnamese);
    }
}

TEST(CabinetWriter, WhatTheFormatCannotHoldIsRefused) {
    struct Case {
        const char* name;
        StoredFile file;
    };
    const Case cases[] = {
        {"empty name", {"", 1}},
        {"name of 256 bytes", {std::string(256, 'a'), 1}},
        {"directory part", {"dir/a.exe", 1}},
        {"one byte more than a folder holds", {"a.exe", kLargestStoredFile + 1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MemorySink sink;
        auto encoder = MakeStoredEncoder();
        auto never = [](uint8_t*, size_t) -> size_t {
            ADD_FAILURE() << "read before the checks";
            return 0;
        };
        EXPECT_THROW(WriteSingleFileCabinet(c.file, never, *encoder, sink), CabinetLimitError);
        EXPECT_TRUE(sink.data.empty());
    }
    MemorySink sink;
    auto encoder = MakeStoredEncoder();
    auto shortInput = [](uint8_t*, size_t) -> size_t { return 0; };
    EXPECT_THROW(WriteSingleFileCabinet({"a.exe", 10}, shortInput, *encoder, sink),
                 CabinetLimitError);
}

TEST(DosDateTime, ClampedToTheFormatsYears) {
    struct Case {
        int64_t seconds;
        const char* text;
    };
    const Case cases[] = {
        {0, "1980-01-01 00:00:00"},          {315532800, "1980-01-01 00:00:00"},
        {951782399, "2000-02-28 23:59:58"},  // two-second steps, rounded down
        {1709164800, "2024-02-29 00:00:00"}, {4354819199, "2107-12-31 23:59:58"},
        {9999999999, "2107-12-31 23:59:58"},
    };
    for (const Case& c : cases) {
        uint16_t date, time;
        DosDateTime(c.seconds, date, time);
        EXPECT_EQ(DosDateTimeText(date, time), c.text) << c.seconds;
    }
}

TEST(CabinetReader, ACutDirectoryIsRefusedAtEveryLength) {
    const std::vector<uint8_t> cabinet = Write({1, 2, 3}, *MakeStoredEncoder());
    const size_t directoryEnd = kHeaderSize + kFolderEntrySize + kFileEntrySize + 18;
    for (size_t length = 0; length < directoryEnd; ++length) {
        SCOPED_TRACE(length);
        try {
            ReadCabinetDirectory({cabinet.data(), length});
            ADD_FAILURE() << "accepted";
        } catch (const CabinetFormatError& error) {
            EXPECT_TRUE(error.cut) << error.what();
        }
    }
    EXPECT_NO_THROW(ReadCabinetDirectory({cabinet.data(), directoryEnd}));
    std::vector<uint8_t> other = cabinet;
    other[25] = 2;  // version 2.3
    EXPECT_THROW(ReadCabinetDirectory(other), CabinetFormatError);
}

}  // namespace
