#include "support/TextString.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

using Owned = std::unique_ptr<TextString>;

// "no storage" (null) is told apart from stored empty text ("").
std::string show(const TextString* s) {
    if (s == nullptr) {
        return "<no object>";
    }
    return s->GetText() == nullptr ? "<null>" : "'" + std::string(s->GetText()) + "'";
}

TEST(TextString, TheTwoEmptyStatesDifferOnlyInGetText) {
    TextString none;
    TextString stored("");
    for (TextString* s : {&none, &stored}) {
        EXPECT_EQ(s->GetLength(), 0);
        EXPECT_EQ(s->IsEmpty(), 1);
        EXPECT_EQ(s->IsValid(), 1);
    }
    EXPECT_EQ(show(&none), "<null>");
    EXPECT_EQ(show(&stored), "''");
}

TEST(TextString, AnErrorFlagMakesTheStringActEmpty) {
    TextString s("43");
    s.SetError(1);
    EXPECT_EQ(s.IsValid(), 0);
    EXPECT_EQ(s.GetLength(), 0);
    EXPECT_EQ(s.IsEmpty(), 1);
    EXPECT_EQ(s.GetText(), nullptr);
    EXPECT_EQ(s.Find('4'), -1);
    EXPECT_EQ(s.Find("4", 0), -1);
    EXPECT_EQ(show(Owned(s.Mid(0, 2)).get()), "''");
    char buffer[4] = "zzz";
    EXPECT_EQ(s.CopyTo(buffer, 4), buffer);
    EXPECT_STREQ(buffer, "");
    EXPECT_EQ(s.ToUnsigned(), 43u) << "the conversion looks at the storage only";

    s.Assign("ok");
    EXPECT_EQ(show(&s), "'ok'") << "a successful Assign clears the flag";
    TextString failed(BYTE(1));
    EXPECT_EQ(failed.IsValid(), 0);
}

TEST(TextString, SplitsAroundTheFirstSeparator) {
    TextString url("dnswhois:abc.def");
    EXPECT_EQ(url.Find(':'), 8);
    EXPECT_EQ(show(Owned(url.RightOf(":")).get()), "'abc.def'");
    EXPECT_EQ(show(Owned(url.LeftOf(":")).get()), "'dnswhois'");

    EXPECT_EQ(show(Owned(TextString("abc").RightOf(":")).get()), "<null>");
    EXPECT_EQ(show(Owned(TextString("abc").LeftOf(":")).get()), "<null>");
    EXPECT_EQ(show(Owned(TextString("abc:").RightOf(":")).get()), "''");
    EXPECT_EQ(show(Owned(TextString(":abc").LeftOf(":")).get()), "''");
    EXPECT_EQ(show(Owned(TextString("a::b").RightOf(TextString("::"))).get()), "'b'");
}

TEST(TextString, FindsPatternsWithinBounds) {
    EXPECT_EQ(TextString("//host/x").Find("//", 0), 0);
    EXPECT_EQ(TextString("a//").Find("//", 0), 1);
    EXPECT_EQ(TextString("host").Find("//", 0), -1);
    EXPECT_EQ(TextString("").Find("//", 0), -1);
    EXPECT_EQ(TextString().Find("//", 0), -1);
    EXPECT_EQ(TextString("abc").Find("abcd", 0), -1);
    EXPECT_EQ(TextString("abc").Find("", 0), 0);
    EXPECT_EQ(TextString("abcabc").Find("bc", 2), 4);
    EXPECT_EQ(TextString("abc").Find("c", 5), -1);
    EXPECT_EQ(TextString("abc").Find("c", -1), -1);
    EXPECT_EQ(TextString("").Find('x'), -1);
    EXPECT_EQ(FindBytes("abc", "c", 3, 2), -1);
}

TEST(TextString, MidClampsItsRange) {
    TextString s("abcdef");
    EXPECT_EQ(show(Owned(s.Mid(-3, 2)).get()), "'de'");
    EXPECT_EQ(show(Owned(s.Mid(10, 2)).get()), "''");
    EXPECT_EQ(show(Owned(s.Mid(2, 100)).get()), "'cdef'");
    EXPECT_EQ(show(Owned(s.Mid(-10, 2)).get()), "'ab'");
    EXPECT_EQ(show(Owned(s.Mid(2, -1)).get()), "''");
    EXPECT_EQ(show(Owned(s.Left(3)).get()), "'abc'");
    EXPECT_EQ(show(Owned(s.Mid(1, 0x7FFFFFFF)).get()), "'bcdef'");
    EXPECT_EQ(show(Owned(s.Mid(-0x7FFFFFFF, 3)).get()), "'abc'");
}

TEST(TextString, EditsInPlace) {
    TextString url("//host:43/dom");
    url.Erase(0, 2);
    EXPECT_EQ(show(&url), "'host:43/dom'");
    TextString same("//host:43/dom");
    same.SetPosition(0);
    same.EraseBeforePosition(2);
    EXPECT_EQ(show(&same), "'host:43/dom'");

    EXPECT_EQ(show(&TextString("abcde").Erase(5, 2)), "'abcde'");
    EXPECT_EQ(show(&TextString("abcde").Erase(3, 10)), "'abc'");
    EXPECT_EQ(show(&TextString("abcde").Erase(-1, 2)), "'abcde'");
    EXPECT_EQ(show(&TextString("abcde").Replace("XY", 1, 2)), "'aXYde'");
    EXPECT_EQ(show(&TextString("abcde").Replace("XY", 1, 0x7FFFFFFF)), "'aXY'");

    TextString s("abcdef");
    s.SetPosition(4);
    EXPECT_EQ(show(&s.EraseBeforePosition(2)), "'abef'");
    TextString t("abcdef");
    t.SetPosition(1);
    EXPECT_EQ(show(&t.EraseBeforePosition(3)), "'def'");
}

TEST(TextString, PositionIsClampedOnlyWhenRead) {
    TextString s("abc");
    s.SetPosition(10);
    EXPECT_EQ(s.GetPosition(), 3);
    s.SetPosition(-1);
    EXPECT_EQ(s.GetPosition(), 0);
}

TEST(TextString, ReadsTheLeadingUnsignedNumber) {
    EXPECT_EQ(TextString("43").ToUnsigned(), 43u);
    EXPECT_EQ(TextString("43abc").ToUnsigned(), 43u);
    EXPECT_EQ(TextString(" 8080").ToUnsigned(), 8080u);
    EXPECT_EQ(TextString("abc").ToUnsigned(), 0u);
    EXPECT_EQ(TextString("").ToUnsigned(), 0u);
    EXPECT_EQ(TextString().ToUnsigned(), 0u);
    EXPECT_EQ(TextString("-1").ToUnsigned(), 0xFFFFFFFFu);
    EXPECT_EQ(TextString("\t+7").ToUnsigned(), 7u);
    EXPECT_EQ(TextString("4294967297").ToUnsigned(), 1u) << "taken modulo 2^32, as %u does";
}

TEST(TextString, CopyToChecksTheRoom) {
    TextString s("abcd");
    char buffer[8] = "zzzzzzz";
    EXPECT_EQ(s.CopyTo(buffer, 4), nullptr);
    EXPECT_STREQ(buffer, "zzzzzzz");
    EXPECT_EQ(s.CopyTo(buffer, 5), buffer);
    EXPECT_STREQ(buffer, "abcd");
    EXPECT_EQ(TextString("xy").CopyTo(buffer, 0), buffer);
    EXPECT_STREQ(buffer, "xy");
    EXPECT_EQ(TextString().CopyTo(buffer, 1), buffer);
    EXPECT_STREQ(buffer, "");
    EXPECT_EQ(s.CopyTo(nullptr, 0), nullptr);
}

TEST(TextString, AssignKeepsItsRules) {
    TextString s("abc");
    s.SetPosition(2);
    s.Assign(nullptr);
    EXPECT_EQ(show(&s), "<null>");
    EXPECT_EQ(s.IsValid(), 1);
    s.Assign("longer text");
    s.Assign(s.GetText() + 7);
    EXPECT_EQ(show(&s), "'text'") << "assigning a part of its own text";
    char* heap = new char[3]{'h', 'i', '\0'};
    s.Attach(heap);
    EXPECT_EQ(show(&s), "'hi'");
}

TEST(TextString, AssignWideConvertsToTheAnsiCodePage) {
    TextString s("old");
    s.AssignWide(WIDE_TEXT("caf\u00e9 \u20ac"));
    ASSERT_NE(s.GetText(), nullptr);
    EXPECT_EQ(std::string(s.GetText()), "caf\xe9 \x80");
    s.AssignWide(nullptr);
    EXPECT_EQ(std::string(s.GetText()), "caf\xe9 \x80") << "a failed conversion changes nothing";

    char* converted = WideToAnsi(CP_ACP, WIDE_TEXT("\u4e2d"));
    ASSERT_NE(converted, nullptr);
    EXPECT_STREQ(converted, "?") << "unmappable characters become the default character";
    delete[] converted;
}

} // namespace
