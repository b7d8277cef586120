// Test helper: a real program that reads the package appended to its own
// file. Prints the definition version read; the exit code is that version,
// or 0xFFFFFFF0 when repeated reads disagree or leave handles open.
#include "package/PackageVersion.h"

#include <windows.h>

#include <cstdio>

int wmain() {
    DWORD handlesBefore = 0;
    BOOL counted = ::GetProcessHandleCount(::GetCurrentProcess(), &handlesBefore);
    uint32_t first = ReadPackageVersion();
    for (int i = 0; i < 3; ++i) {
        if (ReadPackageVersion() != first) return static_cast<int>(0xFFFFFFF0u);
    }
    DWORD handlesAfter = 0;
    if (counted && ::GetProcessHandleCount(::GetCurrentProcess(), &handlesAfter) &&
        handlesAfter != handlesBefore) {
        return static_cast<int>(0xFFFFFFF0u);
    }
    std::printf("%u\n", first);
    return static_cast<int>(first);
}
