// Code lengths: complete codes within the limit, and optimal ones.
#include "cabinet/HuffmanCode.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <numeric>

namespace {

using tirn::cabinet::CodeLengths;

uint64_t Cost(const std::vector<uint32_t>& frequencies, const std::vector<uint8_t>& lengths) {
    uint64_t cost = 0;
    for (size_t i = 0; i < frequencies.size(); ++i) cost += uint64_t{frequencies[i]} * lengths[i];
    return cost;
}

// The least cost of any complete code within the limit, by trying every
// assignment of lengths (small alphabets only).
uint64_t BestCost(const std::vector<uint32_t>& frequencies, int maxLength) {
    uint64_t best = UINT64_MAX;
    std::vector<uint8_t> lengths(frequencies.size());
    std::function<void(size_t, double)> tryFrom = [&](size_t i, double kraft) {
        if (kraft > 1.0) return;
        if (i == lengths.size()) {
            if (kraft == 1.0) best = std::min(best, Cost(frequencies, lengths));
            return;
        }
        for (int length = 1; length <= maxLength; ++length) {
            lengths[i] = static_cast<uint8_t>(length);
            tryFrom(i + 1, kraft + 1.0 / (1 << length));
        }
    };
    tryFrom(0, 0.0);
    return best;
}

TEST(CodeLengths, CompleteWithinTheLimitAndOptimal) {
    struct Case {
        const char* name;
        std::vector<uint32_t> frequencies;
        int maxLength;
    };
    const Case cases[] = {
        {"even", {5, 5, 5, 5}, 4},
        {"Fibonacci, Huffman needs 7 bits", {1, 1, 2, 3, 5, 8, 13, 21}, 4},
        {"Fibonacci, limit 5", {1, 1, 2, 3, 5, 8, 13, 21}, 5},
        {"one dominant symbol", {1000000, 1, 1, 1, 1, 1}, 3},
        {"limit exactly fits the count", {1, 2, 4, 8, 16, 32, 64, 128}, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<uint8_t> lengths = CodeLengths(c.frequencies, c.maxLength);
        double kraft = 0;
        for (uint8_t length : lengths) {
            EXPECT_GE(length, 1);
            EXPECT_LE(length, c.maxLength);
            kraft += 1.0 / (1 << length);
        }
        EXPECT_EQ(kraft, 1.0);
        EXPECT_EQ(Cost(c.frequencies, lengths), BestCost(c.frequencies, c.maxLength));
    }
}

// A long Fibonacci run over a large alphabet, as LZX's main tree may see:
// the limit holds and the code stays complete.
TEST(CodeLengths, LargeAlphabetsAreLimitedToo) {
    std::vector<uint32_t> frequencies(656, 0);
    uint32_t a = 1, b = 1;
    for (size_t i = 0; i < 30; ++i) {
        frequencies[i * 20] = a;
        const uint32_t next = a + b;
        a = b;
        b = next;
    }
    const std::vector<uint8_t> lengths = CodeLengths(frequencies, 16);
    double kraft = 0;
    for (size_t i = 0; i < lengths.size(); ++i) {
        EXPECT_LE(lengths[i], 16);
        EXPECT_EQ(lengths[i] != 0, frequencies[i] != 0) << i;
        if (lengths[i] != 0) kraft += 1.0 / (1 << lengths[i]);
    }
    EXPECT_EQ(kraft, 1.0);
}

}  // namespace
