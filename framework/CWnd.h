// A window owned by an object. Messages reach the object through a
// subclassed window procedure and its message map; anything not in the map
// goes to the window's original procedure (Default).
#pragma once

#include "framework/Layer.h"

#include "framework/CCmdTarget.h"

class CWnd : public CCmdTarget {
    DECLARE_DYNAMIC(CWnd)
  public:
    CWnd() = default;
    // Destroys the window if it still exists.
    ~CWnd() override;

    HWND GetSafeHwnd() const { return m_hWnd; }
    BOOL DestroyWindow();
    BOOL ShowWindow(int command) { return ::ShowWindow(m_hWnd, command); }
    BOOL IsIconic() const { return ::IsIconic(m_hWnd); }
    void GetClientRect(LPRECT rect) const { ::GetClientRect(m_hWnd, rect); }
    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
        return ::SendMessageW(m_hWnd, message, wParam, lParam);
    }
    void SetDlgItemText(int id, LPCWSTR text) { ::SetDlgItemTextW(m_hWnd, id, text); }
    void InvalidateRect(LPCRECT rect, BOOL erase = TRUE) { ::InvalidateRect(m_hWnd, rect, erase); }
    BOOL SetWindowPos(HWND insertAfter, int x, int y, int cx, int cy, UINT flags) {
        return ::SetWindowPos(m_hWnd, insertAfter, x, y, cx, cy, flags);
    }
    // Centres an unowned window in the work area of its monitor, an owned one
    // over its owner.
    void CenterWindow();

    // Whom to tell when a window object's window is gone (destroyed, or the
    // object with it): the application, which must not keep it as its main
    // window. The window stays below the application and knows it only so.
    static void SetGoneObserver(void (*observer)(CWnd* window));

    HWND m_hWnd = nullptr;

  protected:
    // Handles one message: the map first, then the window's own procedure.
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    // Passes the message being handled to the window's original procedure.
    LRESULT Default();
    // Called once the window is gone.
    virtual void PostNcDestroy() {}

    void OnPaint() { Default(); }

    // Takes over a window created for this object.
    void Attach(HWND window);

  private:
    static LRESULT CALLBACK SubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    struct CurrentMessage {
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
    };
    WNDPROC m_pfnSuper = nullptr;
    CurrentMessage m_current{};
};

// Paint context of a window's WM_PAINT: BeginPaint on construction, EndPaint
// on destruction.
class CPaintDC {
  public:
    explicit CPaintDC(CWnd* window);
    ~CPaintDC();
    CPaintDC(const CPaintDC&) = delete;
    CPaintDC& operator=(const CPaintDC&) = delete;

    operator HDC() const { return m_hDC; }  // NOLINT
    BOOL DrawIcon(int x, int y, HICON icon) { return ::DrawIcon(m_hDC, x, y, icon); }

    HDC m_hDC;
    PAINTSTRUCT m_ps;

  private:
    HWND m_hWnd;
};
