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

#include <cstdarg>
#include <memory>
#include <string>

bool RoadControl::EnterCommit() {
    ::AcquireSRWLockExclusive(&m_lock);
    if (!m_cancelled) return true;
    ::ReleaseSRWLockExclusive(&m_lock);
    return false;
}

void RoadControl::LeaveCommit(const RoadResult& result) {
    m_result = result;
    ::ReleaseSRWLockExclusive(&m_lock);
}

void RoadControl::Finish(const RoadResult& result) {
    ::AcquireSRWLockExclusive(&m_lock);
    if (!m_cancelled && !m_result) m_result = result;
    ::ReleaseSRWLockExclusive(&m_lock);
}

RoadResult RoadControl::Conclude() {
    ::AcquireSRWLockExclusive(&m_lock);
    if (!m_result) m_cancelled = true;
    const RoadResult result = m_result.value_or(RoadResult{RoadOutcome::Cancelled, 0});
    ::ReleaseSRWLockExclusive(&m_lock);
    return result;
}

namespace {

// The road's steps, told to the log when there is one.
class Steps {
  public:
    explicit Steps(const RoadRequest& request) : m_log(request.log.get()) {}

    void Step(const char* format, ...) __attribute__((format(printf, 2, 3))) {
        if (m_log == nullptr) return;
        char text[1536];
        va_list arguments;
        va_start(arguments, format);
        std::vsnprintf(text, sizeof(text), format, arguments);
        va_end(arguments);
        m_log->Line("road: %s", text);
    }
    // The step failed with the platform's code error (0: none given).
    RoadResult Failed(RoadOutcome outcome, const char* step, DWORD error) {
        if (m_log != nullptr) {
            try {
                m_log->Line("road: %s failed%s%s", step, error != 0 ? ": " : "",
                            error != 0 ? RunLog::DescribeError(error).c_str() : "");
            } catch (...) {
                // out of memory for the message: the outcome stands
            }
        }
        return RoadResult{outcome, error};
    }

  private:
    RunLog* m_log;
};

// The record says the package's version only while an installer runs for it:
// written right before the start, so that the installer finds it, and put
// back as it was when the start fails. A record that cannot be read first
// could not be put back: then nothing is written or started.
RoadResult RecordAndLaunch(Steps& steps, uint32_t definitionVersion, const wchar_t* installer,
                           const wchar_t* setupArgs, const wchar_t* loggedArgs,
                           bool keepInstaller) {
    DefinitionVersionSnapshot before;
    if (!before.Take()) {
        return steps.Failed(RoadOutcome::RecordUnreadable, "reading the record", ::GetLastError());
    }
    if (!WriteDefinitionVersion(definitionVersion)) {
        const DWORD error = ::GetLastError();
        before.Restore();
        return steps.Failed(RoadOutcome::RecordNotWritten, "recording the version", error);
    }
    steps.Step("definition version %u recorded", definitionVersion);
    LaunchedProgram launched;
    launched.keepProcess = keepInstaller;
    if (LaunchProgram(installer, setupArgs, &launched)) {
        try {
            std::wstring logged = L"\"" + std::wstring(installer) + L"\"";
            if (loggedArgs[0] != L'\0') logged += L" " + std::wstring(loggedArgs);
            steps.Step("installer started, process %lu: %s", launched.processId,
                       RunLog::Utf8(logged.c_str()).c_str());
        } catch (...) {
            // out of memory for the line: the installer runs all the same
        }
        return RoadResult{RoadOutcome::Launched, 0, launched.process};
    }
    const DWORD error = ::GetLastError();
    if (!before.Restore()) {
        return steps.Failed(RoadOutcome::RecordNotRestored,
                            "starting the installer, and putting back the record", error);
    }
    return steps.Failed(RoadOutcome::LaunchFailed, "starting the installer (record put back)",
                        error);
}

RoadResult RunRoad(const RoadRequest& request) {
    Steps steps(request);
    const PackageFacts package =
        request.package ? *request.package : ReadPackageFacts(request.setupPath);
    if (!package.readable) {
        return steps.Failed(RoadOutcome::SetupUnreadable, "reading the setup", package.error);
    }
    if (!package.found) return steps.Failed(RoadOutcome::NoPackage, "finding the package", 0);
    if (!package.complete) {
        return steps.Failed(RoadOutcome::IncompletePackage, "finding the whole package", 0);
    }

    // Held until after the launch; released on every way out.
    SelfImageView view;
    const bool opened =
        request.setupPath.IsEmpty() ? view.Open() : view.OpenFile(request.setupPath);
    if (!opened) {
        return steps.Failed(RoadOutcome::SetupUnreadable, "mapping the setup", view.LastError());
    }
    // The file may have changed since its start read it: the payload is
    // still taken only from within the file as mapped now.
    if (!tirn::format::IsPackageComplete(view.Size(), package.trailerOffset, package.trailer)) {
        return steps.Failed(RoadOutcome::IncompletePackage, "mapping the whole package", 0);
    }

    wchar_t stagingDirectory[MAX_PATH];
    if (GetStagingDirectory(stagingDirectory) == 0) {
        return steps.Failed(RoadOutcome::NoStagingDirectory, "naming the staging directory", 0);
    }
    ScopedHandle stagingHold;  // until after the launch
    if (!PrepareStagingDirectory(stagingDirectory, stagingHold)) {
        return steps.Failed(RoadOutcome::NoStagingDirectory, "making the staging directory",
                            ::GetLastError());
    }
    steps.Step("staging directory %s", RunLog::Utf8(stagingDirectory).c_str());
    // The cabinet library takes a path: the file is made through the held
    // directory, and the path names it while that directory is held.
    wchar_t stagingFile[MAX_PATH];
    if (CombinePath(stagingDirectory, MAX_PATH, stagingFile, kStagingFileName) == 0) {
        return steps.Failed(RoadOutcome::StagingFailed, "naming the staging file", 0);
    }
    const uint8_t* payload = view.Data() + package.trailerOffset + tirn::format::kTrailerSize;
    if (WritePayloadFileIn(stagingHold.Get(), kStagingFileName, payload,
                           package.trailer.payloadSize) == 0) {
        return steps.Failed(RoadOutcome::StagingFailed, "writing the staging file",
                            ::GetLastError());
    }
    steps.Step("staging file written, %u bytes", package.trailer.payloadSize);

    wchar_t installer[MAX_PATH] = {};
    if (!ExtractCabinet(stagingFile, stagingDirectory, installer)) {
        return steps.Failed(RoadOutcome::ExtractionFailed, "extracting the package",
                            ::GetLastError());
    }
    steps.Step("extracted %s", RunLog::Utf8(installer).c_str());
    // Recorded only now that the installer is on disk: recorded earlier, a cut
    // download or a failed extraction would leave a record saying this version
    // is installed, and no later run of a good setup of it would install.
    if (request.control != nullptr && !request.control->EnterCommit()) {
        steps.Step("cancelled: nothing recorded or started");
        return RoadResult{RoadOutcome::Cancelled, 0};
    }
    // The step's result is kept as the step ends, on every way out: a
    // dismissal waiting for it then finds what it did.
    RoadResult result{RoadOutcome::Aborted, 0, nullptr};
    try {
        result =
            RecordAndLaunch(steps, package.trailer.definitionVersion, installer, request.setupArgs,
                            request.loggedArgs.IsEmpty() ? request.setupArgs : request.loggedArgs,
                            request.keepInstaller);
    } catch (...) {
        if (request.control != nullptr) request.control->LeaveCommit(result);
        throw;
    }
    if (request.control != nullptr) request.control->LeaveCommit(result);
    return result;
}

}  // namespace

RoadResult RunUnpackingRoad(const RoadRequest& request) {
    try {
        return RunRoad(request);
    } catch (...) {
        if (request.log != nullptr)
            request.log->Line("road: aborted (out of memory or a read fault)");
        return RoadResult{RoadOutcome::Aborted, 0};
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
    const RoadResult result = RunUnpackingRoad(*request);
    if (request->control != nullptr) request->control->Finish(result);
    // Lost when the window is gone: the run has been concluded without it.
    ::PostMessageW(request->progressWindow, CInitializingDlg::kWorkDoneMessage, 0, 0);
    return 0;
}

bool StartUnpackingRoad(const RoadRequest& request, WorkerStarter start) {
    try {
        auto owned = std::make_unique<RoadRequest>(request);
        if (start(&ExtractionWorkerProc, owned.get(), THREAD_PRIORITY_NORMAL, 0, 0, nullptr) ==
            nullptr) {
            return false;
        }
        owned.release();  // the worker's now
        return true;
    } catch (...) {
        return false;  // out of memory: no worker
    }
}
