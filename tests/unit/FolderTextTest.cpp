#include "toolkit/Folder.h"
#include "toolkit/Sentinels.h"
#include "toolkit/TextTreeStream.h"

#include "TempDir.h"

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

// The tree as text: every slot in order with its kind, name, and values with
// their types, names and contents.
std::string Describe(const Folder& folder) {
    std::ostringstream text;
    for (LONG i = 1; i <= folder.GetCount(); ++i) {
        NamedObject* item = folder.GetAt(i);
        LPCSTR name = item != nullptr && item->GetName() != nullptr ? item->GetName() : "";
        if (auto* sub = dynamic_cast<Folder*>(item)) {
            text << "F " << name << " [" << Describe(*sub) << "] ";
        } else if (auto* record = dynamic_cast<Record*>(item)) {
            text << "R " << name << " {";
            for (LONG v = 1; v <= record->GetCount(); ++v) {
                TypedValue* value = record->ValueAt(v);
                text << " " << value->GetType() << ":"
                     << (value->GetName() != nullptr ? value->GetName() : "") << "=";
                switch (value->GetType()) {
                case TypeBytes:
                    for (LONG b = 0; b < value->GetBytesSize(); ++b) {
                        text << int(value->GetBytes()[b]) << ".";
                    }
                    break;
                case TypeInt:
                    text << value->GetInt();
                    break;
                case TypeFloat:
                    text << value->GetFloat();
                    break;
                case TypeString:
                    text << "'" << value->GetString() << "'";
                    break;
                case TypeDouble:
                    text << value->GetDouble();
                    break;
                case TypeInt64:
                    text << value->GetInt64();
                    break;
                default:
                    break;
                }
            }
            text << " } ";
        } else {
            text << "- ";
        }
    }
    return text.str();
}

const char Example[] = "(int)Size=5\n"
                       "(string)Size[Label]=abc\n"
                       "{ Sub:\n"
                       "    [ Data[Raw]:\n"
                       "    A\n"
                       "    FF\n"
                       "    ] Data;\n"
                       "    (int64)Data=-1\n"
                       "} Sub;\n";

class FolderTextTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.Exists()); }

    // A file-backed folder on a file of the test's own.
    Folder* FileFolder(const std::string& fileName) {
        std::string path = dir.Path(fileName);
        auto* folder = new Folder(path.c_str());
        folder->SetFileBacked(1);
        owned.emplace_back(folder);
        return folder;
    }

    // A folder loaded from a file holding `content`.
    Folder* Loaded(const std::string& content) {
        Folder* folder = FileFolder("in.txt");
        WriteBytes(folder->GetName(), content);
        EXPECT_EQ(folder->Load(), 1);
        return folder;
    }

    TempDir dir;
    std::vector<std::unique_ptr<Folder>> owned;
};

TEST_F(FolderTextTest, TheExampleTreeSavesToItsNineLinesAndLoadsBackTheSame) {
    Folder* saved = FileFolder("example.txt");
    saved->AddInt("Size", 5, nullptr);
    saved->AddString("Size", "abc", "Label");
    Folder* sub = saved->GetOrAddFolder("Sub");
    const BYTE raw[] = {0x0A, 0xFF};
    sub->AddBytes("Data", raw, 2, "Raw");
    sub->AddInt64("Data", -1, nullptr);
    ASSERT_EQ(saved->Save(), 1);
    EXPECT_EQ(ReadText(saved->GetName()), Example);

    Folder* loaded = FileFolder("example.txt");
    ASSERT_EQ(loaded->Load(), 1);
    EXPECT_EQ(Describe(*loaded), Describe(*saved));
    ASSERT_EQ(loaded->Save(), 1);
    EXPECT_EQ(ReadText(loaded->GetName()), Example);
}

TEST_F(FolderTextTest, EveryKindOfValueSurvivesASaveAndLoad) {
    Folder* saved = FileFolder("all.txt");
    const BYTE bytes[] = {0, 1, 0x7F, 0x80, 0xFF};
    saved->AddInt("values", -2147483647 - 1, "int");
    saved->AddFloat("values", -0.5f, "float");
    saved->AddString("values", "", "empty");
    saved->AddString("values", "text with = and ; and [x]", "text");
    saved->AddDouble("values", -2.5E-300, "double");
    saved->AddInt64("values", -9223372036854775807LL - 1, "int64");
    saved->AddBytes("values", bytes, 5, "named");
    saved->AddBytes("values", bytes, 2, nullptr);
    saved->GetOrAddRecord(nullptr)->AddInt("in nameless", 1);
    saved->GetOrAddRecord(nullptr)->AddBytes(nullptr, bytes, 1); // each line makes its own record
    saved->AddRecord("no values");
    Folder* outer = saved->GetOrAddFolder("outer");
    outer->GetOrAddFolder("empty");
    outer->GetOrAddFolder("inner")->AddString("deep", "down", nullptr);
    outer->GetOrAddFolder(nullptr)->AddInt("in a nameless folder", 3, nullptr);
    ASSERT_EQ(saved->Save(), 1);

    Folder* loaded = FileFolder("all.txt");
    ASSERT_EQ(loaded->Load(), 1);
    saved->RemoveByName("no values"); // a record without values is not written
    saved->Compact();
    EXPECT_EQ(Describe(*loaded), Describe(*saved));
}

TEST_F(FolderTextTest, PrecisionIsThatOfTheWrittenText) {
    Folder* saved = FileFolder("numbers.txt");
    saved->AddFloat("tiny", 0.0000004f, nullptr);
    saved->AddDouble("pi", 3.14159265, nullptr);
    saved->AddDouble("big", 1234567.0, nullptr);
    ASSERT_EQ(saved->Save(), 1);
    EXPECT_EQ(ReadText(saved->GetName()),
              "(float)tiny=0.000000\n(double)pi=3.14159\n(double)big=1.23457E+06\n");
    Folder* loaded = FileFolder("numbers.txt");
    loaded->Load();
    EXPECT_EQ(loaded->RecordByName("tiny")->GetFloat(), 0.0f);
    EXPECT_EQ(loaded->RecordByName("pi")->GetDouble(), 3.14159);
    EXPECT_EQ(loaded->RecordByName("big")->GetDouble(), 1234570.0);
}

TEST_F(FolderTextTest, EmptyFoldersWriteNothingOrOnlyTheirGroup) {
    Folder* empty = FileFolder("empty.txt");
    ASSERT_EQ(empty->Save(), 1);
    EXPECT_EQ(ReadText(empty->GetName()), "");
    empty->AddFolder("sub");
    empty->FolderByName("sub")->AddRecord("r");
    empty->AddFolder("hidden");
    empty->FolderByName("hidden")->SetNull();
    ASSERT_EQ(empty->Save(), 1);
    EXPECT_EQ(ReadText(empty->GetName()), "{ sub:\n} sub;\n");

    std::string path = dir.Path("group.txt");
    TextTreeStream stream(path.c_str(), StreamWrite);
    EXPECT_EQ(empty->FolderByName("sub")->WriteAsGroup(&stream), 1);
    EXPECT_EQ(empty->WriteTo(nullptr), 0);
}

TEST_F(FolderTextTest, LoadAndSaveActOnlyOnFileBackedFolders) {
    std::string path = dir.Path("data.txt");
    WriteBytes(path, "(int)x=1\n");
    Folder folder(path.c_str());
    EXPECT_EQ(folder.Load(), 0);
    EXPECT_EQ(folder.GetCount(), 0);
    folder.AddInt("y", 2, nullptr);
    EXPECT_EQ(folder.Save(), 0);
    EXPECT_EQ(ReadText(path), "(int)x=1\n");

    EXPECT_EQ(FileFolder("no such file.txt")->Load(), 0);
    Folder nameless;
    nameless.SetFileBacked(1);
    EXPECT_EQ(nameless.Load(), 0);
    EXPECT_EQ(nameless.Save(), 0);
}

TEST_F(FolderTextTest, ReadingAddsValuesAndStopsAfterTheGroupsAsked) {
    Folder* twice = Loaded("(int)a=1\n(int)b=2\n(int)A=3\n");
    twice->Load();
    EXPECT_EQ(twice->GetCount(), 2);
    EXPECT_EQ(twice->RecordByName("a")->GetCount(), 4) << "values are added, never replaced";

    std::string path = dir.Path("groups.txt");
    WriteBytes(path, "(int)before=1\n{ G1:\n(int)in=1\n} G1;\n(int)between=2\n{ G2:\n} G2;\n");
    TextTreeStream stream(path.c_str(), StreamRead);
    Folder folder;
    EXPECT_EQ(folder.ReadFrom(&stream, 1), 1);
    EXPECT_EQ(Describe(folder), "R before { 6:=1 } F G1 [R in { 6:=1 } ] ");
    EXPECT_EQ(folder.ReadFrom(&stream, 0), 1);
    EXPECT_EQ(stream.GetDepth(), 1) << "stopped inside G2";
    EXPECT_STREQ(stream.GetName(nullptr), "G2");
    EXPECT_EQ(folder.ReadFrom(nullptr, -1), 0);
}

TEST_F(FolderTextTest, NamesOfTheOtherKindDropLinesOrFlattenTheGroup) {
    Folder* folder = Loaded("{ F:\n} F;\n(int)F=1\n(int)R=1\n{ r:\n(int)inner=2\n} r;\n"
                            "(int)after=3\n");
    EXPECT_EQ(Describe(*folder), "F F [] R R { 6:=1 } R inner { 6:=2 } ")
        << "the group's end line ends the folder's reading";
}

TEST_F(FolderTextTest, FindsExistingItemsByNameWhateverTheirNames) {
    Folder* folder = FileFolder("names.txt");
    folder->Add(new Record("dup"));
    folder->Add(new Record("dup"));
    folder->Add(new Record("x-y"));
    folder->Add(new Record("Größe"));
    folder->Add(new Record("ae"));
    WriteBytes(folder->GetName(), "(int)DUP=1\n(int)X-Y=2\n(int)Größe=3\n(int)AE=4\n(int)new=5\n"
                                  "(int)NEW=6\n");
    ASSERT_EQ(folder->Load(), 1);
    EXPECT_EQ(Describe(*folder), "R dup { 6:=1 } R dup { } R x-y { 6:=2 } R Größe { 6:=3 } "
                                 "R ae { 6:=4 } R new { 6:=5 6:=6 } ");
}

TEST_F(FolderTextTest, MalformedInputIsSkippedAndTheRestIsRead) {
    std::string content = "garbage line\n"
                          "} nothing open;\n"
                          "{ A:\n"
                          "(int)a=1\n"
                          "} B;\n" // does not close A
                          "(int)" +
                          std::string(6000, 'x') +
                          "=1\n"
                          "(int)b=2\n"
                          "[ arr:\n"
                          "1\n"
                          "not a byte\n"
                          "; a comment\n"
                          "2\n"
                          "] arr;\n"
                          "[ open:\n"
                          "3\n";
    Folder* folder = Loaded(content);
    EXPECT_EQ(Describe(*folder),
              "F A [R a { 6:=1 } R b { 6:=2 } R arr { 5:=1.2. } R open { 5:=3. } ] ")
        << "only the lines holding a number make bytes";
}

TEST_F(FolderTextTest, GroupsNestedTooDeeplyAreSkipped) {
    const int depth = Folder::MaxReadNesting + 50;
    std::string content;
    for (int i = 0; i < depth; ++i) {
        content += "{ g:\n";
    }
    content += "(int)deepest=1\n";
    for (int i = 0; i < depth; ++i) {
        content += "} g;\n";
    }
    content += "(int)after=2\n";
    Folder* folder = FileFolder("deep.txt");
    WriteBytes(folder->GetName(), content);
    EXPECT_EQ(folder->Load(), 0) << "a load that left groups out says so";
    EXPECT_TRUE(folder->ReadWasCut());
    Folder* level = folder;
    int levels = 0;
    while (level->FolderByName("g") != &NullFolder) {
        level = level->FolderByName("g");
        ++levels;
    }
    EXPECT_EQ(levels, Folder::MaxReadNesting);
    EXPECT_EQ(level->GetCount(), 0);
    EXPECT_EQ(folder->RecordByName("after")->GetInt(), 2);
}

TEST_F(FolderTextTest, WhatTheFormatCannotCarryIsReportedNotCorrupted) {
    Folder* saved = FileFolder("odd.txt");
    saved->AddString("note", "line one\nline two", nullptr);
    saved->AddInt("kept", 1, nullptr);
    saved->GetOrAddFolder("12:30")->AddInt("inside", 2, nullptr);
    saved->GetOrAddFolder("after")->AddInt("also kept", 3, nullptr);
    EXPECT_EQ(saved->Save(), 0);
    Folder* loaded = FileFolder("odd.txt");
    ASSERT_EQ(loaded->Load(), 1);
    EXPECT_EQ(Describe(*loaded), "R kept { 6:=1 } F after [R also kept { 6:=3 } ] ");
}

TEST_F(FolderTextTest, ATreeOfTheDeepestNestingRoundTripsAndADeeperOneIsNotSaved) {
    Folder* saved = FileFolder("deep.txt");
    Folder* level = saved;
    for (LONG i = 0; i < MaxTreeDepth; ++i) {
        level = level->GetOrAddFolder("g");
    }
    level->AddInt("deepest", 1, nullptr);
    ASSERT_EQ(saved->Save(), 1);
    Folder* loaded = FileFolder("deep.txt");
    ASSERT_EQ(loaded->Load(), 1);
    EXPECT_EQ(Describe(*loaded), Describe(*saved));

    std::string before = ReadText(saved->GetName());
    level->GetOrAddFolder("g")->AddInt("lost", 1, nullptr);
    EXPECT_EQ(saved->Save(), 0) << "a failure, not a silent loss";
    EXPECT_EQ(ReadText(saved->GetName()), before) << "the file is not touched";
}

} // namespace
