#include "framework/Afx.h"
#include "tests/unit/framework/FrameworkTestResources.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>

namespace {

// A dialog that records what happened to its window.
class ProbeDialog : public CDialog {
  public:
    explicit ProbeDialog(UINT templateId) : CDialog(templateId) {}

    std::function<void(ProbeDialog&)> onInit;
    std::atomic<HWND> window{nullptr};
    std::atomic<bool> initialised{false};
    std::atomic<bool> everShown{false};

    BOOL OnInitDialog() override {
        CDialog::OnInitDialog();
        window = m_hWnd;
        initialised = true;
        if (onInit) onInit(*this);
        return TRUE;
    }

  protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
        if (message == WM_SHOWWINDOW && wParam) everShown = true;
        return CDialog::WindowProc(message, wParam, lParam);
    }
};

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs = 5000) {
    for (DWORD waited = 0; waited < timeoutMs; waited += 10) {
        if (condition()) return true;
        ::Sleep(10);
    }
    return condition();
}

TEST(CDialogModal, MissingTemplateReturnsMinusOneWithoutInitialising) {
    ProbeDialog dialog(IDD_TEST_MISSING);
    EXPECT_EQ(dialog.DoModal(), -1);
    EXPECT_FALSE(dialog.initialised);
}

TEST(CDialogModal, AnEndRequestMadeBeforeTheRunEndsItWithoutShowingTheWindow) {
    ProbeDialog dialog(IDD_TEST_PLAIN);
    std::thread([&dialog] { dialog.EndDialog(7); }).join();
    EXPECT_EQ(dialog.DoModal(), 7);
    EXPECT_TRUE(dialog.initialised);
    EXPECT_FALSE(dialog.everShown);
    EXPECT_FALSE(::IsWindow(dialog.window));
    EXPECT_EQ(dialog.m_hWnd, nullptr);
}

TEST(CDialogModal, EndedDuringInitialisationIsNeverShown) {
    ProbeDialog dialog(IDD_TEST_PLAIN);
    dialog.onInit = [](ProbeDialog& d) { d.OnCancel(); };
    EXPECT_EQ(dialog.DoModal(), IDCANCEL);
    EXPECT_FALSE(dialog.everShown);
}

// Another thread ends the run once the window is on screen; meanwhile it
// checks where the window was placed.
TEST(CDialogModal, ShownWhenIdleCentredWhenUnownedAtOriginEndedFromAnotherThread) {
    RECT work;
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    const int centreX = (work.left + work.right) / 2;
    const int centreY = (work.top + work.bottom) / 2;

    struct Case {
        UINT templateId;
        bool centred;
    };
    for (const Case& c : {Case{IDD_TEST_PLAIN, true}, Case{IDD_TEST_PLACED, false}}) {
        SCOPED_TRACE(c.templateId);
        ProbeDialog dialog(c.templateId);
        RECT placed{};
        std::atomic<bool> sawVisible{false};
        std::thread ender([&] {
            sawVisible = WaitUntil([&] { return ::IsWindowVisible(dialog.window) != FALSE; });
            ::GetWindowRect(dialog.window, &placed);
            dialog.EndDialog(0);
        });
        INT_PTR result = dialog.DoModal();
        ender.join();
        EXPECT_EQ(result, 0);
        EXPECT_TRUE(sawVisible);
        EXPECT_FALSE(::IsWindow(dialog.window));
        int x = (placed.left + placed.right) / 2;
        int y = (placed.top + placed.bottom) / 2;
        if (c.centred) {
            EXPECT_NEAR(x, centreX, 1);
            EXPECT_NEAR(y, centreY, 1);
        } else {
            EXPECT_GT(std::abs(x - centreX) + std::abs(y - centreY), 20);
        }
    }
}

TEST(CDialogModal, UserCommandsEndTheRunWithTheDefaultResults) {
    struct Case {
        const char* name;
        UINT message;
        WPARAM wParam;
        INT_PTR expected;
    };
    const Case cases[] = {
        {"OK command", WM_COMMAND, IDOK, IDOK},
        {"cancel command", WM_COMMAND, IDCANCEL, IDCANCEL},
        {"close (Alt+F4)", WM_CLOSE, 0, IDCANCEL},
        {"Escape", WM_KEYDOWN, VK_ESCAPE, IDCANCEL},
        {"Enter", WM_KEYDOWN, VK_RETURN, IDOK},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ProbeDialog dialog(IDD_TEST_PLAIN);
        dialog.onInit = [&c](ProbeDialog& d) { ::PostMessageW(d.m_hWnd, c.message, c.wParam, 0); };
        EXPECT_EQ(dialog.DoModal(), c.expected);
    }
}

TEST(CDialogModeless, CreateShowsPerTemplateAndEndDialogOnlyHides) {
    ProbeDialog dialog(IDD_TEST_PLAIN);
    ASSERT_TRUE(dialog.Create(IDD_TEST_PLAIN, nullptr));
    HWND window = dialog.m_hWnd;
    ASSERT_TRUE(::IsWindow(window));
    dialog.ShowWindow(SW_SHOW);
    EXPECT_TRUE(::IsWindowVisible(window));
    dialog.EndDialog(0);
    EXPECT_TRUE(::IsWindow(window));
    EXPECT_FALSE(::IsWindowVisible(window));
}

TEST(CDialogModeless, DestructionDestroysTheWindow) {
    HWND window;
    {
        CDialog dialog(IDD_TEST_PLAIN);
        ASSERT_TRUE(dialog.Create(IDD_TEST_PLAIN));
        window = dialog.m_hWnd;
    }
    EXPECT_FALSE(::IsWindow(window));
    CDialog missing(IDD_TEST_MISSING);
    EXPECT_FALSE(missing.Create(IDD_TEST_MISSING));
}

}  // namespace
