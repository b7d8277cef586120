#include "ExtractionWorker.h"

#include "../app/TirnHomeISSetupApp.h"
#include "../ui/InitializingDlg.h"
#include "../app/InstallationRecord.h"
#include "CabinetExtraction.h"
#include "PayloadStaging.h"
#include "ScopedHandle.h"
#include "SelfImageView.h"
#include "ViewGuard.h"
#include "format/PackageTrailer.h"

#include <shlwapi.h>

#include <cwchar>

int LaunchProgram(const wchar_t* programPath, const wchar_t* arguments) {
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    // Room for the longest path the extraction hands back (MAX_PATH - 1
    // units), its quotes, a space and "/Upgrade", with margin; a command line
    // that still does not fit is a failed launch, never a cut one.
    wchar_t commandLine[2 * MAX_PATH] = {};
    int formed =
        arguments != nullptr && arguments[0] != L'\0'
            ? std::swprintf(commandLine, 2 * MAX_PATH, L"\"%ls\" %ls", programPath, arguments)
            : std::swprintf(commandLine, 2 * MAX_PATH, L"\"%ls\"", programPath);
    if (formed < 0 || formed >= 2 * MAX_PATH) return 0;
    if (!::CreateProcessW(nullptr, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &process)) {
        return 0;
    }
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    return 1;
}

int ExtractAndRunPackage(const wchar_t* setupArgs) {
    try {
        // Held until after the launch; released on every way out.
        SelfImageView view;
        if (!view.Open()) return view.LastError() != 0 ? static_cast<int>(view.LastError()) : -1;
        std::optional<uint64_t> trailerOffset;
        std::optional<tirn::format::PackageTrailer> trailer;
        auto locate = [&] {
            trailerOffset = tirn::format::FindPackageTrailer(view.Bytes());
            if (trailerOffset)
                trailer = tirn::format::ReadPresentTrailer(view.Bytes(), *trailerOffset);
        };
        if (!RunGuarded(locate) || !trailer) return -1;
        if (!tirn::format::IsPackageComplete(view.Size(), *trailerOffset, *trailer)) return -1;

        wchar_t stagingDirectory[MAX_PATH];
        if (GetStagingDirectory(stagingDirectory) == 0) return -1;
        ScopedHandle stagingHold;  // until after the launch
        if (!PrepareStagingDirectory(stagingDirectory, stagingHold)) return -1;
        if (!::PathIsDirectoryW(stagingDirectory)) return -1;
        wchar_t stagingFile[MAX_PATH];
        if (CombinePath(stagingDirectory, MAX_PATH, stagingFile, kStagingFileName) == 0) return -1;
        const uint8_t* payload = view.Data() + *trailerOffset + tirn::format::kTrailerSize;
        if (WritePayloadFile(payload, trailer->payloadSize, stagingFile) == 0) return -1;

        wchar_t installer[MAX_PATH] = {};
        if (!ExtractCabinet(stagingFile, stagingDirectory, installer)) return -1;

        // Recorded only now that the installer is on disk: recorded earlier, a
        // cut download or a failed extraction would leave a record saying this
        // version is installed, and no later run of a good setup of the same
        // version would ever install it. Still before the launch, so that the
        // installer finds it.
        WriteDefinitionVersion(trailer->definitionVersion);
        LaunchProgram(installer, setupArgs);
        return 0;
    } catch (...) {
        return -1;
    }
}

UINT ExtractionWorkerProc(LPVOID progressDialog) {
    auto* dialog = static_cast<CInitializingDlg*>(static_cast<CWnd*>(progressDialog));
    // Take the argument string while the progress window (and so the
    // application object) is known to be alive; a worker that starts after
    // the run was dismissed does nothing.
    CString setupArgs;
    bool alive = CInitializingDlg::WithLiveDialog(dialog, [&setupArgs](CInitializingDlg*) {
        if (auto* app = static_cast<CTirnHomeISSetupApp*>(AfxGetApp())) {
            setupArgs = app->m_strSetupArgs;
        }
    });
    if (alive) ExtractAndRunPackage(setupArgs);

    CInitializingDlg::SignalStop(dialog);
    ::Sleep(100);
    CInitializingDlg::EndDialogIfAlive(dialog, 0);
    return 0;
}
