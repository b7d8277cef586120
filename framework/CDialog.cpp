#include "framework/CDialog.h"

#include <cstring>
#include <vector>

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

HWND CDialog::CreateFromTemplate(UINT templateId, CWnd* parent, bool hidden) {
    HINSTANCE instance = AfxGetResourceHandle();
    HRSRC found = ::FindResourceW(instance, MAKEINTRESOURCEW(templateId), MAKEINTRESOURCEW(5));
    if (found == nullptr) return nullptr;
    HGLOBAL loaded = ::LoadResource(instance, found);
    auto* dialogTemplate = static_cast<LPCDLGTEMPLATEW>(::LockResource(loaded));
    if (dialogTemplate == nullptr) return nullptr;
    HWND owner = parent ? parent->GetSafeHwnd() : nullptr;
    const auto self = reinterpret_cast<LPARAM>(this);
    if (!hidden)
        return ::CreateDialogIndirectParamW(instance, dialogTemplate, owner, &DialogProc, self);
    // A copy without WS_VISIBLE, so that the window is never shown, not even
    // for a moment: its style is the first DWORD of a DLGTEMPLATE, the fourth
    // of a DLGTEMPLATEEX (which starts with version 1 and 0xFFFF).
    const DWORD size = ::SizeofResource(instance, found);
    if (size < 16) return nullptr;
    std::vector<DWORD> copy(size / sizeof(DWORD) + 1);
    std::memcpy(copy.data(), dialogTemplate, size);
    const auto* words = reinterpret_cast<const WORD*>(copy.data());
    DWORD& style = words[0] == 1 && words[1] == 0xFFFF ? copy[3] : copy[0];
    style &= ~static_cast<DWORD>(WS_VISIBLE);
    return ::CreateDialogIndirectParamW(instance, reinterpret_cast<LPCDLGTEMPLATEW>(copy.data()),
                                        owner, &DialogProc, self);
}

BOOL CDialog::Create(UINT templateId, CWnd* parent) {
    m_nIDTemplate = templateId;
    m_pParentWnd = parent;
    return CreateFromTemplate(templateId, parent) != nullptr;
}

BOOL CDialog::CreateHidden(UINT templateId, CWnd* parent) {
    m_nIDTemplate = templateId;
    m_pParentWnd = parent;
    return CreateFromTemplate(templateId, parent, true) != nullptr;
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
