// A 10-position sale through TDriver's ProcessCheck (the operation frame with its connection over
// TCP, the body, the completion's cancel) against the simulated register over TCP loopback and
// over a pseudo-terminal: register commands per receipt and the wall time of the call.
// Usage: bench_receipt [receipts]

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "core/Simulator.h"
#include "driver/Driver.h"
#include "driver/SimRegister.h"  // the tests' sale package
#include "framework/Log.h"
#include "platform/TempDir.h"
#include "platform/Xml.h"

namespace {

using namespace fr;
using namespace fr::test;

constexpr int kComNumber = 78;

void Measure(TSimLink ALink, int ACount) {
    TTempAppData data;  // first: the COM link is made inside it
    sim::TSimulator sim;
    sim.SetFiscal(true);
    sim.OpenShift();
    auto driver = TBaseDriver::Create<TDriver>();
    ServeDriver(sim, *driver, ALink, kComNumber);
    if (driver->Enable() != 0) {
        std::printf("%s: cannot connect: %s\n", SimLinkName(ALink), driver->LastResultDescription().c_str());
        return;
    }
    pugi::xml_document doc;
    LoadXmlDocument(doc, SalePackage(10));
    std::vector<double> ms;
    int commands = 0, failures = 0;
    for (int i = 0; i < ACount; ++i) {
        std::int64_t number = 0, session = 0;
        std::string sign, site;
        const int before = sim.Status().Commands;
        const auto t0 = std::chrono::steady_clock::now();
        if (driver->ProcessCheck(false, doc, number, session, sign, site) != 0) ++failures;
        ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
        commands = sim.Status().Commands - before;
    }
    driver->Disable();
    std::sort(ms.begin(), ms.end());
    std::printf("%-4s 10-position receipt: %d register commands, median %.1f ms, max %.1f ms over %d receipts, "
                "failures %d\n",
                SimLinkName(ALink), commands, ms[ms.size() / 2], ms.back(), ACount, failures);
}

}  // namespace

int main(int argc, char** argv) {
    TLog::SetLogLevel(0);
    const int count = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
    Measure(TSimLink::Tcp, count);
    Measure(TSimLink::Pty, count);
}
