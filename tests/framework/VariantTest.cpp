#include <gtest/gtest.h>

#include <functional>

#include "framework/Variant.h"

namespace fr {
namespace {

struct IntCase {
    const char* Name;
    TVariant Value;
    std::int32_t Expected;
};

TEST(VariantTest, ConvertsToIntegerByTheVariantRules) {
    const IntCase cases[] = {
        {"Empty", TVariant(), 0},
        {"True", TVariant(true), -1},
        {"False", TVariant(false), 0},
        {"Smallint", TVariant(std::int16_t{-7}), -7},
        {"Byte", TVariant::Byte(200), 200},
        {"DoubleHalfToEvenDown", TVariant(2.5), 2},
        {"DoubleHalfToEvenUp", TVariant(3.5), 4},
        {"NegativeDouble", TVariant(-2.5), -2},
        {"Currency", TVariant(TCurrency{125000}), 12},
        {"CurrencyHalfToEven", TVariant(TCurrency{135000}), 14},
        {"Text", TVariant("12"), 12},
        {"TextWithBlanksAndSign", TVariant(" +12 "), 12},
        {"NegativeText", TVariant("-40"), -40},
        {"DecimalText", TVariant("12.5"), 12},
        {"Max", TVariant("2147483647"), 2147483647},
        {"SingleByteText", TVariant::AnsiString({'4', '2'}), 42},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        EXPECT_EQ(c.Value.AsInt(), c.Expected);
    }
}

TEST(VariantTest, ValuesWithoutANumberRaiseConvertError) {
    const TVariant bad[] = {
        TVariant("abc"),      TVariant("12abc"),         TVariant(""),   TVariant("12,5"), TVariant("0x10"),
        TVariant("inf"),      TVariant("2147483648"),     TVariant(1e10), TVariant::Null(),
        TVariant::Array({}),  TVariant::Object(nullptr),
    };
    for (const auto& v : bad) {
        SCOPED_TRACE(VarTypeName(v.VarType()) + std::string(" ") + (v.IsString() ? v.AsString() : ""));
        EXPECT_THROW(v.AsInt(), EConvertError);
    }
    EXPECT_THROW(TVariant("x").AsDouble(), EConvertError);
    EXPECT_THROW(TVariant("x").AsCurrency(), EConvertError);
    EXPECT_THROW(TVariant("x").AsBool(), EConvertError);
    EXPECT_THROW(TVariant("32.13.2024").AsDate(), EConvertError);
    EXPECT_THROW(TVariant::Null().AsString(), EConvertError);
    EXPECT_THROW(TVariant(1e300).AsCurrency(), EConvertError);
}

TEST(VariantTest, TextFormsAreLocaleIndependent) {
    struct Case {
        const char* Name;
        TVariant Value;
        const char* Text;
    };
    const Case cases[] = {
        {"Empty", TVariant(), ""},
        {"True", TVariant(true), "True"},
        {"False", TVariant(false), "False"},
        {"Integer", TVariant(-5555), "-5555"},
        {"Double", TVariant(12.5), "12.5"},
        {"DoubleTenth", TVariant(0.1), "0.1"},
        {"DoubleWhole", TVariant(115200.0), "115200"},
        {"DoubleLarge", TVariant(1e20), "1E20"},
        {"DoubleSmall", TVariant(1e-5), "1E-5"},
        {"NegativeZero", TVariant(-0.0), "0"},
        {"Single", TVariant(0.5f), "0.5"},
        {"Currency", TVariant(TCurrency{125000}), "12.5"},
        {"CurrencyWhole", TVariant(TCurrency{100000}), "10"},
        {"CurrencyTiny", TVariant(TCurrency{-1}), "-0.0001"},
        {"Date", TVariant(TDate::Encode(2024, 3, 5, 14, 7, 9)), "05.03.2024 14:07:09"},
        {"ZeroDate", TVariant(TDate{0}), "30.12.1899 00:00:00"},
        {"Byte", TVariant::Byte(255), "255"},
        {"Utf16", TVariant(u"Порт"), "Порт"},
        {"Cp1251", TVariant::AnsiString({0xCF, 0xEE, 0xF0, 0xF2}), "Порт"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        EXPECT_EQ(c.Value.AsString(), c.Text);
    }
}

TEST(VariantTest, ConvertsToBoolean) {
    EXPECT_TRUE(TVariant("True").AsBool());
    EXPECT_TRUE(TVariant("true").AsBool());
    EXPECT_FALSE(TVariant("FALSE").AsBool());
    EXPECT_TRUE(TVariant("1").AsBool());
    EXPECT_FALSE(TVariant("0").AsBool());
    EXPECT_TRUE(TVariant(-1).AsBool());
    EXPECT_FALSE(TVariant(0.0).AsBool());
    EXPECT_FALSE(TVariant().AsBool());
}

TEST(VariantTest, ParsesMoneyExactly) {
    struct Case {
        const char* Text;
        bool Ok;
        std::int64_t Value;
    };
    const Case cases[] = {
        {"12.5", true, 125000},       {"-0.0001", true, -1},        {"+3", true, 30000},
        {"0.1", true, 1000},          {"1.00005", true, 10000},     {"1.00015", true, 10002},
        {"1.000051", true, 10001},    {".5", true, 5000},           {"5.", true, 50000},
        {" 7 ", true, 70000},         {"922337203685477.5807", true, 9223372036854775807},
        {"922337203685478", false, 0}, {"", false, 0},              {".", false, 0},
        {"1,5", false, 0},            {"1.2.3", false, 0},          {"--1", false, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Text);
        TCurrency v{-99};
        EXPECT_EQ(TCurrency::TryParse(c.Text, v), c.Ok);
        if (c.Ok) {
            EXPECT_EQ(v.Value, c.Value);
        }
    }
    EXPECT_EQ(TVariant("1e3").AsCurrency().Value, 10000000);
    EXPECT_EQ(TVariant(0.125).AsCurrency().Value, 1250);
    EXPECT_EQ(TCurrency::FromDouble(2.00005).Value, 20000);
}

TEST(VariantTest, DatesRoundTripThroughTheirText) {
    struct Case {
        const char* Text;
        bool Ok;
        const char* Back;
    };
    const Case cases[] = {
        {"05.03.2024 14:07:09", true, "05.03.2024 14:07:09"},
        {"5.3.2024", true, "05.03.2024 00:00:00"},
        {"29.02.2024 23:59", true, "29.02.2024 23:59:00"},
        {"29.02.2023", false, ""},
        {"31.04.2024", false, ""},
        {"01.01.2024 24:00:00", false, ""},
        {"01.01.24", false, ""},
        {"01.01.2024T10:00", false, ""},
        {"2024-01-01", false, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Text);
        TDate d;
        ASSERT_EQ(TDate::TryParse(c.Text, d), c.Ok);
        if (c.Ok) {
            EXPECT_EQ(d.ToString(), c.Back);
        }
    }
    EXPECT_DOUBLE_EQ(TDate::Encode(1899, 12, 31).Days, 1.0);
    EXPECT_DOUBLE_EQ(TDate::Encode(1899, 12, 29, 6).Days, -1.25);
    EXPECT_EQ(TDate{-1.25}.ToString(), "29.12.1899 06:00:00");
}

TEST(VariantTest, KindsAreKeptAndCompared) {
    EXPECT_EQ(TVariant().VarType(), varEmpty);
    EXPECT_EQ(TVariant::Null().VarType(), varNull);
    EXPECT_EQ(TVariant(1).VarType(), varInteger);
    EXPECT_EQ(TVariant(std::int16_t{1}).VarType(), varSmallint);
    EXPECT_EQ(TVariant(1.0).VarType(), varDouble);
    EXPECT_EQ(TVariant("1").VarType(), varUString);
    EXPECT_EQ(TVariant::AnsiString({'1'}).VarType(), varString);
    EXPECT_NE(TVariant(1), TVariant(1.0));
    EXPECT_NE(TVariant(1), TVariant("1"));
    EXPECT_EQ(TVariant::Array({TVariant(1), TVariant("a")}), TVariant::Array({TVariant(1), TVariant("a")}));
    EXPECT_NE(TVariant::Array({TVariant(1)}), TVariant::Array({TVariant(2)}));
    EXPECT_EQ(TVariant::Array({TVariant(1), TVariant()}).AsArray().size(), 2u);
}

TEST(ParamsTest, ReadsAndWritesByIndexFromZero) {
    TParams p(4);
    PutParamInt(p, 0, 7);
    PutParamStr(p, 1, "текст");
    PutParamDouble(p, 2, 1.5);
    PutParamVariant(p, 3, TVariant(true));
    EXPECT_EQ(GetParam(p, 0), TVariant(7));
    EXPECT_EQ(GetParam(p, 1), TVariant(u"текст"));
    EXPECT_EQ(GetParam(p, 2), TVariant(1.5));
    EXPECT_EQ(GetParam(p, 3), TVariant(true));
}

TEST(ParamsTest, IndexPastTheArrayIsDetectedAndChangesNothing) {
    TParams p(2);
    EXPECT_TRUE(HasParams(p, 2));
    EXPECT_FALSE(HasParams(p, 3));
    const std::function<void()> calls[] = {
        [&] { GetParam(p, 2); },
        [&] { PutParamInt(p, 2, 1); },
        [&] { PutParamStr(p, 5, "x"); },
        [&] { PutParamDouble(p, 2, 1); },
        [&] { PutParamVariant(p, 100, TVariant()); },
    };
    for (const auto& call : calls) EXPECT_THROW(call(), EParamError);
    EXPECT_EQ(p.size(), 2u);
}

}  // namespace
}  // namespace fr
