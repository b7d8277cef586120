// The installation record: HKLM\Software\Tirn, values szTirnDir (the
// installation directory, read only) and DefinitionVersion (the installed
// definition version). Every call opens the key itself (creating it, empty,
// when missing, also for a read) and closes it before returning. Launchers of
// either width keep it in the 32-bit registry view.
#pragma once

#include "app/Layer.h"

#include "framework/WindowsApi.h"

#include <cstdint>
#include <vector>

// Reads szTirnDir (REG_SZ only) into buffer. Returns its length in units, or
// 0 when it is missing, of another type, empty or longer than capacity - 1.
// On success the buffer holds a string terminated within its capacity.
int ReadInstallDir(wchar_t* buffer, int capacity);

// Reads DefinitionVersion (REG_DWORD of exactly 4 bytes only). Returns 1 and
// stores the value, or 0 and leaves *version untouched.
int ReadDefinitionVersion(uint32_t* version);

// Sets DefinitionVersion as REG_DWORD. 1 on success, 0 on failure.
int WriteDefinitionVersion(uint32_t version);

// DefinitionVersion as it stands before the road writes it, so that a launch
// that fails can put back exactly what was there: the same type and bytes,
// or no value at all. Otherwise the record would claim a version whose
// installer never ran, and every later run of that setup would start the old
// product instead of upgrading.
class DefinitionVersionSnapshot {
  public:
    // False when the record cannot be read; an absent value reads fine.
    bool Take();
    // Puts back what Take read. False when nothing was taken or the record
    // cannot be written.
    bool Restore() const;

  private:
    bool m_taken = false;
    bool m_present = false;
    DWORD m_type = REG_NONE;
    std::vector<BYTE> m_data;
};
