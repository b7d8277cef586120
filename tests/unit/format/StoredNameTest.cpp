#include "format/StoredName.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using tirn::format::StoredNameProblem;

TEST(StoredNameProblem, OnlyPlainFileNamesThatInstallFromTheLongestTemporaryDirectory) {
    struct Case {
        std::string name;
        const char* problem;  // a word of the reason; null: installs
    };
    const Case cases[] = {
        {"TirnHomeSetup.exe", nullptr},
        {"T\xe1\xbb\x87p c\xc3\xa0i \xc4\x91\xe1\xba\xb7t.exe", nullptr},  // Vietnamese, NFC
        {std::string(22, 'a'), nullptr},
        {std::string(23, 'a'), "units long"},
        {std::string(11, 'a') + "\xf0\x9f\x98\x80" + std::string(9, 'b'), nullptr},  // 22 units
        {std::string(12, 'a') + "\xf0\x9f\x98\x80" + std::string(9, 'b'), "units long"},
        {"", "empty"},
        {"..", "dot"},
        {".", "dot"},
        {"setup.exe.", "dot"},
        {"setup.exe ", "space"},
        {"..\\x.exe", "directory"},
        {"sub/setup.exe", "directory"},
        {"\\setup.exe", "directory"},
        {"C:setup.exe", "drive"},
        {"setup.exe:stream", "drive"},
        {"Setup?.exe", "forbids"},
        {"a*b.exe", "forbids"},
        {"a<b", "forbids"},
        {"a\"b", "forbids"},
        {"a|b", "forbids"},
        {std::string("a\x01"
                     "b"),
         "forbids"},
        {"CON", "device"},
        {"nul.exe", "device"},
        {"Com1.txt", "device"},
        {"LPT9", "device"},
        {"COM0.exe", nullptr},
        {"CONSOLE.exe", nullptr},
        {"\xc3\x28.exe", "UTF-8"},
        {"\xc0\xaf.exe", "UTF-8"},      // overlong
        {"\xed\xa0\x80.exe", "UTF-8"},  // a surrogate
        {"\xe1\xbb", "UTF-8"},          // cut
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::optional<std::string> problem = StoredNameProblem(c.name);
        if (c.problem == nullptr) {
            EXPECT_FALSE(problem) << *problem;
        } else {
            ASSERT_TRUE(problem);
            EXPECT_NE(problem->find(c.problem), std::string::npos) << *problem;
        }
    }
}

}  // namespace
