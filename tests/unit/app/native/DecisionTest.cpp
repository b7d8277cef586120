#include "app/Decision.h"
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
