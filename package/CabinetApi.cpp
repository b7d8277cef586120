#include "package/CabinetApi.h"
#include "framework/EntryPoint.h"

#include "framework/PathJoin.h"

#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <memory>
#include <new>

namespace {
HANDLE AsHandle(INT_PTR handle) {
    return reinterpret_cast<HANDLE>(handle);
}

void LookUpEntryPoints(CabinetApi& api) {
    if (api.hModule == nullptr) return;
    api.pfnFDICreate = EntryPoint<PfnFDICreate>(api.hModule, "FDICreate");
    api.pfnFDICopy = EntryPoint<PfnFDICopy>(api.hModule, "FDICopy");
    api.pfnFDIIsCabinet = EntryPoint<PfnFDIIsCabinet>(api.hModule, "FDIIsCabinet");
    api.pfnFDIDestroy = EntryPoint<PfnFDIDestroy>(api.hModule, "FDIDestroy");
    if (api.pfnFDICreate && api.pfnFDICopy && api.pfnFDIIsCabinet && api.pfnFDIDestroy) {
        api.bReady = 1;
    } else {
        ::FreeLibrary(api.hModule);
        api.hModule = nullptr;
    }
}
}  // namespace

void BindCabinetApi(CabinetApi& api) {
    api = CabinetApi{};
    api.hModule = ::LoadLibraryExW(L"Cabinet.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (api.hModule == nullptr && ::GetLastError() == ERROR_INVALID_PARAMETER) {
        // A system without the search flags: name the system copy in full.
        wchar_t path[MAX_PATH];
        UINT n = ::GetSystemDirectoryW(path, MAX_PATH - 13);
        if (n > 0 && n < MAX_PATH - 13) {
            std::wcscpy(path + n, L"\\Cabinet.dll");
            api.hModule = ::LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
        }
    }
    LookUpEntryPoints(api);
}

void BindCabinetApiFrom(CabinetApi& api, const wchar_t* libraryPath) {
    api = CabinetApi{};
    api.hModule = ::LoadLibraryExW(libraryPath, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    LookUpEntryPoints(api);
}

void UnbindCabinetApi(CabinetApi& api) {
    if (api.hModule != nullptr) ::FreeLibrary(api.hModule);
    api.hModule = nullptr;
    api.bReady = 0;
}

wchar_t* Utf8ToWide(const char* text) {
    if (text == nullptr) return nullptr;
    int n = ::MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
    if (n <= 0) return nullptr;
    auto* out = new (std::nothrow) wchar_t[static_cast<size_t>(n)];
    if (out == nullptr) return nullptr;
    if (::MultiByteToWideChar(CP_UTF8, 0, text, -1, out, n) != n) {
        delete[] out;
        return nullptr;
    }
    return out;
}

char* WideToUtf8(const wchar_t* text) {
    if (text == nullptr) return nullptr;
    int n = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return nullptr;
    auto* out = new (std::nothrow) char[static_cast<size_t>(n)];
    if (out == nullptr) return nullptr;
    if (::WideCharToMultiByte(CP_UTF8, 0, text, -1, out, n, nullptr, nullptr) != n) {
        delete[] out;
        return nullptr;
    }
    return out;
}

CString JoinUtf8Path(const char* directory, const char* name) {
    if (directory == nullptr || name == nullptr) return CString();
    // directory, a backslash, name and the terminator
    const size_t capacity = std::strlen(directory) + 1 + std::strlen(name) + 1;
    std::unique_ptr<char[]> joined(new (std::nothrow) char[capacity]);
    if (joined == nullptr || !JoinPath(directory, name, joined.get(), capacity)) return CString();
    std::unique_ptr<wchar_t[]> wide(Utf8ToWide(joined.get()));
    // A path the rest of the road cannot hold whole is no path: refused here,
    // before a file of that name is created.
    if (wide == nullptr || std::wcslen(wide.get()) >= MAX_PATH) return CString();
    return CString(wide.get());
}

// The cabinet library calls these through C frames that no C++ exception may
// cross: each callback ends at its own edge with its failure value.

FNALLOC(FdiAlloc) {
    return cb == 0 ? nullptr : std::malloc(cb);
}

FNFREE(FdiFree) {
    if (pv != nullptr) std::free(pv);
}

namespace {

struct CreateFileArguments {
    DWORD access;
    DWORD disposition;
    DWORD attributes;
};

// How the run-time library's open flags and permission mode read as
// CreateFileW's arguments.
CreateFileArguments MapOpenFlags(int openFlags, int permissionMode) {
    const bool create = (openFlags & 0x0100) != 0;     // _O_CREAT
    const bool truncate = (openFlags & 0x0200) != 0;   // _O_TRUNC
    const bool exclusive = (openFlags & 0x0400) != 0;  // _O_EXCL
    CreateFileArguments args;
    args.access = (openFlags & 0x0002) ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ;  // _O_RDWR
    if (create) {
        args.disposition = exclusive ? CREATE_NEW : truncate ? CREATE_ALWAYS : CREATE_NEW;
    } else {
        args.disposition = truncate ? TRUNCATE_EXISTING : OPEN_EXISTING;
    }
    args.attributes =
        create && permissionMode == 0x0100 ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_NORMAL;
    return args;
}

}  // namespace

FNOPEN(FdiOpen) {
    try {
        std::unique_ptr<wchar_t[]> path(Utf8ToWide(pszFile));
        if (path == nullptr) return -1;
        CreateFileArguments args = MapOpenFlags(oflag, pmode);
        HANDLE file = ::CreateFileW(path.get(), args.access, FILE_SHARE_READ, nullptr,
                                    args.disposition, args.attributes, nullptr);
        return file == INVALID_HANDLE_VALUE ? -1 : reinterpret_cast<INT_PTR>(file);
    } catch (...) {
        return -1;
    }
}

FNREAD(FdiRead) {
    if (IsNoFile(hf)) return static_cast<UINT>(-1);
    DWORD read = 0;
    if (!::ReadFile(AsHandle(hf), pv, cb, &read, nullptr)) return 0;
    return read;
}

FNWRITE(FdiWrite) {
    if (IsNoFile(hf)) return static_cast<UINT>(-1);
    DWORD written = 0;
    if (!::WriteFile(AsHandle(hf), pv, cb, &written, nullptr)) return 0;
    return written;
}

FNCLOSE(FdiClose) {
    if (IsNoFile(hf)) return -1;
    return ::CloseHandle(AsHandle(hf)) ? 0 : -1;
}

FNSEEK(FdiSeek) {
    if (IsNoFile(hf)) return -1;
    DWORD method;
    switch (seektype) {
        case 0: method = FILE_BEGIN; break;
        case 1: method = FILE_CURRENT; break;
        case 2: method = FILE_END; break;
        default: return -1;
    }
    DWORD position = ::SetFilePointer(AsHandle(hf), dist, nullptr, method);
    return position == INVALID_SET_FILE_POINTER ? -1 : static_cast<__LONG32>(position);
}
