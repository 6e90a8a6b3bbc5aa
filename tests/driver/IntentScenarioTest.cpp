// Intents as a shop meets them, the real driver against the simulated register: a host killed in
// the middle of a receipt, retries with other cashiers and attribute orders, several workstations
// and OS users on one register. Each intended document exists exactly once, and a call answers
// success exactly when its own document exists.

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>

#include <fmt/format.h>

#include "core/Simulator.h"
#include "driver/Driver.h"
#include "driver/SimRegister.h"
#include "framework/Log.h"
#include "platform/Xml.h"

namespace fr::test {
namespace {

using sim::TFault;
using sim::TFaultKind;

// A sale of one position; Extra goes into the parameters (another cashier, contact data).
std::string Sale(const char* AName, const char* APrice, const char* AExtra = "CashierName=\"Иванов\"") {
    return fmt::format(R"(<CheckPackage><Parameters PaymentType="1" TaxVariant="0" {}/><Positions>)"
                       R"(<FiscalString Name="{}" Quantity="1" PriceWithDiscount="{}" SumWithDiscount="{}" Tax="none")"
                       R"( TaxSum="0" Department="1" SignMethodCalculation="4" SignCalculationObject="1"/>)"
                       R"(</Positions><Payments Cash="{}"/></CheckPackage>)",
                       AExtra, AName, APrice, APrice, APrice);
}

struct TSale {
    std::int32_t Result = -1;
    std::int64_t Number = 0;
    std::string Sign, Description;
};

TSale Sell(TDriver& ADriver, const std::string& APackage) {
    pugi::xml_document doc;
    LoadXmlDocument(doc, APackage);
    TSale s;
    std::int64_t session = 0;
    std::string site;
    s.Result = ADriver.ProcessCheck(false, doc, s.Number, session, s.Sign, site);
    s.Description = ADriver.LastResultDescription();
    return s;
}

// The register, and drivers pointed at it.
class TRig {
public:
    static constexpr int kCom = 83;
    explicit TRig(TSimLink ALink) : FLink(ALink) {
        Sim.SetFiscal(true);
        Sim.OpenShift();
        if (ALink == TSimLink::Tcp) FPort = Sim.StartTcp(0);
        else Sim.StartPty(kCom);
    }
    std::unique_ptr<TDriver> Driver() const {
        auto d = TBaseDriver::Create<TDriver>();
        if (FLink == TSimLink::Tcp) {
            d->SetSettingValue("PortNumber", TVariant(kTcpPortNumber), true);
            d->SetSettingValue("IPAddress", TVariant("127.0.0.1"), true);
            d->SetSettingValue("IPPort", TVariant(static_cast<std::int32_t>(FPort)), true);
        } else {
            d->SetSettingValue("PortNumber", TVariant(kCom), true);
            d->SetSettingValue("BaudRate", TVariant(115200), true);
        }
        EXPECT_EQ(d->Enable(), 0);
        return d;
    }
    // Receipts in the fiscal storage with this first position's sum (kopecks).
    int Receipts(std::uint64_t ASum) const {
        int n = 0;
        for (const auto& d : Sim.Documents()) n += d.Type == 3 && !d.Positions.empty() && d.Positions[0].Sum == ASum;
        return n;
    }
    const sim::TSimDocument Last() const { return Sim.Documents().back(); }
    // The close ran (or, with ANeverRun, never ran) and neither its answer nor the fiscal storage
    // could be read afterwards: the call cannot know.
    void LoseTheOutcome(bool ANeverRun = false) {
        TFault close;
        close.Kind = ANeverRun ? TFaultKind::Deaf : TFaultKind::Delay;
        close.Command = 0xFF45;
        close.DelayMs = 4 * kCommandMs;  // late; deaf to probes that long
        Sim.AddFault(close);
        TFault read;
        read.Kind = TFaultKind::Silence;
        read.Command = 0xFF01;
        read.Count = 0;
        read.After = 1;
        Sim.AddFault(read);
    }

    TTempAppData Data;  // first: the COM link and the driver's files are made inside it
    sim::TSimulator Sim;

private:
    TSimLink FLink;
    std::uint16_t FPort = 0;
};

class IntentScenario : public ::testing::TestWithParam<TSimLink> {
protected:
    void SetUp() override { TLog::SetLogLevel(0); }
    TScopedLinkTimings FTimings{QuickTimings()};
};

// A retry is the same sale whoever the cashier, in whatever attribute order and with contact data
// added; a new customer's identical sale after another one is a new receipt.
TEST_P(IntentScenario, RetryIsKnownByWhatIsSoldNotByTheText) {
    TRig rig(GetParam());
    auto driver = rig.Driver();
    const std::string coffee = Sale("Кофе", "100");
    rig.LoseTheOutcome();
    const TSale first = Sell(*driver, coffee);
    EXPECT_NE(first.Result, 0);
    EXPECT_NE(first.Description.find("Неизвестно"), std::string::npos) << first.Description;
    ASSERT_EQ(rig.Receipts(10000), 1);
    rig.Sim.ClearFaults();

    const std::string retried = R"(<CheckPackage><Parameters CustomerEmail="a@b.ru" CashierName="Петров" TaxVariant="0")"
                                R"( PaymentType="1"/><Positions><FiscalString SignCalculationObject="1")"
                                R"( SignMethodCalculation="4" Department="1" TaxSum="0" Tax="none" SumWithDiscount="100")"
                                R"( PriceWithDiscount="100" Quantity="1" Name="Кофе"/></Positions>)"
                                R"(<Payments Cash="100"/></CheckPackage>)";
    const TSale retry = Sell(*driver, retried);
    ASSERT_EQ(retry.Result, 0) << retry.Description;
    EXPECT_EQ(rig.Receipts(10000), 1);
    EXPECT_EQ(retry.Number, rig.Last().Number);
    EXPECT_EQ(retry.Sign, std::to_string(rig.Last().Sign));

    // Told once, the document is used up: the same package is the next customer's sale.
    ASSERT_EQ(Sell(*driver, coffee).Result, 0);
    EXPECT_EQ(rig.Receipts(10000), 2);

    // Unknown, then another sale settles it and takes its place: the coffee after that is new.
    rig.LoseTheOutcome();
    EXPECT_NE(Sell(*driver, coffee).Result, 0);
    rig.Sim.ClearFaults();
    ASSERT_EQ(Sell(*driver, Sale("Чай", "50")).Result, 0);
    const TSale later = Sell(*driver, coffee);
    ASSERT_EQ(later.Result, 0);
    EXPECT_EQ(rig.Receipts(10000), 4);
    EXPECT_EQ(later.Number, rig.Last().Number);
}

// A host killed while the close's answer is late, or while it waits for paper after the register
// fiscalised the receipt, leaves its intent on disk: the restarted host settles it and answers the
// retried sale with the registered receipt's numbers instead of printing it again.
TEST_P(IntentScenario, HostKilledMidReceiptIsSettledAfterTheRestart) {
    for (const bool paperWait : {false, true}) {
        SCOPED_TRACE(paperWait ? "killed in the paper wait" : "killed while the answer is late");
        TRig rig(GetParam());
        const std::string sale = Sale("Хлеб", "45.50");
        if (paperWait) {
            // Paper for the positions only: it runs out in the register's own part of the receipt.
            rig.Sim.ClearTape();
            ASSERT_EQ(Sell(*rig.Driver(), sale).Result, 0);
            const auto tape = rig.Sim.Tape();
            int before = 0;
            while (before < static_cast<int>(tape.size()) && tape[before].Text != "ПРИХОД") ++before;
            rig.Sim.SetPaperOutAfter(before + 2);
        } else {
            TFault late;
            late.Kind = TFaultKind::Delay;
            late.Command = 0xFF45;
            late.DelayMs = 60000;
            rig.Sim.AddFault(late);
        }
        const int receipts = rig.Receipts(4550);
        const std::uint32_t last = rig.Sim.Status().LastDocument;
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            // The host: real link time constants, as in a shop.
            TScopedLinkTimings real{TLinkTimings{}};
            auto driver = rig.Driver();
            Sell(*driver, sale);
            ::_exit(0);
        }
        const bool reached = rig.Sim.WaitUntil(
            [&](const sim::TSimStatus& s) { return s.LastDocument > last && (!paperWait || s.Submode == 2); },
            std::chrono::seconds(30));
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);
        ASSERT_TRUE(reached);
        ASSERT_TRUE(WIFSIGNALED(status));
        rig.Sim.ClearFaults();
        rig.Sim.EndDelay();
        rig.Sim.SetPaper(true);
        EXPECT_EQ(rig.Receipts(4550), receipts + 1);

        auto restarted = rig.Driver();
        const TSale retry = Sell(*restarted, Sale("Хлеб", "45.50", "CashierName=\"Сидорова\""));
        EXPECT_EQ(retry.Result, 0) << retry.Description;
        EXPECT_EQ(rig.Receipts(4550), receipts + 1);
        EXPECT_EQ(retry.Number, static_cast<std::int64_t>(last + 1));
        EXPECT_EQ(retry.Sign, std::to_string(rig.Sim.Documents()[last].Sign));
    }
}

// Two workstations (two data folders) on one TCP register, with sales of equal totals: the
// document after workstation 1's number is workstation 2's, which is not taken for its own.
TEST(IntentWorkstations, EqualTotalsOfAnotherWorkstationAreNotOurs) {
    TScopedLinkTimings quick(QuickTimings());
    TLog::SetLogLevel(0);
    TRig rig(TSimLink::Tcp);
    TTempDir second;
    const std::string first = rig.Data.Path();
    const auto at = [](const std::string& AFolder) { SetEnvironmentValue("FR_APPDATA_DIR", AFolder); };

    auto ws1 = rig.Driver();
    at(second.Path());
    auto ws2 = rig.Driver();
    at(first);
    rig.LoseTheOutcome(true);
    EXPECT_NE(Sell(*ws1, Sale("Кофе", "100")).Result, 0);
    rig.Sim.ClearFaults();
    at(second.Path());
    ASSERT_EQ(Sell(*ws2, Sale("Чай", "100")).Result, 0);
    const auto tea = rig.Last();
    at(first);
    const TSale retry = Sell(*ws1, Sale("Кофе", "100"));
    ASSERT_EQ(retry.Result, 0) << retry.Description;
    const auto coffee = rig.Last();
    EXPECT_EQ(coffee.Number, tea.Number + 1);
    EXPECT_EQ(retry.Number, coffee.Number);
    EXPECT_EQ(rig.Receipts(10000), 2);
}

// Two OS users share one register and one data folder: each keeps its intents in a folder of its
// own, so one user's unsettled receipt neither blocks nor misleads the other, and what another
// user planted is not taken.
TEST(IntentUsers, EachUserKeepsItsOwnIntents) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as a second user";
    TScopedLinkTimings quick(QuickTimings());
    TLog::SetLogLevel(0);
    TRig rig(TSimLink::Tcp);
    ::chmod(rig.Data.Path().c_str(), 0777);
    auto root = rig.Driver();
    rig.LoseTheOutcome(true);
    EXPECT_NE(Sell(*root, Sale("Кофе", "100")).Result, 0);
    rig.Sim.ClearFaults();
    const std::string shared = rig.Data.Path() + "fr_tarvikonline1c83/";
    // Planted by the old scheme's rules: ignored now.
    WriteFile(shared + "open-document-tcp_127.0.0.1_1.txt", "operation=ProcessCheck\nbefore=0\ntotal=1\n");

    constexpr uid_t kNobody = 65534;
    const std::string nobodysFolder = shared + "intents-" + std::to_string(kNobody);
    for (const bool planted : {true, false}) {
        SCOPED_TRACE(planted ? "a folder in the user's name planted by another" : "the user's own folder");
        std::filesystem::remove_all(nobodysFolder);
        if (planted) {
            ASSERT_EQ(::mkdir(nobodysFolder.c_str(), 0777), 0);
            ASSERT_EQ(::chown(nobodysFolder.c_str(), 12345, 12345), 0);
            WriteFile(nobodysFolder + "/tcp_127.0.0.1_1.txt", "fr-intent 1\n");
        }
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            if (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) ::_exit(3);
            auto driver = rig.Driver();
            ::_exit(Sell(*driver, Sale("Чай", planted ? "30" : "40")).Result == 0 ? 0 : 1);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        struct stat st {};
        ASSERT_EQ(::lstat(nobodysFolder.c_str(), &st), 0);
        EXPECT_EQ(st.st_uid, planted ? 12345u : kNobody);
        if (!planted) {
            EXPECT_EQ(st.st_mode & 0777, 0700u);
        }
    }
    EXPECT_EQ(rig.Receipts(3000) + rig.Receipts(4000), 2);
    // Root's own question is still its own, and settles as not registered: the coffee is made now.
    const TSale retry = Sell(*root, Sale("Кофе", "100"));
    ASSERT_EQ(retry.Result, 0) << retry.Description;
    EXPECT_EQ(rig.Receipts(10000), 1);
    EXPECT_EQ(retry.Number, rig.Last().Number);
}

// The settlements report answered "printing the previous command" without a new document in the
// fiscal storage is not a success; a register without the money-register read still takes cash.
TEST_P(IntentScenario, ReportsAndCashAreToldAsTheRegisterHasThem) {
    TRig rig(GetParam());
    auto driver = rig.Driver();
    const auto settlements = [&] {
        std::size_t n = 0;
        for (const auto& d : rig.Sim.Documents()) n += d.Type == 21;
        return n;
    };
    TFault busy;
    busy.Kind = TFaultKind::Refuse;
    busy.Command = 0xFF38;
    busy.Code = 80;
    rig.Sim.AddFault(busy);
    pugi::xml_document out;
    EXPECT_NE(driver->ReportCurrentStatusOfSettlements("Кассир", "", out), 0);
    EXPECT_EQ(settlements(), 0u);
    EXPECT_EQ(driver->ReportCurrentStatusOfSettlements("Кассир", "", out), 0) << driver->LastResultDescription();
    EXPECT_EQ(settlements(), 1u);

    TFault noCashRead;
    noCashRead.Kind = TFaultKind::Refuse;
    noCashRead.Command = 0x1A;
    noCashRead.Code = 0x37;  // command not supported
    noCashRead.Count = 0;
    rig.Sim.AddFault(noCashRead);
    const std::int64_t cash = rig.Sim.Status().CashKopecks;
    EXPECT_EQ(driver->CashInOutcome(TCurrency{12345 * 100}, "", ""), 0) << driver->LastResultDescription();
    EXPECT_EQ(rig.Sim.Status().CashKopecks, cash + 12345);
}

INSTANTIATE_TEST_SUITE_P(Transports, IntentScenario, ::testing::Values(TSimLink::Tcp, TSimLink::Pty),
                         [](const auto& info) { return std::string(SimLinkName(info.param)); });

}  // namespace
}  // namespace fr::test
