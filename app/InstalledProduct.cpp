#include "app/InstalledProduct.h"

#include "framework/PathJoin.h"

#include <shlwapi.h>

#include <iterator>

namespace {
constexpr int kSearchLimit = 1024;
constexpr int kMaxPartLength = 1022;

// Length of a part, or -1 when it has no terminator within the search limit
// or is outside 1..1022 units.
int BoundedPartLength(const wchar_t* part) {
    for (int n = 0; n < kSearchLimit; ++n) {
        if (part[n] == L'\0') return (n >= 1 && n <= kMaxPartLength) ? n : -1;
    }
    return -1;
}

bool ExistsInDirectory(const wchar_t* directory, const wchar_t* name) {
    CString path = BuildInstallPath(directory, name);
    return !path.IsEmpty() && ::PathFileExistsW(path) != FALSE;
}
}  // namespace

CString BuildInstallPath(const wchar_t* directory, const wchar_t* name) {
    if (directory == nullptr || name == nullptr) return CString();
    const int directoryLength = BoundedPartLength(directory);
    const int nameLength = BoundedPartLength(name);
    if (directoryLength < 0 || nameLength < 0) return CString();

    wchar_t joined[2 * kSearchLimit];  // both parts at their longest, a backslash, terminator
    if (!JoinPath<wchar_t>({directory, static_cast<size_t>(directoryLength)},
                           {name, static_cast<size_t>(nameLength)}, joined, std::size(joined))) {
        return CString();
    }
    return CString(joined);
}

bool IsConflictingProductInstalled(const wchar_t* installDir) {
    return ExistsInDirectory(installDir, L"Tir.exe") || ExistsInDirectory(installDir, L"Tirn.exe");
}
