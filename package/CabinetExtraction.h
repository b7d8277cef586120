// Extracting a cabinet into a directory through the cabinet library, and
// handing back the path of the one file it held.
#pragma once

#include "package/Layer.h"

#include "framework/CString.h"
#include "package/CabinetApi.h"

#include <vector>

enum class ExtractResult {
    Ok,
    FdiFailed,      // no FDI context, the copy failed or was aborted
    NoDestination,  // the destination is not an existing directory
    BadArgument,    // a path is missing
    NoCabinetFile,  // the cabinet path does not exist
    BadCabinet,     // cannot be opened, is no cabinet, or declares no files
    NotReady,       // the cabinet library is not bound
    OutOfMemory,    // a UTF-8 path cannot be made
};

// True when the cabinet declares exactly one file, under a name the
// installer name rule takes, and all of it was extracted into
// destinationDirectory; outFirstFile (MAX_PATH units) then
// holds that file's full path. False otherwise, outFirstFile untouched; also
// false when the path would not fit outFirstFile (a cut path would name
// another program).
bool ExtractCabinet(const wchar_t* cabinetPath, const wchar_t* destinationDirectory,
                    wchar_t* outFirstFile);

// Extracts every file of the cabinet into destinationDirectory. extracted
// receives the paths of the files created, in the order the library
// announced them (no more than the cabinet declares); it is left empty on
// any failure.
// With installerOnly, a file whose stored name breaks the installer name
// rule (format/StoredName.h) fails the copy before it is created.
ExtractResult ExtractCabinetFiles(CabinetApi& api, const wchar_t* cabinetPath,
                                  const wchar_t* destinationDirectory,
                                  std::vector<CString>& extracted, bool installerOnly = false);

// True for a stored name that stays inside the destination: relative, no
// drive or stream (':'), no UNC or rooted prefix, no ".." component.
bool IsSafeStoredName(const char* name);
