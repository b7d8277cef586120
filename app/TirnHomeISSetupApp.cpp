#include "app/TirnHomeISSetupApp.h"

#include "package/PackageVersion.h"
#include "resources/resource.h"
#include "ui/InitializingDlg.h"
#include "ui/TirnHomeISSetupDlg.h"
#include "app/InstallationRecord.h"
#include "app/InstalledProduct.h"
#include "app/UnpackingRoad.h"

#include <shellapi.h>
#include <shlwapi.h>

#include <cwchar>

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

BOOL CTirnHomeISSetupApp::InitInstance() {
    CWinAppEx::InitInstance();
    // Kept for the framework's settings key; nothing is ever stored under it.
    SetRegistryKey(L"Local AppWizard-Generated Applications");
    if (AnotherLauncherRuns()) return FALSE;

    // The marker lives, hidden, until the process ends: never destroyed.
    auto* marker = new CTirnHomeISSetupDlg();
    if (marker->Create(IDD_TIRNHOMEISSETUP_DIALOG, nullptr)) marker->ShowWindow(SW_HIDE);

    m_strSetupArgs = L"";
    if (ReadInstallDir(m_szInstallDir, MAX_PATH) != 0 && ::PathIsDirectoryW(m_szInstallDir)) {
        if (SettledByTheInstalledProduct()) return FALSE;
        m_strSetupArgs = kUpgradeArgument;
    }
    Unpack();
    marker->EndDialog(0);
    return FALSE;
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

bool CTirnHomeISSetupApp::SettledByTheInstalledProduct() {
    if (IsConflictingProductInstalled(m_szInstallDir)) {
        CString message;
        message.LoadString(m_nLanguage == 1 ? IDS_CONFLICT_ENGLISH : IDS_CONFLICT_VIETNAMESE);
        ::MessageBoxW(nullptr, message, L"Tirn Home", MB_OK);
        return true;
    }
    uint32_t installedVersion = 0;
    if (!ReadDefinitionVersion(&installedVersion)) installedVersion = 0;
    if (installedVersion < ReadPackageVersion()) return false;
    CString program = BuildInstallPath(m_szInstallDir, L"TirnHome.exe");
    ::ShellExecuteW(nullptr, L"open", program, nullptr, m_szInstallDir, SW_SHOWNORMAL);
    return true;
}

void CTirnHomeISSetupApp::Unpack() {
    CInitializingDlg progress(nullptr);
    m_pMainWnd = &progress;
    progress.m_strMessage = m_strSetupArgs == kUpgradeArgument ? kUpgradeText : kSetupText;
    StartUnpackingRoad(progress, m_strSetupArgs);  // without a worker the window ends at once
    progress.DoModal();
}
