#include "framework/CWnd.h"

namespace {
void (*g_goneObserver)(CWnd*) = nullptr;

void TellGone(CWnd* window) {
    if (g_goneObserver != nullptr) g_goneObserver(window);
}
}  // namespace

IMPLEMENT_DYNAMIC(CWnd, CCmdTarget)

CWnd::~CWnd() {
    if (m_hWnd != nullptr) DestroyWindow();
    TellGone(this);
}

void CWnd::SetGoneObserver(void (*observer)(CWnd*)) {
    g_goneObserver = observer;
}

BOOL CWnd::DestroyWindow() {
    if (m_hWnd == nullptr) return FALSE;
    return ::DestroyWindow(m_hWnd);
}

void CWnd::Attach(HWND window) {
    m_hWnd = window;
    ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    m_pfnSuper = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&SubclassProc)));
}

LRESULT CALLBACK CWnd::SubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<CWnd*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self == nullptr || self->m_hWnd != window)
        return ::DefWindowProcW(window, message, wParam, lParam);

    CurrentMessage outer = self->m_current;  // messages nest (SendMessage inside a handler)
    self->m_current = {message, wParam, lParam};
    // Called from inside user32: no exception may unwind through its frames.
    // A handler that ran out of memory has done what it could.
    LRESULT result = 0;
    try {
        result = self->WindowProc(message, wParam, lParam);
    } catch (...) {
        result = 0;
    }
    self->m_current = outer;

    if (message == WM_NCDESTROY) {
        ::SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(self->m_pfnSuper));
        ::SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        self->m_hWnd = nullptr;
        TellGone(self);
        self->PostNcDestroy();
    }
    return result;
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    UINT commandId = message == WM_COMMAND ? LOWORD(wParam) : 0;
    if (AFX_MSG_THUNK handler = FindMessageHandler(message, commandId)) {
        return handler(this, wParam, lParam);
    }
    return Default();
}

LRESULT CWnd::Default() {
    return ::CallWindowProcW(m_pfnSuper, m_hWnd, m_current.message, m_current.wParam,
                             m_current.lParam);
}

void CWnd::CenterWindow() {
    RECT window;
    ::GetWindowRect(m_hWnd, &window);
    RECT area;
    HWND owner = ::GetWindow(m_hWnd, GW_OWNER);
    if (owner != nullptr) {
        ::GetWindowRect(owner, &area);
    } else {
        MONITORINFO monitor{};
        monitor.cbSize = sizeof(monitor);
        ::GetMonitorInfoW(::MonitorFromWindow(m_hWnd, MONITOR_DEFAULTTOPRIMARY), &monitor);
        area = monitor.rcWork;
    }
    int width = window.right - window.left;
    int height = window.bottom - window.top;
    int x = area.left + ((area.right - area.left) - width) / 2;
    int y = area.top + ((area.bottom - area.top) - height) / 2;
    ::SetWindowPos(m_hWnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

CPaintDC::CPaintDC(CWnd* window) : m_hWnd(window->m_hWnd) {
    m_hDC = ::BeginPaint(m_hWnd, &m_ps);
}

CPaintDC::~CPaintDC() {
    ::EndPaint(m_hWnd, &m_ps);
}
