// Files reached through handles, where a path would be looked up again:
// opening a name inside a held directory (whatever its path has become),
// creating create-only with a security descriptor in the same call, and
// renaming, naming and deleting what a handle holds.
//
// Code that works in a place other processes can write uses these instead of
// paths: between a check by path and an act by path, the path can be made to
// name something else (a link swapped in, a directory made a mount point).
#pragma once

#include "framework/Layer.h"

#include "framework/WindowsApi.h"

#include <optional>
#include <string>
#include <string_view>

// The native API's values, which the Win32 headers do not carry.
namespace native {
inline constexpr ULONG kFileOpen = 0x00000001;         // open what exists
inline constexpr ULONG kFileCreate = 0x00000002;       // fail when anything exists
inline constexpr ULONG kFileOverwriteIf = 0x00000005;  // replace what exists, or create
inline constexpr ULONG kDirectoryFile = 0x00000001;
inline constexpr ULONG kSynchronousIoNonalert = 0x00000020;
inline constexpr ULONG kNonDirectoryFile = 0x00000040;
inline constexpr ULONG kOpenReparsePoint = 0x00200000;  // the link itself, never its target
}  // namespace native

struct NativeOpen {
    ACCESS_MASK access;
    ULONG share;
    ULONG disposition;                        // native::kFileOpen or native::kFileCreate
    ULONG options;                            // native:: options; synchronous I/O is always added
    PSECURITY_DESCRIPTOR security = nullptr;  // for a file this call creates
};

// Opens name relative to directory, or the native path name ("\??\C:\...")
// when directory is null. The handle, or null.
HANDLE OpenNativeFile(HANDLE directory, std::wstring_view name, const NativeOpen& how);

// The directory holding the last component of the Win32 path, opened once
// and no link itself, so that the name can be reached inside what the handle
// holds; null when it cannot be opened or is a link. With the name:
// LastComponent.
HANDLE OpenParentDirectory(std::wstring_view path);
std::wstring_view LastComponent(std::wstring_view path);

// The attributes the handle reports of what it holds (FILE_ATTRIBUTE_*), or
// nothing when they cannot be read.
std::optional<DWORD> AttributesOf(HANDLE file);

// The native form of a Win32 path ("\??\C:\...", "\??\UNC\server\..."), whole
// or not at all.
bool NativePath(const wchar_t* path, wchar_t* out, size_t capacity);

// The name of what the handle holds, from the root of its volume
// ("\Users\...\Temp\x"), as the file system reports it now; empty when it
// cannot be read.
std::wstring FileNameOf(HANDLE file);

// Gives what the handle holds (opened with DELETE) the name target inside
// the directory held by directory (or the native path target when directory
// is null); never replaces anything standing there.
bool RenameTo(HANDLE file, HANDLE directory, std::wstring_view target);

// The path of what the handle holds as Win32 names it on its drive
// ("C:\Users\...\Temp\x"), every link on the way resolved, into
// out[capacity]; false when it has no drive letter (a network share, a volume
// without one) or would not fit whole.
bool DrivePathOf(HANDLE file, wchar_t* out, size_t capacity);

// Marks what the handle holds (opened with DELETE) for deletion when its
// last handle closes. A directory must be empty.
bool MarkForDeletion(HANDLE file);
