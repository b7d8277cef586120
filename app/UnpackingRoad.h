// The unpacking road's controller: on a worker thread while the progress
// window shows, it takes the package out of the setup, stages and extracts
// it, records the definition version, starts the installer and ends the
// progress window. The steps themselves are package/'s; the order, the
// record and the window are start-up's business, hence this lives here.
//
// Threads: the main thread makes the RoadRequest and hands it to the worker,
// which owns it from then on. The worker reaches the progress window only
// through CInitializingDlg's live-dialog calls, which do nothing once the
// window object is gone.
#pragma once

#include "app/Layer.h"

#include "framework/Afx.h"

class CInitializingDlg;

// Everything the worker needs, in one value.
struct RoadRequest {
    CInitializingDlg* progress = nullptr;  // ended when the road is done
    CString setupArgs;                     // "" or "/Upgrade"
    CString setupPath;                     // the setup to unpack; empty: this executable
};

// Where the road ended. The user sees none of these: the progress window
// simply closes.
enum class RoadOutcome {
    Launched,            // the installer process was created
    SetupUnreadable,     // the setup could not be opened or mapped
    NoPackage,           // no trailer after the section data
    IncompletePackage,   // the payload runs past the end of the file
    NoStagingDirectory,  // no path that fits, or it could not be made or held
    StagingFailed,       // the staging file could not be named or written
    ExtractionFailed,    // not a cabinet of exactly one file, or not extracted
    LaunchFailed,        // the installer could not be started; record put back
    RecordUnreadable,    // the record could not be read to be kept: nothing recorded or started
    RecordNotRestored,   // the installer could not be started, nor the record put back
    Aborted,             // an exception (out of memory) or a read fault
};

struct RoadResult {
    RoadOutcome outcome;
    DWORD error = 0;  // the platform's code, for SetupUnreadable
};

RoadResult RunUnpackingRoad(const RoadRequest& request);

// The road's result as a number: 0 once the launch step is reached (whether
// or not the installer started), the platform's error code when the setup
// cannot be opened or mapped, -1 for every other failure.
int ExtractAndRunPackage(const RoadRequest& request);

// Thread procedure; its parameter is a RoadRequest made with new, which it
// deletes. Runs the road, then stops the animation, pauses 100 ms and ends
// the progress window with 0, whatever the road's outcome. Returns 0.
UINT ExtractionWorkerProc(LPVOID request);

using WorkerStarter = decltype(&AfxBeginThread);

// Starts the worker for the progress window. When the thread cannot be
// started, the window is told to end at once, so that its modal run returns
// by itself instead of waiting for the user. False in that case.
bool StartUnpackingRoad(CInitializingDlg& progress, const CString& setupArgs,
                        WorkerStarter start = &AfxBeginThread);
