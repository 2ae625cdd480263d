#include "toolkit/Record.h"
#include "toolkit/TextTreeStream.h"

#include "TempDir.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

class TextTreeStreamTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.Exists()); }

    // A stream reading `content` from a file of the test's own.
    TextTreeStream* Reading(const std::string& content) {
        std::string path = dir.Path("in.txt");
        WriteBytes(path, content);
        reader.reset(new TextTreeStream(path.c_str(), StreamRead));
        return reader.get();
    }

    // The kind of each line of `content`, in order.
    std::vector<LONG> Kinds(const std::string& content) {
        TextTreeStream* stream = Reading(content);
        std::vector<LONG> kinds;
        while (stream->NextLine()) {
            kinds.push_back(stream->ParseLine());
        }
        return kinds;
    }

    // What `write` writes through a stream for writing.
    template <typename Write> std::string Written(Write write) {
        std::string path = dir.Path("out.txt");
        {
            TextTreeStream stream(path.c_str(), StreamWrite);
            EXPECT_EQ(stream.IsOpen(), 1);
            write(stream);
        }
        return ReadText(path);
    }

    TempDir dir;
    std::unique_ptr<TextTreeStream> reader;
};

TEST_F(TextTreeStreamTest, WritesEveryLineKindIndentedByTheOpenGroups) {
    const BYTE bytes[] = {0x00, 0x0A, 0xFF};
    std::string text = Written([&](TextTreeStream& s) {
        EXPECT_EQ(s.BeginGroup("Sub"), 1);
        EXPECT_EQ(s.WriteInt("Size", 5, "Raw"), 1);
        EXPECT_EQ(s.BeginArray("rec", "val"), 1);
        EXPECT_EQ(s.BeginArray("other", nullptr), 0) << "one array at a time";
        EXPECT_EQ(s.WriteBytes(bytes, 3), 1);
        EXPECT_EQ(s.EndArray(), 1);
        EXPECT_EQ(s.EndArray(), 0);
        EXPECT_EQ(s.WriteFloat("f", 1.5f, nullptr), 1);
        EXPECT_EQ(s.WriteDouble("d", 1.5, nullptr), 1);
        EXPECT_EQ(s.WriteDouble("d", 1e20, "big"), 1);
        EXPECT_EQ(s.WriteInt64("i", -1, nullptr), 1);
        EXPECT_EQ(s.WriteString(nullptr, nullptr, nullptr), 1);
        EXPECT_EQ(s.WriteString("s", "", "x"), 1);
        EXPECT_EQ(s.EndGroup(), 1);
        EXPECT_EQ(s.EndGroup(), 0);
    });
    EXPECT_EQ(text, "{ Sub:\n"
                    "    (int)Size[Raw]=5\n"
                    "    [ rec[val]:\n"
                    "    0\n"
                    "    A\n"
                    "    FF\n"
                    "    ] rec;\n"
                    "    (float)f=1.500000\n"
                    "    (double)d=1.5\n"
                    "    (double)d[big]=1E+20\n"
                    "    (int64)i=-1\n"
                    "    (string)=\n"
                    "    (string)s[x]=\n"
                    "} Sub;\n");
}

TEST_F(TextTreeStreamTest, WritesNumbersAlikeOnEveryPlatform) {
    std::string text = Written([](TextTreeStream& s) {
        s.WriteDouble("a", 1234567.0, nullptr);
        s.WriteDouble("b", 1e-5, nullptr);
        s.WriteDouble("c", 1e100, nullptr);
        s.WriteFloat("d", 1e30f, nullptr);
        s.WriteFloat("e", 0.0000004f, nullptr);
        s.WriteInt64("f", -9223372036854775807LL - 1, nullptr);
    });
    EXPECT_EQ(text, "(double)a=1.23457E+06\n"
                    "(double)b=1E-05\n"
                    "(double)c=1E+100\n"
                    "(float)d=1000000015047466219876688855040.000000\n"
                    "(float)e=0.000000\n"
                    "(int64)f=-9223372036854775808\n");
}

TEST_F(TextTreeStreamTest, NamelessGroupsAndArraysAreWrittenWithEmptyNamesAndReadBack) {
    std::string text = Written([](TextTreeStream& s) {
        s.BeginGroup("outer");
        s.BeginGroup(nullptr);
        s.BeginArray(nullptr, "raw");
        s.EndArray();
        s.EndGroup();
        s.EndGroup();
    });
    EXPECT_EQ(text, "{ outer:\n    { :\n        [ [raw]:\n        ] ;\n    } ;\n} outer;\n");
    EXPECT_EQ(Kinds(text), (std::vector<LONG>{1, 1, 3, 4, 2, 2}));
    EXPECT_EQ(reader->GetDepth(), 0);
}

TEST_F(TextTreeStreamTest, WritersRefuseWhatWouldNotReadBackAsWritten) {
    std::string text = Written([](TextTreeStream& s) {
        EXPECT_EQ(s.BeginGroup("a:b"), 0);
        EXPECT_EQ(s.BeginGroup("a;b"), 0);
        EXPECT_EQ(s.BeginGroup(" lead"), 0);
        EXPECT_EQ(s.BeginArray("r[1]", nullptr), 0);
        EXPECT_EQ(s.BeginArray("r", "a:b"), 0);
        EXPECT_EQ(s.WriteInt("r=x", 1, nullptr), 0);
        EXPECT_EQ(s.WriteInt("r", 1, "i]"), 0);
        EXPECT_EQ(s.WriteString("s", "two\nlines", nullptr), 0);
        EXPECT_EQ(s.WriteString("s", std::string(1024, 'v').c_str(), nullptr), 0);
        EXPECT_EQ(s.WriteInt(std::string(1020, 'n').c_str(), 1, "ab"), 0) << "name[index] too long";
        EXPECT_EQ(s.WriteInt("r", 1, "12:30"), 1);
        EXPECT_EQ(s.WriteString(" r", " kept ", nullptr), 1);
        EXPECT_EQ(s.GetDepth(), 0);
        EXPECT_EQ(s.Flush(), 0) << "the refused lines count as failed writes";
    });
    EXPECT_EQ(text, "(int)r[12:30]=1\n(string) r= kept \n");
}

TEST_F(TextTreeStreamTest, WritersRefuseAStreamOpenedForReading) {
    TextTreeStream* stream = Reading("(int)x=1\n");
    EXPECT_EQ(stream->BeginGroup("g"), 0);
    EXPECT_EQ(stream->GetDepth(), 0);
    EXPECT_EQ(stream->WriteInt("x", 1, nullptr), 0);
    TextTreeStream missing(dir.Path("absent/none.txt").c_str(), StreamRead);
    EXPECT_EQ(missing.IsOpen(), 0);
    EXPECT_EQ(missing.NextLine(), 0);
    EXPECT_EQ(missing.WriteInt("x", 1, nullptr), 0);
}

TEST_F(TextTreeStreamTest, ParsesValueLines) {
    TextTreeStream* s = Reading("(int)x=0x1F\n(int)x=010\n(int)x=word\n(INT)y[3]=-4\r\n"
                                "(string)s=\n(int)n=\n(float)f=2.5\n(double)d=1.23457E+006\n"
                                "(int64)b=-9000000000\n(bool)z=1\n(int)=7\n(int x=1\n(int)x\n"
                                "()x=1\n  \t(string)t=a b=c ;\n(int)x=4294967295\n"
                                "(int)x=4294967296\n");
    auto next = [&] {
        s->NextLine();
        return s->ParseLine();
    };
    EXPECT_EQ(next(), LineInt);
    EXPECT_EQ(s->GetInt(), 31);
    EXPECT_EQ(next(), LineInt);
    EXPECT_EQ(s->GetInt(), 8) << "octal";
    EXPECT_EQ(next(), LineUnknown);
    EXPECT_EQ(s->GetInt(), 8) << "a field keeps its value until its own type replaces it";
    EXPECT_EQ(next(), LineInt);
    EXPECT_EQ(s->GetInt(), -4);
    EXPECT_STREQ(s->GetName(nullptr), "y[3]");
    LPSTR index = nullptr;
    EXPECT_STREQ(s->GetName(&index), "y");
    EXPECT_STREQ(index, "3");
    EXPECT_EQ(next(), LineString);
    EXPECT_STREQ(s->GetString(), "");
    EXPECT_EQ(next(), LineUnknown) << "an int without digits";
    EXPECT_EQ(next(), LineFloat);
    EXPECT_EQ(s->GetFloat(), 2.5f);
    EXPECT_EQ(next(), LineDouble);
    EXPECT_EQ(s->GetDouble(), 1234570.0) << "three exponent digits read too";
    EXPECT_EQ(next(), LineInt64);
    EXPECT_EQ(s->GetInt64(), -9000000000LL);
    EXPECT_EQ(next(), LineUnknown) << "an unknown type";
    EXPECT_EQ(next(), LineInt);
    EXPECT_STREQ(s->GetName(&index), "");
    EXPECT_EQ(index, nullptr);
    EXPECT_EQ(next(), LineUnknown) << "no closing parenthesis";
    EXPECT_EQ(next(), LineUnknown) << "no equals sign";
    EXPECT_EQ(next(), LineUnknown) << "no type";
    EXPECT_EQ(next(), LineString);
    EXPECT_STREQ(s->GetName(nullptr), "t");
    EXPECT_STREQ(s->GetString(), "a b=c ;");
    EXPECT_EQ(next(), LineInt);
    EXPECT_EQ(s->GetInt(), -1) << "a 32-bit mask reads as its bits";
    EXPECT_EQ(next(), LineUnknown) << "too large for 32 bits";
}

TEST_F(TextTreeStreamTest, ParsesStructureLines) {
    EXPECT_EQ(Kinds("\n\r\n; comment\n    \nplain\n{Sub:\n{ Sub: trailing\n} other;\n"
                    "} SUB;\n} Sub;\n"),
              (std::vector<LONG>{0, 0, 0, 11, 11, 0, 1, 0, 2, 0}));
    EXPECT_EQ(Kinds("[ rec[val]:\n{ g:\n} g;\n(int)x=1\n1F\n] rec;\n] rec;\n[ rec[val]:\n"
                    "] rec[VAL];\n[ a:\n] b;\n]a;\n] a;\n"),
              (std::vector<LONG>{3, 0, 0, 6, 11, 4, 0, 3, 4, 3, 0, 0, 4}));
}

TEST_F(TextTreeStreamTest, LimitsAreKeptWithoutOverflow) {
    std::string longName(1024, 'n');
    std::string fits(1023, 'n');
    std::string longLine = "(string)x=" + std::string(5000, 'v') + "\n";
    std::vector<LONG> kinds =
        Kinds("(int)" + longName + "=1\n(int)" + fits + "=1\n{ " + longName + ":\n} " + longName +
              ";\n[ " + longName + ":\n(" + longName + ")x=1\n(string)x=" + longName + "\n" +
              longLine + "{ " + std::string(5000, 'g') + "\n");
    EXPECT_EQ(kinds, (std::vector<LONG>{0, 6, 0, 0, 0, 0, 0, 0, 11, 0, 11}))
        << "over-long names and values are refused; a long line comes in pieces";
    EXPECT_EQ(reader->GetDepth(), 0);
}

TEST_F(TextTreeStreamTest, GroupsAreNotNestedBeyondTheDepthLimit) {
    std::string written = Written([](TextTreeStream& s) {
        for (LONG i = 0; i < TextTreeStream::MaxDepth; ++i) {
            ASSERT_EQ(s.BeginGroup("g"), 1);
        }
        EXPECT_EQ(s.BeginGroup("g"), 0);
        EXPECT_EQ(s.GetDepth(), TextTreeStream::MaxDepth);
        while (s.EndGroup()) {
        }
    });
    EXPECT_EQ(written.find("} g;"), written.rfind("{ g:") + 5 + 4 * (TextTreeStream::MaxDepth - 1))
        << "the refused begin line is not written";
    std::string beginLines;
    for (LONG i = 0; i < TextTreeStream::MaxDepth; ++i) {
        beginLines += "{ g:\n";
    }
    std::string tooDeep = beginLines + "{ g:\n(int)x=1\n{ h:\n} h;\n} g;\n(int)y=2\n";
    std::vector<LONG> kinds = Kinds(tooDeep);
    EXPECT_EQ(kinds[TextTreeStream::MaxDepth - 1], LineGroupBegin);
    EXPECT_EQ(std::vector<LONG>(kinds.begin() + TextTreeStream::MaxDepth, kinds.end()),
              (std::vector<LONG>{0, 0, 0, 0, 0, LineInt}))
        << "the refused group is left out up to its end line, nested groups with it";
    EXPECT_EQ(reader->GetDepth(), TextTreeStream::MaxDepth);
    EXPECT_TRUE(reader->RefusedTooDeep());
}

TEST_F(TextTreeStreamTest, NamesNoEndLineCouldCloseBeginNothing) {
    EXPECT_EQ(Kinds("{ a;b\n(int)x=1\n} a;b;\n[ c;\n1\n(int)y=2\n"),
              (std::vector<LONG>{0, LineInt, 0, 0, LineData, LineInt}));
}

TEST_F(TextTreeStreamTest, TheBytesOfARefusedArrayAreNotWritten) {
    EXPECT_EQ(Written([](TextTreeStream& s) {
                  Record record("bad:name");
                  const BYTE bytes[] = {0x0A, 0xFF};
                  record.AddBytes(nullptr, bytes, 2);
                  record.WriteTo(&s);
                  EXPECT_EQ(s.WriteBytes(bytes, 2), 0) << "no array is open";
              }),
              "");
}

TEST_F(TextTreeStreamTest, ReadsAndCountsTheBytesOfAnArray) {
    TextTreeStream* s = Reading("[ Data[Raw]:\n  a\n\nzz\n1FF\n] Data;\n(int)after=1\n");
    s->NextLine();
    ASSERT_EQ(s->ParseLine(), LineArrayBegin);
    EXPECT_EQ(s->CountArrayLines(), 4) << "every line up to the end";
    BYTE bytes[4] = {0, 0, 0, 0};
    EXPECT_EQ(s->ReadBytes(bytes, 1), 2) << "the lines that hold a number";
    EXPECT_EQ(bytes[0], 0x0A);
    EXPECT_EQ(bytes[1], 0) << "nothing written past the size given";
    EXPECT_EQ(s->ReadBytes(bytes, 4), 0) << "the end line closed the array";
    s->NextLine();
    EXPECT_EQ(s->ParseLine(), LineInt);
}

TEST_F(TextTreeStreamTest, AnArrayWithoutAnEndRunsToTheEndOfTheFile) {
    TextTreeStream* s = Reading("[ a:\n1\n2\n");
    s->NextLine();
    s->ParseLine();
    EXPECT_EQ(s->CountArrayLines(), 2);
    BYTE bytes[2];
    EXPECT_EQ(s->ReadBytes(bytes, 2), 2);
    EXPECT_EQ(s->NextLine(), 0);
}

const char Tree[] = "(int)top=1\n"
                    "{ A:\n"
                    "    { X:\n"
                    "        (int)n=9\n"
                    "        { B:\n"
                    "        } B;\n"
                    "    } X;\n"
                    "    (float)n=1.5\n"
                    "    { B:\n"
                    "        (int)n=4\n"
                    "        [ raw:\n"
                    "        7\n"
                    "        ] raw;\n"
                    "        (string)s[i]=text\n"
                    "    } B;\n"
                    "} A;\n"
                    "{ C:\n"
                    "} C;\n";

TEST_F(TextTreeStreamTest, FindGroupEntersAChildOrReturnsToTheStartOfTheBody) {
    TextTreeStream* s = Reading(Tree);
    ASSERT_EQ(s->FindGroup("a"), 1);
    EXPECT_EQ(s->GetDepth(), 1);
    ASSERT_EQ(s->FindGroup("B"), 1) << "the child B, not X's";
    EXPECT_EQ(s->GetDepth(), 2);
    s->NextLine();
    EXPECT_STREQ(s->GetLine(), "        (int)n=4\n");

    EXPECT_EQ(s->FindGroup("none"), 0);
    EXPECT_EQ(s->GetDepth(), 2);
    s->NextLine();
    EXPECT_STREQ(s->GetLine(), "        (int)n=4\n") << "back at the start of B's body";

    s->Rewind();
    EXPECT_EQ(s->FindGroup("X"), 0) << "not a child of the top";
    EXPECT_EQ(s->GetDepth(), 0);
    s->NextLine();
    EXPECT_STREQ(s->GetLine(), "(int)top=1\n") << "rewound";

    s->Rewind();
    ASSERT_EQ(s->EnterNextGroup(), 1);
    EXPECT_STREQ(s->GetName(nullptr), "A");
}

TEST_F(TextTreeStreamTest, FindValueLooksOnlyInTheCurrentGroup) {
    TextTreeStream* s = Reading(Tree);
    ASSERT_EQ(s->FindPath("//A//B/"), 1);
    LONG number = -1;
    EXPECT_EQ(s->ReadIntByName("N", &number), 1);
    EXPECT_EQ(number, 4);
    EXPECT_EQ(s->RestartGroup(), 1);
    float real = -1;
    EXPECT_EQ(s->ReadFloatByName("n", &real), 0) << "the float n is A's, not B's";
    EXPECT_EQ(real, -1.0f);
    EXPECT_EQ(s->GetDepth(), 2);
    BYTE bytes[2] = {0, 0};
    EXPECT_EQ(s->ReadBytesByName("raw", bytes, 2), 1);
    EXPECT_EQ(bytes[0], 7);
    LPSTR text = nullptr;
    EXPECT_EQ(s->ReadStringByName("s", &text), 0) << "the whole name, index included";
    ASSERT_EQ(s->ReadStringByName("S[I]", &text), 1);
    EXPECT_STREQ(text, "text");
    delete[] text;

    ASSERT_EQ(s->FindPath("A"), 1);
    EXPECT_EQ(s->ReadFloatByName("n", &real), 1);
    EXPECT_EQ(real, 1.5f);
    EXPECT_EQ(s->FindValue(nullptr, 0), 0);
    EXPECT_EQ(s->FindPath("A/Q"), 0);
    EXPECT_EQ(s->FindPath(""), 1);
    EXPECT_EQ(s->GetDepth(), 0);
}

TEST_F(TextTreeStreamTest, LeaveAndRestartGroup) {
    TextTreeStream* s = Reading(Tree);
    ASSERT_EQ(s->FindPath("A/X"), 1);
    EXPECT_EQ(s->LeaveGroup(), 1);
    EXPECT_EQ(s->GetDepth(), 1);
    s->NextLine();
    EXPECT_STREQ(s->GetLine(), "    (float)n=1.5\n");
    EXPECT_EQ(s->RestartGroup(), 1);
    s->NextLine();
    EXPECT_STREQ(s->GetLine(), "    { X:\n");

    s->Rewind();
    EXPECT_EQ(s->RestartGroup(), 0);
    EXPECT_EQ(s->LeaveGroup(), 0) << "no group to leave: runs off the end";
    EXPECT_EQ(s->GetDepth(), 0);
    s->NextLine();
    EXPECT_STREQ(s->GetLine(), "(int)top=1\n");
}

TEST_F(TextTreeStreamTest, ReadsCarriageReturnLineFeeds) {
    TextTreeStream* s = Reading("{ G:\r\n    (string)s=abc\r\n} G;\r\n");
    ASSERT_EQ(s->FindGroup("G"), 1);
    LPSTR text = nullptr;
    ASSERT_EQ(s->ReadStringByName("s", &text), 1);
    EXPECT_STREQ(text, "abc");
    delete[] text;
    EXPECT_EQ(s->LeaveGroup(), 1);
}

TEST(TreeStream, CloningAStreamGivesAPlainNamedObject) {
    TextTreeStream stream(static_cast<FILE*>(nullptr), StreamWrite, "name");
    EXPECT_EQ(stream.IsOpen(), 0);
    EXPECT_EQ(stream.GetCapabilities(), 15);
    NamedObject* copy = stream.Clone();
    ASSERT_NE(copy, nullptr);
    EXPECT_STREQ(copy->GetName(), "name");
    EXPECT_EQ(dynamic_cast<TreeStream*>(copy), nullptr);
    delete copy;
}

} // namespace
