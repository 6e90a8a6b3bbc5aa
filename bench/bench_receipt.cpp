// A 10-position sale against the simulated register over TCP loopback and over a pseudo-terminal:
// register commands per receipt and the wall time of the receipt body (connection excluded).
// Usage: bench_receipt [receipts]

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "driver/SimRegister.h"  // the tests' simulated register and plain environment
#include "platform/Xml.h"

namespace {

using namespace fr;
using namespace fr::test;

void Measure(TSimLink ALink, int ACount) {
    TSimRegister reg(ALink);
    if (reg.Connect() != 0) {
        std::printf("%s: cannot connect\n", SimLinkName(ALink));
        return;
    }
    TPlainEnvironment env(*reg.Device);
    TTaxValues taxes;
    pugi::xml_document doc;
    LoadXmlDocument(doc, SalePackage(10));
    std::vector<double> ms;
    int commands = 0, failures = 0;
    for (int i = 0; i < ACount; ++i) {
        TReceiptOutputs out;
        TSideChannels side;
        const int before = reg.Sim.Status().Commands;
        const auto t0 = std::chrono::steady_clock::now();
        if (ProcessCheckBody(env, taxes, false, doc, out, side) != 0) ++failures;
        reg.Device->CancelReceipt();  // the frame's completion step
        ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
        commands = reg.Sim.Status().Commands - before;
    }
    reg.Device->Disable();
    std::sort(ms.begin(), ms.end());
    std::printf("%-4s 10-position receipt: %d register commands, median %.1f ms, max %.1f ms over %d receipts, "
                "failures %d\n",
                SimLinkName(ALink), commands, ms[ms.size() / 2], ms.back(), ACount, failures);
}

}  // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
    Measure(TSimLink::Tcp, count);
    Measure(TSimLink::Pty, count);
}
