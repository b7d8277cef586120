// Starting the extracted installer as a separate process.
#pragma once

#include "package/Layer.h"

// Starts programPath with the command line "programPath" arguments (quoted
// path, a space and the arguments when present and not empty; the quoted
// path alone otherwise), in programPath's own directory. 1 when the process
// was created, 0 otherwise, including a command line that would not fit
// whole and a path that names no directory. Nothing waits for the process.
// When launched is given it receives, on success, the process's id and the
// command line it was given.
struct LaunchedProgram;
int LaunchProgram(const wchar_t* programPath, const wchar_t* arguments,
                  LaunchedProgram* launched = nullptr);

// Room for the longest path the extraction hands back (MAX_PATH - 1 units),
// its quotes, a space and "/Upgrade", with margin.
inline constexpr int kLaunchCommandLineCapacity = 2 * 260;

struct LaunchedProgram {
    unsigned long processId = 0;
    wchar_t commandLine[kLaunchCommandLineCapacity] = {};
};
