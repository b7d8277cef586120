// The unpacking road, run on a worker thread while the progress window shows.
#pragma once

#include "../app/framework/Afx.h"

// Thread procedure; its parameter is the progress dialog (CInitializingDlg).
// Runs the road, then stops the animation, pauses 100 ms and ends the dialog
// with 0, whatever the road's outcome. Returns 0.
UINT ExtractionWorkerProc(LPVOID progressDialog);

// Starts programPath as a separate process, with arguments when present.
// 1 when the process was created. Nothing waits for it.
int LaunchProgram(const wchar_t* programPath, const wchar_t* arguments);

// Unpacks the package appended to the running executable and starts the
// installer inside it with setupArgs. 0 once the launch step is reached, -1
// for the launcher's own failures, or the platform's error code when the own
// executable cannot be opened or mapped.
int ExtractAndRunPackage(const wchar_t* setupArgs);
