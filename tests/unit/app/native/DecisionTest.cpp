#include "app/Decision.h"
#include "app/LaunchOptions.h"
#include "app/Outcome.h"

#include <gtest/gtest.h>

#include <set>

namespace {

TEST(Decide, EveryCaseThatMatters) {
    struct Case {
        const char* name;
        StartFacts facts;
        Decision expected;
    };
    const std::optional<uint32_t> none;
    const Case cases[] = {
        {"another launcher runs, whatever else",
         {true, true, true, 9, 1},
         Decision::AnotherLauncherRuns},
        {"no product installed", {false, false, false, none, 5}, Decision::InstallFresh},
        {"a record whose directory is gone", {false, false, false, 9, 5}, Decision::InstallFresh},
        {"a conflicting product, even when older", {false, true, true, 1, 5}, Decision::Refuse},
        {"a conflicting product and a newer one", {false, true, true, 9, 5}, Decision::Refuse},
        {"installed older", {false, true, false, 4, 5}, Decision::Upgrade},
        {"installed the same", {false, true, false, 5, 5}, Decision::StartInstalledProduct},
        {"installed newer", {false, true, false, 6, 5}, Decision::StartInstalledProduct},
        {"installed version unreadable: 0", {false, true, false, none, 5}, Decision::Upgrade},
        {"unreadable, package version 0",
         {false, true, false, none, 0},
         Decision::StartInstalledProduct},
        {"a setup without a package: version 0",
         {false, true, false, none, none},
         Decision::StartInstalledProduct},
        {"no package, fresh machine", {false, false, false, none, none}, Decision::InstallFresh},
        {"compared unsigned", {false, true, false, 0x7FFFFFFF, 0x80000000u}, Decision::Upgrade},
        {"the largest installed",
         {false, true, false, 0xFFFFFFFFu, 0xFFFFFFFFu},
         Decision::StartInstalledProduct},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Decide(c.facts), c.expected);
    }
}

// Each failure has a code of its own; the codes that say success or a
// Windows Installer condition are the ones deployment tools know.
TEST(ExitCodeOf, OneCodePerOutcomeAndTheKnownOnesWhereTheyFit) {
    EXPECT_EQ(ExitCodeOf(Outcome::Launched), 0u);
    EXPECT_EQ(ExitCodeOf(Outcome::ProductStarted), 0u);
    EXPECT_EQ(ExitCodeOf(Outcome::AnotherLauncherRuns), 1618u);
    EXPECT_EQ(ExitCodeOf(Outcome::Refused), 1638u);
    EXPECT_EQ(ExitCodeOf(Outcome::Cancelled), 1602u);
    EXPECT_EQ(ExitCodeOf(Outcome::HelpShown), 0u);
    EXPECT_EQ(ExitCodeOf(Outcome::UsageError), 1639u);
    std::set<uint32_t> seen;
    for (int o = static_cast<int>(Outcome::SetupUnreadable);
         o <= static_cast<int>(Outcome::Aborted); ++o) {
        const uint32_t code = ExitCodeOf(static_cast<Outcome>(o));
        EXPECT_GE(code, 106u);
        EXPECT_LT(code, 126u);  // the shell's own meanings start there
        EXPECT_TRUE(seen.insert(code).second) << "code " << code << " twice";
        // Told apart from Windows Installer's even where only 8 bits are kept.
        for (uint32_t known : {1602u, 1618u, 1638u, 1639u, 1641u, 3010u}) {
            EXPECT_NE(code, known & 0xFF) << code;
        }
    }
}

}  // namespace

namespace {

TEST(ParseLaunchOptions, SwitchesAndWhatGoesToTheInstaller) {
    using Args = std::vector<std::wstring>;
    struct Case {
        const char* name;
        Args arguments;
        bool quiet, wait, help;
        std::optional<std::wstring> log;
        Args handedOn;
        bool usageError;
    };
    const Case cases[] = {
        {"none: as always", {}, false, false, false, {}, {}, false},
        {"quiet and wait", {L"/quiet", L"/wait"}, true, true, false, {}, {}, false},
        {"any case, either mark", {L"-QUIET", L"/Wait"}, true, true, false, {}, {}, false},
        {"help", {L"/?"}, false, false, true, {}, {}, false},
        {"help, long", {L"-Help"}, false, false, true, {}, {}, false},
        {"a log file",
         {L"/log", L"C:\\x y\\a.log"},
         false,
         false,
         false,
         L"C:\\x y\\a.log",
         {},
         false},
        {"a log without its file", {L"/quiet", L"/log"}, true, false, false, {}, {}, true},
        {"a log followed by --", {L"/log", L"--", L"x"}, false, false, false, {}, {}, true},
        {"others go to the installer",
         {L"/S", L"/quiet", L"x"},
         true,
         false,
         false,
         {},
         {L"/S", L"x"},
         false},
        {"after --, even switches",
         {L"/wait", L"--", L"/quiet", L"--", L"/log"},
         false,
         true,
         false,
         {},
         {L"/quiet", L"--", L"/log"},
         false},
        {"a lone mark", {L"/", L"-"}, false, false, false, {}, {L"/", L"-"}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const LaunchOptions options = ParseLaunchOptions(c.arguments);
        EXPECT_EQ(options.usageError.empty(), !c.usageError);
        if (c.usageError) continue;
        EXPECT_EQ(options.quiet, c.quiet);
        EXPECT_EQ(options.wait, c.wait);
        EXPECT_EQ(options.help, c.help);
        EXPECT_EQ(options.logPath, c.log);
        EXPECT_EQ(options.installerArguments, c.handedOn);
    }
}

// What CommandLineToArgvW and the C run-time library read back.
TEST(QuoteArgument, TheInstallerReadsEachArgumentBackUnchanged) {
    struct Case {
        std::wstring argument, quoted;
    };
    const Case cases[] = {
        {L"plain", L"plain"},
        {L"", L"\"\""},
        {L"with space", L"\"with space\""},
        {L"tab\there", L"\"tab\there\""},
        {L"say \"hi\"", L"\"say \\\"hi\\\"\""},
        {L"C:\\dir\\", L"C:\\dir\\"},
        {L"C:\\my dir\\", L"\"C:\\my dir\\\\\""},
        {L"a\\\\\"b", L"\"a\\\\\\\\\\\"b\""},
        {L"\u0110\u00e3 c\u00e0i", L"\"\u0110\u00e3 c\u00e0i\""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(QuoteArgument(c.argument), c.quoted);
    }
    EXPECT_EQ(InstallerArguments(false, {}), L"");
    EXPECT_EQ(InstallerArguments(true, {}), L"/Upgrade");
    EXPECT_EQ(InstallerArguments(true, {L"/S", L"a b"}), L"/Upgrade /S \"a b\"");
    EXPECT_EQ(InstallerArguments(false, {L"/S"}), L"/S");
}

}  // namespace
