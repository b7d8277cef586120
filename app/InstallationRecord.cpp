#include "InstallationRecord.h"

#include "ScopedRegKey.h"

namespace {
constexpr wchar_t kRecordKey[] = L"Software\\Tirn";
constexpr wchar_t kInstallDirValue[] = L"szTirnDir";
constexpr wchar_t kDefinitionVersionValue[] = L"DefinitionVersion";

bool OpenRecordKey(REGSAM access, ScopedRegKey& key) {
    return ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kRecordKey, 0, nullptr, 0, access, nullptr,
                             key.Receive(), nullptr) == ERROR_SUCCESS;
}
}  // namespace

int ReadInstallDir(wchar_t* buffer, int capacity) {
    if (buffer == nullptr || capacity <= 0) return 0;
    ScopedRegKey key;
    if (!OpenRecordKey(KEY_QUERY_VALUE, key)) return 0;

    DWORD type = 0;
    DWORD size = 0;
    if (::RegQueryValueExW(key.Get(), kInstallDirValue, nullptr, &type, nullptr, &size) !=
        ERROR_SUCCESS) {
        return 0;
    }
    if (type != REG_SZ) return 0;
    const DWORD capacityBytes = static_cast<DWORD>(capacity) * sizeof(wchar_t);
    if (size > capacityBytes) size = capacityBytes;
    // A value larger than the buffer fails here (more data): an overlong
    // directory is refused, never cut.
    if (::RegQueryValueExW(key.Get(), kInstallDirValue, nullptr, &type,
                           reinterpret_cast<BYTE*>(buffer), &size) != ERROR_SUCCESS ||
        type != REG_SZ) {
        buffer[0] = L'\0';
        return 0;
    }
    // Registry strings need not carry their terminator. Terminate after the
    // data; a value that fills the whole buffer without one would otherwise
    // be cut to a different path, so it is refused.
    const DWORD units = size / sizeof(wchar_t);
    if (units < static_cast<DWORD>(capacity)) {
        buffer[units] = L'\0';
    } else if (buffer[capacity - 1] != L'\0') {
        buffer[0] = L'\0';
        return 0;
    }
    return ::lstrlenW(buffer);
}

int ReadDefinitionVersion(uint32_t* version) {
    if (version == nullptr) return 0;
    ScopedRegKey key;
    if (!OpenRecordKey(KEY_QUERY_VALUE, key)) return 0;

    DWORD type = 0;
    DWORD size = 0;
    if (::RegQueryValueExW(key.Get(), kDefinitionVersionValue, nullptr, &type, nullptr, &size) !=
        ERROR_SUCCESS) {
        return 0;
    }
    if (type != REG_DWORD || size != sizeof(DWORD)) return 0;
    DWORD value = 0;
    size = sizeof(value);
    if (::RegQueryValueExW(key.Get(), kDefinitionVersionValue, nullptr, &type,
                           reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS ||
        type != REG_DWORD || size != sizeof(value)) {
        return 0;
    }
    *version = value;
    return 1;
}

int WriteDefinitionVersion(uint32_t version) {
    ScopedRegKey key;
    if (!OpenRecordKey(KEY_CREATE_SUB_KEY | KEY_SET_VALUE, key)) return 0;
    DWORD value = version;
    return ::RegSetValueExW(key.Get(), kDefinitionVersionValue, 0, REG_DWORD,
                            reinterpret_cast<const BYTE*>(&value), sizeof(value)) == ERROR_SUCCESS
               ? 1
               : 0;
}
