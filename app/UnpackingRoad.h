// The unpacking road's controller: on a worker thread while the progress
// window shows, it takes the package out of the setup, stages and extracts
// it, records the definition version and starts the installer. The steps
// themselves are package/'s; the order, the record and the window are
// start-up's business, hence this lives here.
//
// Threads: the main thread makes the RoadRequest and hands it to the worker,
// which owns it from then on. The worker tells the progress window it is
// done by a message to the window's handle; its result goes through the
// RoadControl that both threads share, never through the window.
#pragma once

#include "app/Layer.h"

#include "app/Outcome.h"
#include "app/RunLog.h"
#include "framework/Afx.h"
#include "package/PackageVersion.h"

#include <memory>
#include <optional>

// Where the road ended: one of the failures, or Launched, or Cancelled when
// the run was cancelled before the record was written.
using RoadOutcome = Outcome;

struct RoadResult {
    RoadOutcome outcome;
    DWORD error = 0;  // the platform's code of the failed step, when it gave one
    // The installer's process, when the request kept it: the receiver's to
    // close.
    HANDLE installer = nullptr;
};

// What the main thread and the worker share. The user may dismiss the window
// at any moment: the record and the installer's start happen as one step,
// which a dismissal either comes before (nothing is recorded or started) or
// waits for (the installer was started).
class RoadControl {
  public:
    // Worker, before the record is written: false when the run was cancelled.
    // On true the step is the worker's until LeaveCommit, which keeps its
    // result.
    bool EnterCommit();
    void LeaveCommit(const RoadResult& result);
    // Worker: the road's result when it ended before that step, kept for
    // Conclude.
    void Finish(const RoadResult& result);
    // Main thread, once the window has closed: the road's result when it has
    // one; otherwise the run is cancelled from here on (Cancelled comes back).
    // Waits while the worker records and starts the installer.
    RoadResult Conclude();

  private:
    SRWLOCK m_lock = SRWLOCK_INIT;
    bool m_cancelled = false;
    std::optional<RoadResult> m_result;
};

// Everything the worker needs, in one value.
struct RoadRequest {
    CString setupArgs;   // "" or "/Upgrade", then the arguments handed on
    CString loggedArgs;  // what the log says of setupArgs
    CString setupPath;   // the setup to unpack; empty: this executable
    // The package as the run read it at its start; read by the road when
    // absent.
    std::optional<PackageFacts> package;
    std::shared_ptr<RunLog> log;           // may be null
    std::shared_ptr<RoadControl> control;  // may be null: nothing to cancel
    HWND progressWindow = nullptr;         // told CInitializingDlg::kWorkDoneMessage at the end
    bool keepInstaller = false;            // the installer's process comes back in the result
};

RoadResult RunUnpackingRoad(const RoadRequest& request);

// The road's result as a number: 0 once the launch step is reached (whether
// or not the installer started), the platform's error code when the setup
// cannot be opened or mapped, -1 for every other failure.
int ExtractAndRunPackage(const RoadRequest& request);

// Thread procedure; its parameter is a RoadRequest made with new, which it
// deletes. Runs the road, hands its result to the request's control and
// tells the progress window. Returns 0.
UINT ExtractionWorkerProc(LPVOID request);

using WorkerStarter = decltype(&AfxBeginThread);

// Starts the worker with request (progressWindow set). False when the thread
// cannot be started.
bool StartUnpackingRoad(const RoadRequest& request, WorkerStarter start = &AfxBeginThread);
