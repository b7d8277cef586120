// A small captioned window with a few lines of text, centred on the screen,
// that closes itself after a while so the demo runs unattended.
#pragma once

#include <windows.h>

void ShowDemoWindow(const wchar_t* caption, const wchar_t* text, UINT closeAfterMs);
