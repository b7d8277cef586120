// Fuzz target: `tirn-pack inspect` over any file: the headers, the trailer,
// the descrambled payload and our reading of the cabinet inside. It
// may report a failure, never crash or read outside what it was given.
#include "tools/pack/Files.h"
#include "tools/pack/Packing.h"

#include <unistd.h>

#include <cstdio>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Removed after each input: a fuzzer's end may skip exit handlers.
    static const std::string path = "/tmp/tirn-inspect-fuzz-" + std::to_string(::getpid()) + ".exe";
    if (FILE* file = std::fopen(path.c_str(), "wb")) {
        std::fwrite(data, 1, size, file);
        std::fclose(file);
    }
    try {
        tirn::pack::InspectSetup(path);
    } catch (const tirn::pack::ToolError&) {
        // A clear refusal is a fine answer to a broken file.
    }
    std::remove(path.c_str());
    return 0;
}
