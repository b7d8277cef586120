// Runs from a directory where a "Cabinet.dll" has been planted beside the
// program, with Wine told to prefer such native copies (as Windows would
// take one found first on its search path). The binding must take the
// system's library, never the planted one.
#include "package/CabinetApi.h"
#include "tests/unit/TestSupport.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using tirn::test::ExecutableDirectory;

bool PlantedWasLoaded() {
    return ::GetFileAttributesW((ExecutableDirectory() + L"Cabinet.dll.loaded").c_str()) !=
           INVALID_FILE_ATTRIBUTES;
}

TEST(PlantedCabinetLibrary, BindingTakesTheSystemCopy) {
    const std::wstring marker = ExecutableDirectory() + L"Cabinet.dll.loaded";
    ASSERT_NE(::GetFileAttributesW((ExecutableDirectory() + L"Cabinet.dll").c_str()),
              INVALID_FILE_ATTRIBUTES);

    // The attack is real here: a bare-name load takes the planted copy.
    ::DeleteFileW(marker.c_str());
    HMODULE bare = ::LoadLibraryW(L"Cabinet.dll");
    ASSERT_NE(bare, nullptr);
    EXPECT_TRUE(PlantedWasLoaded());
    ::FreeLibrary(bare);
    ::DeleteFileW(marker.c_str());

    ScopedCabinetApi api;
    ASSERT_EQ(api.Get().bReady, 1);
    wchar_t loaded[MAX_PATH], system[MAX_PATH];
    ::GetModuleFileNameW(api.Get().hModule, loaded, MAX_PATH);
    ::GetSystemDirectoryW(system, MAX_PATH);
    EXPECT_EQ(_wcsnicmp(loaded, system, wcslen(system)), 0) << loaded;
    EXPECT_FALSE(PlantedWasLoaded());
}

}  // namespace
