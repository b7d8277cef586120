#include "package/CabinetExtraction.h"

#include "format/StoredName.h"

#include "framework/PathJoin.h"

#include "package/StagingSecurity.h"
#include "framework/ScopedHandle.h"

#include <shlwapi.h>

#include <cstring>
#include <cwchar>
#include <memory>
#include <string_view>
#include <vector>

namespace {
// Releases the FDI context on every path.
struct FdiContext {
    CabinetApi& api;
    HFDI handle;
    ~FdiContext() {
        if (handle != nullptr) api.pfnFDIDestroy(handle);
    }
};

// The user value of one FDICopy.
struct CopyContext {
    const char* destinationUtf8;
    size_t declared;  // files the cabinet declares: no more are recorded
    std::vector<CString>& extracted;
    bool installerOnly;  // the one file of a setup: the installer name rule holds
};

INT_PTR CopyFileNotification(CopyContext& context, const char* storedName) {
    // Whatever the cabinet says, nothing is written outside the destination.
    if (!IsSafeStoredName(storedName)) return -1;
    if (context.installerOnly && tirn::format::StoredNameProblem(storedName)) return -1;
    CString path = JoinUtf8Path(context.destinationUtf8, storedName);
    if (path.IsEmpty()) return -1;
    if (context.extracted.size() < context.declared) context.extracted.push_back(path);
    ScopedHandle file(::CreateFileW(path, GENERIC_READ | GENERIC_WRITE | WRITE_DAC, FILE_SHARE_READ,
                                    nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    // Whatever DACL a file left here before had, the program about to be
    // started is writable by Administrators and SYSTEM only.
    if (!file.IsValid() || !RestrictToAdministrators(file.Get())) return -1;
    return reinterpret_cast<INT_PTR>(file.Release());  // closed by the cabinet library
}

INT_PTR CloseFileNotification(const FDINOTIFICATION& notification) {
    FILETIME written;
    const bool converted = ::DosDateTimeToFileTime(notification.date, notification.time, &written);
    if (converted && !IsNoFile(notification.hf)) {
        ::SetFileTime(reinterpret_cast<HANDLE>(notification.hf), nullptr, nullptr, &written);
    }
    FdiClose(notification.hf);
    return 1;
}

FNFDINOTIFY(FdiNotify) {
    if (pfdin == nullptr || pfdin->pv == nullptr) return 0;
    auto& context = *static_cast<CopyContext*>(pfdin->pv);
    // Called from inside the cabinet library, whose frames no C++ exception
    // may cross: out of memory while a path is built aborts the copy instead.
    try {
        switch (fdint) {
            case fdintCABINET_INFO: return 0;
            case fdintPARTIAL_FILE: return -1;  // continued from another cabinet
            case fdintCOPY_FILE: return CopyFileNotification(context, pfdin->psz1);
            case fdintCLOSE_FILE_INFO: return CloseFileNotification(*pfdin);
            case fdintNEXT_CABINET: return -1;  // continues into another cabinet
            default: return 0;
        }
    } catch (...) {
        return -1;
    }
}

// The cabinet library takes the cabinet's directory (ending in a backslash)
// and name apart and joins them again within CB_MAX_CAB_PATH bytes. A path
// that does not fit fails here whole: cut, its directory part would name
// another place.
bool SplitCabinetPath(std::string_view path, char (&directory)[CB_MAX_CAB_PATH],
                      std::string_view& name) {
    const size_t separator = path.find_last_of('\\');
    if (path.size() >= CB_MAX_CAB_PATH || separator == std::string_view::npos ||
        separator + 1 == path.size()) {
        return false;
    }
    name = path.substr(separator + 1);
    return JoinPath<char>(path.substr(0, separator), "", directory, sizeof(directory));
}

ExtractResult CopyCabinetFiles(CabinetApi& api, HFDI context, const wchar_t* cabinetPath,
                               const wchar_t* destinationDirectory, size_t declared,
                               std::vector<CString>& extracted, bool installerOnly) {
    std::unique_ptr<char[]> cabinetUtf8(WideToUtf8(cabinetPath));
    std::unique_ptr<char[]> destinationUtf8(WideToUtf8(destinationDirectory));
    if (cabinetUtf8 == nullptr || destinationUtf8 == nullptr) return ExtractResult::OutOfMemory;
    char directory[CB_MAX_CAB_PATH];
    std::string_view name;
    if (!SplitCabinetPath(cabinetUtf8.get(), directory, name)) return ExtractResult::FdiFailed;
    CopyContext copy{destinationUtf8.get(), declared, extracted, installerOnly};
    const BOOL copied = api.pfnFDICopy(context, const_cast<char*>(name.data()), directory, 0,
                                       &FdiNotify, nullptr, &copy);
    return copied ? ExtractResult::Ok : ExtractResult::FdiFailed;
}
}  // namespace

bool IsSafeStoredName(const char* name) {
    if (name == nullptr || name[0] == '\0') return false;
    if (name[0] == '\\' || name[0] == '/') return false;  // rooted, UNC, device paths
    if (std::strchr(name, ':') != nullptr) return false;  // drive letter or stream
    const char* component = name;
    for (const char* p = name;; ++p) {
        if (*p == '\\' || *p == '/' || *p == '\0') {
            if (p - component == 2 && component[0] == '.' && component[1] == '.') return false;
            if (*p == '\0') return true;
            component = p + 1;
        }
    }
}

ExtractResult ExtractCabinetFiles(CabinetApi& api, const wchar_t* cabinetPath,
                                  const wchar_t* destinationDirectory,
                                  std::vector<CString>& extracted, bool installerOnly) {
    extracted.clear();
    if (!api.bReady) return ExtractResult::NotReady;
    if (cabinetPath == nullptr || destinationDirectory == nullptr) {
        return ExtractResult::BadArgument;
    }
    if (!::PathFileExistsW(cabinetPath)) return ExtractResult::NoCabinetFile;
    if (!::PathIsDirectoryW(destinationDirectory)) return ExtractResult::NoDestination;

    ERF error{};
    FdiContext context{api, api.pfnFDICreate(&FdiAlloc, &FdiFree, &FdiOpen, &FdiRead, &FdiWrite,
                                             &FdiClose, &FdiSeek, cpuUNKNOWN, &error)};
    if (context.handle == nullptr) return ExtractResult::FdiFailed;

    HANDLE cabinet = ::CreateFileW(cabinetPath, GENERIC_READ, FILE_SHARE_READ, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (cabinet == INVALID_HANDLE_VALUE) return ExtractResult::BadCabinet;
    FDICABINETINFO info{};
    info.cbCabinet = sizeof(info);
    BOOL isCabinet = api.pfnFDIIsCabinet(context.handle, reinterpret_cast<INT_PTR>(cabinet), &info);
    FdiClose(reinterpret_cast<INT_PTR>(cabinet));
    if (!isCabinet || info.cFiles == 0) return ExtractResult::BadCabinet;

    const ExtractResult result =
        CopyCabinetFiles(api, context.handle, cabinetPath, destinationDirectory, info.cFiles,
                         extracted, installerOnly);
    if (result != ExtractResult::Ok) extracted.clear();
    return result;
}

bool ExtractCabinet(const wchar_t* cabinetPath, const wchar_t* destinationDirectory,
                    wchar_t* outFirstFile) {
    ScopedCabinetApi api;  // unbound on every way out, exceptions included
    std::vector<CString> extracted;
    if (ExtractCabinetFiles(api.Get(), cabinetPath, destinationDirectory, extracted, true) !=
        ExtractResult::Ok) {
        return false;
    }
    if (extracted.size() != 1) return false;
    const auto length = static_cast<size_t>(extracted[0].GetLength());
    if (length >= MAX_PATH) return false;
    std::wmemcpy(outFirstFile, extracted[0].GetString(), length + 1);
    return true;
}
