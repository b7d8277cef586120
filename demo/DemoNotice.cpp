// The demo installer's notice: a small window, captioned by the first
// argument, that shows the other arguments as paragraphs and closes itself
// after 3 s.
//   DemoNotice.exe CAPTION PARAGRAPH...
#include "demo/DemoWindow.h"

#include <shellapi.h>

#include <string>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
    int argc = 0;
    LPWSTR* argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
    if (argv == nullptr || argc < 2) return 2;
    std::wstring text;
    for (int i = 2; i < argc; ++i) text += (i > 2 ? L"\n\n" : L"") + std::wstring(argv[i]);
    ShowDemoWindow(argv[1], text.c_str(), 3000);
    ::LocalFree(argv);
    return 0;
}
