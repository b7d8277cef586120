// Starting the extracted installer as a separate process.
#pragma once

#include "package/Layer.h"

#include "framework/WindowsApi.h"

#include <string>

// Starts programPath with the command line "programPath" arguments (quoted
// path, a space and the arguments when present and not empty; the quoted
// path alone otherwise), in programPath's own directory. 1 when the process
// was created, 0 otherwise, including a command line that would not fit
// whole and a path that names no directory. Nothing waits for the process.
// When launched is given it receives, on success, the process's id and the
// command line it was given, and, when it asks for it, the process itself.
struct LaunchedProgram;
int LaunchProgram(const wchar_t* programPath, const wchar_t* arguments,
                  LaunchedProgram* launched = nullptr);

// Windows' own limit of a command line, terminator included.
inline constexpr size_t kLaunchCommandLineCapacity = 32767;

struct LaunchedProgram {
    bool keepProcess = false;  // asked: process is then the caller's to close
    unsigned long processId = 0;
    HANDLE process = nullptr;
    std::wstring commandLine;
};
