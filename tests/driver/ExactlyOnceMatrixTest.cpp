// Every link fault × every command of a fiscal document (and of cash in/out) × both transports,
// the real driver against the simulated register. Whatever the link does, each intended document
// is registered exactly once with each position once, the host hears success exactly when it was
// registered (with its number and fiscal sign), and a cashier's retry after a failure still ends
// with one document.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "core/Simulator.h"
#include "driver/Driver.h"
#include "driver/SimRegister.h"
#include "framework/Log.h"
#include "platform/TempDir.h"
#include "platform/Xml.h"
#include "transport/LinkTimings.h"

namespace fr::test {
namespace {

using sim::TFault;
using sim::TFaultKind;

enum class TOperation { Receipt, Correction, OpenShift, CloseShift, CashIn, CashOut, Settlements };

struct TCommand {
    const char* Name;
    TOperation Operation;
    std::uint16_t Code;
    int After = 0;  // frames of this code let through first
};

const TCommand kCommands[] = {
    {"receipt-open", TOperation::Receipt, 0x8D},       {"receipt-position", TOperation::Receipt, 0xFF46},
    {"receipt-requisite", TOperation::Receipt, 0xFF0C}, {"receipt-close", TOperation::Receipt, 0xFF45},
    {"correction-begin", TOperation::Correction, 0xFF35}, {"correction-close", TOperation::Correction, 0xFF4A},
    {"shift-open-begin", TOperation::OpenShift, 0xFF41}, {"shift-open", TOperation::OpenShift, 0xE0},
    {"shift-close", TOperation::CloseShift, 0x41},     {"cash-in", TOperation::CashIn, 0x50},
    {"cash-out", TOperation::CashOut, 0x51},
    // The session read after the close (the first FF 40 is the shift check before the receipt):
    // the document exists, whatever the link does now.
    {"receipt-after-close", TOperation::Receipt, 0xFF40, 1},
    // The backlog read (FF 39) comes only after the shift report.
    {"shift-open-after-report", TOperation::OpenShift, 0xFF39},
    {"shift-close-after-report", TOperation::CloseShift, 0xFF39},
};

struct TFaultCase {
    const char* Name;
    TFaultKind Kind;
    int DelayMs = 0;
    bool ResendAtEnq = false;
    bool LoseOnReconnect = false;
    int RefuseCode = 0;
};


const TFaultCase kFaults[] = {
    {"silence", TFaultKind::Silence},
    {"nak", TFaultKind::Nak},
    {"noack", TFaultKind::NoAck},
    {"uncollected", TFaultKind::Uncollected},
    {"badcheck-resent-at-once", TFaultKind::BadCheck},
    {"badcheck-resent-at-enq", TFaultKind::BadCheck, 0, true},
    {"late-answer", TFaultKind::Delay, 2 * kCommandMs},
    {"disconnect-mid-answer", TFaultKind::Disconnect},
    {"drop-answer-kept", TFaultKind::DropAfterExecute},
    {"drop-answer-lost", TFaultKind::DropAfterExecute, 0, false, true},
    // A plain refusal by the register ("incorrect parameter").
    {"refused", TFaultKind::Refuse, 0, false, false, 0x33},
};

const char* kCorrection = R"(<CheckCorrectionPackage><Parameters CashierName="Кассир" PaymentType="1"
    CorrectionType="0" TaxVariant="0" CorrectionBaseName="Предписание" CorrectionBaseDate="2026-03-15T14:30:00"
    CorrectionBaseNumber="7" Sum="100" SumTAX20="16.67"/><Payments Cash="100"/></CheckCorrectionPackage>)";

constexpr int kPositions = 3;
constexpr std::int64_t kCashKopecks = 12345;

// The register's document type of an operation (0: not a fiscal document).
std::uint16_t DocumentType(TOperation AOperation) {
    switch (AOperation) {
        case TOperation::Receipt: return 3;
        case TOperation::Correction: return 31;
        case TOperation::OpenShift: return 2;
        case TOperation::CloseShift: return 5;
        case TOperation::Settlements: return 21;
        default: return 0;
    }
}

struct TOutcome {
    std::int32_t Result = 0;
    std::int64_t Number = 0;
    std::string Sign;
    std::string Description;
};

class TMatrixCase {
public:
    TMatrixCase(TSimLink ALink, const TCommand& ACommand) : FLink(ALink), FCommand(ACommand) {
        Sim.SetFiscal(true);
        if (ACommand.Operation != TOperation::OpenShift) Sim.OpenShift();
        Driver = TBaseDriver::Create<TDriver>();
        if (ALink == TSimLink::Tcp) {
            const std::uint16_t port = Sim.StartTcp(0);
            Driver->SetSettingValue("PortNumber", TVariant(kTcpPortNumber), true);
            Driver->SetSettingValue("IPAddress", TVariant("127.0.0.1"), true);
            Driver->SetSettingValue("IPPort", TVariant(static_cast<std::int32_t>(port)), true);
        } else {
            Sim.StartPty(kComNumber);
            Driver->SetSettingValue("PortNumber", TVariant(kComNumber), true);
            Driver->SetSettingValue("BaudRate", TVariant(115200), true);
        }
    }

    bool Prepare() {
        if (Driver->Enable() != 0) return false;
        // Cash to take out.
        if (FCommand.Operation == TOperation::CashOut && Driver->CashInOutcome(TCurrency{kCashKopecks * 100}, "", "") != 0)
            return false;
        FDocumentsBefore = Sim.Documents().size();
        FCashBefore = Sim.Status().CashKopecks;
        return true;
    }

    TOutcome Call() {
        TOutcome o;
        std::int64_t session = 0;
        std::string site;
        pugi::xml_document doc, out;
        switch (FCommand.Operation) {
            case TOperation::Receipt:
                LoadXmlDocument(doc, SalePackage(kPositions));
                o.Result = Driver->ProcessCheck(false, doc, o.Number, session, o.Sign, site);
                break;
            case TOperation::Correction:
                LoadXmlDocument(doc, kCorrection);
                o.Result = Driver->ProcessCorrectionCheck(doc, o.Number, session, o.Sign, site);
                break;
            case TOperation::OpenShift: o.Result = Driver->OpenShift("Кассир", "123456789012", session, o.Number, out); break;
            case TOperation::CloseShift: o.Result = Driver->CloseShift("Кассир", "123456789012", session, o.Number, out); break;
            case TOperation::CashIn: o.Result = Driver->CashInOutcome(TCurrency{kCashKopecks * 100}, "", ""); break;
            case TOperation::CashOut: o.Result = Driver->CashInOutcome(TCurrency{-kCashKopecks * 100}, "", ""); break;
            case TOperation::Settlements: o.Result = Driver->ReportCurrentStatusOfSettlements("Кассир", "", out); break;
        }
        o.Description = Driver->LastResultDescription();
        return o;
    }

    // The documents the call formed.
    std::vector<sim::TSimDocument> NewDocuments() const {
        std::vector<sim::TSimDocument> all = Sim.Documents();
        return {all.begin() + static_cast<std::ptrdiff_t>(std::min(FDocumentsBefore, all.size())), all.end()};
    }
    std::int64_t CashMoved() const { return Sim.Status().CashKopecks - FCashBefore; }

    static constexpr int kComNumber = 79;
    TTempAppData Data;  // first: the COM link and the driver's files are made inside it
    sim::TSimulator Sim;
    std::unique_ptr<TDriver> Driver;

private:
    TSimLink FLink;
    TCommand FCommand;
    std::size_t FDocumentsBefore = 0;
    std::int64_t FCashBefore = 0;
};

// Checks the invariants after a call; true when the intended document (or cash move) exists.
// AUnknownAllowed: the faults may leave the driver unable to find out, and saying so is the truth.
bool Registered(const TMatrixCase& C, const TCommand& ACommand, const TOutcome& AOutcome, bool AFinal,
                bool AUnknownAllowed = false) {
    if (ACommand.Operation == TOperation::CashIn || ACommand.Operation == TOperation::CashOut) {
        const std::int64_t moved = C.CashMoved();
        const std::int64_t expected = ACommand.Operation == TOperation::CashIn ? kCashKopecks : -kCashKopecks;
        EXPECT_TRUE(moved == 0 || moved == expected) << "cash moved " << moved;
        if (AOutcome.Result == 0 || AFinal) {
            EXPECT_EQ(moved, expected) << "success without the cash moved";
        }
        return moved == expected;
    }
    const std::uint16_t type = DocumentType(ACommand.Operation);
    const std::vector<sim::TSimDocument> docs = C.NewDocuments();
    std::size_t count = 0;
    const sim::TSimDocument* doc = nullptr;
    for (const sim::TSimDocument& d : docs) {
        if (d.Type != type) continue;
        ++count;
        doc = &d;
    }
    EXPECT_LE(count, 1u) << "the document was registered " << count << " times";
    if (doc && ACommand.Operation == TOperation::Receipt) {
        EXPECT_EQ(doc->Positions.size(), static_cast<std::size_t>(kPositions)) << "positions repeated or lost";
        EXPECT_EQ(doc->Total, kPositions * 1000);
    }
    if (AOutcome.Result == 0) {
        EXPECT_EQ(count, 1u) << "success without a document";
        if (doc && (ACommand.Operation == TOperation::Receipt || ACommand.Operation == TOperation::Correction)) {
            EXPECT_EQ(AOutcome.Number, static_cast<std::int64_t>(doc->Number));
            EXPECT_EQ(AOutcome.Sign, std::to_string(doc->Sign));
        }
    } else if (doc) {
        // Registered but reported as a failure: only when the driver says it does not know.
        EXPECT_NE(AOutcome.Description.find("Неизвестно"), std::string::npos)
            << "a registered document reported as failed: " << AOutcome.Description;
    } else if (!AUnknownAllowed) {
        EXPECT_EQ(AOutcome.Description.find("Неизвестно"), std::string::npos) << AOutcome.Description;
    }
    if (AFinal) {
        EXPECT_EQ(count, 1u);
    }
    return count == 1;
}

// The slowest first call of a matrix, for its summary line.
struct TSlowest {
    double Ms = 0;
    std::string Name;
    TOutcome Time(const std::string& AName, const std::function<TOutcome()>& ACall) {
        const auto start = std::chrono::steady_clock::now();
        TOutcome o = ACall();
        const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        if (ms > Ms) {
            Ms = ms;
            Name = AName;
        }
        return o;
    }
};

class ExactlyOnceMatrix : public ::testing::TestWithParam<TSimLink> {};

TEST_P(ExactlyOnceMatrix, EveryDocumentOnceAndReportedTruthfully) {
    TScopedLinkTimings timings(QuickTimings());
    TLog::SetLogLevel(0);
    const TSimLink link = GetParam();
    int cases = 0, firstCallDone = 0;
    TSlowest slowest;
    std::string retried;
    for (const TCommand& command : kCommands) {
        for (const TFaultCase& fault : kFaults) {
            if (link == TSimLink::Pty && fault.LoseOnReconnect) continue;  // a terminal is never replaced
            SCOPED_TRACE(fmt::format("{} {} {}", SimLinkName(link), command.Name, fault.Name));
            TMatrixCase c(link, command);
            c.Sim.SetLinkBehaviour({!fault.ResendAtEnq, !fault.LoseOnReconnect});
            ASSERT_TRUE(c.Prepare());
            TFault f;
            f.Kind = fault.Kind;
            f.Command = command.Code;
            f.After = command.After;
            f.DelayMs = fault.DelayMs;
            f.Code = fault.RefuseCode;
            c.Sim.AddFault(f);
            ++cases;
            const TOutcome first = slowest.Time(fmt::format("{} {}", command.Name, fault.Name), [&] { return c.Call(); });
            const bool done = Registered(c, command, first, false);
            if (first.Result == 0) {
                ++firstCallDone;
                continue;
            }
            retried += fmt::format(" {}/{}", command.Name, fault.Name);
            // The cashier tries again.
            c.Sim.ClearFaults();
            const TOutcome retry = c.Call();
            // A document made by the first call is answered from its intent, not made again.
            EXPECT_EQ(retry.Result, 0) << retry.Description;
            (void)done;
            Registered(c, command, retry, true);
        }
    }
    std::printf("%s matrix: %d cases, %d completed by the first call, slowest %.0f ms (%s); retried:%s\n",
                SimLinkName(link), cases, firstCallDone, slowest.Ms, slowest.Name.c_str(), retried.c_str());
}

// The fiscal storage's own reports (registration, change of parameters, closing) under every
// fault of their final command: the report is made once, and success is told exactly when it was.
TEST_P(ExactlyOnceMatrix, FiscalStorageReportsOnceAndReportedTruthfully) {
    struct TReport {
        const char* Name;
        std::uint8_t Operation;
        std::uint16_t Code, DocumentType;
    };
    static const TReport kReports[] = {
        {"registration", 1, 0xFF06, 1}, {"change-of-parameters", 2, 0xFF34, 11}, {"fn-close", 3, 0xFF3E, 6}};
    constexpr const char* kParameters = R"(<Parameters CashierName="Петров" KKTNumber="0000000001012345"
        VATIN="7700000000" OrganizationName="ООО Ёлка" TaxVariant="0" ReasonCode="4"/>)";
    TScopedLinkTimings timings(QuickTimings());
    TLog::SetLogLevel(0);
    const TSimLink link = GetParam();
    for (const TReport& report : kReports) {
        for (const TFaultCase& fault : kFaults) {
            if (link == TSimLink::Pty && fault.LoseOnReconnect) continue;
            SCOPED_TRACE(fmt::format("{} {} {}", SimLinkName(link), report.Name, fault.Name));
            TMatrixCase c(link, kCommands[0]);
            c.Sim.SetFiscal(report.Operation != 1);
            ASSERT_TRUE(c.Prepare());
            if (c.Sim.Status().ShiftOpen) {
                std::int64_t session = 0, number = 0;
                pugi::xml_document out;
                ASSERT_EQ(c.Driver->CloseShift("Кассир", "", session, number, out), 0);
            }
            c.Sim.SetLinkBehaviour({!fault.ResendAtEnq, !fault.LoseOnReconnect});
            TFault f;
            f.Kind = fault.Kind;
            f.Command = report.Code;
            f.DelayMs = fault.DelayMs;
            f.Code = fault.RefuseCode;
            c.Sim.AddFault(f);
            pugi::xml_document in;
            LoadXmlDocument(in, kParameters);
            const std::size_t before = c.Sim.Documents().size();
            const std::int32_t first = c.Driver->OperationFN(report.Operation, in);
            const auto made = [&] {
                std::size_t n = 0;
                const auto docs = c.Sim.Documents();
                for (std::size_t i = before; i < docs.size(); ++i) n += docs[i].Type == report.DocumentType;
                return n;
            };
            EXPECT_LE(made(), 1u);
            EXPECT_EQ(first == 0, made() == 1u) << first << " " << c.Driver->LastResultDescription();
            if (first == 0) continue;
            c.Sim.ClearFaults();
            EXPECT_EQ(c.Driver->OperationFN(report.Operation, in), 0) << c.Driver->LastResultDescription();
            EXPECT_EQ(made(), 1u);
        }
    }
}

// Two faults at once: the final command's answer lost (or the command never run) AND a read after
// it failing, so that the first call cannot know; then the cashier retries until the call succeeds
// (the first retry with the shift read refused once more). Each document is made exactly once, a
// call answers success exactly when it exists (with its numbers), and a retry is answered from the
// registered document instead of making another.
TEST_P(ExactlyOnceMatrix, CompoundFaultsEachDocumentOnce) {
    struct TFinal {
        const char* Name;
        TFaultKind Kind;
        int DelayMs = 0;
        bool LoseOnReconnect = false;
    };
    struct TRead {
        const char* Name;
        std::uint16_t Code;  // 0: none; 0xFF01 is the cash read 0x1A for cash in
        TFaultKind Kind = TFaultKind::Silence;
        int After = 0;
    };
    static const TCommand kFinals[] = {
        {"receipt", TOperation::Receipt, 0xFF45},        {"correction", TOperation::Correction, 0xFF4A},
        {"shift-open", TOperation::OpenShift, 0xE0},     {"shift-close", TOperation::CloseShift, 0x41},
        {"settlements", TOperation::Settlements, 0xFF38}, {"cash-in", TOperation::CashIn, 0x50},
    };
    static const TFinal kFinalFaults[] = {{"late", TFaultKind::Delay, 4 * kCommandMs},
                                          {"drop-lost", TFaultKind::DropAfterExecute, 0, true},
                                          {"noack", TFaultKind::NoAck},
                                          {"never-run", TFaultKind::Deaf, 4 * kCommandMs}};
    static const TRead kReads[] = {{"settle-read", 0xFF01, TFaultKind::Silence, 1},
                                   {"document-read", 0xFF3A},
                                   {"shift-read", 0xFF40, TFaultKind::Refuse},
                                   {"none", 0}};
    TScopedLinkTimings timings(QuickTimings());
    TLog::SetLogLevel(0);
    const TSimLink link = GetParam();
    int cases = 0, firstDone = 0, firstUnknown = 0;
    TSlowest slowest;
    for (const TCommand& command : kFinals) {
        for (const TFinal& final : kFinalFaults) {
            if (link == TSimLink::Pty && final.LoseOnReconnect) continue;
            for (const TRead& read : kReads) {
                SCOPED_TRACE(fmt::format("{} {} {} {}", SimLinkName(link), command.Name, final.Name, read.Name));
                TMatrixCase c(link, command);
                c.Sim.SetLinkBehaviour({true, !final.LoseOnReconnect});
                ASSERT_TRUE(c.Prepare());
                TFault f;
                f.Kind = final.Kind;
                f.Command = command.Code;
                f.DelayMs = final.DelayMs;
                c.Sim.AddFault(f);
                if (read.Code != 0) {
                    TFault r;
                    r.Kind = read.Kind;
                    r.Command = read.Code == 0xFF01 && command.Operation == TOperation::CashIn ? 0x1A : read.Code;
                    r.Count = 0;
                    r.After = read.After;
                    r.Code = 0x33;
                    c.Sim.AddFault(r);
                }
                ++cases;
                const TOutcome first = slowest.Time(fmt::format("{} {} {}", command.Name, final.Name, read.Name),
                                                    [&] { return c.Call(); });
                Registered(c, command, first, false, true);
                if (first.Result == 0) {
                    ++firstDone;
                    continue;
                }
                firstUnknown += first.Description.find("Неизвестно") != std::string::npos;
                c.Sim.ClearFaults();
                TFault again;
                again.Kind = TFaultKind::Refuse;
                again.Command = 0xFF40;
                again.Code = 0x33;
                c.Sim.AddFault(again);
                TOutcome retry;
                for (int attempt = 0; attempt < 3; ++attempt) {
                    retry = c.Call();
                    Registered(c, command, retry, false, true);
                    if (retry.Result == 0) break;
                }
                EXPECT_EQ(retry.Result, 0) << retry.Description;
                Registered(c, command, retry, true);
            }
        }
    }
    std::printf("%s compound matrix: %d cases, %d completed by the first call, %d told unknown, slowest %.0f ms (%s)\n",
                SimLinkName(link), cases, firstDone, firstUnknown, slowest.Ms, slowest.Name.c_str());
}

INSTANTIATE_TEST_SUITE_P(Transports, ExactlyOnceMatrix, ::testing::Values(TSimLink::Tcp, TSimLink::Pty),
                         [](const auto& info) { return std::string(SimLinkName(info.param)); });

}  // namespace
}  // namespace fr::test

