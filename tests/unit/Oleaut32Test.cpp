// What hollin relies on from oleaut32's strings and number conversion, run
// against Wine's and against the stand-ins alike.
#include "platform/winapi.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

namespace {

HRESULT toNumber(const char* text, ULONG& number) {
    std::basic_string<OLECHAR> wide(text, text + std::char_traits<char>::length(text));
    number = 0xDEADBEEF;
    return VarUI4FromStr(&wide[0], 0, 0, &number);
}

TEST(Oleaut32Numbers, TextsThatAreNumbers) {
    const struct {
        const char* text;
        ULONG number;
    } cases[] = {{"305", 305},
                 {" 42 ", 42},
                 {"+7", 7},
                 {"1,000", 1000},
                 {"2.5", 2},
                 {"3.5", 4},
                 {"2.51", 3},
                 {"0.4", 0},
                 {"1e3", 1000},
                 {"&HFF", 255},
                 {"&o17", 15},
                 {"-0", 0},
                 {"4294967295", 4294967295u},
                 {"00012", 12}};
    for (const auto& test : cases) {
        ULONG number = 0;
        EXPECT_EQ(toNumber(test.text, number), S_OK) << test.text;
        EXPECT_EQ(number, test.number) << test.text;
    }
}

TEST(Oleaut32Numbers, TextsThatAreNot) {
    ULONG number = 0;
    EXPECT_EQ(toNumber("", number), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(toNumber("abc", number), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(toNumber("12abc", number), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(toNumber("-1", number), DISP_E_OVERFLOW);
    EXPECT_EQ(toNumber("4294967296", number), DISP_E_OVERFLOW);
    EXPECT_EQ(number, 0xDEADBEEFu) << "a failed conversion writes nothing";
}

TEST(Oleaut32Strings, LengthIsKeptBesideTheText) {
    BSTR text = SysAllocString(WIDE_TEXT("hollin"));
    ASSERT_NE(text, nullptr);
    uint32_t bytes = 0;
    std::memcpy(&bytes, reinterpret_cast<const char*>(text) - sizeof bytes, sizeof bytes);
    EXPECT_EQ(bytes, 6 * sizeof(OLECHAR)) << "the byte count before the text";
    EXPECT_EQ(text[6], 0);
    SysFreeString(text);
    EXPECT_EQ(SysAllocString(nullptr), nullptr);
    SysFreeString(nullptr);
}

} // namespace

namespace {

TEST(Ole32, ClassIdentifiersReadFromText) {
    CLSID classId = {};
    EXPECT_EQ(CLSIDFromString(WIDE_TEXT("{5D1C7E2F-83A4-4B61-9E07-2C44D8A1B6F3}"), &classId), S_OK);
    const CLSID expected = {
        0x5D1C7E2F, 0x83A4, 0x4B61, {0x9E, 0x07, 0x2C, 0x44, 0xD8, 0xA1, 0xB6, 0xF3}};
    EXPECT_TRUE(IsEqualCLSID(classId, expected));
    EXPECT_EQ(CLSIDFromString(WIDE_TEXT("{5D1C7E2F-83A4-4B61-9E07-2C44D8A1B6FZ}"), &classId),
              CO_E_CLASSSTRING);
    EXPECT_EQ(CLSIDFromString(WIDE_TEXT("{5D1C7E2F-83A4-4B61-9E07}"), &classId), CO_E_CLASSSTRING);
}

} // namespace
