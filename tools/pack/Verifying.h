// tirn-pack verify: the release gate. A setup is shippable when the launcher
// is a valid PE, the package is present and complete with a definition
// version above 0, its cabinet is well formed with exactly one file under a
// name every launcher installs, every block is within what readers take and
// its checksum right, an independent decoder turns the file out at its
// stated size, that file is a Windows program, and a signature, when there
// is one, is intact and follows the package (the README lists the checks).
#pragma once

#include "tools/pack/Layer.h"

#include "tools/pack/SignatureChecking.h"

#include <cstdint>
#include <string>

namespace tirn::pack {

struct VerifyReport {
    std::string setup;
    bool shippable = false;
    int exitCode = 0;    // 0, or the code of the first failed check
    std::string reason;  // one line, when not shippable

    uint64_t fileSize = 0;
    std::string launcher;  // "PE32 i386" or "PE32+ AMD64", once seen
    uint64_t trailerOffset = 0;
    uint32_t definitionVersion = 0;
    uint32_t payloadSize = 0;
    std::string compression;
    uint32_t blocks = 0;
    uint32_t largestBlock = 0;  // compressed bytes of the largest data block
    std::string fileName;
    uint64_t storedSize = 0;
    uint64_t decodedSize = 0;
    std::string decoder;
    SignatureVerdict signature;
};

// What a release pipeline may ask beyond the checks every setup passes.
struct VerifyOptions {
    bool requireSignature = false;  // an unsigned setup fails
    // The signer's certificate, by the SHA-256 fingerprint of its DER bytes
    // (hex, colons and case as you like): a setup signed by another fails.
    std::string signer;
};

VerifyReport VerifySetup(const std::string& setup, const VerifyOptions& options = {});

}  // namespace tirn::pack
