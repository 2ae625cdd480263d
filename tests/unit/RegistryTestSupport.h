// A private corner of the registry for tests that write to it: keys below
// HKCU\Software\hollin-tests\<test name>, removed afterwards. On POSIX each
// test also gets a registry file of its own (HOLLIN_REGISTRY in a fresh
// temporary folder); on Windows the tests run against the real registry.
#pragma once

#include "platform/winapi.h"
#include "server/RegistrarScript.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#ifndef _WIN32
#include "TempDir.h"

#include <cstdlib>
#endif

class RegistryTest : public testing::Test {
protected:
    void SetUp() override {
#ifndef _WIN32
        ASSERT_TRUE(temporaryFolder.Exists());
        registryFile = temporaryFolder.Path("registry.reg");
        setenv("HOLLIN_REGISTRY", registryFile.c_str(), 1);
#endif
        base = std::string("Software\\hollin-tests\\") +
               testing::UnitTest::GetInstance()->current_test_info()->name();
        RegistrarScript::DeleteKeyTree(HKEY_CURRENT_USER, base.c_str());
    }

    void TearDown() override {
        RegistrarScript::DeleteKeyTree(HKEY_CURRENT_USER, "Software\\hollin-tests");
#ifndef _WIN32
        unsetenv("HOLLIN_REGISTRY");
#endif
    }

    // The path of a key below this test's own key.
    std::string Path(const std::string& below = "") const {
        return below.empty() ? base : base + "\\" + below;
    }

public:
    static bool Exists(HKEY root, const std::string& path) {
        HKEY key = nullptr;
        if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
            return false;
        }
        RegCloseKey(key);
        return true;
    }

    // A value's type and bytes; type REG_NONE with no bytes when it cannot
    // be read.
    static std::vector<BYTE> Read(HKEY root, const std::string& path, const char* name,
                                  DWORD* type = nullptr) {
        std::vector<BYTE> data(8192);
        DWORD size = DWORD(data.size());
        DWORD found = REG_NONE;
        HKEY key = nullptr;
        if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS ||
            RegQueryValueExA(key, name, nullptr, &found, data.data(), &size) != ERROR_SUCCESS) {
            size = 0;
            found = REG_NONE;
        }
        if (key != nullptr) {
            RegCloseKey(key);
        }
        data.resize(size);
        if (type != nullptr) {
            *type = found;
        }
        return data;
    }

    // A REG_SZ value without its NUL; "<missing>" when there is none.
    static std::string ReadText(HKEY root, const std::string& path, const char* name = nullptr) {
        DWORD type = REG_NONE;
        std::vector<BYTE> data = Read(root, path, name, &type);
        if (type != REG_SZ || data.empty()) {
            return "<missing>";
        }
        return std::string(data.begin(), data.end() - 1);
    }

    static void Create(HKEY root, const std::string& path) {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                                  nullptr),
                  ERROR_SUCCESS);
        RegCloseKey(key);
    }

protected:
    // The same, below this test's own key.
    bool KeyExists(const std::string& below) const {
        return Exists(HKEY_CURRENT_USER, Path(below));
    }
    void CreateKey(const std::string& below) const {
        Create(HKEY_CURRENT_USER, Path(below));
    }
    std::vector<BYTE> ReadValue(const std::string& below, const char* name,
                                DWORD* type = nullptr) const {
        return Read(HKEY_CURRENT_USER, Path(below), name, type);
    }
    std::string ReadString(const std::string& below, const char* name = nullptr) const {
        return ReadText(HKEY_CURRENT_USER, Path(below), name);
    }

    std::string base;
#ifndef _WIN32
    TempDir temporaryFolder;
    std::string registryFile;
#endif
};
