// The printed layout of a position, byte for byte at the common widths.

#include <gtest/gtest.h>

#include "driver/PackageValues.h"
#include "driver/ReceiptLines.h"
#include "platform/Encoding.h"

namespace fr {
namespace {

std::string Text(const TBytes& ALine) { return SingleByteToUtf8(ALine); }

TEST(ReceiptLinesTest, JustifyAndLabelLinesKeepTheirWidth) {
    EXPECT_EQ(Text(JustifyLine(Ansi("ЛЕВО"), Ansi("ПРАВО"), 12)), "ЛЕВО   ПРАВО");
    EXPECT_EQ(Text(JustifyLine(Ansi("ДЛИННЫЙ ТЕКСТ"), Ansi("12"), 8)), "ДЛИННЫ12");
    EXPECT_EQ(Text(JustifyLine(Ansi("L"), Ansi("0123456789"), 8)), "01234567");
    EXPECT_EQ(Text(JustifyLine(Ansi("L"), {}, 0)), "");
    EXPECT_EQ(Text(LabelValueLine(Ansi("СКИДКА"), Ansi("5.00"), 12, 0)), "СКИДКА  5.00");
    EXPECT_EQ(Text(LabelValueLine(Ansi("НАЦЕНКА"), Ansi("5.00"), 0, 10)), "НАЦЕНК5.00");
    EXPECT_EQ(Text(LabelValueLine(Ansi("СКИДКА"), Ansi("5.00"), 0, 0)), "СКИДКА" + std::string(14, ' ') + "5.00");
    EXPECT_EQ(Text(LabelValueLine(Ansi("СКИДКА"), Ansi("123456"), 4, 0)), "123456");
}

TEST(ReceiptLinesTest, NumberPatterns) {
    EXPECT_EQ(FormatQuantityPrice(2, 500000), "2.000 X 50.00");
    EXPECT_EQ(FormatQuantity(0.0005), "0.001");
    EXPECT_EQ(FormatQuantity(1234567.5), "1234567.500");
    EXPECT_EQ(FormatMoney(5), "0.00");
    EXPECT_EQ(FormatMoney(50), "0.00");
    EXPECT_EQ(FormatMoney(150), "0.02");
    EXPECT_EQ(FormatMoney(-50000), "-5.00");
    EXPECT_EQ(FormatMoney(1234567890000), "123456789.00");
}

struct TLayoutCase {
    const char* Name;
    int Width;
    bool PrintMethod;
    TCurrencyValue Discount;
    std::vector<std::string> Lines;
};

class PositionLayoutTest : public ::testing::TestWithParam<TLayoutCase> {};

TEST_P(PositionLayoutTest, LinesAreByteExact) {
    const TLayoutCase& c = GetParam();
    TPositionPrint p;
    p.Name = "Молоко 3,2%";
    p.Quantity = 2;
    p.Price = 500000;
    p.Sum = 1000000;
    p.DiscountSum = c.Discount;
    p.Department = 1;
    p.Method = 4;
    p.Object = 1;
    p.PrintMethodAndObject = c.PrintMethod;
    p.TaxCaption = "НДС 20%";
    std::vector<std::string> lines;
    for (const TBytes& line : PositionLines(p, c.Width)) lines.push_back(Text(line));
    EXPECT_EQ(lines, c.Lines);
}

const std::string kSum = "\x1F";

INSTANTIATE_TEST_SUITE_P(
    Widths, PositionLayoutTest,
    ::testing::Values(
        TLayoutCase{"Width32", 32, true, 0,
                    {"Молоко 3,2%", std::string(19, ' ') + "2.000 X 50.00", "1" + std::string(24, ' ') + kSum + "100.00",
                     "СП.РАСЧ." + std::string(11, ' ') + "ПОЛНЫЙ РАСЧЕТ", "ПРЕДМ.РАСЧ." + std::string(16, ' ') + "ТОВАР",
                     "НДС 20%" + std::string(25, ' ')}},
        TLayoutCase{"Width48WithDiscount", 48, true, 12345,
                    {"Молоко 3,2%", std::string(35, ' ') + "2.000 X 50.00", "1" + std::string(40, ' ') + kSum + "100.00",
                     "СП.РАСЧ." + std::string(27, ' ') + "ПОЛНЫЙ РАСЧЕТ", "ПРЕДМ.РАСЧ." + std::string(32, ' ') + "ТОВАР",
                     "СКИДКА" + std::string(38, ' ') + "1.23", "НДС 20%" + std::string(41, ' ')}},
        TLayoutCase{"Width32SurchargeWithoutMethod", 32, false, -50000,
                    {"Молоко 3,2%", std::string(19, ' ') + "2.000 X 50.00", "1" + std::string(24, ' ') + kSum + "100.00",
                     "НАЦЕНКА" + std::string(21, ' ') + "5.00", "НДС 20%" + std::string(25, ' ')}}),
    [](const ::testing::TestParamInfo<TLayoutCase>& info) { return std::string(info.param.Name); });

}  // namespace
}  // namespace fr
