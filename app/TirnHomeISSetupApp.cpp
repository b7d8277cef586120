#include "app/TirnHomeISSetupApp.h"

#include "package/PackageVersion.h"
#include "resources/resource.h"
#include "ui/InitializingDlg.h"
#include "ui/TirnHomeISSetupDlg.h"
#include "app/InstallationRecord.h"
#include "app/InstalledProduct.h"
#include "app/UnpackingRoad.h"
#include "framework/EntryPoint.h"

#include <shellapi.h>
#include <shlwapi.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {
constexpr wchar_t kMarkerClass[] = L"#32770";
constexpr wchar_t kMarkerCaption[] = L"Tirn Home 2018 Setup";
constexpr wchar_t kInstanceMutexName[] = L"Local\\TirnHome2018Setup.Instance";
constexpr wchar_t kUpgradeArgument[] = L"/Upgrade";
constexpr wchar_t kUpgradeText[] = L"\u0110ang n\u00e2ng c\u1ea5p. Vui l\u00f2ng \u0111\u1ee3i ";
constexpr wchar_t kSetupText[] =
    L"\u0110ang kh\u1edfi t\u1ea1o m\u00f4i tr\u01b0\u1eddng. Vui l\u00f2ng \u0111\u1ee3i ";
}  // namespace

BEGIN_MESSAGE_MAP(CTirnHomeISSetupApp, CWinAppEx)
ON_COMMAND(ID_HELP, &CWinApp::OnHelp)
END_MESSAGE_MAP()

CTirnHomeISSetupApp::CTirnHomeISSetupApp() : CWinAppEx(TRUE), m_nLanguage(0), m_szInstallDir{} {}

BOOL CALLBACK FindSetupWindowProc(HWND window, LPARAM lParam) {
    wchar_t className[MAX_PATH];
    if (::GetClassNameW(window, className, MAX_PATH) == 0) return TRUE;
    wchar_t caption[MAX_PATH];
    int captionLength = ::GetWindowTextW(window, caption, MAX_PATH);
    if (captionLength == 0) return TRUE;
    caption[captionLength < MAX_PATH ? captionLength : MAX_PATH - 1] = L'\0';
    if (std::wcscmp(className, kMarkerClass) != 0) return TRUE;
    if (std::wcscmp(caption, kMarkerCaption) != 0) return TRUE;
    *reinterpret_cast<HWND*>(lParam) = window;
    return FALSE;
}

namespace {
// The Windows version as the system itself reports it (GetVersionEx answers
// what the manifest claims to support).
std::string WindowsVersion() {
    using RtlGetVersionFunction = LONG(WINAPI*)(OSVERSIONINFOW*);
    auto getVersion =
        EntryPoint<RtlGetVersionFunction>(::GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion");
    OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof(version);
    if (getVersion == nullptr || getVersion(&version) != 0) return "unknown";
    char text[64];
    std::snprintf(text, sizeof(text), "%lu.%lu.%lu", version.dwMajorVersion, version.dwMinorVersion,
                  version.dwBuildNumber);
    return text;
}

const char* YesNo(bool value) {
    return value ? "yes" : "no";
}
}  // namespace

BOOL CTirnHomeISSetupApp::InitInstance() {
    CWinAppEx::InitInstance();
    // Kept for the framework's settings key; nothing is ever stored under it.
    SetRegistryKey(L"Local AppWizard-Generated Applications");
    m_log = std::make_shared<RunLog>();
    m_log->Create();  // without a log the run is the same
    m_log->Line("TirnHomeISSetup 1.0.0.0 (%s), Windows %s, process %lu",
                sizeof(void*) == 8 ? "x64" : "PE32", WindowsVersion().c_str(),
                ::GetCurrentProcessId());

    StartFacts facts;
    facts.anotherLauncherRuns = AnotherLauncherRuns();
    CTirnHomeISSetupDlg* marker = nullptr;
    if (!facts.anotherLauncherRuns) {
        // The marker lives, hidden, until the process ends: never destroyed.
        marker = new CTirnHomeISSetupDlg();
        if (marker->Create(IDD_TIRNHOMEISSETUP_DIALOG, nullptr)) marker->ShowWindow(SW_HIDE);
        ReadFacts(facts);
    }
    LogFacts(facts);
    const Decision decision = Decide(facts);
    m_log->Line("decision: %s", DescribeDecision(decision));

    Outcome outcome = Outcome::AnotherLauncherRuns;
    switch (decision) {
        case Decision::AnotherLauncherRuns: break;
        case Decision::Refuse: outcome = Refuse(); break;
        case Decision::StartInstalledProduct: outcome = StartInstalledProduct(); break;
        case Decision::InstallFresh:
        case Decision::Upgrade:
            m_strSetupArgs = decision == Decision::Upgrade ? kUpgradeArgument : L"";
            outcome = Unpack();
            marker->EndDialog(0);
            break;
    }
    m_nExitCode = ExitCodeOf(outcome);
    m_log->Line("outcome: %s; exit code %u", DescribeOutcome(outcome), m_nExitCode);
    return FALSE;
}

void CTirnHomeISSetupApp::ReadFacts(StartFacts& facts) {
    m_strSetupArgs = L"";
    facts.productDirectoryExists =
        ReadInstallDir(m_szInstallDir, MAX_PATH) != 0 && ::PathIsDirectoryW(m_szInstallDir);
    if (facts.productDirectoryExists) {
        facts.conflictingProduct = IsConflictingProductInstalled(m_szInstallDir);
    }
    uint32_t installed = 0;
    if (ReadDefinitionVersion(&installed)) facts.installedVersion = installed;
    m_package = ReadPackageFacts();
    if (m_package.found) facts.packageVersion = m_package.trailer.definitionVersion;
}

void CTirnHomeISSetupApp::LogFacts(const StartFacts& facts) {
    m_log->Line("facts: another launcher runs: %s", YesNo(facts.anotherLauncherRuns));
    if (facts.anotherLauncherRuns) return;
    m_log->Line("facts: installation directory: %s%s",
                m_szInstallDir[0] != L'\0' ? RunLog::Utf8(m_szInstallDir).c_str() : "(none)",
                m_szInstallDir[0] == L'\0'     ? ""
                : facts.productDirectoryExists ? " (exists)"
                                               : " (missing)");
    m_log->Line("facts: conflicting product: %s", YesNo(facts.conflictingProduct));
    if (facts.installedVersion) {
        m_log->Line("facts: installed definition version: %u", *facts.installedVersion);
    } else {
        m_log->Line("facts: installed definition version: none");
    }
    if (!m_package.readable) {
        m_log->Line("facts: package: the setup could not be read: %s",
                    RunLog::DescribeError(m_package.error).c_str());
    } else if (!m_package.found) {
        m_log->Line("facts: package: none");
    } else {
        m_log->Line("facts: package: definition version %u, %u bytes, %s",
                    m_package.trailer.definitionVersion, m_package.trailer.payloadSize,
                    m_package.complete ? "complete" : "cut short");
    }
}

bool CTirnHomeISSetupApp::AnotherLauncherRuns() {
    // Two launchers started at the same moment could both miss each other's
    // marker window (the search and the marker's creation are not atomic):
    // a named mutex in this session settles it first. The handle stays open
    // for the life of the process. The marker window stays as it is, since
    // launchers of other builds look for it.
    ::CreateMutexW(nullptr, FALSE, kInstanceMutexName);
    if (::GetLastError() == ERROR_ALREADY_EXISTS) return true;
    HWND runningLauncher = nullptr;
    ::EnumWindows(&FindSetupWindowProc, reinterpret_cast<LPARAM>(&runningLauncher));
    return runningLauncher != nullptr;
}

Outcome CTirnHomeISSetupApp::Refuse() {
    CString message;
    message.LoadString(m_nLanguage == 1 ? IDS_CONFLICT_ENGLISH : IDS_CONFLICT_VIETNAMESE);
    ::MessageBoxW(nullptr, message, L"Tirn Home", MB_OK);
    return Outcome::Refused;
}

Outcome CTirnHomeISSetupApp::StartInstalledProduct() {
    CString program = BuildInstallPath(m_szInstallDir, L"TirnHome.exe");
    const auto result = reinterpret_cast<INT_PTR>(
        ::ShellExecuteW(nullptr, L"open", program, nullptr, m_szInstallDir, SW_SHOWNORMAL));
    // Above 32 is success; at or below it is the error.
    if (result > 32) {
        m_log->Line("started %s", RunLog::Utf8(program).c_str());
        return Outcome::ProductStarted;
    }
    m_log->Line("starting %s failed: %s", RunLog::Utf8(program).c_str(),
                RunLog::DescribeError(static_cast<DWORD>(result)).c_str());
    return Outcome::ProductNotStarted;
}

Outcome CTirnHomeISSetupApp::Unpack() {
    auto control = std::make_shared<RoadControl>();
    RoadRequest request;
    request.setupArgs = m_strSetupArgs;
    request.package = m_package;
    request.log = m_log;
    request.control = control;
    bool workerStarted = false;

    CInitializingDlg progress(nullptr);
    m_pMainWnd = &progress;
    progress.m_strMessage = m_strSetupArgs == kUpgradeArgument ? kUpgradeText : kSetupText;
    // Started once the window exists, so that it has a window to tell; the
    // window ends at once when the worker cannot start.
    progress.m_startWork = [&request, &workerStarted](HWND window) {
        request.progressWindow = window;
        workerStarted = StartUnpackingRoad(request);
        return workerStarted;
    };
    const INT_PTR ended = progress.DoModal();
    if (!workerStarted) {
        m_log->Line("the progress window or its worker could not be made (%d)",
                    static_cast<int>(ended));
        return Outcome::NoProgressWindow;
    }
    const Outcome outcome = control->Conclude().outcome;
    if (outcome == Outcome::Cancelled) m_log->Line("the progress window was dismissed");
    return outcome;
}
