// Fuzz target: the vector descrambling against the byte-at-a-time reference,
// and scrambling followed by descrambling giving the input back, for any
// block contents and length up to a full block.
#include "format/PayloadScrambling.h"

#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tirn::format;
    const uint32_t length =
        static_cast<uint32_t>(size > kPayloadBlockSize ? kPayloadBlockSize : size);
    std::vector<uint8_t> fast(data, data + length), reference(data, data + length);
    DescrambleBlock(fast.data(), length);
    DescrambleBlockScalar(reference.data(), length);
    if (fast != reference) std::abort();
    ScrambleBlock(fast.data(), length);
    if (length > 0 && std::memcmp(fast.data(), data, length) != 0) std::abort();
    return 0;
}
