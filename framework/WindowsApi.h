// The one place the launcher includes <windows.h>. Its settings (UNICODE,
// the Windows version, NOMINMAX, WIN32_LEAN_AND_MEAN) are the build's, set
// once in cmake/Windows.cmake for every file of the cross trees.
#pragma once

#include "framework/Layer.h"

#include <windows.h>
