// The registry stand-in's file: its regedit text, a damaged or unreadable
// file, where it lives, and writers that run at the same time.
#include "RegistryTestSupport.h"
#include "NativeTestSupport.h"

#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <thread>

namespace {

class RegistryFile : public RegistryTest {
protected:
    HKEY Create(HKEY root, const std::string& path) {
        HKEY key = nullptr;
        EXPECT_EQ(RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                                  nullptr),
                  ERROR_SUCCESS);
        return key;
    }
    void Set(HKEY key, LPCSTR name, DWORD type, const std::string& bytes) {
        EXPECT_EQ(RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                                 DWORD(bytes.size())),
                  ERROR_SUCCESS);
    }
    std::string Query(HKEY root, const std::string& path, LPCSTR name, DWORD* type = nullptr) {
        HKEY key = nullptr;
        char data[4096];
        DWORD size = sizeof data;
        LONG status = RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key);
        if (status == ERROR_SUCCESS) {
            status =
                RegQueryValueExA(key, name, nullptr, type, reinterpret_cast<BYTE*>(data), &size);
            RegCloseKey(key);
        }
        return status == ERROR_SUCCESS ? std::string(data, size) : "<error>";
    }
    void ExpectAllKeys(int writers, int count, const std::string& prefix) {
        for (int w = 0; w < writers; ++w) {
            std::string writer = prefix + std::to_string(w);
            for (int i = 0; i < count; ++i) {
                std::string path =
                    "Software\\hollin-tests\\Writers\\" + writer + "\\K" + std::to_string(i);
                EXPECT_EQ(Query(HKEY_CURRENT_USER, path, "Writer"), writer + std::string(1, '\0'))
                    << path;
            }
        }
    }
};

TEST_F(RegistryFile, TheFileIsARegeditExport) {
    HKEY key = Create(HKEY_CLASSES_ROOT, "A");
    Set(key, nullptr, REG_SZ, std::string("say \"hi\" C:\\x", 14));
    Set(key, "Number", REG_DWORD, std::string("\x31\x01\x00\x00", 4));
    Set(key, "Bytes", REG_BINARY, "\x0a\xff");
    RegCloseKey(key);
    RegCloseKey(Create(HKEY_CURRENT_USER, "Software\\Empty"));
    EXPECT_EQ(::ReadText(registryFile), "REGEDIT4\n"
                                        "\n"
                                        "[HKEY_CLASSES_ROOT\\A]\n"
                                        "@=\"say \\\"hi\\\" C:\\\\x\"\n"
                                        "\"Number\"=dword:00000131\n"
                                        "\"Bytes\"=hex:0a,ff\n"
                                        "\n"
                                        "[HKEY_CURRENT_USER\\Software]\n"
                                        "\n"
                                        "[HKEY_CURRENT_USER\\Software\\Empty]\n"
                                        "\n");
}

TEST_F(RegistryFile, AFileWrittenByHandIsRead) {
    WriteBytes(registryFile, "REGEDIT4\r\n"
                             "; written by hand\r\n"
                             "[HKEY_LOCAL_MACHINE\\Software\\Tool]\r\n"
                             "@=\"x\"\r\n"
                             "\"Path\"=hex(2):25,00,\\\r\n"
                             "  41,00\r\n"
                             "\"Name\"=\"a \\\"b\\\"\"\r\n"
                             "\r\n"
                             "[hkey_local_machine\\software\\tool\\Sub]\r\n");
    DWORD type = 0;
    EXPECT_EQ(Query(HKEY_LOCAL_MACHINE, "Software\\Tool", "Path", &type), std::string("%\0A\0", 4));
    EXPECT_EQ(type, DWORD(REG_EXPAND_SZ));
    EXPECT_EQ(Query(HKEY_LOCAL_MACHINE, "SOFTWARE\\TOOL", "Name"), std::string("a \"b\"\0", 6));
    EXPECT_EQ(Query(HKEY_LOCAL_MACHINE, "Software\\Tool\\Sub", nullptr), "<error>")
        << "a key without values";

    // A change writes the whole registry back in the same terms.
    RegCloseKey(Create(HKEY_LOCAL_MACHINE, "Software\\Other"));
    EXPECT_EQ(Query(HKEY_LOCAL_MACHINE, "Software\\Tool", "Path", &type), std::string("%\0A\0", 4));
    EXPECT_EQ(type, DWORD(REG_EXPAND_SZ));
}

TEST_F(RegistryFile, ValuesTheQuotedFormCannotHoldKeepTheirBytes) {
    HKEY key = Create(HKEY_CURRENT_USER, "Software\\Odd");
    const std::string lineBreak("two\nlines", 10);
    const std::string unterminated = "no NUL";
    const std::string longBinary(100, '\x5a');
    Set(key, "LineBreak", REG_SZ, lineBreak);
    Set(key, "Unterminated", REG_SZ, unterminated);
    Set(key, "Long", REG_BINARY, longBinary);
    Set(key, "Short", REG_DWORD, "\x01\x02");
    RegCloseKey(key);
    EXPECT_EQ(Query(HKEY_CURRENT_USER, "Software\\Odd", "LineBreak"), lineBreak);
    EXPECT_EQ(Query(HKEY_CURRENT_USER, "Software\\Odd", "Unterminated"), unterminated);
    EXPECT_EQ(Query(HKEY_CURRENT_USER, "Software\\Odd", "Long"), longBinary);
    DWORD type = 0;
    EXPECT_EQ(Query(HKEY_CURRENT_USER, "Software\\Odd", "Short", &type), "\x01\x02");
    EXPECT_EQ(type, DWORD(REG_DWORD));
    std::string text = ::ReadText(registryFile);
    EXPECT_NE(text.find("\"LineBreak\"=hex(1):"), std::string::npos);
    EXPECT_NE(text.find(",\\\n  5a"), std::string::npos) << "long lists wrap as regedit's do";
}

TEST_F(RegistryFile, ADamagedFileIsReportedAndNeverReplaced) {
    const char* damaged[] = {
        "REGEDIT5\n",
        "REGEDIT4\n[HKEY_NOWHERE\\A]\n",
        "REGEDIT4\n\"Orphan\"=\"value before any key\"\n",
        "REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"Name\"=\"unterminated\n",
        "REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"Name\"=dword:123456789\n",
        "REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"Name\"=hex:1,zz\n",
        "REGEDIT4\n[HKEY_CURRENT_USER\\A\\\\B]\n",
    };
    for (const char* text : damaged) {
        WriteBytes(registryFile, text);
        HKEY key = nullptr;
        EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\New", 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, &key, nullptr),
                  ERROR_BADDB)
            << text;
        EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "A", 0, KEY_READ, &key), ERROR_BADDB) << text;
        EXPECT_EQ(::ReadText(registryFile), text) << "the file is left as it was";
    }

    std::remove(registryFile.c_str());
    ASSERT_EQ(mkdir(registryFile.c_str(), 0700), 0);
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "A", 0, KEY_READ, &key), ERROR_CANTREAD);
    rmdir(registryFile.c_str());
}

// A file left alone for a while is kept once read; another process's change
// must still be seen by the next call, whether it replaced the file or
// rewrote it in place, and with the same length.
TEST_F(RegistryFile, AKeptFileGivesWayToAChangedOne) {
    auto fileWith = [](const char* value) {
        return std::string("REGEDIT4\n\n[HKEY_CURRENT_USER\\A]\n\"Name\"=\"") + value + "\"\n\n";
    };
    auto settle = [] { std::this_thread::sleep_for(std::chrono::milliseconds(2100)); };
    WriteBytes(registryFile, fileWith("one"));
    settle();
    EXPECT_EQ(Query(HKEY_CURRENT_USER, "A", "Name"), std::string("one\0", 4));
    EXPECT_EQ(Query(HKEY_CURRENT_USER, "A", "Name"), std::string("one\0", 4)) << "kept";
    WriteBytes(registryFile + ".new", fileWith("two"));
    ASSERT_EQ(std::rename((registryFile + ".new").c_str(), registryFile.c_str()), 0);
    EXPECT_EQ(Query(HKEY_CURRENT_USER, "A", "Name"), std::string("two\0", 4)) << "replaced";

    settle();
    EXPECT_EQ(Query(HKEY_CURRENT_USER, "A", "Name"), std::string("two\0", 4));
    WriteBytes(registryFile, fileWith("six")); // in place: the same file, the same length
    EXPECT_EQ(Query(HKEY_CURRENT_USER, "A", "Name"), std::string("six\0", 4)) << "rewritten";
}

TEST_F(RegistryFile, ItLivesInTheUsersDataFolderByDefault) {
    unsetenv("HOLLIN_REGISTRY");
    setenv("XDG_DATA_HOME", temporaryFolder.Path("data").c_str(), 1);
    RegCloseKey(Create(HKEY_CURRENT_USER, "Software\\Placed"));
    EXPECT_NE(::ReadText(temporaryFolder.Path("data/hollin/registry.reg")).find("Placed"),
              std::string::npos);

    const char* home = getenv("HOME");
    std::string savedHome = home != nullptr ? home : "";
    unsetenv("XDG_DATA_HOME");
    setenv("HOME", temporaryFolder.Path("home").c_str(), 1);
    RegCloseKey(Create(HKEY_CURRENT_USER, "Software\\AtHome"));
    setenv("HOME", savedHome.c_str(), 1);
    EXPECT_NE(
        ::ReadText(temporaryFolder.Path("home/.local/share/hollin/registry.reg")).find("AtHome"),
        std::string::npos);
}

// Each writer creates its own keys with values, one change at a time.
void writeKeys(const std::string& writer, int count) {
    for (int i = 0; i < count; ++i) {
        std::string path = "Software\\hollin-tests\\Writers\\" + writer + "\\K" + std::to_string(i);
        HKEY key = nullptr;
        if (RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            &key, nullptr) == ERROR_SUCCESS) {
            RegSetValueExA(key, "Writer", 0, REG_SZ, reinterpret_cast<const BYTE*>(writer.c_str()),
                           DWORD(writer.size() + 1));
            RegCloseKey(key);
        }
    }
}

TEST_F(RegistryFile, ProcessesWritingAtOnceLoseNothing) {
    const int writers = 8;
    const int count = 15;
    std::vector<pid_t> children;
    for (int w = 0; w < writers; ++w) {
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            writeKeys("P" + std::to_string(w), count);
            _exit(0);
        }
        children.push_back(child);
    }
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    ExpectAllKeys(writers, count, "P");
}

TEST_F(RegistryFile, ThreadsWritingAtOnceLoseNothing) {
    const int writers = 8;
    const int count = 15;
    std::vector<std::thread> threads;
    for (int w = 0; w < writers; ++w) {
        threads.emplace_back(writeKeys, "T" + std::to_string(w), count);
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    ExpectAllKeys(writers, count, "T");
}

} // namespace
