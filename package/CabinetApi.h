// The cabinet library bound at run time for one extraction, and the memory,
// file and text helpers that its decompression interface (FDI) calls back.
// File handles cross FDI as the Windows handles themselves; 0 and -1 mean
// "no file" to every callback.
#pragma once

#include "package/Layer.h"

#include "framework/CString.h"

#include <fdi.h>

using PfnFDICreate = decltype(&FDICreate);
using PfnFDICopy = decltype(&FDICopy);
using PfnFDIIsCabinet = decltype(&FDIIsCabinet);
using PfnFDIDestroy = decltype(&FDIDestroy);

struct CabinetApi {
    HMODULE hModule = nullptr;
    PfnFDICreate pfnFDICreate = nullptr;
    PfnFDICopy pfnFDICopy = nullptr;
    PfnFDIIsCabinet pfnFDIIsCabinet = nullptr;
    PfnFDIDestroy pfnFDIDestroy = nullptr;
    int bReady = 0;
};

// Loads Cabinet.dll from the system directory only (never from beside the
// setup, where anyone may have planted one) and looks up the four entry
// points. Not ready when the library or any entry point is missing.
void BindCabinetApi(CabinetApi& api);
// The same from a given full path; for tests that bind a library lacking an
// entry point.
void BindCabinetApiFrom(CabinetApi& api, const wchar_t* libraryPath);
void UnbindCabinetApi(CabinetApi& api);

// Unbinds on every way out of a scope.
class ScopedCabinetApi {
  public:
    ScopedCabinetApi() { BindCabinetApi(m_api); }
    explicit ScopedCabinetApi(const wchar_t* libraryPath) {
        BindCabinetApiFrom(m_api, libraryPath);
    }
    ~ScopedCabinetApi() { UnbindCabinetApi(m_api); }
    ScopedCabinetApi(const ScopedCabinetApi&) = delete;
    ScopedCabinetApi& operator=(const ScopedCabinetApi&) = delete;
    CabinetApi& Get() { return m_api; }

  private:
    CabinetApi m_api;
};

// New strings from the general allocator (delete[]); null on failure.
wchar_t* Utf8ToWide(const char* text);
char* WideToUtf8(const wchar_t* text);
// directory + one backslash (unless it ends with one) + name, as UTF-16;
// empty on any failure, and when the path would not fit in MAX_PATH units.
CString JoinUtf8Path(const char* directory, const char* name);

// What every callback takes for "no file".
inline bool IsNoFile(INT_PTR handle) {
    return handle == 0 || handle == -1;
}

FNALLOC(FdiAlloc);
FNFREE(FdiFree);
FNOPEN(FdiOpen);
FNREAD(FdiRead);
FNWRITE(FdiWrite);
FNCLOSE(FdiClose);
FNSEEK(FdiSeek);
