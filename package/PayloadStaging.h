// Staging: the payload, descrambled, becomes the cabinet file
// %TEMP%\TirnHome2014\TirnHomeSetup.cab. Names and place are fixed: every run
// reuses the directory and replaces the file.
#pragma once

#include "../app/framework/WindowsApi.h"

#include <cstdint>

inline constexpr wchar_t kStagingDirectoryName[] = L"TirnHome2014";
inline constexpr wchar_t kStagingFileName[] = L"TirnHomeSetup.cab";

// Joins directory, one backslash (unless it ends with one) and as much of name
// as fits in capacity units with the terminator; the name is cut without
// notice. Returns the length, or 0 (out untouched) when the directory leaves
// no room (capacity - 2 units or more) or is empty.
int CombinePath(const wchar_t* directory, int capacity, wchar_t* out, const wchar_t* name);

// The staging directory path (at most 259 units) in out[MAX_PATH]; 0 and an
// empty path when there is none. Does not create the directory.
int GetStagingDirectory(wchar_t* out);

// Creates (or replaces) the staging file and writes the payload into it,
// descrambled block by block. 1 on success, 0 on failure; what was written
// before a failure stays in the file.
int WritePayloadFile(const uint8_t* source, uint32_t size, const wchar_t* path);
