#include "toolkit/TypedValue.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

namespace {

TEST(TypedValue, SetIntConvertsToTheValuesOwnType) {
    TypedValue asFloat(1.5f);
    TypedValue asString("old");
    TypedValue asDouble(0.25);
    TypedValue asInt64(LONGLONG(9));
    TypedValue asBytes("ab", 2);
    TypedValue none;
    EXPECT_EQ(asFloat.SetInt(3), 3);
    EXPECT_EQ(asFloat.GetFloat(), 3.0f);
    asString.SetInt(3);
    EXPECT_STREQ(asString.GetString(), "3");
    asDouble.SetInt(3);
    EXPECT_EQ(asDouble.GetDouble(), 3.0);
    asInt64.SetInt(-3);
    EXPECT_EQ(asInt64.GetInt64(), -3) << "sign-extended";
    EXPECT_EQ(asBytes.SetInt(3), 0);
    EXPECT_EQ(asBytes.GetBytesSize(), 2);
    EXPECT_EQ(none.SetInt(3), 0);
    EXPECT_EQ(none.IsNull(), 1);
}

TEST(TypedValue, FloatsAndDoublesTruncateTowardZeroIntoIntegers) {
    TypedValue asInt(0);
    asInt.SetFloat(2.7f);
    EXPECT_EQ(asInt.GetInt(), 2);
    asInt.SetFloat(-2.7f);
    EXPECT_EQ(asInt.GetInt(), -2);
    asInt.SetDouble(1e10);
    EXPECT_EQ(asInt.GetInt(), 1410065408) << "the low 32 bits of 10000000000";

    TypedValue asInt64(LONGLONG(0));
    asInt64.SetDouble(1e300);
    EXPECT_EQ(asInt64.GetInt64(), std::numeric_limits<LONGLONG>::max()) << "defined, not wrapped";
    asInt64.SetDouble(std::nan(""));
    EXPECT_EQ(asInt64.GetInt64(), 0);

    TypedValue asString("");
    asString.SetDouble(3.14159265);
    EXPECT_STREQ(asString.GetString(), "3.14159");
    asString.SetDouble(1e-20);
    EXPECT_STREQ(asString.GetString(), "1e-20") << "two exponent digits on every platform";
    asString.SetInt64(-1);
    EXPECT_STREQ(asString.GetString(), "-1");
    asString.SetInt64(std::numeric_limits<LONGLONG>::min());
    EXPECT_STREQ(asString.GetString(), "-9223372036854775808");

    TypedValue asFloat(0.0f);
    asFloat.SetInt64(LONGLONG(1) << 40);
    EXPECT_EQ(asFloat.GetFloat(), 1099511627776.0f);
}

TEST(TypedValue, GettersOfAnotherTypeGiveTheirDefaults) {
    TypedValue asFloat(2.5f);
    EXPECT_EQ(asFloat.GetInt(), 0);
    EXPECT_EQ(asFloat.GetFloat(), 2.5f);
    EXPECT_EQ(asFloat.GetDouble(), 0.0);
    EXPECT_STREQ(asFloat.GetString(), "");
    EXPECT_EQ(asFloat.GetBytes(), nullptr);
    EXPECT_EQ(asFloat.GetBytesSize(), 0);
    EXPECT_EQ(asFloat.GetInt64(), 0);
}

TEST(TypedValue, SetFromTextReadsTheValuesOwnType) {
    TypedValue asInt(7);
    asInt.SetFromText("12abc");
    EXPECT_EQ(asInt.GetInt(), 12);
    asInt.SetFromText("abc");
    EXPECT_EQ(asInt.GetInt(), 0);
    asInt.SetFromText("99999999999");
    EXPECT_EQ(asInt.GetInt(), 2147483647) << "clamped, not wrapped";

    TypedValue asDouble(0.0);
    EXPECT_STREQ(asDouble.SetFromText("1.5"), "1.5");
    EXPECT_EQ(asDouble.GetDouble(), 1.5);
    TypedValue asFloat(0.0f);
    asFloat.SetFromText(" -0.5");
    EXPECT_EQ(asFloat.GetFloat(), -0.5f);
    TypedValue asInt64(LONGLONG(0));
    asInt64.SetFromText("-9000000000");
    EXPECT_EQ(asInt64.GetInt64(), -9000000000LL);

    TypedValue asString("x");
    EXPECT_EQ(asString.SetFromText(nullptr), nullptr);
    EXPECT_STREQ(asString.GetString(), "0") << "a null text acts as SetInt(0)";
    TypedValue asBytes(nullptr, 4);
    EXPECT_EQ(asBytes.SetFromText("1"), nullptr);
}

TEST(TypedValue, StringsAreNeverNull) {
    TypedValue fromNull(static_cast<LPCSTR>(nullptr));
    EXPECT_STREQ(fromNull.GetString(), "");
    TypedValue text("abc");
    text.SetString(nullptr);
    EXPECT_STREQ(text.GetString(), "");
    text.SetString("abc");
    text.SetString(text.GetString()); // its own text: must not read freed memory
    EXPECT_STREQ(text.GetString(), "abc");
    TypedValue number(1);
    EXPECT_EQ(number.SetString("x"), nullptr);
    EXPECT_EQ(number.GetInt(), 1);
}

TEST(TypedValue, ResizeBytesKeepsTheLeadingBytes) {
    const BYTE four[] = {1, 2, 3, 4};
    TypedValue bytes(four, 4);
    ASSERT_NE(bytes.ResizeBytes(2), nullptr);
    EXPECT_EQ(bytes.GetBytesSize(), 2);
    EXPECT_EQ(bytes.GetBytes()[1], 2);
    BYTE* grown = bytes.ResizeBytes(8);
    ASSERT_NE(grown, nullptr);
    EXPECT_EQ(std::memcmp(grown, four, 2), 0);
    EXPECT_EQ(bytes.GetBytesSize(), 8);
    EXPECT_EQ(bytes.ResizeBytes(-1), nullptr);
    EXPECT_EQ(bytes.GetBytesSize(), 8);
    EXPECT_EQ(bytes.ResizeBytes(0), nullptr);
    EXPECT_EQ(bytes.GetBytesSize(), 0);
    TypedValue number(1);
    EXPECT_EQ(number.ResizeBytes(4), nullptr);
}

TEST(TypedValue, SetTypeReleasesStorageAndExposesNoneOfIt) {
    TypedValue value(5);
    EXPECT_EQ(value.SetType(TypeString), TypeString);
    EXPECT_STREQ(value.GetString(), "");
    value.SetString("text");
    value.SetType(TypeInt64);
    EXPECT_EQ(value.GetInt64(), 0) << "not the released text's address";
    value.SetType(TypeBytes);
    EXPECT_EQ(value.GetBytes(), nullptr);
    EXPECT_EQ(value.GetBytesSize(), 0);

    TypedValue bits(1.0f);
    bits.SetType(TypeInt);
    EXPECT_EQ(bits.GetInt(), 0x3F800000) << "between numbers the bits stay";
}

TEST(TypedValue, ACloneOwnsItsOwnStorage) {
    const BYTE data[] = {9, 8, 7};
    TypedValue bytes(data, 3);
    bytes.SetName("raw");
    auto* copy = static_cast<TypedValue*>(bytes.Clone());
    ASSERT_NE(copy, nullptr);
    EXPECT_STREQ(copy->GetName(), "raw");
    copy->GetBytes()[0] = 0;
    EXPECT_EQ(bytes.GetBytes()[0], 9);
    delete copy;

    TypedValue text("abc");
    auto* textCopy = static_cast<TypedValue*>(text.Clone());
    text.SetString("changed");
    EXPECT_STREQ(textCopy->GetString(), "abc");
    delete textCopy;
}

TEST(TypedValue, InterfaceForwardsToTheValue) {
    TypedValue value(4);
    auto* slots = static_cast<ValueInterface*>(value.GetInterface(ValueInterfaceId));
    ASSERT_NE(slots, nullptr);
    EXPECT_EQ(slots->SetDouble(2.9), 2.9);
    EXPECT_EQ(slots->GetInt(), 2);
    EXPECT_EQ(slots->IsNull(), 0);
    ObjectInterface* named = slots->GetInterface(NamedInterfaceId);
    EXPECT_NE(named, nullptr);
    named->Release();
    EXPECT_EQ(slots->GetInterface(CollectionInterfaceId), nullptr);
    slots->Release();
    EXPECT_EQ(value.GetRefCount(), 0);
}

} // namespace
