#include "app/InstallationRecord.h"

#include "framework/ScopedRegKey.h"

namespace {
constexpr wchar_t kRecordKey[] = L"Software\\Tirn";
constexpr wchar_t kInstallDirValue[] = L"szTirnDir";
constexpr wchar_t kDefinitionVersionValue[] = L"DefinitionVersion";

// The record lives in the 32-bit registry view: there the 32-bit launcher and
// the 32-bit installers keep it on 64-bit Windows, and the x64 launcher must
// see that one record, not a second one in the 64-bit view.
bool OpenRecordKey(REGSAM access, ScopedRegKey& key) {
    return ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kRecordKey, 0, nullptr, 0,
                             access | KEY_WOW64_32KEY, nullptr, key.Receive(),
                             nullptr) == ERROR_SUCCESS;
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

bool DefinitionVersionSnapshot::Take() {
    m_taken = false;
    ScopedRegKey key;
    if (!OpenRecordKey(KEY_QUERY_VALUE, key)) return false;
    // The value may change size between the two queries; ask again then.
    for (int attempt = 0; attempt < 4; ++attempt) {
        DWORD size = 0;
        LONG status = ::RegQueryValueExW(key.Get(), kDefinitionVersionValue, nullptr, &m_type,
                                         nullptr, &size);
        if (status == ERROR_FILE_NOT_FOUND) {
            m_present = false;
            m_data.clear();
            m_taken = true;
            return true;
        }
        if (status != ERROR_SUCCESS) return false;
        m_data.resize(size);
        status = ::RegQueryValueExW(key.Get(), kDefinitionVersionValue, nullptr, &m_type,
                                    m_data.data(), &size);
        if (status == ERROR_MORE_DATA) continue;
        if (status != ERROR_SUCCESS) return false;
        m_data.resize(size);
        m_present = true;
        m_taken = true;
        return true;
    }
    return false;
}

bool DefinitionVersionSnapshot::Restore() const {
    if (!m_taken) return false;
    ScopedRegKey key;
    if (!OpenRecordKey(KEY_SET_VALUE, key)) return false;
    if (!m_present) {
        const LONG status = ::RegDeleteValueW(key.Get(), kDefinitionVersionValue);
        return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
    }
    return ::RegSetValueExW(key.Get(), kDefinitionVersionValue, 0, m_type, m_data.data(),
                            static_cast<DWORD>(m_data.size())) == ERROR_SUCCESS;
}
