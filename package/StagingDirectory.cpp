#include "package/StagingDirectory.h"

#include "framework/NativeFile.h"
#include "framework/ScopedHandle.h"
#include "package/StagingPaths.h"
#include "package/StagingSecurity.h"

#include <ntsecapi.h>

#include <cstddef>
#include <cstring>
#include <cwchar>
#include <memory>
#include <string>
#include <vector>

static_assert(sizeof(kRandomStagingPrefix) / sizeof(wchar_t) - 1 + kRandomNameUnits ==
                  sizeof(kStagingDirectoryName) / sizeof(wchar_t) - 1,
              "a random name is as long as the own name");

namespace {
// A directory filled with entries by someone else is cleared this far, no
// further: what is left stays moved aside.
constexpr size_t kMostClearedEntries = 1024;
constexpr size_t kMostListedRecords = 64 * 1024;
constexpr int kNameTries = 16;
// Making way at the own name may wait on another process (an oplock it
// never lets go of): after this long the run goes on under another name.
constexpr DWORD kMakeWayBudgetMs = 5000;
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

// Makes name a new directory inside the temporary directory, with the
// staging DACL, and opens it in the same call: the handle names the
// directory this call made, which no other process can have opened before,
// and nobody but Administrators and SYSTEM could write into since. False
// when anything already stands there.
bool CreateFreshDirectory(HANDLE temporary, const wchar_t* name, ScopedHandle& hold) {
    StagingSecurity security;
    if (security.Descriptor() == nullptr) return false;
    // Held without delete sharing: from here on the path keeps naming it.
    hold.Reset(OpenNativeFile(temporary, name,
                              {FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES,
                               FILE_SHARE_READ | FILE_SHARE_WRITE, native::kFileCreate,
                               native::kDirectoryFile, security.Descriptor()}));
    return hold.IsValid();
}

// The names of the plain files in a directory, listed through its handle;
// directories, links and what does not fit the list are left out.
std::vector<std::wstring> ListPlainFiles(HANDLE directory) {
    std::vector<std::wstring> names;
    std::vector<DWORD> buffer(16 * 1024);
    const size_t size = buffer.size() * sizeof(DWORD);
    const auto* bytes = reinterpret_cast<const unsigned char*>(buffer.data());
    constexpr size_t kHeader = offsetof(FILE_ID_BOTH_DIR_INFO, FileName);
    FILE_INFO_BY_HANDLE_CLASS kind = FileIdBothDirectoryRestartInfo;
    // Entries that are not kept (directories, links) count too: a directory
    // filled by someone else is not listed to its end.
    size_t records = 0;
    while (
        names.size() < kMostClearedEntries && records < kMostListedRecords &&
        ::GetFileInformationByHandleEx(directory, kind, buffer.data(), static_cast<DWORD>(size))) {
        kind = FileIdBothDirectoryInfo;
        // Every record's place and length is checked against the buffer.
        for (size_t at = 0; at + kHeader <= size && names.size() < kMostClearedEntries &&
                            records++ < kMostListedRecords;) {
            FILE_ID_BOTH_DIR_INFO entry;
            std::memcpy(&entry, bytes + at, kHeader);
            if (entry.FileNameLength > size - at - kHeader) break;
            if (!(entry.FileAttributes &
                  (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) &&
                entry.FileNameLength >= sizeof(wchar_t)) {
                std::wstring name(entry.FileNameLength / sizeof(wchar_t), L'\0');
                std::memcpy(name.data(), bytes + at + kHeader, name.size() * sizeof(wchar_t));
                if (name.find(L'\\') == std::wstring::npos) names.push_back(std::move(name));
            }
            if (entry.NextEntryOffset < kHeader || entry.NextEntryOffset > size - at) break;
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
    const std::optional<DWORD> attributes =
        entry.IsValid() ? AttributesOf(entry.Get()) : std::nullopt;
    FILE_STANDARD_INFO standard{};
    if (!attributes || (*attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ||
        !::GetFileInformationByHandleEx(entry.Get(), FileStandardInfo, &standard,
                                        sizeof(standard)) ||
        standard.Directory || standard.NumberOfLinks != 1 ||
        !SameName(FileNameOf(entry.Get()), directoryName + L"\\" + name)) {
        return;
    }
    const bool readOnly = (*attributes & FILE_ATTRIBUTE_READONLY) != 0;
    FILE_BASIC_INFO basic{};  // times of 0 stay as they are
    if (readOnly) {
        basic.FileAttributes = *attributes & ~FILE_ATTRIBUTE_READONLY;
        if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
        if (!::SetFileInformationByHandle(entry.Get(), FileBasicInfo, &basic, sizeof(basic))) {
            return;
        }
    }
    if (!MarkForDeletion(entry.Get()) && readOnly) {
        basic.FileAttributes = *attributes;  // left as it was found
        ::SetFileInformationByHandle(entry.Get(), FileBasicInfo, &basic, sizeof(basic));
    }
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

// Makes way at the staging place's own name inside the temporary directory:
// what stands there is opened once, relative to the temporary directory and
// never through a link, and, when it is a directory that can be moved,
// renamed through that handle to "<name>.<random>.old" in the same directory
// and cleared. A file, a link, or a directory another process holds without
// delete sharing stays as it is; the caller then finds the name taken.
void MoveAsideWhatStandsAt(HANDLE temporary, const std::wstring& path, const std::wstring& name) {
    // Wine shows a host link as a reparse point only through its path, and
    // opens its target even when asked for the link: it is passed over here.
    // On Windows the handle's own attributes below are what counts.
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || IsReparsePoint(attributes) ||
        !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        return;
    }
    // Without delete sharing: from here on nobody else renames or deletes it.
    ScopedHandle held(OpenNativeFile(
        temporary, name,
        {DELETE | FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
         native::kFileOpen, native::kDirectoryFile | native::kOpenReparsePoint}));
    const std::optional<DWORD> heldAttributes =
        held.IsValid() ? AttributesOf(held.Get()) : std::nullopt;
    if (!heldAttributes || !(*heldAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
        (*heldAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        return;
    }
    // The entry asked for, in the directory asked for: no link followed.
    const std::wstring heldName = FileNameOf(held.Get());
    const std::wstring temporaryName = FileNameOf(temporary);
    if (heldName.empty() || temporaryName.empty() ||
        !SameName(heldName,
                  temporaryName + (temporaryName.ends_with(L'\\') ? L"" : L"\\") + name)) {
        return;
    }
    for (int attempt = 0; attempt < kNameTries; ++attempt) {
        wchar_t random[kRandomNameUnits + 1];
        if (!RandomCharacters(random, kRandomNameUnits)) return;
        const std::wstring aside = name + L"." + random + L".old";
        if (RenameTo(held.Get(), temporary, aside)) {
            ClearMovedAside(held.Get(), (path + L"." + random + L".old").c_str());
            return;
        }
    }
}

// What the helper thread that makes way needs, owned by that thread: the
// caller may have gone on when it ends.
struct MakeWayJob {
    ScopedHandle temporary;
    std::wstring path;
    std::wstring name;
};

DWORD WINAPI MakeWay(void* parameter) {
    std::unique_ptr<MakeWayJob> job(static_cast<MakeWayJob*>(parameter));
    try {
        MoveAsideWhatStandsAt(job->temporary.Get(), job->path, job->name);
    } catch (...) {
        // out of memory: the name stays taken
    }
    return 0;
}

// Runs MoveAsideWhatStandsAt on a thread of its own for at most
// kMakeWayBudgetMs; a thread still waiting then is left to it.
void MakeWayWithin(HANDLE temporary, const std::wstring& path, const std::wstring& name) {
    auto job = std::make_unique<MakeWayJob>();
    HANDLE duplicate = nullptr;
    if (!::DuplicateHandle(::GetCurrentProcess(), temporary, ::GetCurrentProcess(), &duplicate, 0,
                           FALSE, DUPLICATE_SAME_ACCESS)) {
        return;
    }
    job->temporary.Reset(duplicate);
    job->path = path;
    job->name = name;
    ScopedHandle thread(::CreateThread(nullptr, 0, &MakeWay, job.get(), 0, nullptr));
    if (!thread.IsValid()) return;
    job.release();  // the thread's now
    ::WaitForSingleObject(thread.Get(), kMakeWayBudgetMs);
}
}  // namespace

bool PrepareStagingDirectory(wchar_t* directory, ScopedHandle& hold) {
    hold.Close();
    const wchar_t* last = std::wcsrchr(directory, L'\\');
    if (last == nullptr || last[1] == L'\0') return false;
    const std::wstring ownName = last + 1;
    const std::wstring temporaryPath(directory, static_cast<size_t>(last - directory) + 1);
    wchar_t native[kNativePathUnits];
    if (!NativePath(temporaryPath.c_str(), native, kNativePathUnits)) return false;
    // The temporary directory is opened once, following whatever links lead
    // to it; every name is then reached inside the directory this handle
    // holds, whatever its path comes to name.
    ScopedHandle temporary(
        OpenNativeFile(nullptr, native,
                       {FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES, kShareAll,
                        native::kFileOpen, native::kDirectoryFile}));
    // A DACL protects only where the file system keeps it (not on FAT).
    DWORD flags = 0;
    if (!temporary.IsValid() ||
        !::GetVolumeInformationByHandleW(temporary.Get(), nullptr, 0, nullptr, nullptr, &flags,
                                         nullptr, 0) ||
        !(flags & FILE_PERSISTENT_ACLS)) {
        return false;
    }

    MakeWayWithin(temporary.Get(), directory, ownName);
    bool made = CreateFreshDirectory(temporary.Get(), ownName.c_str(), hold);
    // The own name is taken and stays so: a name nobody can know in advance,
    // as long as the own name.
    for (int attempt = 0; !made && attempt < kNameTries; ++attempt) {
        wchar_t name[kRandomNameUnits + 8];
        const size_t prefix = std::wcslen(kRandomStagingPrefix);
        std::wmemcpy(name, kRandomStagingPrefix, prefix);
        if (!RandomCharacters(name + prefix, kRandomNameUnits)) return false;
        made = CreateFreshDirectory(temporary.Get(), name, hold);
    }
    // From here on the road goes by path (the cabinet library, the installer
    // and its own library search): the path of the held directory itself,
    // every link resolved, whose directories cannot be renamed (a handle is
    // open inside) nor made mount points (none is empty). A share is no
    // place to start an elevated program from.
    if (!made || !DrivePathOf(hold.Get(), directory, MAX_PATH)) {
        hold.Close();
        return false;
    }
    return true;
}
