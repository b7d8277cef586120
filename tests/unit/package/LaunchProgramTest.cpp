#include "package/ProgramLaunch.h"
#include "tests/unit/TestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using tirn::test::ExecutableDirectory;
using tirn::test::ScratchDirectory;

// The stand-in program's record of its command line and current directory,
// once it has run: the record appears whole (written beside, renamed into
// place).
std::vector<std::string> RecordedLines(const std::wstring& program) {
    const std::wstring log = program + L".started";
    const DWORD deadline = ::GetTickCount() + 10000;
    while (::GetFileAttributesW(log.c_str()) == INVALID_FILE_ATTRIBUTES &&
           static_cast<int>(deadline - ::GetTickCount()) > 0) {
        ::Sleep(10);
    }
    std::vector<uint8_t> bytes = tirn::test::ReadWholeFile(log);
    std::vector<std::string> lines;
    std::string line;
    for (uint8_t b : bytes) {
        if (b != '\n') {
            line += static_cast<char>(b);
            continue;
        }
        lines.push_back(line);
        line.clear();
    }
    lines.resize(2);
    return lines;
}

std::string Utf8(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) out += static_cast<char>(c);  // ASCII paths only here
    return out;
}

TEST(LaunchProgram, QuotesThePathAndAddsArgumentsOnlyWhenPresent) {
    ScratchDirectory dir;
    // The program path is 251 units: quoted, with a space and "/Upgrade", the
    // command line passes 260 units, while the stand-in's own record file
    // (the path + ".started") still fits the 260-unit limit.
    const size_t programLength = 251;
    const size_t directoryLength = programLength - std::wstring(L"\\TirnHomeSetup.exe").size();
    std::wstring deep = dir.Path();
    while (deep.size() + 13 < directoryLength) {
        deep += L"\\" + std::wstring(12, L'd');
        ::CreateDirectoryW(deep.c_str(), nullptr);
    }
    deep += L"\\" + std::wstring(directoryLength - deep.size() - 1, L'e');
    ::CreateDirectoryW(deep.c_str(), nullptr);
    ASSERT_EQ(deep.size(), directoryLength);
    struct Case {
        const char* name;
        std::wstring directory;
        const wchar_t* arguments;
        const char* expectedTail;
    };
    const Case cases[] = {
        {"upgrade", dir.Path(), L"/Upgrade", "\" /Upgrade"},
        {"fresh installation", dir.Path(), L"", "\""},
        {"no arguments at all", dir.Path(), nullptr, "\""},
        {"longest paths with /Upgrade", deep, L"/Upgrade", "\" /Upgrade"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::wstring program = c.directory + L"\\TirnHomeSetup.exe";
        ::CopyFileW((ExecutableDirectory() + L"..\\e2e\\StandInProgram.exe").c_str(),
                    program.c_str(), FALSE);
        ::DeleteFileW((program + L".started").c_str());
        ASSERT_EQ(LaunchProgram(program.c_str(), c.arguments), 1);
        const std::vector<std::string> recorded = RecordedLines(program);
        EXPECT_EQ(recorded[0], "\"" + Utf8(program) + c.expectedTail);
        // Started in its own directory, not in this test's.
        EXPECT_EQ(recorded[1], Utf8(c.directory));
    }
}

TEST(LaunchProgram, FailuresReturnZero) {
    ScratchDirectory dir;
    tirn::test::WriteWholeFile(dir / L"text.exe", {'n', 'o', 't', ' ', 'a', ' ', 'p', 'e'});
    EXPECT_EQ(LaunchProgram((dir / L"text.exe").c_str(), nullptr), 0);
    EXPECT_EQ(LaunchProgram((dir / L"missing.exe").c_str(), L"/Upgrade"), 0);
    // A command line past Windows' limit is a failed launch, never a cut one.
    std::wstring huge(40000, L'a');
    EXPECT_EQ(LaunchProgram((dir / L"missing.exe").c_str(), huge.c_str()), 0);
}

}  // namespace
