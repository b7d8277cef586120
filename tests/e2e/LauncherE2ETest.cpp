// The real launcher, started as a user would start it, under Wine: what it
// leaves in the registry and on disk, which programs it starts, and which
// windows it shows.
#include "tests/e2e/Desktop.h"
#include "framework/ScopedHandle.h"
#include "framework/ScopedRegKey.h"
#include "format/PackageTrailer.h"
#include "resources/resource.h"
#include "tests/unit/TestSupport.h"

#include <gtest/gtest.h>
#include <shellapi.h>
#include <shlwapi.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cwchar>
#include <functional>
#include <optional>
#include <set>
#include <thread>
#include <string>
#include <vector>

namespace {

using namespace tirn::test;

using tirn::test::kRecordKey;
using tirn::test::kRecordView;
constexpr wchar_t kMarkerCaption[] = L"Tirn Home 2018 Setup";
const std::wstring kUpgradeText = L"\u0110ang n\u00e2ng c\u1ea5p. Vui l\u00f2ng \u0111\u1ee3i ";
const std::wstring kSetupText =
    L"\u0110ang kh\u1edfi t\u1ea1o m\u00f4i tr\u01b0\u1eddng. Vui l\u00f2ng \u0111\u1ee3i ";
const std::wstring kConflictText =
    L"M\u1ed9t phi\u00ean b\u1ea3n cao h\u01a1n c\u1ee7a Tirn \u0111\u00e3 \u0111\u01b0\u1ee3c "
    L"c\u00e0i \u0111\u1eb7t tr\u00ean m\u00e1y t\u00ednh. \n"
    L"N\u1ebfu b\u1ea1n th\u1ef1c s\u1ef1 mu\u1ed1n c\u00e0i \u0111\u1eb7t Tirn Home th\u00ec "
    L"h\u00e3y g\u1ee1 b\u1ecf phi\u00ean b\u1ea3n \u0111\u00e3 c\u00e0i !";

// A started launcher; the destructor makes sure no launcher outlives a test.
class LauncherRun {
  public:
    // variable ("NAME=value"), when given, is set in the launcher's
    // environment, replacing an inherited one of that name.
    // arguments, when given, follow the quoted path on its command line.
    explicit LauncherRun(const std::wstring& setup, const std::wstring& variable = {},
                         bool suspended = false, const std::wstring& arguments = {}) {
        std::wstring commandLine = L"\"" + setup + L"\"";
        if (!arguments.empty()) commandLine += L" " + arguments;
        std::wstring environment;
        if (!variable.empty()) {
            const size_t nameLength = variable.find(L'=') + 1;
            wchar_t* inherited = ::GetEnvironmentStringsW();
            for (const wchar_t* v = inherited; *v != L'\0'; v += std::wcslen(v) + 1) {
                if (::_wcsnicmp(v, variable.c_str(), nameLength) == 0) continue;
                environment.append(v).push_back(L'\0');
            }
            ::FreeEnvironmentStringsW(inherited);
            environment.append(variable).push_back(L'\0');
        }
        if (tirn::test::StartProcess(
                commandLine, m_process,
                CREATE_UNICODE_ENVIRONMENT | (suspended ? CREATE_SUSPENDED : 0),
                environment.empty() ? nullptr : environment.data()) &&
            !suspended) {
            ::CloseHandle(m_process.hThread);
            m_process.hThread = nullptr;
        }
    }
    // Lets a launcher started suspended run.
    void Resume() {
        if (m_process.hThread == nullptr) return;
        ::ResumeThread(m_process.hThread);
        ::CloseHandle(m_process.hThread);
        m_process.hThread = nullptr;
    }
    ~LauncherRun() {
        if (m_process.hThread != nullptr) ::CloseHandle(m_process.hThread);
        if (m_process.hProcess == nullptr) return;
        if (::WaitForSingleObject(m_process.hProcess, 0) == WAIT_TIMEOUT) {
            ::TerminateProcess(m_process.hProcess, 0xDEAD);
        }
        ::CloseHandle(m_process.hProcess);
    }
    bool Started() const { return m_process.hProcess != nullptr; }
    DWORD Pid() const { return m_process.dwProcessId; }
    // The exit code once the process has ended by itself, or nothing.
    std::optional<DWORD> WaitForEnd(DWORD timeoutMs = 30000) const {
        if (::WaitForSingleObject(m_process.hProcess, timeoutMs) != WAIT_OBJECT_0) return {};
        DWORD code = 0;
        ::GetExitCodeProcess(m_process.hProcess, &code);
        return code;
    }
    // The conflict message box of this launcher ("Tirn Home"), as shown.
    std::vector<TopWindow> WaitForMessageBox(DWORD timeoutMs = 15000) const {
        return WaitForWindows(
            [this](const TopWindow& w) {
                return w.processId == Pid() && w.visible && w.caption == L"Tirn Home";
            },
            timeoutMs);
    }
    // The run's log, read from temp (the test's own temporary directory when
    // empty), where the launcher names it after its process id; "" when
    // there is none.
    std::string Log(std::wstring temp = {}) const {
        if (temp.empty()) {
            wchar_t path[MAX_PATH];
            ::GetTempPathW(MAX_PATH, path);
            temp = path;
        }
        // Process ids come again after a while: the newest log of this id.
        WIN32_FIND_DATAW found;
        const std::wstring pattern =
            temp + L"TirnHomeISSetup_*_" + std::to_wstring(Pid()) + L".log";
        HANDLE search = ::FindFirstFileW(pattern.c_str(), &found);
        if (search == INVALID_HANDLE_VALUE) return {};
        std::wstring newest;
        do {
            newest = std::max(newest, std::wstring(found.cFileName));
        } while (::FindNextFileW(search, &found));
        ::FindClose(search);
        const std::vector<uint8_t> bytes = ReadWholeFile(temp + newest);
        return std::string(bytes.begin(), bytes.end());
    }
    std::vector<TopWindow> Windows() const {
        std::vector<TopWindow> mine;
        for (TopWindow& w : ListTopWindows()) {
            if (w.processId == Pid()) mine.push_back(std::move(w));
        }
        return mine;
    }

  private:
    PROCESS_INFORMATION m_process{};
};

// The key lines of a run's log: each text appears in it.
void ExpectLogged(const LauncherRun& run, const std::vector<std::string>& texts,
                  const std::wstring& temp = {}) {
    const std::string log = run.Log(temp);
    for (const std::string& text : texts) {
        EXPECT_NE(log.find(text), std::string::npos) << "not logged: " << text << "\n" << log;
    }
}

std::string ExitCodeLine(DWORD code) {
    return "; exit code " + std::to_string(code) + "\r\n";
}

class LauncherE2E : public ::testing::Test {
  protected:
    void SetUp() override { tirn::test::DeleteRecord(); }
    void TearDown() override { tirn::test::DeleteRecord(); }

    // The built launcher, copied, with a package of the given version and a
    // payload of the given size appended (no package: nothing appended).
    std::wstring MakeSetup(std::optional<uint32_t> version, uint32_t payloadSize = 4096,
                           const std::wstring& name = L"TirnHomeISSetup.exe") {
        std::vector<uint8_t> image = ReadWholeFile(ExecutableDirectory() + L"TirnHomeISSetup.exe");
        if (version) {
            auto trailer = tirn::format::EncodeTrailer(
                {tirn::format::kTrailerMagic, *version, payloadSize, 0});
            image.insert(image.end(), trailer.begin(), trailer.end());
            image.resize(image.size() + payloadSize, 0x3C);
        }
        std::wstring path = m_dir / name;
        WriteWholeFile(path, image);
        return path;
    }

    // An installation directory with the given files (a trailing '\' makes a
    // directory), recorded in szTirnDir, and the installed version if any.
    std::wstring Install(const std::vector<std::wstring>& entries,
                         std::optional<uint32_t> installedVersion) {
        std::wstring dir = m_dir / L"Tirn Home";
        ::CreateDirectoryW(dir.c_str(), nullptr);
        for (const std::wstring& entry : entries) {
            if (!entry.empty() && entry.back() == L'\\') {
                ::CreateDirectoryW((dir + L"\\" + entry).c_str(), nullptr);
            } else {
                ::CopyFileW((ExecutableDirectory() + L"StandInProgram.exe").c_str(),
                            (dir + L"\\" + entry).c_str(), FALSE);
            }
        }
        SetRecordValue(L"szTirnDir", REG_SZ, dir.c_str(), static_cast<DWORD>((dir.size() + 1) * 2));
        if (installedVersion) {
            SetRecordValue(L"DefinitionVersion", REG_DWORD, &*installedVersion, 4);
        }
        return dir;
    }

    static void SetRecordValue(const wchar_t* name, DWORD type, const void* data, DWORD size) {
        ScopedRegKey key;
        ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kRecordKey, 0, nullptr, 0,
                                    KEY_SET_VALUE | kRecordView, nullptr, key.Receive(), nullptr),
                  ERROR_SUCCESS);
        ::RegSetValueExW(key.Get(), name, 0, type, static_cast<const BYTE*>(data), size);
    }
    static bool RecordKeyExists() {
        ScopedRegKey key;
        return ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRecordKey, 0, KEY_READ | kRecordView,
                               key.Receive()) == ERROR_SUCCESS;
    }
    static std::optional<uint32_t> RecordedVersion() {
        DWORD value = 0, size = 4, type = 0;
        ScopedRegKey key;
        if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRecordKey, 0, KEY_QUERY_VALUE | kRecordView,
                            key.Receive()) != ERROR_SUCCESS ||
            ::RegQueryValueExW(key.Get(), L"DefinitionVersion", nullptr, &type,
                               reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS ||
            type != REG_DWORD) {
            return {};
        }
        return value;
    }
    // Lines recorded by the stand-in program at path, once it was started
    // (waiting up to waitMs); none if it was not. The record appears whole.
    static std::vector<std::string> StartedLines(const std::wstring& program, DWORD waitMs) {
        const std::wstring log = program + L".started";
        if (!WaitUntil([&] { return ::GetFileAttributesW(log.c_str()) != INVALID_FILE_ATTRIBUTES; },
                       waitMs)) {
            return {};
        }
        std::vector<uint8_t> bytes = ReadWholeFile(log);
        std::vector<std::string> lines;
        std::string line;
        for (uint8_t b : bytes) {
            if (b == '\n') {
                lines.push_back(line);
                line.clear();
            } else {
                line += static_cast<char>(b);
            }
        }
        return lines;
    }
    static std::string Utf8(const std::wstring& text) {
        int n = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
        std::string out(n - 1, '\0');
        ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, out.data(), n, nullptr, nullptr);
        return out;
    }

    ScratchDirectory m_dir;
};

// A dialog window of this (another) process, with the given caption.
class ForeignWindow {
  public:
    ForeignWindow(const wchar_t* className, const wchar_t* caption, bool visible) {
        if (className == nullptr) {
            m_window = CreateCaptionedDialog(caption, visible);
        } else {
            WNDCLASSW windowClass{};
            windowClass.lpfnWndProc = &::DefWindowProcW;
            windowClass.hInstance = ::GetModuleHandleW(nullptr);
            windowClass.lpszClassName = className;
            ::RegisterClassW(&windowClass);
            m_window =
                ::CreateWindowExW(0, className, L"", WS_POPUP | (visible ? WS_VISIBLE : 0), 0, 0,
                                  100, 30, nullptr, nullptr, windowClass.hInstance, nullptr);
            ::SetWindowTextW(m_window, caption);
        }
    }
    ~ForeignWindow() { ::DestroyWindow(m_window); }
    HWND Handle() const { return m_window; }

  private:
    HWND m_window;
};

TEST_F(LauncherE2E, AnotherLaunchersMarkerMakesItQuitBeforeTouchingTheRecord) {
    struct Case {
        const char* name;
        const wchar_t* className;  // null: a dialog (#32770)
        const wchar_t* caption;
        bool visible;
        bool quits;
    };
    const Case cases[] = {
        {"hidden marker", nullptr, kMarkerCaption, false, true},
        {"visible marker", nullptr, kMarkerCaption, true, true},
        {"another class", L"TirnNotADialog", kMarkerCaption, false, false},
        {"caption in another case", nullptr, L"tirn home 2018 setup", false, false},
        {"caption with a trailing space", nullptr, L"Tirn Home 2018 Setup ", false, false},
    };
    const std::wstring setup = MakeSetup(std::nullopt);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        tirn::test::DeleteRecord();
        ForeignWindow other(c.className, c.caption, c.visible);
        ASSERT_NE(other.Handle(), nullptr);
        LauncherRun run(setup);
        ASSERT_TRUE(run.Started());
        bool showedSomething = false;
        std::optional<DWORD> ended;
        while (!(ended = run.WaitForEnd(5))) {
            for (const TopWindow& w : run.Windows()) showedSomething |= w.visible;
        }
        // Not quitting, it goes on to a road that finds no package.
        EXPECT_EQ(*ended, c.quits ? 1618u : 107u);
        EXPECT_EQ(RecordKeyExists(), !c.quits);
        if (c.quits) {
            EXPECT_FALSE(showedSomething);
            ExpectLogged(run, {"facts: another launcher runs: yes",
                               "decision: quit, another launcher runs", ExitCodeLine(1618)});
        } else {
            ExpectLogged(run, {"decision: install", "road: finding the package failed",
                               "outcome: no package in the setup" + ExitCodeLine(107)});
        }
    }
}

TEST_F(LauncherE2E, ConflictingProductIsRefusedWithTheVietnameseMessage) {
    const std::vector<std::vector<std::wstring>> installs = {
        {L"Tir.exe"},
        {L"Tirn.exe"},
        {L"Tir.exe", L"Tirn.exe", L"TirnHome.exe"},
        {L"Tir.exe\\"},
        {L"Tirn.exe\\", L"TirnHome.exe"}};
    const std::wstring setup = MakeSetup(9);
    for (const auto& entries : installs) {
        SCOPED_TRACE(Utf8(entries[0]));
        tirn::test::DeleteRecord();
        const std::wstring dir = Install(entries, 1);
        LauncherRun run(setup);
        std::vector<TopWindow> boxes = run.WaitForMessageBox();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].className, L"#32770");
        bool textFound = false;
        for (const auto& control : boxes[0].controls) textFound |= control.second == kConflictText;
        EXPECT_TRUE(textFound) << Utf8(boxes[0].Describe());
        // Nothing else happens while the box is up, nor after.
        EXPECT_EQ(RecordedVersion(), 1u);
        ::PostMessageW(boxes[0].handle, WM_COMMAND, IDOK, 0);
        std::optional<DWORD> ended = run.WaitForEnd();
        ASSERT_TRUE(ended);
        EXPECT_EQ(*ended, 1638u);
        ExpectLogged(run,
                     {"facts: conflicting product: yes",
                      "decision: refuse, a conflicting product is installed", ExitCodeLine(1638)});
        EXPECT_EQ(RecordedVersion(), 1u);
        EXPECT_TRUE(StartedLines(dir + L"\\TirnHome.exe", 0).empty());
        EXPECT_TRUE(StartedLines(dir + L"\\Tir.exe", 0).empty());
        RemoveTree(dir);
    }
}

TEST_F(LauncherE2E, InstalledProductNotOlderIsStartedInItsDirectory) {
    struct Case {
        const char* name;
        std::optional<uint32_t> installed;  // none: an unreadable value (a string)
        std::optional<uint32_t> package;    // none: no package appended
    };
    const Case cases[] = {
        {"equal versions", 5, 5},
        {"installed 2^31 against package 1", 0x80000000u, 1},
        {"installed the largest version", 0xFFFFFFFFu, 0xFFFFFFFFu},
        {"unreadable installed version against no package", std::nullopt, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        tirn::test::DeleteRecord();
        const std::wstring setup = MakeSetup(c.package);
        const std::wstring dir = Install({L"TirnHome.exe"}, c.installed);
        if (!c.installed) SetRecordValue(L"DefinitionVersion", REG_SZ, L"5", 4);
        LauncherRun run(setup);
        std::optional<DWORD> ended = run.WaitForEnd();
        ASSERT_TRUE(ended);
        EXPECT_EQ(*ended, 0u);
        ExpectLogged(run, {"decision: start the installed product",
                           "outcome: installed product started" + ExitCodeLine(0)});
        std::vector<std::string> lines = StartedLines(dir + L"\\TirnHome.exe", 10000);
        ASSERT_EQ(lines.size(), 3u);
        EXPECT_NE(lines[0].find(Utf8(dir + L"\\TirnHome.exe")), std::string::npos) << lines[0];
        EXPECT_EQ(lines[1], Utf8(dir));
        EXPECT_EQ(RecordedVersion(), c.installed);  // not written
        RemoveTree(dir);
    }
}

struct ProgressObservation {
    std::optional<TopWindow> window;  // as first seen
    std::vector<std::wstring> texts;  // distinct texts, in order
    std::vector<DWORD> changedAt;     // ms since first seen
    bool topmost = false;
    bool markerPresent = false;
};

// Watches the launcher's progress window until the launcher ends.
ProgressObservation ObserveProgress(const LauncherRun& run,
                                    const std::function<void(const TopWindow&)>& whileShown = {}) {
    ProgressObservation seen;
    DWORD firstSeen = 0;
    while (!run.WaitForEnd(0)) {
        for (const TopWindow& w : run.Windows()) {
            if (w.className == L"#32770" && w.caption == kMarkerCaption && !w.visible) {
                seen.markerPresent = true;
            }
            if (!w.visible || w.controls.empty()) continue;
            if (!seen.window) {
                seen.window = w;
                firstSeen = ::GetTickCount();
                if (whileShown) whileShown(w);
            }
            seen.topmost |= (w.exStyle & WS_EX_TOPMOST) != 0;
            std::wstring text = w.ControlText(IDC_MESSAGE);
            if (seen.texts.empty() || seen.texts.back() != text) {
                seen.texts.push_back(text);
                seen.changedAt.push_back(::GetTickCount() - firstSeen);
            }
        }
        ::Sleep(5);
    }
    return seen;
}

void ExpectCentredTopmostUncaptioned(const ProgressObservation& seen) {
    ASSERT_TRUE(seen.window);
    const TopWindow& w = *seen.window;
    RECT work = PrimaryWorkArea();
    EXPECT_NEAR((w.rect.left + w.rect.right) / 2, (work.left + work.right) / 2, 1);
    EXPECT_NEAR((w.rect.top + w.rect.bottom) / 2, (work.top + work.bottom) / 2, 1);
    EXPECT_EQ(w.className, L"#32770");
    EXPECT_NE(w.style & WS_CAPTION, static_cast<LONG>(WS_CAPTION));
    EXPECT_TRUE(w.caption.empty());
    EXPECT_TRUE(seen.topmost);
    EXPECT_TRUE(seen.markerPresent);
}

// A payload large enough for the road to take over a second under Wine.
constexpr uint32_t kSlowPayload = 300u * 1000 * 1000;

TEST_F(LauncherE2E, FreshInstallationShowsTheSetUpTextWithDotsAndBlocksASecondLauncher) {
    // Its extraction lasts seconds: time for several dots.
    const std::wstring setup = m_dir / L"TirnHomeISSetup.exe";
    ::CopyFileW((ExecutableDirectory() + L"setups\\slow-v3.exe").c_str(), setup.c_str(), FALSE);
    const std::wstring bare = MakeSetup(std::nullopt, 0, L"Second.exe");
    std::atomic<bool> secondQuit{false}, secondShowedSomething{false};
    std::thread secondLauncher;
    LauncherRun run(setup);
    ProgressObservation seen = ObserveProgress(run, [&](const TopWindow&) {
        secondLauncher = std::thread([&] {
            LauncherRun second(bare);
            std::optional<DWORD> ended;
            while (!(ended = second.WaitForEnd(5))) {
                for (const TopWindow& w : second.Windows()) {
                    if (w.visible) secondShowedSomething = true;
                }
            }
            secondQuit = *ended == 1618;
        });
    });
    secondLauncher.join();
    ASSERT_EQ(run.WaitForEnd(), 0u);
    ExpectLogged(
        run, {"facts: package: definition version 3", "decision: install",
              "road: installer started, process ", "outcome: installer started" + ExitCodeLine(0)});
    ExpectCentredTopmostUncaptioned(seen);
    ASSERT_GE(seen.texts.size(), 3u);
    EXPECT_EQ(seen.texts[0], kSetupText);
    EXPECT_EQ(seen.texts[1], kSetupText + L".");
    EXPECT_EQ(seen.texts[2], kSetupText + L"..");
    EXPECT_GT(seen.changedAt[1], 300u);
    EXPECT_TRUE(secondQuit);
    EXPECT_FALSE(secondShowedSomething);
    EXPECT_TRUE(RecordKeyExists());
}

TEST_F(LauncherE2E, OlderInstalledVersionUpgradesWithTheUpgradeText) {
    const std::wstring setup = MakeSetup(2, kSlowPayload);
    Install({L"TirnHome.exe"}, 1);
    LauncherRun run(setup);
    ProgressObservation seen = ObserveProgress(run);
    // The payload is no cabinet: the road fails at the extraction.
    ASSERT_EQ(run.WaitForEnd(), 111u);
    ExpectLogged(run, {"facts: installed definition version: 1", "decision: upgrade",
                       "road: extracting the package failed", ExitCodeLine(111)});
    ExpectCentredTopmostUncaptioned(seen);
    ASSERT_FALSE(seen.texts.empty());
    EXPECT_EQ(seen.texts[0], kUpgradeText);
}

// Started at the same moment, two launchers can both miss the other's
// marker window; only one of them may go on. An attempt in which one ended
// before the other showed anything (a loaded host starts processes late)
// did not race, and says nothing either way.
TEST_F(LauncherE2E, TwoLaunchersStartedTogetherNeverBothGoOn) {
    const std::wstring first = MakeSetup(3, 64u * 1000 * 1000, L"First.exe");
    const std::wstring second = MakeSetup(3, 64u * 1000 * 1000, L"Second.exe");
    int raced = 0;
    for (int attempt = 0; attempt < 5; ++attempt) {
        SCOPED_TRACE(attempt);
        LauncherRun a(first);
        LauncherRun b(second);
        bool aShowed = false, bShowed = false, bothAtOnce = false;
        bool aEndedFirst = false, bEndedFirst = false;  // before the other showed a window
        while (!(a.WaitForEnd(0) && b.WaitForEnd(0))) {
            bool aNow = false, bNow = false;
            for (const TopWindow& w : ListTopWindows()) {
                if (!w.visible || w.controls.empty()) continue;
                aNow |= w.processId == a.Pid();
                bNow |= w.processId == b.Pid();
            }
            aShowed |= aNow;
            bShowed |= bNow;
            bothAtOnce |= aNow && bNow;
            if (a.WaitForEnd(0) && !bShowed && !bEndedFirst) aEndedFirst = true;
            if (b.WaitForEnd(0) && !aShowed && !aEndedFirst) bEndedFirst = true;
            ::Sleep(2);
        }
        EXPECT_FALSE(bothAtOnce);
        const std::set<DWORD> codes = {*a.WaitForEnd(), *b.WaitForEnd()};
        if ((aEndedFirst || bEndedFirst) && codes == std::set<DWORD>{111u}) continue;
        ++raced;
        // One quits; the other goes on, to a payload that is no cabinet.
        EXPECT_FALSE(aShowed && bShowed);
        EXPECT_EQ(codes, (std::set<DWORD>{111u, 1618u}));
    }
    EXPECT_GT(raced, 0) << "no attempt started the two launchers together";
}

// The road ends at once without a package: the window must still close.
TEST_F(LauncherE2E, NoPackageRoadClosesTheWindowAndEnds) {
    LauncherRun run(MakeSetup(std::nullopt));
    std::optional<DWORD> ended = run.WaitForEnd(15000);
    ASSERT_TRUE(ended);
    EXPECT_EQ(*ended, 107u);
    ExpectLogged(run, {"facts: package: none", ExitCodeLine(107)});
    EXPECT_EQ(RecordedVersion(), std::nullopt);
}

TEST_F(LauncherE2E, UserDismissingTheProgressWindowEndsTheProcessCleanly) {
    struct Case {
        const char* name;
        UINT message;
        WPARAM wParam;
    };
    const Case cases[] = {{"Enter", WM_KEYDOWN, VK_RETURN},
                          {"Escape", WM_KEYDOWN, VK_ESCAPE},
                          {"Alt+F4", WM_SYSCOMMAND, SC_CLOSE}};
    const std::wstring setup = MakeSetup(3, kSlowPayload);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LauncherRun run(setup);
        ProgressObservation seen = ObserveProgress(
            run, [&](const TopWindow& w) { ::PostMessageW(w.handle, c.message, c.wParam, 0); });
        std::optional<DWORD> ended = run.WaitForEnd();
        ASSERT_TRUE(ended);
        EXPECT_EQ(*ended, 1602u);  // a fault would end it with an exception code
        ExpectLogged(
            run, {"the progress window was dismissed",
                  "outcome: cancelled by the user" /* before the installer */, ExitCodeLine(1602)});
        EXPECT_TRUE(seen.window.has_value());
    }
}

// The staging place, as the launcher (same user, same environment) sees it.
std::wstring StagingDirectory() {
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    return std::wstring(temp) + L"TirnHome2014";
}

// A name the launcher made when its own was taken: "Tirn" and eight random
// characters, as long as the own name.
bool IsRandomStagingName(const std::wstring& path) {
    const std::wstring name = path.substr(path.find_last_of(L'\\') + 1);
    return name.size() == 12 && name.starts_with(L"Tirn") && name != L"TirnHome2014" &&
           std::all_of(name.begin() + 4, name.end(), [](wchar_t c) {
               return (c >= L'a' && c <= L'z') || (c >= L'2' && c <= L'7');
           });
}

// The staging places in a temporary directory: the own name, the ones moved
// aside or taken beside it, and the random names made when it was taken.
std::vector<std::wstring> StagingPlaces(const std::wstring& temp) {
    std::vector<std::wstring> places;
    WIN32_FIND_DATAW found;
    HANDLE search = ::FindFirstFileW((temp + L"Tirn*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return places;
    do {
        const std::wstring name = found.cFileName;
        if (name.starts_with(L"TirnHome2014") || IsRandomStagingName(name)) {
            places.push_back(temp + name);
        }
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
    return places;
}

std::wstring TemporaryDirectory() {
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    return temp;
}

void RemoveStagingPlaces() {
    for (const std::wstring& place : StagingPlaces(TemporaryDirectory())) RemoveTree(place);
}

// The directories of temp from which the stand-in installer was started,
// waiting up to 10 s for one: the launcher does not wait for it.
std::vector<std::wstring> StartedFrom(const std::wstring& temp) {
    std::vector<std::wstring> started;
    for (DWORD waited = 0; started.empty() && waited < 10000; waited += 20) {
        if (waited > 0) ::Sleep(20);
        for (const std::wstring& place : StagingPlaces(temp)) {
            if (::PathFileExistsW((place + L"\\TirnHomeSetup.exe.started").c_str())) {
                started.push_back(place);
            }
        }
    }
    return started;
}

class UnpackingRoad : public LauncherE2E {
  protected:
    void SetUp() override {
        LauncherE2E::SetUp();
        RemoveStagingPlaces();
    }
    void TearDown() override {
        RemoveStagingPlaces();
        LauncherE2E::TearDown();
    }
    // A setup made by make-setups.py, copied into this test's directory.
    std::wstring Setup(const wchar_t* name) {
        const std::wstring path = m_dir / L"TirnHomeISSetup.exe";
        ::CopyFileW((ExecutableDirectory() + L"setups\\" + name).c_str(), path.c_str(), FALSE);
        return path;
    }
    static std::wstring Installer() { return StagingDirectory() + L"\\TirnHomeSetup.exe"; }
    // The good setup of version 5, over the older product installed in dir,
    // runs its installer as an upgrade, leaves the product alone and records 5.
    void ExpectTheGoodSetupUpgrades(const std::wstring& dir) {
        EXPECT_EQ(RunToEnd(Setup(L"standin-v5.exe")), 0u);
        std::vector<std::string> lines = StartedLines(Installer(), 10000);
        ASSERT_EQ(lines.size(), 3u);
        EXPECT_EQ(lines[0], "\"" + Utf8(Installer()) + "\" /Upgrade");
        EXPECT_TRUE(StartedLines(dir + L"\\TirnHome.exe", 0).empty());
        EXPECT_EQ(RecordedVersion(), 5u);
    }
    // The installer a run started outlives the launcher: waited for, so that a
    // record it writes late is never taken for a later run's.
    static void WaitForItsInstaller(const LauncherRun& run) {
        const std::string log = run.Log();
        const std::string started = "installer started, process ";
        const size_t at = log.find(started);
        if (at == std::string::npos) return;
        const DWORD pid = std::strtoul(log.c_str() + at + started.size(), nullptr, 10);
        ScopedHandle installer(::OpenProcess(SYNCHRONIZE, FALSE, pid));
        if (installer.IsValid()) ::WaitForSingleObject(installer.Get(), 30000);
    }
    // Runs a setup to its end; the exit code.
    static DWORD RunToEnd(const std::wstring& setup) {
        LauncherRun run(setup);
        std::optional<DWORD> ended = run.WaitForEnd(60000);
        return ended ? *ended : 0xDEAD;
    }
};

TEST_F(UnpackingRoad, StartsTheExtractedInstallerAfterRecordingTheVersion) {
    struct Case {
        const char* name;
        bool installed;
        std::string arguments;
        const wchar_t* setup;
    };
    for (const Case& c : {Case{"fresh installation", false, "", L"standin-v5.exe"},
                          Case{"upgrade", true, " /Upgrade", L"standin-v5.exe"},
                          Case{"stored cabinet", false, "", L"standin-stored-v5.exe"},
                          Case{"MSZIP cabinet", false, "", L"standin-mszip-v5.exe"},
                          Case{"LZX, fastest effort", false, "", L"standin-effort1-v5.exe"},
                          Case{"LZX, best effort", false, "", L"standin-effort3-v5.exe"}}) {
        SCOPED_TRACE(c.name);
        tirn::test::DeleteRecord();
        ::DeleteFileW((Installer() + L".started").c_str());
        std::wstring dir;
        if (c.installed) dir = Install({L"TirnHome.exe"}, 1);
        EXPECT_EQ(RunToEnd(Setup(c.setup)), 0u);
        std::vector<std::string> lines = StartedLines(Installer(), 10000);
        ASSERT_EQ(lines.size(), 3u);
        EXPECT_EQ(lines[0], "\"" + Utf8(Installer()) + "\"" + c.arguments);
        EXPECT_EQ(lines[2], "DefinitionVersion=5");  // recorded before the start
        EXPECT_EQ(RecordedVersion(), 5u);
        if (c.installed) {
            EXPECT_TRUE(StartedLines(dir + L"\\TirnHome.exe", 0).empty());
            RemoveTree(dir);
        }
    }
}

TEST_F(UnpackingRoad, FailuresLaunchNothingAndLeaveTheRecordAlone) {
    struct Case {
        const char* name;
        const wchar_t* setup;
        bool staged;  // the road got as far as the staging file
        DWORD exitCode;
        const char* logged;
    };
    const Case cases[] = {
        {"payload cut short", L"cut-v5.exe", false, 108, "road: finding the whole package failed"},
        {"two-file cabinet", L"two-files-v5.exe", true, 111, "road: extracting the package failed"},
        {"payload that is no cabinet", L"not-a-cabinet-v5.exe", true, 111,
         "road: extracting the package failed"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RemoveTree(StagingDirectory());
        tirn::test::DeleteRecord();
        LauncherRun run(Setup(c.setup));
        EXPECT_EQ(run.WaitForEnd(60000), c.exitCode);
        ExpectLogged(run, {c.logged, ExitCodeLine(c.exitCode)});
        EXPECT_EQ(RecordedVersion(), std::nullopt);
        EXPECT_TRUE(StartedLines(Installer(), 500).empty());
        EXPECT_EQ(::GetFileAttributesW((StagingDirectory() + L"\\TirnHomeSetup.cab").c_str()) !=
                      INVALID_FILE_ATTRIBUTES,
                  c.staged);
    }
}

// A failed run must not record the version: the next good setup of the same
// version would otherwise start the old product instead of upgrading.
TEST_F(UnpackingRoad, AFailedRunDoesNotStopTheNextGoodSetupOfTheSameVersion) {
    const std::wstring dir = Install({L"TirnHome.exe"}, 1);
    EXPECT_EQ(RunToEnd(Setup(L"cut-v5.exe")), 108u);
    EXPECT_EQ(RecordedVersion(), 1u);
    ExpectTheGoodSetupUpgrades(dir);
}

// An extracted file that cannot be started: the window still closes, and the
// record is put back as it was, so that it never claims a version whose
// installer did not run; a good setup of that version afterwards upgrades.
TEST_F(UnpackingRoad, AnInstallerThatCannotStartLeavesTheRecordAsItWas) {
    for (std::optional<uint32_t> installed :
         {std::optional<uint32_t>(3), std::optional<uint32_t>()}) {
        SCOPED_TRACE(installed ? "installed version 3" : "fresh machine");
        tirn::test::DeleteRecord();
        std::wstring dir;
        if (installed) dir = Install({L"TirnHome.exe"}, *installed);
        LauncherRun run(Setup(L"not-a-program-v5.exe"));
        ProgressObservation seen = ObserveProgress(run);
        std::optional<DWORD> ended = run.WaitForEnd();
        ASSERT_TRUE(ended);
        EXPECT_EQ(*ended, 112u);
        ExpectLogged(run, {"road: definition version 5 recorded",
                           "road: starting the installer (record put back) failed: error ",
                           ExitCodeLine(112)});
        EXPECT_TRUE(seen.window.has_value());
        EXPECT_EQ(RecordedVersion(), installed);
        EXPECT_TRUE(::PathFileExistsW(Installer().c_str()));  // extracted, not started
        if (!installed) continue;

        ExpectTheGoodSetupUpgrades(dir);
        RemoveTree(dir);
    }
}

// The log cannot be made (every name it may take is taken, here by
// directories made while the launcher waits, started suspended, for the
// seconds around its start): the run is the same, and so is its exit code.
TEST_F(UnpackingRoad, ARunWhoseLogCannotBeMadeStillInstalls) {
    LauncherRun run(Setup(L"standin-v5.exe"), {}, true);
    ASSERT_TRUE(run.Started());
    const std::wstring temp = TemporaryDirectory();
    std::vector<std::wstring> taken;
    FILETIME now;
    ::GetSystemTimeAsFileTime(&now);
    for (int second = -1; second <= 8; ++second) {
        ULARGE_INTEGER at{{now.dwLowDateTime, now.dwHighDateTime}};
        at.QuadPart += static_cast<LONGLONG>(second) * 10000000;
        const FILETIME utc{at.LowPart, at.HighPart};
        FILETIME local;
        SYSTEMTIME t;
        ::FileTimeToLocalFileTime(&utc, &local);
        ::FileTimeToSystemTime(&local, &t);
        for (int attempt = 1; attempt <= 9; ++attempt) {
            wchar_t name[128];
            std::swprintf(name, 128, L"TirnHomeISSetup_%04u%02u%02u%02u%02u%02u_%lu%ls.log",
                          t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, run.Pid(),
                          attempt == 1 ? L"" : (L"_" + std::to_wstring(attempt)).c_str());
            taken.push_back(temp + name);
            ::CreateDirectoryW(taken.back().c_str(), nullptr);
        }
    }
    run.Resume();
    EXPECT_EQ(run.WaitForEnd(60000), 0u);
    EXPECT_EQ(StartedLines(Installer(), 10000).size(), 3u);
    EXPECT_EQ(RecordedVersion(), 5u);
    for (const std::wstring& name : taken) {
        EXPECT_TRUE(::PathIsDirectoryEmptyW(name.c_str()));
        ::RemoveDirectoryW(name.c_str());
    }
}

// The staging place keeps its name, but each run makes the directory anew:
// what an earlier run left there is moved aside and deleted.
TEST_F(UnpackingRoad, AStagingDirectoryLeftByAnEarlierRunMakesWayForANewOne) {
    ::CreateDirectoryW(StagingDirectory().c_str(), nullptr);
    const std::wstring cabinet = StagingDirectory() + L"\\TirnHomeSetup.cab";
    WriteWholeFile(cabinet, std::vector<uint8_t>(3 * 1000 * 1000, 0xEE));
    WriteWholeFile(Installer(), std::vector<uint8_t>(10, 0xEE));
    WriteWholeFile(StagingDirectory() + L"\\left-behind.txt", {'x'});
    EXPECT_EQ(RunToEnd(Setup(L"standin-v5.exe")), 0u);
    EXPECT_LT(ReadWholeFile(cabinet).size(), 3u * 1000 * 1000);
    EXPECT_EQ(ReadWholeFile(cabinet)[0], 'M');  // "MSCF", descrambled
    EXPECT_EQ(StartedLines(Installer(), 10000).size(), 3u);
    EXPECT_FALSE(::PathFileExistsW((StagingDirectory() + L"\\left-behind.txt").c_str()));
    WIN32_FIND_DATAW found;
    HANDLE aside = ::FindFirstFileW((StagingDirectory() + L"*.old").c_str(), &found);
    EXPECT_EQ(aside, INVALID_HANDLE_VALUE) << "left moved aside: " << Utf8(found.cFileName);
    if (aside != INVALID_HANDLE_VALUE) ::FindClose(aside);
}

// Any process of the user can write to the user's temporary directory: a DLL
// planted in the staging place before the run, under a name the installer
// loads from its own directory, must never reach the elevated installer.
// Once with the planting process still holding the directory open for
// writing (it cannot then be moved aside: a random name is made new).
TEST_F(UnpackingRoad, NothingPlantedInTheStagingPlaceReachesTheInstaller) {
    for (bool holding : {false, true}) {
        SCOPED_TRACE(holding ? "the planter holds the directory open" : "planted earlier");
        RemoveStagingPlaces();
        ASSERT_TRUE(::CreateDirectoryW(StagingDirectory().c_str(), nullptr));
        const std::wstring planted = StagingDirectory() + L"\\TirnSetupPlugin.dll";
        ASSERT_TRUE(::CopyFileW((ExecutableDirectory() + L"MarkerLibrary.dll").c_str(),
                                planted.c_str(), FALSE));
        ScopedHandle planter;
        if (holding) {
            planter.Reset(::CreateFileW(StagingDirectory().c_str(), GENERIC_READ | GENERIC_WRITE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_BACKUP_SEMANTICS, nullptr));
            ASSERT_TRUE(planter.IsValid());
        }
        EXPECT_EQ(RunToEnd(Setup(L"standin-v5.exe")), 0u);
        const std::vector<std::wstring> started = StartedFrom(TemporaryDirectory());
        ASSERT_EQ(started.size(), 1u);
        const std::wstring& staging = started[0];
        if (holding) {
            EXPECT_TRUE(IsRandomStagingName(staging)) << Utf8(staging);
        } else {
            EXPECT_EQ(staging, StagingDirectory());
        }
        const std::wstring installer = staging + L"\\TirnHomeSetup.exe";
        std::vector<std::string> lines = StartedLines(installer, 10000);
        ASSERT_EQ(lines.size(), 3u);
        EXPECT_EQ(lines[0], "\"" + Utf8(installer) + "\"");
        EXPECT_EQ(lines[1], Utf8(staging));  // started in its own directory
        // It tried the DLL before writing its record: a marker would be there.
        for (const std::wstring& loaded :
             {planted + L".loaded", staging + L"\\TirnSetupPlugin.dll.loaded"}) {
            EXPECT_FALSE(::PathFileExistsW(loaded.c_str())) << Utf8(loaded);
        }
        EXPECT_FALSE(::PathFileExistsW((staging + L"\\TirnSetupPlugin.dll").c_str()));
    }
}

// Whatever takes the staging place's own name (a file, a link to another
// directory, a directory held open so that it cannot be moved), and the
// names earlier versions fell back to taken as well: the installer still
// starts, from a new directory of a random name, and nothing taken changes.
TEST_F(UnpackingRoad, ATakenStagingPlaceIsPassedOver) {
    struct Case {
        const char* name;
        std::function<void(const std::wstring& staging, const std::wstring& other,
                           ScopedHandle& holder)>
            take;
    };
    const Case cases[] = {
        {"a file", [](const std::wstring& staging, const std::wstring&,
                      ScopedHandle&) { WriteWholeFile(staging, {'x'}); }},
        {"a link to another directory",
         [](const std::wstring& staging, const std::wstring& other, ScopedHandle&) {
             ASSERT_TRUE(tirn::test::MakeHostLink(staging, other));
         }},
        {"a directory held open",
         [](const std::wstring& staging, const std::wstring&, ScopedHandle& holder) {
             ::CreateDirectoryW(staging.c_str(), nullptr);
             WriteWholeFile(staging + L"\\TirnHomeSetup.cab", {'x'});
             holder.Reset(::CreateFileW(staging.c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_BACKUP_SEMANTICS, nullptr));
             ASSERT_TRUE(holder.IsValid());
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RemoveStagingPlaces();
        tirn::test::DeleteRecord();
        const std::wstring other = m_dir / L"other";
        RemoveTree(other);
        ::CreateDirectoryW(other.c_str(), nullptr);
        ScopedHandle holder;
        c.take(StagingDirectory(), other, holder);
        for (int n = 1; n <= 9; ++n) {
            WriteWholeFile(StagingDirectory() + L"-" + std::to_wstring(n), {'x'});
        }
        const std::vector<std::wstring> taken = StagingPlaces(TemporaryDirectory());

        EXPECT_EQ(RunToEnd(Setup(L"standin-v5.exe")), 0u);
        const std::vector<std::wstring> started = StartedFrom(TemporaryDirectory());
        ASSERT_EQ(started.size(), 1u);
        EXPECT_TRUE(IsRandomStagingName(started[0])) << Utf8(started[0]);
        const std::vector<std::string> lines =
            StartedLines(started[0] + L"\\TirnHomeSetup.exe", 10000);
        ASSERT_EQ(lines.size(), 3u);
        EXPECT_EQ(lines[2], "DefinitionVersion=5");
        EXPECT_EQ(RecordedVersion(), 5u);

        std::vector<std::wstring> after = StagingPlaces(TemporaryDirectory());
        std::erase(after, started[0]);
        EXPECT_EQ(after, taken);
        for (int n = 1; n <= 9; ++n) {
            EXPECT_EQ(ReadWholeFile(StagingDirectory() + L"-" + std::to_wstring(n)),
                      std::vector<uint8_t>{'x'});
        }
        EXPECT_TRUE(::PathIsDirectoryEmptyW(other.c_str())) << "written through the link";
        const DWORD attributes = ::GetFileAttributesW(StagingDirectory().c_str());
        if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            EXPECT_EQ(ReadWholeFile(StagingDirectory()), std::vector<uint8_t>{'x'});
        } else if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
            EXPECT_EQ(ReadWholeFile(StagingDirectory() + L"\\TirnHomeSetup.cab"),
                      std::vector<uint8_t>{'x'});
        }
        holder.Close();
        RemoveStagingPlaces();
    }
}

// The longest temporary directory that installs, as the README states it:
// 224 units with its backslash, with the staging place's own name and with a
// random one (every name the launcher makes is as long as its own).
TEST_F(UnpackingRoad, TheLongestTemporaryDirectoryStatedInstallsWithEveryName) {
    const std::wstring temp = L"C:\\" + std::wstring(220, L'x') + L"\\";
    ASSERT_EQ(temp.size(), 224u);
    RemoveTree(temp.substr(0, temp.size() - 1));
    ASSERT_TRUE(::CreateDirectoryW(temp.c_str(), nullptr));
    for (bool ownNameTaken : {false, true}) {
        SCOPED_TRACE(ownNameTaken ? "own name taken" : "own name");
        for (const std::wstring& place : StagingPlaces(temp)) RemoveTree(place);
        if (ownNameTaken) WriteWholeFile(temp + L"TirnHome2014", {'x'});
        tirn::test::DeleteRecord();
        LauncherRun run(Setup(L"standin-v5.exe"), L"TMP=" + temp);
        std::optional<DWORD> ended = run.WaitForEnd(60000);
        ASSERT_TRUE(ended);
        const std::vector<std::wstring> started = StartedFrom(temp);
        ASSERT_EQ(started.size(), 1u);
        EXPECT_EQ(IsRandomStagingName(started[0]), ownNameTaken) << Utf8(started[0]);
        EXPECT_EQ(StartedLines(started[0] + L"\\TirnHomeSetup.exe", 10000).size(), 3u);
    }
    RemoveTree(temp.substr(0, temp.size() - 1));
}

// Deploying: the switches only add to the run without arguments.

// The visible windows of the run's process until it ends, described.
std::string WindowsShown(const LauncherRun& run, DWORD timeoutMs = 60000) {
    std::wstring shown;
    const DWORD start = ::GetTickCount();
    while (!run.WaitForEnd(0) && ::GetTickCount() - start < timeoutMs) {
        for (const TopWindow& w : run.Windows()) {
            if (w.visible) shown += w.Describe() + L"\n";
        }
        ::Sleep(5);
    }
    const int n =
        ::WideCharToMultiByte(CP_UTF8, 0, shown.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n > 0 ? n - 1 : 0), '\0');
    if (n > 1)
        ::WideCharToMultiByte(CP_UTF8, 0, shown.c_str(), -1, out.data(), n, nullptr, nullptr);
    return out;
}

// /quiet /wait: no window, the installer gets every argument as the launcher
// got it, and its exit code (3010: restart required) is the run's.
TEST_F(UnpackingRoad, QuietAndWaitingHandsOnArgumentsAndTheInstallersExitCode) {
    struct Argument {
        std::wstring value;
        std::wstring quoted;  // as a deployment tool writes it on the command line
    };
    const Argument arguments[] = {
        {L"/S", L"/S"},
        {L"with space", L"\"with space\""},
        {L"say \"hi\"", L"\"say \\\"hi\\\"\""},
        {L"C:\\my dir\\", L"\"C:\\my dir\\\\\""},
        {L"a\\\\\"b", L"\"a\\\\\\\\\\\"b\""},
        {L"\u0110\u00e3 c\u00e0i", L"\"\u0110\u00e3 c\u00e0i\""},
        {L"", L"\"\""},
        {L"/exitcode=3010", L"/exitcode=3010"},
    };
    for (bool separated : {false, true}) {
        SCOPED_TRACE(separated ? "after --" : "among the switches");
        RemoveStagingPlaces();
        tirn::test::DeleteRecord();
        std::wstring commandLine = separated ? L"/quiet /wait --" : L"/Quiet -WAIT";
        for (const Argument& a : arguments) commandLine += L" " + a.quoted;
        LauncherRun run(Setup(L"standin-v5.exe"), {}, false, commandLine);
        EXPECT_EQ(WindowsShown(run), "");
        EXPECT_EQ(run.WaitForEnd(60000), 3010u);
        // Waited for: the installer's record is there as the launcher ends.
        const std::vector<std::string> lines = StartedLines(Installer(), 0);
        ASSERT_EQ(lines.size(), 3u);
        int count = 0;
        std::wstring line(lines[0].size(), L'\0');
        line.resize(static_cast<size_t>(
            ::MultiByteToWideChar(CP_UTF8, 0, lines[0].data(), static_cast<int>(lines[0].size()),
                                  line.data(), static_cast<int>(line.size()))));
        LPWSTR* received = ::CommandLineToArgvW(line.c_str(), &count);
        ASSERT_NE(received, nullptr);
        std::vector<std::wstring> got(received + 1, received + count);
        ::LocalFree(received);
        std::vector<std::wstring> expected;
        for (const Argument& a : arguments) expected.push_back(a.value);
        EXPECT_EQ(got, expected);
        ExpectLogged(run, {"switches: /quiet /wait; 8 arguments for the installer",
                           "installer ended with exit code 3010", ExitCodeLine(3010)});
    }
}

// /quiet against a conflicting product: no message, 1638, nothing changed.
TEST_F(UnpackingRoad, QuietRefusalShowsNothing) {
    const std::wstring dir = Install({L"Tir.exe"}, 1);
    LauncherRun run(Setup(L"standin-v5.exe"), {}, false, L"/quiet");
    EXPECT_EQ(WindowsShown(run), "");
    EXPECT_EQ(run.WaitForEnd(), 1638u);
    EXPECT_EQ(RecordedVersion(), 1u);
    EXPECT_TRUE(StagingPlaces(TemporaryDirectory()).empty());
    EXPECT_TRUE(StartedLines(dir + L"\\Tir.exe", 0).empty());
    RemoveTree(dir);
}

// /log: the log goes to the file named, made new; where a link stands at
// that name, nothing is written through it and the log takes another name.
TEST_F(UnpackingRoad, TheLogGoesWhereItIsToldNeverThroughALink) {
    const std::wstring chosen = m_dir / L"deploy.log";
    const auto logsInTemp = [] {
        std::vector<std::wstring> names;
        WIN32_FIND_DATAW found;
        HANDLE search =
            ::FindFirstFileW((TemporaryDirectory() + L"TirnHomeISSetup_*.log").c_str(), &found);
        if (search == INVALID_HANDLE_VALUE) return names;
        do {
            names.push_back(found.cFileName);
        } while (::FindNextFileW(search, &found));
        ::FindClose(search);
        std::sort(names.begin(), names.end());
        return names;
    };
    const std::vector<std::wstring> before = logsInTemp();
    LauncherRun run(Setup(L"standin-v5.exe"), {}, false, L"/quiet /log \"" + chosen + L"\"");
    EXPECT_EQ(run.WaitForEnd(60000), 0u);
    const std::vector<uint8_t> bytes = ReadWholeFile(chosen);
    const std::string log(bytes.begin(), bytes.end());
    EXPECT_NE(log.find("decision: install"), std::string::npos) << log;
    EXPECT_EQ(logsInTemp(), before) << "a second log in the temporary directory";

    const std::wstring victim = m_dir / L"victim.txt";
    WriteWholeFile(victim, {'v'});
    const std::wstring linked = m_dir / L"linked.log";
    ASSERT_TRUE(tirn::test::MakeHostLink(linked, victim));
    RemoveStagingPlaces();
    LauncherRun second(Setup(L"standin-v5.exe"), {}, false, L"/quiet /log \"" + linked + L"\"");
    EXPECT_EQ(second.WaitForEnd(60000), 0u);
    EXPECT_EQ(ReadWholeFile(victim), std::vector<uint8_t>{'v'});
    const std::vector<uint8_t> other = ReadWholeFile(m_dir / L"linked_2.log");
    EXPECT_NE(std::string(other.begin(), other.end()).find("exit code 0"), std::string::npos);
}

// /? shows the switches; a switch without its value is a usage error
// (1639, Windows Installer's "invalid command line argument") that reads and
// changes nothing, shown unless /quiet.
TEST_F(UnpackingRoad, HelpAndUsageErrorsChangeNothing) {
    struct Case {
        const char* name;
        std::wstring arguments;
        bool box;
        DWORD exitCode;
        const wchar_t* text;  // in the box
    };
    const Case cases[] = {
        {"/?", L"/?", true, 0, L"/quiet"},
        {"/help", L"-HELP", true, 0, L"C\u00e1ch d\u00f9ng"},
        {"/log without its file", L"/log", true, 1639, L"/log needs a file"},
        {"quiet, /log without its file", L"/quiet /wait /log", false, 1639, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        tirn::test::DeleteRecord();
        RemoveStagingPlaces();
        LauncherRun run(Setup(L"standin-v5.exe"), {}, false, c.arguments);
        if (c.box) {
            std::vector<TopWindow> boxes = run.WaitForMessageBox();
            ASSERT_EQ(boxes.size(), 1u);
            bool found = false;
            for (const auto& control : boxes[0].controls) {
                found |= control.second.find(c.text) != std::wstring::npos;
            }
            EXPECT_TRUE(found) << Utf8(boxes[0].Describe());
            ::PostMessageW(boxes[0].handle, WM_COMMAND, IDOK, 0);
        } else {
            EXPECT_EQ(WindowsShown(run), "");
        }
        EXPECT_EQ(run.WaitForEnd(), c.exitCode);
        EXPECT_FALSE(RecordKeyExists());
        EXPECT_TRUE(StagingPlaces(TemporaryDirectory()).empty());
    }
}

// Broken and hostile packages: every one ends the launcher normally (no
// fault), starts nothing, writes no file outside the staging directory and
// leaves the installation record as it was.
TEST_F(UnpackingRoad, HostilePackagesEndCleanly) {
    std::vector<std::wstring> setups = {L"hostile-zero-payload.exe", L"hostile-size-near-4GiB.exe",
                                        L"hostile-traversal.exe",    L"hostile-continued.exe",
                                        L"hostile-many-files.exe",   L"hostile-forbidden-name.exe",
                                        L"hostile-device-name.exe"};
    for (int keep = 0; keep < 16; ++keep) {
        wchar_t name[64];
        std::swprintf(name, 64, L"hostile-trailer-cut-%02d.exe", keep);
        setups.push_back(name);
    }
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    const std::wstring outside = std::wstring(temp) + L"evil.txt";
    ::DeleteFileW(outside.c_str());
    for (const std::wstring& setup : setups) {
        SCOPED_TRACE(Utf8(setup));
        tirn::test::DeleteRecord();
        RemoveTree(StagingDirectory());
        const DWORD code = RunToEnd(Setup(setup.c_str()));
        EXPECT_GE(code, 106u);  // a failure of its own, not a fault
        EXPECT_LE(code, 118u);
        EXPECT_EQ(RecordedVersion(), std::nullopt);
        EXPECT_FALSE(::PathFileExistsW(outside.c_str()));
        EXPECT_FALSE(::PathFileExistsW(Installer().c_str()));
    }
}

// The user dismisses the progress window at moments spread over the whole
// road (its length measured first, on this machine): the process ends
// without a fault; what the road had done stays (the version is recorded
// only when the installer is about to start, and never without it being
// reached); and the next undisturbed run of the same setup installs.
TEST_F(UnpackingRoad, DismissingTheWindowAtAnyMomentLeavesNothingHalfDone) {
    struct Road {
        const char* name;
        std::wstring setup;
        bool installs;
    };
    const Road roads[] = {
        {"long extraction", Setup(L"slow-v3.exe"), true},
        {"long staging of a payload that is no cabinet", MakeSetup(3, kSlowPayload, L"Staging.exe"),
         false},
    };
    for (const Road& road : roads) {
        SCOPED_TRACE(road.name);
        const DWORD start = ::GetTickCount();
        LauncherRun whole(road.setup);
        ASSERT_EQ(whole.WaitForEnd(60000), road.installs ? 0u : 111u);
        const DWORD length = ::GetTickCount() - start;
        WaitForItsInstaller(whole);
        for (DWORD eighth : {0, 1, 2, 4, 6, 7}) {
            SCOPED_TRACE(eighth);
            tirn::test::DeleteRecord();
            RemoveTree(StagingDirectory());
            LauncherRun run(road.setup);
            const DWORD runStart = ::GetTickCount();
            ObserveProgress(run, [&](const TopWindow& w) {
                const DWORD at = runStart + length * eighth / 8;
                while (static_cast<int>(at - ::GetTickCount()) > 0 && !run.WaitForEnd(5)) {
                }
                ::PostMessageW(w.handle, WM_KEYDOWN, VK_ESCAPE, 0);
            });
            std::optional<DWORD> ended = run.WaitForEnd();
            ASSERT_TRUE(ended);
            WaitForItsInstaller(run);
            const bool launched = !StartedLines(Installer(), 1500).empty();
            // Started, cancelled before the start, or (no cabinet) ended first.
            if (launched) {
                EXPECT_EQ(*ended, 0u);
            } else {
                EXPECT_TRUE(*ended == 1602u || (!road.installs && *ended == 111u)) << *ended;
            }
            if (launched) {
                EXPECT_EQ(RecordedVersion(), 3u);
            }
            if (!road.installs) {
                EXPECT_EQ(RecordedVersion(), std::nullopt);
            }
        }
        tirn::test::DeleteRecord();
        ::DeleteFileW((Installer() + L".started").c_str());
        EXPECT_EQ(RunToEnd(road.setup), road.installs ? 0u : 111u);
        EXPECT_EQ(StartedLines(Installer(), 10000).size(), road.installs ? 3u : 0u);
        EXPECT_EQ(RecordedVersion(), road.installs ? std::optional<uint32_t>(3) : std::nullopt);
    }
}

// An earlier run's staging file held open by another process (without any
// sharing) does not stop the road: it goes on in a directory of its own, and
// the held file is left as it was.
TEST_F(UnpackingRoad, AStagingFileHeldOpenElsewhereIsLeftAlone) {
    ::CreateDirectoryW(StagingDirectory().c_str(), nullptr);
    const std::wstring cabinet = StagingDirectory() + L"\\TirnHomeSetup.cab";
    WriteWholeFile(cabinet, {'x'});
    ScopedHandle locked(::CreateFileW(cabinet.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(locked.IsValid());
    EXPECT_EQ(RunToEnd(Setup(L"standin-v5.exe")), 0u);
    EXPECT_EQ(RecordedVersion(), 5u);
    LARGE_INTEGER size{};
    char first = 0;
    DWORD read = 0;
    EXPECT_TRUE(::GetFileSizeEx(locked.Get(), &size));
    EXPECT_EQ(size.QuadPart, 1);
    EXPECT_TRUE(::ReadFile(locked.Get(), &first, 1, &read, nullptr));
    EXPECT_EQ(first, 'x');
    // Started from a directory this run made: the place's own name once the
    // earlier one is moved aside (Windows refuses to move a directory with a
    // file open inside; Wine does not), or a random one.
    const std::vector<std::wstring> started = StartedFrom(TemporaryDirectory());
    ASSERT_EQ(started.size(), 1u);
    EXPECT_TRUE(started[0] == StagingDirectory() || IsRandomStagingName(started[0]));
}

// A DLL of a system name beside the setup (a downloads folder) is never
// loaded, whichever road the launcher takes. Wine is told to prefer such
// copies to its own, so only the launcher's search restriction keeps them
// out. Not planted: the libraries bound at load time by the system's loader
// itself (kernel32, kernelbase, msvcrt; on Windows served from the known-DLL
// list), and the COM libraries that Wine's own input-method library binds
// lazily by a search of its own.
TEST_F(UnpackingRoad, LibrariesOfSystemNamesBesideTheSetupAreNeverLoaded) {
    const std::vector<std::wstring> names = {
        L"cabinet",  L"user32", L"gdi32",     L"advapi32", L"shell32", L"shlwapi",
        L"sechost",  L"win32u", L"version",   L"imm32",    L"uxtheme", L"shcore",
        L"comctl32", L"dwmapi", L"cryptbase", L"profapi",  L"userenv", L"winmm"};
    std::wstring overrides = L"WINEDLLOVERRIDES=mscoree,mshtml=;";
    for (const std::wstring& name : names) {
        ASSERT_TRUE(::CopyFileW((ExecutableDirectory() + L"MarkerLibrary.dll").c_str(),
                                (m_dir / (name + L".dll")).c_str(), FALSE));
        overrides += name + L"=n,b;";
    }
    auto plantedLoaded = [&] {
        std::wstring loaded;
        WIN32_FIND_DATAW found;
        HANDLE search = ::FindFirstFileW((m_dir / L"*.loaded").c_str(), &found);
        if (search == INVALID_HANDLE_VALUE) return std::string();
        do {
            loaded += found.cFileName + std::wstring(L" ");
        } while (::FindNextFileW(search, &found));
        ::FindClose(search);
        return Utf8(loaded);
    };
    enum class Road { kInstall, kStartProduct, kRefuse };
    for (Road road : {Road::kInstall, Road::kStartProduct, Road::kRefuse}) {
        SCOPED_TRACE(static_cast<int>(road));
        tirn::test::DeleteRecord();
        RemoveTree(StagingDirectory());
        std::wstring dir;
        if (road == Road::kStartProduct) dir = Install({L"TirnHome.exe"}, 5);
        if (road == Road::kRefuse) dir = Install({L"Tirn.exe"}, 1);
        LauncherRun run(Setup(L"standin-v5.exe"), overrides);
        if (road == Road::kRefuse) {
            std::vector<TopWindow> boxes = run.WaitForMessageBox();
            ASSERT_EQ(boxes.size(), 1u);
            ::PostMessageW(boxes[0].handle, WM_COMMAND, IDOK, 0);
        }
        std::optional<DWORD> ended = run.WaitForEnd(60000);
        ASSERT_TRUE(ended);
        EXPECT_EQ(*ended, road == Road::kRefuse ? 1638u : 0u);
        if (road == Road::kInstall) {
            EXPECT_EQ(StartedLines(Installer(), 10000).size(), 3u);
        }
        if (road == Road::kStartProduct) {
            EXPECT_EQ(StartedLines(dir + L"\\TirnHome.exe", 10000).size(), 3u);
        }
        EXPECT_EQ(plantedLoaded(), "");
        if (!dir.empty()) RemoveTree(dir);
    }
}

}  // namespace
