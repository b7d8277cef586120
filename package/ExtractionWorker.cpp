#include "ExtractionWorker.h"

#include "../app/TirnHomeISSetupApp.h"
#include "../ui/InitializingDlg.h"
#include "PayloadStaging.h"
#include "SelfImageView.h"
#include "format/PackageTrailer.h"

#include <shlwapi.h>

int ExtractAndRunPackage(const wchar_t* setupArgs) {
    (void)setupArgs;
    try {
        SelfImageView view;
        if (!view.Open()) return view.LastError() != 0 ? static_cast<int>(view.LastError()) : -1;
        std::optional<uint64_t> trailerOffset = tirn::format::FindPackageTrailer(view.Bytes());
        if (!trailerOffset) return -1;
        std::optional<tirn::format::PackageTrailer> trailer =
            tirn::format::ReadPresentTrailer(view.Bytes(), *trailerOffset);
        if (!trailer) return -1;
        if (!tirn::format::IsPackageComplete(view.Size(), *trailerOffset, *trailer)) return -1;

        wchar_t stagingDirectory[MAX_PATH];
        if (GetStagingDirectory(stagingDirectory) == 0) return -1;
        ::CreateDirectoryW(stagingDirectory, nullptr);  // may exist from an earlier run
        if (!::PathIsDirectoryW(stagingDirectory)) return -1;
        wchar_t stagingFile[MAX_PATH];
        if (CombinePath(stagingDirectory, MAX_PATH, stagingFile, kStagingFileName) == 0) return -1;
        const uint8_t* payload = view.Data() + *trailerOffset + tirn::format::kTrailerSize;
        if (WritePayloadFile(payload, trailer->payloadSize, stagingFile) == 0) return -1;

        // Extraction and the launch are not built yet: fail honestly.
        return -1;
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
