// Command-line window probe for scripts (the demo):
//   WindowProbe list
//   WindowProbe wait-progress TIMEOUT_MS      a visible window with control 1000
//   WindowProbe wait-caption CAPTION TIMEOUT_MS    a visible window so captioned
//   WindowProbe wait-gone CAPTION TIMEOUT_MS       no visible window so captioned
//   WindowProbe close-message-box CAPTION TIMEOUT_MS
//   WindowProbe hold-dialog CAPTION MS    a hidden dialog so captioned, for MS
// Prints the windows it finds, one line each, in UTF-8. Exit code 0 when
// found, 1 on time-out, 2 on bad usage.
#include "tests/e2e/Desktop.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

void Print(const std::wstring& line) {
    int n = ::WideCharToMultiByte(CP_UTF8, 0, line.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string text(n, '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, line.c_str(), -1, text.data(), n, nullptr, nullptr);
    std::printf("%s\n", text.c_str());
    std::fflush(stdout);
}

// A hidden dialog so captioned, as a running launcher holds one; says so on
// stdout once it exists, then answers messages for ms.
int HoldDialog(const wchar_t* caption, DWORD ms) {
    HWND window = tirn::test::CreateCaptionedDialog(caption, false);
    if (window == nullptr) return 1;
    Print(std::wstring(L"holding \"") + caption + L"\"");
    const DWORD start = ::GetTickCount();
    for (DWORD waited = 0; waited < ms; waited = ::GetTickCount() - start) {
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, ms - waited, QS_ALLINPUT);
        MSG message;
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&message);
    }
    ::DestroyWindow(window);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    using namespace tirn::test;
    if (argc >= 2 && std::wstring(argv[1]) == L"list") {
        for (const TopWindow& w : ListTopWindows()) Print(w.Describe());
        return 0;
    }
    if (argc == 3 && std::wstring(argv[1]) == L"wait-progress") {
        auto found = WaitForWindows(
            [](const TopWindow& w) { return w.visible && !w.ControlText(1000).empty(); },
            static_cast<DWORD>(std::wcstoul(argv[2], nullptr, 10)));
        for (const TopWindow& w : found) Print(w.Describe());
        return found.empty() ? 1 : 0;
    }
    if (argc == 4 && std::wstring(argv[1]) == L"wait-gone") {
        const std::wstring caption = argv[2];
        const DWORD timeout = static_cast<DWORD>(std::wcstoul(argv[3], nullptr, 10));
        const bool gone = WaitUntil(
            [&] {
                for (const TopWindow& w : ListTopWindows()) {
                    if (w.visible && w.caption == caption) return false;
                }
                return true;
            },
            timeout);
        return gone ? 0 : 1;
    }
    const bool close = argc == 4 && std::wstring(argv[1]) == L"close-message-box";
    if (close || (argc == 4 && std::wstring(argv[1]) == L"wait-caption")) {
        const std::wstring caption = argv[2];
        auto found = WaitForWindows(
            [&](const TopWindow& w) {
                return w.visible && w.caption == caption && (!close || w.className == L"#32770");
            },
            static_cast<DWORD>(std::wcstoul(argv[3], nullptr, 10)));
        for (const TopWindow& w : found) {
            Print(w.Describe());
            if (close) ::PostMessageW(w.handle, WM_COMMAND, IDOK, 0);
        }
        return found.empty() ? 1 : 0;
    }
    if (argc == 4 && std::wstring(argv[1]) == L"hold-dialog") {
        return HoldDialog(argv[2], static_cast<DWORD>(std::wcstoul(argv[3], nullptr, 10)));
    }
    std::fprintf(stderr,
                 "usage: WindowProbe list | wait-progress MS | wait-caption CAPTION MS | "
                 "wait-gone CAPTION MS | "
                 "close-message-box CAPTION MS | hold-dialog CAPTION MS\n");
    return 2;
}
