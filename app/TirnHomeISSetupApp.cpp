#include "app/TirnHomeISSetupApp.h"

#include "package/PackageVersion.h"
#include "resources/resource.h"
#include "ui/InitializingDlg.h"
#include "ui/TirnHomeISSetupDlg.h"
#include "app/InstallationRecord.h"
#include "app/InstalledProduct.h"
#include "app/UnpackingRoad.h"
#include "framework/EntryPoint.h"
#include "framework/ScopedHandle.h"
#include "package/ProgramLaunch.h"

#include <shellapi.h>
#include <shlwapi.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

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

// The process's arguments, its own name left out.
std::vector<std::wstring> CommandLineArguments() {
    int count = 0;
    LPWSTR* arguments = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    std::vector<std::wstring> list;
    if (arguments == nullptr) return list;
    for (int i = 1; i < count; ++i) list.emplace_back(arguments[i]);
    ::LocalFree(arguments);
    return list;
}

// The switches, in the product's language like its other texts.
constexpr wchar_t kUsageText[] =
    L"C\u00e1ch d\u00f9ng: TirnHomeISSetup.exe [/quiet] [/wait] [/log <t\u1ec7p>] [--] "
    L"[tham s\u1ed1 cho tr\u00ecnh c\u00e0i \u0111\u1eb7t]\n\n"
    L"/quiet\n    Kh\u00f4ng hi\u1ec7n c\u1eeda s\u1ed5 n\u00e0o; k\u1ebft qu\u1ea3 l\u00e0 "
    L"m\u00e3 "
    L"tho\u00e1t v\u00e0 t\u1ec7p nh\u1eadt k\u00fd.\n"
    L"/wait\n    Ch\u1edd tr\u00ecnh c\u00e0i \u0111\u1eb7t k\u1ebft th\u00fac v\u00e0 tr\u1ea3 "
    L"v\u1ec1 m\u00e3 tho\u00e1t c\u1ee7a n\u00f3.\n"
    L"/log <t\u1ec7p>\n    Ghi nh\u1eadt k\u00fd v\u00e0o t\u1ec7p n\u00e0y thay v\u00ec "
    L"th\u01b0 m\u1ee5c t\u1ea1m.\n"
    L"/?, /help\n    Hi\u1ec7n h\u01b0\u1edbng d\u1eabn n\u00e0y.\n\n"
    L"C\u00e1c tham s\u1ed1 kh\u00e1c, v\u00e0 m\u1ecdi th\u1ee9 sau --, \u0111\u01b0\u1ee3c "
    L"chuy\u1ec3n cho tr\u00ecnh c\u00e0i \u0111\u1eb7t.";
constexpr wchar_t kUsageErrorText[] = L"D\u00f2ng l\u1ec7nh kh\u00f4ng h\u1ee3p l\u1ec7: ";
// The installer's path (at most MAX_PATH - 1 units), its quotes and a space
// come before the arguments, within Windows' limit of a command line.
constexpr size_t kMostInstallerArgumentUnits = kLaunchCommandLineCapacity - 1 - (MAX_PATH + 2);
}  // namespace

BOOL CTirnHomeISSetupApp::InitInstance() {
    CWinAppEx::InitInstance();
    // Kept for the framework's settings key; nothing is ever stored under it.
    SetRegistryKey(L"Local AppWizard-Generated Applications");
    m_options = ParseLaunchOptions(CommandLineArguments());
    m_log = std::make_shared<RunLog>();
    // Without a log the run is the same.
    m_log->Create(m_options.logPath ? m_options.logPath->c_str() : nullptr);
    m_log->Line("TirnHomeISSetup 1.0.0.0 (%s), Windows %s, process %lu",
                sizeof(void*) == 8 ? "x64" : "PE32", WindowsVersion().c_str(),
                ::GetCurrentProcessId());
    m_log->Line("switches:%s%s%s%s; %u arguments for the installer",
                m_options.quiet ? " /quiet" : "", m_options.wait ? " /wait" : "",
                m_options.logPath ? " /log" : "", m_options.help ? " /?" : "",
                static_cast<unsigned>(m_options.installerArguments.size()));
    // A wrong command line, or a question: answered before anything is read
    // or changed.
    if (!m_options.usageError.empty() || m_options.help) {
        const bool wrong = !m_options.usageError.empty();
        if (wrong) m_log->Line("usage: %s", RunLog::Utf8(m_options.usageError.c_str()).c_str());
        if (!m_options.quiet) ShowUsage(wrong ? m_options.usageError.c_str() : nullptr);
        const Outcome outcome = wrong ? Outcome::UsageError : Outcome::HelpShown;
        m_nExitCode = ExitCodeOf(outcome);
        m_log->Line("outcome: %s; exit code %u", DescribeOutcome(outcome), m_nExitCode);
        return FALSE;
    }

    StartFacts facts;
    facts.anotherLauncherRuns = AnotherLauncherRuns();
    CTirnHomeISSetupDlg* marker = nullptr;
    if (!facts.anotherLauncherRuns) {
        // The marker lives, hidden, until the process ends: never destroyed.
        marker = new CTirnHomeISSetupDlg();
        // Quiet, it is never shown, not even for the moment before it is hidden.
        const BOOL made = m_options.quiet
                              ? marker->CreateHidden(IDD_TIRNHOMEISSETUP_DIALOG, nullptr)
                              : marker->Create(IDD_TIRNHOMEISSETUP_DIALOG, nullptr);
        if (made) marker->ShowWindow(SW_HIDE);
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
            outcome = Unpack(decision == Decision::Upgrade);
            marker->EndDialog(0);
            break;
    }
    m_nExitCode = m_installerExitCode.value_or(ExitCodeOf(outcome));
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

void CTirnHomeISSetupApp::ShowUsage(const wchar_t* problem) {
    std::wstring text;
    if (problem != nullptr) text = std::wstring(kUsageErrorText) + problem + L"\n\n";
    text += kUsageText;
    ::MessageBoxW(nullptr, text.c_str(), L"Tirn Home", MB_OK);
}

Outcome CTirnHomeISSetupApp::Refuse() {
    if (m_options.quiet) return Outcome::Refused;  // the exit code and the log say it
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
                RunLog::DescribeError(::GetLastError()).c_str());
    return Outcome::ProductNotStarted;
}

Outcome CTirnHomeISSetupApp::Unpack(bool upgrade) {
    const std::wstring arguments = InstallerArguments(upgrade, m_options.installerArguments);
    // Never cut: a cut command line would hand the installer other arguments.
    if (arguments.size() > kMostInstallerArgumentUnits) return Outcome::CommandLineTooLong;
    m_strSetupArgs = arguments.c_str();
    RoadRequest request;
    request.setupArgs = m_strSetupArgs;
    request.package = m_package;
    request.log = m_log;
    request.keepInstaller = m_options.wait;
    // What the installer is handed on may be a key or a password: the log
    // names only how many.
    request.loggedArgs = InstallerArguments(upgrade, {}).c_str();
    if (!m_options.installerArguments.empty()) {
        request.loggedArgs +=
            (std::wstring(upgrade ? L" " : L"") + L"<" +
             std::to_wstring(m_options.installerArguments.size()) + L" arguments handed on>")
                .c_str();
    }
    const RoadResult result = m_options.quiet ? RunUnpackingRoad(request)
                                              : UnpackBehindTheProgressWindow(request, upgrade);
    ScopedHandle installer(result.installer);
    if (result.outcome != Outcome::Launched || !installer.IsValid()) return result.outcome;
    // /wait: the installer's own exit code, whatever it is (3010 asks for a
    // restart), becomes the run's. Messages are handled meanwhile: the
    // marker window belongs to this thread, and an installer that sends a
    // message to every top-level window (a setting changed) waits for it.
    DWORD code = 0;
    for (;;) {
        const HANDLE process = installer.Get();
        const DWORD woke = ::MsgWaitForMultipleObjects(1, &process, FALSE, INFINITE, QS_ALLINPUT);
        if (woke != WAIT_OBJECT_0 + 1) break;
        MSG message;
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
    }
    if (::WaitForSingleObject(installer.Get(), 0) != WAIT_OBJECT_0 ||
        !::GetExitCodeProcess(installer.Get(), &code)) {
        m_log->Line("waiting for the installer failed: %s",
                    RunLog::DescribeError(::GetLastError()).c_str());
        return Outcome::InstallerNotWaitedFor;
    }
    m_log->Line("installer ended with exit code %lu", code);
    m_installerExitCode = code;
    return Outcome::Launched;
}

RoadResult CTirnHomeISSetupApp::UnpackBehindTheProgressWindow(const RoadRequest& road,
                                                              bool upgrade) {
    auto control = std::make_shared<RoadControl>();
    RoadRequest request = road;
    request.control = control;
    bool workerStarted = false;

    CInitializingDlg progress(nullptr);
    m_pMainWnd = &progress;
    progress.m_strMessage = upgrade ? kUpgradeText : kSetupText;
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
        return RoadResult{Outcome::NoProgressWindow, 0};
    }
    const RoadResult result = control->Conclude();
    if (result.outcome == Outcome::Cancelled) m_log->Line("the progress window was dismissed");
    return result;
}
