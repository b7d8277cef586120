// The application: decides, once, at start-up what this run does.
#pragma once

#include "app/Layer.h"

#include "framework/Afx.h"

class CTirnHomeISSetupApp : public CWinAppEx {
  public:
    CTirnHomeISSetupApp();

    // Quit (another launcher runs), refuse (a conflicting product), start the
    // installed product, or unpack and run the installer. Always FALSE.
    BOOL InitInstance() override;

    // 1: English conflict message; anything else: Vietnamese. Nothing sets it
    // (the launcher reads no settings), so users see the Vietnamese text; the
    // English string stays in the table for a build that chooses it.
    int m_nLanguage;
    wchar_t m_szInstallDir[MAX_PATH];
    CString m_strSetupArgs;  // "" or "/Upgrade"; written before the worker starts

    DECLARE_MESSAGE_MAP()

  private:
    // The steps of InitInstance. A launcher already runs in this session.
    bool AnotherLauncherRuns();
    // With the product installed in m_szInstallDir: refuses a conflicting
    // product, or starts the installed one when its version is not older.
    // False when an upgrade is to be unpacked instead.
    bool SettledByTheInstalledProduct();
    // Shows the progress window while the worker unpacks and starts the
    // installer.
    void Unpack();
};

// EnumWindows callback: stores the first top-level "#32770" window captioned
// exactly "Tirn Home 2018 Setup" in *(HWND*)lParam and stops.
BOOL CALLBACK FindSetupWindowProc(HWND window, LPARAM lParam);
