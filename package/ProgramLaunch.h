// Starting the extracted installer as a separate process.
#pragma once

#include "package/Layer.h"

// Starts programPath with the command line "programPath" arguments (quoted
// path, a space and the arguments when present and not empty; the quoted
// path alone otherwise), in programPath's own directory. 1 when the process
// was created, 0 otherwise, including a command line that would not fit
// whole and a path that names no directory. Nothing waits for the process.
int LaunchProgram(const wchar_t* programPath, const wchar_t* arguments);
