// What lies in the installation directory: the conflicting product's
// programs and the installed product's own.
#pragma once

#include "app/Layer.h"

#include "framework/CString.h"

// Joins an installation directory and a file name with one backslash (none
// added when the directory already ends with one). Each part must be 1 to
// 1022 units long (looked for within its first 1024 units); otherwise, or
// for a null part, the result is empty.
CString BuildInstallPath(const wchar_t* directory, const wchar_t* name);

// True when Tir.exe or Tirn.exe (a file or a directory of that name) exists
// in the directory.
bool IsConflictingProductInstalled(const wchar_t* installDir);
