// The progress window: one line of text whose trailing dots change every
// half second while the worker unpacks.
//
// Threads and what crosses them:
// - The main thread constructs the object, runs it modally and destroys it.
// - The animation thread (ProgressAnimationProc, started by OnInitDialog)
//   reads the window, m_hStopEvent and m_strMessage. The destructor stops it
//   and waits for it, so it never outlives the object.
// - The worker thread only reaches the object through SignalStop and
//   EndDialogIfAlive, which do nothing once the object is gone and keep a
//   request that arrives before the window exists.
#pragma once

#include "ui/Layer.h"

#include "framework/Afx.h"

#include <atomic>

class CInitializingDlg : public CDialog {
    DECLARE_DYNAMIC(CInitializingDlg)
  public:
    explicit CInitializingDlg(CWnd* parent = nullptr);
    ~CInitializingDlg() override;

    BOOL OnInitDialog() override;

    // Runs action(dialog) while the dialog is guaranteed to stay alive;
    // returns false, without running it, when the dialog is already gone.
    template <typename Action>
    static bool WithLiveDialog(CInitializingDlg* dialog, Action&& action);

    // Signals the stop event; a request made before the event exists is
    // kept and applied when OnInitDialog creates it.
    static bool SignalStop(CInitializingDlg* dialog);
    static bool EndDialogIfAlive(CInitializingDlg* dialog, int result);

    CString m_strMessage;
    std::atomic<HANDLE> m_hStopEvent{nullptr};

  private:
    friend UINT ProgressAnimationProc(LPVOID dialog);
    static bool LockIfAlive(CInitializingDlg* dialog);
    static void UnlockLive();
    void SetStopRequest();
    void WaitForAnimationThread();

    std::atomic<bool> m_stopRequested{false};
    HANDLE m_hAnimationDone = nullptr;  // set by the animation thread as its last act
    CInitializingDlg* m_pNextLive = nullptr;
};

// The animation thread: raises the window into the topmost band, then adds
// 1, 2, 3, 0 dots on every 500 ms time-out of the stop event.
UINT ProgressAnimationProc(LPVOID dialog);

template <typename Action>
bool CInitializingDlg::WithLiveDialog(CInitializingDlg* dialog, Action&& action) {
    if (!LockIfAlive(dialog)) return false;
    struct Unlock {
        ~Unlock() { UnlockLive(); }
    } unlock;
    action(dialog);
    return true;
}
