// Receipts, corrections and text documents as the platform drives them: host calls on the add-in
// object, the real driver and its operation frame, the simulated register over TCP loopback and
// over a pseudo-terminal.

#include <gtest/gtest.h>

#include <fmt/format.h>

#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>

#include <nlohmann/json.hpp>

#include "addin/AddInObject.h"
#include "addin/HostCall.h"
#include "device/InstantClock.h"
#include "core/Simulator.h"
#include "driver/Driver.h"
#include "framework/ErrorCodes.h"
#include "platform/Encoding.h"
#include "platform/System.h"
#include "platform/TempDir.h"

namespace fr::test {
namespace {

enum class TLink { Tcp, Pty };

constexpr int kComNumber = 41;

struct TOutcome {
    bool Ok = false;
    std::int32_t Code = -1;
    std::string Text;
};

const char* kSale = R"(<CheckPackage><Parameters PaymentType="1" TaxVariant="0" CashierName="Иванов И.И."
    CashierVATIN="123456789012" CustomerEmail="buyer@example.ru"/><Positions>
    <FiscalString Name="Молоко" Quantity="2" PriceWithDiscount="10" SumWithDiscount="20" DiscountSum="0"
      TaxSum="3.33" Tax="20" Department="1" SignMethodCalculation="4" SignCalculationObject="1"/>
    <TextString Text="Спасибо"/>
    <FiscalString Name="Хлеб" Quantity="1" PriceWithDiscount="10" SumWithDiscount="10" DiscountSum="0"
      TaxSum="0.91" Tax="10" Department="2" SignMethodCalculation="4" SignCalculationObject="1"/>
    </Positions><Payments Cash="20" ElectronicPayment="10"/></CheckPackage>)";

const char* kRefund = R"(<CheckPackage><Parameters PaymentType="2" TaxVariant="0" CashierName="Иванов И.И."/>
    <Positions><FiscalString Name="Хлеб" Quantity="1" PriceWithDiscount="10" SumWithDiscount="10" DiscountSum="0"
      TaxSum="0.91" Tax="10" Department="2" SignMethodCalculation="4" SignCalculationObject="1"/></Positions>
    <Payments Cash="10"/></CheckPackage>)";

const char* kCorrection = R"(<CheckCorrectionPackage><Parameters CashierName="Кассир" PaymentType="1"
    CorrectionType="0" TaxVariant="0" CorrectionBaseName="Предписание" CorrectionBaseDate="2026-03-15T14:30:00"
    CorrectionBaseNumber="7" Sum="100" SumTAX20="16.67"/><Payments Cash="100"/></CheckCorrectionPackage>)";

class DocumentsEndToEnd : public ::testing::TestWithParam<TLink> {
protected:
    void SetUp() override {
        SetHostExeNameForTests("1cv8.exe");
        Sim.SetLineWidth(32);
        Sim.SetFiscal(true);
        Sim.OpenShift();
        Object = std::make_unique<TAddInObject>(kDriverClassName);
        ASSERT_EQ(Object->Init(nullptr), S_OK);
        Driver = dynamic_cast<TDriver*>(Object->Driver());
        ASSERT_NE(Driver, nullptr);
        Driver->SetClock(&Clock);
        if (Tcp()) {
            const std::uint16_t port = Sim.StartTcp(0);
            SetParameter("PortNumber", TVariant(kTcpPortNumber));
            SetParameter("IPAddress", TVariant("127.0.0.1"));
            SetParameter("IPPort", TVariant(static_cast<std::int32_t>(port)));
        } else {
            Sim.StartPty(kComNumber);
            SetParameter("PortNumber", TVariant(kComNumber));
            SetParameter("BaudRate", TVariant(115200));
        }
        SetParameter("CutString", TVariant("[Cut]"));
        SetParameter("FeedCount", TVariant(3));
        TParams open(1);
        const TOutcome opened = Call(u"Open", open);
        ASSERT_TRUE(opened.Ok) << opened.Text;
    }
    void TearDown() override {
        if (Object) {
            TParams close(1);
            Call(u"Close", close);
            Object->Done();
        }
        SetHostExeNameForTests("");
    }

    bool Tcp() const { return GetParam() == TLink::Tcp; }

    void SetParameter(const char* AName, const TVariant& AValue) {
        TParams p{TVariant(AName), AValue};
        ASSERT_TRUE(Call(u"SetParameter", p).Ok);
    }
    // One host call: its return value and what GetLastError reports afterwards.
    TOutcome Call(std::u16string_view AMethod, TParams& AParams) {
        const THostCall c = CallHost(*Object, AMethod, AParams);
        EXPECT_EQ(c.Result, S_OK) << Utf16ToUtf8(AMethod);
        return {c.Ok, c.Code, c.Text};
    }
    // ProcessCheck with its seven arguments; the out values come back in AParams[3..6].
    TOutcome Check(const std::string& APackage, TParams& AParams) {
        AParams = TParams{TVariant("0"), TVariant(false), TVariant(APackage), TVariant(), TVariant(), TVariant(),
                          TVariant()};
        return Call(u"ProcessCheck", AParams);
    }
    // The fiscal storage's last document as the simulator keeps it.
    nlohmann::json LastDocument() const { return Sim.SaveJson()["fn"]["documents"].back(); }
    static bool HasTlv(const nlohmann::json& ADoc, const std::string& AHex) {
        for (const auto& t : ADoc["tlv"])
            if (t.get<std::string>().find(AHex) != std::string::npos) return true;
        return false;
    }

    TTempAppData Data;  // first: the COM link is made inside the data folder
    sim::TSimulator Sim;
    TInstantClock Clock;
    std::unique_ptr<TAddInObject> Object;
    TDriver* Driver = nullptr;
};

TEST_P(DocumentsEndToEnd, SaleWithSeveralPositionsReturnsTheRegistersNumbersSignAndSite) {
    Sim.ClearTape();
    TParams p;
    const TOutcome r = Check(kSale, p);
    ASSERT_TRUE(r.Ok) << r.Code << " " << r.Text;
    EXPECT_EQ(r.Code, 0);
    EXPECT_EQ(r.Text, "Ошибок нет");

    const auto doc = LastDocument();
    EXPECT_EQ(doc["type"], 3);
    EXPECT_EQ(p[3], TVariant(static_cast<double>(doc["number"].get<std::uint32_t>())));
    EXPECT_EQ(p[4], TVariant(static_cast<double>(Sim.Status().ShiftNumber)));
    EXPECT_EQ(p[5].AsString(), std::to_string(doc["sign"].get<std::uint32_t>()));
    EXPECT_EQ(p[6].AsString(), "www.nalog.gov.ru");
    EXPECT_TRUE(HasTlv(doc, "1E04010001")) << "1054: sale";
    EXPECT_TRUE(HasTlv(doc, "FC030200B80B")) << "1020: 30.00";
    EXPECT_EQ(Sim.Status().Mode, 2) << "no receipt left open";

    const std::string tape = Sim.TapeText();
    for (const char* line : {"Молоко\n", "                   2.000 X 10.00\n", "Спасибо\n", "Хлеб\n",
                             "2                         =10.00\n", "НДС 20%                         \n",
                             "НДС 10%                         \n", "-------- partial cut --------\n"})
        EXPECT_NE(tape.find(line), std::string::npos) << line << "\nin\n" << tape;
}

TEST_P(DocumentsEndToEnd, RefundAfterASaleIsARefundReceipt) {
    TParams p;
    ASSERT_TRUE(Check(kSale, p).Ok);
    const TOutcome r = Check(kRefund, p);
    ASSERT_TRUE(r.Ok) << r.Code << " " << r.Text;
    const auto doc = LastDocument();
    EXPECT_TRUE(HasTlv(doc, "1E04010002")) << "1054: refund of a sale";
    EXPECT_EQ(p[3], TVariant(static_cast<double>(doc["number"].get<std::uint32_t>())));
    EXPECT_NE(Sim.TapeText().find("ВОЗВРАТ ПРИХОДА"), std::string::npos);
}

TEST_P(DocumentsEndToEnd, CorrectionIsRegisteredWithItsOutValues) {
    TParams p{TVariant("0"), TVariant(kCorrection), TVariant(), TVariant(), TVariant(), TVariant()};
    const TOutcome r = Call(u"ProcessCorrectionCheck", p);
    ASSERT_TRUE(r.Ok) << r.Code << " " << r.Text;
    const auto doc = LastDocument();
    EXPECT_EQ(doc["type"], 31);
    EXPECT_EQ(p[2], TVariant(static_cast<double>(doc["number"].get<std::uint32_t>())));
    EXPECT_EQ(p[3], TVariant(static_cast<double>(Sim.Status().ShiftNumber)));
    EXPECT_EQ(p[4].AsString(), std::to_string(doc["sign"].get<std::uint32_t>()));
    EXPECT_EQ(p[5].AsString(), "www.nalog.gov.ru");
}

TEST_P(DocumentsEndToEnd, TextDocumentCutsAtTheMarkerInAnyCase) {
    Sim.ClearTape();
    TParams p{TVariant("0"), TVariant(R"(<Document><Positions><TextString Text="первый"/>)"
                                      R"(<TextString Text="-- [CUT] --"/><TextString Text="второй"/></Positions></Document>)")};
    const TOutcome r = Call(u"PrintTextDocument", p);
    ASSERT_TRUE(r.Ok) << r.Code << " " << r.Text;
    EXPECT_EQ(Sim.TapeText(), "первый\n[feed 3]\n-------- partial cut --------\nвторой\n"
                              "[feed 3]\n-------- partial cut --------\n");
}

TEST_P(DocumentsEndToEnd, PackageWithoutPaymentsIsRefusedBeforeAReceiptIsOpened) {
    const std::uint32_t before = Sim.Status().LastDocument;
    const int commands = Sim.Status().Commands;
    Sim.ClearTape();
    TParams p;
    const TOutcome r = Check(R"(<CheckPackage><Parameters PaymentType="1" CashierName="К"/><Positions>
        <FiscalString Name="Хлеб" Quantity="1" PriceWithDiscount="10" SumWithDiscount="10" Tax="none"/>
        </Positions></CheckPackage>)", p);
    EXPECT_FALSE(r.Ok);
    EXPECT_EQ(r.Code, errInvalidParameter);
    EXPECT_EQ(r.Text, "Ошибка входных параметров команды");
    EXPECT_EQ(p[5], TVariant()) << "no out values on a failure";
    // Only the completion's state query (and over TCP the connection's line-length query).
    EXPECT_EQ(Sim.Status().Commands - commands, Tcp() ? 2 : 1);
    EXPECT_EQ(Sim.Status().Mode, 2);
    EXPECT_EQ(Sim.Status().LastDocument, before);
    EXPECT_EQ(Sim.TapeText(), "");
}

// The paper runs out while the register prints the fiscalised receipt: the call reports the
// registered receipt with its number and fiscal sign (a failure would make the cashier repeat it),
// and the next receipt goes through.
TEST_P(DocumentsEndToEnd, ReceiptFiscalisedBeforeAPrintFailureIsReported) {
    Sim.ClearTape();
    TParams p;
    ASSERT_TRUE(Check(kSale, p).Ok);
    // The lines before the register's own part of the receipt, plus two of that part.
    const auto tape = Sim.Tape();
    int before = 0;
    while (before < static_cast<int>(tape.size()) && tape[before].Text != "ПРИХОД") ++before;
    ASSERT_LT(before, static_cast<int>(tape.size()));
    Sim.SetPaperOutAfter(before + 2);
    const TVariant session = p[4], site = p[6];
    ASSERT_FALSE(site.AsString().empty());

    const TOutcome r = Check(kSale, p);
    EXPECT_TRUE(r.Ok) << r.Text;
    const auto doc = LastDocument();
    EXPECT_EQ(doc["type"], 3);
    EXPECT_EQ(p[3], TVariant(static_cast<double>(doc["number"].get<std::uint32_t>())));
    EXPECT_EQ(p[5].AsString(), std::to_string(doc["sign"].get<std::uint32_t>()));
    // Read without paper, as after a printed receipt.
    EXPECT_EQ(p[4], session);
    EXPECT_EQ(p[6], site);

    Sim.SetPaper(true);
    Sim.ClearTape();
    const TOutcome next = Check(kSale, p);
    // The held end of the previous receipt is printed first, which the register reports; the
    // receipt's cut follows it.
    EXPECT_FALSE(next.Ok);
    EXPECT_EQ(next.Code, errPreviousDocumentPrinted);
    ASSERT_FALSE(Sim.Tape().empty());
    EXPECT_EQ(Sim.Tape().back().Kind, sim::TTapeEntry::TKind::Cut);
    EXPECT_TRUE(Check(kSale, p).Ok);
    EXPECT_EQ(LastDocument()["number"], doc["number"].get<std::uint32_t>() + 1);
}


// Host input that used to reach the register in a harmful form (or the register's answer that
// used to be taken for success): one row per case, each checked on what the host gets and on
// what reaches the register.
TEST_P(DocumentsEndToEnd, HostInputReachesTheRegisterSoundlyOrNotAtAll) {
    const auto sale = [](const std::string& APosition, const std::string& APayments) {
        return R"(<CheckPackage><Parameters PaymentType="1" TaxVariant="0" CashierName="К"/><Positions>)" + APosition +
               "</Positions><Payments " + APayments + "/></CheckPackage>";
    };
    const auto item = [](const std::string& AAttrs) {
        return R"(<FiscalString Name="Хлеб" Tax="none" SignMethodCalculation="4" SignCalculationObject="1" )" + AAttrs +
               "/>";
    };
    const std::string bread = item(R"(Quantity="1" PriceWithDiscount="10" SumWithDiscount="10")");
    const auto cashier = [](const char* AVATIN) {
        return TVariant(std::string(R"(<InputParameters><Parameters CashierName="К" CashierVATIN=")") + AVATIN +
                        R"("/></InputParameters>)");
    };
    const auto registration = [](const char* AVATIN, const char* ANumber) {
        return TVariant(std::string(R"(<Parameters OrganizationName="О" TaxVariant="0" VATIN=")") + AVATIN +
                        R"(" KKTNumber=")" + ANumber + R"("/>)");
    };
    const auto correction = [](const char* AAttrs) {
        return TVariant(std::string(R"(<CheckCorrectionPackage><Parameters CashierName="К" PaymentType="1" )") +
                        AAttrs + R"(/><Payments Cash="100"/></CheckCorrectionPackage>)");
    };
    // Command frames of a call refused at once: over TCP its connection reads the line length, and
    // a receipt's completion asks for the state.
    const int connect = Tcp() ? 1 : 0, completion = connect + 1, any = -1;
    struct TRow {
        const char* Name;
        std::function<void()> Before;
        std::u16string Method;
        TParams Args;
        std::int32_t Code;
        const char* Text;  // part of the host's description
        int Commands;      // frames the register got; any when the call ran
        std::function<void()> After;
    };
    const TRow rows[] = {
        {"correction basis date with an offset keeps its day", {}, u"ProcessCorrectionCheck",
         {TVariant("0"), correction(R"(CorrectionBaseDate="2026-03-15T00:00:00+03:00" Sum="100")"), {}, {}, {}, {}},
         0, "", any, [&] { EXPECT_TRUE(HasTlv(LastDocument(), "9A04040080F6B569")) << "1178: 15 March, not 14"; }},
        {"blank cashier INN is not sent with the shift closing", {}, u"CloseShift",
         {TVariant("0"), cashier("            "), {}, {}, {}}, 0, "", any,
         [&] { EXPECT_FALSE(HasTlv(LastDocument(), "B3040C00")) << "1203"; }},
        {"blank cashier INN is not sent with the shift opening", {}, u"OpenShift",
         {TVariant("0"), cashier("   "), {}, {}, {}}, 0, "", any,
         [&] { EXPECT_FALSE(HasTlv(LastDocument(), "B3040C00")) << "1203"; }},
        {"re-registration with a 13-character VATIN", {}, u"OperationFN",
         {TVariant("0"), TVariant(2), registration("7700000000123", "1")}, errInvalidParameter, "", connect, {}},
        {"re-registration with a 21-character KKTNumber", {}, u"OperationFN",
         {TVariant("0"), TVariant(2), registration("7700000000", "000000000101234567890")}, errInvalidParameter, "",
         connect, {}},
        {"operation type 259, whose low byte closes the fiscal storage", {}, u"OperationFN",
         {TVariant("0"), TVariant(259), registration("7700000000", "1")}, errInvalidParameter, "", 0,
         [&] { EXPECT_FALSE(Sim.Status().FnClosed); }},
        {"receipt without a FiscalString", {}, u"ProcessCheck",
         {TVariant("0"), TVariant(false), TVariant(sale(R"(<TextString Text="Т"/>)", R"(Cash="10")")), {}, {}, {}, {}},
         errInvalidParameter, "FiscalString", completion, {}},
        {"department 259", {}, u"ProcessCheck",
         {TVariant("0"), TVariant(false),
          TVariant(sale(item(R"(Quantity="1" PriceWithDiscount="10" SumWithDiscount="10" Department="259")"),
                        R"(Cash="10")")),
          {}, {}, {}, {}},
         errInvalidParameter, "Department", completion, {}},
        {"cash 1e308", {}, u"ProcessCheck",
         {TVariant("0"), TVariant(false), TVariant(sale(bread, R"(Cash="1e308")")), {}, {}, {}, {}},
         errInvalidParameter, "Cash", completion, {}},
        {"position sum beyond 64 bits", {}, u"ProcessCheck",
         {TVariant("0"), TVariant(false),
          TVariant(sale(item(R"(Quantity="1" PriceWithDiscount="10" SumWithDiscount="99999999999999999999")"),
                        R"(Cash="10")")),
          {}, {}, {}, {}},
         errInvalidParameter, "SumWithDiscount", completion, {}},
        {"correction sum 1e308", {}, u"ProcessCorrectionCheck",
         {TVariant("0"), correction(R"(Sum="1e308")"), {}, {}, {}, {}}, errInvalidParameter, "Sum", completion, {}},
        {"MaxReceiptRowLength holds for every printed line",
         [&] {
             SetParameter("MaxReceiptRowLength", TVariant(40));
             TParams open(1);
             EXPECT_TRUE(Call(u"Open", open).Ok);
             Sim.ClearTape();
         },
         u"ProcessCheck",
         {TVariant("0"), TVariant(false),
          TVariant(sale(item(R"(Quantity="2" PriceWithDiscount="10" SumWithDiscount="20" Department="0")"),
                        R"(Cash="20")")),
          {}, {}, {}, {}},
         0, "", any,
         [&] {
             // Laid out at 40 and sent whole (the register prints 32 characters of each line);
             // cut at 32 by the driver, " X 10.00" would be a line of its own.
             EXPECT_NE(Sim.TapeText().find("Хлеб\n                           2.000\n0" + std::string(31, ' ') + "\n"),
                       std::string::npos)
                 << Sim.TapeText();
             EXPECT_EQ(Sim.TapeText().find(" X 10.00"), std::string::npos);
         }},
        {"settlements report answered 80 after the print wait gave up",
         [&] {
             Sim.SetPrintMillis(600000);  // far beyond the driver's wait
             TParams x{TVariant("0"), cashier("")};
             EXPECT_TRUE(Call(u"PrintXReport", x).Ok);
             Sim.AddFault(*sim::TSimulator::ParseFault("refuse:ff38x0=80"));
         },
         u"ReportCurrentStatusOfSettlements", {TVariant("0"), cashier(""), {}}, 80, "", any, {}},
        {"text in PortNumber stored through the property interface",
         [&] {
             std::int32_t n = -1;
             EXPECT_EQ(Object->FindProp(u"PortNumber", n), S_OK);
             EXPECT_EQ(Object->SetPropVal(n, TVariant("COM3")), S_OK);
         },
         u"Open", TParams(1), errInvalidParameter, "PortNumber", 0, {}},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.Name);
        if (row.Before) row.Before();
        const int before = Sim.Status().Commands;
        TParams args = row.Args;
        const TOutcome r = Call(row.Method, args);
        EXPECT_EQ(r.Ok, row.Code == 0);
        EXPECT_EQ(r.Code, row.Code) << r.Text;
        EXPECT_NE(r.Text.find(row.Text), std::string::npos) << r.Text;
        if (row.Commands != any) {
            EXPECT_EQ(Sim.Status().Commands - before, row.Commands);
        }
        EXPECT_NE(Sim.Status().Mode & 0x0F, 8) << "no receipt left open";
        if (row.After) row.After();
        Sim.ClearFaults();
        Sim.SetPrintMillis(0);
    }
}

// Over serial: a COM<n> link in the shared data folder that another user owns is not followed.
TEST_P(DocumentsEndToEnd, AnotherUsersComLinkIsRefusedNamingTheLinkAndItsOwner) {
    if (Tcp()) GTEST_SKIP() << "a serial link";
    if (::geteuid() != 0) GTEST_SKIP() << "only root can hand a link to another user";
    constexpr uid_t kStranger = 4243;
    ASSERT_EQ(::lchown(Sim.ComLinkPath().c_str(), kStranger, static_cast<gid_t>(-1)), 0);
    const int before = Sim.Status().Commands;
    TParams open(1);
    const TOutcome r = Call(u"Open", open);
    EXPECT_FALSE(r.Ok);
    EXPECT_EQ(r.Code, 1011);
    EXPECT_EQ(r.Text.rfind("Порт недоступен; ", 0), 0u) << r.Text;
    EXPECT_NE(r.Text.find(Sim.ComLinkPath()), std::string::npos) << r.Text;
    EXPECT_NE(r.Text.find(std::to_string(kStranger)), std::string::npos) << r.Text;
    EXPECT_EQ(Sim.Status().Commands, before) << "nothing reaches the register";
}

// A register that cannot be reached: the text names the device or the address and the reason.
TEST_P(DocumentsEndToEnd, UnreachableRegisterIsNamedInTheText) {
    std::string expected;
    int code = 1011;
    if (Tcp()) {
        int port = 0;
        {
            sim::TSimulator gone;
            port = gone.StartTcp(0);
        }
        SetParameter("IPPort", TVariant(port));
        code = 601;
        expected = fmt::format("Ошибка при установлении подключения к ФР; 127.0.0.1:{}: Connection refused", port);
    } else {
        SetEnvironmentValue("FR_PORTMAP_DIR", Data.Path() + "none/");
        SetParameter("PortNumber", TVariant(250));
        expected = "Порт недоступен; Ошибка открытия порта /dev/ttyS249: No such file or directory. Устройство не найдено";
    }
    TParams open(1);
    const TOutcome r = Call(u"Open", open);
    ClearEnvironmentValue("FR_PORTMAP_DIR");
    EXPECT_FALSE(r.Ok);
    EXPECT_EQ(r.Code, code);
    EXPECT_EQ(r.Text.rfind(expected, 0), 0u) << r.Text;
}

INSTANTIATE_TEST_SUITE_P(Links, DocumentsEndToEnd, ::testing::Values(TLink::Tcp, TLink::Pty),
                         [](const ::testing::TestParamInfo<TLink>& info) {
                             return info.param == TLink::Tcp ? "Tcp" : "Pty";
                         });

}  // namespace
}  // namespace fr::test
