// What a lost or garbled answer to the receipt close (FF 45) costs with the real link time
// constants: a 10-position sale through TDriver's ProcessCheck against the simulated register,
// once per fault, over TCP loopback and over a pseudo-terminal. Every run must end with the
// receipt registered once and reported with its number; the wall time of the call is printed
// next to the fault-free call.
// Usage: bench_lost_answer

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/Simulator.h"
#include "driver/Driver.h"
#include "driver/SimRegister.h"  // the tests' sale package
#include "framework/Log.h"
#include "platform/TempDir.h"
#include "platform/Xml.h"

namespace {

using namespace fr;
using namespace fr::test;

constexpr int kComNumber = 76;

struct TCase {
    const char* Name;
    sim::TFaultKind Kind;
    int DelayMs;
    bool ResendAtEnq;
    bool Faulted;
    // The fiscal storage falls silent too after the close: the outcome cannot be found out, and
    // the call must say so within the close's time-out + 15 s.
    bool Unknown = false;
};

const TCase kCases[] = {
    {"no fault", sim::TFaultKind::Silence, 0, false, false},
    {"answer kept for ENQ (uncollected)", sim::TFaultKind::Uncollected, 0, false, true},
    {"no ACK, answer at ENQ (noack)", sim::TFaultKind::NoAck, 0, false, true},
    {"garbled, resent at once", sim::TFaultKind::BadCheck, 0, false, true},
    {"garbled, resent at ENQ", sim::TFaultKind::BadCheck, 0, true, true},
    {"late answer (+1 s past the time-out)", sim::TFaultKind::Delay, -1, false, true},
    {"half an answer, line dropped", sim::TFaultKind::Disconnect, 0, false, true},
    {"executed, line dropped", sim::TFaultKind::DropAfterExecute, 0, false, true},
    {"hangs 9 s, then FN silent: unknown", sim::TFaultKind::Delay, 9000, false, true, true},
};

void Measure(TSimLink ALink) {
    double worst = 0;
    const char* worstName = "";
    for (const TCase& c : kCases) {
        TTempAppData data;
        sim::TSimulator sim;
        sim.SetFiscal(true);
        sim.OpenShift();
        sim.SetLinkBehaviour({!c.ResendAtEnq, true});
        auto driver = TBaseDriver::Create<TDriver>();
        ServeDriver(sim, *driver, ALink, kComNumber);
        if (std::getenv("FR_BENCH_LOG")) {
            driver->SetSettingValue("WriteLog", TVariant(true), true);
            driver->SetSettingValue("LogDir", TVariant(std::string(std::getenv("FR_BENCH_LOG"))), true);
        }
        if (driver->Enable() != 0) {
            std::printf("%s: cannot connect\n", SimLinkName(ALink));
            return;
        }
        if (c.Faulted) {
            sim::TFault f;
            f.Kind = c.Kind;
            f.Command = 0xFF45;
            // The close waits the link's default: 2 s on the serial link, 5 s over TCP.
            f.DelayMs = c.DelayMs < 0 ? (ALink == TSimLink::Tcp ? 6000 : 3000) : c.DelayMs;
            sim.AddFault(f);
            if (c.Unknown) {
                sim::TFault silent;
                silent.Kind = sim::TFaultKind::Silence;
                silent.Command = 0xFF01;
                silent.Count = 0;
                silent.After = 1;  // the number read before the close still gets through
                sim.AddFault(silent);
            }
        }
        pugi::xml_document doc;
        LoadXmlDocument(doc, SalePackage(10));
        std::int64_t number = 0, session = 0;
        std::string sign, site;
        const std::size_t before = sim.Documents().size();
        const auto t0 = std::chrono::steady_clock::now();
        const int r = driver->ProcessCheck(false, doc, number, session, sign, site);
        const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
        const auto docs = sim.Documents();
        const bool once = docs.size() == before + 1 && r == 0 && number == docs.back().Number &&
                          sign == std::to_string(docs.back().Sign);
        const bool toldUnknown = c.Unknown && r != 0 && docs.size() == before + 1 &&
                                 driver->LastResultDescription().find("Неизвестно") != std::string::npos;
        std::printf("%-4s %-38s %8.0f ms  result %d  %s\n", SimLinkName(ALink), c.Name, ms, r,
                    once ? "registered once, reported" : toldUnknown ? "registered once, told unknown" : "WRONG");
        if (c.Faulted && ms > worst) {
            worst = ms;
            worstName = c.Name;
        }
        sim.ClearFaults();
        sim.EndDelay();
        driver->Disable();
    }
    std::printf("%-4s worst case: %.0f ms (%s)\n", SimLinkName(ALink), worst, worstName);
}

}  // namespace

int main() {
    TLog::SetLogLevel(0);
    Measure(TSimLink::Tcp);
    Measure(TSimLink::Pty);
}
