// Dialog windows built from the executable's dialog templates, modeless
// (Create) or modal (DoModal).
//
// Threads: the window belongs to the thread that creates it. EndDialog may
// be called from any thread at any time, also before DoModal has created the
// window: the request is kept and the modal run ends as soon as it can,
// without showing the window if it had not been shown yet.
#pragma once

#include "framework/Layer.h"

#include "framework/CWnd.h"

#include <atomic>

class CDialog : public CWnd {
    DECLARE_DYNAMIC(CDialog)
  public:
    explicit CDialog(UINT templateId, CWnd* parent = nullptr);

    // Modeless creation; nonzero when the window exists.
    BOOL Create(UINT templateId, CWnd* parent = nullptr);
    // The same, never shown, whatever the template's WS_VISIBLE says.
    BOOL CreateHidden(UINT templateId, CWnd* parent = nullptr);
    // Creates the window, runs it modally, hides and destroys it; returns the
    // result given to EndDialog, or -1 when the window cannot be created.
    virtual INT_PTR DoModal();
    void EndDialog(int result);

    virtual BOOL OnInitDialog() { return TRUE; }
    virtual void OnOK() { EndDialog(IDOK); }
    virtual void OnCancel() { EndDialog(IDCANCEL); }

  protected:
    void OnPaint() { Default(); }

    UINT m_nIDTemplate;
    CWnd* m_pParentWnd;

    DECLARE_MESSAGE_MAP()

  private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    HWND CreateFromTemplate(UINT templateId, CWnd* parent, bool hidden = false);
    void RunModalLoop();

    std::atomic<bool> m_endRequested{false};
    std::atomic<int> m_modalResult{-1};
    std::atomic<DWORD> m_modalThreadId{0};  // 0 until DoModal starts
};
