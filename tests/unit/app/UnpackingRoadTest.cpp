// The unpacking road in this process, over setups packed by make-setups.py:
// which step it ends at, what it leaves in the record, how long a staging
// place may be, and the progress window without a worker.
#include "app/UnpackingRoad.h"
#include "framework/EntryPoint.h"
#include "framework/ScopedHandle.h"
#include "framework/ScopedRegKey.h"
#include "tests/unit/TestSupport.h"
#include "ui/InitializingDlg.h"

#include <gtest/gtest.h>

#include <atomic>

#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace tirn::test;

using tirn::test::kRecordView;
constexpr const wchar_t* kKey = tirn::test::kRecordKey;

std::wstring PackedSetup(const wchar_t* name) {
    return ExecutableDirectory() + L"..\\e2e\\setups\\" + name;
}

// TMP (which GetTempPathW follows) set for the life of the object.
class TemporaryDirectoryOverride {
  public:
    explicit TemporaryDirectoryOverride(const std::wstring& directory) {
        wchar_t old[32768];
        const DWORD n = ::GetEnvironmentVariableW(L"TMP", old, 32768);
        if (n > 0 && n < 32768) m_old = std::wstring(old, n);
        ::SetEnvironmentVariableW(L"TMP", directory.c_str());
    }
    ~TemporaryDirectoryOverride() {
        ::SetEnvironmentVariableW(L"TMP", m_old ? m_old->c_str() : nullptr);
    }

  private:
    std::optional<std::wstring> m_old;
};

// A value of the record as stored: its type and bytes, or none.
struct StoredValue {
    DWORD type = REG_NONE;
    std::vector<BYTE> bytes;
    bool operator==(const StoredValue&) const = default;
};

std::optional<StoredValue> ReadStored(const wchar_t* name) {
    ScopedRegKey key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, KEY_QUERY_VALUE | kRecordView,
                        key.Receive()) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    StoredValue value;
    DWORD size = 0;
    if (::RegQueryValueExW(key.Get(), name, nullptr, &value.type, nullptr, &size) !=
        ERROR_SUCCESS) {
        return std::nullopt;
    }
    value.bytes.resize(size);
    ::RegQueryValueExW(key.Get(), name, nullptr, &value.type, value.bytes.data(), &size);
    return value;
}

void Store(const wchar_t* name, const std::optional<StoredValue>& value) {
    ScopedRegKey key;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0,
                                KEY_SET_VALUE | kRecordView, nullptr, key.Receive(), nullptr),
              ERROR_SUCCESS);
    if (value) {
        ::RegSetValueExW(key.Get(), name, 0, value->type, value->bytes.data(),
                         static_cast<DWORD>(value->bytes.size()));
    } else {
        ::RegDeleteValueW(key.Get(), name);
    }
}

StoredValue Dword(uint32_t v) {
    const BYTE* p = reinterpret_cast<const BYTE*>(&v);
    return {REG_DWORD, std::vector<BYTE>(p, p + 4)};
}

class UnpackingRoadTest : public ::testing::Test {
  protected:
    void SetUp() override { tirn::test::DeleteRecord(); }
    void TearDown() override { tirn::test::DeleteRecord(); }

    // Runs the road over setup with the staging place under temp.
    static RoadResult Run(const std::wstring& setup, const std::wstring& temp,
                          const wchar_t* setupArgs = L"") {
        TemporaryDirectoryOverride override(temp);
        RoadRequest request;
        request.setupArgs = setupArgs;
        request.setupPath = setup.c_str();
        return RunUnpackingRoad(request);
    }
    static std::wstring Staging(const std::wstring& temp) {
        return temp + (temp.back() == L'\\' ? L"" : L"\\") + L"TirnHome2014";
    }

    ScratchDirectory m_dir;
};

TEST_F(UnpackingRoadTest, TheOutcomeSaysWhichStepTheRoadEndedAt) {
    struct Case {
        const char* name;
        std::wstring setup;
        RoadOutcome outcome;
        int number;  // ExtractAndRunPackage's result for it
    };
    const Case cases[] = {
        {"a good setup", PackedSetup(L"standin-v5.exe"), RoadOutcome::Launched, 0},
        {"no such file", m_dir / L"missing.exe", RoadOutcome::SetupUnreadable,
         ERROR_FILE_NOT_FOUND},
        {"the bare launcher", ExecutableDirectory() + L"TirnHomeISSetup.exe",
         RoadOutcome::NoPackage, -1},
        {"payload cut short", PackedSetup(L"cut-v5.exe"), RoadOutcome::IncompletePackage, -1},
        {"payload that is no cabinet", PackedSetup(L"not-a-cabinet-v5.exe"),
         RoadOutcome::ExtractionFailed, -1},
        {"two-file cabinet", PackedSetup(L"two-files-v5.exe"), RoadOutcome::ExtractionFailed, -1},
        {"installer that is no program", PackedSetup(L"not-a-program-v5.exe"),
         RoadOutcome::LaunchFailed, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchDirectory temp;
        const RoadResult result = Run(c.setup, temp.Path());
        EXPECT_EQ(result.outcome, c.outcome);
        ScratchDirectory again;  // an installer started from temp may still run
        TemporaryDirectoryOverride override(again.Path());
        RoadRequest request;
        request.setupPath = c.setup.c_str();
        EXPECT_EQ(ExtractAndRunPackage(request), c.number);
    }
}

// The record claims the package's version only while its installer runs: a
// launch that fails puts back exactly what was there.
TEST_F(UnpackingRoadTest, AFailedLaunchPutsTheRecordBackAsItWas) {
    const std::wstring text = L"7";
    const BYTE* textBytes = reinterpret_cast<const BYTE*>(text.c_str());
    struct Case {
        const char* name;
        std::optional<StoredValue> before;
    };
    const Case cases[] = {
        {"fresh machine: no value", std::nullopt},
        {"installed version 3", Dword(3)},
        {"the same version", Dword(5)},
        {"a value of another type", StoredValue{REG_SZ, {textBytes, textBytes + 4}}},
        {"an empty binary value", StoredValue{REG_BINARY, {}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Store(L"DefinitionVersion", c.before);
        EXPECT_EQ(Run(PackedSetup(L"not-a-program-v5.exe"), m_dir.Path()).outcome,
                  RoadOutcome::LaunchFailed);
        EXPECT_EQ(ReadStored(L"DefinitionVersion"), c.before);
    }
    // A good setup of the same version afterwards records it and starts.
    Store(L"DefinitionVersion", Dword(3));
    EXPECT_EQ(Run(PackedSetup(L"standin-v5.exe"), m_dir.Path(), L"/Upgrade").outcome,
              RoadOutcome::Launched);
    EXPECT_EQ(ReadStored(L"DefinitionVersion"), Dword(5));
}

// The record's key made a registry link to a key under one that does not
// exist: it can be neither read nor written (nor made through the link), as
// a record the launcher may not touch.
class RecordLinkedToNowhere {
  public:
    RecordLinkedToNowhere() {
        tirn::test::DeleteRecord();
        HKEY software = nullptr;
        ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software", 0, KEY_ALL_ACCESS | kRecordView,
                        &software);
        HKEY link = nullptr;
        m_made = ::RegCreateKeyExW(
                     software, L"Tirn", 0, nullptr, REG_OPTION_CREATE_LINK | REG_OPTION_VOLATILE,
                     KEY_ALL_ACCESS | KEY_CREATE_LINK, nullptr, &link, nullptr) == ERROR_SUCCESS;
        static const wchar_t kTarget[] = L"\\Registry\\Machine\\Software\\TirnNoSuchParent\\Tirn";
        m_made = m_made && ::RegSetValueExW(link, L"SymbolicLinkValue", 0, REG_LINK,
                                            reinterpret_cast<const BYTE*>(kTarget),
                                            sizeof(kTarget) - sizeof(wchar_t)) == ERROR_SUCCESS;
        if (link != nullptr) ::RegCloseKey(link);
        if (software != nullptr) ::RegCloseKey(software);
    }
    ~RecordLinkedToNowhere() {
        using NtDeleteKeyFunction = LONG(NTAPI*)(HANDLE);
        auto deleteKey =
            EntryPoint<NtDeleteKeyFunction>(::GetModuleHandleW(L"ntdll.dll"), "NtDeleteKey");
        HKEY link = nullptr;
        if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKey, REG_OPTION_OPEN_LINK, DELETE | kRecordView,
                            &link) == ERROR_SUCCESS) {
            deleteKey(link);
            ::RegCloseKey(link);
        }
    }
    bool Made() const { return m_made; }

  private:
    bool m_made = false;
};

// A record that cannot be read could not be put back if the start failed:
// the road stops before anything is recorded or started, and says so.
TEST_F(UnpackingRoadTest, ARecordThatCannotBeReadStopsTheRoadBeforeTheInstallerStarts) {
    ScratchDirectory temp;
    {
        RecordLinkedToNowhere unreadable;
        ASSERT_TRUE(unreadable.Made());
        ASSERT_EQ(ReadStored(L"DefinitionVersion"), std::nullopt);
        EXPECT_EQ(Run(PackedSetup(L"standin-v5.exe"), temp.Path()).outcome,
                  RoadOutcome::RecordUnreadable);
        RoadRequest request;
        const std::wstring setup = PackedSetup(L"standin-v5.exe");
        request.setupPath = setup.c_str();
        ScratchDirectory again;
        TemporaryDirectoryOverride override(again.Path());
        EXPECT_EQ(ExtractAndRunPackage(request), -1);
        ::Sleep(1000);  // an installer started would have left its record by now
        for (const std::wstring& staged : {Staging(temp.Path()), Staging(again.Path())}) {
            EXPECT_TRUE((::GetFileAttributesW((staged + L"\\TirnHomeSetup.exe").c_str()) !=
                         INVALID_FILE_ATTRIBUTES));
            EXPECT_FALSE((::GetFileAttributesW((staged + L"\\TirnHomeSetup.exe.started").c_str()) !=
                          INVALID_FILE_ATTRIBUTES));
        }
    }
    EXPECT_EQ(ReadStored(L"DefinitionVersion"), std::nullopt);
    // Readable again: the same setup installs.
    EXPECT_EQ(Run(PackedSetup(L"standin-v5.exe"), temp.Path()).outcome, RoadOutcome::Launched);
    EXPECT_EQ(ReadStored(L"DefinitionVersion"), Dword(5));
}

// The path base\xxx\xxx...\x of exactly length units, filler being one
// character, in components short enough for any file system.
std::wstring DirectoryPathOfLength(const std::wstring& base, size_t length, wchar_t filler) {
    std::wstring path = base;
    while (path.size() + 1 < length) {
        const size_t left = length - path.size() - 1;  // after the backslash
        // Never leave a single unit for the last component's backslash alone.
        const size_t component = left <= 60 ? left : left - 60 == 1 ? 50 : 60;
        path += L"\\" + std::wstring(component, filler);
    }
    return path;
}

std::wstring MakeDirectoryOfLength(const std::wstring& base, size_t length, wchar_t filler) {
    const std::wstring path = DirectoryPathOfLength(base, length, filler);
    for (size_t at = path.find(L'\\', base.size() + 1); at != std::wstring::npos;
         at = path.find(L'\\', at + 1)) {
        ::CreateDirectoryW(path.substr(0, at).c_str(), nullptr);
    }
    ::CreateDirectoryW(path.c_str(), nullptr);
    return path;
}

std::vector<std::wstring> FileNames(const std::wstring& directory) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE search = ::FindFirstFileW((directory + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        if (found.cFileName[0] != L'.') names.push_back(found.cFileName);
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
    return names;
}

size_t Utf8Length(const std::wstring& text) {
    return static_cast<size_t>(
        ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr) - 1);
}

// Every path of the road must fit whole: the staging directory and file in
// MAX_PATH units, the cabinet's path handed to the cabinet library in its 256
// bytes of UTF-8, the extracted installer in MAX_PATH units. The longest
// temporary directory that fits installs; one unit (or letter) more fails
// before anything of a cut name is written.
TEST_F(UnpackingRoadTest, StagingPathsFitWholeOrTheRoadFails) {
    // temp + \ + "TirnHome2014" + \ + "TirnHomeSetup.cab", 31 more units or
    // bytes: at most 255 bytes of UTF-8 for the cabinet library, 259 units
    // for the staging file.
    const size_t longestTemp = 255 - 31;
    const wchar_t vietnamese = L'\u1ec7';  // 3 bytes in UTF-8
    // The longest Vietnamese directory below root whose UTF-8 fits.
    auto vietnameseFits = [&](const std::wstring& root) {
        size_t length = root.size() + 2;
        while (Utf8Length(DirectoryPathOfLength(root, length + 1, vietnamese)) <= longestTemp) {
            ++length;
        }
        return length;
    };
    struct Case {
        const char* name;
        std::function<size_t(const std::wstring& root)> length;  // without the backslash
        wchar_t filler;
        RoadOutcome outcome;
    };
    const Case cases[] = {
        {"the longest that fits", [&](auto&) { return longestTemp; }, L'd', RoadOutcome::Launched},
        {"one unit more: too long for the cabinet library", [&](auto&) { return longestTemp + 1; },
         L'd', RoadOutcome::ExtractionFailed},
        {"no room for the staging file", [](auto&) { return size_t{259 - 31 + 1}; }, L'd',
         RoadOutcome::StagingFailed},
        {"a staging directory of 259 units", [](auto&) { return size_t{259 - 13}; }, L'd',
         RoadOutcome::StagingFailed},
        {"no room for the staging directory", [](auto&) { return size_t{259 - 12}; }, L'd',
         RoadOutcome::NoStagingDirectory},
        {"Vietnamese, the longest whose UTF-8 fits", vietnameseFits, vietnamese,
         RoadOutcome::Launched},
        {"Vietnamese, one letter more", [&](auto& root) { return vietnameseFits(root) + 1; },
         vietnamese, RoadOutcome::ExtractionFailed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchDirectory root;
        const std::wstring temp =
            MakeDirectoryOfLength(root.Path(), c.length(root.Path()), c.filler);
        ASSERT_EQ(temp.size(), c.length(root.Path()));
        EXPECT_EQ(Run(PackedSetup(L"standin-v5.exe"), temp + L"\\").outcome, c.outcome);
        // Whatever failed, nothing under a cut name was written.
        for (const std::wstring& name : FileNames(Staging(temp))) {
            EXPECT_TRUE(name == L"TirnHomeSetup.cab" || name == L"TirnHomeSetup.exe" ||
                        name == L"TirnHomeSetup.exe.started")
                << std::string(name.begin(), name.end());
        }
    }
}

CWinThread* FailToStart(AFX_THREADPROC, LPVOID, int, UINT, DWORD, LPSECURITY_ATTRIBUTES) {
    return nullptr;
}
CWinThread* RunOutOfMemory(AFX_THREADPROC, LPVOID, int, UINT, DWORD, LPSECURITY_ATTRIBUTES) {
    AfxThrowMemoryException();
}

// A worker that cannot be started is said so; the progress window then ends
// by itself (the window's own test).
TEST(StartUnpackingRoad, AWorkerThatCannotStartIsSaidSo) {
    for (WorkerStarter start : {&FailToStart, &RunOutOfMemory}) {
        RoadRequest request;
        EXPECT_FALSE(StartUnpackingRoad(request, start));
    }
}

// The user dismisses the window while the road runs: before the record is
// written nothing is recorded or started and the run is cancelled; once the
// installer has started, the run says so whatever the window did.
TEST(RoadControl, ADismissalComesBeforeTheRecordOrWaitsForTheInstaller) {
    {
        RoadControl control;
        EXPECT_EQ(control.Conclude().outcome, RoadOutcome::Cancelled);
        EXPECT_FALSE(control.EnterCommit());
        control.Finish(RoadResult{RoadOutcome::ExtractionFailed, 0});
        EXPECT_EQ(control.Conclude().outcome, RoadOutcome::Cancelled);
    }
    {
        RoadControl control;
        ASSERT_TRUE(control.EnterCommit());
        std::atomic<bool> concluded{false};
        RoadOutcome seen = RoadOutcome::Aborted;
        std::thread main([&] {
            seen = control.Conclude().outcome;
            concluded = true;
        });
        ::Sleep(200);
        EXPECT_FALSE(concluded) << "a dismissal must wait for the record and the start";
        control.LeaveCommit(RoadResult{RoadOutcome::Launched, 0});
        main.join();
        EXPECT_EQ(seen, RoadOutcome::Launched);
    }
    {
        RoadControl control;
        control.Finish(RoadResult{RoadOutcome::NoPackage, 0});
        EXPECT_EQ(control.Conclude().outcome, RoadOutcome::NoPackage);
    }
}

}  // namespace
