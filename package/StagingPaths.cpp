#include "package/StagingPaths.h"

#include "framework/PathJoin.h"

#include <cwchar>

int CombinePath(const wchar_t* directory, int capacity, wchar_t* out, const wchar_t* name) {
    if (capacity <= 0 || !JoinPath(directory, name, out, static_cast<size_t>(capacity))) return 0;
    return static_cast<int>(std::wcslen(out));
}

int GetStagingDirectory(wchar_t* out) {
    std::wmemset(out, L'\0', MAX_PATH);
    wchar_t temp[MAX_PATH];
    DWORD tempLength = ::GetTempPathW(MAX_PATH, temp);
    if (tempLength == 0 || tempLength > MAX_PATH - 1) return 0;
    return CombinePath(temp, MAX_PATH, out, kStagingDirectoryName);
}
