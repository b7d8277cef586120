// The staging place's security: full access for Administrators and SYSTEM,
// nothing inherited, nothing for anyone else. The launcher runs elevated and
// starts a program from the user's temporary directory, which any process of
// the user can write; what it stages there is writable by no one else.
#pragma once

#include "package/Layer.h"

#include "framework/WindowsApi.h"

// A security descriptor made by the system's allocator, freed with it.
class StagingSecurity {
  public:
    StagingSecurity();
    ~StagingSecurity();
    StagingSecurity(const StagingSecurity&) = delete;
    StagingSecurity& operator=(const StagingSecurity&) = delete;

    // Null when it could not be made.
    PSECURITY_DESCRIPTOR Descriptor() const { return m_descriptor; }

  private:
    PSECURITY_DESCRIPTOR m_descriptor = nullptr;
};

// Gives the open file or directory the staging place's protected DACL: a file
// an earlier process left with a protected DACL of its own keeps it when it
// is replaced or truncated, and could otherwise be rewritten between the
// launcher's writes and the installer's start. The handle needs WRITE_DAC.
bool RestrictToAdministrators(HANDLE object);
