// The LZX encoder against libmspack's decoder, natively: inputs that stress
// the format's edges (frames, the window, the x86 call translation, runs and
// noise), for every window size. cabextract, gcab, Wine's extrac32 and the
// launcher's road read LZX setups in the packer's and end-to-end tests.
#include "cabinet/CabinetReader.h"
#include "tests/unit/cabinet/CabinetTestSupport.h"

#include <gtest/gtest.h>

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
    };
    for (const Case& c : cases) {
        for (unsigned window : c.windows) {
            for (LzxEffort effort : kLzxEfforts) {
                SCOPED_TRACE(std::string(c.name) + ", window 2^" + std::to_string(window) +
                             ", effort " + std::to_string(static_cast<int>(effort)));
                auto encoder = MakeLzxEncoder(window, effort);
                const std::vector<uint8_t> cabinet = WriteCabinet(c.input, *encoder);
                const std::optional<std::vector<uint8_t>> decoded = DecodeWithLibmspack(cabinet);
                ASSERT_TRUE(decoded.has_value());
                EXPECT_TRUE(*decoded == c.input) << "decoded differs";
                const CabinetDirectory directory = ReadCabinetDirectory(cabinet);
                EXPECT_EQ(CompressionName(directory.folders[0].compression),
                          "LZX:" + std::to_string(window));
            }
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
