// How tirn-pack ends: an exit code for each kind of failure, and the error
// that carries one to main.
#pragma once

#include "tools/pack/Layer.h"

#include <stdexcept>
#include <string>

namespace tirn::pack {

// A failure with the exit code the tool ends with.
struct ToolError : std::runtime_error {
    ToolError(int exitCode, const std::string& message)
        : std::runtime_error(message), exitCode(exitCode) {}
    int exitCode;
};

enum ExitCode {
    kExitOk = 0,
    kExitUsage = 2,
    kExitInput = 3,      // an input file cannot be read
    kExitNoPackage = 4,  // not a setup, no package, or a cut one
    kExitCabinet = 5,    // the cabinet is invalid or does not hold exactly one file
    kExitOutput = 6,     // the output cannot be written
    kExitTooLarge = 7,   // too large for a cabinet folder, or the setup for 4 GiB
    kExitDamaged = 8,    // verify: the package inside is damaged or not shippable
};

}  // namespace tirn::pack
