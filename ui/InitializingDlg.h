// The progress window: one line of text whose trailing dots change every
// half second while the worker unpacks.
//
// Threads and what crosses them:
// - The main thread constructs the object, runs it modally and destroys it.
// - The animation thread (ProgressAnimationProc, started by OnInitDialog)
//   reads the window, m_hStopEvent and m_strMessage. The destructor stops it
//   and waits for it, so it never outlives the object.
// - Whoever does the work is started by OnInitDialog, through m_startWork,
//   with the window's handle, and tells the window it is done by posting
//   kWorkDoneMessage to that handle: a message, never a pointer to this
//   object. One that arrives after the window is gone is simply lost.
#pragma once

#include "ui/Layer.h"

#include "framework/Afx.h"

#include <atomic>
#include <functional>

class CInitializingDlg : public CDialog {
    DECLARE_DYNAMIC(CInitializingDlg)
  public:
    // Posted to the window when the work is done: the window stops its dots
    // and ends with IDOK.
    static constexpr UINT kWorkDoneMessage = WM_APP + 1;

    explicit CInitializingDlg(CWnd* parent = nullptr);
    ~CInitializingDlg() override;

    BOOL OnInitDialog() override;

    // Called once the window exists, with its handle; false when the work
    // could not be started, and the window then ends by itself.
    std::function<bool(HWND window)> m_startWork;

    CString m_strMessage;
    std::atomic<HANDLE> m_hStopEvent{nullptr};

  protected:
    LRESULT OnWorkDone(WPARAM, LPARAM);

    DECLARE_MESSAGE_MAP()

  private:
    friend UINT ProgressAnimationProc(LPVOID dialog);
    void SetStopRequest();
    void WaitForAnimationThread();

    std::atomic<bool> m_stopRequested{false};
    HANDLE m_hAnimationDone = nullptr;  // set by the animation thread as its last act
};

// The animation thread: raises the window into the topmost band, then adds
// 1, 2, 3, 0 dots on every 500 ms time-out of the stop event.
UINT ProgressAnimationProc(LPVOID dialog);
