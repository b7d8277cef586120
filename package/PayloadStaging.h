// Staging: the payload, descrambled, becomes the cabinet file
// %TEMP%\TirnHome2014\TirnHomeSetup.cab, in a directory made new by each run
// (package/StagingDirectory.h).
#pragma once

#include "package/Layer.h"
#include "framework/WindowsApi.h"

#include <cstdint>

inline constexpr wchar_t kStagingDirectoryName[] = L"TirnHome2014";
inline constexpr wchar_t kStagingFileName[] = L"TirnHomeSetup.cab";

// Joins directory, one backslash (unless it ends with one) and name into out
// (capacity units, terminator included). Returns the length, or 0 with out
// untouched when the whole path would not fit: a staging path is never cut
// into another name.
int CombinePath(const wchar_t* directory, int capacity, wchar_t* out, const wchar_t* name);

// The staging directory path (at most 259 units) in out[MAX_PATH]; 0 and an
// empty path when there is none or it would not fit whole. Does not create
// the directory.
int GetStagingDirectory(wchar_t* out);

// Creates (or replaces) the staging file, restricted to Administrators, and
// writes the payload into it, descrambled block by block. 1 on success, 0 on
// failure; what was written before a failure stays in the file. Its
// directory is reached once and no link is followed, at the name or there.
int WritePayloadFile(const uint8_t* source, uint32_t size, const wchar_t* path);

// The same into a file named name made create-only, with the staging DACL,
// inside the held directory: the road's way, which goes through no path.
int WritePayloadFileIn(HANDLE directory, const wchar_t* name, const uint8_t* source, uint32_t size);
