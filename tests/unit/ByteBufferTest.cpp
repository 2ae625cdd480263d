#include "support/ByteBuffer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::string contents(const ByteBuffer& buffer) {
    return std::string(reinterpret_cast<const char*>(buffer.GetData()), buffer.GetLength());
}

std::vector<BYTE> bytes(size_t count, BYTE value = 'x') {
    return std::vector<BYTE>(count, value);
}

TEST(ByteBuffer, DefaultBufferHoldsOneStepAndNeverGrows) {
    ByteBuffer buffer;
    EXPECT_EQ(buffer.GetCapacity(), 256u);
    EXPECT_EQ(buffer.GetMaxSize(), 256u);
    auto block = bytes(256);
    EXPECT_EQ(buffer.Append(block.data(), 256), 256u);
    EXPECT_EQ(buffer.Append("y", 1), 0u);
    EXPECT_EQ(buffer.GetLength(), 256u);
}

TEST(ByteBuffer, GrowsGeometricallyInWholeSteps) {
    ByteBuffer buffer(65536);
    auto data = bytes(300);
    EXPECT_EQ(buffer.Append(data.data(), 300), 300u);
    EXPECT_EQ(buffer.GetCapacity(), 512u);
    EXPECT_EQ(buffer.Append(data.data(), 212), 212u);
    EXPECT_EQ(buffer.GetCapacity(), 512u);
    EXPECT_EQ(buffer.Append(data.data(), 1), 1u);
    EXPECT_EQ(buffer.GetCapacity(), 1024u);

    ByteBuffer big(65536);
    auto many = bytes(5000);
    big.Append(many.data(), 5000);
    EXPECT_EQ(big.GetCapacity(), 5120u) << "more than double: what is needed, in whole steps";
}

TEST(ByteBuffer, NeverPassesItsMaximum) {
    ByteBuffer buffer(1000);
    auto data = bytes(300);
    EXPECT_EQ(buffer.Append(data.data(), 300), 300u);
    EXPECT_EQ(buffer.Append(data.data(), 212), 212u);
    EXPECT_EQ(buffer.Append(data.data(), 1), 1u);
    EXPECT_EQ(buffer.GetCapacity(), 768u);
    EXPECT_EQ(buffer.Append(data.data(), 255), 255u);
    EXPECT_EQ(buffer.Append("z", 1), 0u) << "1000 is not a whole number of steps: 768 is the top";
    EXPECT_EQ(buffer.GetLength(), 768u);
    EXPECT_EQ(buffer.GetCapacity(), 768u);
}

TEST(ByteBuffer, NearTheTopGrowthStopsAtTheMaximum) {
    ByteBuffer buffer(65536);
    auto big = bytes(65024);
    ASSERT_EQ(buffer.Append(big.data(), 65024), 65024u);
    ASSERT_EQ(buffer.Append(big.data(), 256), 256u);
    EXPECT_EQ(buffer.GetCapacity(), 65536u);
    EXPECT_TRUE(buffer.CanAppend(256));
    EXPECT_FALSE(buffer.CanAppend(257));
    auto piece = bytes(257);
    EXPECT_EQ(buffer.Append(piece.data(), 257), 0u) << "all or nothing";
    EXPECT_EQ(buffer.GetLength(), 65280u);
    EXPECT_EQ(buffer.Append(piece.data(), 256), 256u);
    EXPECT_EQ(buffer.GetCapacity(), 65536u);
}

TEST(ByteBuffer, ConsumedRoomIsReusedWithTheBytesInOrder) {
    ByteBuffer buffer(512);
    std::string text;
    for (int i = 0; i < 512; ++i) {
        text += char('a' + i % 26);
    }
    buffer.Append(text.data(), 400);
    buffer.Consume(300);
    EXPECT_EQ(contents(buffer), text.substr(300, 100));
    EXPECT_EQ(buffer.Append(text.data(), 412), 412u) << "the consumed front takes the rest";
    EXPECT_EQ(contents(buffer), text.substr(300, 100) + text.substr(0, 412));
    EXPECT_EQ(buffer.GetCapacity(), 512u);
    EXPECT_EQ(buffer.Append("x", 1), 0u);
}

TEST(ByteBuffer, AppendsThatWouldWrapTheArithmeticFailCleanly) {
    ByteBuffer buffer(0xFFFFFFFFu);
    buffer.Append("abc", 3);
    // Each of these grows the capacity past 32 bits when worked out.
    for (DWORD count : {0xFFFFFFFFu, 0xFFFFFF00u, 0xFFFFFFFFu - 2}) {
        EXPECT_FALSE(buffer.CanAppend(count));
        EXPECT_EQ(buffer.Append("abc", count), 0u) << count;
    }
    EXPECT_EQ(contents(buffer), "abc");
    EXPECT_EQ(buffer.GetCapacity(), 256u);
}

TEST(ByteBuffer, AppendLineAddsALineFeedUnlessTheTextIsEmpty) {
    ByteBuffer buffer(65536);
    EXPECT_EQ(buffer.AppendLine("abc"), 4u);
    EXPECT_EQ(buffer.AppendLine(""), 0u);
    EXPECT_EQ(buffer.AppendText("de"), 2u);
    EXPECT_EQ(buffer.AppendText(nullptr), 0u);
    EXPECT_EQ(contents(buffer), "abc\nde");
}

TEST(ByteBuffer, AppendLineKeepsTheTextWhenOnlyTheLineEndFails) {
    ByteBuffer buffer;
    auto almost = bytes(250);
    buffer.Append(almost.data(), 250);
    EXPECT_EQ(buffer.AppendLine("123456"), 0u);
    EXPECT_EQ(buffer.GetLength(), 256u);
}

TEST(ByteBuffer, ReadsAndConsumesFromTheHead) {
    ByteBuffer buffer(65536);
    buffer.AppendText("abcd");
    char out[10] = {};
    EXPECT_EQ(buffer.Read(out, 0), 0u);
    EXPECT_EQ(buffer.Consume(2), 2u);
    EXPECT_EQ(contents(buffer), "cd");
    EXPECT_EQ(buffer.Consume(10), 2u);
    EXPECT_EQ(buffer.Consume(1), 0u);
    buffer.AppendText("wxyz");
    EXPECT_EQ(buffer.Read(out, 10), 4u);
    EXPECT_EQ(std::string(out, 4), "wxyz");
    EXPECT_EQ(buffer.GetLength(), 0u);
    EXPECT_EQ(buffer.Read(out, 10), 0u);
}

TEST(ByteBuffer, MoveToDropsWhatTheTargetRefusesAndEmptiesTheSource) {
    ByteBuffer source(65536);
    std::string text;
    for (int i = 0; i < 600; ++i) {
        text += char('a' + i % 26);
    }
    source.AppendText(text.c_str());
    ByteBuffer target;
    EXPECT_EQ(source.MoveTo(&target), 600);
    EXPECT_EQ(source.GetLength(), 0u);
    EXPECT_EQ(contents(target), text.substr(0, 256));
    EXPECT_EQ(source.MoveTo(nullptr), 0);
    source.AppendText("self");
    EXPECT_EQ(source.MoveTo(&source), 0) << "draining into itself would never end";
}

TEST(ByteBuffer, ResetAndClear) {
    ByteBuffer buffer(65536);
    auto data = bytes(1000);
    buffer.Append(data.data(), 1000);
    DWORD grown = buffer.GetCapacity();
    buffer.Clear();
    EXPECT_EQ(buffer.GetLength(), 0u);
    EXPECT_EQ(buffer.GetCapacity(), grown);
    buffer.Reset(65536, 100);
    EXPECT_EQ(buffer.GetLength(), 0u);
    EXPECT_EQ(buffer.GetCapacity(), 256u);
    EXPECT_EQ(buffer.GetStep(), 256u) << "steps below 256 are raised to 256";
    buffer.Reset(100, 512);
    EXPECT_EQ(buffer.GetMaxSize(), 512u);
}

} // namespace
