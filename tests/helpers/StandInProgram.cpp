// Test helper: stands in for TirnHome.exe, Tir.exe or an installer. Records
// how it was started (command line, working directory, and the recorded
// DefinitionVersion as it found it, one per line, UTF-8) by adding to
// "<its own path>.started", then ends. The record appears whole or not at
// all: it is written beside and renamed into place, so a reader that sees
// the file sees every line.
#include <windows.h>

#include <cwchar>
#include <string>

namespace {
std::string Utf8(const wchar_t* text) {
    int n = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? n - 1 : 0, '\0');
    if (n > 1) ::WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
    return out;
}
}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
    // Like many installers, it loads an optional DLL by name, found first in
    // its own directory: what a planted DLL in the staging place would reach.
    // Done before the record is written, so a record means it was tried.
    ::LoadLibraryW(L"TirnSetupPlugin.dll");
    wchar_t self[MAX_PATH];
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    wchar_t directory[MAX_PATH];
    ::GetCurrentDirectoryW(MAX_PATH, directory);
    // The record as an installer of either width sees it: in the 32-bit view.
    DWORD version = 0, size = sizeof(version), type = 0;
    HKEY key = nullptr;
    std::string recorded = "none";
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Tirn", 0, KEY_QUERY_VALUE | KEY_WOW64_32KEY,
                        &key) == ERROR_SUCCESS) {
        if (::RegQueryValueExW(key, L"DefinitionVersion", nullptr, &type,
                               reinterpret_cast<BYTE*>(&version), &size) == ERROR_SUCCESS &&
            type == REG_DWORD) {
            recorded = std::to_string(version);
        }
        ::RegCloseKey(key);
    }
    std::string record = Utf8(::GetCommandLineW()) + "\n" + Utf8(directory) + "\n" +
                         "DefinitionVersion=" + recorded + "\n";

    const std::wstring log = std::wstring(self) + L".started";
    const std::wstring pending = log + L".pending";
    std::string earlier;
    HANDLE existing = ::CreateFileW(log.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (existing != INVALID_HANDLE_VALUE) {
        char buffer[4096];
        DWORD read = 0;
        while (::ReadFile(existing, buffer, sizeof(buffer), &read, nullptr) && read > 0) {
            earlier.append(buffer, read);
        }
        ::CloseHandle(existing);
    }
    const std::string whole = earlier + record;
    HANDLE file = ::CreateFileW(pending.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    DWORD written = 0;
    const BOOL wrote =
        ::WriteFile(file, whole.data(), static_cast<DWORD>(whole.size()), &written, nullptr) &&
        written == whole.size();
    ::CloseHandle(file);
    if (!wrote) return 1;
    if (!::MoveFileExW(pending.c_str(), log.c_str(), MOVEFILE_REPLACE_EXISTING)) return 1;
    // "/exitcode=N" among its arguments: it ends with N, as an installer that
    // asks for a restart (3010) or failed would.
    const wchar_t* exitCode = std::wcsstr(::GetCommandLineW(), L"/exitcode=");
    return exitCode != nullptr ? static_cast<int>(std::wcstoul(exitCode + 10, nullptr, 10)) : 0;
}
