// Benchmark: DescrambleBlock against memcpy over the same 74 MB buffer, in
// 40960-byte blocks as the launcher stages them, in the launcher's own build
// (32-bit, under Wine). Prints "descramble MB/s memcpy MB/s" (best of runs).
#include "format/PayloadScrambling.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {
double Seconds(LARGE_INTEGER a, LARGE_INTEGER b, LARGE_INTEGER frequency) {
    return static_cast<double>(b.QuadPart - a.QuadPart) / static_cast<double>(frequency.QuadPart);
}
}  // namespace

int main() {
    const size_t size = 74u * 1000 * 1000;
    std::vector<uint8_t> source(size), target(size);
    for (size_t i = 0; i < size; ++i) source[i] = static_cast<uint8_t>(i * 2654435761u >> 13);
    LARGE_INTEGER frequency;
    ::QueryPerformanceFrequency(&frequency);
    double bestDescramble = 1e9, bestCopy = 1e9;
    for (int run = 0; run < 7; ++run) {
        LARGE_INTEGER t0, t1, t2;
        ::QueryPerformanceCounter(&t0);
        std::memcpy(target.data(), source.data(), size);
        ::QueryPerformanceCounter(&t1);
        for (size_t at = 0; at < size; at += tirn::format::kPayloadBlockSize) {
            DescrambleBlock(target.data() + at, static_cast<uint32_t>(std::min<size_t>(
                                                    tirn::format::kPayloadBlockSize, size - at)));
        }
        ::QueryPerformanceCounter(&t2);
        bestCopy = std::min(bestCopy, Seconds(t0, t1, frequency));
        bestDescramble = std::min(bestDescramble, Seconds(t1, t2, frequency));
    }
    std::printf("%.0f %.0f\n", size / bestDescramble / 1e6, size / bestCopy / 1e6);
    return 0;
}
