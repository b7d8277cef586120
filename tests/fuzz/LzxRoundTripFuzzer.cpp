// Fuzz target: any bytes through the LZX encoder (the first byte picks the
// window, 2^15 to 2^21, the effort and one or two threads) into a cabinet,
// decoded by libmspack: the decoded file must be the input, byte for byte.
#include "tests/unit/cabinet/CabinetTestSupport.h"

#include <algorithm>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const unsigned window = 15 + data[0] % 7;
    const auto effort = tirn::cabinet::kLzxEfforts[data[0] / 7 % 3];
    const unsigned threads = 1 + data[0] / 21 % 2;
    // Long enough for several frames and a few windows of the smallest size;
    // short enough for many runs a second.
    const std::vector<uint8_t> input(data + 1, data + std::min<size_t>(size, 160 * 1024));
    auto encoder =
        tirn::cabinet::MakeLzxEncoder(window, effort, tirn::cabinet::kMaxDataBlockBytes, threads);
    const std::vector<uint8_t> cabinet = tirn::cabinet::test::WriteCabinet(input, *encoder);
    const auto decoded = tirn::cabinet::test::DecodeWithLibmspack(cabinet);
    if (!decoded || *decoded != input) std::abort();
    return 0;
}
