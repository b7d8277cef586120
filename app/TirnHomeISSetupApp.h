// The application: reads what it needs once, decides once what this run
// does, does it, and ends with an exit code that says how it went.
#pragma once

#include "app/Layer.h"

#include "app/Decision.h"
#include "app/LaunchOptions.h"
#include "app/Outcome.h"
#include "app/RunLog.h"
#include "app/UnpackingRoad.h"
#include "framework/Afx.h"
#include "package/PackageVersion.h"

#include <memory>
#include <optional>

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
    // Unpacks and starts the installer: behind the progress window, on a
    // worker thread, or, quiet, right here. With /wait the installer's own
    // exit code becomes the run's.
    Outcome Unpack(bool upgrade);
    RoadResult UnpackBehindTheProgressWindow(const RoadRequest& request, bool upgrade);
    // The switches in a message box, with what was wrong first when given.
    void ShowUsage(const wchar_t* problem);

    uint32_t m_nExitCode = 0;
    std::optional<uint32_t> m_installerExitCode;  // /wait: the installer's, handed on
    LaunchOptions m_options;
    PackageFacts m_package;
    // Shared with the worker, which may still write while the process ends.
    std::shared_ptr<RunLog> m_log;
};

// EnumWindows callback: stores the first top-level "#32770" window captioned
// exactly "Tirn Home 2018 Setup" in *(HWND*)lParam and stops.
BOOL CALLBACK FindSetupWindowProc(HWND window, LPARAM lParam);
