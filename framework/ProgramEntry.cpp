// The program entry of a framework application: it constructs nothing
// itself (the global application object already exists) and hands over to
// AfxWinMain. Returning ends the process.
#include "framework/CWinApp.h"
#include "framework/EntryPoint.h"

namespace {
// Libraries loaded later by name come from the system directory only, never
// from the directory the program was started from (a downloads folder where
// anyone may have left a DLL of a system name). Looked up at run time: an
// old system without the call keeps its default order.
void RestrictLibrarySearchToSystem() {
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
    auto set = EntryPoint<SetDefaultDllDirectoriesFn>(::GetModuleHandleW(L"kernel32.dll"),
                                                      "SetDefaultDllDirectories");
    if (set != nullptr) set(LOAD_LIBRARY_SEARCH_SYSTEM32);
}
}  // namespace

// The run-time library's own entry: it initialises the library, runs the
// constructors of global objects and calls wWinMain.
extern "C" int WinMainCRTStartup();

// The process starts here. Only kernel32 and the C run-time library are bound
// at load time; every other system library is bound on first call, so the
// search must be restricted before any constructor can make such a call.
extern "C" int TirnProgramStart() {
    RestrictLibrarySearchToSystem();
    return WinMainCRTStartup();
}

extern "C" int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int) {
    return AfxWinMain(instance);
}
