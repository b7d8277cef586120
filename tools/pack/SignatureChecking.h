// Whether a setup's Authenticode signature is intact: the digest it carries
// is the digest of the setup as it is now, and the signer's signature over
// that digest verifies. Whether the signer is trusted is reported, not
// judged: a self-signed test certificate is a release engineer's choice.
#pragma once

#include "tools/pack/Layer.h"

#include "tools/pack/Files.h"
#include "format/AuthenticodeSignature.h"
#include "format/PeImage.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tirn::pack {

struct SignatureVerdict {
    enum class State { None, Intact, Broken };
    State state = State::None;
    std::string problem;            // Broken: why, in one line
    std::string digestAlgorithm;    // "SHA-256", once read
    std::string signer;             // the signer's common name, once read
    std::string signerFingerprint;  // SHA-256 of its certificate, hex, once read
    bool trusted = false;           // its chain ends at a root this system trusts
    std::string trust;              // "trusted", or why not
};

const char* SignatureStateName(SignatureVerdict::State state);

// The verdict on the signature of setup (whose headers are image): none, or
// intact, or broken and why. A table that does not follow packageEnd, or is
// followed by bytes it does not cover, is broken too.
SignatureVerdict CheckSignature(const File& setup, const tirn::format::PeImage& image,
                                uint64_t packageEnd);

// The platform's cryptography, in SignatureOpenssl.cpp or SignatureWindows.cpp.
struct SignedData {
    std::vector<uint8_t> content;  // the SpcIndirectDataContent, DER
    std::string signer;
    std::string signerFingerprint;
    bool signerVerifies = false;  // the signer's signature over content
    std::string signerProblem;
    bool trusted = false;
    std::string trust;
};

// The PKCS#7 signed data of setup's signature, its signer checked (the
// signature over the content, then the chain). Empty, with error set, when
// it is no signed data that can be read.
std::optional<SignedData> OpenSignedData(tirn::format::Bytes pkcs7, const File& setup,
                                         std::string& error);

// Lower-case hex, two digits a byte (a fingerprint as it is shown).
std::string HexOf(tirn::format::Bytes bytes);

// Reads the given ranges of file in order, a megabyte at a time, handing
// each piece to add; ToolError (kExitInput) when the file is shorter.
void ReadRanges(const File& file, const std::vector<tirn::format::ByteRange>& ranges,
                const std::function<void(const uint8_t*, size_t)>& add);

// The digest of the given ranges of file (the platform's, over ReadRanges).
std::vector<uint8_t> DigestOf(const File& file, const std::vector<tirn::format::ByteRange>& ranges,
                              tirn::format::DigestAlgorithm algorithm);

}  // namespace tirn::pack
