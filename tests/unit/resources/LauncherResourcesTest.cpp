// Reads the resources back from the built launcher executable, byte for byte
// where the layout is fixed.
#include "resources/resource.h"
#include "tests/unit/TestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

constexpr WORD kEnglishUs = 1033;

class LauncherResources : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        // The launcher copied beside the test, or the one named by
        // TIRN_LAUNCHER_UNDER_TEST: a 64-bit test reads the PE32 launcher's
        // resources too, on hosts that cannot run it.
        wchar_t named[MAX_PATH];
        const DWORD length =
            ::GetEnvironmentVariableW(L"TIRN_LAUNCHER_UNDER_TEST", named, MAX_PATH);
        path = length > 0 && length < MAX_PATH
                   ? std::wstring(named, length)
                   : tirn::test::ExecutableDirectory() + L"TirnHomeISSetup.exe";
        module = ::LoadLibraryExW(path.c_str(), nullptr,
                                  LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    }
    static void TearDownTestSuite() {
        if (module) ::FreeLibrary(module);
    }

    static std::vector<uint8_t> Resource(LPCWSTR type, UINT id, WORD language = kEnglishUs) {
        HRSRC found = ::FindResourceExW(module, type, MAKEINTRESOURCEW(id), language);
        if (!found) return {};
        auto* data = static_cast<const uint8_t*>(::LockResource(::LoadResource(module, found)));
        return {data, data + ::SizeofResource(module, found)};
    }

    static std::wstring path;
    static HMODULE module;
};
std::wstring LauncherResources::path;
HMODULE LauncherResources::module = nullptr;

// Sequential reader of a dialog template.
struct TemplateReader {
    const std::vector<uint8_t>& bytes;
    size_t at = 0;

    uint16_t Word() {
        uint16_t v = static_cast<uint16_t>(bytes.at(at) | bytes.at(at + 1) << 8);
        at += 2;
        return v;
    }
    uint32_t Dword() {
        uint32_t low = Word();
        return low | static_cast<uint32_t>(Word()) << 16;
    }
    uint8_t Byte() { return bytes.at(at++); }
    std::wstring String() {
        std::wstring s;
        for (uint16_t c = Word(); c != 0; c = Word()) s += static_cast<wchar_t>(c);
        return s;
    }
    void AlignDword() { at = (at + 3) & ~size_t{3}; }
};

TEST_F(LauncherResources, MarkerDialogTemplate102) {
    std::vector<uint8_t> bytes = Resource(MAKEINTRESOURCEW(5), IDD_TIRNHOMEISSETUP_DIALOG);
    ASSERT_FALSE(bytes.empty());
    TemplateReader r{bytes};
    EXPECT_EQ(r.Word(), 1);       // dlgVer
    EXPECT_EQ(r.Word(), 0xFFFF);  // signature
    EXPECT_EQ(r.Dword(), 0u);     // helpID
    EXPECT_EQ(r.Dword(), static_cast<uint32_t>(WS_EX_APPWINDOW));
    EXPECT_EQ(r.Dword(), static_cast<uint32_t>(WS_POPUP | WS_VISIBLE | WS_CAPTION | DS_MODALFRAME |
                                               DS_SETFONT | DS_FIXEDSYS));
    EXPECT_EQ(r.Word(), 0);  // controls
    EXPECT_EQ(r.Word(), 0);  // x
    EXPECT_EQ(r.Word(), 0);  // y
    EXPECT_EQ(r.Word(), 153);
    EXPECT_EQ(r.Word(), 53);
    EXPECT_EQ(r.Word(), 0);  // no menu
    EXPECT_EQ(r.Word(), 0);  // system dialog class
    EXPECT_EQ(r.String(), L"Tirn Home 2018 Setup");
    EXPECT_EQ(r.Word(), 8);  // points
    EXPECT_EQ(r.Word(), 0);  // weight
    EXPECT_EQ(r.Byte(), 0);  // italic
    EXPECT_EQ(r.Byte(), 1);  // DEFAULT_CHARSET
    EXPECT_EQ(r.String(), L"MS Shell Dlg");
}

TEST_F(LauncherResources, ProgressDialogTemplate129) {
    std::vector<uint8_t> bytes = Resource(MAKEINTRESOURCEW(5), IDD_INITIALIZING);
    ASSERT_FALSE(bytes.empty());
    TemplateReader r{bytes};
    EXPECT_EQ(r.Word(), 1);
    EXPECT_EQ(r.Word(), 0xFFFF);
    EXPECT_EQ(r.Dword(), 0u);
    EXPECT_EQ(r.Dword(), 0u);  // no extended style
    EXPECT_EQ(r.Dword(),
              static_cast<uint32_t>(WS_POPUP | WS_BORDER | WS_SYSMENU | DS_SETFONT | DS_FIXEDSYS));
    EXPECT_EQ(r.Word(), 1);
    EXPECT_EQ(r.Word(), 0);
    EXPECT_EQ(r.Word(), 0);
    EXPECT_EQ(r.Word(), 166);
    EXPECT_EQ(r.Word(), 29);
    EXPECT_EQ(r.Word(), 0);
    EXPECT_EQ(r.Word(), 0);
    EXPECT_EQ(r.String(), L"");  // no caption
    EXPECT_EQ(r.Word(), 8);
    EXPECT_EQ(r.Word(), 400);
    EXPECT_EQ(r.Byte(), 0);
    EXPECT_EQ(r.Byte(), 1);
    EXPECT_EQ(r.String(), L"MS Shell Dlg");

    r.AlignDword();
    EXPECT_EQ(r.Dword(), 0u);  // helpID
    EXPECT_EQ(r.Dword(), 0u);  // extended style
    EXPECT_EQ(r.Dword(), static_cast<uint32_t>(WS_CHILD | WS_VISIBLE | WS_GROUP | SS_SIMPLE));
    EXPECT_EQ(r.Word(), 7);
    EXPECT_EQ(r.Word(), 10);
    EXPECT_EQ(r.Word(), 152);
    EXPECT_EQ(r.Word(), 8);
    EXPECT_EQ(r.Dword(), static_cast<uint32_t>(IDC_MESSAGE));
    EXPECT_EQ(r.Word(), 0xFFFF);  // predefined class by ordinal:
    EXPECT_EQ(r.Word(), 0x0082);  // static
    EXPECT_EQ(r.String(), L"");
    EXPECT_EQ(r.Word(), 0);  // no creation data
}

TEST_F(LauncherResources, ConflictMessagesAreExactAndEnglishUsTagged) {
    struct Case {
        UINT id;
        const wchar_t* text;
        int length;
    };
    const Case cases[] = {
        {IDS_CONFLICT_ENGLISH,
         L"A higher version of Tirn is already installed. \n"
         L"If you want to install Tirn Home, uninstall it first !",
         102},
        {IDS_CONFLICT_VIETNAMESE,
         L"M\u1ed9t phi\u00ean b\u1ea3n cao h\u01a1n c\u1ee7a Tirn \u0111\u00e3 "
         L"\u0111\u01b0\u1ee3c "
         L"c\u00e0i \u0111\u1eb7t tr\u00ean m\u00e1y t\u00ednh. \n"
         L"N\u1ebfu b\u1ea1n th\u1ef1c s\u1ef1 mu\u1ed1n c\u00e0i \u0111\u1eb7t Tirn Home th\u00ec "
         L"h\u00e3y g\u1ee1 b\u1ecf phi\u00ean b\u1ea3n \u0111\u00e3 c\u00e0i !",
         134},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id);
        const wchar_t* text = nullptr;
        int length = ::LoadStringW(module, c.id, reinterpret_cast<LPWSTR>(&text), 0);
        ASSERT_EQ(length, c.length);
        EXPECT_EQ(std::wstring(text, length), std::wstring(c.text));
        EXPECT_FALSE(Resource(MAKEINTRESOURCEW(6), c.id / 16 + 1).empty());
    }
}

TEST_F(LauncherResources, IconGroup128HoldsFive32BitImages) {
    std::vector<uint8_t> group = Resource(MAKEINTRESOURCEW(14), IDR_MAINFRAME);
    ASSERT_GE(group.size(), 6u);
    TemplateReader r{group};
    EXPECT_EQ(r.Word(), 0);
    EXPECT_EQ(r.Word(), 1);
    ASSERT_EQ(r.Word(), 5);
    const int sizes[] = {128, 48, 32, 24, 16};
    for (int expected : sizes) {
        SCOPED_TRACE(expected);
        int width = r.Byte();
        int height = r.Byte();
        r.Byte();  // colours
        r.Byte();
        r.Word();  // planes
        uint16_t bits = r.Word();
        r.Dword();  // bytes
        uint16_t iconId = r.Word();
        EXPECT_EQ(width, expected);
        EXPECT_EQ(height, expected);
        EXPECT_EQ(bits, 32);
        std::vector<uint8_t> image = Resource(MAKEINTRESOURCEW(3), iconId);
        ASSERT_GE(image.size(), 40u);
        EXPECT_EQ(image[14] | image[15] << 8, 32);  // biBitCount
    }
}

TEST_F(LauncherResources, ManifestRequiresAdministratorWithoutUiAccess) {
    std::vector<uint8_t> manifest = Resource(MAKEINTRESOURCEW(24), 1);
    std::string text(manifest.begin(), manifest.end());
    EXPECT_NE(text.find("level=\"requireAdministrator\""), std::string::npos);
    EXPECT_NE(text.find("uiAccess=\"false\""), std::string::npos);
}

TEST_F(LauncherResources, VersionBlock) {
    DWORD ignored = 0;
    DWORD size = ::GetFileVersionInfoSizeW(path.c_str(), &ignored);
    ASSERT_GT(size, 0u);
    std::vector<uint8_t> info(size);
    ASSERT_TRUE(::GetFileVersionInfoW(path.c_str(), 0, size, info.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(::VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0u);
    struct Case {
        const wchar_t* name;
        const wchar_t* value;
    };
    const Case cases[] = {
        {L"FileDescription", L"Tirn Home 2018 Setup"},
        {L"ProductName", L"Tirn Home 2018"},
        {L"OriginalFilename", L"TirnHomeISSetup.exe"},
        {L"FileVersion", L"1.0.0.0"},
        {L"ProductVersion", L"1.0.0.0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::wstring(c.name).size());
        wchar_t* value = nullptr;
        std::wstring query = std::wstring(L"\\StringFileInfo\\040904b0\\") + c.name;
        ASSERT_TRUE(::VerQueryValueW(info.data(), query.c_str(), reinterpret_cast<void**>(&value),
                                     &length));
        EXPECT_STREQ(value, c.value);
    }
}

}  // namespace
