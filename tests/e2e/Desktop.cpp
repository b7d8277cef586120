#include "tests/e2e/Desktop.h"

#include <cstdio>

namespace tirn::test {

namespace {

std::wstring TextOf(HWND window) {
    wchar_t text[1024] = L"";
    int n = ::GetWindowTextW(window, text, 1024);
    return std::wstring(text, n > 0 ? n : 0);
}

BOOL CALLBACK CollectControl(HWND control, LPARAM lParam) {
    auto* window = reinterpret_cast<TopWindow*>(lParam);
    if (::GetParent(control) == window->handle) {
        window->controls.emplace_back(::GetDlgCtrlID(control), TextOf(control));
    }
    return TRUE;
}

BOOL CALLBACK CollectTopWindow(HWND handle, LPARAM lParam) {
    TopWindow window;
    window.handle = handle;
    ::GetWindowThreadProcessId(handle, &window.processId);
    wchar_t className[256] = L"";
    ::GetClassNameW(handle, className, 256);
    window.className = className;
    window.caption = TextOf(handle);
    window.visible = ::IsWindowVisible(handle) != FALSE;
    window.style = ::GetWindowLongW(handle, GWL_STYLE);
    window.exStyle = ::GetWindowLongW(handle, GWL_EXSTYLE);
    ::GetWindowRect(handle, &window.rect);
    ::EnumChildWindows(handle, &CollectControl, reinterpret_cast<LPARAM>(&window));
    reinterpret_cast<std::vector<TopWindow>*>(lParam)->push_back(std::move(window));
    return TRUE;
}

INT_PTR CALLBACK NoDialogProc(HWND, UINT, WPARAM, LPARAM) {
    return FALSE;
}

}  // namespace

HWND CreateCaptionedDialog(const wchar_t* caption, bool visible) {
    struct alignas(4) {
        DLGTEMPLATE header;
        WORD menu, windowClass, title;
    } dialog{};
    dialog.header.style = WS_POPUP | WS_CAPTION | (visible ? WS_VISIBLE : 0);
    dialog.header.cx = 100;
    dialog.header.cy = 30;
    HWND window = ::CreateDialogIndirectParamW(::GetModuleHandleW(nullptr), &dialog.header, nullptr,
                                               &NoDialogProc, 0);
    if (window != nullptr && !::SetWindowTextW(window, caption)) {
        ::DestroyWindow(window);
        return nullptr;
    }
    return window;
}

std::wstring TopWindow::ControlText(int id) const {
    for (const auto& [controlId, text] : controls) {
        if (controlId == id) return text;
    }
    return L"";
}

std::wstring TopWindow::Describe() const {
    wchar_t head[256];
    std::swprintf(head, 256,
                  L"%p pid=%lu class=%ls visible=%d style=%08lx exstyle=%08lx rect=%ld,%ld,%ld,%ld",
                  static_cast<void*>(handle), static_cast<unsigned long>(processId),
                  className.c_str(), visible ? 1 : 0, static_cast<unsigned long>(style),
                  static_cast<unsigned long>(exStyle), rect.left, rect.top, rect.right,
                  rect.bottom);
    std::wstring line = std::wstring(head) + L" caption=\"" + caption + L"\"";
    for (const auto& [id, text] : controls) {
        line += L" [" + std::to_wstring(id) + L"]=\"" + text + L"\"";
    }
    return line;
}

std::vector<TopWindow> ListTopWindows() {
    std::vector<TopWindow> windows;
    ::EnumWindows(&CollectTopWindow, reinterpret_cast<LPARAM>(&windows));
    return windows;
}

std::vector<TopWindow> WaitForWindows(const std::function<bool(const TopWindow&)>& match,
                                      DWORD timeoutMs) {
    const DWORD start = ::GetTickCount();
    for (;;) {
        std::vector<TopWindow> found;
        for (TopWindow& w : ListTopWindows()) {
            if (match(w)) found.push_back(std::move(w));
        }
        if (!found.empty() || ::GetTickCount() - start > timeoutMs) return found;
        ::Sleep(5);
    }
}

bool WaitUntil(const std::function<bool()>& done, DWORD timeoutMs) {
    const DWORD start = ::GetTickCount();
    for (;;) {
        if (done()) return true;
        if (::GetTickCount() - start > timeoutMs) return false;
        ::Sleep(5);
    }
}

RECT PrimaryWorkArea() {
    RECT work;
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    return work;
}

}  // namespace tirn::test
