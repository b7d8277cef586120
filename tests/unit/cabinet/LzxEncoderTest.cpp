// The LZX encoder against libmspack's decoder, natively: inputs that stress
// the format's edges (frames, the window, the x86 call translation, runs and
// noise), for every window size. cabextract, gcab, Wine's extrac32 and the
// launcher's road read LZX setups in the packer's and end-to-end tests.
#include "cabinet/CabinetReader.h"
#include "tests/unit/cabinet/CabinetTestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>

namespace {

using namespace tirn::cabinet;
using namespace tirn::cabinet::test;

std::vector<uint8_t> Noise(size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::vector<uint8_t> bytes(size);
    for (auto& b : bytes) b = static_cast<uint8_t>(random());
    return bytes;
}

// x86-like: calls (0xE8 and a relative target) among noise and repeats.
std::vector<uint8_t> CodeLike(size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) {
        const uint32_t r = random();
        if (r % 13 == 0 && i + 5 <= size) {
            bytes[i] = 0xE8;
            const int32_t target = static_cast<int32_t>(random() % 4000000) - 2000000;
            for (int k = 0; k < 4; ++k) bytes[i + 1 + k] = static_cast<uint8_t>(target >> (8 * k));
            i += 4;
        } else {
            bytes[i] = r % 3 == 0 ? static_cast<uint8_t>(r >> 8) : "push ebp; mov ebp, esp"[i % 22];
        }
    }
    return bytes;
}

// Calls whose operands sit at every place near a frame's end and the file's.
std::vector<uint8_t> CallsAtTheEdges(size_t size) {
    std::vector<uint8_t> bytes(size, 0x90);
    auto call = [&](size_t at, int32_t target) {
        if (at >= size) return;
        bytes[at] = 0xE8;
        for (size_t k = 0; k < 4 && at + 1 + k < size; ++k) {
            bytes[at + 1 + k] = static_cast<uint8_t>(target >> (8 * k));
        }
    };
    for (size_t frameEnd = kFrameSize; frameEnd <= size + kFrameSize; frameEnd += kFrameSize) {
        const size_t end = std::min(frameEnd, size);
        for (size_t back = 1; back <= 16 && back <= end; ++back) {
            call(end - back, static_cast<int32_t>(back * 1000) - 8000);
        }
    }
    // Targets at the translation's limits.
    call(100, -100);
    call(200, -201);
    call(300, 11999999 - 300);
    call(400, 12000000);
    call(500, 0x7FFFFFFF);
    call(600, static_cast<int32_t>(0x80000000));
    return bytes;
}

// A pattern with a period that makes every frame's end tempt a match across.
std::vector<uint8_t> Periodic(size_t size, size_t period, unsigned seed) {
    const std::vector<uint8_t> unit = Noise(period, seed);
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = unit[i % period];
    return bytes;
}

// Letters from a small alphabet: text as far as the codes are concerned.
std::vector<uint8_t> TextLike(size_t size, unsigned seed, unsigned letters) {
    std::mt19937 random(seed);
    std::vector<uint8_t> bytes(size);
    for (auto& b : bytes) b = static_cast<uint8_t>('a' + random() % letters);
    return bytes;
}

std::vector<uint8_t> Joined(std::vector<uint8_t> first, const std::vector<uint8_t>& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

// Frames of text, then one of noise: the noise is parsed by the text's
// prices, and once came out larger than its bytes.
std::vector<uint8_t> TextThenNoise() {
    return Joined(TextLike(7 * 32768, 12, 2), Noise(32768, 13));
}

// The largest data block of a one-folder cabinet.
size_t LargestDataBlock(const std::vector<uint8_t>& cabinet) {
    const CabinetDirectory directory = ReadCabinetDirectory(cabinet);
    size_t at = directory.folders[0].dataOffset;
    size_t largest = 0;
    for (uint32_t i = 0; i < directory.folders[0].blockCount; ++i) {
        const size_t stored = tirn::format::LoadLittleEndian16(&cabinet[at + 4]);
        largest = std::max(largest, stored);
        at += kDataHeaderSize + directory.dataReserve + stored;
    }
    return largest;
}

TEST(LzxEncoder, EveryStressingInputDecodesByteExactly) {
    struct Case {
        const char* name;
        std::vector<uint8_t> input;
        std::vector<unsigned> windows;
    };
    const std::vector<unsigned> all = {15, 16, 17, 18, 19, 20, 21};
    const Case cases[] = {
        {"empty", {}, {15, 21}},
        {"one byte", {0xE8}, {15, 21}},
        {"32 KiB less one", Noise(32767, 1), {15}},
        {"exactly 32 KiB", CodeLike(32768, 2), {15}},
        {"32 KiB and one", CodeLike(32769, 3), {15}},
        {"repetition across frame ends", Periodic(200000, 1000, 4), {15, 21}},
        {"repetition just inside the window", Periodic(5 * 32768 + 17, 32768 - 3, 5), {15}},
        {"repetition at the window's size", Periodic(5 * 32768 + 17, 32768, 6), {15}},
        {"the window's size", CodeLike(1 << 15, 7), {15}},
        {"the window's size and one byte", CodeLike((1 << 15) + 1, 8), {15}},
        {"wrapping the window many times", Periodic(9 * 65536 + 3, 65536 + 1000, 9), {16, 17}},
        {"long runs", std::vector<uint8_t>(3 * 1000 * 1000, 0), {15, 21}},
        {"incompressible", Noise(400000, 10), {15, 21}},
        {"calls at frame ends and the file's end", CallsAtTheEdges(5 * 32768 + 9), {15, 21}},
        {"code-like, every window", CodeLike(3 * 1000 * 1000, 11), all},
        // The largest data block seen: 33 994 bytes when the noise was sent
        // as the text's prices parsed it; a frame now costs no more than its
        // literals (32 848 bytes here).
        {"seven frames of text, then one of noise", TextThenNoise(), {15, 21}},
        {"noise between text",
         Joined(Joined(TextLike(100000, 14, 4), Noise(70000, 15)), TextLike(100000, 16, 4)),
         {21}},
    };
    size_t largest = 0;
    for (const Case& c : cases) {
        for (unsigned window : c.windows) {
            for (LzxEffort effort : kLzxEfforts) {
                SCOPED_TRACE(std::string(c.name) + ", window 2^" + std::to_string(window) +
                             ", effort " + std::to_string(static_cast<int>(effort)));
                // Two threads: the next frame searched while one is parsed
                // (the bytes are those of one thread, tested below).
                auto encoder = MakeLzxEncoder(window, effort, kMaxDataBlockBytes, 2);
                const std::vector<uint8_t> cabinet = WriteCabinet(c.input, *encoder);
                const std::optional<std::vector<uint8_t>> decoded = DecodeWithLibmspack(cabinet);
                ASSERT_TRUE(decoded.has_value());
                EXPECT_TRUE(*decoded == c.input) << "decoded differs";
                const CabinetDirectory directory = ReadCabinetDirectory(cabinet);
                EXPECT_EQ(CompressionName(directory.folders[0].compression),
                          "LZX:" + std::to_string(window));
                // Within what every reader takes, and no frame above its
                // literals (a frame, its trees and the block's header).
                EXPECT_LE(LargestDataBlock(cabinet), kFrameSize + 1024);
                largest = std::max(largest, LargestDataBlock(cabinet));
            }
        }
    }
    EXPECT_LE(largest, kMaxDataBlockBytes);
    std::printf("the largest data block of the stress inputs: %zu bytes\n", largest);
}

// Frames of 16 letters, one of which is favoured a little more in each
// frame: alike enough to share a block's trees, each a little off them.
std::vector<uint8_t> DriftingText(double favour, unsigned seed) {
    std::mt19937 random(seed);
    std::vector<uint8_t> bytes;
    for (int frame = 0; frame < 8; ++frame) {
        std::vector<double> weights(16, 1.0);
        weights[static_cast<size_t>(frame)] += favour;
        std::discrete_distribution<int> letter(weights.begin(), weights.end());
        for (uint32_t i = 0; i < kFrameSize; ++i)
            bytes.push_back(static_cast<uint8_t>('a' + letter(random)));
    }
    return bytes;
}

// A data block over the limit is written again: each frame of its block as
// a block of its own. The limit is lowered to just under the largest block
// written without it, where frames alone still fit; whatever limit the
// fallback meets, every block keeps to it and the stream decodes.
TEST(LzxEncoder, AFrameThatOutgrowsTheLimitIsWrittenAgainAlone) {
    int fallbacksSeen = 0;
    for (double favour : {0.5, 1.0, 2.0}) {
        const std::vector<uint8_t> input = DriftingText(favour, 3);
        const size_t unlimited = LargestDataBlock(WriteCabinet(input, *MakeLzxEncoder(21)));
        for (auto limit = static_cast<uint32_t>(unlimited - 1); limit + 200 > unlimited;
             limit -= 4) {
            std::vector<uint8_t> cabinet;
            try {
                cabinet = WriteCabinet(input, *MakeLzxEncoder(21, LzxEffort::Normal, limit));
            } catch (const std::logic_error&) {
                continue;  // a frame alone is larger than this limit
            }
            SCOPED_TRACE("favour " + std::to_string(favour) + ", limit " + std::to_string(limit));
            EXPECT_LE(LargestDataBlock(cabinet), limit);
            const std::optional<std::vector<uint8_t>> decoded = DecodeWithLibmspack(cabinet);
            ASSERT_TRUE(decoded.has_value());
            EXPECT_TRUE(*decoded == input);
            ++fallbacksSeen;
            break;
        }
    }
    EXPECT_GT(fallbacksSeen, 0) << "no limit made the encoder fall back: the test needs new inputs";
}

// A setup is the same bytes on every machine: the search running ahead on a
// second thread changes nothing, at any effort, over frame ends, the
// window's wrap, a search still running when the writer's next batch comes
// (more than 2 MiB) and a short last frame.
TEST(LzxEncoder, TheBytesDoNotDependOnTheThreads) {
    const std::vector<uint8_t> input =
        Joined(Joined(CodeLike(1800000, 21), Periodic(9 * 32768 + 5, 32768 + 100, 22)),
               TextLike(300000, 23, 4));
    ASSERT_GT(input.size(), 2u << 20);
    for (LzxEffort effort : kLzxEfforts) {
        for (unsigned window : {15u, 21u}) {
            SCOPED_TRACE("effort " + std::to_string(static_cast<int>(effort)) + ", window 2^" +
                         std::to_string(window));
            // (More threads than two change nothing: one search runs ahead.)
            EXPECT_TRUE(
                WriteCabinet(input, *MakeLzxEncoder(window, effort, kMaxDataBlockBytes, 2)) ==
                WriteCabinet(input, *MakeLzxEncoder(window, effort, kMaxDataBlockBytes, 1)));
        }
    }
}

// Each effort above the fastest parses smaller, on code and on text alike.
TEST(LzxEncoder, MoreEffortMakesSmallerCabinets) {
    std::vector<uint8_t> text;
    const std::string words = "tirn home definition record version installer cabinet ";
    std::mt19937 random(13);
    while (text.size() < 1000000) {
        const size_t start = random() % words.size();
        text.insert(text.end(), words.begin() + static_cast<ptrdiff_t>(start), words.end());
        text.push_back(static_cast<uint8_t>('0' + random() % 10));
    }
    for (const auto& [name, input] :
         {std::pair{"code", CodeLike(2 * 1000 * 1000, 14)}, std::pair{"text", text}}) {
        SCOPED_TRACE(name);
        std::vector<size_t> sizes;
        for (LzxEffort effort : kLzxEfforts) {
            sizes.push_back(WriteCabinet(input, *MakeLzxEncoder(21, effort)).size());
        }
        EXPECT_LT(sizes[1], sizes[0]);
        EXPECT_LE(sizes[2], sizes[1]);
    }
}

TEST(LzxEncoder, RepetitionMakesItSmallerThanMszip) {
    const std::vector<uint8_t> input = CodeLike(4 * 1000 * 1000, 12);
    const size_t lzx = WriteCabinet(input, *MakeLzxEncoder(21)).size();
    const size_t mszip = WriteCabinet(input, *MakeMszipEncoder(1)).size();
    EXPECT_LT(lzx, mszip);
}

TEST(LzxEncoder, AWindowOutsideTheFormatIsRefused) {
    for (unsigned window : {0u, 14u, 22u}) {
        EXPECT_THROW(MakeLzxEncoder(window), std::invalid_argument) << window;
    }
}

}  // namespace
