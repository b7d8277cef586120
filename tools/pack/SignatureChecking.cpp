#include "tools/pack/SignatureChecking.h"

#include <algorithm>

namespace tirn::pack {
namespace {

using State = SignatureVerdict::State;

// A certificate table is a few kilobytes; a larger one is no signing tool's.
constexpr uint64_t kLargestCertificateTable = 16u << 20;

SignatureVerdict Broken(SignatureVerdict verdict, std::string problem) {
    verdict.state = State::Broken;
    verdict.problem = std::move(problem);
    return verdict;
}

}  // namespace

std::string HexOf(tirn::format::Bytes bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (const uint8_t b : bytes) {
        hex += digits[b >> 4];
        hex += digits[b & 15];
    }
    return hex;
}

void ReadRanges(const File& file, const std::vector<tirn::format::ByteRange>& ranges,
                const std::function<void(const uint8_t*, size_t)>& add) {
    std::vector<uint8_t> buffer(1 << 20);
    for (const tirn::format::ByteRange& range : ranges) {
        for (uint64_t done = 0; done < range.length;) {
            const size_t chunk =
                static_cast<size_t>(std::min<uint64_t>(buffer.size(), range.length - done));
            if (file.ReadAt(range.offset + done, buffer.data(), chunk) != chunk) {
                throw ToolError(kExitInput, file.Path() + ": cannot be read");
            }
            add(buffer.data(), chunk);
            done += chunk;
        }
    }
}

const char* SignatureStateName(State state) {
    switch (state) {
        case State::None: return "none";
        case State::Intact: return "intact";
        case State::Broken: return "broken";
    }
    return "none";
}

SignatureVerdict CheckSignature(const File& setup, const tirn::format::PeImage& image,
                                uint64_t packageEnd) {
    SignatureVerdict verdict;
    if (!image.IsSigned()) return verdict;
    const uint64_t size = setup.Size();
    const uint64_t offset = image.certificateTableOffset;
    const uint64_t length = image.certificateTableSize;
    if (offset < packageEnd || offset + length > size) {
        return Broken(verdict,
                      "the signature does not follow the package: sign the setup after packing");
    }
    if (offset + length != size) {
        return Broken(verdict, std::to_string(size - offset - length) +
                                   " bytes follow the signature, which does not cover them");
    }
    const std::optional<std::vector<tirn::format::ByteRange>> ranges =
        tirn::format::AuthenticodeRanges(image, size);
    if (!ranges || length > kLargestCertificateTable) {
        return Broken(verdict, "the signature's certificate table is malformed");
    }
    std::vector<uint8_t> table(length);
    if (setup.ReadAt(offset, table.data(), table.size()) != table.size()) {
        return Broken(verdict, "the signature's certificate table cannot be read");
    }
    const auto pkcs7 = tirn::format::SignedDataOf(table);
    if (const auto* problem = std::get_if<std::string>(&pkcs7)) return Broken(verdict, *problem);

    std::string error;
    const std::optional<SignedData> signedData =
        OpenSignedData(std::get<tirn::format::Bytes>(pkcs7), setup, error);
    if (!signedData) return Broken(verdict, "the signature cannot be read: " + error);
    verdict.signer = signedData->signer;
    verdict.signerFingerprint = signedData->signerFingerprint;
    const auto digest = tirn::format::SignedDigestOf(signedData->content);
    if (const auto* problem = std::get_if<std::string>(&digest)) return Broken(verdict, *problem);
    const tirn::format::SignedDigest& signedDigest = std::get<tirn::format::SignedDigest>(digest);
    verdict.digestAlgorithm = tirn::format::DigestAlgorithmName(signedDigest.algorithm);

    const std::vector<uint8_t> actual = DigestOf(setup, *ranges, signedDigest.algorithm);
    if (!std::equal(actual.begin(), actual.end(), signedDigest.digest.begin(),
                    signedDigest.digest.end())) {
        return Broken(verdict,
                      "the signature's digest does not match the setup: it was changed after "
                      "signing");
    }
    if (!signedData->signerVerifies) {
        return Broken(verdict,
                      "the signer's signature does not verify: " + signedData->signerProblem);
    }
    verdict.state = State::Intact;
    verdict.trusted = signedData->trusted;
    verdict.trust = signedData->trusted ? "trusted" : signedData->trust;
    return verdict;
}

}  // namespace tirn::pack
