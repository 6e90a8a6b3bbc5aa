#include <gtest/gtest.h>

#include "driver/ReportOperations.h"
#include "driver/ScriptedContext.h"
#include "platform/Encoding.h"
#include "platform/Xml.h"

namespace fr {
namespace {

using test::Bytes;
using test::Ok;
using Strings = std::vector<std::string>;

pugi::xml_document Parse(const char* AText) {
    pugi::xml_document doc;
    LoadXmlDocument(doc, AText);
    return doc;
}

TEST(FiscalParametersInput, BitsPaddingAndBooleans) {
    TFiscalParameters p;
    ASSERT_TRUE(ReadFiscalParameters(
        Parse("<Parameters TaxVariant=\"0,3\" OfflineMode=\"TRUE\" DataEncryption=\"1\" ServiceSign=\"yes\" "
              "SignOfAgent=\"6,1,9\" VATIN=\"7700000000\" KKTNumber=\"123\" ReasonCode=\" 4 \" "
              "CashierVATIN=\"\" AutomaticMode=\"True\" CalcOnlineSign=\"tRuE\"/>"),
        p));
    EXPECT_EQ(p.TaxBits, 0x09);
    EXPECT_EQ(p.WorkModeBits, 0x02 | 0x04 | 0x20);
    EXPECT_EQ(p.AgentBits, 0x42);
    EXPECT_EQ(p.VATIN, "7700000000  ");
    EXPECT_EQ(p.KKTNumber, "123                 ");
    EXPECT_EQ(p.CashierVATIN, "            ");
    EXPECT_EQ(p.ReasonCode, 4);
    EXPECT_TRUE(p.AutomaticMode);
    EXPECT_FALSE(p.SignOfGambling);
}

TEST(FiscalParametersInput, LongValuesAreNeverShortenedAndMissingOnesAreEmpty) {
    TFiscalParameters p;
    ASSERT_TRUE(ReadFiscalParameters(Parse("<P VATIN=\"1234567890123\" ReasonCode=\"x\"/>"), p));
    EXPECT_EQ(p.VATIN, "1234567890123");
    EXPECT_EQ(p.ReasonCode, 0);
    EXPECT_EQ(p.OrganizationName, "");
    EXPECT_EQ(p.TaxBits, 0);
    EXPECT_FALSE(ReadFiscalParameters(pugi::xml_document(), p));
}

TEST(DigitBitsAndBooleans, OnlyTheWordTrueCounts) {
    EXPECT_EQ(DigitBits("0,5,6,7", 5), 0x21);
    EXPECT_EQ(DigitBits("abc", 6), 0);
    for (const char* t : {"true", "TRUE", "True"}) EXPECT_TRUE(IsTrueText(t)) << t;
    for (const char* t : {"1", "yes", " true", ""}) EXPECT_FALSE(IsTrueText(t)) << t;
}

class RegistrationOperationsTest : public test::ScriptedOperationTest {
protected:
    void ExpectSetClock() {
        Link.Expect({0x21}, Bytes({23, 59, 58}), Ok());
        Link.Expect({0x22}, Bytes({31, 12, 26}), Ok());
        Link.Expect({0x23}, Bytes({31, 12, 26}), Ok());
    }
    pugi::xml_document Doc;
    TDocElementList List;
};

TEST_F(RegistrationOperationsTest, NonFiscalRegisterReportsOnlyFiscalFalse) {
    ExpectFNStatus(0x01, 0, 0);
    ASSERT_EQ(GetDataKKTBody(Context, Doc, List), 0);
    EXPECT_EQ(XmlDocumentText(Doc), "<?xml version=\"1.0\"?>\r\n<Parameters Fiscal=\"false\" />\r\n");
}

TEST_F(RegistrationOperationsTest, FailedFNStatusIsReported) {
    Link.Expect({0xFF, 0x01}, TBytes{}, Bytes({0x02}));
    EXPECT_EQ(GetDataKKTBody(Context, Doc, List), 2);
}

TEST_F(RegistrationOperationsTest, ReportReadOutRefusedFallsBackToTheTablesWithResultZero) {
    ExpectFNStatus(0x03, 0, 9);
    TBytes reg(48, 0);
    reg[1] = 26, reg[2] = 5, reg[3] = 17, reg[4] = 9, reg[5] = 30;
    reg[40] = 1;
    Link.Expect({0xFF, 0x09}, TBytes{}, reg);
    Link.ExpectIdle();
    Link.Expect({0xFF, 0x3A}, IntToLEBytes(4, 1), Bytes({0x02}));
    auto field = [&](std::uint8_t table, std::uint8_t f, TBytes answer) {
        Link.Expect({0x1F}, Bytes({table, 1, 0, f}), std::move(answer));
    };
    auto text = [](const char* s) {
        TBytes b = Utf8ToSingleByte(s);
        b.insert(b.begin(), 0);
        b.resize(b.size() + 4, 0);
        return b;
    };
    field(18, 1, text("00106700000001"));
    field(17, 17, Bytes({0, 2}));
    field(18, 1, text("00106700000001"));
    field(18, 2, text("7700000000  "));
    field(18, 3, text("0000000001012345"));
    field(18, 4, Bytes({0x5D}));  // refused: the value stays empty
    field(18, 5, Bytes({0, 0x05}));
    field(18, 7, text("ООО Ёлка"));
    field(18, 9, text("Москва"));
    field(18, 14, text("Магазин"));
    field(18, 10, text("ОФД"));
    field(18, 12, text("7704358518"));
    field(18, 16, Bytes({0, 0x41}));
    field(18, 13, text("nalog.gov.ru"));
    field(18, 15, text("a@b.ru"));
    ASSERT_EQ(GetDataKKTBody(Context, Doc, List), 0);
    const pugi::xml_node p = Doc.child("Parameters");
    Strings got;
    for (const auto& a : p.attributes()) got.push_back(std::string(a.name()) + "=" + a.value());
    EXPECT_EQ(got, (Strings{"Fiscal=true", "DocumentNumber=1", "DateTime=17.05.2026 09:30:00",
                            "KKTSerialNumber=00106700000001", "FFDVersionFN=", "FFDVersionKKT=1.0.5", "VATIN=7700000000",
                            "KKTNumber=0000000001012345", "FNSerialNumber=", "TaxVariant=0,2",
                            "OrganizationName=ООО Ёлка", "AddressSettle=Москва", "PlaceSettle=Магазин",
                            "OFDOrganizationName=ОФД", "OFDVATIN=7704358518", "SignOfAgent=0,6",
                            "FNSWebSite=nalog.gov.ru", "SenderEmail=a@b.ru"}));
}

TEST_F(RegistrationOperationsTest, ReportReadOutPicksUpADocumentStillBeingGivenOut) {
    TDocElementList list;
    Link.ExpectIdle();
    Link.Expect({0xFF, 0x3A}, IntToLEBytes(4, 5), Bytes({115}));
    ExpectFullState(1);
    TBytes block{0};
    const TBytes tlv = SetTLV(1062, {5});
    block.insert(block.end(), tlv.begin(), tlv.end());
    Link.Expect({0xFF, 0x3B}, TBytes{}, block);
    Link.Expect({0xFF, 0x3B}, TBytes{}, Ok());
    ASSERT_EQ(ReadRegistrationReport(Context.Device(), 5, list), 0);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0]->Value, "5");
}

TEST_F(RegistrationOperationsTest, ReportRefusedWith115OutsideDataOutputIs115) {
    TDocElementList list;
    Link.ExpectIdle();
    Link.Expect({0xFF, 0x3A}, IntToLEBytes(4, 5), Bytes({115}));
    ExpectFullState(4);
    EXPECT_EQ(ReadRegistrationReport(Context.Device(), 5, list), 115);
}

// Refused before anything is sent: an unknown operation, a document without a root, and numbers
// longer than their fixed fields in the irreversible report command (they would shift the rest).
TEST_F(RegistrationOperationsTest, RefusalsSendNothing) {
    struct TRow {
        std::uint8_t Operation;
        const char* Xml;
    };
    const TRow rows[] = {
        {7, "<Parameters VATIN=\"7700000000\"/>"},
        {1, ""},
        {1, "<Parameters VATIN=\"7700000000123\" KKTNumber=\"1\"/>"},
        {2, "<Parameters VATIN=\"7700000000\" KKTNumber=\"000000000101234567890\"/>"},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.Xml);
        EXPECT_EQ(OperationFNBody(Context, row.Operation, *row.Xml ? Parse(row.Xml) : pugi::xml_document()), 1004);
        EXPECT_TRUE(Context.Calls.empty());
    }
}

TEST_F(RegistrationOperationsTest, ClosingTheFNSetsTheClockAndClosesIgnoringTheAttributes) {
    ExpectUnlockIdle();
    ExpectSetClock();
    ExpectFNStatus(0x03, 0, 9);  // the last document before the report
    Link.ExpectIdle();
    Link.Expect({0xFF, 0x3E}, TBytes{}, Ok(), kFNCloseTimeout);
    EXPECT_EQ(OperationFNBody(Context, 3, Parse("<Anything CashierVATIN=\"bad\"/>")), 0);
    EXPECT_EQ(Context.Calls, (Strings{"CheckPrintState", "WaitPrintCompletion", "Cut(false,true,-1)"}));
}

TEST_F(RegistrationOperationsTest, RefusedCashierINNIs3026) {
    ExpectUnlockIdle();
    ExpectSetClock();
    Link.Expect({0xFF, 0x05}, Bytes({0}), Ok());
    ExpectRequisite(1203, BytesOf("12          "), Bytes({0x33}));
    EXPECT_EQ(OperationFNBody(Context, 1, Parse("<Parameters CashierVATIN=\"12\"/>")), 3026);
}

TEST_F(RegistrationOperationsTest, ChangeOfParametersSendsNoBeginReportCommand) {
    ExpectUnlockIdle();
    ExpectSetClock();
    // The first table write follows the clock directly: its field structure query.
    Link.Expect({0x2E}, Bytes({18, 10}), Bytes({0x5D}));
    EXPECT_EQ(OperationFNBody(Context, 2, Parse("<Parameters ReasonCode=\"1\"/>")), 0x5D);
}

TEST(DeviceTestLine, FirstSixteenSerialCharactersAndFiscalState) {
    for (const bool fiscal : {true, false}) {
        SCOPED_TRACE(fiscal);
        test::TFakeLink link;
        test::TScriptedContext context(&link);
        context.Device().SetConnectPwd(IntToLEBytes(4, 30));
        context.Device().SetFeedCount(4);
        context.Device().SetLineLen(48);
        link.Expect({0x13}, TBytes{}, Bytes({0x4F}));  // a refused beep does not stop the test
        TBytes serial{0};
        const TBytes digits = BytesOf("12345678901234567890");
        serial.insert(serial.end(), digits.begin(), digits.end());
        link.Expect({0x1F}, Bytes({18, 1, 0, 1}), serial);
        TBytes status(31, 0);
        status[1] = fiscal ? 0x03 : 0x01;
        link.Expect({0xFF, 0x01}, TBytes{}, status);
        TBytes type{0, 0, 0, 1, 2, 0, 0};
        const TBytes model = Utf8ToSingleByte("ККТ-Ф");
        type.insert(type.end(), model.begin(), model.end());
        link.Expect({0xFC}, TBytes{}, type);
        const std::string line = std::string("ККТ-Ф, № 1234567890123456, ") + (fiscal ? "ФИСК" : "НЕ ФИСК");
        TBytes print{3};
        const TBytes text = Utf8ToSingleByte(line);
        print.insert(print.end(), text.begin(), text.end());
        link.Expect({0x17}, print, Ok());
        std::string description;
        EXPECT_EQ(DeviceTestBody(context, description), 0);
        EXPECT_EQ(description, line);
        EXPECT_EQ(context.Calls, (Strings{"Cut(false,false,4)"}));
        EXPECT_TRUE(link.Done());
        ASSERT_FALSE(link.Sent.empty());
        EXPECT_FALSE(link.Sent[3].SendPwd);
    }
}

TEST(DeviceTestLine, FailedSerialReadLeavesTheDescriptionEmpty) {
    test::TFakeLink link;
    test::TScriptedContext context(&link);
    link.Expect({0x13}, TBytes{}, Ok());
    link.Expect({0x1F}, std::nullopt, Bytes({0x5D}));
    std::string description = "old";
    EXPECT_EQ(DeviceTestBody(context, description), 0x5D);
    EXPECT_EQ(description, "");
    EXPECT_TRUE(context.Calls.empty());
}

TEST(AdditionalActions, NoneOfferedAndOnlyTheSettingsDialogAccepted) {
    EXPECT_EQ(AdditionalActionsText(), "");
    EXPECT_EQ(DoAdditionalActionResult("ShowSettingsDlg"), 0);
    EXPECT_EQ(DoAdditionalActionResult("showsettingsdlg"), 1003);
    EXPECT_EQ(DoAdditionalActionResult(""), 1003);
}

}  // namespace
}  // namespace fr
