// Reading a setup executable's parts, shared by inspect, unpack and verify.
#pragma once

#include "tools/pack/Layer.h"

#include "tools/pack/Files.h"
#include "tools/pack/Packing.h"
#include "format/LauncherImage.h"
#include "format/PeImage.h"

#include <cstdint>
#include <optional>

namespace tirn::pack {

// The trailer and what it says, from the headers and 16 bytes only.
PackageReport ReadPackageReport(const File& setup);

// Writes the package's payload, descrambled, into out.
void DescrambleInto(const PackageReport& report, const File& setup, File& out, bool progress);

// The verdict on the setup's signature, which must follow the package.
SignatureVerdict CheckSetupSignature(const File& setup, const PackageReport& report);

// What the headers alone tell of a setup or launcher image.
struct SetupHeaders {
    tirn::format::PeImage image;
    std::optional<tirn::format::LauncherKind> kind;  // empty: neither of the launcher's builds
};

// The headers of file, read from its first megabyte; ToolError (kExitNoPackage)
// when they are no PE's.
SetupHeaders ReadSetupHeaders(const File& file);

}  // namespace tirn::pack
