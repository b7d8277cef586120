#include "package/CabinetExtraction.h"

#include "app/framework/PathJoin.h"

#include "package/PayloadStaging.h"
#include "app/framework/ScopedHandle.h"

#include <shlwapi.h>

#include <cstring>
#include <cwchar>
#include <memory>
#include <new>
#include <string_view>

namespace {
constexpr size_t kSlack = 10;

// Releases what ExtractCabinetFiles acquired, on every path.
struct FdiContext {
    CabinetApi& api;
    HFDI handle;
    ~FdiContext() {
        if (handle != nullptr) api.pfnFDIDestroy(handle);
    }
};

INT_PTR CopyFileNotification(CabinetCopyContext& context, const char* storedName) {
    // Whatever the cabinet says, nothing is written outside the destination.
    if (!IsSafeStoredName(storedName)) return -1;
    CString path = JoinUtf8Path(context.destinationDirUtf8, storedName);
    if (path.IsEmpty()) return -1;

    if (context.recorded < context.capacity) {
        const size_t length = static_cast<size_t>(path.GetLength());
        auto* copy = new (std::nothrow) wchar_t[length + kSlack];
        if (copy != nullptr) {
            std::wmemcpy(copy, path.GetString(), length + 1);
            context.items[context.recorded++] = copy;
        }
    }
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
    if (converted && notification.hf != 0 && notification.hf != -1) {
        ::SetFileTime(reinterpret_cast<HANDLE>(notification.hf), nullptr, nullptr, &written);
    }
    FdiClose(notification.hf);
    return 1;
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

FNFDINOTIFY(FdiNotify) {
    if (pfdin == nullptr || pfdin->pv == nullptr) return 0;
    auto& context = *static_cast<CabinetCopyContext*>(pfdin->pv);
    if (context.destinationDirUtf8 == nullptr) return -1;
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

int CopyCabinetFiles(CabinetApi& api, HFDI context, const wchar_t* cabinetPath,
                     const wchar_t* destinationDirectory, ExtractedFileList& list) {
    std::unique_ptr<char[]> cabinetUtf8(WideToUtf8(cabinetPath));
    if (cabinetUtf8 == nullptr) return EXTRACT_OUT_OF_MEMORY;
    std::unique_ptr<char[]> destinationUtf8(WideToUtf8(destinationDirectory));
    if (destinationUtf8 == nullptr) return EXTRACT_OUT_OF_MEMORY;
    CabinetCopyContext copy{&api, destinationUtf8.get(), list.items, list.count, 0};

    // The cabinet library takes the directory (ending in a backslash) and the
    // name apart and joins them again within CB_MAX_CAB_PATH bytes. A path
    // that does not fit fails here whole: cut, its directory part would name
    // another place.
    const std::string_view path(cabinetUtf8.get());
    const size_t separator = path.find_last_of('\\');
    if (path.size() >= CB_MAX_CAB_PATH || separator == std::string_view::npos) {
        return EXTRACT_FDI_FAILED;
    }
    char directory[CB_MAX_CAB_PATH];
    if (!JoinPath<char>(path.substr(0, separator), "", directory, sizeof(directory))) {
        return EXTRACT_FDI_FAILED;
    }
    if (separator + 1 == path.size()) return EXTRACT_FDI_FAILED;  // no name
    const BOOL copied = api.pfnFDICopy(context, cabinetUtf8.get() + separator + 1, directory, 0,
                                       &FdiNotify, nullptr, &copy);
    return copied ? EXTRACT_OK : EXTRACT_FDI_FAILED;
}

void ReleaseExtractedFileList(ExtractedFileList& list) {
    if (list.items == nullptr || list.count == 0) return;
    for (uint32_t i = 0; i < list.count; ++i) {
        delete[] list.items[i];
        list.items[i] = nullptr;
    }
    delete[] list.items;
    list.items = nullptr;
    list.count = 0;
}

CabinetExtractResult ExtractCabinetFiles(CabinetApi& api, const wchar_t* cabinetPath,
                                         const wchar_t* destinationDirectory,
                                         ExtractedFileList& list) {
    list = ExtractedFileList{};
    if (!api.bReady) return EXTRACT_NOT_READY;
    if (cabinetPath == nullptr || destinationDirectory == nullptr) return EXTRACT_BAD_ARGUMENT;
    if (!::PathFileExistsW(cabinetPath)) return EXTRACT_NO_CABINET_FILE;
    if (!::PathIsDirectoryW(destinationDirectory)) return EXTRACT_NO_DESTINATION;

    ERF error{};
    FdiContext context{api, api.pfnFDICreate(&FdiAlloc, &FdiFree, &FdiOpen, &FdiRead, &FdiWrite,
                                             &FdiClose, &FdiSeek, cpuUNKNOWN, &error)};
    if (context.handle == nullptr) return EXTRACT_FDI_FAILED;

    HANDLE cabinet = ::CreateFileW(cabinetPath, GENERIC_READ, FILE_SHARE_READ, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (cabinet == INVALID_HANDLE_VALUE) return EXTRACT_BAD_CABINET;
    FDICABINETINFO info{};
    info.cbCabinet = sizeof(info);
    BOOL isCabinet = api.pfnFDIIsCabinet(context.handle, reinterpret_cast<INT_PTR>(cabinet), &info);
    FdiClose(reinterpret_cast<INT_PTR>(cabinet));
    if (!isCabinet || info.cFiles == 0) return EXTRACT_BAD_CABINET;

    const uint32_t declared = info.cFiles;
    auto* items = new (std::nothrow) wchar_t*[declared + kSlack];
    if (items == nullptr) return EXTRACT_OUT_OF_MEMORY;
    for (uint32_t i = 0; i < declared + kSlack; ++i) items[i] = nullptr;
    list.items = items;
    list.count = declared;

    int result = CopyCabinetFiles(api, context.handle, cabinetPath, destinationDirectory, list);
    if (result != EXTRACT_OK) ReleaseExtractedFileList(list);
    return static_cast<CabinetExtractResult>(result);
}

bool ExtractCabinet(const wchar_t* cabinetPath, const wchar_t* destinationDirectory,
                    wchar_t* outFirstFile) {
    ScopedCabinetApi api;  // unbound on every way out, exceptions included
    ExtractedFileList list;
    if (ExtractCabinetFiles(api.Get(), cabinetPath, destinationDirectory, list) != EXTRACT_OK) {
        return false;
    }
    struct Release {
        ExtractedFileList& list;
        ~Release() { ReleaseExtractedFileList(list); }
    } release{list};
    if (list.count != 1 || list.items[0] == nullptr) return false;
    const size_t length = std::wcslen(list.items[0]);
    if (length >= MAX_PATH) return false;
    std::wmemcpy(outFirstFile, list.items[0], length + 1);
    return true;
}
