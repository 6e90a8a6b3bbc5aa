#include <gtest/gtest.h>

#include <cmath>

#include "device/Codec.h"
#include "device/DeviceDateTime.h"

namespace fr {
namespace {

TBytes B(std::initializer_list<std::uint8_t> b) { return TBytes(b); }

TEST(CodecTest, IntToLEBytesWritesLeastSignificantFirst) {
    struct Case {
        int Width;
        std::uint64_t Value;
        TBytes Expected;
    } cases[] = {
        {5, 12345, B({0x39, 0x30, 0x00, 0x00, 0x00})},
        {2, 1021, B({0xFD, 0x03})},
        {1, 0, B({0x00})},
        {4, 1773532800, B({0x80, 0xF6, 0xB5, 0x69})},
        {5, 0xFFFFFFFFFFull, B({0xFF, 0xFF, 0xFF, 0xFF, 0xFF})},
        {8, 0x0102030405060708ull, B({8, 7, 6, 5, 4, 3, 2, 1})},
        // A value wider than the field keeps every byte: callers check the range first.
        {1, 256, B({0x00, 0x01})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "width " << c.Width << " value " << c.Value);
        EXPECT_EQ(IntToLEBytes(c.Width, c.Value), c.Expected);
        EXPECT_EQ(LEBytesToInt(c.Expected), c.Value);
    }
    EXPECT_EQ(IntToBEBytes(2, 1021), B({0x03, 0xFD}));
    EXPECT_EQ(LEBytesToInt({}), 0u);
}

TEST(CodecTest, LEBytesToIntReadsAtMostEightBytes) {
    EXPECT_EQ(LEBytesToInt(B({1, 0, 0, 0, 0, 0, 0, 0, 9})), 1u);
}

TEST(CodecTest, HexTextToIntFollowsItsRules) {
    struct Case {
        const char* Text;
        std::uint64_t Expected;
    } cases[] = {
        {"1fH", 31}, {"1FH", 31}, {"1f", 31}, {"1G", 0},     {"", 0},   {"H", 0},
        {"1HH", 0},  {"ff", 255}, {"0", 0},   {"FFFFFFFFFFFFFFFF", 0xFFFFFFFFFFFFFFFFull},
        {"1FFFFFFFFFFFFFFFF", 0},  // more than 64 bits
        {" 1", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Text);
        EXPECT_EQ(HexTextToInt(c.Text), c.Expected);
    }
}

TEST(CodecTest, HexToBytesPadsOnTheLeftAndStopsAtNonHex) {
    struct Case {
        const char* Text;
        int Count;
        TBytes Expected;
    } cases[] = {
        {"1A2B", 2, B({0x1A, 0x2B})},
        {"A", 2, B({0x00, 0x0A})},
        {"1A2B3C", 2, B({0x1A, 0x2B})},  // first 2n characters only
        {"1A2B3C", 0, B({0x1A, 0x2B, 0x3C})},
        {"ABC", 0, B({0x0A, 0xBC})},
        {"1AZZ33", 3, B({0x1A})},  // stops at the first pair that is not hex
        {"", 2, B({0x00, 0x00})},
        {"", 0, B({})},
        {"ff", 1, B({0xFF})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.Text << " count " << c.Count);
        EXPECT_EQ(HexToBytes(c.Text, c.Count), c.Expected);
    }
    EXPECT_EQ(BytesToHexText(B({0x00, 0xAB, 0x1F})), "00AB1F");
}

TEST(CodecTest, IntToBCDBytesKeepsTheFirstDigits) {
    struct Case {
        int Count;
        std::int64_t Value;
        TBytes Expected;
    } cases[] = {
        {2, 1234, B({0x12, 0x34})}, {2, 7, B({0x00, 0x07})},     {2, 9999, B({0x99, 0x99})},
        {2, 12345, B({0x12, 0x34})}, {3, 12345, B({0x01, 0x23, 0x45})}, {1, 0, B({0x00})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.Value << " count " << c.Count);
        EXPECT_EQ(IntToBCDBytes(c.Count, c.Value), c.Expected);
    }
    EXPECT_EQ(BCDBytesToInt(B({0x12, 0x34})), 1234);
    EXPECT_EQ(BCDBytesToInt(B({0x01, 0x23, 0x45})), 12345);
    EXPECT_EQ(BCDBytesToInt(B({0x1A})), 0);
    EXPECT_EQ(BCDBytesToInt({}), 0);
}

TEST(CodecTest, MoneyBecomesKopecksRoundedHalfToEven) {
    struct Case {
        TCurrencyValue Value;
        std::uint64_t Kopecks;
    } cases[] = {
        {1000000, 10000},  // 100.00
        {1502500, 15025},  // 150.25
        {100, 1},          // 0.01
        {49, 0},           // below half a kopeck
        {50, 0},           // half: to even 0
        {150, 2},          // 1.5 kopecks: to even 2
        {250, 2},          // 2.5 kopecks: to even 2
        {251, 3},
        {0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Value);
        ASSERT_TRUE(CurrencyToKopecks(c.Value).has_value());
        EXPECT_EQ(*CurrencyToKopecks(c.Value), c.Kopecks);
    }
}

TEST(CodecTest, MoneyThatDoesNotFitIsRejected) {
    const TCurrencyValue max5 = ((TCurrencyValue{1} << 40) - 1) * 100;
    EXPECT_TRUE(CurrencyToKopecks(max5).has_value());
    EXPECT_FALSE(CurrencyToKopecks(max5 + 100).has_value());  // 2^40 kopecks
    EXPECT_FALSE(CurrencyToKopecks(-1).has_value());
    EXPECT_FALSE(CurrencyToKopecks(std::numeric_limits<TCurrencyValue>::min()).has_value());
    EXPECT_TRUE(CurrencyToKopecks(25500, 1).has_value());
    EXPECT_FALSE(CurrencyToKopecks(25600, 1).has_value());
    TBytes data{0xAA};
    EXPECT_TRUE(AppendMoney(data, 1502500));
    EXPECT_EQ(data, B({0xAA, 0xB1, 0x3A, 0x00, 0x00, 0x00}));
}

TEST(CodecTest, QuantityBecomesMillionthsRoundedHalfToEven) {
    struct Case {
        double Value;
        std::uint64_t Millionths;
    } cases[] = {
        {1.5, 1500000}, {1.0, 1000000}, {0.001, 1000}, {0.0000005, 0}, {0.0000015, 2}, {0, 0}, {2.675, 2675000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Value);
        ASSERT_TRUE(QuantityToMillionths(c.Value).has_value());
        EXPECT_EQ(*QuantityToMillionths(c.Value), c.Millionths);
    }
    EXPECT_FALSE(QuantityToMillionths(-1).has_value());
    EXPECT_FALSE(QuantityToMillionths(std::nan("")).has_value());
    EXPECT_FALSE(QuantityToMillionths(HUGE_VAL).has_value());
    EXPECT_FALSE(QuantityToMillionths(std::ldexp(1.0, 48) / 1e6).has_value());
    TBytes data;
    EXPECT_TRUE(AppendQuantity(data, 1.5));
    EXPECT_EQ(data, B({0x60, 0xE3, 0x16, 0x00, 0x00, 0x00}));
}

TEST(CodecTest, PaddingAndSplittingWorkOnBytes) {
    EXPECT_EQ(PadToLength(BytesOf("ABC"), 5, 0), B({'A', 'B', 'C', 0, 0}));
    EXPECT_EQ(PadToLength(BytesOf("ABCDEF"), 3, 0), BytesOf("ABC"));
    EXPECT_EQ(PadToLength({}, 2, 0), B({0, 0}));
    EXPECT_EQ(PadWithSpaces(BytesOf("AB"), 4, false), BytesOf("AB  "));
    EXPECT_EQ(PadWithSpaces(BytesOf("ABCDE"), 4, false), BytesOf("ABCDE"));
    EXPECT_EQ(PadWithSpaces(BytesOf("ABCDE"), 4, true), BytesOf("ABCD"));

    const auto pieces = SplitByLength(TBytes(70, 'x'), 32);
    ASSERT_EQ(pieces.size(), 3u);
    EXPECT_EQ(pieces[0].size(), 32u);
    EXPECT_EQ(pieces[1].size(), 32u);
    EXPECT_EQ(pieces[2].size(), 6u);
    EXPECT_TRUE(SplitByLength({}, 32).empty());
    ASSERT_EQ(SplitByLength(TBytes(70, 'x'), 0).size(), 1u);  // never loops
    EXPECT_EQ(SplitByLength(TBytes(64, 'x'), 64).size(), 1u);
}

TEST(CodecTest, TrimRemovesBlanksAndControlCharacters) {
    EXPECT_EQ(TrimBytes(BytesOf("\t 12 3\r\n")), BytesOf("12 3"));
    EXPECT_TRUE(TrimBytes(BytesOf("   ")).empty());
    EXPECT_EQ(TrimBytes(B({0xC0, 0x20})), B({0xC0}));  // bytes above 0x7F are text
    EXPECT_EQ(TrimText(" a "), "a");
}

TEST(CodecTest, OemConversionsAreInverse) {
    const TBytes ansi{0xC0, 0xE0, 0x41};  // "Аа" and A in 1251
    EXPECT_EQ(ToOemText(ansi), B({0x80, 0xA0, 0x41}));
    EXPECT_EQ(FromOemText(ToOemText(ansi)), ansi);
}

TEST(DeviceDateTimeTest, EncodesAndDecodesDateTimes) {
    const auto dt = TryEncodeDateTime({2026, 12, 31, 23, 59, 58});
    ASSERT_TRUE(dt.has_value());
    const TDateTimeParts p = DecodeDateTime(*dt);
    EXPECT_EQ(p.Year, 2026);
    EXPECT_EQ(p.Month, 12);
    EXPECT_EQ(p.Day, 31);
    EXPECT_EQ(p.Hour, 23);
    EXPECT_EQ(p.Minute, 59);
    EXPECT_EQ(p.Second, 58);
    EXPECT_DOUBLE_EQ(*TryEncodeDateTime({1899, 12, 30, 0, 0, 0}), 0.0);
    EXPECT_DOUBLE_EQ(*TryEncodeDateTime({1970, 1, 1, 12, 0, 0}), 25569.5);
}

TEST(DeviceDateTimeTest, RejectsPartsThatAreNoDateTime) {
    for (const TDateTimeParts& p : {TDateTimeParts{2026, 2, 30, 0, 0, 0}, TDateTimeParts{2026, 13, 1, 0, 0, 0},
                                   TDateTimeParts{2026, 0, 1, 0, 0, 0}, TDateTimeParts{2026, 1, 0, 0, 0, 0},
                                   TDateTimeParts{2026, 1, 1, 24, 0, 0}, TDateTimeParts{2026, 1, 1, 0, 60, 0},
                                   TDateTimeParts{2026, 1, 1, 0, 0, 60}}) {
        SCOPED_TRACE(::testing::Message() << p.Month << "/" << p.Day << " " << p.Hour << ":" << p.Minute);
        EXPECT_FALSE(TryEncodeDateTime(p).has_value());
    }
    EXPECT_TRUE(TryEncodeDateTime({2024, 2, 29, 0, 0, 0}).has_value());
}

TEST(DeviceDateTimeTest, UnixTimeIsMidnightOfTheDate) {
    const auto dt = TryEncodeDateTime({2026, 3, 15, 14, 30, 0});
    ASSERT_TRUE(dt.has_value());
    EXPECT_EQ(DateToUnixTime(*dt), 1773532800);
    EXPECT_EQ(DateToUnixTime(25569.99), 0);
}

}  // namespace
}  // namespace fr
