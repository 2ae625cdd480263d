// Runs the hollin-tree program of this build on files of the tests' own.
#include "toolkit/Folder.h"

#include "ChildProcess.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <string>

namespace {

class HollinTreeTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.Exists()); }

    ProgramResult Tree(const std::vector<std::string>& arguments) {
        return RunBuildProgram("hollin-tree", arguments);
    }

    std::string File(const std::string& content) {
        std::string path = dir.Path("tree.txt");
        WriteBytes(path, content);
        return path;
    }

    TempDir dir;
};

TEST_F(HollinTreeTest, CatWritesTheFileBackInItsNormalForm) {
    ProgramResult run = Tree({"cat", File("; a comment\r\n"
                                          "{ Sub: ignored\r\n"
                                          "  (INT)b=0x10\r\n"
                                          "[ Data[Raw]:\r\n"
                                          "0A\r\n"
                                          "] Data;\r\n"
                                          "} sub;\r\n"
                                          "\r\n"
                                          "(double)Size[x]=1.5E+000\r\n"
                                          "(int)Size=5\r\n")});
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_EQ(run.out, "(double)Size[x]=1.5\n"
                       "(int)Size=5\n"
                       "{ Sub:\n"
                       "    (int)b=16\n"
                       "    [ Data[Raw]:\n"
                       "    A\n"
                       "    ] Data;\n"
                       "} Sub;\n");
}

TEST_F(HollinTreeTest, CatOfABrokenFileWritesWhatCouldBeRead) {
    ProgramResult run = Tree({"cat", File("garbage\n"
                                          "} nothing open;\n"
                                          "{ A:\n"
                                          "(int)a=1\n"
                                          "} B;\n"
                                          "(string)long=" +
                                          std::string(10000, 'v') +
                                          "\n"
                                          "(int)" +
                                          std::string(2000, 'n') +
                                          "=1\n"
                                          "[ open:\n"
                                          "1\n")});
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_EQ(run.out, "{ A:\n    (int)a=1\n    [ open:\n    1\n    ] open;\n} A;\n");
}

TEST_F(HollinTreeTest, CheckListsTheLinesItCannotRead) {
    ProgramResult clean =
        Tree({"check", File("(int)a=1\n; comment\n\n{ G:\n[ r:\nFF\n] r;\n} G;\n")});
    EXPECT_EQ(clean.exitStatus, 0);
    EXPECT_EQ(clean.out, "");

    std::string file = File("(int)a=1\n"
                            "what\n"
                            "{ G:\n"
                            "(int)n=x\n" +
                            std::string(5000, 'z') +
                            "\n"
                            "[ r:\n"
                            "FF\n"
                            "GG\n"
                            "] r;\n"
                            "} H;\n");
    ProgramResult run = Tree({"check", file});
    EXPECT_EQ(run.exitStatus, 1);
    std::string path = dir.Path("tree.txt");
    EXPECT_EQ(run.out, path + ":2: not a line of the format\n" + path +
                           ":4: value line not read: no type, a type not known, a number that "
                           "does not parse, or a part longer than 1023 characters\n" +
                           path +
                           ":5: longer than 4095 characters: read in pieces, each as a "
                           "line\n" +
                           path + ":8: not a byte of array 'r'\n" + path +
                           ":10: group end that does not close group 'G'\n" + path +
                           ":3: group 'G' is not closed\n");
}

TEST_F(HollinTreeTest, TellsWhatIsWrongWithTheCommandLine) {
    ProgramResult missing = Tree({"cat", dir.Path("none.txt")});
    EXPECT_EQ(missing.exitStatus, 2);
    EXPECT_EQ(missing.out, "");
    EXPECT_NE(missing.err.find("cannot read"), std::string::npos) << missing.err;

    EXPECT_EQ(Tree({"check"}).exitStatus, 2);
    ProgramResult wrong = Tree({"convert", File("")});
    EXPECT_EQ(wrong.exitStatus, 2);
    EXPECT_NE(wrong.err.find("usage:"), std::string::npos);
    ExpectCommonOptions("hollin-tree");
    ProgramResult help = Tree({"check", "--help"});
    EXPECT_EQ(help.exitStatus, 0) << "help, not a file named --help";
    EXPECT_NE(help.out.find("check FILE"), std::string::npos);
}

TEST_F(HollinTreeTest, AFullDiskIsReportedNotHidden) {
    ProgramResult run =
        RunProgram({BuildFile("hollin-tree"), "cat", File("(int)a=1\n")}, "/dev/full");
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_NE(run.err.find("cannot write"), std::string::npos) << run.err;
}

TEST_F(HollinTreeTest, CatWritesAnOutputFileWholeOrSaysWhichCallFailed) {
    std::string input = File("{ g:\n(int)a=1\n} g;\n");
    std::string output = dir.Path("out.txt");
    ProgramResult written = Tree({"cat", "-o", output, input});
    EXPECT_EQ(written.exitStatus, 0) << written.err;
    EXPECT_EQ(ReadText(output), "{ g:\n    (int)a=1\n} g;\n");

    std::string nowhere = dir.Path("none/out.txt");
    ProgramResult failed = Tree({"cat", "--output", nowhere, input});
    EXPECT_EQ(failed.exitStatus, 1);
    EXPECT_NE(failed.err.find("open(" + nowhere + ".tmp): No such file or directory"),
              std::string::npos)
        << failed.err;
    EXPECT_EQ(Tree({"check", "-o", output, input}).exitStatus, 2) << "-o is for cat";
}

} // namespace
