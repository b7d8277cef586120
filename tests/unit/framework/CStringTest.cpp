#include "framework/Afx.h"
#include "tests/unit/framework/FrameworkTestResources.h"

#include <gtest/gtest.h>

#include <climits>
#include <thread>
#include <vector>

namespace {

TEST(CString, CopiesShareOneBufferUntilOneChanges) {
    CString original(L"Tirn");
    CString copy = original;
    EXPECT_EQ(original.GetString(), copy.GetString());
    EXPECT_EQ(original.SharedCount(), 2);

    copy += L'.';
    EXPECT_TRUE(original == L"Tirn");
    EXPECT_TRUE(copy == L"Tirn.");
    EXPECT_NE(original.GetString(), copy.GetString());
    EXPECT_EQ(original.SharedCount(), 1);
    EXPECT_EQ(copy.SharedCount(), 1);
}

TEST(CString, AppendsAndCompares) {
    CString s;
    EXPECT_TRUE(s.IsEmpty());
    EXPECT_STREQ(s.GetString(), L"");
    s += L"ab";
    s += s;  // appending itself
    s += CString(L"xyz", 2);
    EXPECT_TRUE(s == L"ababxy");
    EXPECT_EQ(s.GetLength(), 6);
    EXPECT_GT(s.Compare(L"abab"), 0);
    EXPECT_EQ(CString(L"/Upgrade").Compare(L"/upgrade") == 0, false);
    s.Empty();
    EXPECT_EQ(s.GetLength(), 0);
    s = L"\u0110ang";
    EXPECT_EQ(s.GetLength(), 4);
}

// Threads take and drop copies of one string at the same time; the count must
// come back to exactly one owner (a lost update would free the buffer early or
// leak it).
TEST(CString, ReferenceCountIsExactUnderConcurrentCopies) {
    CString shared(L"\u0110ang kh\u1edfi t\u1ea1o ");
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&shared] {
            for (int i = 0; i < 200000; ++i) {
                CString copy = shared;
                CString again(copy);
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(shared.SharedCount(), 1);
}

TEST(CString, LoadStringReadsTheTableAndLeavesTheStringAloneForAMissingId) {
    CString text(L"before");
    EXPECT_FALSE(text.LoadString(IDS_TEST_MISSING));
    EXPECT_TRUE(text == L"before");

    EXPECT_TRUE(text.LoadString(IDS_TEST_TEXT));
    EXPECT_TRUE(text == L"line one \nline two !");
    EXPECT_EQ(text.GetLength(), 20);
}

TEST(Allocation, ExhaustionRaisesCMemoryException) {
    volatile size_t impossible = SIZE_MAX - 64;
    EXPECT_THROW((void)::operator new(impossible), CMemoryException);
    EXPECT_THROW((void)new char[impossible], CMemoryException);
    // Still a std::bad_alloc for code that expects the standard type.
    EXPECT_THROW((void)::operator new(impossible), std::bad_alloc);
    EXPECT_EQ(::operator new(impossible, std::nothrow), nullptr);
}

}  // namespace
