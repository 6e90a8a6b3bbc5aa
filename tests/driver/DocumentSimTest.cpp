// Receipts, corrections and text documents against the simulated register, over TCP and over a
// pseudo-terminal: what reaches the paper and the fiscal storage, and faults after the close.

#include <gtest/gtest.h>

#include "driver/SimRegister.h"
#include "platform/Xml.h"

namespace fr::test {
namespace {

class DocumentSimTest : public ::testing::TestWithParam<TSimLink> {
protected:
    DocumentSimTest() : Reg(GetParam()), Env(*Reg.Device) {}
    void SetUp() override {
        Reg.Sim.SetLineWidth(32);
        ASSERT_EQ(Reg.Connect(), 0);
    }
    void TearDown() override { Reg.Device->Disable(); }

    std::int32_t Check(const std::string& AXml) {
        LoadXmlDocument(Doc, AXml);
        Out = {};
        Side = {};
        return ProcessCheckBody(Env, Taxes, false, Doc, Out, Side);
    }

    TSimRegister Reg;
    TPlainEnvironment Env;
    TTaxValues Taxes;
    pugi::xml_document Doc;
    TReceiptOutputs Out;
    TSideChannels Side;
};

TEST_P(DocumentSimTest, SaleIsFiscalisedAndPrintedInTheDriversLayout) {
    Reg.Sim.ClearTape();
    ASSERT_EQ(Check(SalePackage(2)), 0);
    EXPECT_EQ(Out.CheckNumber, static_cast<std::int64_t>(Reg.Sim.Status().LastDocument));
    EXPECT_FALSE(Out.FiscalSign.empty());
    EXPECT_EQ(Out.SessionNumber, Reg.Sim.Status().ShiftNumber);
    const std::string tape = Reg.Sim.TapeText();
    for (const char* line : {"Товар 1\n", "                   1.000 X 10.00\n", "1                         =10.00\n",
                             "СП.РАСЧ.           ПОЛНЫЙ РАСЧЕТ\n", "СКИДКА                      1.00\n",
                             "НДС 20%                         \n", "НДС 10%                         \n"})
        EXPECT_NE(tape.find(line), std::string::npos) << line << "\nin\n" << tape;
    EXPECT_NE(tape.find("partial cut"), std::string::npos);
}

TEST_P(DocumentSimTest, ExpiredAndClosedShiftsAreRefused) {
    Reg.Sim.AdvanceClock(25 * 3600);
    EXPECT_EQ(Check(SalePackage(1)), errShiftExpired);
    // A Z report closes the shift.
    ASSERT_EQ(Reg.Sim.Execute({0x41, 30, 0, 0, 0}).at(1), 0);
    EXPECT_EQ(Check(SalePackage(1)), errShiftClosed);
    EXPECT_FALSE(Reg.Sim.Status().ShiftOpen);
}

// The register fiscalises the receipt, then the table read is refused: the receipt is reported
// registered with its numbers, and nothing is left open.
TEST_P(DocumentSimTest, ReceiptFiscalisedBeforeARefusedQueryIsReported) {
    sim::TFault fault;
    fault.Kind = sim::TFaultKind::Refuse;
    fault.Command = 0x1F;
    fault.Code = 0x33;
    Reg.Sim.AddFault(fault);
    EXPECT_EQ(Check(SalePackage(1)), 0);
    const std::uint32_t document = Reg.Sim.Status().LastDocument;
    EXPECT_EQ(Out.CheckNumber, document);
    EXPECT_FALSE(Out.FiscalSign.empty());
    Reg.Sim.ClearFaults();
    EXPECT_EQ(Check(SalePackage(1)), 0);
    EXPECT_EQ(Reg.Sim.Status().LastDocument, document + 1);
}

TEST_P(DocumentSimTest, RefusedRequisiteLeavesTheReceiptOpenForTheCancel) {
    sim::TFault fault;
    fault.Kind = sim::TFaultKind::Refuse;
    fault.Command = 0xFF4D;
    fault.Code = 0x03;
    Reg.Sim.AddFault(fault);
    const std::uint32_t before = Reg.Sim.Status().LastDocument;
    EXPECT_EQ(Check(SalePackage(1)), 0x03);
    EXPECT_EQ(Reg.Device->CancelReceipt(), 0);
    EXPECT_EQ(Reg.Sim.Status().LastDocument, before);
    EXPECT_EQ(Check(SalePackage(1)), 0);
}

TEST_P(DocumentSimTest, CorrectionWithBasisDate) {
    LoadXmlDocument(Doc, R"(<CheckCorrectionPackage><Parameters CashierName="Кассир" PaymentType="1" CorrectionType="0"
        TaxVariant="0" CorrectionBaseName="Предписание" CorrectionBaseDate="2026-03-15T14:30:00" CorrectionBaseNumber="7"
        Sum="100" SumTAX20="16.67"/><Payments Cash="100"/></CheckCorrectionPackage>)");
    ASSERT_EQ(ProcessCorrectionCheckBody(Env, Doc, Out, Side), 0);
    EXPECT_EQ(Out.CheckNumber, static_cast<std::int64_t>(Reg.Sim.Status().LastDocument));
}

TEST_P(DocumentSimTest, TextDocumentCutsAtTheMarker) {
    Reg.Sim.ClearTape();
    LoadXmlDocument(Doc, R"(<Document NoCut="true"><Positions><TextString Text="первый"/><TextString Text="-[cut]-"/>)"
                         R"(<TextString Text="второй"/><Barcode BarcodeType="EAN13" Barcode="4601234567893"/></Positions></Document>)");
    ASSERT_EQ(PrintTextDocumentBody(Env, Doc), 0);
    const std::string tape = Reg.Sim.TapeText();
    EXPECT_LT(tape.find("первый"), tape.find("cut"));
    EXPECT_LT(tape.find("cut"), tape.find("второй"));
    EXPECT_EQ(tape.find("[cut]"), std::string::npos);
    EXPECT_NE(tape.find("[EAN-13 4601234567893]"), std::string::npos) << tape;
}

INSTANTIATE_TEST_SUITE_P(Links, DocumentSimTest, ::testing::Values(TSimLink::Tcp, TSimLink::Pty),
                         [](const ::testing::TestParamInfo<TSimLink>& info) { return SimLinkName(info.param); });

}  // namespace
}  // namespace fr::test
