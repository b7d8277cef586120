#include "package/StagingDirectory.h"
#include "framework/ScopedHandle.h"
#include "package/PayloadStaging.h"
#include "tests/unit/TestSupport.h"

#include <gtest/gtest.h>
#include <shlwapi.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace {

using tirn::test::CreateEmptyFile;
using tirn::test::ReadWholeFile;
using tirn::test::ScratchDirectory;
using tirn::test::WriteWholeFile;

// PrepareStagingDirectory over a path: the directory it made, or nothing.
std::optional<std::wstring> Prepare(const std::wstring& path, ScopedHandle& hold) {
    wchar_t directory[MAX_PATH];
    ::wcscpy_s(directory, path.c_str());
    if (!PrepareStagingDirectory(directory, hold)) return std::nullopt;
    return std::wstring(directory);
}

std::vector<std::wstring> Entries(const std::wstring& directory) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE search = ::FindFirstFileW((directory + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        const std::wstring name = found.cFileName;
        if (name != L"." && name != L"..") names.push_back(name);
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

// The names beside the staging place, with the ones a run chose at random
// ("<own>.<random>.old", "Tirn<random>") said as what they are.
std::vector<std::wstring> Around(const std::wstring& parent) {
    std::vector<std::wstring> names = Entries(parent);
    for (std::wstring& name : names) {
        if (name.starts_with(L"TirnHome2014.") && name.ends_with(L".old")) name = L"<moved aside>";
        if (name.size() == 12 && name.starts_with(L"Tirn") && name != L"TirnHome2014") {
            name = L"<random name>";
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

bool IsReadOnly(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
}

// Another directory with files of the names the staging place held: what a
// deletion led astray would reach.
struct Victim {
    explicit Victim(const std::wstring& path) : path(path) {
        ::CreateDirectoryW(path.c_str(), nullptr);
        for (const wchar_t* name : {L"a.dll", L"b.exe", L"c.txt"}) {
            WriteWholeFile(path + L"\\" + name, {'v'});
        }
        ::SetFileAttributesW((path + L"\\c.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    }
    void ExpectIntact() const {
        EXPECT_EQ(Entries(path), (std::vector<std::wstring>{L"a.dll", L"b.exe", L"c.txt"}));
        for (const wchar_t* name : {L"a.dll", L"b.exe", L"c.txt"}) {
            EXPECT_EQ(ReadWholeFile(path + L"\\" + name), std::vector<uint8_t>{'v'});
        }
        EXPECT_TRUE(IsReadOnly(path + L"\\c.txt"));
    }
    std::wstring path;
};

// An earlier directory at the staging place, with the victim's names in it.
void MakeEarlierDirectory(const std::wstring& staging) {
    ::CreateDirectoryW(staging.c_str(), nullptr);
    for (const wchar_t* name : {L"a.dll", L"b.exe", L"c.txt"}) {
        WriteWholeFile(staging + L"\\" + name, {'x'});
    }
    ::SetFileAttributesW((staging + L"\\c.txt").c_str(), FILE_ATTRIBUTE_READONLY);
}

// The directory a run gets is one it made, empty, held: it cannot be renamed
// away (and replaced) meanwhile, and files go inside.
void ExpectFreshAndHeld(const std::wstring& made, ScopedHandle& hold) {
    EXPECT_TRUE(hold.IsValid());
    EXPECT_TRUE(Entries(made).empty());
    EXPECT_FALSE(::MoveFileW(made.c_str(), (made + L"-moved").c_str()));
    CreateEmptyFile(made + L"\\TirnHomeSetup.cab");
    hold.Close();
    EXPECT_TRUE(::MoveFileW(made.c_str(), (made + L"-moved").c_str()));
}

// Whatever stood at the staging place before the run is never used: it is
// moved aside and its plain files deleted, each through a handle opened
// inside it, then it too once empty. A file of two names is not deleted: its
// read-only flag is its other name's too.
TEST(PrepareStagingDirectory, MakesANewDirectoryEveryRunAndClearsTheEarlierOne) {
    struct Case {
        const char* name;
        std::function<void(const std::wstring& staging, const std::wstring& victim)> before;
        std::vector<std::wstring> expectedAround;  // beside the staging place afterwards
    };
    const Case cases[] = {
        {"nothing there",
         [](const std::wstring&, const std::wstring&) {},
         {L"TirnHome2014", L"victim"}},
        {"an earlier directory with plain and read-only files",
         [](const std::wstring& staging, const std::wstring&) { MakeEarlierDirectory(staging); },
         {L"TirnHome2014", L"victim"}},
        {"an earlier directory with a directory inside",
         [](const std::wstring& staging, const std::wstring&) {
             MakeEarlierDirectory(staging);
             ::CreateDirectoryW((staging + L"\\inner").c_str(), nullptr);
         },
         {L"<moved aside>", L"TirnHome2014", L"victim"}},
        {"an earlier directory with a second name of a read-only file elsewhere",
         [](const std::wstring& staging, const std::wstring& victim) {
             ::CreateDirectoryW(staging.c_str(), nullptr);
             ::CreateHardLinkW((staging + L"\\c.txt").c_str(), (victim + L"\\c.txt").c_str(),
                               nullptr);
         },
         {L"<moved aside>", L"TirnHome2014", L"victim"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchDirectory dir;
        const Victim victim(dir / L"victim");
        const std::wstring staging = dir / L"TirnHome2014";
        c.before(staging, victim.path);
        ScopedHandle hold;
        const std::optional<std::wstring> made = Prepare(staging, hold);
        ASSERT_TRUE(made);
        EXPECT_EQ(*made, staging);
        EXPECT_EQ(Around(dir.Path()), c.expectedAround);
        ExpectFreshAndHeld(*made, hold);
        victim.ExpectIntact();
    }
}

// Anything at the own name that cannot be moved aside (a file, a link, a
// directory another process holds without delete sharing), and every name
// earlier versions fell back to, taken as well: the run goes on in a new
// directory whose name nobody could know, and nothing taken is changed.
TEST(PrepareStagingDirectory, ATakenNameIsPassedOverForARandomOne) {
    struct Case {
        const char* name;
        std::function<void(const std::wstring& staging, const std::wstring& victim,
                           ScopedHandle& planter)>
            take;
    };
    const Case cases[] = {
        {"a file", [](const std::wstring& staging, const std::wstring&,
                      ScopedHandle&) { WriteWholeFile(staging, {'f'}); }},
        {"a link to another directory",
         [](const std::wstring& staging, const std::wstring& victim, ScopedHandle&) {
             ASSERT_TRUE(tirn::test::MakeHostLink(staging, victim));
         }},
        {"a directory held open without delete sharing",
         [](const std::wstring& staging, const std::wstring&, ScopedHandle& planter) {
             MakeEarlierDirectory(staging);
             planter.Reset(::CreateFileW(staging.c_str(), GENERIC_READ | GENERIC_WRITE,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                         FILE_FLAG_BACKUP_SEMANTICS, nullptr));
             ASSERT_TRUE(planter.IsValid());
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchDirectory dir;
        const Victim victim(dir / L"victim");
        const std::wstring staging = dir / L"TirnHome2014";
        ScopedHandle planter;
        c.take(staging, victim.path, planter);
        std::vector<std::wstring> fallbacks;
        for (int n = 1; n <= 9; ++n) {
            fallbacks.push_back(staging + L"-" + std::to_wstring(n));
            WriteWholeFile(fallbacks.back(), {'t'});
        }
        const std::vector<std::wstring> before = Entries(dir.Path());

        std::vector<std::wstring> made;
        for (int run = 0; run < 2; ++run) {
            ScopedHandle hold;
            const std::optional<std::wstring> directory = Prepare(staging, hold);
            ASSERT_TRUE(directory);
            const std::wstring name = directory->substr(dir.Path().size() + 1);
            EXPECT_EQ(name.size(), 12u) << "as long as the own name";
            EXPECT_TRUE(name.starts_with(L"Tirn") && name != L"TirnHome2014");
            EXPECT_TRUE(std::all_of(name.begin() + 4, name.end(), [](wchar_t ch) {
                return (ch >= L'a' && ch <= L'z') || (ch >= L'2' && ch <= L'7');
            }));
            made.push_back(*directory);
            ExpectFreshAndHeld(*directory, hold);
        }
        EXPECT_NE(made[0], made[1]);
        std::vector<std::wstring> after = Entries(dir.Path());
        std::erase_if(after, [&](const std::wstring& name) {
            return std::find(made.begin(), made.end(), dir / name) != made.end() ||
                   name.ends_with(L"-moved");
        });
        EXPECT_EQ(after, before);
        for (const std::wstring& fallback : fallbacks) {
            EXPECT_EQ(ReadWholeFile(fallback), std::vector<uint8_t>{'t'});
        }
        const DWORD attributes = ::GetFileAttributesW(staging.c_str());
        if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            EXPECT_EQ(ReadWholeFile(staging), std::vector<uint8_t>{'f'});
        } else if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
            EXPECT_EQ(Entries(staging), (std::vector<std::wstring>{L"a.dll", L"b.exe", L"c.txt"}));
        }
        victim.ExpectIntact();
    }
}

// The temporary directory reached through a link (TMP may name one that the
// user can point elsewhere at any moment): the directory is made where the
// link led when the run opened it, and the road goes on with its real path,
// which no link on the way can change any more.
TEST(PrepareStagingDirectory, TheDirectoryMadeIsNamedByItsRealPath) {
    ScratchDirectory dir;
    const std::wstring real = dir / L"real";
    const std::wstring elsewhere = dir / L"elsewhere";
    ::CreateDirectoryW(real.c_str(), nullptr);
    ::CreateDirectoryW(elsewhere.c_str(), nullptr);
    const std::wstring link = dir / L"link";
    ASSERT_TRUE(tirn::test::MakeHostLink(link, real));
    ScopedHandle hold;
    const std::optional<std::wstring> made = Prepare(link + L"\\TirnHome2014", hold);
    ASSERT_TRUE(made);
    EXPECT_EQ(*made, real + L"\\TirnHome2014");
    ASSERT_TRUE(tirn::test::MakeHostLink(link, elsewhere));  // pointed elsewhere meanwhile
    CreateEmptyFile(*made + L"\\TirnHomeSetup.cab");
    EXPECT_TRUE(::PathFileExistsW((real + L"\\TirnHome2014\\TirnHomeSetup.cab").c_str()));
    EXPECT_TRUE(Entries(elsewhere).empty());
}

// Between the listing of the directory moved aside and its deletions, another
// process swaps it for a link to a directory with files of the same names
// (on Windows: empties it and makes it a mount point in place; here the host
// moves it away and leaves a link at its name). No file of that directory is
// deleted, nor made writable.
TEST(PrepareStagingDirectory, ALinkSwappedInWhileTheEarlierDirectoryIsClearedLeadsNowhere) {
    ScratchDirectory dir;
    const Victim victim(dir / L"victim");
    const std::wstring staging = dir / L"TirnHome2014";
    MakeEarlierDirectory(staging);
    static std::wstring victimPath;
    static int swaps = 0;
    victimPath = victim.path;
    swaps = 0;
    g_stagingAfterListing = [](const wchar_t* aside) {
        const std::string hostAside = tirn::test::HostPath(aside);
        const std::string hostVictim = tirn::test::HostPath(victimPath);
        tirn::test::RunOnHost("mv '" + hostAside + "' '" + hostAside + ".elsewhere' && ln -s '" +
                              hostVictim + "' '" + hostAside + "'");
        if (::GetFileAttributesW(aside) & FILE_ATTRIBUTE_REPARSE_POINT) ++swaps;
    };
    ScopedHandle hold;
    const std::optional<std::wstring> made = Prepare(staging, hold);
    g_stagingAfterListing = nullptr;
    EXPECT_EQ(swaps, 1) << "the swap did not happen: the test shows nothing";
    ASSERT_TRUE(made);
    EXPECT_EQ(*made, staging);
    victim.ExpectIntact();
}

}  // namespace
