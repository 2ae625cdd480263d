// What hollin relies on from the registry calls. These run against the real
// registry under Wine and against the stand-in on Linux, so that both answer
// alike.
#include "RegistryTestSupport.h"

#include <string>

namespace {

class Advapi32Registry : public RegistryTest {
protected:
    HKEY Open(const std::string& below, REGSAM access) {
        HKEY key = nullptr;
        EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, Path(below).c_str(), 0, access, &key),
                  ERROR_SUCCESS);
        return key;
    }
    LONG SetText(HKEY key, LPCSTR name, const std::string& text) {
        return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                              DWORD(text.size() + 1));
    }
};

TEST_F(Advapi32Registry, CreateTellsANewKeyFromAnExistingOne) {
    HKEY key = nullptr;
    DWORD disposition = 0;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, Path("New").c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, DWORD(REG_CREATED_NEW_KEY));
    RegCloseKey(key);
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, Path("new").c_str(), 0, nullptr, 0, KEY_READ,
                              nullptr, &key, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, DWORD(REG_OPENED_EXISTING_KEY)) << "names ignore case";
    RegCloseKey(key);

    HKEY parent = Open("", KEY_READ);
    char name[16];
    DWORD length = sizeof name;
    EXPECT_EQ(RegEnumKeyExA(parent, 0, name, &length, nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(std::string(name), "New") << "and keep the case they were created with";
    RegCloseKey(parent);
}

TEST_F(Advapi32Registry, MissingKeysAndValuesAreNotFound) {
    CreateKey("Key");
    HKEY key = Open("Key", KEY_ALL_ACCESS);
    HKEY missing = nullptr;
    EXPECT_EQ(RegOpenKeyExA(key, "Missing", 0, KEY_READ, &missing), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegQueryValueExA(key, "Missing", nullptr, nullptr, nullptr, nullptr),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegQueryValueExA(key, nullptr, nullptr, nullptr, nullptr, nullptr),
              ERROR_FILE_NOT_FOUND)
        << "no default value was set";
    EXPECT_EQ(RegDeleteValueA(key, "Missing"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteKeyA(key, "Missing"), ERROR_FILE_NOT_FOUND);
    RegCloseKey(key);
}

TEST_F(Advapi32Registry, QueryValueReportsSizesAndTooSmallBuffers) {
    CreateKey("Key");
    HKEY key = Open("Key", KEY_ALL_ACCESS);
    ASSERT_EQ(SetText(key, nullptr, "default"), ERROR_SUCCESS);
    ASSERT_EQ(SetText(key, "Name", "abc"), ERROR_SUCCESS);

    DWORD type = 0;
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExA(key, "name", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, DWORD(REG_SZ));
    EXPECT_EQ(size, 4u);
    BYTE small[2];
    size = sizeof small;
    EXPECT_EQ(RegQueryValueExA(key, "Name", nullptr, nullptr, small, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 4u);
    BYTE fits[4];
    size = sizeof fits;
    EXPECT_EQ(RegQueryValueExA(key, "Name", nullptr, nullptr, fits, &size), ERROR_SUCCESS);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(fits)), "abc");
    EXPECT_EQ(ReadString("Key", ""), "default") << "the empty name is the default value";
    RegCloseKey(key);
}

TEST_F(Advapi32Registry, AReadOnlyHandleCannotChangeValues) {
    CreateKey("Key");
    HKEY writable = Open("Key", KEY_ALL_ACCESS);
    SetText(writable, "Name", "x");
    HKEY key = Open("Key", KEY_READ);
    EXPECT_EQ(SetText(key, "Name", "y"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteValueA(key, "Name"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(ReadString("Key", "Name"), "x");
    HKEY child = nullptr;
    EXPECT_EQ(
        RegCreateKeyExA(key, "Child", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &child, nullptr),
        ERROR_SUCCESS)
        << "the new key's own rights count, not the parent handle's";
    RegCloseKey(child);
    RegCloseKey(key);
    RegCloseKey(writable);
}

TEST_F(Advapi32Registry, AKeyWithSubkeysIsNotDeletedAlone) {
    CreateKey("Parent\\Child");
    HKEY base = Open("", KEY_ALL_ACCESS);
    EXPECT_EQ(RegDeleteKeyA(base, "Parent"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteKeyA(base, "Parent\\Child"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKeyA(base, "Parent"), ERROR_SUCCESS);
    RegCloseKey(base);
}

TEST_F(Advapi32Registry, EnumerationAndInfo) {
    CreateKey("Key\\gamma");
    CreateKey("Key\\Alpha");
    CreateKey("Key\\beta");
    HKEY key = Open("Key", KEY_ALL_ACCESS);
    SetText(key, nullptr, "d");
    SetText(key, "LongerName", "0123456789");

    const char* expected[] = {"Alpha", "beta", "gamma"};
    char name[64];
    DWORD length = 0;
    for (DWORD i = 0; i < 3; ++i) {
        length = sizeof name;
        ASSERT_EQ(RegEnumKeyExA(key, i, name, &length, nullptr, nullptr, nullptr, nullptr),
                  ERROR_SUCCESS);
        EXPECT_EQ(std::string(name), expected[i]) << "in order of their names";
        EXPECT_EQ(length, DWORD(std::string(name).size()));
    }
    length = sizeof name;
    EXPECT_EQ(RegEnumKeyExA(key, 3, name, &length, nullptr, nullptr, nullptr, nullptr),
              ERROR_NO_MORE_ITEMS);
    length = 3;
    EXPECT_EQ(RegEnumKeyExA(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr),
              ERROR_MORE_DATA);

    DWORD type = 0;
    DWORD values = 0;
    for (DWORD i = 0;; ++i) {
        length = sizeof name;
        LONG status = RegEnumValueA(key, i, name, &length, nullptr, &type, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS) {
            break;
        }
        ASSERT_EQ(status, ERROR_SUCCESS);
        EXPECT_EQ(type, DWORD(REG_SZ));
        ++values;
    }
    EXPECT_EQ(values, 2u) << "the default value is enumerated too";

    DWORD subkeys = 0;
    DWORD longestSubkey = 0;
    DWORD longestName = 0;
    ASSERT_EQ(RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subkeys, &longestSubkey, nullptr,
                               &values, &longestName, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(subkeys, 3u);
    EXPECT_EQ(longestSubkey, 5u);
    EXPECT_EQ(values, 2u);
    EXPECT_EQ(longestName, 10u);
    RegCloseKey(key);
}

TEST_F(Advapi32Registry, AHandleToADeletedKeyStaysDead) {
    CreateKey("Key");
    HKEY key = Open("Key", KEY_ALL_ACCESS);
    HKEY base = Open("", KEY_ALL_ACCESS);
    ASSERT_EQ(RegDeleteKeyA(base, "Key"), ERROR_SUCCESS);
    EXPECT_EQ(SetText(key, "Name", "x"), ERROR_KEY_DELETED);
    CreateKey("Key");
    EXPECT_EQ(SetText(key, "Name", "x"), ERROR_KEY_DELETED) << "a new key of the same name";
    EXPECT_EQ(ReadString("Key", "Name"), "<missing>");
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    RegCloseKey(base);
}

// Windows refuses names over 255 characters; Wine draws its line further
// out, so only a name far too long is refused by both.
TEST_F(Advapi32Registry, OverLongKeyNamesAreRefused) {
    CreateKey("");
    HKEY base = Open("", KEY_ALL_ACCESS);
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(base, std::string(255, 'k').c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_NE(RegCreateKeyExA(base, std::string(2000, 'k').c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(base);
}

} // namespace
