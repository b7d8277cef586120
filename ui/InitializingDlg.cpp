#include "ui/InitializingDlg.h"

#include "resources/resource.h"

IMPLEMENT_DYNAMIC(CInitializingDlg, CDialog)

BEGIN_MESSAGE_MAP(CInitializingDlg, CDialog)
ON_MESSAGE(CInitializingDlg::kWorkDoneMessage, &CInitializingDlg::OnWorkDone)
END_MESSAGE_MAP()

CInitializingDlg::CInitializingDlg(CWnd* parent) : CDialog(IDD_INITIALIZING, parent) {}

CInitializingDlg::~CInitializingDlg() {
    SetStopRequest();
    WaitForAnimationThread();
    if (HANDLE event = m_hStopEvent.exchange(nullptr)) ::CloseHandle(event);
}

void CInitializingDlg::SetStopRequest() {
    m_stopRequested = true;
    if (HANDLE event = m_hStopEvent) ::SetEvent(event);
}

LRESULT CInitializingDlg::OnWorkDone(WPARAM, LPARAM) {
    SetStopRequest();
    EndDialog(IDOK);
    return 0;
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
    }

    m_hAnimationDone = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (m_hAnimationDone != nullptr && !StartAnimationThread(this)) {
        ::CloseHandle(m_hAnimationDone);  // no thread to wait for
        m_hAnimationDone = nullptr;
    }
    // The work starts once there is a window to tell it is done; without it
    // nothing would ever end the window.
    if (event != nullptr && m_startWork) {
        bool started = false;
        try {
            started = m_startWork(m_hWnd);
        } catch (...) {
            started = false;  // out of memory: below user32's frames, nothing may unwind
        }
        if (!started) {
            SetStopRequest();
            EndDialog(IDABORT);
        }
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
