#include "support/StringStack.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string blockPrefix(const StringStack& stack, size_t length) {
    return std::string(reinterpret_cast<const char*>(stack.GetBlock()), length);
}

TEST(StringStack, NewStackIsAnEmptyList) {
    StringStack stack;
    EXPECT_EQ(stack.GetCount(), 0);
    EXPECT_STREQ(stack.GetItem(0), "");
    EXPECT_EQ(stack.GetItem(1), nullptr);
    EXPECT_EQ(stack.GetItem(-1), nullptr);
    EXPECT_EQ(stack.Recount(), 2);
    EXPECT_EQ(stack.GetCount(), 0);
    EXPECT_EQ(stack.GetBlockSize(), 260u);
}

TEST(StringStack, PushPopAndLookUpKeepTheBlockLayout) {
    StringStack stack;
    stack.Push("ab").Push("cd");
    EXPECT_EQ(blockPrefix(stack, 7), std::string("ab\0cd\0\0", 7));
    EXPECT_EQ(stack.GetCount(), 2);
    EXPECT_STREQ(stack.GetItem(0), "ab");
    EXPECT_STREQ(stack.GetItem(1), "cd");
    EXPECT_EQ(stack.GetItem(2), nullptr);
    EXPECT_EQ(stack.Recount(), 7);
    EXPECT_EQ(stack.GetCount(), 2);

    char out[8] = "zzzzzzz";
    stack.Pop(out);
    EXPECT_STREQ(out, "cd");
    EXPECT_EQ(stack.GetCount(), 1);
    EXPECT_EQ(blockPrefix(stack, 4), std::string("ab\0\0", 4));
    stack.Push("x");
    EXPECT_EQ(blockPrefix(stack, 6), std::string("ab\0x\0\0", 6));
}

TEST(StringStack, PoppingTheOnlyEntryEmptiesTheList) {
    StringStack stack;
    stack.Push("only");
    stack.Pop(nullptr);
    EXPECT_EQ(stack.GetCount(), 0);
    EXPECT_STREQ(stack.GetItem(0), "");
    stack.Push("new");
    EXPECT_STREQ(stack.GetItem(0), "new");
    EXPECT_EQ(stack.GetCount(), 1);
}

TEST(StringStack, GrowsByExactlyWhatAPushNeeds) {
    StringStack stack;
    stack.Push(std::string(255, 'a').c_str());
    EXPECT_EQ(stack.GetBlockSize(), 260u) << "255 characters need 257 bytes";
    stack.Push("abc");
    EXPECT_EQ(stack.GetBlockSize(), 261u);
    EXPECT_STREQ(stack.GetItem(1), "abc");
    stack.Reset();
    EXPECT_EQ(stack.GetBlockSize(), 260u);
    EXPECT_EQ(stack.GetCount(), 0);
    EXPECT_STREQ(stack.GetItem(0), "");
}

TEST(StringStack, RefusesWhatWouldBreakTheList) {
    StringStack stack;
    stack.Push("a");
    stack.Push("").Push(nullptr);
    EXPECT_EQ(stack.GetCount(), 1) << "an empty entry would read as the end of the list";

    char out[4] = "zz";
    stack.Pop(out).Pop(out);
    EXPECT_STREQ(out, "");
    EXPECT_EQ(stack.GetCount(), 0) << "popping an empty stack changes nothing";
}

TEST(StringStack, ManyEntriesStayReachable) {
    StringStack stack;
    for (int i = 0; i < 500; ++i) {
        stack.Push(("group" + std::to_string(i)).c_str());
    }
    EXPECT_EQ(stack.GetCount(), 500);
    EXPECT_STREQ(stack.GetItem(499), "group499");
    EXPECT_STREQ(stack.GetItem(250), "group250");
    char out[16];
    for (int i = 499; i >= 0; --i) {
        stack.Pop(out);
        ASSERT_EQ(std::string(out), "group" + std::to_string(i));
    }
}

} // namespace
