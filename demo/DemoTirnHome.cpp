// The demo product: says which definition version it was installed with
// (TirnHome.version beside it, written by the demo installer).
#include "demo/DemoWindow.h"

#include <string>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
    wchar_t path[MAX_PATH];
    DWORD n = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring versionFile = std::wstring(path, n);
    versionFile = versionFile.substr(0, versionFile.find_last_of(L'.')) + L".version";

    char version[32] = "?";
    HANDLE file = ::CreateFileW(versionFile.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        DWORD read = 0;
        ::ReadFile(file, version, sizeof(version) - 1, &read, nullptr);
        version[read] = '\0';
        ::CloseHandle(file);
    }
    std::wstring text = L"Tirn Home is running.\n\nInstalled from definition version ";
    for (const char* c = version; *c; ++c) text += static_cast<wchar_t>(*c);
    text += L".";
    ShowDemoWindow(L"Tirn Home", text.c_str(), 3000);
    return 0;
}
