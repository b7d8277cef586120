// What a user would see on the desktop: the top-level windows of every
// process, hidden ones included, with their class, caption, visibility,
// styles, rectangle and the texts of their controls.
#pragma once

#include "framework/WindowsApi.h"

#include <functional>
#include <string>
#include <vector>

namespace tirn::test {

struct TopWindow {
    HWND handle = nullptr;
    DWORD processId = 0;
    std::wstring className;
    std::wstring caption;
    bool visible = false;
    LONG style = 0;
    LONG exStyle = 0;
    RECT rect{};
    std::vector<std::pair<int, std::wstring>> controls;  // id, text

    std::wstring ControlText(int id) const;
    // One line: handle, process, class, caption, visibility, styles, rect, controls.
    std::wstring Describe() const;
};

std::vector<TopWindow> ListTopWindows();

// Polls every few milliseconds until a window matches; empty on time-out.
std::vector<TopWindow> WaitForWindows(const std::function<bool(const TopWindow&)>& match,
                                      DWORD timeoutMs);

// Polls until done() is true; false on time-out.
bool WaitUntil(const std::function<bool()>& done, DWORD timeoutMs);

RECT PrimaryWorkArea();

// A dialog (#32770) of this process with the given caption, as a running
// launcher's marker is; null when it cannot be made. The caller destroys it.
HWND CreateCaptionedDialog(const wchar_t* caption, bool visible);

}  // namespace tirn::test
