// Fuzz target: a signature's parts read from any bytes, taken as a
// certificate table: its entry, the signed data through OpenSSL as the
// packer reads it, and the digest at every place where a SEQUENCE could
// start (the signed content lies somewhere inside). What they return must
// lie inside the input, and nothing may crash.
#include "format/AuthenticodeSignature.h"
#include "tools/pack/SignatureChecking.h"

#include <cstdlib>

namespace {

void RequireInside(tirn::format::Bytes part, const uint8_t* data, size_t size) {
    if (part.size() > size || part.data() < data || part.data() + part.size() > data + size) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tirn::format;
    if (size > 65536) return 0;
    const Bytes table(data, size);
    const auto signedData = SignedDataOf(table);
    std::string error;
    const tirn::pack::File none;
    if (const Bytes* pkcs7 = std::get_if<Bytes>(&signedData)) {
        RequireInside(*pkcs7, data, size);
        tirn::pack::OpenSignedData(*pkcs7, none, error);
    }
    tirn::pack::OpenSignedData(table, none, error);
    for (size_t at = 0; at < size; ++at) {
        if (data[at] != 0x30) continue;
        const Bytes rest = table.subspan(at);
        const auto digest = SignedDigestOf(rest);
        if (const SignedDigest* read = std::get_if<SignedDigest>(&digest)) {
            RequireInside(read->digest, data, size);
            if (read->digest.size() != DigestLength(read->algorithm)) std::abort();
        }
        if (const auto content = DerContentOf(rest)) RequireInside(*content, data, size);
    }
    return 0;
}
