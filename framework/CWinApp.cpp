#include "framework/CWinApp.h"

#include "framework/CWnd.h"

#include <process.h>

namespace {
CWinApp* g_application = nullptr;

// The application never keeps a main window that no longer exists.
void ForgetMainWindow(CWnd* window) {
    if (g_application != nullptr && g_application->m_pMainWnd == window) {
        g_application->m_pMainWnd = nullptr;
    }
}
}  // namespace

IMPLEMENT_DYNAMIC(CWinThread, CCmdTarget)
IMPLEMENT_DYNAMIC(CWinApp, CWinThread)
IMPLEMENT_DYNAMIC(CWinAppEx, CWinApp)

BEGIN_MESSAGE_MAP(CWinApp, CCmdTarget)
END_MESSAGE_MAP()

CWinThread::CWinThread(AFX_THREADPROC procedure, LPVOID parameter)
    : m_pfnThreadProc(procedure), m_pThreadParams(parameter) {}

CWinThread::~CWinThread() {
    if (m_hThread != nullptr && m_pfnThreadProc != nullptr) ::CloseHandle(m_hThread);
}

int CWinThread::Run() {
    MSG msg;
    while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
    return ExitInstance();
}

unsigned __stdcall CWinThread::ThreadEntry(void* self) {
    auto* thread = static_cast<CWinThread*>(self);
    UINT exitCode;
    try {
        exitCode = thread->m_pfnThreadProc(thread->m_pThreadParams);
    } catch (...) {
        exitCode = static_cast<UINT>(-1);
    }
    if (thread->m_bAutoDelete) delete thread;
    return exitCode;
}

CWinThread* AfxBeginThread(AFX_THREADPROC procedure, LPVOID parameter, int priority, UINT stackSize,
                           DWORD creationFlags, LPSECURITY_ATTRIBUTES security) {
    auto* thread = new CWinThread(procedure, parameter);
    unsigned threadId = 0;
    // Created suspended so that the object is complete before the procedure
    // can run (and delete it).
    uintptr_t handle = _beginthreadex(security, stackSize, &CWinThread::ThreadEntry, thread,
                                      CREATE_SUSPENDED, &threadId);
    if (handle == 0) {
        delete thread;
        return nullptr;
    }
    thread->m_hThread = reinterpret_cast<HANDLE>(handle);
    thread->m_nThreadID = threadId;
    ::SetThreadPriority(thread->m_hThread, priority);
    if ((creationFlags & CREATE_SUSPENDED) == 0) ::ResumeThread(thread->m_hThread);
    return thread;
}

CWinApp::CWinApp(LPCWSTR appName) : m_pszAppName(appName) {
    m_bAutoDelete = FALSE;
    g_application = this;
    CWnd::SetGoneObserver(&ForgetMainWindow);
}

CWinApp::~CWinApp() {
    if (g_application == this) g_application = nullptr;
}

CWinApp* AfxGetApp() {
    return g_application;
}

CWnd* AfxGetMainWnd() {
    return g_application ? g_application->m_pMainWnd : nullptr;
}

HINSTANCE AfxGetResourceHandle() {
    return g_application && g_application->m_hInstance ? g_application->m_hInstance
                                                       : ::GetModuleHandleW(nullptr);
}

int AfxWinMain(HINSTANCE instance) {
    CWinApp* app = AfxGetApp();
    if (app == nullptr) return -1;
    app->m_hInstance = instance;
    app->m_hThread = ::GetCurrentThread();
    app->m_nThreadID = ::GetCurrentThreadId();
    if (app->InitInstance()) return app->Run();
    if (CWnd* main = app->m_pMainWnd; main != nullptr && main->GetSafeHwnd() != nullptr) {
        main->DestroyWindow();
    }
    return app->ExitInstance();
}
