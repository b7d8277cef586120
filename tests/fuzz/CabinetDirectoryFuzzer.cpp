// Fuzz target: the cabinet directory reader over any bytes. It may refuse,
// never crash or read outside what it was given.
#include "cabinet/CabinetReader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    try {
        tirn::cabinet::ReadCabinetDirectory({data, size});
    } catch (const tirn::cabinet::CabinetFormatError&) {
        // A clear refusal is a fine answer to a broken cabinet.
    }
    return 0;
}
