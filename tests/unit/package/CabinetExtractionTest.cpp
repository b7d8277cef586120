// Extraction over the real cabinet library (Wine's own under Wine), with
// cabinets made by make-cabinets.py at test time.
#include "framework/CMemoryException.h"
#include "package/CabinetExtraction.h"
#include "tests/unit/TestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using tirn::test::ExecutableDirectory;
using tirn::test::ReadWholeFile;
using tirn::test::ScratchDirectory;

std::wstring Fixture(const wchar_t* name) {
    return ExecutableDirectory() + L"cabinets\\" + name;
}

bool Exists(const std::wstring& path) {
    return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The DOS date and time a cabinet stores for its first file.
std::pair<WORD, WORD> StoredDosTime(const std::wstring& cabinet) {
    std::vector<uint8_t> bytes = ReadWholeFile(cabinet);
    uint32_t firstFile;
    std::memcpy(&firstFile, &bytes[16], 4);
    WORD date, time;
    std::memcpy(&date, &bytes[firstFile + 10], 2);
    std::memcpy(&time, &bytes[firstFile + 12], 2);
    return {date, time};
}

ExtractResult ExtractFiles(const std::wstring& cabinet, const std::wstring& destination) {
    ScopedCabinetApi api;
    std::vector<CString> extracted;
    return ExtractCabinetFiles(api.Get(), cabinet.c_str(), destination.c_str(), extracted);
}

TEST(ExtractCabinet, OneFileCabinetGivesItsPathContentAndStoredTime) {
    for (const wchar_t* cabinet : {L"one-compressed.cab", L"one-stored.cab"}) {
        for (bool trailingBackslash : {false, true}) {
            SCOPED_TRACE(trailingBackslash);
            ScratchDirectory dest;
            std::wstring destination = dest.Path() + (trailingBackslash ? L"\\" : L"");
            wchar_t first[MAX_PATH] = L"unchanged";
            ASSERT_TRUE(ExtractCabinet(Fixture(cabinet).c_str(), destination.c_str(), first));
            const std::wstring expected = dest / L"TirnHomeSetup.exe";
            EXPECT_EQ(std::wstring(first), expected);
            EXPECT_EQ(
                ReadWholeFile(expected),
                ReadWholeFile(ExecutableDirectory() + L"cabinets\\TirnHomeSetup.exe.expected"));

            HANDLE file = ::CreateFileW(expected.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                        OPEN_EXISTING, 0, nullptr);
            FILETIME written;
            ::GetFileTime(file, nullptr, nullptr, &written);
            ::CloseHandle(file);
            WORD date, time;
            ::FileTimeToDosDateTime(&written, &date, &time);
            EXPECT_EQ(std::make_pair(date, time), StoredDosTime(Fixture(cabinet)));
            EXPECT_EQ(::GetFileAttributesW(expected.c_str()) & ~FILE_ATTRIBUTE_ARCHIVE,
                      static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL) & 0);
        }
    }
}

TEST(ExtractCabinet, MoreThanOneFileExtractsAllButReportsFailure) {
    ScratchDirectory dest;
    wchar_t first[MAX_PATH] = L"unchanged";
    EXPECT_FALSE(ExtractCabinet(Fixture(L"two.cab").c_str(), dest.Path().c_str(), first));
    EXPECT_STREQ(first, L"unchanged");
    EXPECT_TRUE(Exists(dest / L"TirnHomeSetup.exe"));
    EXPECT_TRUE(Exists(dest / L"second.txt"));
}

TEST(ExtractCabinet, Utf8NamesWhetherFlaggedOrNot) {
    const std::wstring name = L"T\u1ec7p c\u00e0i \u0111\u1eb7t.exe";
    for (const wchar_t* cabinet : {L"utf8-flagged.cab", L"utf8-unflagged.cab"}) {
        ScratchDirectory dest;
        wchar_t first[MAX_PATH] = L"";
        ASSERT_TRUE(ExtractCabinet(Fixture(cabinet).c_str(), dest.Path().c_str(), first));
        EXPECT_EQ(std::wstring(first), dest / name);
        EXPECT_TRUE(Exists(dest / name));
    }
}

TEST(ExtractCabinet, ReplacesAnExistingFile) {
    ScratchDirectory dest;
    tirn::test::WriteWholeFile(dest / L"TirnHomeSetup.exe", std::vector<uint8_t>(999999, 1));
    wchar_t first[MAX_PATH];
    ASSERT_TRUE(ExtractCabinet(Fixture(L"one-stored.cab").c_str(), dest.Path().c_str(), first));
    EXPECT_EQ(ReadWholeFile(first).size(), 160000u);
}

TEST(ExtractCabinetFiles, ResultCodes) {
    ScratchDirectory dest;
    tirn::test::CreateEmptyFile(dest / L"a-file");
    struct Case {
        const char* name;
        std::wstring cabinet;
        std::wstring destination;
        ExtractResult expected;
    };
    const Case cases[] = {
        {"one file", Fixture(L"one-compressed.cab"), dest.Path(), ExtractResult::Ok},
        {"declares no files", Fixture(L"no-files.cab"), dest.Path(), ExtractResult::BadCabinet},
        {"not a cabinet", Fixture(L"not-a-cabinet.cab"), dest.Path(), ExtractResult::BadCabinet},
        {"a directory as the cabinet", dest.Path(), dest.Path(), ExtractResult::BadCabinet},
        {"missing cabinet", dest / L"none.cab", dest.Path(), ExtractResult::NoCabinetFile},
        {"missing destination", Fixture(L"one-compressed.cab"), dest / L"none",
         ExtractResult::NoDestination},
        {"destination is a file", Fixture(L"one-compressed.cab"), dest / L"a-file",
         ExtractResult::NoDestination},
        {"continued from a previous cabinet", Fixture(L"continued-from-previous.cab"), dest.Path(),
         ExtractResult::FdiFailed},
        {"continued into a next cabinet", Fixture(L"continued-into-next.cab"), dest.Path(),
         ExtractResult::FdiFailed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ExtractFiles(c.cabinet, c.destination), c.expected);
    }
    ScopedCabinetApi api;
    std::vector<CString> extracted{CString(L"left from before")};
    EXPECT_EQ(ExtractCabinetFiles(api.Get(), nullptr, dest.Path().c_str(), extracted),
              ExtractResult::BadArgument);
    EXPECT_EQ(ExtractCabinetFiles(api.Get(), Fixture(L"two.cab").c_str(), nullptr, extracted),
              ExtractResult::BadArgument);
    EXPECT_TRUE(extracted.empty());
}

TEST(ExtractCabinetFiles, StoredDirectoryPartMustExistBelowTheDestination) {
    ScratchDirectory dest;
    EXPECT_EQ(ExtractFiles(Fixture(L"subdirectory.cab"), dest.Path()), ExtractResult::FdiFailed);
    EXPECT_TRUE(Exists(dest / L"second.txt"));  // extracted before the abort: stays

    ScratchDirectory withSub;
    ::CreateDirectoryW((withSub / L"sub").c_str(), nullptr);
    ScopedCabinetApi api;
    std::vector<CString> extracted;
    ASSERT_EQ(ExtractCabinetFiles(api.Get(), Fixture(L"subdirectory.cab").c_str(),
                                  withSub.Path().c_str(), extracted),
              ExtractResult::Ok);
    ASSERT_EQ(extracted.size(), 2u);
    EXPECT_EQ(std::wstring(extracted[1].GetString()), withSub / L"sub\\inner.txt");
}

// A hostile cabinet names a file outside the destination: the copy stops
// before creating it.
TEST(ExtractCabinetFiles, StoredNamesLeavingTheDestinationAbortTheCopy) {
    for (const wchar_t* cabinet : {L"traversal-dotdot.cab", L"traversal-drive.cab"}) {
        ScratchDirectory outer;
        const std::wstring dest = outer / L"dest";
        ::CreateDirectoryW(dest.c_str(), nullptr);
        EXPECT_EQ(ExtractFiles(Fixture(cabinet), dest), ExtractResult::FdiFailed);
        EXPECT_FALSE(Exists(outer / L"evil.txt"));
        EXPECT_FALSE(Exists(L"C:\\evil.txt"));
        EXPECT_TRUE(Exists(dest + L"\\second.txt"));
    }
}

TEST(IsSafeStoredName, OnlyRelativeNamesBelowTheDestination) {
    struct Case {
        const char* name;
        bool safe;
    };
    const Case cases[] = {
        {"setup.exe", true},     {"sub\\setup.exe", true},
        {"a..b\\..c", true},     {"...\\x", true},
        {"..", false},           {"..\\x", false},
        {"a\\..\\..\\x", false}, {"a/../x", false},
        {"a\\..", false},        {"C:\\x", false},
        {"C:x", false},          {"x:stream", false},
        {"\\x", false},          {"\\\\server\\share\\x", false},
        {"/etc/x", false},       {"", false},
    };
    for (const Case& c : cases) EXPECT_EQ(IsSafeStoredName(c.name), c.safe) << c.name;
    EXPECT_FALSE(IsSafeStoredName(nullptr));
}

// The extracted path is started later: a cut one would name another program.
TEST(ExtractCabinet, APathThatDoesNotFitTheBufferIsAFailure) {
    ScratchDirectory root;
    std::wstring deep = root.Path();
    while (deep.size() < 250) {
        deep += L"\\" + std::wstring(20, L'd');
        ::CreateDirectoryW(deep.c_str(), nullptr);
    }
    wchar_t first[MAX_PATH] = L"unchanged";
    EXPECT_FALSE(ExtractCabinet(Fixture(L"one-stored.cab").c_str(), deep.c_str(), first));
    EXPECT_STREQ(first, L"unchanged");
    EXPECT_FALSE(Exists(deep + L"\\TirnHomeSetup.exe"));  // refused before it was created
}

// Out of memory while a callback builds a path: the callback fails the copy
// at its own edge. An exception unwinding through the cabinet library's
// frames would end the process instead.
TEST(ExtractCabinet, RunningOutOfMemoryInsideTheLibraryIsAFailureNotACrash) {
    ScratchDirectory dest;
    wchar_t first[MAX_PATH] = L"unchanged";
    const std::wstring cabinet = Fixture(L"one-stored.cab");
    bool extracted = true;
    {
        ScopedAllocationFailure outOfMemory;
        extracted = ExtractCabinet(cabinet.c_str(), dest.Path().c_str(), first);
    }
    EXPECT_FALSE(extracted);
    EXPECT_STREQ(first, L"unchanged");
    EXPECT_FALSE(Exists(dest / L"TirnHomeSetup.exe"));  // failed in the callback, before it
}

TEST(CabinetApi, BindingRefusesALibraryLackingAnEntryPoint) {
    ScopedCabinetApi missing((ExecutableDirectory() + L"CabinetWithoutIsCabinet.dll").c_str());
    EXPECT_EQ(missing.Get().bReady, 0);
    EXPECT_EQ(missing.Get().hModule, nullptr);
    EXPECT_EQ(::GetModuleHandleW(L"CabinetWithoutIsCabinet.dll"), nullptr);  // unloaded again
    ScratchDirectory dest;
    std::vector<CString> extracted;
    EXPECT_EQ(ExtractCabinetFiles(missing.Get(), Fixture(L"one-stored.cab").c_str(),
                                  dest.Path().c_str(), extracted),
              ExtractResult::NotReady);
    EXPECT_FALSE(Exists(dest / L"TirnHomeSetup.exe"));

    ScopedCabinetApi system;
    EXPECT_EQ(system.Get().bReady, 1);
}

// What the run-time library's open flags and permission mode do to a real
// file, as the cabinet library asks for them.
TEST(FdiCallbacks, OpenFlagsActOnTheFileAsTheRunTimeLibrarysWould) {
    struct Case {
        const char* name;
        int flags;
        int mode;
        bool exists;  // a file of 100 bytes is there before
        bool opens;
        bool writable;
        int64_t sizeAfter;  // -1: no file
        bool readOnlyAfter;
    };
    const Case cases[] = {
        {"read, existing", 0x0000, 0, true, true, false, 100, false},
        {"read, missing", 0x0000, 0, false, false, false, -1, false},
        {"read-write, existing", 0x0002, 0, true, true, true, 100, false},
        {"truncate, existing", 0x0200, 0, true, true, false, 0, false},
        {"truncate, missing", 0x0200, 0, false, false, false, -1, false},
        {"create, missing", 0x0100, 0, false, true, false, 0, false},
        {"create, existing: never over it", 0x0100, 0, true, false, false, 100, false},
        {"create exclusive, existing", 0x0500, 0, true, false, false, 100, false},
        {"create, truncate, read-write, existing", 0x0302, 0x0180, true, true, true, 0, false},
        {"create read-only (_S_IREAD)", 0x0302, 0x0100, false, true, true, 0, true},
        {"create readable and writable", 0x0302, 0x0180, false, true, true, 0, false},
        {"a mode without create changes nothing", 0x0000, 0x0100, true, true, false, 100, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchDirectory dir;
        const std::wstring path = dir / L"file.bin";
        if (c.exists) tirn::test::WriteWholeFile(path, std::vector<uint8_t>(100, 7));
        char* utf8 = WideToUtf8(path.c_str());
        ASSERT_NE(utf8, nullptr);
        const INT_PTR file = FdiOpen(utf8, c.flags, c.mode);
        delete[] utf8;
        EXPECT_EQ(file != -1, c.opens);
        if (file != -1) {
            char byte = 'x';
            EXPECT_EQ(FdiSeek(file, 0, SEEK_END) >= 0, true);
            EXPECT_EQ(FdiWrite(file, &byte, 1) == 1, c.writable);
            EXPECT_EQ(FdiClose(file), 0);
        }
        WIN32_FILE_ATTRIBUTE_DATA data{};
        const bool there = ::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data);
        const int64_t size =
            there ? static_cast<int64_t>(data.nFileSizeLow) - (c.writable ? 1 : 0) : -1;
        EXPECT_EQ(size, c.sizeAfter);
        if (there) {
            EXPECT_EQ((data.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0, c.readOnlyAfter);
            ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        }
    }
}

TEST(FdiCallbacks, HandlesSeeksAndOpens) {
    ScratchDirectory dir;
    const std::wstring path = dir / L"data.bin";
    tirn::test::WriteWholeFile(path, std::vector<uint8_t>(100, 7));
    char* utf8 = WideToUtf8(path.c_str());
    ASSERT_NE(utf8, nullptr);

    EXPECT_EQ(FdiOpen(utf8, 0x0100, 0), -1);  // _O_CREAT alone: CREATE_NEW on an existing file
    INT_PTR file = FdiOpen(utf8, 0x0002, 0);
    ASSERT_NE(file, -1);
    struct Case {
        long distance;
        int origin;
        long expected;
    };
    for (const Case& c : {Case{10, 0, 10}, Case{5, 1, 15}, Case{-20, 2, 80}, Case{3, 3, -1}}) {
        SCOPED_TRACE(c.origin);
        EXPECT_EQ(FdiSeek(file, c.distance, c.origin), c.expected);
    }
    EXPECT_EQ(FdiSeek(file, 0, 1), 80);  // origin 3 did not move
    char buffer[40];
    EXPECT_EQ(FdiRead(file, buffer, 40), 20u);
    EXPECT_EQ(FdiClose(file), 0);

    for (INT_PTR none : {INT_PTR{0}, INT_PTR{-1}}) {
        EXPECT_EQ(FdiRead(none, buffer, 1), static_cast<UINT>(-1));
        EXPECT_EQ(FdiWrite(none, buffer, 1), static_cast<UINT>(-1));
        EXPECT_EQ(FdiClose(none), -1);
        EXPECT_EQ(FdiSeek(none, 0, 0), -1);
    }
    EXPECT_EQ(FdiAlloc(0), nullptr);
    void* block = FdiAlloc(16);
    EXPECT_NE(block, nullptr);
    FdiFree(block);
    FdiFree(nullptr);
    delete[] utf8;
}

TEST(FdiCallbacks, TextConversionsAndJoin) {
    const wchar_t* wide = L"C:\\T\u1ec7p\\c\u00e0i \u0111\u1eb7t";
    char* utf8 = WideToUtf8(wide);
    ASSERT_NE(utf8, nullptr);
    wchar_t* back = Utf8ToWide(utf8);
    ASSERT_NE(back, nullptr);
    EXPECT_STREQ(back, wide);
    delete[] utf8;
    delete[] back;
    EXPECT_EQ(Utf8ToWide(nullptr), nullptr);
    EXPECT_EQ(WideToUtf8(nullptr), nullptr);

    EXPECT_STREQ(JoinUtf8Path("C:\\dir", "a.exe").GetString(), L"C:\\dir\\a.exe");
    EXPECT_STREQ(JoinUtf8Path("C:\\dir\\", "a.exe").GetString(), L"C:\\dir\\a.exe");
    EXPECT_STREQ(JoinUtf8Path("C:\\d", "T\xe1\xbb\x87p").GetString(), L"C:\\d\\T\u1ec7p");
    EXPECT_TRUE(JoinUtf8Path(nullptr, "a").IsEmpty());
    // Paths the road could not hold whole: refused, never cut.
    const std::string dir(250, 'd');
    EXPECT_EQ(JoinUtf8Path(dir.c_str(), "12345678").GetLength(), 259);
    EXPECT_TRUE(JoinUtf8Path(dir.c_str(), "123456789").IsEmpty());
    EXPECT_TRUE(JoinUtf8Path("C:\\", nullptr).IsEmpty());
}

}  // namespace
