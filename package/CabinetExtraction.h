// Extracting a cabinet into a directory through the cabinet library, and
// handing back the path of the one file it held.
#pragma once

#include "package/Layer.h"

#include "package/CabinetApi.h"

#include <cstdint>

enum CabinetExtractResult : int {
    EXTRACT_OK = 0,
    EXTRACT_FDI_FAILED = 1,       // no FDI context, the copy failed or was aborted
    EXTRACT_NO_DESTINATION = 2,   // the destination is not an existing directory
    EXTRACT_BAD_ARGUMENT = 3,     // a path is missing
    EXTRACT_NO_CABINET_FILE = 4,  // the cabinet path does not exist
    EXTRACT_BAD_CABINET = 5,      // cannot be opened, is no cabinet, or declares no files
    EXTRACT_NOT_READY = 6,        // the cabinet library is not bound
    EXTRACT_OUT_OF_MEMORY = 7,    // the slot array or a UTF-8 path cannot be obtained
};

// Paths of the files the extraction created, slots filled from 0 upward in
// the order FDI announced them. count is what the cabinet declares.
struct ExtractedFileList {
    wchar_t** items = nullptr;  // count + 10 slots
    uint32_t count = 0;
};

// The user value of one FDICopy.
struct CabinetCopyContext {
    CabinetApi* api;
    char* destinationDirUtf8;
    wchar_t** items;
    uint32_t capacity;
    uint32_t recorded;
};

// True when the cabinet declares exactly one file and all of it was
// extracted into destinationDirectory; outFirstFile (MAX_PATH units) then
// holds that file's full path. False otherwise, outFirstFile untouched; also
// false when the path would not fit outFirstFile (a cut path would name
// another program).
bool ExtractCabinet(const wchar_t* cabinetPath, const wchar_t* destinationDirectory,
                    wchar_t* outFirstFile);

CabinetExtractResult ExtractCabinetFiles(CabinetApi& api, const wchar_t* cabinetPath,
                                         const wchar_t* destinationDirectory,
                                         ExtractedFileList& list);
int CopyCabinetFiles(CabinetApi& api, HFDI context, const wchar_t* cabinetPath,
                     const wchar_t* destinationDirectory, ExtractedFileList& list);
void ReleaseExtractedFileList(ExtractedFileList& list);

// True for a stored name that stays inside the destination: relative, no
// drive or stream (':'), no UNC or rooted prefix, no ".." component.
bool IsSafeStoredName(const char* name);

FNFDINOTIFY(FdiNotify);
