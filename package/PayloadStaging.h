// Staging: the payload, descrambled, becomes the cabinet file
// %TEMP%\TirnHome2014\TirnHomeSetup.cab, in a directory made new by each run
// (see PrepareStagingDirectory).
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

class ScopedHandle;

// Gives the open file or directory the staging place's protected DACL
// (full access for Administrators and SYSTEM, nothing inherited): a file an
// earlier process left with a protected DACL of its own keeps it when it is
// replaced or truncated, and could otherwise be rewritten between the
// launcher's writes and the installer's start. The handle needs WRITE_DAC.
bool RestrictToAdministrators(HANDLE object);

// Makes the staging directory new for this run, with a protected DACL that
// admits only Administrators and SYSTEM: the launcher runs elevated and
// starts a program from this folder of the user's temporary directory, where
// any process of the user could otherwise have planted a DLL beside the
// installer, or kept a handle that writes into the folder. So the installer
// never starts from a directory that existed before this run: what stands at
// the name is moved aside ("<name>.<n>.old"; its plain files are deleted,
// and it too when that empties it), and a directory is created there and
// opened in one step, so that the handle names the one this run made. When
// what stands there cannot be moved (held open, an installer still running
// from it), the next free name "<name>-1" to "<name>-9" is taken instead, and
// directory (MAX_PATH units) is set to the path used. A link or a file at the
// name itself is refused. On success hold keeps the directory open without
// delete sharing, so that it cannot be renamed or replaced until the caller
// is done.
bool PrepareStagingDirectory(wchar_t* directory, ScopedHandle& hold);

// Creates (or replaces) the staging file, restricted to Administrators, and
// writes the payload into it, descrambled block by block. 1 on success, 0 on failure; what was
// written before a failure stays in the file.
int WritePayloadFile(const uint8_t* source, uint32_t size, const wchar_t* path);
