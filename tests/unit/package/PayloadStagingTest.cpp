#include "package/PayloadStaging.h"
#include "package/ViewGuard.h"
#include "format/PayloadScrambling.h"
#include "tests/unit/TestSupport.h"

#include <gtest/gtest.h>
#include <shlwapi.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace {

using tirn::test::ReadWholeFile;
using tirn::test::ScratchDirectory;

std::vector<uint8_t> Scrambled(const std::vector<uint8_t>& plain) {
    std::vector<uint8_t> data = plain;
    const uint32_t size = static_cast<uint32_t>(data.size());
    for (uint32_t at = 0; at < size; at += tirn::format::kPayloadBlockSize) {
        tirn::format::ScrambleBlock(data.data() + at,
                                    std::min(tirn::format::kPayloadBlockSize, size - at));
    }
    return data;
}

std::vector<uint8_t> RandomBytes(size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::vector<uint8_t> bytes(size);
    for (auto& b : bytes) b = static_cast<uint8_t>(random());
    return bytes;
}

// A path that does not fit is refused whole: cut, it would name another file.
TEST(CombinePath, JoinsWithinTheCapacityOrRefuses) {
    const std::wstring dir250(250, L'd');
    const std::wstring dir241b = std::wstring(241, L'd') + L"\\";
    struct Case {
        const char* name;
        std::wstring directory;
        int capacity;
        const wchar_t* file;
        std::wstring expected;  // empty: refused
    };
    const Case cases[] = {
        {"plain", L"C:\\Temp", 260, L"TirnHomeSetup.cab", L"C:\\Temp\\TirnHomeSetup.cab"},
        {"trailing backslash", L"C:\\Temp\\", 260, L"TirnHomeSetup.cab",
         L"C:\\Temp\\TirnHomeSetup.cab"},
        {"exactly capacity - 1 units", std::wstring(241, L'd'), 260, L"TirnHomeSetup.cab",
         std::wstring(241, L'd') + L"\\TirnHomeSetup.cab"},
        {"the same with its backslash", dir241b, 260, L"TirnHomeSetup.cab",
         dir241b + L"TirnHomeSetup.cab"},
        {"one unit too many", std::wstring(242, L'd'), 260, L"TirnHomeSetup.cab", L""},
        {"250 units: the name would be cut", dir250, 260, L"TirnHomeSetup.cab", L""},
        {"longer than the capacity", std::wstring(300, L'd'), 260, L"abc", L""},
        {"empty directory", L"", 260, L"abc", L""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<wchar_t> out(c.capacity + 1, L'#');
        int length = CombinePath(c.directory.c_str(), c.capacity, out.data(), c.file);
        EXPECT_EQ(length, static_cast<int>(c.expected.size()));
        if (c.expected.empty()) {
            EXPECT_EQ(out[0], L'#');  // untouched
        } else {
            EXPECT_EQ(std::wstring(out.data()), c.expected);
        }
        EXPECT_EQ(out[c.capacity], L'#');
    }
}

// GetTempPathW follows TMP; the long values need not exist.
class StagingDirectoryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ::GetEnvironmentVariableW(L"TMP", m_tmp, MAX_PATH);
        ::GetEnvironmentVariableW(L"TEMP", m_temp, MAX_PATH);
    }
    void TearDown() override {
        ::SetEnvironmentVariableW(L"TMP", m_tmp);
        ::SetEnvironmentVariableW(L"TEMP", m_temp);
    }
    static void UseTemp(const std::wstring& path) {
        ::SetEnvironmentVariableW(L"TMP", path.c_str());
        ::SetEnvironmentVariableW(L"TEMP", path.c_str());
    }

  private:
    wchar_t m_tmp[MAX_PATH] = L"";
    wchar_t m_temp[MAX_PATH] = L"";
};

// A temporary path of the given length, "C:\" followed by x's.
std::wstring TempPathOf(size_t length, bool trailingBackslash) {
    std::wstring path = L"C:\\" + std::wstring(length - 3 - (trailingBackslash ? 1 : 0), L'x');
    if (trailingBackslash) path += L"\\";
    return path;
}

TEST_F(StagingDirectoryTest, LongTemporaryPathsFitWholeOrAreRefused) {
    struct Case {
        const char* name;
        std::wstring temp;
        std::wstring expected;  // empty: refused
    };
    const Case cases[] = {
        {"short", L"C:\\Temp\\", L"C:\\Temp\\TirnHome2014"},
        {"247 units: the directory is 259", TempPathOf(247, true),
         TempPathOf(247, true) + L"TirnHome2014"},
        {"248 units: the name would be cut", TempPathOf(248, true), L""},
        {"259 units", TempPathOf(259, true), L""},
        // The system adds the missing backslash: 247 units.
        {"TMP without backslash", TempPathOf(246, false),
         TempPathOf(246, false) + L"\\TirnHome2014"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        UseTemp(c.temp);
        wchar_t out[MAX_PATH];
        std::fill(std::begin(out), std::end(out), L'#');
        int length = GetStagingDirectory(out);
        EXPECT_EQ(length, static_cast<int>(c.expected.size()));
        EXPECT_EQ(std::wstring(out), c.expected);
    }
}

TEST(WritePayloadFile, DescramblesEveryBlockIntoTheFile) {
    ScratchDirectory dir;
    const std::wstring path = dir / L"TirnHomeSetup.cab";
    for (uint32_t size : {0u, 1u, 40959u, 40960u, 40961u, 3 * 40960u + 777u}) {
        SCOPED_TRACE(size);
        const std::vector<uint8_t> plain = RandomBytes(size, size);
        const std::vector<uint8_t> payload = Scrambled(plain);
        EXPECT_EQ(WritePayloadFile(payload.data(), size, path.c_str()), 1);
        EXPECT_EQ(ReadWholeFile(path), plain);
    }
}

TEST(WritePayloadFile, ReplacesTheFileOfAnEarlierRun) {
    ScratchDirectory dir;
    const std::wstring path = dir / L"TirnHomeSetup.cab";
    const std::vector<uint8_t> big = Scrambled(RandomBytes(100000, 1));
    const std::vector<uint8_t> small = RandomBytes(10, 2);
    ASSERT_EQ(WritePayloadFile(big.data(), 100000, path.c_str()), 1);
    const std::vector<uint8_t> smallPayload = Scrambled(small);
    ASSERT_EQ(WritePayloadFile(smallPayload.data(), 10, path.c_str()), 1);
    EXPECT_EQ(ReadWholeFile(path), small);
}

TEST(WritePayloadFile, CreationFailureReturnsZero) {
    ScratchDirectory dir;
    const std::vector<uint8_t> payload(100, 0);
    EXPECT_EQ(WritePayloadFile(payload.data(), 100, (dir / L"missing\\file.cab").c_str()), 0);
}

// Run by CTest with the file size limited to two blocks (ulimit -f 80, the
// limit signal ignored): the third block's write fails like a full disk.
TEST(WritePayloadFileLimited, AWriteFailingPartWayReturnsZeroAndKeepsWhatWasWritten) {
    if (::GetEnvironmentVariableW(L"TIRN_FILE_SIZE_LIMITED", nullptr, 0) == 0) {
        GTEST_SKIP() << "needs the file size limit that its own CTest entry sets";
    }
    ScratchDirectory dir;
    const std::vector<uint8_t> plain = RandomBytes(4 * 40960, 3);
    const std::vector<uint8_t> payload = Scrambled(plain);
    const std::wstring path = dir / L"TirnHomeSetup.cab";
    EXPECT_EQ(WritePayloadFile(payload.data(), static_cast<uint32_t>(payload.size()), path.c_str()),
              0);
    const std::vector<uint8_t> kept = ReadWholeFile(path);
    ASSERT_EQ(kept.size(), 2u * 40960);
    EXPECT_TRUE(std::equal(kept.begin(), kept.end(), plain.begin()));
}

}  // namespace

namespace {

// A source that faults like a mapped file whose read fails: a page that may
// not be read.
TEST(ViewGuard, AFaultWhileReadingTheSourceIsAFailureResultNotACrash) {
    SYSTEM_INFO system;
    ::GetSystemInfo(&system);
    auto* pages = static_cast<uint8_t*>(
        ::VirtualAlloc(nullptr, 2 * system.dwPageSize, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    ASSERT_NE(pages, nullptr);
    DWORD old;
    ASSERT_TRUE(
        ::VirtualProtect(pages + system.dwPageSize, system.dwPageSize, PAGE_NOACCESS, &old));

    bool reached = false;
    auto readAcross = [&] {
        volatile uint8_t sum = 0;
        for (DWORD i = 0; i < 2 * system.dwPageSize; ++i) sum = sum + pages[i];
        reached = true;
    };
    EXPECT_FALSE(RunGuarded(readAcross));
    EXPECT_FALSE(reached);
    auto readFirst = [&] { reached = pages[0] == 0; };
    EXPECT_TRUE(RunGuarded(readFirst));  // the guard is reusable after a fault
    EXPECT_TRUE(reached);

    ScratchDirectory dir;
    const std::wstring path = dir / L"staged.cab";
    EXPECT_EQ(WritePayloadFile(pages, 2 * system.dwPageSize, path.c_str()), 0);
    EXPECT_EQ(ReadWholeFile(path).size(), 0u);  // the first block failed to read
    ::VirtualFree(pages, 0, MEM_RELEASE);
}

}  // namespace
