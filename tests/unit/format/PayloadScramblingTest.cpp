#include "format/PayloadScrambling.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

using namespace tirn::format;

namespace {

// Worked out by hand from the rules, not by running either direction, so an
// error made the same way in both directions is still caught.
TEST(DescrambleBlock, KnownAnswers) {
    struct Case {
        const char* name;
        std::vector<uint8_t> input;  // leading bytes; the rest of the block is zero
        uint32_t length;
        std::vector<uint8_t> expected;
    };
    const Case cases[] = {
        // Full block: key starts at 0xB7 (40960 mod 256 = 0).
        {"full block",
         {0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0x70, 0x80},
         40960,
         {0xA7, 0x68, 0xCF, 0x10, 0xEB, 0xA4, 0x8F, 0x02}},
        // Short block of 5: key starts at 5 XOR 0xB7 = 0xB2.
        {"five bytes", {0x10, 0x20, 0x30, 0x40, 0x50}, 5, {0xA2, 0x6D, 0xCF, 0x02, 0xE6}},
        // The 1-byte tail of a 40961-byte payload: XOR with 1 XOR 0xB7.
        {"one byte", {0x10}, 1, {0xA6}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> block(c.length, 0);
        std::copy(c.input.begin(), c.input.end(), block.begin());
        DescrambleBlock(block.data(), c.length);
        EXPECT_EQ(std::vector<uint8_t>(block.begin(), block.begin() + c.expected.size()),
                  c.expected);
    }
}

TEST(DescrambleBlock, ComplementIgnoresTheKeyAndRotationByAMultipleOfEightIsNone) {
    std::vector<uint8_t> block(40960, 0x5A);
    DescrambleBlock(block.data(), static_cast<uint32_t>(block.size()));
    for (size_t i = 2; i < block.size(); i += 4) ASSERT_EQ(block[i], 0xA5) << i;
    // A 3 mod 4 position whose key is a multiple of 8 keeps its byte: a
    // 10-byte block starts at key 10 XOR 0xB7 = 0xBD, so position 3 has 0xC0;
    // position 7 has 0xC4 and is rotated by 4.
    std::vector<uint8_t> ten(10, 0x5A);
    DescrambleBlock(ten.data(), 10);
    EXPECT_EQ(ten[3], 0x5A);
    EXPECT_EQ(ten[7], 0xA5);
    std::vector<uint8_t> empty;
    DescrambleBlock(empty.data(), 0);  // no effect, no access
}

TEST(PayloadScrambling, RoundTripsBlockByBlock) {
    std::mt19937 random(7);
    for (uint32_t size : {0u, 1u, 3u, 40959u, 40960u, 40961u, 3 * 40960u + 1234u}) {
        SCOPED_TRACE(size);
        std::vector<uint8_t> original(size);
        for (auto& b : original) b = static_cast<uint8_t>(random());
        std::vector<uint8_t> data = original;
        for (uint32_t at = 0; at < size; at += kPayloadBlockSize) {
            ScrambleBlock(data.data() + at, std::min(kPayloadBlockSize, size - at));
        }
        if (size >= 8) {
            EXPECT_NE(data, original);
        }
        for (uint32_t at = 0; at < size; at += kPayloadBlockSize) {
            DescrambleBlock(data.data() + at, std::min(kPayloadBlockSize, size - at));
        }
        EXPECT_EQ(data, original);
    }
}

}  // namespace

namespace {

// The vector form against the byte-at-a-time reference, over random
// contents and lengths, including every tail length and the block size.
TEST(DescrambleBlock, VectorFormMatchesTheScalarReference) {
    std::mt19937 random(11);
    std::vector<uint32_t> lengths = {0, 1, 15, 16, 17, 31, 32, 33, 255, 256, 257, 40959, 40960};
    for (int i = 0; i < 300; ++i) lengths.push_back(random() % 40961);
    for (uint32_t length : lengths) {
        std::vector<uint8_t> data(length + 32);
        for (auto& b : data) b = static_cast<uint8_t>(random());
        std::vector<uint8_t> expected = data;
        const uint32_t offset = random() % 16;  // unaligned starts too
        DescrambleBlockScalar(expected.data() + offset, length);
        DescrambleBlock(data.data() + offset, length);
        ASSERT_EQ(data, expected) << "length " << length << " offset " << offset;
    }
}

}  // namespace
