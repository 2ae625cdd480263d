// The platform layer's file calls made to fail, one at a time: the registry
// file and a saved tree file keep what they held, no temporary file is left
// beside them, and the failure says which call failed on which path.
#include "RegistryTestSupport.h"
#include "toolkit/Folder.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace {

struct Fault {
    FileCall call;
    int error;
    const char* callName; // as the failure names it
};

// Each call a save makes, failing as a full or failing disk makes it fail.
const Fault SaveFaults[] = {
    {FileCallOpen, EACCES, "open("},
    {FileCallWrite, ENOSPC, "write("},
    {FileCallSync, EIO, "fsync("},
    {FileCallRename, EXDEV, "rename("},
};

std::string lastFileFailure() {
    char text[2048];
    GetLastFileFailure(text, sizeof text);
    return text;
}

// What is left beside `path` by a writer that did not finish.
bool temporaryFileBeside(const std::string& path) {
    return std::filesystem::exists(path + ".tmp");
}

void expectFailureNamed(const Fault& fault, const std::string& path) {
    std::string failure = lastFileFailure();
    EXPECT_EQ(failure.find(fault.callName), 0u) << failure;
    EXPECT_NE(failure.find(path), std::string::npos) << failure;
    EXPECT_NE(failure.find(std::strerror(fault.error)), std::string::npos) << failure;
}

class RegistryFileFaults : public RegistryTest {};

TEST_F(RegistryFileFaults, AFailedWriteLeavesThePreviousFileAndSaysWhichCallFailed) {
    CreateKey("Kept");
    const std::string before = ::ReadText(registryFile);
    ASSERT_NE(before.find("Kept"), std::string::npos);
    std::vector<Fault> faults(std::begin(SaveFaults), std::end(SaveFaults));
    faults.push_back({FileCallLock, ENOLCK, "flock("});
    for (const Fault& fault : faults) {
        InjectFileFault(fault.call, 1, fault.error);
        HKEY key = nullptr;
        LONG result = RegCreateKeyExA(HKEY_CURRENT_USER, Path("Lost").c_str(), 0, nullptr, 0,
                                      KEY_ALL_ACCESS, nullptr, &key, nullptr);
        InjectFileFault(fault.call, 0, 0);
        EXPECT_EQ(result, ERROR_CANTWRITE) << fault.callName;
        if (key != nullptr) {
            RegCloseKey(key);
        }
        EXPECT_EQ(::ReadText(registryFile), before) << fault.callName;
        EXPECT_FALSE(temporaryFileBeside(registryFile)) << fault.callName;
        expectFailureNamed(fault, registryFile);
    }
    CreateKey("Later");
    EXPECT_TRUE(KeyExists("Later")) << "no fault is left armed";
    EXPECT_EQ(lastFileFailure(), "") << "a change that succeeds forgets the last failure";
}

class TreeFileFaults : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.Exists()); }

    TempDir dir;
};

TEST_F(TreeFileFaults, AFailedSaveLeavesThePreviousFileAndSaysWhichCallFailed) {
    const std::string path = dir.Path("tree.txt");
    Folder folder(path.c_str());
    folder.SetFileBacked(1);
    folder.GetOrAddFolder("kept")->AddInt("a", 1, nullptr);
    ASSERT_EQ(folder.Save(), 1);
    const std::string before = ReadText(path);
    // More than one write's worth, so that a write fails with lines both
    // before and after it.
    for (int i = 0; i < 5000; ++i) {
        folder.GetOrAddFolder("lost")->AddString(("s" + std::to_string(i)).c_str(), "text",
                                                 nullptr);
    }
    for (const Fault& fault : SaveFaults) {
        InjectFileFault(fault.call, 1, fault.error);
        EXPECT_EQ(folder.Save(), 0) << fault.callName;
        InjectFileFault(fault.call, 0, 0);
        EXPECT_EQ(ReadText(path), before) << fault.callName;
        EXPECT_FALSE(temporaryFileBeside(path)) << fault.callName;
        expectFailureNamed(fault, path);
    }
    ASSERT_EQ(folder.Save(), 1);
    Folder loaded(path.c_str());
    loaded.SetFileBacked(1);
    ASSERT_EQ(loaded.Load(), 1);
    EXPECT_EQ(loaded.FolderByName("lost")->GetCount(), 5000);
}

TEST_F(TreeFileFaults, ASaveKeepsTheFilesPermissionsAndReplacesNoPipe) {
    const std::string path = dir.Path("private.txt");
    WriteBytes(path, "(int)a=1\n");
    ASSERT_EQ(chmod(path.c_str(), 0640), 0);
    Folder folder(path.c_str());
    folder.SetFileBacked(1);
    folder.AddInt("b", 2, nullptr);
    ASSERT_EQ(folder.Save(), 1);
    struct stat info {};
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);

    const std::string pipe = dir.Path("pipe");
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    Folder onPipe(pipe.c_str());
    onPipe.SetFileBacked(1);
    onPipe.AddInt("a", 1, nullptr);
    EXPECT_EQ(onPipe.Save(), 0);
    ASSERT_EQ(stat(pipe.c_str(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode)) << "a device or pipe is not replaced by a file";
    EXPECT_FALSE(temporaryFileBeside(pipe));
}

} // namespace
