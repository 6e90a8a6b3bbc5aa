#pragma once
// What the service's tests share: simulated registers, a client, the frd process.

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <httplib.h>
#include <nlohmann/json.hpp>

#include "core/Simulator.h"
#include "driver/Driver.h"

namespace frd::test {

using json = nlohmann::json;

constexpr const char* kCashier =
    "<InputParameters><Parameters CashierName=\"Петрова А.С.\" CashierVATIN=\"500100732259\"/></InputParameters>";

inline std::string Sale(int AKopecks = 9100) {
    const std::string sum = std::to_string(AKopecks / 100) + "." + std::to_string(AKopecks % 100 / 10) +
                            std::to_string(AKopecks % 10);
    return "<CheckPackage><Parameters PaymentType=\"1\" TaxVariant=\"0\" CashierName=\"Петрова А.С.\" "
           "CashierVATIN=\"500100732259\"/><Positions><FiscalString Name=\"Хлеб\" Quantity=\"1\" PriceWithDiscount=\"" +
           sum + "\" SumWithDiscount=\"" + sum +
           "\" DiscountSum=\"0\" Tax=\"none\" TaxSum=\"0\" Department=\"1\" SignCalculationObject=\"1\" "
           "SignMethodCalculation=\"4\"/></Positions><Payments Cash=\"" +
           sum + "\" ElectronicPayment=\"0\" AdvancePayment=\"0\" Credit=\"0\" CashProvision=\"0\"/></CheckPackage>";
}

inline json SaleJob(const std::string& AId, int AKopecks = 9100) {
    return {{"id", AId}, {"operation", "ProcessCheck"}, {"params", {{"Electronically", false}, {"CheckPackage", Sale(AKopecks)}}}};
}

// A fiscal simulator with an open shift on TCP, or on a pty behind COM<ACom> of the data folder.
struct TSimRegister {
    fr::sim::TSimulator Sim;
    json Settings;
    explicit TSimRegister(int ACom = 0) {
        Sim.SetFiscal(true);
        Sim.OpenShift();
        if (ACom == 0)
            Settings = {{"PortNumber", fr::kTcpPortNumber}, {"IPAddress", "127.0.0.1"}, {"IPPort", Sim.StartTcp(0)}};
        else {
            Sim.StartPty(ACom);
            Settings = {{"PortNumber", ACom}, {"BaudRate", 115200}};
        }
    }
    std::size_t Documents() const { return Sim.Documents().size(); }
};

// Waits for a condition of another process or thread that gives no signal of its own (the
// simulator taking a frame); bounded, never a fixed pause.
inline bool Eventually(const std::function<bool()>& ACondition, std::chrono::seconds ALimit = std::chrono::seconds(30)) {
    const auto deadline = std::chrono::steady_clock::now() + ALimit;
    while (!ACondition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::yield();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

struct TReply {
    int Status = 0;
    json Body;
    std::string Text;
};

inline TReply Send(httplib::Client& AClient, const std::string& AMethod, const std::string& APath,
                   const std::string& AToken = {}, const std::string& ABody = {}) {
    httplib::Headers headers;
    if (!AToken.empty()) headers.emplace("Authorization", "Bearer " + AToken);
    httplib::Result r = AMethod == "POST" ? AClient.Post(APath, headers, ABody, "application/json")
                                          : AClient.Get(APath, headers);
    TReply reply;
    if (!r) return reply;
    reply.Status = r->status;
    reply.Text = r->body;
    reply.Body = json::parse(r->body, nullptr, false);
    return reply;
}

// The frd executable as a child process; its standard output is read line by line.
class TFrdProcess {
public:
    explicit TFrdProcess(const std::vector<std::string>& AArgs) {
        int out[2];
        if (::pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
        FPid = ::fork();
        if (FPid == 0) {
            ::dup2(out[1], STDOUT_FILENO);
            std::vector<char*> argv{const_cast<char*>(FRD_PATH)};
            for (const auto& a : AArgs) argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            ::execv(FRD_PATH, argv.data());
            ::_exit(127);
        }
        ::close(out[1]);
        FOut = out[0];
    }
    // Stopped as a service manager stops it, so that a demo removes its temporary folder.
    ~TFrdProcess() {
        if (FPid > 0) {
            ::kill(FPid, SIGTERM);
            ::waitpid(FPid, nullptr, 0);
        }
        ::close(FOut);
    }
    // The next line of standard output; empty at its end.
    std::string Line() {
        std::string line;
        char c = 0;
        while (::read(FOut, &c, 1) == 1 && c != '\n') line += c;
        return line;
    }
    // "url http://127.0.0.1:PORT/" gives the port.
    int Port() {
        const std::string url = Line();
        const auto colon = url.rfind(':');
        return colon == std::string::npos ? -1 : std::atoi(url.c_str() + colon + 1);
    }
    void Signal(int ASignal) { ::kill(FPid, ASignal); }
    // The exit code, or 128 + the signal.
    int Wait() {
        int status = 0;
        ::waitpid(FPid, &status, 0);
        FPid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

private:
    pid_t FPid = -1;
    int FOut = -1;
};

inline std::string WriteFile(const std::string& APath, const std::string& AText) {
    std::ofstream(APath, std::ios::binary) << AText;
    return APath;
}

}  // namespace frd::test
