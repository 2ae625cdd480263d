// The registry script language, applied to a private key of the current
// user (the real registry under Wine, a file of the test's own on POSIX).
#include "RegistryTestSupport.h"

#include <memory>

namespace {

class RegistrarScriptTest : public RegistryTest {
protected:
    void SetUp() override {
        RegistryTest::SetUp();
        script.reset(new RegistrarScript());
    }

    // A root block whose statements run inside the test's own key.
    std::string RootBlock(const std::string& body) const {
        std::string name = testing::UnitTest::GetInstance()->current_test_info()->name();
        return "HKCU\r\n{\r\n\tNoRemove Software\r\n\t{\r\n\t\tNoRemove hollin-tests\r\n\t\t{\r\n"
               "\t\t\tNoRemove '" +
               name + "'\r\n\t\t\t{\r\n" + body + "\r\n\t\t\t}\r\n\t\t}\r\n\t}\r\n}\r\n";
    }

    HRESULT Register(const std::string& body) {
        return script->ApplyText(RootBlock(body).c_str(), TRUE);
    }
    HRESULT Unregister(const std::string& body) {
        return script->ApplyText(RootBlock(body).c_str(), FALSE);
    }

    std::unique_ptr<RegistrarScript> script;
};

TEST_F(RegistrarScriptTest, VariablesExpandAnywhere) {
    ASSERT_EQ(script->AddReplacement(WIDE_TEXT("Module"), WIDE_TEXT("C:\\lib\\hollin.dll")), S_OK);
    ASSERT_EQ(script->AddReplacement(WIDE_TEXT("Key"), WIDE_TEXT("Named")), S_OK);
    EXPECT_EQ(Register("A = s '%MODULE%'\r\nB = s '%module% at 100%%'\r\n%KEY% = s 'x'"), S_OK);
    EXPECT_EQ(ReadString("A"), "C:\\lib\\hollin.dll");
    EXPECT_EQ(ReadString("B"), "C:\\lib\\hollin.dll at 100%");
    EXPECT_TRUE(KeyExists("Named"));
}

TEST_F(RegistrarScriptTest, BadVariablesFailBeforeAnythingIsWritten) {
    std::string longest(RegistrarScript::MaxVariableName, 'v');
    ASSERT_EQ(
        script->AddReplacement(std::basic_string<OLECHAR>(longest.begin(), longest.end()).c_str(),
                               WIDE_TEXT("fits")),
        S_OK);
    EXPECT_EQ(Register("A = s '%" + longest + "%'"), S_OK);
    EXPECT_EQ(ReadString("A"), "fits");

    EXPECT_EQ(Register("B = s '%UNKNOWN%'"), DISP_E_EXCEPTION);
    EXPECT_EQ(Register("B = s '%" + longest + "w%'"), E_FAIL) << "a 32-byte name";
    EXPECT_EQ(Register("B = s 'x'\r\n%"), DISP_E_EXCEPTION) << "a lone % at the end";
    EXPECT_FALSE(KeyExists("B"));
}

TEST_F(RegistrarScriptTest, QuotedTokensKeepBlanksBracesAndDoubledQuotes) {
    EXPECT_EQ(Register("'a b {c} = d' = s 'it''s'\r\nE = s ''\r\n''''''''"), S_OK);
    EXPECT_EQ(ReadString("a b {c} = d"), "it's");
    EXPECT_EQ(ReadString("E"), "");
    EXPECT_TRUE(KeyExists("'''")) << "each doubled quote is one quote";
    EXPECT_EQ(Register("F = s 'unclosed"), DISP_E_EXCEPTION);
}

TEST_F(RegistrarScriptTest, OnlyBlanksSeparateTokens) {
    EXPECT_EQ(Register("CLSID=s 'x'"), S_OK);
    EXPECT_TRUE(KeyExists("CLSID=s")) << "one key name";
    EXPECT_TRUE(KeyExists("x")) << "and the next statement";
    EXPECT_EQ(ReadString("CLSID=s"), "<missing>");
}

TEST_F(RegistrarScriptTest, OnlyALoneBraceOpensABlock) {
    EXPECT_EQ(Register("A = s 'a'\r\n{5D1C7E2F-83A4-4B61-9E07-2C44D8A1B6F3} = s 'b'\r\n"
                       "C\r\n{\r\n\tD = s 'd'\r\n}"),
              S_OK);
    EXPECT_EQ(ReadString("{5D1C7E2F-83A4-4B61-9E07-2C44D8A1B6F3}"), "b") << "a sibling of A";
    EXPECT_EQ(ReadString("C\\D"), "d");
}

TEST_F(RegistrarScriptTest, ValueTypes) {
    EXPECT_EQ(Register("A = s 'text'\r\nB = d '305'\r\nC = b '0aFf'\r\nE = b ''\r\n"
                       "F\r\n{\r\n\tval Named = D ' 42 '\r\n}"),
              S_OK);
    DWORD type = 0;
    std::vector<BYTE> data = ReadValue("B", nullptr, &type);
    ASSERT_EQ(type, REG_DWORD);
    ASSERT_EQ(data.size(), 4u);
    EXPECT_EQ(data[0] | (data[1] << 8), 305);
    EXPECT_EQ(ReadValue("C", nullptr, &type), (std::vector<BYTE>{0x0A, 0xFF}));
    EXPECT_EQ(type, REG_BINARY);
    EXPECT_TRUE(ReadValue("E", nullptr, &type).empty());
    EXPECT_EQ(type, REG_BINARY) << "an empty binary value exists";
    EXPECT_EQ(ReadValue("F", "Named", &type)[0], 42);
    EXPECT_EQ(type, REG_DWORD);
}

TEST_F(RegistrarScriptTest, ValuesTheScriptCannotExpressFail) {
    EXPECT_EQ(Register("A = b 'abc'"), E_FAIL) << "odd number of hex digits";
    EXPECT_EQ(Register("A = x 'abc'"), DISP_E_EXCEPTION) << "unknown type";
    EXPECT_EQ(Register("A = d 'many'"), DISP_E_EXCEPTION) << "no number";
    EXPECT_EQ(Register("A = d '4294967296'"), DISP_E_EXCEPTION) << "too big for 32 bits";
    EXPECT_FALSE(KeyExists("A")) << "each failure reverted the block";
}

TEST_F(RegistrarScriptTest, SyntaxErrors) {
    EXPECT_EQ(script->ApplyText("", TRUE), S_OK) << "an empty script does nothing";
    EXPECT_EQ(script->ApplyText(" \r\n\t", TRUE), DISP_E_EXCEPTION) << "blanks only";
    EXPECT_EQ(script->ApplyText("HKXX { }", TRUE), DISP_E_EXCEPTION) << "unknown root";
    EXPECT_EQ(script->ApplyText("HKCU A", TRUE), DISP_E_EXCEPTION) << "no block";
    EXPECT_EQ(Register("A\\B = s 'x'"), DISP_E_EXCEPTION) << "a backslash in a key name";
    EXPECT_EQ(Register("A\r\n{\r\n\tval Name s 'x'\r\n}"), DISP_E_EXCEPTION) << "Val without =";
    EXPECT_EQ(Register("A\r\n{\r\n\tval Name = s 'x'\r\n\t{\r\n\t}\r\n}"), DISP_E_EXCEPTION)
        << "a block after Val";
    EXPECT_EQ(Register("Delete A\r\n{\r\n}"), DISP_E_EXCEPTION) << "a block after Delete";
    EXPECT_EQ(Register("A\r\n{\r\n\tB = s 'x'"), DISP_E_EXCEPTION) << "an unclosed block";
    EXPECT_FALSE(KeyExists("A"));
}

TEST_F(RegistrarScriptTest, OverLongTokensAreRefusedNotCut) {
    std::string fits(RegistrarScript::TokenSize - 1, 'n');
    std::string quotedFits(RegistrarScript::TokenSize - 2, 'q');
    EXPECT_EQ(Register("A = s '" + quotedFits + "'"), S_OK);
    EXPECT_EQ(ReadString("A"), quotedFits);
    EXPECT_EQ(Register("A = s '" + quotedFits + "q'"), DISP_E_EXCEPTION);
    EXPECT_EQ(Register("A = s " + fits), S_OK) << "an unquoted value";
    EXPECT_EQ(ReadString("A"), fits);
    EXPECT_EQ(Register("A = s " + fits + "n"), DISP_E_EXCEPTION);

    std::string name(RegistrarScript::ValueNameSize - 1, 'v');
    EXPECT_EQ(Register("B\r\n{\r\n\tval " + name + " = s 'x'\r\n}"), S_OK);
    EXPECT_EQ(ReadString("B", name.c_str()), "x");
    EXPECT_EQ(Register("C\r\n{\r\n\tval " + name + "v = s 'x'\r\n}"), DISP_E_EXCEPTION);
    EXPECT_FALSE(KeyExists("C"));
}

TEST_F(RegistrarScriptTest, ForceRemoveRebuildsTheTreeButSparesProtectedNames) {
    CreateKey("X\\Old\\Deeper");
    CreateKey("CLSID\\Foreign");
    CreateKey("TypeLib\\Foreign");
    EXPECT_EQ(Register("ForceRemove X = s 'new'\r\n{\r\n\tY = s 'y'\r\n}\r\n"
                       "ForceRemove CLSID\r\n{\r\n\tMine = s 'm'\r\n}\r\n"
                       "ForceRemove typelib"),
              S_OK);
    EXPECT_FALSE(KeyExists("X\\Old"));
    EXPECT_EQ(ReadString("X"), "new");
    EXPECT_EQ(ReadString("X\\Y"), "y");
    EXPECT_TRUE(KeyExists("CLSID\\Foreign"));
    EXPECT_TRUE(KeyExists("CLSID\\Mine"));
    EXPECT_TRUE(KeyExists("TypeLib\\Foreign"));
}

TEST_F(RegistrarScriptTest, DeleteRemovesATreeAndCreatesNothing) {
    CreateKey("Gone\\Below");
    EXPECT_EQ(Register("Delete Gone = s 'ignored'\r\nKept = s 'k'"), S_OK);
    EXPECT_FALSE(KeyExists("Gone"));
    EXPECT_EQ(ReadString("Kept"), "k");
}

const char* const classScript = "A = s 'a'\r\n"
                                "{\r\n"
                                "\tB = s 'b'\r\n"
                                "\tC\r\n"
                                "\t{\r\n"
                                "\t\tval Threading = s 'Apartment'\r\n"
                                "\t}\r\n"
                                "\tD = s 'd'\r\n"
                                "}\r\n"
                                "E = s 'e'";

TEST_F(RegistrarScriptTest, UnregisterRemovesWhatRegisterWrote) {
    ASSERT_EQ(Register(classScript), S_OK);
    EXPECT_EQ(ReadString("A\\C", "Threading"), "Apartment");
    EXPECT_EQ(Unregister(classScript), S_OK);
    EXPECT_FALSE(KeyExists("A"));
    EXPECT_FALSE(KeyExists("E"));
    EXPECT_TRUE(KeyExists("")) << "NoRemove kept the test's own key";
    EXPECT_EQ(Unregister(classScript), S_OK) << "a second pass finds everything gone";
}

TEST_F(RegistrarScriptTest, UnregisterKeepsKeysWithForeignSubkeys) {
    ASSERT_EQ(Register(classScript), S_OK);
    CreateKey("A\\C\\Foreign");
    CreateKey("E\\E");
    EXPECT_EQ(Unregister(classScript), S_OK);
    EXPECT_TRUE(KeyExists("A\\C\\Foreign"));
    EXPECT_EQ(ReadString("A\\C", "Threading"), "<missing>") << "the script's value went";
    EXPECT_FALSE(KeyExists("A\\B"));
    EXPECT_FALSE(KeyExists("A\\D"));
    EXPECT_TRUE(KeyExists("E\\E")) << "a foreign subkey of the same name is kept too";
}

TEST_F(RegistrarScriptTest, UnregisterGoesOnPastKeysAlreadyGone) {
    ASSERT_EQ(Register(classScript), S_OK);
    ASSERT_EQ(RegistrarScript::DeleteKeyTree(HKEY_CURRENT_USER, Path("A\\B").c_str()),
              ERROR_SUCCESS);
    EXPECT_EQ(Unregister(classScript), S_OK);
    EXPECT_FALSE(KeyExists("A\\C")) << "the key after a missing one is still looked up";
    EXPECT_FALSE(KeyExists("A"));
    EXPECT_FALSE(KeyExists("E"));

    ASSERT_EQ(Register(classScript), S_OK);
    ASSERT_EQ(RegistrarScript::DeleteKeyTree(HKEY_CURRENT_USER, Path("A").c_str()), ERROR_SUCCESS);
    EXPECT_EQ(Unregister(classScript), S_OK) << "nothing inside a missing key is touched";
    EXPECT_FALSE(KeyExists("E")) << "and the script is read on correctly after its block";
}

TEST_F(RegistrarScriptTest, NoRemoveKeepsItsKeyAndTheRestOfItsBlock) {
    const std::string body = "A = s 'a'\r\nNoRemove B = s 'b'\r\nC = s 'c'\r\n"
                             "D\r\n{\r\n\tE = s 'e'\r\n}";
    ASSERT_EQ(Register(body), S_OK);
    EXPECT_EQ(Unregister(body), S_OK);
    EXPECT_FALSE(KeyExists("A"));
    EXPECT_TRUE(KeyExists("B"));
    EXPECT_TRUE(KeyExists("C"));
    EXPECT_TRUE(KeyExists("D"));
    EXPECT_FALSE(KeyExists("D\\E")) << "inside a block of its own, keys go again";
}

TEST_F(RegistrarScriptTest, AFailingRootBlockIsRevertedAndEarlierOnesStay) {
    std::string tooLong(300, 'k'); // longer than any registry key name
    std::string text = RootBlock("First = s '1'") +
                       RootBlock("Second = s '2'\r\nThird\r\n{\r\n\t" + tooLong + " = s 'x'\r\n}");
    EXPECT_EQ(script->ApplyText(text.c_str(), TRUE), DISP_E_EXCEPTION);
    EXPECT_EQ(ReadString("First"), "1");
    EXPECT_FALSE(KeyExists("Second"));
    EXPECT_FALSE(KeyExists("Third"));
}

TEST_F(RegistrarScriptTest, DeleteKeyTreeRemovesEverythingBelow) {
    CreateKey("T\\A\\B\\C");
    CreateKey("T\\D");
    EXPECT_EQ(RegistrarScript::DeleteKeyTree(HKEY_CURRENT_USER, Path("T").c_str()), ERROR_SUCCESS);
    EXPECT_FALSE(KeyExists("T"));
    EXPECT_EQ(RegistrarScript::DeleteKeyTree(HKEY_CURRENT_USER, Path("T").c_str()),
              ERROR_FILE_NOT_FOUND);
}

} // namespace
