// Tax list and captions, calculation names, agent sign bytes.

#include <gtest/gtest.h>

#include "driver/ReceiptTables.h"

namespace fr {
namespace {

TDateTime Date(int y, int m, int d, int hh = 0, int mm = 0, int ss = 0) { return *TryEncodeDateTime({y, m, d, hh, mm, ss}); }

TEST(TaxTableTest, EveryRateMapsToItsGroupByteAndCaptions) {
    struct Row {
        const char* Tax;
        int ID;
        int Group;
        std::uint8_t Byte;
        const char* Before2019;
        const char* From2019;
    };
    const Row rows[] = {
        {"20", 1, 1, 0x01, "НДС 18%", "НДС 20%"},       {"18", 2, 1, 0x01, "НДС 18%", "НДС 18%"},
        {"10", 3, 2, 0x02, "НДС 10%", "НДС 10%"},       {"0", 4, 3, 0x04, "НДС 0%", "НДС 0%"},
        {"none", 5, 4, 0x08, "БЕЗ НДС", "БЕЗ НДС"},     {"NONE", 5, 4, 0x08, "БЕЗ НДС", "БЕЗ НДС"},
        {"20/120", 6, 5, 0x10, "НДС 18/118", "НДС 20/120"}, {"18/118", 7, 5, 0x10, "НДС 18/118", "НДС 18/118"},
        {"10/110", 8, 6, 0x20, "НДС 10/110", "НДС 10/110"}, {"7", 0, 0, 0x00, "", ""},
        {"", 0, 0, 0x00, "", ""},                       {" 20", 0, 0, 0x00, "", ""},
    };
    TTaxValues taxes;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.Tax);
        const int id = taxes.IDOfTax(row.Tax);
        EXPECT_EQ(id, row.ID);
        EXPECT_EQ(TaxGroupOfID(id), row.Group);
        EXPECT_EQ(TaxByteOfGroup(TaxGroupOfID(id)), row.Byte);
        EXPECT_EQ(TaxCaptionFor(id, Date(2018, 12, 31, 23, 59, 59)), row.Before2019);
        EXPECT_EQ(TaxCaptionFor(id, Date(2019, 1, 1)), row.From2019);
    }
}

TEST(TaxTableTest, UnreadableRegisterDateGivesCurrentCaptions) {
    TTaxValues taxes;
    EXPECT_EQ(TaxCaptionFor(taxes.IDOfTax("20"), std::nullopt), "НДС 20%");
    EXPECT_EQ(TaxCaptionFor(taxes.IDOfTax("20/120"), std::nullopt), "НДС 20/120");
}

TEST(CalculationNamesTest, CodesOutsideTheTablesHaveNoName) {
    EXPECT_EQ(CalculationMethodName(1), "ПРЕДОПЛАТА 100%");
    EXPECT_EQ(CalculationMethodName(7), "ОПЛАТА КРЕДИТА");
    EXPECT_EQ(CalculationMethodName(0), "");
    EXPECT_EQ(CalculationMethodName(8), "");
    EXPECT_EQ(CalculationObjectName(1), "ТОВАР");
    EXPECT_EQ(CalculationObjectName(19), "ЗАЛОГ");
    EXPECT_EQ(CalculationObjectName(20), "");
    EXPECT_EQ(CalculationObjectName(-1), "");
}

TEST(AgentSignTest, SignsZeroToSixSetOneBit) {
    EXPECT_EQ(AgentSignByte(0), 0x01);
    EXPECT_EQ(AgentSignByte(6), 0x40);
    EXPECT_FALSE(ValidAgentSign(7));
    EXPECT_FALSE(ValidAgentSign(-1));
    EXPECT_EQ(AgentSignByte(7), 0);
}

}  // namespace
}  // namespace fr
