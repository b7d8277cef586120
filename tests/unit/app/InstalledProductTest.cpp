#include "app/InstalledProduct.h"
#include "tests/unit/TestSupport.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using tirn::test::ScratchDirectory;

TEST(BuildInstallPath, JoinsWithExactlyOneBackslash) {
    struct Case {
        const wchar_t* directory;
        const wchar_t* name;
        const wchar_t* expected;
    };
    const std::wstring longest(1022, L'd');
    const std::wstring tooLong(1023, L'd');
    const std::wstring longestJoined = longest + L"\\TirnHome.exe";
    const Case cases[] = {
        {L"C:\\Tirn", L"TirnHome.exe", L"C:\\Tirn\\TirnHome.exe"},
        {L"C:\\Tirn\\", L"TirnHome.exe", L"C:\\Tirn\\TirnHome.exe"},
        {L"C:", L"Tir.exe", L"C:\\Tir.exe"},
        {L"C:\\Tirn/", L"Tir.exe", L"C:\\Tirn/\\Tir.exe"},  // a slash is no separator
        {longest.c_str(), L"TirnHome.exe", longestJoined.c_str()},
        {L"C:\\Tirn", L"", L""},
        {L"", L"TirnHome.exe", L""},
        {tooLong.c_str(), L"TirnHome.exe", L""},
        {L"C:\\Tirn", tooLong.c_str(), L""},
        {nullptr, L"TirnHome.exe", L""},
        {L"C:\\Tirn", nullptr, L""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << (c.directory ? std::wstring(c.directory).size() : 0));
        EXPECT_STREQ(BuildInstallPath(c.directory, c.name).GetString(), c.expected);
    }
}

TEST(IsConflictingProductInstalled, EitherProgramOrADirectoryOfThatNameCounts) {
    struct Case {
        const char* name;
        const wchar_t* file;
        const wchar_t* directory;
        bool expected;
    };
    const Case cases[] = {
        {"nothing", nullptr, nullptr, false},
        {"Tir.exe", L"Tir.exe", nullptr, true},
        {"Tirn.exe", L"Tirn.exe", nullptr, true},
        {"directory Tir.exe", nullptr, L"Tir.exe", true},
        {"directory Tirn.exe", nullptr, L"Tirn.exe", true},
        {"only the product", L"TirnHome.exe", nullptr, false},
        {"a near name", L"Tirn.exe.bak", nullptr, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchDirectory dir;
        if (c.file) tirn::test::CreateEmptyFile(dir / c.file);
        if (c.directory) ::CreateDirectoryW((dir / c.directory).c_str(), nullptr);
        EXPECT_EQ(IsConflictingProductInstalled(dir.Path().c_str()), c.expected);
        EXPECT_EQ(IsConflictingProductInstalled((dir.Path() + L"\\").c_str()), c.expected);
    }
    EXPECT_FALSE(IsConflictingProductInstalled(L""));
}

}  // namespace
