// The whois flow's settings as a test wants them: the settings key holds
// only what the test writes, and is removed afterwards. Natively the test
// also gets a registry file of its own (HOLLIN_REGISTRY), so nothing of the
// user's registry is read or changed.
#pragma once

#include "platform/winapi.h"
#include "protocol/WhoisSettings.h"

#include <gtest/gtest.h>

#include <string>

#ifndef _WIN32
#include "../TempDir.h"

#include <cstdlib>
#endif

class SettingsOverride {
public:
    SettingsOverride() {
#ifndef _WIN32
        setenv("HOLLIN_REGISTRY", folder.Path("registry.reg").c_str(), 1);
#endif
        RegDeleteTreeA(HKEY_CURRENT_USER, SettingsKeyPath);
        RegCreateKeyExA(HKEY_CURRENT_USER, SettingsKeyPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        &key, nullptr);
    }
    ~SettingsOverride() {
        RegCloseKey(key);
        RegDeleteTreeA(HKEY_CURRENT_USER, SettingsKeyPath);
#ifndef _WIN32
        unsetenv("HOLLIN_REGISTRY");
#endif
    }
    SettingsOverride(const SettingsOverride&) = delete;
    SettingsOverride& operator=(const SettingsOverride&) = delete;

    void SetText(const char* name, const std::string& value) {
        EXPECT_EQ(RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                 DWORD(value.size() + 1)),
                  ERROR_SUCCESS);
    }
    void SetNumber(const char* name, DWORD value) {
        EXPECT_EQ(RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                                 sizeof value),
                  ERROR_SUCCESS);
    }
    // A loopback default server, and RDAP off: a chain that ends without
    // an answer must not go on to IANA's bootstrap files.
    void SetDefaultServer(WORD port) {
        SetText("DefaultServer", "127.0.0.1:" + std::to_string(port));
        SetText("RdapBootstrap", "");
    }

private:
#ifndef _WIN32
    TempDir folder;
#endif
    HKEY key = nullptr;
};
