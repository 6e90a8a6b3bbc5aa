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

Strings AttributeNames(const pugi::xml_node& ANode) {
    Strings names;
    for (const pugi::xml_attribute& a : ANode.attributes()) names.push_back(a.name());
    return names;
}

pugi::xml_node OutputParams(const pugi::xml_document& ADoc, const char* ARoot) {
    return ADoc.child(ARoot).child("Parameters");
}

class ShiftOperationsTest : public test::ScriptedOperationTest {
protected:
    // OpenShift up to and including the shift-state check.
    void ExpectShiftCheck(std::uint8_t AFNSession, std::uint8_t AFullMode) {
        ExpectUnlockIdle();
        ExpectSessionParams(0, 3, 0);
        ExpectSessionParams(AFNSession, 3, 0);
        ExpectFullState(AFullMode);
    }
    // OpenShift from the receipt cancellation to the end, with FN warning flags AWarnings.
    void ExpectOpenShiftTail(std::uint8_t AWarnings) {
        Link.ExpectIdle();  // no receipt open
        ExpectFNStatus(3, 0, 41);  // the last document before the shift report
        Link.Expect({0xFF, 0x41}, TBytes{}, Ok());
        ExpectRequisite(1021, Utf8ToSingleByte("Иванов И.И.", CodePage::Cp866));
        ExpectRequisite(1203, BytesOf("7700000000  "));
        Link.ExpectIdle();
        Link.Expect({0xE0}, TBytes{}, Ok(), kOpenShiftTimeout);
        ExpectSessionParams(1, 4, 0);
        ExpectExchange(2, 40);
        ExpectFNStatus(3, AWarnings, 42);
    }

    std::int64_t Session = -1, Document = -1;
    pugi::xml_document Out;
};

TEST_F(ShiftOperationsTest, OpenShiftSendsOemCashierAndPaddedTenDigitINNAndReportsWarnings) {
    ExpectShiftCheck(0, 4);
    ExpectOpenShiftTail(0x05);
    ASSERT_EQ(OpenShiftBody(Context, "Иванов И.И.", "7700000000", Session, Document, Out), 0);
    EXPECT_EQ(Session, 4);
    EXPECT_EQ(Document, 42);
    EXPECT_EQ(Context.Calls, (Strings{"CheckPrintState", "WaitPrintCompletion", "Cut(false,true,-1)"}));
    EXPECT_EQ(XmlDocumentText(Out),
              "<?xml version=\"1.0\"?>\r\n<OutputParameters>\r\n\t<Parameters UrgentReplacementFN=\"true\" "
              "ResourcesExhaustionFN=\"false\" MemoryOverflowFN=\"true\" OFDTimeout=\"false\" />\r\n"
              "</OutputParameters>\r\n");
}

TEST_F(ShiftOperationsTest, OpenShiftRefusesAnOpenOrExpiredShiftBeforeTouchingThePrinter) {
    struct Case {
        const char* Name;
        std::uint8_t FNSession, FullMode;
        std::int32_t Result;
    };
    for (const Case& c : {Case{"open", 1, 2, 3015}, Case{"expired", 1, 3, 3002}}) {
        SCOPED_TRACE(c.Name);
        Context.Calls.clear();
        ExpectShiftCheck(c.FNSession, c.FullMode);
        EXPECT_EQ(OpenShiftBody(Context, "Кассир", "", Session, Document, Out), c.Result);
        EXPECT_TRUE(Context.Calls.empty());
        EXPECT_FALSE(Out.first_child());
        EXPECT_TRUE(Link.Done());
    }
}

TEST_F(ShiftOperationsTest, OpenShiftStopsWhenAnInterruptedDocumentWasFinished) {
    ExpectShiftCheck(0, 4);
    Context.CheckPrintResult = 3028;
    EXPECT_EQ(OpenShiftBody(Context, "Кассир", "", Session, Document, Out), 3028);
    EXPECT_EQ(Context.Calls, (Strings{"CheckPrintState"}));
}

TEST_F(ShiftOperationsTest, OpenShiftWithRefusedCashierINNGives3026AndDoesNotOpen) {
    ExpectShiftCheck(0, 4);
    Link.ExpectIdle();
    ExpectFNStatus(3, 0, 41);
    Link.Expect({0xFF, 0x41}, TBytes{}, Ok());
    ExpectRequisite(1021, Utf8ToSingleByte("Кассир", CodePage::Cp866));
    ExpectRequisite(1203, BytesOf("12ab        "), Bytes({0x33}));
    EXPECT_EQ(OpenShiftBody(Context, "Кассир", "12ab", Session, Document, Out), 3026);
    EXPECT_EQ(Session, -1);
    EXPECT_FALSE(Out.first_child());
}

TEST_F(ShiftOperationsTest, CloseShiftCountsTheFourReceiptRegistersAndReportsTheBacklog) {
    ExpectUnlockIdle();
    Link.ExpectIdle();  // CancelReceipt
    ExpectOperationRegister(144, 5);
    ExpectOperationRegister(145, 1);
    ExpectOperationRegister(146, 0);
    ExpectOperationRegister(147, 0);
    ExpectFNStatus(3, 0, 56);
    Link.Expect({0xFF, 0x42}, TBytes{}, Ok());
    ExpectRequisite(1021, Utf8ToSingleByte("Кассир", CodePage::Cp866));
    ExpectRequisite(1203, BytesOf("123456789012"));
    Link.ExpectIdle();
    Link.Expect({0x41}, TBytes{}, Ok(), kZReportTimeout);
    ExpectFNStatus(3, 0, 57);
    ExpectSessionParams(0, 4, 6);
    ExpectExchange(3, 51);
    ASSERT_EQ(CloseShiftBody(Context, "Кассир", "123456789012", Session, Document, Out), 0);
    EXPECT_EQ(Session, 4);
    EXPECT_EQ(Document, 57);
    EXPECT_EQ(Context.Calls, (Strings{"CheckPrintState", "WaitPrintCompletion", "Cut(false,true,-1)"}));
    const pugi::xml_node p = OutputParams(Out, "OutputParameters");
    EXPECT_STREQ(p.attribute("NumberOfChecks").value(), "6");
    EXPECT_STREQ(p.attribute("NumberOfDocuments").value(), "8");
    EXPECT_STREQ(p.attribute("BacklogDocumentsCounter").value(), "3");
    EXPECT_STREQ(p.attribute("BacklogDocumentFirstNumber").value(), "51");
    EXPECT_STREQ(p.attribute("BacklogDocumentFirstDateTime").value(), "2026-12-09T10:15:00.000Z");
    EXPECT_EQ(AttributeNames(p), (Strings{"NumberOfChecks", "NumberOfDocuments", "BacklogDocumentsCounter",
                                          "BacklogDocumentFirstNumber", "BacklogDocumentFirstDateTime"}));
}

TEST_F(ShiftOperationsTest, CloseShiftRefusedByTheRegisterLeavesNoDocumentAndNoCut) {
    ExpectUnlockIdle();
    Link.ExpectIdle();
    for (std::uint8_t reg : {144, 145, 146, 147}) ExpectOperationRegister(reg, 0);
    ExpectFNStatus(3, 0, 56);
    Link.ExpectIdle();  // an empty cashier name: no begin command, no requisites
    Link.Expect({0x41}, TBytes{}, Bytes({0x4E}));
    EXPECT_EQ(CloseShiftBody(Context, "", "", Session, Document, Out), 0x4E);
    EXPECT_EQ(Context.Calls, (Strings{"CheckPrintState"}));
    EXPECT_FALSE(Out.first_child());
}

TEST_F(ShiftOperationsTest, SettlementsReportSendsTheINNUnpaddedAndBuildsTheCloseShiftDocument) {
    ExpectUnlockIdle();
    Link.ExpectIdle();
    for (std::uint8_t reg : {144, 145, 146, 147}) ExpectOperationRegister(reg, 1);
    ExpectSessionParams(1, 4, 4);
    ExpectFNStatus(3, 0, 60);
    Link.Expect({0xFF, 0x37}, TBytes{}, Ok());
    ExpectRequisite(1021, Utf8ToSingleByte("Кассир", CodePage::Cp866));
    ExpectRequisite(1203, BytesOf("7700000000"));
    Link.ExpectIdle();
    Link.Expect({0xFF, 0x38}, TBytes{}, Ok());
    ExpectSessionParams(1, 4, 5);
    ExpectExchange(0, 0);
    ASSERT_EQ(ReportCurrentStatusOfSettlementsBody(Context, "Кассир", "7700000000", Out), 0);
    const pugi::xml_node p = OutputParams(Out, "OutputParameters");
    EXPECT_STREQ(p.attribute("NumberOfChecks").value(), "4");
    EXPECT_STREQ(p.attribute("NumberOfDocuments").value(), "7");
    EXPECT_STREQ(p.attribute("BacklogDocumentFirstNumber").value(), "0");
    EXPECT_EQ(Context.Calls, (Strings{"CheckPrintState", "WaitPrintCompletion", "Cut(false,true,-1)"}));
}

// "Printing the previous command" may come without a report: the fiscal storage says whether one
// was made, and here none was.
TEST_F(ShiftOperationsTest, SettlementsReportAnsweredPrintingPreviousIsCheckedInTheFiscalStorage) {
    ExpectUnlockIdle();
    Link.ExpectIdle();
    for (std::uint8_t reg : {144, 145, 146, 147}) ExpectOperationRegister(reg, 1);
    ExpectSessionParams(1, 4, 4);
    ExpectFNStatus(3, 0, 60);
    Link.ExpectIdle();
    Link.Expect({0xFF, 0x38}, TBytes{}, Bytes({80}));
    ExpectFNStatus(3, 0, 60);
    EXPECT_EQ(ReportCurrentStatusOfSettlementsBody(Context, "", "", Out), 80);
    EXPECT_EQ(Context.Calls, (Strings{"CheckPrintState"}));
}

TEST_F(ShiftOperationsTest, CashInOutcomeOfZeroPrintsNothingButStillCuts) {
    ExpectUnlockIdle();
    Link.ExpectIdle();
    EXPECT_EQ(CashInOutcomeBody(Context, 0), 0);
    EXPECT_EQ(Context.Calls, (Strings{"CheckPrintState", "WaitPrintCompletion", "Cut(false,true,-1)"}));
}

TEST_F(ShiftOperationsTest, CashInOutcomeWithdrawsANegativeAmountInKopecks) {
    ExpectUnlockIdle();
    Link.ExpectIdle();
    Link.Expect({0x1A}, Bytes({241}), Bytes({0, 30, 0xB1, 0x3A, 0, 0, 0, 0}));  // the cash in the till
    Link.ExpectIdle();
    Link.Expect({0x51}, Bytes({0xB1, 0x3A, 0, 0, 0}), Ok());
    EXPECT_EQ(CashInOutcomeBody(Context, -1502500), 0);
}

TEST_F(ShiftOperationsTest, XReportCancelsAReceiptLeftOpenFirst) {
    ExpectUnlockIdle();
    Link.ExpectState(8, 0);
    Link.Expect({0x88}, TBytes{}, Ok());
    Link.ExpectIdle();
    Link.Expect({0x40}, TBytes{}, Ok());
    EXPECT_EQ(PrintXReportBody(Context), 0);
    EXPECT_EQ(Context.Calls, (Strings{"CheckPrintState", "WaitPrintCompletion", "Cut(false,true,-1)"}));
}

TEST_F(ShiftOperationsTest, XReportPaperProblemAfterPrintingIs3027WithoutCut) {
    ExpectUnlockIdle();
    Link.ExpectIdle();
    Link.ExpectIdle();
    Link.Expect({0x40}, TBytes{}, Ok());
    Context.WaitPrintResult = 3027;
    EXPECT_EQ(PrintXReportBody(Context), 3027);
    EXPECT_EQ(Context.Calls, (Strings{"CheckPrintState", "WaitPrintCompletion"}));
}

TEST_F(ShiftOperationsTest, CurrentStatusReportsShiftStateAsFNStatePlusOneOr3PastADayAndTheFNDocumentNumber) {
    // FN session state, register mode (asked only for an open shift), state reported.
    const std::uint8_t rows[][3] = {{0, 0, 1}, {1, 2, 2}, {1, 3, 3}};
    for (const auto& [fnSession, mode, expected] : rows) {
        SCOPED_TRACE(int{mode});
        ExpectExchange(1, 77);
        ExpectSessionParams(fnSession, 12, 9);
        if (fnSession == 1) ExpectFullState(mode);
        ExpectFNStatus(3, 0, 77);
        std::int64_t check = 0, session = 0;
        std::uint8_t state = 0;
        ASSERT_EQ(GetCurrentStatusBody(Context, check, session, state, Out), 0);
        EXPECT_EQ(state, expected);
        EXPECT_EQ(session, 12);
        EXPECT_EQ(check, 77);
        const pugi::xml_node p = OutputParams(Out, "StatusParameters");
        EXPECT_EQ(AttributeNames(p),
                  (Strings{"BacklogDocumentsCounter", "BacklogDocumentFirstNumber", "BacklogDocumentFirstDateTime"}));
        EXPECT_TRUE(Link.Done());
    }
    EXPECT_TRUE(Context.Calls.empty());
}

TEST_F(ShiftOperationsTest, OpenCashDrawerSendsOnlyTheDrawerCommand) {
    Link.Expect({0x28}, Bytes({0}), Ok());
    EXPECT_EQ(OpenCashDrawerBody(Context), 0);
}

}  // namespace
}  // namespace fr
