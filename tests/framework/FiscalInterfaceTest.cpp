// The fiscal-register handlers: argument unpacking, the 1004/1001 paths, out values only on
// success, documents as CR LF text.
#include <gtest/gtest.h>

#include <map>

#include <fmt/format.h>
#include <optional>

#include "framework/BaseDriverECR.h"
#include "framework/ErrorCodes.h"
#include "framework/TestDriver.h"
#include "platform/Encoding.h"
#include "platform/Xml.h"

namespace fr::test {
namespace {

using namespace std::string_literals;

const char* const kCashier = R"(<InputParameters><Parameters CashierName="Иванов И.И." CashierVATIN="7700000000"/></InputParameters>)";

// A driver whose operations record what they were given and answer what the test says.
class TRecordingDriver : public TBaseDriverECR {
public:
    explicit TRecordingDriver(TCreateKey AKey) : TBaseDriverECR(AKey) {}

    std::int32_t Result = 0;
    std::optional<std::string> Throw;  // an EFrError with this message instead of a result
    std::map<std::string, int> Calls;
    std::string CashierName, CashierVATIN, DocumentText;
    int OperationType = -1;  // -1: not called
    bool Electronically = false;
    TCurrency Amount;

    std::int32_t Answer(const char* AName) {
        ++Calls[AName];
        if (Throw) throw EConvertError(*Throw);
        return Result;
    }
    void Fill(pugi::xml_document& ADoc, const char* AElement) {
        ADoc.append_child(AElement).append_attribute("Value") = "1";
    }
    std::int32_t Cashier(const char* AName, const std::string& ACashierName, const std::string& ACashierVATIN) {
        CashierName = ACashierName;
        CashierVATIN = ACashierVATIN;
        return Answer(AName);
    }

    std::int32_t GetDataKKT(pugi::xml_document& ADoc) override {
        Fill(ADoc, "TableParametersKKT");
        return Answer("GetDataKKT");
    }
    std::int32_t OperationFN(std::uint8_t AType, const pugi::xml_document& ADoc) override {
        OperationType = AType;
        DocumentText = XmlDocumentText(ADoc);
        return Answer("OperationFN");
    }
    std::int32_t OpenShift(const std::string& AName, const std::string& AVATIN, std::int64_t& ASession,
                           std::int64_t& ADocument, pugi::xml_document& AOut) override {
        ASession = 12;
        ADocument = 345;
        Fill(AOut, "OutputParameters");
        return Cashier("OpenShift", AName, AVATIN);
    }
    std::int32_t CloseShift(const std::string& AName, const std::string& AVATIN, std::int64_t& ASession,
                            std::int64_t& ADocument, pugi::xml_document& AOut) override {
        ASession = 12;
        ADocument = 346;
        Fill(AOut, "OutputParameters");
        return Cashier("CloseShift", AName, AVATIN);
    }
    std::int32_t ProcessCheck(bool AElectronically, const pugi::xml_document& ADoc, std::int64_t& ACheck,
                              std::int64_t& ASession, std::string& ASign, std::string& AAddress) override {
        Electronically = AElectronically;
        DocumentText = XmlDocumentText(ADoc);
        ACheck = 9007199254740993LL;  // 2^53 + 1: beyond what a double holds exactly
        ASession = 7;
        ASign = "3735928559";
        AAddress = "www.nalog.gov.ru";
        return Answer("ProcessCheck");
    }
    std::int32_t ProcessCorrectionCheck(const pugi::xml_document& ADoc, std::int64_t& ACheck, std::int64_t& ASession,
                                        std::string& ASign, std::string& AAddress) override {
        DocumentText = XmlDocumentText(ADoc);
        ACheck = 5;
        ASession = 7;
        ASign = "1";
        AAddress = "a";
        return Answer("ProcessCorrectionCheck");
    }
    std::int32_t PrintTextDocument(const pugi::xml_document& ADoc) override {
        DocumentText = XmlDocumentText(ADoc);
        return Answer("PrintTextDocument");
    }
    std::int32_t CashInOutcome(TCurrency AAmount, const std::string& AName, const std::string& AVATIN) override {
        Amount = AAmount;
        return Cashier("CashInOutcome", AName, AVATIN);
    }
    std::int32_t GetCurrentStatus(std::int64_t& ACheck, std::int64_t& ASession, std::uint8_t& AState,
                                  pugi::xml_document& ADoc) override {
        ACheck = 10;
        ASession = 11;
        AState = 2;
        Fill(ADoc, "StatusParameters");
        return Answer("GetCurrentStatus");
    }
    std::int32_t ReportCurrentStatusOfSettlements(const std::string& AName, const std::string& AVATIN,
                                                  pugi::xml_document& AOut) override {
        Fill(AOut, "OutputParameters");
        return Cashier("ReportCurrentStatusOfSettlements", AName, AVATIN);
    }
    std::int32_t OpenCashDrawer() override { return Answer("OpenCashDrawer"); }
    std::int32_t PrintXReport(const std::string& AName, const std::string& AVATIN) override {
        return Cashier("PrintXReport", AName, AVATIN);
    }
};

class FiscalInterface : public ::testing::Test {
protected:
    std::unique_ptr<TRecordingDriver> Driver = TBaseDriver::Create<TRecordingDriver>();

    TVariant Call(std::string_view AName, TParams& AParams) { return CallMethod(*Driver, AName, AParams); }
    std::string Description() const { return Driver->LastResultDescription(); }
};

// ---- FilterXmlChars ----

struct TFilterCase {
    const char* Name;
    std::u16string In;
    std::u16string Out;
};

class FilterXmlCharsTest : public ::testing::TestWithParam<TFilterCase> {};

TEST_P(FilterXmlCharsTest, KeepsOnlyCodeUnitsXmlAllows) {
    EXPECT_EQ(FilterXmlChars(GetParam().In), GetParam().Out);
}

INSTANTIATE_TEST_SUITE_P(
    CodeUnits, FilterXmlCharsTest,
    ::testing::Values(TFilterCase{"TabLfCrKept", u"a\tb\nc\rd", u"a\tb\nc\rd"},
                      TFilterCase{"ControlCharactersDropped", u"a\u0001b\u0000c\u001Fd"s, u"abcd"},
                      TFilterCase{"PlaneBoundariesKept", u"\u0020\uD7FF\uE000\uFFFD", u"\u0020\uD7FF\uE000\uFFFD"},
                      TFilterCase{"NonCharactersDropped", u"x\uFFFE\uFFFFy", u"xy"},
                      TFilterCase{"SurrogatePairDroppedWhole", u"a\U0001F600b", u"ab"},
                      TFilterCase{"LoneSurrogatesDropped", u"a\xD800" u"b\xDC00" u"c", u"abc"},
                      TFilterCase{"CyrillicKept", u"Чек №1", u"Чек №1"}),
    [](const auto& info) { return std::string(info.param.Name); });

// ---- the base class ----

struct TBaseCase {
    const char* Method;
    TParams Params;
};

TEST(FiscalInterfaceBase, EveryOperationButLineLengthAnswersNotSupported) {
    auto driver = TBaseDriver::Create<TTestDriver>();
    const std::vector<TBaseCase> cases = {
        {"GetDataKKT", {TVariant(""), TVariant()}},
        {"PrintTextDocument", {TVariant(""), TVariant("<Document/>")}},
        {"ProcessCorrectionCheck", {TVariant(""), TVariant("<CheckCorrectionPackage/>"), {}, {}, {}, {}}},
        {"ProcessCheck", {TVariant(""), TVariant(false), TVariant("<CheckPackage/>"), {}, {}, {}, {}}},
        {"OperationFN", {TVariant(""), TVariant(1), TVariant("<ParametersFiscal/>")}},
        {"OpenShift", {TVariant(""), TVariant(kCashier), {}, {}, {}}},
        {"CloseShift", {TVariant(""), TVariant(kCashier), {}, {}, {}}},
        {"CashInOutcome", {TVariant(""), TVariant(kCashier), TVariant(100.0)}},
        {"PrintXReport", {TVariant(""), TVariant(kCashier)}},
        {"ReportCurrentStatusOfSettlements", {TVariant(""), TVariant(kCashier), {}}},
        {"GetCurrentStatus", {TVariant(""), {}, {}, {}, {}}},
        {"OpenCashDrawer", {TVariant("")}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Method);
        TParams params = c.Params;
        const TVariant ret = CallMethod(*driver, c.Method, params);
        EXPECT_EQ(ret, TVariant(false));
        EXPECT_EQ(driver->LastResultCode(), errNotSupported);
        EXPECT_EQ(driver->LastResultDescription(), "Команда не поддерживается устройством");
        if (std::string_view(c.Method) != "GetDataKKT") {
            EXPECT_EQ(params, c.Params) << "out values written";
        }
    }
    TParams params{TVariant(""), TVariant()};
    EXPECT_EQ(CallMethod(*driver, "ПолучитьШиринуСтроки", params), TVariant(true));
    EXPECT_EQ(params[1], TVariant(std::int32_t{40}));
}

// ---- short parameter arrays ----

TEST_F(FiscalInterface, ShortParameterArraysAnswerInvalidParameterWithoutCallingTheDriver) {
    static const char* const kMethods[] = {"GetDataKKT",    "PrintTextDocument", "ProcessCorrectionCheck",
                                           "ProcessCheck",  "OperationFN",       "OpenShift",
                                           "CloseShift",    "CashInOutcome",     "PrintXReport",
                                           "ReportCurrentStatusOfSettlements", "GetCurrentStatus",
                                           "OpenCashDrawer", "GetLineLength"};
    for (const char* name : kMethods) {
        const auto& method = Driver->GetMethod(Driver->GetMethodNum(std::string_view(name)));
        for (int size = 0; size < method.ParamsCount; ++size) {
            SCOPED_TRACE(fmt::format("{} with {} parameter(s)", name, size));
            // Arguments that would succeed if the array were long enough.
            TParams params(static_cast<std::size_t>(size), TVariant(kCashier));
            Driver->SetLastResultDescription("left over");
            EXPECT_EQ(Call(name, params), TVariant(false));
            EXPECT_EQ(Driver->LastResultCode(), errInvalidParameter);
            EXPECT_EQ(Description(), "Ошибка входных параметров команды");
            EXPECT_EQ(params.size(), static_cast<std::size_t>(size));
        }
    }
    EXPECT_TRUE(Driver->Calls.empty());
}

// ---- the cashier ----

struct TCashierCase {
    const char* Name;
    const char* Document;
    bool Valid;
};

class CashierDocuments : public FiscalInterface, public ::testing::WithParamInterface<TCashierCase> {};

TEST_P(CashierDocuments, OpenShiftCallsTheDriverOnlyWithBothAttributes) {
    TParams params{TVariant(""), TVariant(GetParam().Document), TVariant("keep"), TVariant(-1), TVariant(-2)};
    const TParams before = params;
    Driver->SetLastResultDescription("Смена закрыта");
    const TVariant ret = Call("ОткрытьСмену", params);
    if (GetParam().Valid) {
        EXPECT_EQ(ret, TVariant(true));
        EXPECT_EQ(Driver->Calls["OpenShift"], 1);
        return;
    }
    EXPECT_EQ(ret, TVariant(false));
    EXPECT_EQ(Driver->LastResultCode(), errInvalidParameter);
    // A description from an earlier call would contradict the code.
    EXPECT_EQ(Description(), "Ошибка входных параметров команды");
    EXPECT_TRUE(Driver->Calls.empty());
    EXPECT_EQ(params, before);
}

INSTANTIATE_TEST_SUITE_P(
    Documents, CashierDocuments,
    ::testing::Values(
        TCashierCase{"Complete", kCashier, true},
        TCashierCase{"EmptyVATIN", R"(<I><Parameters CashierName="A" CashierVATIN=""/></I>)", true},
        TCashierCase{"NoVATIN", R"(<I><Parameters CashierName="A"/></I>)", false},
        TCashierCase{"NoName", R"(<I><Parameters CashierVATIN="1"/></I>)", false},
        TCashierCase{"NoParametersElement", R"(<I><Other CashierName="A" CashierVATIN="1"/></I>)", false},
        TCashierCase{"ParametersNotAChildOfTheRoot", R"(<I><X><Parameters CashierName="A" CashierVATIN="1"/></X></I>)",
                     false},
        TCashierCase{"Malformed", R"(<I><Parameters CashierName="A" CashierVATIN="1"></I>)", false},
        TCashierCase{"Empty", "", false},
        TCashierCase{"NotXml", "Иванов", false}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(FiscalInterface, EmptyVATINReachesTheDriverAsEmptyText) {
    TParams params{TVariant(""), TVariant(R"(<I><Parameters CashierName="Петров" CashierVATIN=""/></I>)"), {}, {}, {}};
    Call("OpenShift", params);
    EXPECT_EQ(Driver->CashierName, "Петров");
    EXPECT_EQ(Driver->CashierVATIN, "");
}

TEST_F(FiscalInterface, CashierOfPrintXReportIsNotFilteredButOfCloseShiftIs) {
    const std::string withControl = std::string(R"(<I><Parameters CashierName="A)") + "\x01" + R"(" CashierVATIN="1"/></I>)";
    TParams x{TVariant(""), TVariant(withControl)};
    EXPECT_EQ(Call("PrintXReport", x), TVariant(false));
    EXPECT_EQ(Driver->LastResultCode(), errInvalidParameter);
    TParams close{TVariant(""), TVariant(withControl), {}, {}, {}};
    EXPECT_EQ(Call("CloseShift", close), TVariant(true));
    EXPECT_EQ(Driver->CashierName, "A");
}

// ---- filtering and parse errors ----

TEST_F(FiscalInterface, ProcessCheckParsesAsIfForbiddenCharactersWereAbsent) {
    const std::u16string package = u"<CheckPackage><Parameters Name=\"a\u0001b\U0001F600c\"/></CheckPackage>";
    TParams params{TVariant(""), TVariant(true), TVariant(package), {}, {}, {}, {}};
    EXPECT_EQ(Call("ProcessCheck", params), TVariant(true));
    EXPECT_NE(Driver->DocumentText.find("Name=\"abc\""), std::string::npos) << Driver->DocumentText;
    EXPECT_TRUE(Driver->Electronically);
}

TEST_F(FiscalInterface, UnfilteredPackageWithAControlCharacterFailsWithTheParserMessage) {
    TParams params{TVariant(""), TVariant(u"<CheckCorrectionPackage>\u0001</CheckCorrectionPackage>"), {}, {}, {}, {}};
    EXPECT_EQ(Call("ProcessCorrectionCheck", params), TVariant(false));
    EXPECT_EQ(Driver->LastResultCode(), errUnknown);
    EXPECT_EQ(Description(), "XML parse error: Invalid character U+0001 at offset 24");
    EXPECT_TRUE(Driver->Calls.empty());
}

TEST_F(FiscalInterface, UnfilteredPackageKeepsCharactersOutsideTheBasicPlane) {
    TParams params{TVariant(""), TVariant(u"<P N=\"\U0001F600\"/>"), {}, {}, {}, {}};
    EXPECT_EQ(Call("ProcessCorrectionCheck", params), TVariant(true));
    EXPECT_NE(Driver->DocumentText.find("\xF0\x9F\x98\x80"), std::string::npos);
}

struct TMalformedCase {
    const char* Method;
    std::size_t Index;
    std::size_t Count;
};

TEST_F(FiscalInterface, MalformedDocumentsOutsideTheCashierPathAnswerUnknownErrorWithParserText) {
    const TMalformedCase cases[] = {{"PrintTextDocument", 1, 2},
                                    {"ProcessCorrectionCheck", 1, 6},
                                    {"ProcessCheck", 2, 7},
                                    {"OperationFN", 2, 3}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Method);
        TParams params(c.Count, TVariant(0));
        params[c.Index] = TVariant("<Document><Unclosed></Document>");
        const TParams before = params;
        EXPECT_EQ(Call(c.Method, params), TVariant(false));
        EXPECT_EQ(Driver->LastResultCode(), errUnknown);
        EXPECT_EQ(Description(), "XML parse error: Start-end tags mismatch at offset 22");
        EXPECT_EQ(params, before);
    }
    EXPECT_TRUE(Driver->Calls.empty());
}

TEST_F(FiscalInterface, AnExceptionInsideAnOperationBecomesUnknownErrorWithItsMessage) {
    Driver->Throw = "Код маркировки не распознан";
    TParams params{TVariant(""), TVariant(false), TVariant("<CheckPackage/>"), {}, {}, {}, {}};
    EXPECT_EQ(Call("ProcessCheck", params), TVariant(false));
    EXPECT_EQ(Driver->LastResultCode(), errUnknown);
    EXPECT_EQ(Description(), "Код маркировки не распознан");
}

// ---- scalar arguments ----

// Cutting to the low byte would make 259 the closing of the fiscal storage: a type outside the
// byte is refused without reaching the driver.
TEST_F(FiscalInterface, OperationTypeOutsideAByteIsRefused) {
    struct TRow {
        TVariant Type;
        std::int32_t Code;
        int Passed;  // the type the driver got; -1 when it was not called
    };
    const TRow rows[] = {{TVariant(1), 0, 1},          {TVariant(255), 0, 255},
                         {TVariant(257), errInvalidParameter, -1}, {TVariant(259), errInvalidParameter, -1},
                         {TVariant(-1), errInvalidParameter, -1},  {TVariant("три"), errInvalidParameter, -1},
                         {TVariant(1e10), errInvalidParameter, -1}};
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.Type.AsString());
        Driver->OperationType = -1;
        TParams params{TVariant(""), row.Type, TVariant("<ParametersFiscal/>")};
        EXPECT_EQ(Call("OperationFN", params), TVariant(row.Code == 0));
        EXPECT_EQ(Driver->LastResultCode(), row.Code);
        EXPECT_EQ(Driver->OperationType, row.Passed);
    }
}

TEST_F(FiscalInterface, CashInOutcomeAmountConversion) {
    TParams params{TVariant(""), TVariant(kCashier), TVariant(12.34565)};
    EXPECT_EQ(Call("CashInOutcome", params), TVariant(true));
    EXPECT_EQ(Driver->Amount.Value, 123456);  // rounded to 4 decimals
    TParams text{TVariant(""), TVariant(kCashier), TVariant("сто")};
    EXPECT_EQ(Call("CashInOutcome", text), TVariant(false));
    EXPECT_EQ(Driver->LastResultCode(), errUnknown);
    EXPECT_EQ(Driver->Calls["CashInOutcome"], 1);
    // The cashier is checked before the amount.
    TParams both{TVariant(""), TVariant("<I/>"), TVariant("сто")};
    Call("CashInOutcome", both);
    EXPECT_EQ(Driver->LastResultCode(), errInvalidParameter);
}

// ---- out values ----

TEST_F(FiscalInterface, SuccessfulProcessCheckReturnsNumbersAsDoublesAndTextsAsStrings) {
    TParams params{TVariant(""), TVariant(false), TVariant("<CheckPackage/>"), {}, {}, {}, {}};
    EXPECT_EQ(Call("СформироватьЧек", params), TVariant(true));
    EXPECT_EQ(params[3], TVariant(9007199254740992.0));
    EXPECT_EQ(params[4], TVariant(7.0));
    EXPECT_EQ(params[5], TVariant("3735928559"));
    EXPECT_EQ(params[6], TVariant("www.nalog.gov.ru"));
}

TEST_F(FiscalInterface, FailedOperationsLeaveOutValuesAsPassed) {
    Driver->Result = 3822;
    const std::vector<TParams> calls = {
        {TVariant(""), TVariant(false), TVariant("<CheckPackage/>"), TVariant(1), TVariant(2), TVariant(3), TVariant(4)},
        {TVariant(""), TVariant("<C/>"), TVariant(1), TVariant(2), TVariant(3), TVariant(4)},
        {TVariant(""), TVariant(kCashier), TVariant(1), TVariant(2), TVariant(3)},
        {TVariant(""), TVariant(kCashier), TVariant(1)},
        {TVariant(""), TVariant(1), TVariant(2), TVariant(3), TVariant(4)},
    };
    const char* const names[] = {"ProcessCheck", "ProcessCorrectionCheck", "CloseShift",
                                 "ReportCurrentStatusOfSettlements", "GetCurrentStatus"};
    for (std::size_t i = 0; i < calls.size(); ++i) {
        SCOPED_TRACE(names[i]);
        TParams params = calls[i];
        EXPECT_EQ(Call(names[i], params), TVariant(false));
        EXPECT_EQ(Driver->LastResultCode(), 3822);
        EXPECT_EQ(params, calls[i]);
    }
}

TEST_F(FiscalInterface, GetDataKKTWritesItsDocumentWhateverTheResult) {
    for (const std::int32_t result : {0, 3822}) {
        SCOPED_TRACE(result);
        Driver->Result = result;
        TParams params{TVariant(""), TVariant()};
        EXPECT_EQ(Call("GetDataKKT", params), TVariant(result == 0));
        EXPECT_EQ(params[1].AsString(), "<?xml version=\"1.0\"?>\r\n<TableParametersKKT Value=\"1\" />\r\n");
    }
}

TEST_F(FiscalInterface, ShiftAndStatusOutputsOnSuccess) {
    TParams shift{TVariant(""), TVariant(kCashier), {}, {}, {}};
    EXPECT_EQ(Call("OpenShift", shift), TVariant(true));
    EXPECT_EQ(shift[2].AsString(), "<?xml version=\"1.0\"?>\r\n<OutputParameters Value=\"1\" />\r\n");
    EXPECT_EQ(shift[3], TVariant(12.0));
    EXPECT_EQ(shift[4], TVariant(345.0));
    EXPECT_EQ(Driver->CashierName, "Иванов И.И.");
    EXPECT_EQ(Driver->CashierVATIN, "7700000000");

    TParams status{TVariant(""), {}, {}, {}, {}};
    EXPECT_EQ(Call("GetCurrentStatus", status), TVariant(true));
    EXPECT_EQ(status[1], TVariant(10.0));
    EXPECT_EQ(status[2], TVariant(11.0));
    EXPECT_EQ(status[3], TVariant(std::int32_t{2}));
    EXPECT_EQ(status[4].AsString(), "<?xml version=\"1.0\"?>\r\n<StatusParameters Value=\"1\" />\r\n");
}

}  // namespace
}  // namespace fr::test
