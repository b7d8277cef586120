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

// The signer's common name, from the certificate the message carries.
std::string SignerName(void* message, void* store) {
    const std::optional<std::vector<uint8_t>> info =
        MessageParameter(message, CMSG_SIGNER_CERT_INFO_PARAM);
    if (!info) return "";
    Certificate certificate(
        ::CertFindCertificateInStore(store, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0,
                                     CERT_FIND_SUBJECT_CERT, info->data(), nullptr));
    if (!certificate) return "";
    wchar_t name[256] = {};
    ::CertGetNameStringW(certificate.get(), CERT_NAME_ATTR_TYPE, 0,
                         const_cast<char*>(szOID_COMMON_NAME), name, 256);
    return Narrow(name);
}

// What WinVerifyTrust says of the file: the signer's signature broken (the
// file's verdict) or the chain not trusted (reported only).
void JudgeSigner(const std::string& path, SignedData& data) {
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
    switch (code) {
        case ERROR_SUCCESS: data.signerVerifies = data.trusted = true; return;
        case static_cast<DWORD>(TRUST_E_BAD_DIGEST):
        case static_cast<DWORD>(NTE_BAD_SIGNATURE):
        case static_cast<DWORD>(CRYPT_E_HASH_VALUE):
        case static_cast<DWORD>(TRUST_E_NOSIGNATURE):
            data.signerProblem = SystemMessage(code);
            return;
        default:
            data.signerVerifies = true;
            data.trust = "not trusted here: " + SystemMessage(code);
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
    data.signer = SignerName(message.get(), store.get());
    JudgeSigner(setup.Path(), data);
    return data;
}

std::vector<uint8_t> DigestOf(const File& file, const std::vector<tirn::format::ByteRange>& ranges,
                              tirn::format::DigestAlgorithm algorithm) {
    const wchar_t* name = BCRYPT_SHA256_ALGORITHM;
    switch (algorithm) {
        case tirn::format::DigestAlgorithm::Sha1: name = BCRYPT_SHA1_ALGORITHM; break;
        case tirn::format::DigestAlgorithm::Sha256: break;
        case tirn::format::DigestAlgorithm::Sha384: name = BCRYPT_SHA384_ALGORITHM; break;
        case tirn::format::DigestAlgorithm::Sha512: name = BCRYPT_SHA512_ALGORITHM; break;
    }
    BCRYPT_ALG_HANDLE provider = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    if (::BCryptOpenAlgorithmProvider(&provider, name, nullptr, 0) != 0) {
        throw ToolError(kExitDamaged,
                        "cannot compute a digest: the system has no " +
                            std::string(tirn::format::DigestAlgorithmName(algorithm)));
    }
    std::vector<uint8_t> digest(tirn::format::DigestLength(algorithm));
    bool done = ::BCryptCreateHash(provider, &hash, nullptr, 0, nullptr, 0, 0) == 0;
    std::vector<uint8_t> buffer(1 << 20);
    for (const tirn::format::ByteRange& range : ranges) {
        for (uint64_t at = 0; done && at < range.length;) {
            const size_t chunk =
                static_cast<size_t>(std::min<uint64_t>(buffer.size(), range.length - at));
            done = file.ReadAt(range.offset + at, buffer.data(), chunk) == chunk &&
                   ::BCryptHashData(hash, buffer.data(), static_cast<ULONG>(chunk), 0) == 0;
            at += chunk;
        }
    }
    done =
        done && ::BCryptFinishHash(hash, digest.data(), static_cast<ULONG>(digest.size()), 0) == 0;
    if (hash) ::BCryptDestroyHash(hash);
    ::BCryptCloseAlgorithmProvider(provider, 0);
    if (!done) throw ToolError(kExitInput, file.Path() + ": its digest cannot be computed");
    return digest;
}

}  // namespace tirn::pack
