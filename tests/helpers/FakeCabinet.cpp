// Test helper: a library that looks like the cabinet library from outside.
// Built twice: without FDIIsCabinet (binding must refuse it), and complete,
// planted beside a program to prove that it is never loaded from there. When
// loaded it leaves "<its own path>.loaded" behind.
#include <windows.h>

extern "C" {
__declspec(dllexport) void* __cdecl FDICreate() {
    return nullptr;
}
__declspec(dllexport) BOOL __cdecl FDICopy() {
    return FALSE;
}
#ifndef WITHOUT_IS_CABINET
__declspec(dllexport) BOOL __cdecl FDIIsCabinet() {
    return FALSE;
}
#endif
__declspec(dllexport) BOOL __cdecl FDIDestroy() {
    return TRUE;
}
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        wchar_t path[MAX_PATH + 8];
        DWORD n = ::GetModuleFileNameW(instance, path, MAX_PATH);
        lstrcpyW(path + n, L".loaded");
        HANDLE marker = ::CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        if (marker != INVALID_HANDLE_VALUE) ::CloseHandle(marker);
    }
    return TRUE;
}
