#include "demo/DemoWindow.h"

namespace {
LRESULT CALLBACK DemoWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_TIMER: ::DestroyWindow(window); return 0;
        case WM_DESTROY: ::PostQuitMessage(0); return 0;
        default: return ::DefWindowProcW(window, message, wParam, lParam);
    }
}
}  // namespace

void ShowDemoWindow(const wchar_t* caption, const wchar_t* text, UINT closeAfterMs) {
    HINSTANCE instance = ::GetModuleHandleW(nullptr);
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = &DemoWindowProc;
    windowClass.hInstance = instance;
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.hCursor = ::LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));
    windowClass.lpszClassName = L"TirnHomeDemoWindow";
    ::RegisterClassW(&windowClass);

    const int width = 420, height = 150;
    RECT work;
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    HWND window = ::CreateWindowExW(
        0, windowClass.lpszClassName, caption, WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU,
        (work.left + work.right - width) / 2, (work.top + work.bottom - height) / 2, width, height,
        nullptr, nullptr, instance, nullptr);
    HWND label = ::CreateWindowExW(0, L"STATIC", text, WS_CHILD | WS_VISIBLE | SS_LEFT, 16, 16,
                                   width - 40, height - 60, window, nullptr, instance, nullptr);
    ::SendMessageW(label, WM_SETFONT, reinterpret_cast<WPARAM>(::GetStockObject(DEFAULT_GUI_FONT)),
                   TRUE);
    ::ShowWindow(window, SW_SHOWNORMAL);
    ::SetTimer(window, 1, closeAfterMs, nullptr);
    MSG msg;
    while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
}
