#include "format/AuthenticodeSignature.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace tirn::format {
namespace {

constexpr uint16_t kCertificateRevision2 = 0x0200;
constexpr uint16_t kCertificateTypePkcsSignedData = 0x0002;
constexpr uint64_t kCertificateHeaderSize = 8;  // dwLength, wRevision, wCertificateType

constexpr uint8_t kTagSequence = 0x30;
constexpr uint8_t kTagObjectIdentifier = 0x06;
constexpr uint8_t kTagOctetString = 0x04;

// 1.3.6.1.4.1.311.2.1.15, SPC_PE_IMAGE_DATAOBJ: the attribute of a PE's signature.
constexpr std::array<uint8_t, 10> kPeImageData = {0x2B, 0x06, 0x01, 0x04, 0x01,
                                                  0x82, 0x37, 0x02, 0x01, 0x0F};

struct KnownDigest {
    DigestAlgorithm algorithm;
    const char* name;
    size_t length;
    std::array<uint8_t, 9> oid;
    size_t oidLength;
};
constexpr KnownDigest kKnownDigests[] = {
    {DigestAlgorithm::Sha1, "SHA-1", 20, {0x2B, 0x0E, 0x03, 0x02, 0x1A}, 5},
    {DigestAlgorithm::Sha256,
     "SHA-256",
     32,
     {0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x01},
     9},
    {DigestAlgorithm::Sha384,
     "SHA-384",
     48,
     {0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x02},
     9},
    {DigestAlgorithm::Sha512,
     "SHA-512",
     64,
     {0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x03},
     9},
};

const KnownDigest& Known(DigestAlgorithm algorithm) {
    for (const KnownDigest& known : kKnownDigests) {
        if (known.algorithm == algorithm) return known;
    }
    return kKnownDigests[0];
}

// One DER element: its tag, its content, and what follows it.
struct Element {
    uint8_t tag;
    Bytes content;
    Bytes rest;
};

// Single-byte tags and definite lengths only, as DER has them; every length
// checked against what is there.
std::optional<Element> ReadElement(Bytes bytes) {
    if (bytes.size() < 2) return std::nullopt;
    const uint8_t tag = bytes[0];
    if ((tag & 0x1F) == 0x1F) return std::nullopt;
    uint64_t length = bytes[1];
    uint64_t header = 2;
    if (length & 0x80) {
        const uint64_t count = length & 0x7F;
        if (count == 0 || count > 4 || !FitsIn(bytes, 2, count)) return std::nullopt;
        length = 0;
        for (uint64_t i = 0; i < count; ++i) length = length << 8 | bytes[2 + i];
        header += count;
    }
    if (!FitsIn(bytes, header, length)) return std::nullopt;
    return Element{tag, bytes.subspan(header, length), bytes.subspan(header + length)};
}

std::optional<Element> ReadElement(Bytes bytes, uint8_t tag) {
    std::optional<Element> element = ReadElement(bytes);
    if (!element || element->tag != tag) return std::nullopt;
    return element;
}

bool Equals(Bytes bytes, const uint8_t* expected, size_t length) {
    return bytes.size() == length && std::memcmp(bytes.data(), expected, length) == 0;
}

}  // namespace

std::variant<Bytes, std::string> SignedDataOf(Bytes table) {
    const std::optional<uint32_t> length = ReadLittleEndian32(table, 0);
    const std::optional<uint16_t> revision = ReadLittleEndian16(table, 4);
    const std::optional<uint16_t> type = ReadLittleEndian16(table, 6);
    if (!length || !revision || !type || *length < kCertificateHeaderSize ||
        *length > table.size()) {
        return std::string("the certificate table's first entry does not lie inside it");
    }
    if (*revision != kCertificateRevision2 || *type != kCertificateTypePkcsSignedData) {
        return std::string("the certificate table's first entry is no Authenticode signature");
    }
    // Nothing the digest does not cover may hide in the table: one entry,
    // padded to 8 bytes, and after its signed data only zeros.
    if ((uint64_t{*length} + 7) / 8 * 8 != table.size()) {
        return std::string("the certificate table holds more than one signature");
    }
    const Bytes entry = table.subspan(kCertificateHeaderSize, *length - kCertificateHeaderSize);
    const std::optional<Element> signedData = ReadElement(entry, kTagSequence);
    if (!signedData)
        return std::string("the signature's signed data does not lie inside its entry");
    const Bytes after = signedData->rest;
    const Bytes padding = table.subspan(*length);
    auto zeros = [](Bytes bytes) {
        return std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b == 0; });
    };
    if (!zeros(after) || !zeros(padding)) {
        return std::string("bytes follow the signature's signed data in its entry");
    }
    return entry.first(entry.size() - after.size());
}

std::variant<SignedDigest, std::string> SignedDigestOf(Bytes content) {
    const std::string notOne = "the signed content is no Authenticode image digest";
    const std::optional<Element> outer = ReadElement(content, kTagSequence);
    if (!outer) return notOne;
    const std::optional<Element> data = ReadElement(outer->content, kTagSequence);
    if (!data) return notOne;
    const std::optional<Element> dataType = ReadElement(data->content, kTagObjectIdentifier);
    if (!dataType || !Equals(dataType->content, kPeImageData.data(), kPeImageData.size())) {
        return std::string("the signature is not a PE image's");
    }
    const std::optional<Element> digestInfo = ReadElement(data->rest, kTagSequence);
    if (!digestInfo) return notOne;
    const std::optional<Element> algorithm = ReadElement(digestInfo->content, kTagSequence);
    if (!algorithm) return notOne;
    const std::optional<Element> oid = ReadElement(algorithm->content, kTagObjectIdentifier);
    const std::optional<Element> digest = ReadElement(algorithm->rest, kTagOctetString);
    if (!oid || !digest) return notOne;
    for (const KnownDigest& known : kKnownDigests) {
        if (!Equals(oid->content, known.oid.data(), known.oidLength)) continue;
        if (digest->content.size() != known.length) {
            return std::string("the signed ") + known.name + " digest is " +
                   std::to_string(digest->content.size()) + " bytes long";
        }
        return SignedDigest{known.algorithm, digest->content};
    }
    return std::string(
        "the signature's digest algorithm is none of SHA-1, SHA-256, SHA-384, "
        "SHA-512");
}

std::optional<Bytes> DerContentOf(Bytes element) {
    std::optional<Element> read = ReadElement(element);
    if (!read) return std::nullopt;
    return read->content;
}

const char* DigestAlgorithmName(DigestAlgorithm algorithm) {
    return Known(algorithm).name;
}

size_t DigestLength(DigestAlgorithm algorithm) {
    return Known(algorithm).length;
}

}  // namespace tirn::format
