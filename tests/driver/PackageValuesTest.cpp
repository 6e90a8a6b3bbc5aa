// Reading the host's attribute values: money, numbers, integers, flags, ISO 8601 dates.

#include <gtest/gtest.h>

#include "driver/PackageValues.h"
#include "platform/Xml.h"

namespace fr {
namespace {

TEST(PackageValuesTest, MoneyIsReadExactlyAndRoundedHalvesToEven) {
    struct Row {
        const char* Text;
        std::optional<TCurrencyValue> Value;
    };
    const Row rows[] = {
        {"1.50", 15000},        {"1.5", 15000},         {"-5", -50000},        {"+2", 20000},
        {"0.00015", 2},         {"0.00025", 2},         {"0.000251", 3},       {"0.00005", 0},
        {"0.000051", 1},        {"1e2", 1000000},       {"1.5E-4", 2},         {".5", 5000},
        {"12345678901234.5678", 123456789012345678}, {"1,5", std::nullopt}, {"abc", std::nullopt},
        {"", std::nullopt},     {".", std::nullopt},    {"1.2.3", std::nullopt}, {"99999999999999999", std::nullopt},
        {"1e40", std::nullopt}, {"1e-300", 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.Text);
        EXPECT_EQ(ParseMoney(row.Text), row.Value);
    }
}

TEST(PackageValuesTest, AttributesFallBackToTheirDefaults) {
    pugi::xml_document doc;
    LoadXmlDocument(doc, R"(<P Int=" 7 " Bad="x7" Num=" 2.5 " Comma="1,5" Money="10.005" Inf="inf" T="tRUE" F="1"/>)");
    const pugi::xml_node p = doc.document_element();
    EXPECT_EQ(AttrInt(p, "Int", -1), 7);
    EXPECT_EQ(AttrInt(p, "Bad", -1), -1);
    EXPECT_EQ(AttrInt(p, "Missing", -1), -1);
    EXPECT_DOUBLE_EQ(AttrNumber(p, "Num"), 2.5);
    EXPECT_DOUBLE_EQ(AttrNumber(p, "Comma"), 0);
    EXPECT_DOUBLE_EQ(AttrNumber(p, "Inf"), 0);
    EXPECT_EQ(AttrMoney(p, "Money"), 100050);
    EXPECT_EQ(AttrMoney(p, "Missing"), 0);
    EXPECT_TRUE(AttrBool(p, "T"));
    EXPECT_FALSE(AttrBool(p, "F"));
    EXPECT_FALSE(AttrBool(p, "Missing"));
}

TEST(PackageValuesTest, IsoDatesWithTimesAndZones) {
    struct Row {
        const char* Text;
        std::optional<TDateTimeParts> Parts;
    };
    const Row rows[] = {
        {"2026-03-15", TDateTimeParts{2026, 3, 15, 0, 0, 0}},
        {"2026-03-15T14:30", TDateTimeParts{2026, 3, 15, 14, 30, 0}},
        {"2026-03-15T14:30:05", TDateTimeParts{2026, 3, 15, 14, 30, 5}},
        {"2026-03-15T14:30:05.250", TDateTimeParts{2026, 3, 15, 14, 30, 5}},
        {"2026-03-15T14:30:00Z", TDateTimeParts{2026, 3, 15, 14, 30, 0}},
        {"2026-03-15T01:30:00+03:00", TDateTimeParts{2026, 3, 14, 22, 30, 0}},
        {"2026-03-15T22:30:00-0330", TDateTimeParts{2026, 3, 16, 2, 0, 0}},
        {"2026-03-15T14:30:00+05", TDateTimeParts{2026, 3, 15, 9, 30, 0}},
        {"15.03.2026", std::nullopt},
        {"2026-02-30", std::nullopt},
        {"2026-03-15T25:00", std::nullopt},
        {"2026-03-15T14", std::nullopt},
        {"2026-03-15X", std::nullopt},
        {"2026-03-15T14:30:00+3", std::nullopt},
        {"", std::nullopt},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.Text);
        const std::optional<TDateTime> value = ParseIsoDateTime(row.Text);
        ASSERT_EQ(value.has_value(), row.Parts.has_value());
        if (!value) continue;
        const TDateTimeParts p = DecodeDateTime(*value);
        EXPECT_EQ(std::tie(p.Year, p.Month, p.Day, p.Hour, p.Minute, p.Second),
                  std::tie(row.Parts->Year, row.Parts->Month, row.Parts->Day, row.Parts->Hour, row.Parts->Minute,
                           row.Parts->Second));
    }
}

TEST(PackageValuesTest, TenCharacterTaxpayerNumbersArePadded) {
    EXPECT_EQ(TaxpayerNumber("7701234567"), TBytes({'7', '7', '0', '1', '2', '3', '4', '5', '6', '7', ' ', ' '}));
    EXPECT_EQ(TaxpayerNumber("770123456789").size(), 12u);
    EXPECT_EQ(TaxpayerNumber("123").size(), 3u);
}

}  // namespace
}  // namespace fr
