// Staging: the payload, descrambled, becomes the cabinet file
// %TEMP%\TirnHome2014\TirnHomeSetup.cab (package/StagingPaths.h), in a
// directory made new by each run (package/StagingDirectory.h).
#pragma once

#include "package/Layer.h"
#include "framework/WindowsApi.h"
#include "package/StagingPaths.h"

#include <cstdint>

// Creates (or replaces) the staging file, restricted to Administrators, and
// writes the payload into it, descrambled block by block. 1 on success, 0 on
// failure; what was written before a failure stays in the file. Its
// directory is reached once and no link is followed, at the name or there.
int WritePayloadFile(const uint8_t* source, uint32_t size, const wchar_t* path);

// The same into a file named name made create-only, with the staging DACL,
// inside the held directory: the road's way, which goes through no path.
int WritePayloadFileIn(HANDLE directory, const wchar_t* name, const uint8_t* source, uint32_t size);
