#include "app/UnpackingRoad.h"

#include "app/InstallationRecord.h"
#include "framework/ScopedHandle.h"
#include "package/CabinetExtraction.h"
#include "package/PayloadStaging.h"
#include "package/StagingDirectory.h"
#include "package/ProgramLaunch.h"
#include "package/SelfImageView.h"
#include "package/ViewGuard.h"
#include "format/PackageTrailer.h"
#include "ui/InitializingDlg.h"

#include <memory>

namespace {

RoadResult Ended(RoadOutcome outcome) {
    return RoadResult{outcome, 0};
}

// The record says the package's version only while an installer runs for it:
// written right before the start, so that the installer finds it, and put
// back as it was when the start fails. A record that cannot be read first
// could not be put back: then nothing is written or started.
RoadOutcome RecordAndLaunch(uint32_t definitionVersion, const wchar_t* installer,
                            const wchar_t* setupArgs) {
    DefinitionVersionSnapshot before;
    if (!before.Take()) return RoadOutcome::RecordUnreadable;
    WriteDefinitionVersion(definitionVersion);
    if (LaunchProgram(installer, setupArgs)) return RoadOutcome::Launched;
    return before.Restore() ? RoadOutcome::LaunchFailed : RoadOutcome::RecordNotRestored;
}

RoadResult RunRoad(const RoadRequest& request) {
    // Held until after the launch; released on every way out.
    SelfImageView view;
    const bool opened =
        request.setupPath.IsEmpty() ? view.Open() : view.OpenFile(request.setupPath);
    if (!opened) return RoadResult{RoadOutcome::SetupUnreadable, view.LastError()};

    std::optional<tirn::format::LocatedTrailer> located;
    auto locate = [&view, &located] { located = tirn::format::FindPackageTrailer(view.Bytes()); };
    if (!RunGuarded(locate)) return Ended(RoadOutcome::Aborted);
    if (!located) return Ended(RoadOutcome::NoPackage);
    if (!tirn::format::IsPackageComplete(view.Size(), located->offset, located->trailer)) {
        return Ended(RoadOutcome::IncompletePackage);
    }

    wchar_t stagingDirectory[MAX_PATH];
    if (GetStagingDirectory(stagingDirectory) == 0) return Ended(RoadOutcome::NoStagingDirectory);
    ScopedHandle stagingHold;  // until after the launch
    if (!PrepareStagingDirectory(stagingDirectory, stagingHold)) {
        return Ended(RoadOutcome::NoStagingDirectory);
    }
    // The cabinet library takes a path: the file is made through the held
    // directory, and the path names it while that directory is held.
    wchar_t stagingFile[MAX_PATH];
    if (CombinePath(stagingDirectory, MAX_PATH, stagingFile, kStagingFileName) == 0) {
        return Ended(RoadOutcome::StagingFailed);
    }
    const uint8_t* payload = view.Data() + located->offset + tirn::format::kTrailerSize;
    if (WritePayloadFileIn(stagingHold.Get(), kStagingFileName, payload,
                           located->trailer.payloadSize) == 0) {
        return Ended(RoadOutcome::StagingFailed);
    }

    wchar_t installer[MAX_PATH] = {};
    if (!ExtractCabinet(stagingFile, stagingDirectory, installer)) {
        return Ended(RoadOutcome::ExtractionFailed);
    }
    // Recorded only now that the installer is on disk: recorded earlier, a cut
    // download or a failed extraction would leave a record saying this version
    // is installed, and no later run of a good setup of it would install.
    return Ended(RecordAndLaunch(located->trailer.definitionVersion, installer, request.setupArgs));
}

}  // namespace

RoadResult RunUnpackingRoad(const RoadRequest& request) {
    try {
        return RunRoad(request);
    } catch (...) {
        return Ended(RoadOutcome::Aborted);
    }
}

int ExtractAndRunPackage(const RoadRequest& request) {
    const RoadResult result = RunUnpackingRoad(request);
    switch (result.outcome) {
        case RoadOutcome::Launched:
        case RoadOutcome::LaunchFailed: return 0;
        case RoadOutcome::SetupUnreadable:
            return result.error != 0 ? static_cast<int>(result.error) : -1;
        default: return -1;
    }
}

UINT ExtractionWorkerProc(LPVOID parameter) {
    std::unique_ptr<RoadRequest> request(static_cast<RoadRequest*>(parameter));
    ExtractAndRunPackage(*request);

    CInitializingDlg::SignalStop(request->progress);
    ::Sleep(100);
    CInitializingDlg::EndDialogIfAlive(request->progress, 0);
    return 0;
}

bool StartUnpackingRoad(CInitializingDlg& progress, const CString& setupArgs, WorkerStarter start) {
    CWinThread* worker = nullptr;
    try {
        auto request = std::make_unique<RoadRequest>();
        request->progress = &progress;
        request->setupArgs = setupArgs;
        worker = start(&ExtractionWorkerProc, request.get(), THREAD_PRIORITY_NORMAL, 0, 0, nullptr);
        if (worker != nullptr) request.release();  // the worker's now
    } catch (...) {
        worker = nullptr;  // out of memory: no worker
    }
    if (worker != nullptr) return true;
    // No worker will ever end the window: it ends itself before it shows.
    CInitializingDlg::SignalStop(&progress);
    CInitializingDlg::EndDialogIfAlive(&progress, 0);
    return false;
}
