#include "framework/Afx.h"

#include <gtest/gtest.h>

namespace {

class Base : public CCmdTarget {
  public:
    int hits = 0;
    void OnFirst() { hits += 1; }
    void OnSecond() { hits += 10; }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(Base, CCmdTarget)
ON_COMMAND(1, &Base::OnFirst)
ON_COMMAND(2, &Base::OnSecond)
END_MESSAGE_MAP()

class Derived : public Base {
  public:
    void OnSecondAgain() { hits += 100; }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(Derived, Base)
ON_COMMAND(2, &Derived::OnSecondAgain)
END_MESSAGE_MAP()

TEST(MessageMap, NearestClassWinsAndLookupChainsToTheBase) {
    Derived target;
    struct Case {
        UINT command;
        BOOL handled;
        int hitsAfter;
    };
    const Case cases[] = {{1, TRUE, 1}, {2, TRUE, 101}, {3, FALSE, 101}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        EXPECT_EQ(target.OnCmdMsg(c.command), c.handled);
        EXPECT_EQ(target.hits, c.hitsAfter);
    }
    Base base;
    EXPECT_TRUE(base.OnCmdMsg(2));
    EXPECT_EQ(base.hits, 10);
}

TEST(RuntimeClass, DialogsKnowTheirKind) {
    CDialog dialog(1);
    EXPECT_TRUE(dialog.IsKindOf(RUNTIME_CLASS(CWnd)));
    EXPECT_TRUE(dialog.IsKindOf(RUNTIME_CLASS(CObject)));
    EXPECT_FALSE(dialog.IsKindOf(RUNTIME_CLASS(CWinThread)));
    EXPECT_STREQ(dialog.GetRuntimeClass()->m_lpszClassName, "CDialog");
    EXPECT_EQ(dialog.GetRuntimeClass()->m_wSchema, 0xFFFFu);
}

}  // namespace
