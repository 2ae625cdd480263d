// Runs the hollin-tree program of this build on files of the tests' own.
#include "toolkit/Folder.h"

#include "../unit/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <sys/wait.h>

namespace {

struct Outcome {
    int status;
    std::string out;
    std::string err;
};

class HollinTreeTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.Exists());
        const char* build = std::getenv("HOLLIN_BUILD_DIR");
        ASSERT_NE(build, nullptr) << "ctest sets HOLLIN_BUILD_DIR";
        program = std::string(build) + "/hollin-tree";
    }

    // Runs the program with `arguments` (shell words); standard output goes
    // to `output` when one is given.
    Outcome Tree(const std::string& arguments, const std::string& output = "") {
        std::string out = output.empty() ? dir.Path("stdout") : output;
        std::string command =
            "'" + program + "' " + arguments + " >'" + out + "' 2>'" + dir.Path("stderr") + "'";
        int status = std::system(command.c_str());
        // Output sent elsewhere (a device, say) is not read back.
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output.empty() ? ReadText(out) : "",
                ReadText(dir.Path("stderr"))};
    }

    std::string File(const std::string& content) {
        std::string path = dir.Path("tree.txt");
        WriteBytes(path, content);
        return "'" + path + "'";
    }

    TempDir dir;
    std::string program;
};

TEST_F(HollinTreeTest, CatWritesTheFileBackInItsNormalForm) {
    Outcome run = Tree("cat " + File("; a comment\r\n"
                                     "{ Sub: ignored\r\n"
                                     "  (INT)b=0x10\r\n"
                                     "[ Data[Raw]:\r\n"
                                     "0A\r\n"
                                     "] Data;\r\n"
                                     "} sub;\r\n"
                                     "\r\n"
                                     "(double)Size[x]=1.5E+000\r\n"
                                     "(int)Size=5\r\n"));
    EXPECT_EQ(run.status, 0) << run.err;
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
    Outcome run = Tree("cat " + File("garbage\n"
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
                                     "1\n"));
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "{ A:\n    (int)a=1\n    [ open:\n    1\n    ] open;\n} A;\n");
}

TEST_F(HollinTreeTest, CheckListsTheLinesItCannotRead) {
    Outcome clean = Tree("check " + File("(int)a=1\n; comment\n\n{ G:\n[ r:\nFF\n] r;\n} G;\n"));
    EXPECT_EQ(clean.status, 0);
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
    Outcome run = Tree("check " + file);
    EXPECT_EQ(run.status, 1);
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
    Outcome missing = Tree("cat '" + dir.Path("none.txt") + "'");
    EXPECT_EQ(missing.status, 2);
    EXPECT_EQ(missing.out, "");
    EXPECT_NE(missing.err.find("cannot read"), std::string::npos) << missing.err;

    EXPECT_EQ(Tree("check").status, 2);
    Outcome wrong = Tree("convert " + File(""));
    EXPECT_EQ(wrong.status, 2);
    EXPECT_NE(wrong.err.find("usage:"), std::string::npos);
    Outcome help = Tree("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("check FILE"), std::string::npos);
}

TEST_F(HollinTreeTest, AFullDiskIsReportedNotHidden) {
    Outcome run = Tree("cat " + File("(int)a=1\n"), "/dev/full");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("cannot write"), std::string::npos) << run.err;

    Folder folder("/dev/full");
    folder.SetFileBacked(1);
    folder.AddString("r", "some text", nullptr);
    EXPECT_EQ(folder.Save(), 0) << "the file opened, but nothing reached it";
}

} // namespace
