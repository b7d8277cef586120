// The demo installer that the demo setup carries. Installs the demo product
// into "%ProgramFiles%\Tirn Home": TirnHome.exe (carried as a resource) and
// TirnHome.version (the definition version that the launcher recorded before
// starting it), records szTirnDir, and says whether it ran as an upgrade.
#include "DemoWindow.h"

#include <shellapi.h>

#include <string>

namespace {

constexpr int kProductResource = 1;

bool WriteBytes(const std::wstring& path, const void* data, DWORD size) {
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    BOOL ok = ::WriteFile(file, data, size, &written, nullptr) && written == size;
    ::CloseHandle(file);
    return ok;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int) {
    int argc = 0;
    LPWSTR* argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
    bool upgrade = false;
    for (int i = 1; i < argc; ++i) upgrade |= std::wstring(argv[i]) == L"/Upgrade";
    ::LocalFree(argv);

    DWORD version = 0, size = sizeof(version);
    bool recorded = ::RegGetValueW(HKEY_LOCAL_MACHINE, L"Software\\Tirn", L"DefinitionVersion",
                                   RRF_RT_REG_DWORD, nullptr, &version, &size) == ERROR_SUCCESS;

    wchar_t programFiles[MAX_PATH];
    DWORD n = ::GetEnvironmentVariableW(L"ProgramFiles", programFiles, MAX_PATH);
    std::wstring directory =
        (n > 0 && n < MAX_PATH ? std::wstring(programFiles) : L"C:\\") + L"\\Tirn Home";
    ::CreateDirectoryW(directory.c_str(), nullptr);

    HRSRC found = ::FindResourceW(instance, MAKEINTRESOURCEW(kProductResource), RT_RCDATA);
    bool installed = found != nullptr && WriteBytes(directory + L"\\TirnHome.exe",
                                                    ::LockResource(::LoadResource(instance, found)),
                                                    ::SizeofResource(instance, found));
    std::string versionText = recorded ? std::to_string(version) : "unknown";
    installed = installed && WriteBytes(directory + L"\\TirnHome.version", versionText.data(),
                                        static_cast<DWORD>(versionText.size()));
    HKEY key;
    if (installed && ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Tirn", 0, nullptr, 0,
                                       KEY_SET_VALUE, nullptr, &key, nullptr) == ERROR_SUCCESS) {
        ::RegSetValueExW(key, L"szTirnDir", 0, REG_SZ,
                         reinterpret_cast<const BYTE*>(directory.c_str()),
                         static_cast<DWORD>((directory.size() + 1) * sizeof(wchar_t)));
        ::RegCloseKey(key);
    }

    std::wstring text = std::wstring(upgrade ? L"Upgrade" : L"Fresh installation") +
                        L" of Tirn Home, definition version " +
                        std::wstring(versionText.begin(), versionText.end()) + L".\n\n" +
                        (installed ? L"Installed in " + directory : L"Installation failed.");
    ShowDemoWindow(L"Tirn Home Setup", text.c_str(), 3000);
    return installed ? 0 : 1;
}
