// The signature's cryptography through OpenSSL's libcrypto (Linux).
#include "tools/pack/SignatureChecking.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include <memory>

namespace tirn::pack {
namespace {

// SPC_INDIRECT_DATA_OBJID: the content type of an Authenticode signature.
constexpr const char* kIndirectDataType = "1.3.6.1.4.1.311.2.1.4";

template <typename T, void (*Free)(T*)>
struct Deleter {
    void operator()(T* p) const { Free(p); }
};
using Pkcs7 = std::unique_ptr<PKCS7, Deleter<PKCS7, PKCS7_free>>;
using Bio = std::unique_ptr<BIO, Deleter<BIO, BIO_free_all>>;
using Store = std::unique_ptr<X509_STORE, Deleter<X509_STORE, X509_STORE_free>>;
using StoreContext = std::unique_ptr<X509_STORE_CTX, Deleter<X509_STORE_CTX, X509_STORE_CTX_free>>;
using DigestContext = std::unique_ptr<EVP_MD_CTX, Deleter<EVP_MD_CTX, EVP_MD_CTX_free>>;
void FreeSigners(STACK_OF(X509) * signers) {
    sk_X509_free(signers);
}
using Signers = std::unique_ptr<STACK_OF(X509), Deleter<STACK_OF(X509), FreeSigners>>;

std::string LastError() {
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0) return "unknown error";
    const char* reason = ERR_reason_error_string(code);
    return reason ? reason : "error " + std::to_string(code);
}

std::string CommonName(X509* certificate) {
    char name[256] = {};
    if (X509_NAME_get_text_by_NID(X509_get_subject_name(certificate), NID_commonName, name,
                                  sizeof name) < 0) {
        return "";
    }
    return name;
}

const EVP_MD* Algorithm(tirn::format::DigestAlgorithm algorithm) {
    switch (algorithm) {
        case tirn::format::DigestAlgorithm::Sha1: return EVP_sha1();
        case tirn::format::DigestAlgorithm::Sha256: return EVP_sha256();
        case tirn::format::DigestAlgorithm::Sha384: return EVP_sha384();
        case tirn::format::DigestAlgorithm::Sha512: return EVP_sha512();
    }
    return EVP_sha256();
}

// The signer's chain against the system's certificate store (any purpose:
// the store is the TLS one, and only whether it reaches a root is asked).
void CheckChain(PKCS7* p7, X509* signer, SignedData& data) {
    Store store(X509_STORE_new());
    StoreContext context(X509_STORE_CTX_new());
    if (!store || !context || X509_STORE_set_default_paths(store.get()) != 1 ||
        X509_STORE_CTX_init(context.get(), store.get(), signer, p7->d.sign->cert) != 1) {
        data.trust = "not checked: " + LastError();
        return;
    }
    X509_STORE_CTX_set_purpose(context.get(), X509_PURPOSE_ANY);
    if (X509_verify_cert(context.get()) == 1) {
        data.trusted = true;
        return;
    }
    data.trust = std::string("not trusted here: ") +
                 X509_verify_cert_error_string(X509_STORE_CTX_get_error(context.get()));
    ERR_clear_error();
}

}  // namespace

std::optional<SignedData> OpenSignedData(tirn::format::Bytes pkcs7, const File&,
                                         std::string& error) {
    const unsigned char* at = pkcs7.data();
    Pkcs7 p7(d2i_PKCS7(nullptr, &at, static_cast<long>(pkcs7.size())));
    // The signed part is optional in PKCS#7: absent, d.sign is null.
    if (!p7 || !PKCS7_type_is_signed(p7.get()) || !p7->d.sign || !p7->d.sign->contents) {
        error = "no PKCS#7 signed data";
        ERR_clear_error();
        return std::nullopt;
    }
    PKCS7* contents = p7->d.sign->contents;
    char type[64] = {};
    OBJ_obj2txt(type, sizeof type, contents->type, 1);
    if (std::string(type) != kIndirectDataType || !contents->d.other ||
        contents->d.other->type != V_ASN1_SEQUENCE) {
        error = "its content is not an Authenticode digest";
        return std::nullopt;
    }
    const ASN1_STRING* sequence = contents->d.other->value.sequence;
    SignedData data;
    data.content.assign(sequence->data, sequence->data + sequence->length);

    Signers signers(PKCS7_get0_signers(p7.get(), nullptr, 0));
    if (!signers || sk_X509_num(signers.get()) != 1) {
        error = "it names no one signer whose certificate it carries";
        ERR_clear_error();
        return std::nullopt;
    }
    X509* signer = sk_X509_value(signers.get(), 0);
    data.signer = CommonName(signer);
    unsigned char fingerprint[EVP_MAX_MD_SIZE];
    unsigned fingerprintLength = 0;
    if (X509_digest(signer, EVP_sha256(), fingerprint, &fingerprintLength) == 1) {
        data.signerFingerprint = HexOf({fingerprint, fingerprintLength});
    }

    // The signer signs the content's octets without their tag and length.
    const std::optional<tirn::format::Bytes> signedBytes = tirn::format::DerContentOf(data.content);
    if (!signedBytes) {
        error = "its content is not one DER element";
        return std::nullopt;
    }
    Bio bio(BIO_new_mem_buf(signedBytes->data(), static_cast<int>(signedBytes->size())));
    Store none(X509_STORE_new());
    data.signerVerifies = bio && none &&
                          PKCS7_verify(p7.get(), nullptr, none.get(), bio.get(), nullptr,
                                       PKCS7_NOVERIFY | PKCS7_BINARY) == 1;
    if (!data.signerVerifies) {
        data.signerProblem = LastError();
        return data;
    }
    CheckChain(p7.get(), signer, data);
    return data;
}

std::vector<uint8_t> DigestOf(const File& file, const std::vector<tirn::format::ByteRange>& ranges,
                              tirn::format::DigestAlgorithm algorithm) {
    DigestContext context(EVP_MD_CTX_new());
    if (!context || EVP_DigestInit_ex(context.get(), Algorithm(algorithm), nullptr) != 1) {
        throw ToolError(kExitDamaged, "cannot compute a digest: " + LastError());
    }
    ReadRanges(file, ranges, [&context](const uint8_t* bytes, size_t length) {
        EVP_DigestUpdate(context.get(), bytes, length);
    });
    std::vector<uint8_t> digest(EVP_MAX_MD_SIZE);
    unsigned length = 0;
    EVP_DigestFinal_ex(context.get(), digest.data(), &length);
    digest.resize(length);
    return digest;
}

}  // namespace tirn::pack
