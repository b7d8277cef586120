// Threads and the application object. The one global application object
// registers itself on construction; the program entry calls its
// InitInstance and ends the process when that returns FALSE.
#pragma once

#include "framework/Layer.h"

#include "framework/CCmdTarget.h"

class CWnd;

#ifndef ID_HELP
#define ID_HELP 0xE146
#endif

using AFX_THREADPROC = UINT(__cdecl*)(LPVOID parameter);

class CWinThread : public CCmdTarget {
    DECLARE_DYNAMIC(CWinThread)
  public:
    CWinThread() = default;
    CWinThread(AFX_THREADPROC procedure, LPVOID parameter);
    ~CWinThread() override;

    virtual BOOL InitInstance() { return FALSE; }
    virtual int ExitInstance() { return 0; }
    // The message loop, for a thread whose InitInstance returned TRUE.
    virtual int Run();

    CWnd* m_pMainWnd = nullptr;
    HANDLE m_hThread = nullptr;
    DWORD m_nThreadID = 0;
    BOOL m_bAutoDelete = TRUE;

  private:
    friend CWinThread* AfxBeginThread(AFX_THREADPROC, LPVOID, int, UINT, DWORD,
                                      LPSECURITY_ATTRIBUTES);
    static unsigned __stdcall ThreadEntry(void* self);

    AFX_THREADPROC m_pfnThreadProc = nullptr;
    LPVOID m_pThreadParams = nullptr;
};

// Starts a worker thread running procedure(parameter). The returned object
// deletes itself when the procedure returns; its result is the thread's exit
// code. An exception never leaves the procedure's thread: it ends the thread
// with exit code (UINT)-1. Returns null when the thread cannot be created.
CWinThread* AfxBeginThread(AFX_THREADPROC procedure, LPVOID parameter,
                           int priority = THREAD_PRIORITY_NORMAL, UINT stackSize = 0,
                           DWORD creationFlags = 0, LPSECURITY_ATTRIBUTES security = nullptr);

class CWinApp : public CWinThread {
    DECLARE_DYNAMIC(CWinApp)
  public:
    explicit CWinApp(LPCWSTR appName = nullptr);
    ~CWinApp() override;

    BOOL InitInstance() override { return TRUE; }

    // Only records the name: nothing is stored under that key.
    void SetRegistryKey(LPCWSTR companyName) { m_pszRegistryKey = companyName; }

    // Help command handler, kept in the application's message map as the
    // framework wires it. The launcher ships no help file: nothing to open.
    void OnHelp() {}

    HINSTANCE m_hInstance = nullptr;
    LPCWSTR m_pszAppName = nullptr;
    LPCWSTR m_pszRegistryKey = nullptr;

    DECLARE_MESSAGE_MAP()
};

class CWinAppEx : public CWinApp {
    DECLARE_DYNAMIC(CWinAppEx)
  public:
    explicit CWinAppEx(BOOL resourceSmartUpdate = FALSE)
        : m_bResourceSmartUpdate(resourceSmartUpdate) {}

    const BOOL m_bResourceSmartUpdate;
};

CWinApp* AfxGetApp();
CWnd* AfxGetMainWnd();
// Resources always come from the executable itself.
HINSTANCE AfxGetResourceHandle();

// The program entry's work, callable without a real process start (tests).
int AfxWinMain(HINSTANCE instance);
