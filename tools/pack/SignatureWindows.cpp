// The signature's cryptography through the system's own: the signed data
// read by crypt32, the signer and its chain judged by WinVerifyTrust, the
// digest computed by CNG.
#include "tools/pack/SignatureChecking.h"

#include <windows.h>

#include <bcrypt.h>
#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <memory>

namespace tirn::pack {
namespace {

// SPC_INDIRECT_DATA_OBJID: the content type of an Authenticode signature.
constexpr const char* kIndirectDataType = "1.3.6.1.4.1.311.2.1.4";

struct MessageCloser {
    void operator()(void* message) const { ::CryptMsgClose(message); }
};
struct StoreCloser {
    void operator()(void* store) const { ::CertCloseStore(store, 0); }
};
struct CertificateFreer {
    void operator()(const CERT_CONTEXT* certificate) const {
        ::CertFreeCertificateContext(certificate);
    }
};
using Message = std::unique_ptr<void, MessageCloser>;
using Store = std::unique_ptr<void, StoreCloser>;
using Certificate = std::unique_ptr<const CERT_CONTEXT, CertificateFreer>;

std::string Narrow(const std::wstring& text) {
    if (text.empty()) return "";
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()),
                                           nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), out.data(), size,
                          nullptr, nullptr);
    return out;
}

std::string SystemMessage(DWORD code) {
    wchar_t* text = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring message = length && text ? std::wstring(text, length) : L"";
    if (text) ::LocalFree(text);
    while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' ||
                                message.back() == L'.' || message.back() == L' ')) {
        message.pop_back();
    }
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08lX", static_cast<unsigned long>(code));
    return message.empty() ? std::string(hex) : Narrow(message) + " (" + hex + ")";
}

std::optional<std::vector<uint8_t>> MessageParameter(void* message, DWORD parameter) {
    DWORD size = 0;
    if (!::CryptMsgGetParam(message, parameter, 0, nullptr, &size)) return std::nullopt;
    std::vector<uint8_t> bytes(size);
    if (!::CryptMsgGetParam(message, parameter, 0, bytes.data(), &size)) return std::nullopt;
    bytes.resize(size);
    return bytes;
}

// The certificate of the message's signer, from those it carries.
Certificate SignerCertificate(void* message, void* store) {
    const std::optional<std::vector<uint8_t>> info =
        MessageParameter(message, CMSG_SIGNER_CERT_INFO_PARAM);
    if (!info) return nullptr;
    return Certificate(::CertFindCertificateInStore(store, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING,
                                                    0, CERT_FIND_SUBJECT_CERT, info->data(),
                                                    nullptr));
}

std::string CommonName(const CERT_CONTEXT* certificate) {
    wchar_t name[256] = {};
    ::CertGetNameStringW(certificate, CERT_NAME_ATTR_TYPE, 0, const_cast<char*>(szOID_COMMON_NAME),
                         name, 256);
    return Narrow(name);
}

// A hash through CNG, fed in pieces.
class CngHash {
  public:
    explicit CngHash(tirn::format::DigestAlgorithm algorithm) {
        const wchar_t* name = BCRYPT_SHA256_ALGORITHM;
        switch (algorithm) {
            case tirn::format::DigestAlgorithm::Sha1: name = BCRYPT_SHA1_ALGORITHM; break;
            case tirn::format::DigestAlgorithm::Sha256: break;
            case tirn::format::DigestAlgorithm::Sha384: name = BCRYPT_SHA384_ALGORITHM; break;
            case tirn::format::DigestAlgorithm::Sha512: name = BCRYPT_SHA512_ALGORITHM; break;
        }
        m_digest.resize(tirn::format::DigestLength(algorithm));
        m_good = ::BCryptOpenAlgorithmProvider(&m_provider, name, nullptr, 0) == 0 &&
                 ::BCryptCreateHash(m_provider, &m_hash, nullptr, 0, nullptr, 0, 0) == 0;
    }
    ~CngHash() {
        if (m_hash) ::BCryptDestroyHash(m_hash);
        if (m_provider) ::BCryptCloseAlgorithmProvider(m_provider, 0);
    }
    CngHash(const CngHash&) = delete;
    CngHash& operator=(const CngHash&) = delete;

    void Add(const uint8_t* bytes, size_t length) {
        m_good = m_good && ::BCryptHashData(m_hash, const_cast<UCHAR*>(bytes),
                                            static_cast<ULONG>(length), 0) == 0;
    }
    // The digest, or nothing when any step failed.
    std::vector<uint8_t> Finish() {
        m_good = m_good && ::BCryptFinishHash(m_hash, m_digest.data(),
                                              static_cast<ULONG>(m_digest.size()), 0) == 0;
        return m_good ? m_digest : std::vector<uint8_t>{};
    }

  private:
    BCRYPT_ALG_HANDLE m_provider = nullptr;
    BCRYPT_HASH_HANDLE m_hash = nullptr;
    std::vector<uint8_t> m_digest;
    bool m_good = false;
};

// Chain and trust failures: the signature itself is sound, its signer only
// not trusted here. Any other verdict of WinVerifyTrust is a broken one.
bool IsTrustOnly(DWORD code) {
    switch (code) {
        case static_cast<DWORD>(CERT_E_UNTRUSTEDROOT):
        case static_cast<DWORD>(CERT_E_UNTRUSTEDTESTROOT):
        case static_cast<DWORD>(CERT_E_CHAINING):
        case static_cast<DWORD>(CERT_E_EXPIRED):
        case static_cast<DWORD>(CERT_E_VALIDITYPERIODNESTING):
        case static_cast<DWORD>(CERT_E_REVOKED):
        case static_cast<DWORD>(CERT_E_WRONG_USAGE):
        case static_cast<DWORD>(CERT_E_PURPOSE):
        case static_cast<DWORD>(CERT_E_CRITICAL):
        case static_cast<DWORD>(CERT_E_ROLE):
        case static_cast<DWORD>(TRUST_E_BASIC_CONSTRAINTS):
        case static_cast<DWORD>(TRUST_E_EXPLICIT_DISTRUST):
        case static_cast<DWORD>(CRYPT_E_SECURITY_SETTINGS): return true;
        default: return false;
    }
}

// What WinVerifyTrust says of the file: trusted, not trusted (reported
// only), or broken.
void JudgeTrust(const std::string& path, SignedData& data) {
    std::wstring wide = WidePath(path);
    wchar_t full[MAX_PATH * 4];
    const DWORD length = ::GetFullPathNameW(wide.c_str(), MAX_PATH * 4, full, nullptr);
    if (length > 0 && length < MAX_PATH * 4) wide = full;
    WINTRUST_FILE_INFO file{};
    file.cbStruct = sizeof file;
    file.pcwszFilePath = wide.c_str();
    WINTRUST_DATA trust{};
    trust.cbStruct = sizeof trust;
    trust.dwUIChoice = WTD_UI_NONE;
    trust.fdwRevocationChecks = WTD_REVOKE_NONE;
    trust.dwUnionChoice = WTD_CHOICE_FILE;
    trust.pFile = &file;
    trust.dwStateAction = WTD_STATEACTION_VERIFY;
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    const LONG result = ::WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &trust);
    trust.dwStateAction = WTD_STATEACTION_CLOSE;
    ::WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &trust);

    const auto code = static_cast<DWORD>(result);
    if (code == ERROR_SUCCESS) {
        data.trusted = true;
    } else if (IsTrustOnly(code)) {
        data.trust = "not trusted here: " + SystemMessage(code);
    } else {
        data.signerVerifies = false;
        data.signerProblem = SystemMessage(code);
    }
}

}  // namespace

std::optional<SignedData> OpenSignedData(tirn::format::Bytes pkcs7, const File& setup,
                                         std::string& error) {
    CRYPT_DATA_BLOB blob{static_cast<DWORD>(pkcs7.size()), const_cast<BYTE*>(pkcs7.data())};
    HCERTSTORE rawStore = nullptr;
    HCRYPTMSG rawMessage = nullptr;
    if (!::CryptQueryObject(CERT_QUERY_OBJECT_BLOB, &blob, CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED,
                            CERT_QUERY_FORMAT_FLAG_BINARY, 0, nullptr, nullptr, nullptr, &rawStore,
                            &rawMessage, nullptr)) {
        error = "no PKCS#7 signed data (" + SystemMessage(::GetLastError()) + ")";
        return std::nullopt;
    }
    Store store(rawStore);
    Message message(rawMessage);
    const std::optional<std::vector<uint8_t>> type =
        MessageParameter(message.get(), CMSG_INNER_CONTENT_TYPE_PARAM);
    if (!type || std::string(reinterpret_cast<const char*>(type->data())) != kIndirectDataType) {
        error = "its content is not an Authenticode digest";
        return std::nullopt;
    }
    std::optional<std::vector<uint8_t>> content =
        MessageParameter(message.get(), CMSG_CONTENT_PARAM);
    if (!content) {
        error = "its content cannot be read";
        return std::nullopt;
    }
    SignedData data;
    data.content = std::move(*content);
    const Certificate signer = SignerCertificate(message.get(), store.get());
    if (!signer) {
        error = "it names no signer whose certificate it carries";
        return std::nullopt;
    }
    data.signer = CommonName(signer.get());
    data.signerFingerprint = HexOf([&] {
        CngHash hash(tirn::format::DigestAlgorithm::Sha256);
        hash.Add(signer->pbCertEncoded, signer->cbCertEncoded);
        return hash.Finish();
    }());
    // The signer's signature over the content, checked here whatever the
    // trust policy makes of it; then the system's verdict on the file.
    data.signerVerifies =
        ::CryptMsgControl(message.get(), 0, CMSG_CTRL_VERIFY_SIGNATURE, signer->pCertInfo) != FALSE;
    if (!data.signerVerifies) {
        data.signerProblem = SystemMessage(::GetLastError());
        return data;
    }
    JudgeTrust(setup.Path(), data);
    return data;
}

std::vector<uint8_t> DigestOf(const File& file, const std::vector<tirn::format::ByteRange>& ranges,
                              tirn::format::DigestAlgorithm algorithm) {
    CngHash hash(algorithm);
    ReadRanges(file, ranges,
               [&hash](const uint8_t* bytes, size_t length) { hash.Add(bytes, length); });
    std::vector<uint8_t> digest = hash.Finish();
    if (digest.empty()) {
        throw ToolError(kExitDamaged, std::string("cannot compute a digest: the system has no ") +
                                          tirn::format::DigestAlgorithmName(algorithm));
    }
    return digest;
}

}  // namespace tirn::pack
