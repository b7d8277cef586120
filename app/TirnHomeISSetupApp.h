// The application: reads what it needs once, decides once what this run
// does, does it, and ends with an exit code that says how it went.
#pragma once

#include "app/Layer.h"

#include "app/Decision.h"
#include "app/Outcome.h"
#include "app/RunLog.h"
#include "framework/Afx.h"
#include "package/PackageVersion.h"

#include <memory>

class CTirnHomeISSetupApp : public CWinAppEx {
  public:
    CTirnHomeISSetupApp();

    // Quit (another launcher runs), refuse (a conflicting product), start the
    // installed product, or unpack and run the installer. Always FALSE; the
    // outcome is the exit code ExitInstance returns.
    BOOL InitInstance() override;
    int ExitInstance() override { return static_cast<int>(m_nExitCode); }

    // 1: English conflict message; anything else: Vietnamese. Nothing sets it
    // (the launcher reads no settings), so users see the Vietnamese text; the
    // English string stays in the table for a build that chooses it.
    int m_nLanguage;
    wchar_t m_szInstallDir[MAX_PATH];
    CString m_strSetupArgs;  // "" or "/Upgrade"; written before the worker starts

    DECLARE_MESSAGE_MAP()

  private:
    // A launcher already runs in this session.
    bool AnotherLauncherRuns();
    // The record, the installation directory and the package, each read once.
    void ReadFacts(StartFacts& facts);
    void LogFacts(const StartFacts& facts);
    // Carries out the decision.
    Outcome Refuse();
    Outcome StartInstalledProduct();
    // Shows the progress window while the worker unpacks and starts the
    // installer.
    Outcome Unpack();

    uint32_t m_nExitCode = 0;
    PackageFacts m_package;
    // Shared with the worker, which may still write while the process ends.
    std::shared_ptr<RunLog> m_log;
};

// EnumWindows callback: stores the first top-level "#32770" window captioned
// exactly "Tirn Home 2018 Setup" in *(HWND*)lParam and stops.
BOOL CALLBACK FindSetupWindowProc(HWND window, LPARAM lParam);
