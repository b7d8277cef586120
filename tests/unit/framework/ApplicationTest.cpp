#include "framework/Afx.h"
#include "tests/unit/framework/FrameworkTestResources.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>

namespace {

class TestApp : public CWinAppEx {
  public:
    TestApp() : CWinAppEx(TRUE) {}
    int initCalls = 0;
    bool exited = false;
    HWND mainWindow = nullptr;

    BOOL InitInstance() override {
        ++initCalls;
        SetRegistryKey(L"Local AppWizard-Generated Applications");
        auto* dialog = new CDialog(IDD_TEST_PLAIN);
        dialog->Create(IDD_TEST_PLAIN);
        mainWindow = dialog->m_hWnd;
        m_pMainWnd = dialog;
        return FALSE;
    }
    int ExitInstance() override {
        exited = true;
        return 5;
    }
};

TEST(ProgramEntry, InitInstanceFalseDestroysTheMainWindowAndExits) {
    TestApp app;
    EXPECT_EQ(AfxGetApp(), &app);
    EXPECT_TRUE(app.m_bResourceSmartUpdate);

    EXPECT_EQ(AfxWinMain(::GetModuleHandleW(nullptr)), 5);
    EXPECT_EQ(app.initCalls, 1);
    EXPECT_TRUE(app.exited);
    EXPECT_FALSE(::IsWindow(app.mainWindow));
    EXPECT_EQ(app.m_pMainWnd, nullptr);  // cleared when its window went
    EXPECT_STREQ(app.m_pszRegistryKey, L"Local AppWizard-Generated Applications");
}

std::atomic<int> g_ran{0};

UINT RecordAndReturn(LPVOID parameter) {
    g_ran = 1;
    return static_cast<UINT>(reinterpret_cast<uintptr_t>(parameter));
}

UINT Throw(LPVOID) {
    throw std::runtime_error("worker failed");
}

// Suspended, so that the self-deleting object is still there to be asked for
// its handle; then resumed and awaited through a duplicate.
DWORD RunToExitCode(AFX_THREADPROC procedure, LPVOID parameter, int priority = 0) {
    CWinThread* thread =
        AfxBeginThread(procedure, parameter, priority, 0, CREATE_SUSPENDED, nullptr);
    if (thread == nullptr) return 0xBAD;
    HANDLE handle;
    ::DuplicateHandle(::GetCurrentProcess(), thread->m_hThread, ::GetCurrentProcess(), &handle, 0,
                      FALSE, DUPLICATE_SAME_ACCESS);
    if (::GetThreadPriority(handle) != priority) return 0xBAD0;
    ::ResumeThread(handle);
    ::WaitForSingleObject(handle, 10000);
    DWORD code = 0;
    ::GetExitCodeThread(handle, &code);
    ::CloseHandle(handle);
    return code;
}

TEST(AfxBeginThread, ProcedureResultIsTheExitCodeAndExceptionsStayInside) {
    EXPECT_EQ(RunToExitCode(&RecordAndReturn, reinterpret_cast<LPVOID>(42)), 42u);
    EXPECT_EQ(RunToExitCode(&RecordAndReturn, nullptr, THREAD_PRIORITY_BELOW_NORMAL), 0u);
    EXPECT_EQ(RunToExitCode(&Throw, nullptr), static_cast<DWORD>(-1));
}

TEST(AfxBeginThread, RunsAtOnceWithoutBeingResumed) {
    g_ran = 0;
    ASSERT_NE(AfxBeginThread(&RecordAndReturn, nullptr), nullptr);
    for (int i = 0; i < 500 && g_ran == 0; ++i) ::Sleep(10);
    EXPECT_EQ(g_ran, 1);
}

}  // namespace
