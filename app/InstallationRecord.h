// The installation record: HKLM\Software\Tirn, values szTirnDir (the
// installation directory, read only) and DefinitionVersion (the installed
// definition version). Every call opens the key itself (creating it, empty,
// when missing, also for a read) and closes it before returning. A 32-bit
// process sees the 32-bit registry view.
#pragma once

#include "framework/WindowsApi.h"

#include <cstdint>

// Reads szTirnDir (REG_SZ only) into buffer. Returns its length in units, or
// 0 when it is missing, of another type, empty or longer than capacity - 1.
// On success the buffer holds a string terminated within its capacity.
int ReadInstallDir(wchar_t* buffer, int capacity);

// Reads DefinitionVersion (REG_DWORD of exactly 4 bytes only). Returns 1 and
// stores the value, or 0 and leaves *version untouched.
int ReadDefinitionVersion(uint32_t* version);

// Sets DefinitionVersion as REG_DWORD. 1 on success, 0 on failure.
int WriteDefinitionVersion(uint32_t version);
