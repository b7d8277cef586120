// What a PE signature holds, read without trusting a byte of it: the
// PKCS#7 signed data in the certificate table, and inside it the digest the
// signer vouches for. The cryptography (hashing, the signer's signature, the
// chain) is the platform's; this only finds what it works on.
#pragma once

#include "format/Layer.h"

#include "format/ByteReader.h"

#include <optional>
#include <string>
#include <variant>

namespace tirn::format {

// The DER bytes of the PKCS#7 signed data in a certificate table: its one
// entry, a WIN_CERTIFICATE of revision 2.0 and type PKCS_SIGNED_DATA that
// fills the table (its length padded to 8 bytes), one DER element followed
// by zeros only. A string saying what is wrong otherwise: nothing that the
// digest does not cover may hide in the table.
std::variant<Bytes, std::string> SignedDataOf(Bytes certificateTable);

enum class DigestAlgorithm { Sha1, Sha256, Sha384, Sha512 };

struct SignedDigest {
    DigestAlgorithm algorithm;
    Bytes digest;  // inside the content given
};

// The image digest in an Authenticode SpcIndirectDataContent (the signed
// data's content, DER: a SEQUENCE of the PE-image attribute and a
// DigestInfo). A string saying what is wrong otherwise: not that structure,
// not a PE image's, an algorithm we do not take, or a digest of the wrong
// length.
std::variant<SignedDigest, std::string> SignedDigestOf(Bytes indirectDataContent);

// The content octets of the DER element at the start of bytes (without its
// tag and length): what the signer's message digest covers. Empty when the
// element does not lie inside bytes.
std::optional<Bytes> DerContentOf(Bytes element);

const char* DigestAlgorithmName(DigestAlgorithm algorithm);
size_t DigestLength(DigestAlgorithm algorithm);

}  // namespace tirn::format
