// Receipts, corrections and text documents as the platform drives them: host calls on the add-in
// object, the real driver and its operation frame, the simulated register over TCP loopback and
// over a pseudo-terminal.

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include <nlohmann/json.hpp>

#include "addin/AddInObject.h"
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

// Waits cost nothing: every sleep moves the clock on.
class TInstantClock : public TDeviceClock {
public:
    std::chrono::steady_clock::time_point Now() const override { return FNow; }
    void Sleep(std::chrono::milliseconds ADuration) override { FNow += ADuration; }

private:
    std::chrono::steady_clock::time_point FNow{};
};

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
        ASSERT_TRUE(Call(u"Open", open).Ok) << Error().Text;
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
        std::int32_t n = -1;
        EXPECT_EQ(Object->FindMethod(AMethod, n), S_OK) << Utf16ToUtf8(AMethod);
        TVariant ret;
        EXPECT_EQ(Object->CallAsFunc(n, ret, AParams), S_OK) << Utf16ToUtf8(AMethod);
        TOutcome outcome = Error();
        outcome.Ok = ret == TVariant(true);
        return outcome;
    }
    TOutcome Error() {
        std::int32_t n = -1;
        Object->FindMethod(u"GetLastError", n);
        TVariant ret;
        TParams p(1);
        Object->CallAsFunc(n, ret, p);
        return {false, ret.AsInt(), p[0].AsString()};
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

// The paper runs out while the register prints the fiscalised receipt: the call fails, but its
// text names the document so that nobody repeats it, and the next receipt goes through.
TEST_P(DocumentsEndToEnd, ReceiptFiscalisedBeforeTheFailureIsNamedInTheText) {
    Sim.ClearTape();
    TParams p;
    ASSERT_TRUE(Check(kSale, p).Ok);
    // The lines before the register's own part of the receipt, plus two of that part.
    const auto tape = Sim.Tape();
    int before = 0;
    while (before < static_cast<int>(tape.size()) && tape[before].Text != "ПРИХОД") ++before;
    ASSERT_LT(before, static_cast<int>(tape.size()));
    Sim.SetPaperOutAfter(before + 2);

    const TOutcome r = Check(kSale, p);
    EXPECT_FALSE(r.Ok);
    EXPECT_EQ(r.Code, errPrintFailed);
    const auto doc = LastDocument();
    EXPECT_EQ(r.Text, "Ошибка печати чека (документа); Чек зарегистрирован: ФД " +
                          std::to_string(doc["number"].get<std::uint32_t>()) + ", ФП " +
                          std::to_string(doc["sign"].get<std::uint32_t>()));
    EXPECT_EQ(doc["type"], 3);

    Sim.SetPaper(true);
    const TOutcome next = Check(kSale, p);
    // The held end of the previous receipt is printed first, which the register reports.
    EXPECT_FALSE(next.Ok);
    EXPECT_EQ(next.Code, errPreviousDocumentPrinted);
    EXPECT_TRUE(Check(kSale, p).Ok);
    EXPECT_EQ(LastDocument()["number"], doc["number"].get<std::uint32_t>() + 1);
}

INSTANTIATE_TEST_SUITE_P(Links, DocumentsEndToEnd, ::testing::Values(TLink::Tcp, TLink::Pty),
                         [](const ::testing::TestParamInfo<TLink>& info) {
                             return info.param == TLink::Tcp ? "Tcp" : "Pty";
                         });

}  // namespace
}  // namespace fr::test
