#include "package/StagingDirectory.h"

#include "framework/NativeFile.h"
#include "framework/ScopedHandle.h"
#include "package/PayloadStaging.h"
#include "package/StagingSecurity.h"

#include <ntsecapi.h>

#include <cstddef>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

static_assert(sizeof(kRandomStagingPrefix) / sizeof(wchar_t) - 1 + kRandomNameUnits ==
                  sizeof(kStagingDirectoryName) / sizeof(wchar_t) - 1,
              "a random name is as long as the own name");

namespace {
// A directory filled with entries by someone else is cleared this far, no
// further: what is left stays moved aside.
constexpr size_t kMostClearedEntries = 1024;
constexpr int kNameTries = 16;
// The native form adds "\??\" or "\??\UNC" to a path of MAX_PATH units.
constexpr size_t kNativePathUnits = MAX_PATH + 8;
constexpr ULONG kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

bool SameName(std::wstring_view a, std::wstring_view b) {
    return ::CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                                  static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

bool IsReparsePoint(DWORD attributes) {
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// count characters from the system's random source, in an alphabet that
// case-insensitive names keep apart.
bool RandomCharacters(wchar_t* out, int count) {
    static constexpr char kAlphabet[] = "abcdefghijklmnopqrstuvwxyz234567";
    unsigned char random[kRandomNameUnits];
    if (count > kRandomNameUnits || !::SystemFunction036(random, sizeof(random))) return false;
    for (int i = 0; i < count; ++i) out[i] = static_cast<wchar_t>(kAlphabet[random[i] % 32]);
    out[count] = L'\0';
    return true;
}

// path with its last component replaced by a random name, into out[MAX_PATH].
bool RandomSibling(const wchar_t* path, wchar_t* out) {
    const wchar_t* last = std::wcsrchr(path, L'\\');
    if (last == nullptr) return false;
    const size_t parent = static_cast<size_t>(last - path) + 1;
    const size_t prefix = std::wcslen(kRandomStagingPrefix);
    if (parent + prefix + kRandomNameUnits >= MAX_PATH) return false;
    std::wmemcpy(out, path, parent);
    std::wmemcpy(out + parent, kRandomStagingPrefix, prefix);
    return RandomCharacters(out + parent + prefix, kRandomNameUnits);
}

// Makes path a new directory with the staging DACL and opens it in the same
// call: the handle names the directory this call made, which no other
// process can have opened before, and nobody but Administrators and SYSTEM
// could write into since. False when anything already stands at path.
bool CreateFreshDirectory(const wchar_t* path, ScopedHandle& hold) {
    StagingSecurity security;
    wchar_t native[kNativePathUnits];
    if (security.Descriptor() == nullptr || !NativePath(path, native, kNativePathUnits)) {
        return false;
    }
    // Held without delete sharing: from here on the path keeps naming it.
    hold.Reset(
        OpenNativeFile(nullptr, native,
                       {FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | READ_CONTROL | WRITE_DAC,
                        FILE_SHARE_READ | FILE_SHARE_WRITE, native::kFileCreate,
                        native::kDirectoryFile, security.Descriptor()}));
    return hold.IsValid();
}

template <typename Info>
bool Query(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, Info& info) {
    return ::GetFileInformationByHandleEx(file, kind, &info, sizeof(info));
}

// The names of the plain files in a directory, listed through its handle;
// directories, links and what does not fit the list are left out.
std::vector<std::wstring> ListPlainFiles(HANDLE directory) {
    std::vector<std::wstring> names;
    std::vector<DWORD> buffer(16 * 1024);
    const size_t size = buffer.size() * sizeof(DWORD);
    const auto* bytes = reinterpret_cast<const unsigned char*>(buffer.data());
    constexpr size_t kHeader = offsetof(FILE_FULL_DIR_INFO, FileName);
    FILE_INFO_BY_HANDLE_CLASS kind = FileFullDirectoryRestartInfo;
    while (
        names.size() < kMostClearedEntries &&
        ::GetFileInformationByHandleEx(directory, kind, buffer.data(), static_cast<DWORD>(size))) {
        kind = FileFullDirectoryInfo;
        // Every record's place and length is checked against the buffer.
        for (size_t at = 0; at + kHeader <= size && names.size() < kMostClearedEntries;) {
            FILE_FULL_DIR_INFO entry;
            std::memcpy(&entry, bytes + at, kHeader);
            if (entry.FileNameLength > size - at - kHeader) break;
            if (!(entry.FileAttributes &
                  (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) &&
                entry.FileNameLength >= sizeof(wchar_t)) {
                std::wstring name(entry.FileNameLength / sizeof(wchar_t), L'\0');
                std::memcpy(name.data(), bytes + at + kHeader, name.size() * sizeof(wchar_t));
                if (name.find(L'\\') == std::wstring::npos) names.push_back(std::move(name));
            }
            if (entry.NextEntryOffset == 0) break;
            at += entry.NextEntryOffset;
        }
    }
    return names;
}

// Deletes one plain file of the held directory, opened inside it through the
// directory's handle, never through a link, and checked through its own
// handle: a file (no directory, no link) of a single name (a hard link would
// share its read-only flag with another name), which the file system names
// as this entry of this directory. Where deletion goes back to a path (Wine
// deletes the name the file had when opened), that check is what keeps a
// directory swapped in meanwhile out of reach.
void DeleteEntry(HANDLE directory, const std::wstring& directoryName, const std::wstring& name) {
    ScopedHandle entry(
        OpenNativeFile(directory, name,
                       {DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, kShareAll,
                        native::kFileOpen, native::kNonDirectoryFile | native::kOpenReparsePoint}));
    FILE_ATTRIBUTE_TAG_INFO tag{};
    FILE_STANDARD_INFO standard{};
    if (!entry.IsValid() || !Query(entry.Get(), FileAttributeTagInfo, tag) ||
        (tag.FileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ||
        !Query(entry.Get(), FileStandardInfo, standard) || standard.Directory ||
        standard.NumberOfLinks != 1 ||
        !SameName(FileNameOf(entry.Get()), directoryName + L"\\" + name)) {
        return;
    }
    if (tag.FileAttributes & FILE_ATTRIBUTE_READONLY) {
        FILE_BASIC_INFO basic{};  // times of 0 stay as they are
        basic.FileAttributes = tag.FileAttributes & ~FILE_ATTRIBUTE_READONLY;
        if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
        if (!::SetFileInformationByHandle(entry.Get(), FileBasicInfo, &basic, sizeof(basic))) {
            return;
        }
    }
    MarkForDeletion(entry.Get());
}

// Deletes the plain files of the held directory, moved aside at aside, and
// then the directory itself when that emptied it; anything else stays.
void ClearMovedAside(HANDLE held, const wchar_t* aside) {
    const std::wstring heldName = FileNameOf(held);
    if (heldName.empty()) return;
    const std::vector<std::wstring> names = ListPlainFiles(held);
#ifdef TIRN_TEST_SEAMS
    if (g_stagingAfterListing != nullptr) g_stagingAfterListing(aside);
#else
    static_cast<void>(aside);
#endif
    for (const std::wstring& name : names) DeleteEntry(held, heldName, name);
    MarkForDeletion(held);  // refused unless empty
}

// Makes way at the staging place's own name: what stands there is opened
// once and, when it is a directory (no link) that can be moved, renamed
// through that handle to "<name>.<random>.old" and cleared. A file, a link,
// or a directory another process holds without delete sharing stays as it
// is; the caller then finds the name taken.
void MoveAsideWhatStandsAt(const wchar_t* path) {
    // Wine shows a host link as a reparse point only through its path, and
    // opens its target even when asked for the link: it is passed over here.
    // On Windows the handle's own attributes below are what counts.
    const DWORD attributes = ::GetFileAttributesW(path);
    if (attributes == INVALID_FILE_ATTRIBUTES || IsReparsePoint(attributes) ||
        !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        return;
    }
    wchar_t native[kNativePathUnits];
    if (!NativePath(path, native, kNativePathUnits)) return;
    // Without delete sharing: from here on nobody else renames or deletes it.
    ScopedHandle held(OpenNativeFile(
        nullptr, native,
        {DELETE | FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
         native::kFileOpen, native::kDirectoryFile | native::kOpenReparsePoint}));
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (!held.IsValid() || !Query(held.Get(), FileAttributeTagInfo, tag) ||
        !(tag.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
        (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        return;
    }
    const std::wstring heldName = FileNameOf(held.Get());
    const std::wstring ownName = std::wcsrchr(path, L'\\');  // with its backslash
    if (heldName.size() < ownName.size() ||
        !SameName(std::wstring_view(heldName).substr(heldName.size() - ownName.size()), ownName)) {
        return;  // not the entry asked for: a link followed after all
    }
    for (int attempt = 0; attempt < kNameTries; ++attempt) {
        wchar_t random[kRandomNameUnits + 1];
        if (!RandomCharacters(random, kRandomNameUnits)) return;
        const std::wstring aside = std::wstring(path) + L"." + random + L".old";
        wchar_t nativeAside[kNativePathUnits + 16];
        if (!NativePath(aside.c_str(), nativeAside, kNativePathUnits + 16)) return;
        if (RenameTo(held.Get(), nativeAside)) {
            ClearMovedAside(held.Get(), aside.c_str());
            return;
        }
    }
}
}  // namespace

bool PrepareStagingDirectory(wchar_t* directory, ScopedHandle& hold) {
    hold.Close();
    MoveAsideWhatStandsAt(directory);
    if (CreateFreshDirectory(directory, hold)) return true;
    // The own name is taken and stays so: a name nobody can know in advance.
    for (int attempt = 0; attempt < kNameTries; ++attempt) {
        wchar_t candidate[MAX_PATH];
        if (!RandomSibling(directory, candidate)) return false;
        if (CreateFreshDirectory(candidate, hold)) {
            std::wcscpy(directory, candidate);
            return true;
        }
    }
    return false;
}
