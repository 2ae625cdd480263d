// The registry key helper, on a private key of the current user.
#include "RegistryTestSupport.h"

#include "server/RegistryKey.h"

namespace {

class RegistryKeyTest : public RegistryTest {};

TEST_F(RegistryKeyTest, CreatingMakesTheWholePathAndMayWrite) {
    RegistryKey key(TRUE, HKEY_CURRENT_USER, Path("A\\B\\C").c_str());
    ASSERT_TRUE(key.IsOpen());
    EXPECT_EQ(key.GetMode(), RegistryKey::Writable);
    EXPECT_TRUE(key.SetString("Empty", ""));
    EXPECT_TRUE(key.SetString("Text", "value"));
    EXPECT_TRUE(key.QueryInfo());
    EXPECT_EQ(key.GetValueCount(), 2u);
    key.Close();
    EXPECT_FALSE(key.IsOpen());

    DWORD type = REG_NONE;
    EXPECT_EQ(ReadValue("A\\B\\C", "Empty", &type), std::vector<BYTE>(1, 0)) << "just the NUL";
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(ReadString("A\\B\\C", "Text"), "value");
}

TEST_F(RegistryKeyTest, OpeningReadOnlyNeverWrites) {
    RegistryKey missing(FALSE, HKEY_CURRENT_USER, Path("Missing").c_str());
    EXPECT_FALSE(missing.IsOpen());
    EXPECT_FALSE(missing.SetString("Name", "x"));
    EXPECT_FALSE(missing.QueryInfo());
    EXPECT_FALSE(KeyExists("Missing"));

    CreateKey("Present\\Sub");
    RegistryKey present(FALSE, HKEY_CURRENT_USER, Path("Present").c_str());
    ASSERT_TRUE(present.IsOpen());
    EXPECT_EQ(present.GetMode(), 0);
    EXPECT_EQ(present.GetSubkeyCount(), 1u) << "read when the key was opened";
    EXPECT_FALSE(present.SetString("Name", "x"));
    EXPECT_EQ(ReadString("Present", "Name"), "<missing>");
}

} // namespace
