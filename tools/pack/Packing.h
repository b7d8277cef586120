// The three jobs of tirn-pack over setup executables: build, inspect, unpack.
#pragma once

#include "tools/pack/Layer.h"

#include "tools/pack/Cabinet.h"
#include "tools/pack/SignatureChecking.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tirn::pack {

struct BuildRequest {
    std::string launcher;
    uint32_t definitionVersion = 0;
    // Version 0 is never newer than anything installed: such a setup only
    // ever starts the installed product, and what it installs on a clean
    // machine no version-0 setup can upgrade. Taken only when asked for (a
    // setup meant to start whatever is installed, never to upgrade it).
    bool allowVersion0 = false;
    std::string installer;  // either this...
    std::string cabinet;    // ...or a ready cabinet
    std::string output;
    CabinetCompression compression;
    bool progress = false;
};

struct PackageReport {
    std::string setup;
    uint64_t fileSize = 0;
    std::string launcher;  // "PE32 i386", "PE32+ AMD64", or empty for another image
    uint64_t trailerOffset = 0;
    bool present = false;
    uint32_t definitionVersion = 0;
    uint32_t payloadSize = 0;
    uint32_t reserved = 0;
    bool complete = false;
    std::optional<std::vector<CabinetEntry>> files;  // when complete and readable
    std::string cabinetError;
    tirn::format::PeImage image;
    SignatureVerdict signature;  // inspect's
};

void BuildSetup(const BuildRequest& request);
PackageReport InspectSetup(const std::string& setup);
void UnpackSetup(const std::string& setup, const std::string& output, bool progress);

}  // namespace tirn::pack
