// Test helper: stands in for TirnHome.exe, Tir.exe or an installer. Records
// how it was started (command line, working directory, and the recorded
// DefinitionVersion as it found it, one per line, UTF-8) by appending to
// "<its own path>.started", then ends.
#include <windows.h>

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
    wchar_t self[MAX_PATH];
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    wchar_t directory[MAX_PATH];
    ::GetCurrentDirectoryW(MAX_PATH, directory);
    DWORD version = 0, size = sizeof(version);
    std::string recorded =
        ::RegGetValueW(HKEY_LOCAL_MACHINE, L"Software\\Tirn", L"DefinitionVersion",
                       RRF_RT_REG_DWORD, nullptr, &version, &size) == ERROR_SUCCESS
            ? std::to_string(version)
            : "none";
    std::string record = Utf8(::GetCommandLineW()) + "\n" + Utf8(directory) + "\n" +
                         "DefinitionVersion=" + recorded + "\n";

    std::wstring log = std::wstring(self) + L".started";
    HANDLE file = ::CreateFileW(log.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    DWORD written = 0;
    ::WriteFile(file, record.data(), static_cast<DWORD>(record.size()), &written, nullptr);
    ::CloseHandle(file);
    return 0;
}
