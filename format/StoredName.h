// The name of the one file a setup carries: what the launcher extracts and
// then starts. One rule for the launcher's extraction, the packer's build and
// its release gate, so that nothing passes the gate that a user's launcher
// refuses.
#pragma once

#include "format/Layer.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace tirn::format {

// The longest temporary directory the launcher installs with (in UTF-16
// units, its trailing backslash included), and what the staging directory
// adds to it ("TirnHome2014\", or a random name as long).
inline constexpr size_t kLongestTemporaryDirectoryUnits = 224;
inline constexpr size_t kStagingDirectoryUnits = 13;
// So that the extracted path stays within MAX_PATH - 1 units there.
inline constexpr size_t kLongestStoredNameUnits =
    259 - kLongestTemporaryDirectoryUnits - kStagingDirectoryUnits;

// Why name (UTF-8, as a cabinet stores it) is no name the launcher installs,
// or nothing when it is one: a plain file name (no directory, root, drive or
// stream), valid UTF-8, no character Windows forbids in a file name, no
// device name (CON, NUL, COM1, ...), no trailing dot or space, and at most
// kLongestStoredNameUnits UTF-16 units.
std::optional<std::string> StoredNameProblem(std::string_view name);

}  // namespace tirn::format
