// Receipts, corrections and text documents against a scripted register: the command sequence,
// requisites byte for byte, refusals and what the side channels carry.

#include <gtest/gtest.h>

#include "driver/PackageValues.h"
#include "driver/ReceiptLines.h"
#include "driver/Requisites.h"
#include "driver/ScriptedEnvironment.h"
#include "framework/ErrorCodes.h"
#include "platform/Encoding.h"
#include "platform/Xml.h"

namespace fr::test {
namespace {

TBytes Cat(std::initializer_list<TBytes> AParts) {
    TBytes all;
    for (const TBytes& p : AParts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

TBytes FullState(std::uint8_t AMode, int AYear = 2026, int AMonth = 3, int ADay = 15) {
    TBytes answer(47, 0);
    answer[14] = AMode;
    answer[24] = static_cast<std::uint8_t>(ADay);
    answer[25] = static_cast<std::uint8_t>(AMonth);
    answer[26] = static_cast<std::uint8_t>(AYear - 2000);
    return answer;
}

TBytes Print(std::string_view AText) { return Cat({Bytes({0x03}), Ansi(AText)}); }
std::string JustifyLineText(const char* ACaption, int AWidth = 32) { return SingleByteToUtf8(JustifyLine(Ansi(ACaption), {}, AWidth)); }

class DocumentTest : public DeviceTest {
protected:
    DocumentTest() : Env(Device) {}

    void Load(const char* AXml) { LoadXmlDocument(Doc, AXml); }
    // UnlockDataOutputMode, then IsDayOpened with the FN's shift state and the register's mode.
    void ExpectShift(std::uint8_t AFnState, std::uint8_t AMode = 2) {
        Link.Expect({0x11}, TBytes{}, FullState(AMode));
        Link.ExpectIdle().Expect({0xFF, 0x40}, TBytes{}, Bytes({0, AFnState, 7, 0, 3, 0}));
        Link.Expect({0x11}, TBytes{}, FullState(AMode));
    }
    void ExpectOpen(std::uint8_t AType) {
        ExpectShift(1);
        Link.ExpectIdle();                                   // CancelReceipt: nothing open
        Link.ExpectIdle().Expect({0x8D}, Bytes({AType}), Ok());  // OpenReceipt
    }
    // The FN's last document (100) is read before the close.
    static TBytes FnStatus() {
        TBytes a(31, 0);
        a[27] = 100;
        return a;
    }
    void ExpectClose(const TBytes& ACloseData) {
        Link.Expect({0xFF, 0x01}, TBytes{}, FnStatus());
        Link.ExpectIdle().Expect({0xFF, 0x45}, ACloseData,
                                 Bytes({0, 0, 0, 0, 0, 0, 101, 0, 0, 0, 0xEF, 0xBE, 0xAD, 0xDE}));
    }
    void ExpectAfterClose() {
        Link.ExpectIdle().Expect({0xFF, 0x40}, TBytes{}, Bytes({0, 1, 7, 0, 3, 0}));
        Link.Expect({0x1F}, Bytes({18, 1, 0, 13}), Cat({Ok(), Ansi("www.nalog.gov.ru"), TBytes(8, 0)}));
    }
    static TBytes CloseData(TCurrencyValue ACash, std::array<TCurrencyValue, 6> ATaxes, std::uint8_t ATaxVariant) {
        TCloseCheckData d;
        d.Sums[0] = ACash;
        d.Taxes = ATaxes;
        TBytes data;
        for (TCurrencyValue s : d.Sums) AppendMoney(data, s);
        data.push_back(0);
        for (TCurrencyValue t : d.Taxes) AppendMoney(data, t);
        data.push_back(ATaxVariant);
        return data;
    }
    std::int32_t RunCheck() { return ProcessCheckBody(Env, Taxes, false, Doc, Out, Side); }

    TScriptedEnvironment Env;
    TTaxValues Taxes;
    pugi::xml_document Doc;
    TReceiptOutputs Out;
    TSideChannels Side;
};

// ---------------------------------------------------------------------------------------------
// Receipts

TEST_F(DocumentTest, SaleWithOnePositionSendsTheWholeSequence) {
    Load(R"(<CheckPackage><Parameters PaymentType="1" TaxVariant="0" CashierName="Иванов"
              CustomerEmail=" a@b.ru " CustomerPhone="+7999"/>
            <Positions><FiscalString Name="Хлеб" Quantity="2" PriceWithDiscount="50" SumWithDiscount="100"
              TaxSum="16.67" Tax="20" Department="1" SignMethodCalculation="4" SignCalculationObject="1"/></Positions>
            <Payments Cash="100" ElectronicPayment="0"/></CheckPackage>)");
    ExpectOpen(0);
    TBytes item{1, 0x80, 0x84, 0x1E, 0, 0, 0, 0x88, 0x13, 0, 0, 0, 0x10, 0x27, 0, 0, 0, 0x83, 0x06, 0, 0, 0,
                0x01, 1, 4, 1, '/', '/'};
    item = Cat({item, Ansi("Хлеб")});
    Link.Expect({0xFF, 0x46}, item, Ok());
    for (const char* line : {"Хлеб", "                   2.000 X 50.00", "1                        \x1F" "100.00",
                             "СП.РАСЧ.           ПОЛНЫЙ РАСЧЕТ", "ПРЕДМ.РАСЧ.                ТОВАР"})
        Link.Expect({0x17}, Print(line), Ok());
    Link.Expect({0x11}, TBytes{}, FullState(8));
    Link.Expect({0x17}, Print("НДС 20%                         "), Ok());
    Link.Expect({0xFF, 0x0C}, SetTLV(1008, Ansi("a@b.ru")), Ok());
    Link.Expect({0xFF, 0x0C}, SetTLV(1021, Oem("Иванов")), Ok());
    ExpectClose(CloseData(1000000, {166700, 0, 0, 0, 0, 0}, 0x01));
    ExpectAfterClose();

    EXPECT_EQ(RunCheck(), 0);
    EXPECT_EQ(Out.CheckNumber, 101);
    EXPECT_EQ(Out.FiscalSign, "3735928559");
    EXPECT_EQ(Out.SessionNumber, 7);
    EXPECT_EQ(Out.AddressSiteInspections, "www.nalog.gov.ru");
    EXPECT_EQ(Env.Calls, (std::vector<std::string>{"CheckPrintState", "WaitPrintCompletion", "Cut(0,1,-1)"}));
    EXPECT_EQ(Side.ExtError, 0);
    EXPECT_EQ(Side.ExtErrorDescr, "");
}

TEST_F(DocumentTest, TaxGroupsTotalsAndUnknownTax) {
    Load(R"(<C><Parameters PaymentType="3" TaxVariant="5" CashierName=""/>
            <Positions>
              <FiscalString Name="A" Quantity="1" PriceWithDiscount="1" SumWithDiscount="1" TaxSum="0.10" Tax="NONE" SignMethodCalculation="1" SignCalculationObject="2"/>
              <FiscalString Name="B" Quantity="1" PriceWithDiscount="1" SumWithDiscount="1" TaxSum="0.20" Tax="18/118" SignMethodCalculation="1" SignCalculationObject="2"/>
              <FiscalString Name="C" Quantity="1" PriceWithDiscount="1" SumWithDiscount="1" TaxSum="0.30" Tax="20/120" SignMethodCalculation="1" SignCalculationObject="2"/>
              <FiscalString Name="D" Quantity="1" PriceWithDiscount="1" SumWithDiscount="1" TaxSum="0.40" Tax="5%" SignMethodCalculation="1" SignCalculationObject="2"/>
            </Positions><Payments Cash="4"/></C>)");
    Env.PrintMethod = false;
    ExpectOpen(1);
    const struct {
        const char* Name;
        std::uint8_t Byte;
        const char* Caption;
    } items[] = {{"A", 0x08, "БЕЗ НДС"}, {"B", 0x10, "НДС 18/118"}, {"C", 0x10, "НДС 20/120"}, {"D", 0x00, nullptr}};
    for (const auto& it : items) {
        Link.Expect({0xFF, 0x46}, std::nullopt, Ok());
        for (int i = 0; i < 3; ++i) Link.Expect({0x17}, std::nullopt, Ok());
        if (it.Caption) {
            Link.Expect({0x11}, TBytes{}, FullState(8));
            Link.Expect({0x17}, Print(JustifyLineText(it.Caption)), Ok());
        }
    }
    Link.Expect({0xFF, 0x0C}, SetTLV(1021, {}), Ok());
    ExpectClose(CloseData(40000, {0, 0, 0, 1000, 5000, 0}, 0x20));
    ExpectAfterClose();
    EXPECT_EQ(RunCheck(), 0);
    // Receipt type 1 (purchase), each item registered with the host's payment type 3 and its tax byte.
    std::vector<std::uint8_t> bytes, types;
    for (const TSentCommand& s : Link.Sent)
        if (s.Cmd == Bytes({0xFF, 0x46})) {
            types.push_back(s.Data[0]);
            bytes.push_back(s.Data[22]);
        }
    EXPECT_EQ(types, (std::vector<std::uint8_t>{3, 3, 3, 3}));
    EXPECT_EQ(bytes, (std::vector<std::uint8_t>{0x08, 0x10, 0x10, 0x00}));
}

TEST_F(DocumentTest, CaptionFollowsTheRegistersDateAndItsClockFailure) {
    Load(R"(<C><Parameters PaymentType="1" CashierName="К"/><Positions>
              <FiscalString Name="A" Quantity="1" PriceWithDiscount="1" SumWithDiscount="1" Tax="20" SignMethodCalculation="1" SignCalculationObject="1"/>
              <FiscalString Name="B" Quantity="1" PriceWithDiscount="1" SumWithDiscount="1" Tax="20" SignMethodCalculation="1" SignCalculationObject="1"/>
            </Positions><Payments Cash="2"/></C>)");
    Env.PrintMethod = false;
    Env.Width = 48;
    ExpectOpen(0);
    Link.Expect({0xFF, 0x46}, std::nullopt, Ok());
    for (int i = 0; i < 3; ++i) Link.Expect({0x17}, std::nullopt, Ok());
    Link.Expect({0x11}, TBytes{}, FullState(8, 2018, 12, 31));
    Link.Expect({0x17}, Print(JustifyLineText("НДС 18%", 48)), Ok());
    Link.Expect({0xFF, 0x46}, std::nullopt, Ok());
    for (int i = 0; i < 3; ++i) Link.Expect({0x17}, std::nullopt, Ok());
    Link.Expect({0x11}, TBytes{}, Bytes({0x50}));  // clock unreadable: current captions
    Link.Expect({0x17}, Print(JustifyLineText("НДС 20%", 48)), Ok());
    Link.Expect({0xFF, 0x0C}, std::nullopt, Ok());
    ExpectClose(CloseData(20000, {}, 0x01));
    ExpectAfterClose();
    EXPECT_EQ(RunCheck(), 0);
}

TEST_F(DocumentTest, MissingElementsAreRefusedBeforeAnyCommand) {
    for (const char* xml : {R"(<C><Parameters PaymentType="1"/><Positions/></C>)",
                            R"(<C><Positions/><Payments Cash="1"/></C>)",
                            R"(<C><Parameters PaymentType="1"/><Payments Cash="1"/></C>)", R"(<C/>)"}) {
        SCOPED_TRACE(xml);
        Load(xml);
        EXPECT_EQ(RunCheck(), errInvalidParameter);
    }
    EXPECT_TRUE(Link.Sent.empty());
    EXPECT_TRUE(Env.Calls.empty());
}

TEST_F(DocumentTest, ClosedAndExpiredShiftsStopBeforeTheReceipt) {
    Load(R"(<C><Parameters PaymentType="1"/><Positions><FiscalString Name="X"/></Positions><Payments/></C>)");
    ExpectShift(0, 4);
    EXPECT_EQ(RunCheck(), errShiftClosed);
    ExpectShift(1, 3);  // the register's mode says the 24 hours are over
    EXPECT_EQ(RunCheck(), errShiftExpired);
    ExpectShift(2, 2);
    EXPECT_EQ(RunCheck(), errShiftExpired);
    EXPECT_TRUE(Env.Calls.empty());
}

TEST_F(DocumentTest, UnknownPaymentTypeIsRefusedAfterTheCancelBeforeTheOpen) {
    for (const char* type : {"0", "5", "x"}) {
        SCOPED_TRACE(type);
        LoadXmlDocument(Doc, std::string(R"(<C><Parameters PaymentType=")") + type +
                                  R"("/><Positions><FiscalString Name="X"/></Positions><Payments/></C>)");
        ExpectShift(1);
        Link.ExpectIdle();
        EXPECT_EQ(RunCheck(), errInvalidParameter);
    }
}

// A register that accepts everything with plausible answers, except one command (optionally only
// when its data starts with a given requisite tag), which it refuses with a given code.
class TRuleLink : public TLinkProtocol {
public:
    int RunCommand(TBytes& AResponse, const TBytes&, const TBytes& ACmd, const TBytes& AData, int, bool,
                   bool) override {
        Sent.push_back({ACmd, AData, 0, true, {}});
        const bool tagMatches = !RefuseTag || (AData.size() >= 2 && AData[0] == (*RefuseTag & 0xFF) &&
                                               AData[1] == (*RefuseTag >> 8));
        if (ACmd == RefuseCmd && tagMatches) {
            AResponse = {static_cast<std::uint8_t>(RefuseCode)};
            return 0;
        }
        if (ACmd == Bytes({0x10})) AResponse = TBytes(16, 0);
        else if (ACmd == Bytes({0x11})) AResponse = FullState(2);
        else if (ACmd == Bytes({0xFF, 0x40})) AResponse = Bytes({0, 1, 7, 0, 3, 0});
        else if (ACmd == Bytes({0xFF, 0x45})) AResponse = Bytes({0, 0, 0, 0, 0, 0, 101, 0, 0, 0, 0xEF, 0xBE, 0xAD, 0xDE});
        else if (ACmd == Bytes({0xFF, 0x4A})) AResponse = Bytes({0, 0, 0, 102, 0, 0, 0, 1, 2, 3, 4});
        else AResponse = Ok();
        return 0;
    }
    // The requisites sent, as "cmd:tag" texts.
    std::vector<std::string> Requisites() const {
        std::vector<std::string> out;
        for (const TSentCommand& s : Sent)
            if ((s.Cmd == Bytes({0xFF, 0x0C}) || s.Cmd == Bytes({0xFF, 0x4D})) && s.Data.size() >= 2)
                out.push_back(BytesToHexText(s.Cmd) + ":" + std::to_string(s.Data[0] | (s.Data[1] << 8)));
        return out;
    }
    TBytes RequisiteData(std::uint16_t ATag) const {
        for (const TSentCommand& s : Sent)
            if ((s.Cmd == Bytes({0xFF, 0x0C}) || s.Cmd == Bytes({0xFF, 0x4D})) && s.Data.size() >= 4 &&
                (s.Data[0] | (s.Data[1] << 8)) == ATag)
                return TBytes(s.Data.begin() + 4, s.Data.end());
        return {};
    }
    bool SentCommand(const TBytes& ACmd) const {
        for (const TSentCommand& s : Sent)
            if (s.Cmd == ACmd) return true;
        return false;
    }

    TBytes RefuseCmd;
    std::optional<std::uint16_t> RefuseTag;
    int RefuseCode = 3;
    std::vector<TSentCommand> Sent;
};

class RuleTest : public ::testing::Test {
protected:
    RuleTest() : Device(&Link), Env(Device) { Device.SetConnectPwd(IntToLEBytes(4, 30)); }
    std::int32_t RunCheck(const std::string& AParameters, const std::string& APositions,
                          const std::string& APayments = R"(Cash="1")") {
        LoadXmlDocument(Doc, "<C><Parameters PaymentType=\"1\" " + AParameters + "/><Positions>" + APositions +
                                 "</Positions><Payments " + APayments + "/></C>");
        return ProcessCheckBody(Env, Taxes, true, Doc, Out, Side);
    }
    // A position with AExtra's attributes, and the method and object codes unless AExtra has them.
    static std::string Item(const std::string& AExtra, const std::string& AChildren = "") {
        std::string attrs = R"(Name="X" Quantity="1" PriceWithDiscount="1" SumWithDiscount="1" Tax="10" )" + AExtra;
        if (AExtra.find("SignMethodCalculation") == std::string::npos) attrs += R"( SignMethodCalculation="4")";
        if (AExtra.find("SignCalculationObject") == std::string::npos) attrs += R"( SignCalculationObject="1")";
        return "<FiscalString " + attrs + ">" + AChildren + "</FiscalString>";
    }

    TRuleLink Link;
    TDevice Device;
    TScriptedEnvironment Env;
    TTaxValues Taxes;
    pugi::xml_document Doc;
    TReceiptOutputs Out;
    TSideChannels Side;
};

struct TRefusalCase {
    const char* Name;
    const char* Parameters;
    const char* Position;  // attributes of one position
    const char* Children;  // its child elements
    TBytes Cmd;
    std::optional<std::uint16_t> Tag;
    int Result;
    int ExtError;
    const char* ExtErrorDescr;
};

class ReceiptRefusalTest : public RuleTest, public ::testing::WithParamInterface<TRefusalCase> {};

TEST_P(ReceiptRefusalTest, StopsWithItsCodeAndMessage) {
    const TRefusalCase& c = GetParam();
    Link.RefuseCmd = c.Cmd;
    Link.RefuseTag = c.Tag;
    EXPECT_EQ(RunCheck(c.Parameters, Item(c.Position, c.Children)), c.Result);
    EXPECT_EQ(Side.ExtError, c.ExtError);
    EXPECT_EQ(Side.ExtErrorDescr, c.ExtErrorDescr);
    EXPECT_FALSE(Link.SentCommand(Bytes({0xFF, 0x45}))) << "the receipt must not be closed";
}

const TBytes kDoc{0xFF, 0x0C}, kOp{0xFF, 0x4D};

INSTANTIATE_TEST_SUITE_P(
    Refusals, ReceiptRefusalTest,
    ::testing::Values(
        TRefusalCase{"CashierVATIN", R"(CashierVATIN="123")", "", "", kDoc, 1203, 3, 3026, ""},
        TRefusalCase{"CashierName", R"(CashierName="К")", "", "", kDoc, 1021, 3, 3029, ""},
        TRefusalCase{"AgentSignOutOfRange", R"(AgentSign="7")", "", "", {}, {}, 3023, 0, ""},
        TRefusalCase{"AgentSignRefused", R"(AgentSign="6")", "", "", kDoc, 1057, 3, 0, ""},
        TRefusalCase{"ObjectOutOfRange", "", R"(SignCalculationObject="20")", "", {}, {}, 3020, 0, ""},
        TRefusalCase{"MethodMissing", "", R"(SignMethodCalculation="")", "", {}, {}, 3021, 0, ""},
        TRefusalCase{"PositionAgentSign", "", R"(SignSubjectCalculationAgent="9")", "", {}, {}, 3023, 0, ""},
        TRefusalCase{"PositionAgentData", "", "", R"(<AgentData PayingAgentPhone="+7"/>)", kOp, 1223, 3, 0,
                     "Некорректные данные в составной структуре агентов"},
        TRefusalCase{"PurveyorVATIN", "", "", R"(<PurveyorData PurveyorVATIN="1234567890"/>)", kOp, 1226, 3, 0,
                     "Некорректный ИНН поставщика"},
        TRefusalCase{"MarkingCode", "", "", R"(<GoodCodeData StampType="02" Stamp="K" GTIN="1"/>)", kOp, 1162, 3,
                     0, ""},
        TRefusalCase{"Excise", "", R"(ExciseAmount="1.50")", "", kOp, 1229, 3, 0, ""},
        TRefusalCase{"NegativeExcise", "", R"(ExciseAmount="-1")", "", {}, {}, errInvalidParameter, 0, ""},
        TRefusalCase{"Item", "", "", "", Bytes({0xFF, 0x46}), {}, 3, 0, ""}),
    [](const ::testing::TestParamInfo<TRefusalCase>& info) { return std::string(info.param.Name); });

TEST_F(RuleTest, ReceiptLevelRequisitesBytes) {
    ASSERT_EQ(RunCheck(R"(AgentSign="6" AdditionalAttribute="доп" CashierVATIN="123456789012" CustomerInfo="Покупатель" )"
                       R"(CustomerINN="7701234567" CustomerPhone="+7999" SenderEmail="s@x.ru" CashierName="Кассир")",
                       Item("")),
              0);
    EXPECT_EQ(Link.Requisites(), (std::vector<std::string>{"FF0C:1057", "FF0C:1192", "FF0C:1203", "FF0C:1227",
                                                          "FF0C:1228", "FF0C:1008", "FF0C:1021", "FF0C:1117"}));
    EXPECT_EQ(Link.RequisiteData(1057), Bytes({0x40}));
    EXPECT_EQ(Link.RequisiteData(1192), Ansi("доп"));
    EXPECT_EQ(Link.RequisiteData(1227), Oem("Покупатель"));
    EXPECT_EQ(Link.RequisiteData(1228), Ansi("7701234567  "));
    EXPECT_EQ(Link.RequisiteData(1008), Ansi("+7999"));
    EXPECT_EQ(Link.RequisiteData(1021), Oem("Кассир"));
}

TEST_F(RuleTest, PositionRequisitesFollowTheItemInOrder) {
    ASSERT_EQ(RunCheck("", Item(R"(SignSubjectCalculationAgent="0" CountryOfOrigin="643" ExciseAmount="1.50")",
                                R"(<AgentData PayingAgentPhone="+7111"/><PurveyorData PurveyorName="П"/>)"
                                R"(<GoodCodeData StampType="02" Stamp="KIZ" SerialNumber="S" GTIN="1"/>)")),
              0);
    EXPECT_EQ(Link.Requisites(), (std::vector<std::string>{"FF4D:1162", "FF4D:1230", "FF4D:1229", "FF4D:1222",
                                                          "FF4D:1223", "FF4D:1224", "FF0C:1021"}));
    EXPECT_EQ(Link.RequisiteData(1162), Cat({Ansi("DM"), Bytes({0, 0, 0, 0, 0, 1}), Ansi("KIZ")}));
    EXPECT_EQ(Link.RequisiteData(1229), Bytes({0x96, 0, 0, 0, 0, 0}));
    EXPECT_EQ(Link.RequisiteData(1222), Bytes({0x01}));
    EXPECT_EQ(Link.RequisiteData(1223), SetTLV(1073, Ansi("+7111")));
}

TEST_F(RuleTest, IncompleteMarkingCodeThrowsWithTheReceiptStillOpen) {
    EXPECT_THROW(RunCheck("", Item("", R"(<GoodCodeData StampType="05" GTIN="1"/>)")), EMarkingCodeError);
    EXPECT_TRUE(Link.SentCommand(Bytes({0xFF, 0x46})));
    EXPECT_FALSE(Link.SentCommand(Bytes({0xFF, 0x45})));
}

TEST_F(RuleTest, TextsAndBarcodesBetweenPositions) {
    ASSERT_EQ(RunCheck("", Item("") + R"(<TextString Text="Спасибо"/><Barcode BarcodeType="ean13" Barcode="x"/><Other/>)"
                               R"(<Barcode BarcodeType="QR" Barcode="t=20260315"/>)"),
              0);
    EXPECT_TRUE(Link.SentCommand(Bytes({0xDE})));
    EXPECT_EQ(RunCheck("", Item("") + R"(<Barcode BarcodeType="EAN8" Barcode="1234567"/>)"), errNotSupported);
    EXPECT_EQ(RunCheck("", Item("") + R"(<Barcode BarcodeType="CODE39" Barcode="A"/>)"), errNotSupported);
}

TEST_F(RuleTest, PrintedLineRefusalDoesNotStopTheReceipt) {
    Link.RefuseCmd = Bytes({0x17});
    EXPECT_EQ(RunCheck("", Item("")), 0);
    EXPECT_EQ(RunCheck("", Item("") + R"(<TextString Text="T"/>)"), 3);
}

// "Printing the previous command" carries no document number: the fiscal storage is asked, and
// here it holds no new document and no receipt is open.
TEST_F(RuleTest, CloseAnsweringPrintingPreviousIsCheckedInTheFiscalStorage) {
    Link.RefuseCmd = Bytes({0xFF, 0x45});
    Link.RefuseCode = kResultPrintingPrevious;
    EXPECT_EQ(RunCheck("", Item("")), kResultPrintingPrevious);
    EXPECT_EQ(Side.ExtErrorDescr, "Чек НЕ зарегистрирован");
    std::size_t statusReads = 0;
    for (const TSentCommand& c : Link.Sent) statusReads += c.Cmd == Bytes({0xFF, 0x01});
    EXPECT_EQ(statusReads, 2u);
    Side = {};
    Link.RefuseCode = 0x45;
    EXPECT_EQ(RunCheck("", Item("")), 0x45);
    EXPECT_EQ(Side.ExtErrorDescr, "");
}

TEST_F(RuleTest, TaxVariantBeyondTheByteIsRefused) {
    EXPECT_EQ(RunCheck(R"(TaxVariant="8")", ""), errInvalidParameter);
    EXPECT_FALSE(Link.SentCommand(Bytes({0x8D})));
}

// A failure after the register fiscalised the receipt (print wait, table read) does not hide the
// document: the call succeeds with its number and fiscal sign, or the cashier's retry would
// register it twice.
TEST_F(RuleTest, FailureAfterTheCloseStillReportsTheRegisteredReceipt) {
    for (const bool printFails : {true, false}) {
        SCOPED_TRACE(printFails ? "print wait" : "site read");
        Env.WaitResult = printFails ? 3027 : 0;
        Link.RefuseCmd = printFails ? TBytes{} : Bytes({0x1F});
        Side = {};
        Out = {};
        EXPECT_EQ(RunCheck("", Item("")), 0);
        EXPECT_EQ(Out.CheckNumber, 101);
        EXPECT_EQ(Out.FiscalSign, "3735928559");
        EXPECT_EQ(Side.ExtErrorDescr, "");
    }
}

// ---------------------------------------------------------------------------------------------
// Correction receipts

class CorrectionTest : public RuleTest {
protected:
    std::int32_t RunCorrection(const std::string& AParameters, const std::string& APayments = R"(Cash="10")") {
        LoadXmlDocument(Doc, "<C><Parameters " + AParameters + "/><Payments " + APayments + "/></C>");
        return ProcessCorrectionCheckBody(Env, Doc, Out, Side);
    }
    TBytes FinalData() const {
        for (const TSentCommand& s : Link.Sent)
            if (s.Cmd == Bytes({0xFF, 0x4A})) return s.Data;
        return {};
    }
};

// The basis date is a calendar date: the day as written, whatever the time and the offset.
TEST_F(CorrectionTest, BasisDateIsSentAsTheCalendarDayAsWritten) {
    struct Row {
        const char* Date;
        std::optional<TBytes> Bytes1178;
    };
    const Row rows[] = {
        {"2026-03-15T14:30:00", Bytes({0x80, 0xF6, 0xB5, 0x69})},
        {"2026-03-15", Bytes({0x80, 0xF6, 0xB5, 0x69})},
        {"2026-03-16T01:30:00+03:00", Bytes({0x00, 0x48, 0xB7, 0x69})},
        {"2026-03-15T00:00:00+03:00", Bytes({0x80, 0xF6, 0xB5, 0x69})},
        {"2026-03-15T23:00:00-05:00", Bytes({0x80, 0xF6, 0xB5, 0x69})},
        {"15.03.2026", std::nullopt},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.Date);
        Link.Sent.clear();
        const std::int32_t r = RunCorrection(std::string(R"(PaymentType="1" CorrectionBaseDate=")") + row.Date + "\"");
        if (!row.Bytes1178) {
            EXPECT_EQ(r, errInvalidParameter);
            EXPECT_FALSE(Link.SentCommand(Bytes({0xFF, 0x35})));
            continue;
        }
        EXPECT_EQ(r, 0);
        EXPECT_EQ(Link.RequisiteData(1178), *row.Bytes1178);
    }
}

TEST_F(CorrectionTest, EmptyBasisDateSendsToday) {
    ASSERT_EQ(RunCorrection(R"(PaymentType="3" CorrectionBaseDate=" ")"), 0);
    const auto sent = static_cast<std::int64_t>(LEBytesToInt(Link.RequisiteData(1178)));
    EXPECT_EQ(sent, DateToUnixTime(LocalNow()));
}

TEST_F(CorrectionTest, FieldsAndTheOldRateFallbacks) {
    ASSERT_EQ(RunCorrection(R"(PaymentType="3" CorrectionType="1" TaxVariant="1" Sum="100" SumTAX20="0" SumTAX18="18" )"
                            R"(SumTAX120="-1" SumTAX118="2" SumTAX10="3" SumTAX0="4" SumTAXNone="5" SumTAX110="6" )"
                            R"(CashierName="Кассир" CorrectionBaseName="Предписание" CorrectionBaseNumber="N1")",
                            R"(Cash="1" ElectronicPayment="2" AdvancePayment="3" Credit="4" CashProvision="5")"),
              0);
    TBytes expected{1, 3};
    for (int rub : {100, 1, 2, 3, 4, 5, 18, 3, 4, 5, 2, 6}) AppendMoney(expected, rub * 10000);
    expected.push_back(0x02);
    EXPECT_EQ(FinalData(), expected);
    EXPECT_EQ(Link.RequisiteData(1021), Oem("Кассир"));
    EXPECT_EQ(Link.RequisiteData(1177), Oem("Предписание"));
    EXPECT_EQ(Out.CheckNumber, 102);
    EXPECT_EQ(Out.FiscalSign, "67305985");
    EXPECT_EQ(Env.Calls, (std::vector<std::string>{"CheckPrintState", "WaitPrintCompletion", "Cut(0,1,-1)"}));
}

TEST_F(CorrectionTest, ReturnsAndMissingElementsAreRefused) {
    for (const char* type : {"2", "4", "0"}) {
        SCOPED_TRACE(type);
        EXPECT_EQ(RunCorrection(std::string("PaymentType=\"") + type + "\""), errInvalidParameter);
    }
    LoadXmlDocument(Doc, R"(<C><Parameters PaymentType="1"/></C>)");
    EXPECT_EQ(ProcessCorrectionCheckBody(Env, Doc, Out, Side), errInvalidParameter);
    LoadXmlDocument(Doc, R"(<C><Payments/></C>)");
    EXPECT_EQ(ProcessCorrectionCheckBody(Env, Doc, Out, Side), errInvalidParameter);
    EXPECT_FALSE(Link.SentCommand(Bytes({0xFF, 0x35})));
}

TEST_F(CorrectionTest, FailureAfterRegistrationStillReportsTheDocument) {
    for (const bool printFails : {true, false}) {
        Env.WaitResult = printFails ? 3027 : 0;
        Link.RefuseCmd = printFails ? TBytes{} : Bytes({0x1F});
        Out = {};
        EXPECT_EQ(RunCorrection(R"(PaymentType="1")"), 0) << printFails;
        EXPECT_EQ(Out.CheckNumber, 102);
        EXPECT_EQ(Out.FiscalSign, "67305985");
    }
}

TEST_F(CorrectionTest, RefusedCorrectionLeavesNoNote) {
    Link.RefuseCmd = Bytes({0xFF, 0x4A});
    EXPECT_EQ(RunCorrection(R"(PaymentType="1")"), 3);
    EXPECT_EQ(Side.ExtErrorDescr, "");
    EXPECT_EQ(Out.FiscalSign, "");
}

// ---------------------------------------------------------------------------------------------
// Text documents

class TextDocumentTest : public RuleTest {
protected:
    TextDocumentTest() { Device.SetFeedCount(10); }
    std::int32_t RunText(const std::string& AXml) {
        LoadXmlDocument(Doc, AXml);
        return PrintTextDocumentBody(Env, Doc);
    }
    std::vector<std::string> Printed() const {
        std::vector<std::string> out;
        for (const TSentCommand& s : Link.Sent)
            if (s.Cmd == Bytes({0x17})) out.push_back(SingleByteToUtf8(TBytes(s.Data.begin() + 1, s.Data.end())));
        return out;
    }
};

TEST_F(TextDocumentTest, CutMarkerInAnyCaseCutsInsteadOfPrinting) {
    Env.Marker = "[CUT]";
    Device.SetFeedCount(4);
    ASSERT_EQ(RunText(R"(<Document><Positions><TextString Text="один"/><TextString Text="--[Cut]--"/>)"
                      R"(<TextString Text="два"/><TextString Text="[cUT]"/></Positions></Document>)"),
              0);
    EXPECT_EQ(Printed(), (std::vector<std::string>{"один", "два"}));
    EXPECT_EQ(Env.Calls, (std::vector<std::string>{"CheckPrintState", "Cut(0,0,4)", "Cut(0,0,4)",
                                                   "WaitPrintCompletion", "Cut(0,0,4)"}));
}

TEST_F(TextDocumentTest, CyrillicMarkerMatchesWithoutRegardToCase) {
    Env.Marker = "ОТРЕЗ";
    ASSERT_EQ(RunText(R"(<Document NoCut="true"><Positions><TextString Text="== отрез =="/></Positions></Document>)"), 0);
    EXPECT_TRUE(Printed().empty());
    EXPECT_EQ(Env.Calls, (std::vector<std::string>{"CheckPrintState", "Cut(0,0,10)", "WaitPrintCompletion",
                                                   "Cut(1,0,10)"}));
}

TEST_F(TextDocumentTest, EmptyMarkerNeverCutsAndNoCutIsOnlyTheWordTrue) {
    ASSERT_EQ(RunText(R"(<Document NoCut="1"><Positions><TextString Text="[cut]"/></Positions></Document>)"), 0);
    EXPECT_EQ(Printed(), (std::vector<std::string>{"[cut]"}));
    EXPECT_EQ(Env.Calls.back(), "Cut(0,0,10)");
    ASSERT_EQ(RunText(R"(<Document NoCut="TRUE"><Positions/></Document>)"), 0);
    EXPECT_EQ(Env.Calls.back(), "Cut(1,0,10)");
}

TEST_F(TextDocumentTest, UnsupportedBarcodeStopsTheDocument) {
    EXPECT_EQ(RunText(R"(<Document><Positions><TextString Text="a"/><Barcode BarcodeType="EAN8" Barcode="1"/>)"
                      R"(<TextString Text="b"/></Positions></Document>)"),
              errNotSupported);
    EXPECT_EQ(Printed(), (std::vector<std::string>{"a"}));
    EXPECT_EQ(Env.Calls, (std::vector<std::string>{"CheckPrintState"}));
}

TEST_F(TextDocumentTest, WrongRootOrNoPositionsPrintsNothing) {
    EXPECT_EQ(RunText(R"(<Doc><Positions><TextString Text="a"/></Positions></Doc>)"), errInvalidParameter);
    EXPECT_EQ(RunText(R"(<Document><TextString Text="a"/></Document>)"), errInvalidParameter);
    EXPECT_TRUE(Printed().empty());
}

TEST_F(TextDocumentTest, InterruptedEarlierDocumentStopsBeforePrinting) {
    Env.CheckResult = 3028;
    EXPECT_EQ(RunText(R"(<Document><Positions><TextString Text="a"/></Positions></Document>)"), 3028);
    EXPECT_TRUE(Link.Sent.empty());
}

}  // namespace
}  // namespace fr::test
