// The installation record against the real registry of the test prefix.
#include "app/InstallationRecord.h"
#include "framework/ScopedRegKey.h"
#include "tests/unit/TestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using tirn::test::kRecordView;
constexpr const wchar_t* kKey = tirn::test::kRecordKey;

class InstallationRecordTest : public ::testing::Test {
  protected:
    void SetUp() override { tirn::test::DeleteRecord(); }
    void TearDown() override { tirn::test::DeleteRecord(); }

    static bool KeyExists() {
        ScopedRegKey key;
        return ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, KEY_READ | kRecordView,
                               key.Receive()) == ERROR_SUCCESS;
    }
    static void SetValue(const wchar_t* name, DWORD type, const void* data, DWORD size) {
        ScopedRegKey key;
        ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0,
                                    KEY_SET_VALUE | kRecordView, nullptr, key.Receive(), nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(::RegSetValueExW(key.Get(), name, 0, type, static_cast<const BYTE*>(data), size),
                  ERROR_SUCCESS);
    }
    static void SetString(const wchar_t* name, const std::wstring& text, DWORD type = REG_SZ) {
        SetValue(name, type, text.c_str(), static_cast<DWORD>((text.size() + 1) * 2));
    }
};

TEST_F(InstallationRecordTest, ReadsCreateTheMissingKeyAndFail) {
    wchar_t dir[MAX_PATH] = L"untouched";
    uint32_t version = 77;
    EXPECT_EQ(ReadInstallDir(dir, MAX_PATH), 0);
    EXPECT_TRUE(KeyExists());
    tirn::test::DeleteRecord();
    EXPECT_EQ(ReadDefinitionVersion(&version), 0);
    EXPECT_EQ(version, 77u);
    EXPECT_TRUE(KeyExists());
    EXPECT_EQ(ReadInstallDir(nullptr, MAX_PATH), 0);
    EXPECT_EQ(ReadDefinitionVersion(nullptr), 0);
}

TEST_F(InstallationRecordTest, InstallDirAcceptsOnlyANonEmptyStringThatFits) {
    struct Case {
        const char* name;
        std::wstring value;
        DWORD type;
        int expected;
    };
    const Case cases[] = {
        {"plain", L"C:\\Program Files\\Tirn", REG_SZ, 21},
        {"trailing backslash", L"C:\\Tirn\\", REG_SZ, 8},
        {"259 units fill the buffer with the terminator", std::wstring(259, L'a'), REG_SZ, 259},
        {"260 units are refused, never cut", std::wstring(260, L'a'), REG_SZ, 0},
        {"much longer", std::wstring(2000, L'a'), REG_SZ, 0},
        {"empty", L"", REG_SZ, 0},
        {"expandable string", L"%ProgramFiles%\\Tirn", REG_EXPAND_SZ, 0},
        {"multi-string", L"C:\\Tirn", REG_MULTI_SZ, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetString(L"szTirnDir", c.value, c.type);
        wchar_t dir[MAX_PATH];
        std::fill(std::begin(dir), std::end(dir), L'#');
        EXPECT_EQ(ReadInstallDir(dir, MAX_PATH), c.expected);
        if (c.expected > 0) {
            EXPECT_EQ(std::wstring(dir), c.value);
        }
    }
}

// Registry strings need not be stored with their terminator. Whatever the
// caller's buffer held, the result is terminated within the capacity; a value
// filling the whole buffer without one is refused rather than cut to another
// path.
TEST_F(InstallationRecordTest, InstallDirWithoutTerminatorIsTerminatedOrRefused) {
    struct Case {
        const char* name;
        size_t units;
        int expected;
    };
    for (const Case& c :
         {Case{"short", 7, 7}, Case{"259 units", 259, 259}, Case{"fills all 260 units", 260, 0}}) {
        SCOPED_TRACE(c.name);
        std::wstring text(c.units, L'd');
        SetValue(L"szTirnDir", REG_SZ, text.data(), static_cast<DWORD>(c.units * 2));
        wchar_t dir[MAX_PATH + 1];
        std::fill(std::begin(dir), std::end(dir), L'#');
        int length = ReadInstallDir(dir, MAX_PATH);
        EXPECT_EQ(length, c.expected);
        EXPECT_EQ(dir[MAX_PATH], L'#');  // nothing written past the capacity
        if (length > 0) {
            EXPECT_EQ(std::wstring(dir), text);
        } else {
            EXPECT_EQ(dir[0], L'\0');
        }
    }
}

TEST_F(InstallationRecordTest, DefinitionVersionAcceptsOnlyAFourByteDword) {
    const uint32_t dword = 0x80000000u;
    const uint64_t qword = 5;
    const uint8_t raw[4] = {5, 0, 0, 0};
    const wchar_t text[] = L"5";
    struct Case {
        const char* name;
        DWORD type;
        const void* data;
        DWORD size;
        int expected;
    };
    const Case cases[] = {
        {"dword", REG_DWORD, &dword, 4, 1},
        {"qword", REG_QWORD, &qword, 8, 0},
        {"big-endian dword", REG_DWORD_BIG_ENDIAN, &dword, 4, 0},
        {"four raw bytes", REG_BINARY, raw, 4, 0},
        {"untyped four bytes", REG_NONE, raw, 4, 0},
        {"string", REG_SZ, text, sizeof(text), 0},
        {"dword type with 8 bytes", REG_DWORD, &qword, 8, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetValue(L"DefinitionVersion", c.type, c.data, c.size);
        uint32_t version = 77;
        EXPECT_EQ(ReadDefinitionVersion(&version), c.expected);
        EXPECT_EQ(version, c.expected ? dword : 77u);
    }
}

TEST_F(InstallationRecordTest, WriteCreatesKeyAndValueAndReadsBack) {
    for (uint32_t v : {0u, 1u, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(v);
        EXPECT_EQ(WriteDefinitionVersion(v), 1);
        uint32_t read = 12345;
        EXPECT_EQ(ReadDefinitionVersion(&read), 1);
        EXPECT_EQ(read, v);
    }
    ScopedRegKey key;
    ASSERT_EQ(::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, KEY_READ | kRecordView, key.Receive()),
              ERROR_SUCCESS);
    DWORD type = 0, size = 0;
    ASSERT_EQ(::RegQueryValueExW(key.Get(), L"DefinitionVersion", nullptr, &type, nullptr, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(size, 4u);
}

// On 64-bit Windows the 32-bit launcher and 32-bit installers keep the record
// in the 32-bit registry view; the x64 launcher must read and write that
// same record, never a second one in its own view.
TEST_F(InstallationRecordTest, TheRecordIsTheOneOfThe32BitView) {
    const auto setVersion = [](REGSAM view, DWORD version) {
        ScopedRegKey key;
        ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_SET_VALUE | view,
                                    nullptr, key.Receive(), nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(::RegSetValueExW(key.Get(), L"DefinitionVersion", 0, REG_DWORD,
                                   reinterpret_cast<const BYTE*>(&version), sizeof(version)),
                  ERROR_SUCCESS);
    };
    const auto versionIn = [](REGSAM view) -> DWORD {
        ScopedRegKey key;
        DWORD version = 0, size = sizeof(version);
        if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, KEY_QUERY_VALUE | view, key.Receive()) !=
                ERROR_SUCCESS ||
            ::RegQueryValueExW(key.Get(), L"DefinitionVersion", nullptr, nullptr,
                               reinterpret_cast<BYTE*>(&version), &size) != ERROR_SUCCESS) {
            return 0;
        }
        return version;
    };
    constexpr bool k64BitProcess = sizeof(void*) == 8;
    setVersion(KEY_WOW64_64KEY, 99);
    setVersion(KEY_WOW64_32KEY, 3);
    uint32_t read = 0;
    EXPECT_EQ(ReadDefinitionVersion(&read), 1);
    EXPECT_EQ(read, 3u);

    EXPECT_EQ(WriteDefinitionVersion(5), 1);
    EXPECT_EQ(versionIn(KEY_WOW64_32KEY), 5u);
    // A 32-bit process on a 32-bit system has one view only.
    if (k64BitProcess) {
        EXPECT_EQ(versionIn(KEY_WOW64_64KEY), 99u);
    }
    tirn::test::DeleteRecord(KEY_WOW64_64KEY);
}

}  // namespace
