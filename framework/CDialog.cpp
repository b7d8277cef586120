#include "framework/CDialog.h"

#include "framework/CWinApp.h"

IMPLEMENT_DYNAMIC(CDialog, CWnd)

BEGIN_MESSAGE_MAP(CDialog, CWnd)
ON_COMMAND(IDOK, &CDialog::OnOK)
ON_COMMAND(IDCANCEL, &CDialog::OnCancel)
END_MESSAGE_MAP()

CDialog::CDialog(UINT templateId, CWnd* parent) : m_nIDTemplate(templateId), m_pParentWnd(parent) {}

INT_PTR CALLBACK CDialog::DialogProc(HWND window, UINT message, WPARAM, LPARAM lParam) {
    if (message != WM_INITDIALOG) return FALSE;  // everything else is in the map or default

    auto* self = reinterpret_cast<CDialog*>(lParam);
    self->Attach(window);
    // Called from inside user32: no exception may unwind through its frames.
    BOOL result = TRUE;
    try {
        result = self->OnInitDialog();
    } catch (...) {
        result = TRUE;  // the dialog runs as far as it got
    }

    // A dialog that is placed at (0, 0) and has no owner gets centred in the
    // work area, as the templates rely on.
    RECT rect;
    if (::GetWindow(window, GW_OWNER) == nullptr && ::GetWindowRect(window, &rect) &&
        rect.left == 0 && rect.top == 0) {
        self->CenterWindow();
    }
    return result;
}

HWND CDialog::CreateFromTemplate(UINT templateId, CWnd* parent) {
    HINSTANCE instance = AfxGetResourceHandle();
    HRSRC found = ::FindResourceW(instance, MAKEINTRESOURCEW(templateId), MAKEINTRESOURCEW(5));
    if (found == nullptr) return nullptr;
    HGLOBAL loaded = ::LoadResource(instance, found);
    auto* dialogTemplate = static_cast<LPCDLGTEMPLATEW>(::LockResource(loaded));
    if (dialogTemplate == nullptr) return nullptr;
    return ::CreateDialogIndirectParamW(instance, dialogTemplate,
                                        parent ? parent->GetSafeHwnd() : nullptr, &DialogProc,
                                        reinterpret_cast<LPARAM>(this));
}

BOOL CDialog::Create(UINT templateId, CWnd* parent) {
    m_nIDTemplate = templateId;
    m_pParentWnd = parent;
    return CreateFromTemplate(templateId, parent) != nullptr;
}

INT_PTR CDialog::DoModal() {
    m_modalThreadId = ::GetCurrentThreadId();
    if (CreateFromTemplate(m_nIDTemplate, m_pParentWnd) == nullptr || m_hWnd == nullptr) return -1;

    RunModalLoop();

    ::SetWindowPos(m_hWnd, nullptr, 0, 0, 0, 0,
                   SWP_HIDEWINDOW | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    DestroyWindow();
    return m_modalResult;
}

void CDialog::RunModalLoop() {
    bool shown = false;
    MSG msg;
    while (!m_endRequested) {
        // The window appears the first time the queue runs dry, so that what
        // was queued during creation is handled before the user sees it.
        if (!shown && !::PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE)) {
            ::ShowWindow(m_hWnd, SW_SHOWNORMAL);
            ::UpdateWindow(m_hWnd);
            shown = true;
            continue;
        }
        BOOL got = ::GetMessageW(&msg, nullptr, 0, 0);
        if (got == 0) {
            ::PostQuitMessage(static_cast<int>(msg.wParam));  // leave WM_QUIT for the outer loop
            return;
        }
        if (got < 0) return;
        if (!::IsDialogMessageW(m_hWnd, &msg)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
    }
}

void CDialog::EndDialog(int result) {
    m_modalResult = result;
    m_endRequested = true;
    // Wake the modal loop; a thread message cannot go to a destroyed window.
    if (DWORD thread = m_modalThreadId; thread != 0) {
        ::PostThreadMessageW(thread, WM_NULL, 0, 0);
        return;
    }
    // A modeless dialog only hides, as the system's EndDialog does.
    if (m_hWnd != nullptr &&
        ::GetWindowThreadProcessId(m_hWnd, nullptr) == ::GetCurrentThreadId()) {
        ::ShowWindow(m_hWnd, SW_HIDE);
    }
}
