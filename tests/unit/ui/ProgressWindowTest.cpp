// The progress window with its animation thread, run for real with the
// launcher's own template 129, and the cross-thread requests the worker makes.
#include "framework/CMemoryException.h"
#include "resources/resource.h"
#include "ui/InitializingDlg.h"
#include "ui/TirnHomeISSetupDlg.h"

#include <gtest/gtest.h>
#include <tlhelp32.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

std::wstring ControlText(HWND dialog) {
    wchar_t text[256] = L"";
    ::GetDlgItemTextW(dialog, IDC_MESSAGE, text, 256);
    return text;
}

HWND FindProgressWindow(DWORD timeoutMs = 5000) {
    for (DWORD waited = 0; waited <= timeoutMs; waited += 5) {
        for (HWND w = ::GetTopWindow(nullptr); w != nullptr; w = ::GetWindow(w, GW_HWNDNEXT)) {
            DWORD pid = 0;
            ::GetWindowThreadProcessId(w, &pid);
            if (pid == ::GetCurrentProcessId() && ::IsWindowVisible(w) &&
                ::GetDlgItem(w, IDC_MESSAGE) != nullptr) {
                return w;
            }
        }
        ::Sleep(5);
    }
    return nullptr;
}

int ThreadCount() {
    HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry{};
    entry.dwSize = sizeof(entry);
    int count = 0;
    for (BOOL ok = ::Thread32First(snapshot, &entry); ok; ok = ::Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID == ::GetCurrentProcessId()) ++count;
    }
    ::CloseHandle(snapshot);
    return count;
}

bool ThreadCountReturnsTo(int expected, DWORD withinMs) {
    for (DWORD waited = 0; waited <= withinMs; waited += 5) {
        if (ThreadCount() <= expected) return true;
        ::Sleep(5);
    }
    return false;
}

// A hang is a failure, not a stuck test run: runs body on its own thread and
// ends the process with a failure when it does not finish in time.
void FinishesWithin(DWORD timeoutMs, const std::function<void()>& body) {
    HANDLE done = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::thread runner([&] {
        body();
        ::SetEvent(done);
    });
    if (::WaitForSingleObject(done, timeoutMs) != WAIT_OBJECT_0) {
        std::fprintf(stderr, "FAILED: the progress window did not end within %lu ms\n",
                     static_cast<unsigned long>(timeoutMs));
        std::fflush(stderr);
        ::ExitProcess(1);
    }
    runner.join();
    ::CloseHandle(done);
}

// The worker's closing: the message it posts to the window when it is done.
void CloseLikeTheWorker(HWND window) {
    ::PostMessageW(window, CInitializingDlg::kWorkDoneMessage, 0, 0);
}

TEST(ProgressWindow, DotsCycleOneTwoThreeNoneEveryHalfSecond) {
    struct Case {
        const wchar_t* base;
    };
    for (const Case& c :
         {Case{L"\u0110ang n\u00e2ng c\u1ea5p. Vui l\u00f2ng \u0111\u1ee3i "}, Case{L""}}) {
        SCOPED_TRACE(std::wstring(c.base).size());
        const std::wstring base = c.base;
        std::vector<std::wstring> seen;
        std::vector<double> changedAt;
        CInitializingDlg dialog;
        dialog.m_strMessage = c.base;
        std::thread observer([&] {
            HWND window = FindProgressWindow();
            if (window == nullptr) return dialog.EndDialog(-5);
            auto start = std::chrono::steady_clock::now();
            while (seen.size() < 5 &&
                   std::chrono::steady_clock::now() - start < std::chrono::seconds(5)) {
                std::wstring text = ControlText(window);
                if (seen.empty() || text != seen.back()) {
                    seen.push_back(text);
                    changedAt.push_back(std::chrono::duration<double, std::milli>(
                                            std::chrono::steady_clock::now() - start)
                                            .count());
                }
                ::Sleep(10);
            }
            CloseLikeTheWorker(window);
        });
        EXPECT_EQ(dialog.DoModal(), IDOK);
        observer.join();
        const std::vector<std::wstring> expected = {base, base + L".", base + L"..", base + L"...",
                                                    base};
        EXPECT_EQ(seen, expected);
        for (size_t i = 2; i < changedAt.size(); ++i) {
            EXPECT_GT(changedAt[i] - changedAt[i - 1], 350.0) << i;  // a 500 ms wait each
        }
    }
}

TEST(ProgressWindow, CentredTopmostWithoutCaption) {
    CInitializingDlg dialog;
    dialog.m_strMessage = L"x ";
    RECT placed{};
    LONG style = 0, exStyle = 0;
    std::thread observer([&] {
        HWND window = FindProgressWindow();
        for (int i = 0;
             i < 200 && window && !(::GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_TOPMOST); ++i) {
            ::Sleep(5);
        }
        if (window) {
            ::GetWindowRect(window, &placed);
            style = ::GetWindowLongW(window, GWL_STYLE);
            exStyle = ::GetWindowLongW(window, GWL_EXSTYLE);
            CloseLikeTheWorker(window);
        } else {
            dialog.EndDialog(-5);
        }
    });
    EXPECT_EQ(dialog.DoModal(), IDOK);
    observer.join();
    RECT work;
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    EXPECT_NEAR((placed.left + placed.right) / 2, (work.left + work.right) / 2, 1);
    EXPECT_NEAR((placed.top + placed.bottom) / 2, (work.top + work.bottom) / 2, 1);
    EXPECT_TRUE(exStyle & WS_EX_TOPMOST);
    EXPECT_NE(style & WS_CAPTION, static_cast<LONG>(WS_CAPTION));
    EXPECT_TRUE(style & WS_SYSMENU);
}

// Out of memory on the window's thread while it starts (its animation
// thread's object cannot be made): nothing unwinds through user32, the
// window runs without dots, and the worker's closing still ends it.
TEST(ProgressWindow, OutOfMemoryAsItStartsIsNoExceptionAndTheWorkerStillEndsIt) {
    CInitializingDlg dialog;
    dialog.m_strMessage = L"x ";
    std::wstring shown;
    std::thread worker([&] {
        if (HWND window = FindProgressWindow()) {
            shown = ControlText(window);
            CloseLikeTheWorker(window);
        } else {
            dialog.EndDialog(-5);
        }
    });
    INT_PTR result = -2;
    {
        ScopedAllocationFailure outOfMemory;
        try {
            result = dialog.DoModal();
        } catch (...) {
            result = -3;  // an exception came out of the dialog's creation
        }
    }
    worker.join();
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(shown, L"x ");
}

// The work starts once the window exists, with its handle: a work that ends
// at once still ends the window, and one that cannot start ends it too
// instead of leaving it to the user. The animation thread stops either way.
TEST(ProgressWindowRaces, TheWorkStartsWithTheWindowAndEndsIt) {
    struct Case {
        const char* name;
        bool starts;
        INT_PTR expected;
    };
    for (const Case& c : {Case{"the work ends at once", true, IDOK},
                          Case{"the work cannot start", false, IDABORT}}) {
        SCOPED_TRACE(c.name);
        const int threadsBefore = ThreadCount();
        FinishesWithin(10000, [&c] {
            CInitializingDlg dialog;
            dialog.m_strMessage = L"x ";
            HWND given = nullptr;
            dialog.m_startWork = [&given, &c](HWND window) {
                given = window;
                if (c.starts) CloseLikeTheWorker(window);
                return c.starts;
            };
            EXPECT_EQ(dialog.DoModal(), c.expected);
            EXPECT_NE(given, nullptr);
            EXPECT_EQ(::WaitForSingleObject(dialog.m_hStopEvent, 0), WAIT_OBJECT_0);
        });
        EXPECT_TRUE(ThreadCountReturnsTo(threadsBefore, 2000));
    }
}

// The user dismisses the window while the worker still runs: the worker's
// later requests find no dialog, and the animation thread is gone as soon as
// the dialog object is.
TEST(ProgressWindowRaces, UserDismissesBeforeTheWorkerEnds) {
    struct Case {
        const char* name;
        UINT message;
        WPARAM wParam;
        INT_PTR expected;
    };
    const Case cases[] = {
        {"Enter", WM_KEYDOWN, VK_RETURN, IDOK},
        {"Escape", WM_KEYDOWN, VK_ESCAPE, IDCANCEL},
        {"Alt+F4", WM_SYSCOMMAND, SC_CLOSE, IDCANCEL},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const int threadsBefore = ThreadCount();
        auto* dialog = new CInitializingDlg();
        HWND window = nullptr;
        FinishesWithin(10000, [&] {
            dialog->m_strMessage = L"x ";
            std::thread user([&] {
                window = FindProgressWindow();
                // Dismissed once the animation has run a step (its first dot).
                for (DWORD waited = 0; window && waited < 5000 && ControlText(window) != L"x .";
                     waited += 5) {
                    ::Sleep(5);
                }
                if (window) ::PostMessageW(window, c.message, c.wParam, 0);
            });
            EXPECT_EQ(dialog->DoModal(), c.expected);
            user.join();
            delete dialog;
        });
        EXPECT_TRUE(ThreadCountReturnsTo(threadsBefore, 200));
        // The worker, late: its message finds no window, and no object.
        EXPECT_NE(window, nullptr);
        EXPECT_FALSE(::PostMessageW(window, CInitializingDlg::kWorkDoneMessage, 0, 0));
    }
}

TEST(MarkerWindow, IconIsCentredRoundingHalfUpTowardZero) {
    const int icon = 32;
    struct Case {
        int clientWidth;
        int expectedX;
    };
    for (const Case& c : {Case{icon + 1, 1}, Case{icon, 0}, Case{icon - 2, 0}, Case{icon - 3, -1},
                          Case{icon + 10, 5}}) {
        SCOPED_TRACE(c.clientWidth);
        RECT client{0, 0, c.clientWidth, c.clientWidth};
        POINT origin = CTirnHomeISSetupDlg::IconOrigin(client, icon, icon);
        EXPECT_EQ(origin.x, c.expectedX);
        EXPECT_EQ(origin.y, c.expectedX);
    }
}

TEST(MarkerWindow, HiddenDialogOfTheMarkerClassAndCaptionWithTheAppIcon) {
    CTirnHomeISSetupDlg marker;
    ASSERT_TRUE(marker.Create(IDD_TIRNHOMEISSETUP_DIALOG, nullptr));
    marker.ShowWindow(SW_HIDE);
    wchar_t className[64], caption[64];
    ::GetClassNameW(marker.m_hWnd, className, 64);
    ::GetWindowTextW(marker.m_hWnd, caption, 64);
    EXPECT_STREQ(className, L"#32770");
    EXPECT_STREQ(caption, L"Tirn Home 2018 Setup");
    EXPECT_FALSE(::IsWindowVisible(marker.m_hWnd));
    HICON big = reinterpret_cast<HICON>(::SendMessageW(marker.m_hWnd, WM_GETICON, ICON_BIG, 0));
    HICON small = reinterpret_cast<HICON>(::SendMessageW(marker.m_hWnd, WM_GETICON, ICON_SMALL, 0));
    EXPECT_NE(big, nullptr);
    EXPECT_EQ(big, small);
    EXPECT_EQ(reinterpret_cast<HICON>(::SendMessageW(marker.m_hWnd, WM_QUERYDRAGICON, 0, 0)), big);
    marker.EndDialog(0);
    EXPECT_TRUE(::IsWindow(marker.m_hWnd));
    EXPECT_FALSE(::IsWindowVisible(marker.m_hWnd));
}

}  // namespace
