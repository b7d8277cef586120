// Reading a setup executable's parts, shared by inspect, unpack and verify.
#pragma once

#include "tools/pack/Layer.h"

#include "tools/pack/Files.h"
#include "tools/pack/Packing.h"

#include <cstdint>
#include <optional>

namespace tirn::pack {

// The trailer and what it says, from the headers and 16 bytes only.
PackageReport ReadPackageReport(const File& setup);

// Writes the package's payload, descrambled, into out.
void DescrambleInto(const PackageReport& report, const File& setup, File& out, bool progress);

// File offset of the PE certificate-table directory entry (8 bytes), when
// the file carries a signature; nothing otherwise.
std::optional<uint64_t> SignatureDirectoryEntry(const File& file);

}  // namespace tirn::pack
