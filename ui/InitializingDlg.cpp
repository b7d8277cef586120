#include "ui/InitializingDlg.h"

#include "resources/resource.h"

namespace {
// Live progress dialogs, guarded by one lock that a dialog's destructor takes
// before it goes away. Both are plain data: valid from load time to the
// process's very end, whatever thread is still running.
SRWLOCK g_liveLock = SRWLOCK_INIT;
CInitializingDlg* g_liveHead = nullptr;
}  // namespace

IMPLEMENT_DYNAMIC(CInitializingDlg, CDialog)

CInitializingDlg::CInitializingDlg(CWnd* parent) : CDialog(IDD_INITIALIZING, parent) {
    ::AcquireSRWLockExclusive(&g_liveLock);
    m_pNextLive = g_liveHead;
    g_liveHead = this;
    ::ReleaseSRWLockExclusive(&g_liveLock);
}

CInitializingDlg::~CInitializingDlg() {
    // Unreachable for the worker from here on.
    ::AcquireSRWLockExclusive(&g_liveLock);
    for (CInitializingDlg** link = &g_liveHead; *link != nullptr; link = &(*link)->m_pNextLive) {
        if (*link == this) {
            *link = m_pNextLive;
            break;
        }
    }
    ::ReleaseSRWLockExclusive(&g_liveLock);

    SetStopRequest();
    WaitForAnimationThread();
    if (HANDLE event = m_hStopEvent.exchange(nullptr)) ::CloseHandle(event);
}

bool CInitializingDlg::LockIfAlive(CInitializingDlg* dialog) {
    ::AcquireSRWLockShared(&g_liveLock);
    for (CInitializingDlg* live = g_liveHead; live != nullptr; live = live->m_pNextLive) {
        if (live == dialog) return true;
    }
    ::ReleaseSRWLockShared(&g_liveLock);
    return false;
}

void CInitializingDlg::UnlockLive() {
    ::ReleaseSRWLockShared(&g_liveLock);
}

void CInitializingDlg::SetStopRequest() {
    m_stopRequested = true;
    if (HANDLE event = m_hStopEvent) ::SetEvent(event);
}

bool CInitializingDlg::SignalStop(CInitializingDlg* dialog) {
    return WithLiveDialog(dialog, [](CInitializingDlg* d) { d->SetStopRequest(); });
}

bool CInitializingDlg::EndDialogIfAlive(CInitializingDlg* dialog, int result) {
    return WithLiveDialog(dialog, [result](CInitializingDlg* d) { d->EndDialog(result); });
}

void CInitializingDlg::WaitForAnimationThread() {
    if (m_hAnimationDone == nullptr) return;
    // The animation thread's window calls are carried out by this thread, so
    // keep handling sent messages while waiting for it.
    while (::MsgWaitForMultipleObjects(1, &m_hAnimationDone, FALSE, INFINITE, QS_SENDMESSAGE) ==
           WAIT_OBJECT_0 + 1) {
        MSG msg;
        ::PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
    ::CloseHandle(m_hAnimationDone);
    m_hAnimationDone = nullptr;
}

namespace {
// Runs inside the dialog's creation, below user32's frames: out of memory
// for the thread object must not unwind through them. The window then runs
// without its dots; the worker still ends it.
bool StartAnimationThread(CInitializingDlg* dialog) {
    try {
        return AfxBeginThread(&ProgressAnimationProc, dialog, THREAD_PRIORITY_NORMAL, 0, 0,
                              nullptr) != nullptr;
    } catch (...) {
        return false;
    }
}
}  // namespace

BOOL CInitializingDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    SetDlgItemText(IDC_MESSAGE, m_strMessage);

    HANDLE event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    m_hStopEvent = event;
    if (event == nullptr) {
        ::OutputDebugStringW(L"Cannot create synchronization event!");
        OnCancel();
    } else if (m_stopRequested) {
        ::SetEvent(event);  // the worker asked before the event existed
    }

    m_hAnimationDone = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (m_hAnimationDone != nullptr && !StartAnimationThread(this)) {
        ::CloseHandle(m_hAnimationDone);  // no thread to wait for
        m_hAnimationDone = nullptr;
    }
    return TRUE;
}

UINT ProgressAnimationProc(LPVOID parameter) {
    auto* dialog = static_cast<CInitializingDlg*>(parameter);
    // Last touch of the dialog, on every way out: after it the destructor may
    // free the object.
    struct SignalDone {
        HANDLE done;
        ~SignalDone() { ::SetEvent(done); }
    } signalDone{dialog->m_hAnimationDone};

    const HWND window = dialog->m_hWnd;
    ::SetWindowPos(window, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);

    int dots = 0;
    while (::WaitForSingleObject(dialog->m_hStopEvent, 500) == WAIT_TIMEOUT) {
        CString line = dialog->m_strMessage;
        if (++dots > 3) dots = 0;
        for (int i = 0; i < dots; ++i) line += L'.';
        ::SetDlgItemTextW(window, IDC_MESSAGE, line);
        ::InvalidateRect(window, nullptr, TRUE);
    }
    return 0;
}
