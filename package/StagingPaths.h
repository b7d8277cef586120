// Where staging happens: %TEMP%\TirnHome2014\TirnHomeSetup.cab, and the
// bounded join that names it (never a path cut into another name).
#pragma once

#include "package/Layer.h"
#include "framework/WindowsApi.h"

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
