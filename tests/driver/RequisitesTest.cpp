// Requisite values byte for byte and the refusal texts of agent and purveyor data.

#include <gtest/gtest.h>

#include "device/FakeLink.h"
#include "driver/PackageValues.h"
#include "driver/Requisites.h"
#include "platform/Xml.h"

namespace fr::test {
namespace {

pugi::xml_node Parse(pugi::xml_document& ADoc, const char* AText) {
    LoadXmlDocument(ADoc, AText);
    return ADoc.document_element();
}

TBytes Cat(std::initializer_list<TBytes> AParts) {
    TBytes all;
    for (const TBytes& p : AParts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

TEST(RequisiteValuesTest, AgentDataWithOneAttributeHoldsOneTLV) {
    pugi::xml_document doc;
    const auto node = Parse(doc, R"(<AgentData PayingAgentPhone="+79001234567" PayingAgentOperation=" "/>)");
    EXPECT_EQ(AgentDataValue(node), Cat({Bytes({0x31, 0x04, 0x0C, 0x00}), Ansi("+79001234567")}));
}

TEST(RequisiteValuesTest, AgentDataInFixedOrderWithEncodings) {
    pugi::xml_document doc;
    const auto node = Parse(doc, R"(<AgentData MoneyTransferOperatorVATIN="7701234567" MoneyTransferOperatorName="Оператор"
        PayingAgentOperation="Платеж"/>)");
    EXPECT_EQ(AgentDataValue(node), Cat({SetTLV(1044, Oem("Платеж")), SetTLV(1026, Oem("Оператор")),
                                         SetTLV(1016, Ansi("7701234567  "))}));
    EXPECT_EQ(Oem("О"), Bytes({0x8E}));
}

TEST(RequisiteValuesTest, PurveyorDataHoldsPhoneAndName) {
    pugi::xml_document doc;
    const auto node = Parse(doc, R"(<PurveyorData PurveyorName="ООО" PurveyorPhone="+7123" PurveyorVATIN="1234567890"/>)");
    EXPECT_EQ(PurveyorDataValue(node), Cat({SetTLV(1171, Ansi("+7123")), SetTLV(1225, Bytes({0x8E, 0x8E, 0x8E}))}));
}

TEST(RequisiteValuesTest, MarkingCodeParts) {
    struct Row {
        const char* Xml;
        std::optional<TBytes> Value;
    };
    const Row rows[] = {
        {R"(<G StampType="02" Stamp="ABC" SerialNumber="XYZ" GTIN="1"/>)",
         Cat({Ansi("DM"), Bytes({0, 0, 0, 0, 0, 1}), Ansi("ABC")})},
        {R"(<G StampType="05" Stamp="ABC" SerialNumber="XYZ" GTIN="4601234567893"/>)",
         Cat({Ansi("DM"), Bytes({0x04, 0x2F, 0x4E, 0xF3, 0xB2, 0xD5}), Ansi("XYZ")})},
        {R"(<G StampType=" " Stamp="ABC" GTIN="1"/>)", std::nullopt},
        {R"(<G/>)", std::nullopt},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.Xml);
        pugi::xml_document doc;
        EXPECT_EQ(MarkingCodeValue(Parse(doc, row.Xml)), row.Value);
    }
}

TEST(RequisiteValuesTest, IncompleteMarkingCodesThrowWithTheirMessage) {
    struct Row {
        const char* Xml;
        const char* Message;
    };
    const Row rows[] = {
        {R"(<G StampType="02" Stamp=" " SerialNumber="X" GTIN="1"/>)", "Не заполнен КиЗ"},
        {R"(<G StampType="05" Stamp="S" GTIN="1"/>)", "Не заполнен серийный номер"},
        {R"(<G StampType="02" Stamp="S" GTIN=""/>)", "Не заполнен GTIN"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.Xml);
        pugi::xml_document doc;
        try {
            MarkingCodeValue(Parse(doc, row.Xml));
            ADD_FAILURE() << "no exception";
        } catch (const EMarkingCodeError& e) {
            EXPECT_STREQ(e.what(), row.Message);
        }
    }
    pugi::xml_document doc;
    EXPECT_THROW(MarkingCodeValue(Parse(doc, R"(<G StampType="02" Stamp="S" GTIN="12a"/>)")), EConvertError);
    EXPECT_THROW(MarkingCodeValue(Parse(doc, R"(<G StampType="02" Stamp="S" GTIN="281474976710656"/>)")), EConvertError);
}

TEST(RequisiteValuesTest, ExciseIsSixBytesOfKopecks) {
    EXPECT_EQ(ExciseValue(15000), Bytes({0x96, 0, 0, 0, 0, 0}));
    EXPECT_EQ(ExciseValue(-1), std::nullopt);
}

// Receipt mode sends each attribute alone, in order, and never the purveyor's name or number.
TEST_F(DeviceTest, ReceiptModeSendsAttributesAloneAndSkipsPurveyorNameAndNumber) {
    pugi::xml_document agent, purveyor;
    Parse(agent, R"(<AgentData MoneyTransferOperatorPhone="+7333" PayingAgentPhone="+7111"/>)");
    Parse(purveyor, R"(<PurveyorData PurveyorName="X" PurveyorVATIN="1234567890" PurveyorPhone="+7222"/>)");
    Link.Expect({0xFF, 0x0C}, SetTLV(1073, Ansi("+7111")), Ok())
        .Expect({0xFF, 0x0C}, SetTLV(1075, Ansi("+7333")), Ok())
        .Expect({0xFF, 0x0C}, SetTLV(1171, Ansi("+7222")), Ok());
    std::string descr;
    EXPECT_EQ(SendReceiptAgentRequisites(Device, agent.document_element(), purveyor.document_element(), descr), 0);
    EXPECT_EQ(descr, "");
}

TEST_F(DeviceTest, RefusedRequisiteNamesItselfInTheDescription) {
    pugi::xml_document agent;
    Parse(agent, R"(<AgentData PayingAgentPhone="+7111" MoneyTransferOperatorVATIN="770123456789"/>)");
    Link.Expect({0xFF, 0x0C}, std::nullopt, Ok()).Expect({0xFF, 0x0C}, SetTLV(1016, Ansi("770123456789")), Bytes({0x03}));
    std::string descr;
    EXPECT_EQ(SendReceiptAgentRequisites(Device, agent.document_element(), {}, descr), 3);
    EXPECT_EQ(descr, "Некорректный ИНН оператора перевода");
}

TEST_F(DeviceTest, PositionModeSendsSignStructuresAndPurveyorNumber) {
    pugi::xml_document agent, purveyor;
    Parse(agent, R"(<AgentData PayingAgentPhone="+7111"/>)");
    Parse(purveyor, R"(<PurveyorData PurveyorName="ООО" PurveyorVATIN="1234567890"/>)");
    Link.Expect({0xFF, 0x4D}, Bytes({0xC6, 0x04, 0x01, 0x00, 0x40}), Ok())
        .Expect({0xFF, 0x4D}, SetTLV(1223, SetTLV(1073, Ansi("+7111"))), Ok())
        .Expect({0xFF, 0x4D}, SetTLV(1226, Ansi("1234567890  ")), Ok())
        .Expect({0xFF, 0x4D}, SetTLV(1224, SetTLV(1225, Bytes({0x8E, 0x8E, 0x8E}))), Bytes({0x7E}));
    std::string descr;
    EXPECT_EQ(SendPositionAgentRequisites(Device, 6, agent.document_element(), purveyor.document_element(), descr), 0x7E);
    EXPECT_EQ(descr, "Некорректные данные в составной структуре поставщика платежного агента");
}

TEST_F(DeviceTest, PositionAgentSignOutOfRangeSendsNothing) {
    std::string descr;
    EXPECT_EQ(SendPositionAgentRequisites(Device, 7, {}, {}, descr), errAgentSignRange);
    EXPECT_EQ(SendPositionAgentRequisites(Device, -2, {}, {}, descr), errAgentSignRange);
    EXPECT_EQ(SendPositionAgentRequisites(Device, -1, {}, {}, descr), 0);
}

TEST_F(DeviceTest, PositionRequisitesInOrder) {
    pugi::xml_document pos;
    Parse(pos, R"(<FiscalString CountryOfOrigin=" 643 " CustomsDeclaration="ДТ/1" ExciseAmount="1.50">
        <GoodCodeData StampType="02" Stamp="K" GTIN="1"/></FiscalString>)");
    const pugi::xml_node fs = pos.document_element();
    Link.Expect({0xFF, 0x4D}, SetTLV(1162, Cat({Ansi("DM"), Bytes({0, 0, 0, 0, 0, 1}), Ansi("K")})), Ok())
        .Expect({0xFF, 0x4D}, SetTLV(1230, Ansi("643")), Ok())
        .Expect({0xFF, 0x4D}, SetTLV(1231, Oem("ДТ/1")), Ok())
        .Expect({0xFF, 0x4D}, Cat({Bytes({0xCD, 0x04, 0x06, 0x00}), Bytes({0x96, 0, 0, 0, 0, 0})}), Ok());
    EXPECT_EQ(SendPositionRequisites(Device, fs, fs.child("GoodCodeData")), 0);
}

}  // namespace
}  // namespace fr::test
