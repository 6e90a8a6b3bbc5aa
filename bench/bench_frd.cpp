// Load on frd: 50 concurrent clients send 1,000 receipts to 4 simulated registers (2 over TCP, 2
// over pseudo-terminals) with link faults; 1 request in 20 times out on the client side and is
// sent again with the same id. frd runs as a child process. At the end every job must have ended,
// each done receipt must be exactly one document of its register and no document may lack a job.
// Prints jobs per second, frd's own time per job (journal commits and handling around the
// driver's call) at p50 and p99, and frd's resident memory.
//
// Usage: bench_frd [--jobs N] [--clients C]. Exit status 1 when an invariant does not hold.

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <fmt/format.h>
#include <httplib.h>
#include <nlohmann/json.hpp>

#include "Journal.h"
#include "core/Simulator.h"
#include "driver/Driver.h"
#include "platform/TempDir.h"

namespace {

using json = nlohmann::json;
using Clock = std::chrono::steady_clock;

std::string Sale(int AKopecks) {
    const std::string sum = fmt::format("{}.{:02}", AKopecks / 100, AKopecks % 100);
    return "<CheckPackage><Parameters PaymentType=\"1\" TaxVariant=\"0\" CashierName=\"Петрова А.С.\" "
           "CashierVATIN=\"500100732259\"/><Positions><FiscalString Name=\"Товар\" Quantity=\"1\" PriceWithDiscount=\"" +
           sum + "\" SumWithDiscount=\"" + sum +
           "\" DiscountSum=\"0\" Tax=\"none\" TaxSum=\"0\" Department=\"1\" SignCalculationObject=\"1\" "
           "SignMethodCalculation=\"4\"/></Positions><Payments Cash=\"" + sum +
           "\" ElectronicPayment=\"0\" AdvancePayment=\"0\" Credit=\"0\" CashProvision=\"0\"/></CheckPackage>";
}

std::string ProcStatus(pid_t APid, const std::string& AKey) {
    std::ifstream in(fmt::format("/proc/{}/status", APid));
    for (std::string line; std::getline(in, line);)
        if (line.rfind(AKey + ":", 0) == 0) return line.substr(AKey.size() + 1);
    return "?";
}

double Percentile(std::vector<std::int64_t> AValues, double AP) {
    if (AValues.empty()) return 0;
    std::sort(AValues.begin(), AValues.end());
    return static_cast<double>(AValues[std::min(AValues.size() - 1, static_cast<std::size_t>(AP * AValues.size()))]);
}

}  // namespace

int main(int argc, char** argv) {
    int jobs = 1000, clients = 50;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::string(argv[i]) == "--jobs") jobs = std::atoi(argv[i + 1]);
        if (std::string(argv[i]) == "--clients") clients = std::atoi(argv[i + 1]);
    }
    fr::test::TTempAppData data;
    // Registers: two over TCP, two over pseudo-terminals; each with sporadic link faults the
    // driver must get through (bad check bytes, NAKs, late answers).
    std::vector<std::unique_ptr<fr::sim::TSimulator>> sims;
    json registers = json::object();
    for (int r = 0; r < 4; ++r) {
        auto sim = std::make_unique<fr::sim::TSimulator>();
        sim->SetFiscal(true);
        sim->OpenShift();
        json settings;
        if (r < 2) {
            settings = {{"PortNumber", fr::kTcpPortNumber}, {"IPAddress", "127.0.0.1"}, {"IPPort", sim->StartTcp(0)}};
        } else {
            sim->StartPty(20 + r);
            settings = {{"PortNumber", 20 + r}, {"BaudRate", 115200}};
        }
        for (int k = 1; k <= 60; ++k) {
            fr::sim::TFault f;
            f.Kind = k % 3 == 0 ? fr::sim::TFaultKind::BadCheck
                                : k % 3 == 1 ? fr::sim::TFaultKind::Nak : fr::sim::TFaultKind::Delay;
            f.DelayMs = 30;
            f.After = k * 97 + r * 13;
            sim->AddFault(f);
        }
        registers[fmt::format("k{}", r)] = {{"settings", settings}};
        sims.push_back(std::move(sim));
    }
    const std::string config = data.Path() + "frd.json";
    const std::string journalPath = data.Path() + "journal.sqlite3";
    std::ofstream(config) << json{{"listen", "127.0.0.1:0"}, {"journal", journalPath}, {"queue_limit", 10000},
                                  {"registers", registers}}
                                 .dump();

    int out[2];
    if (::pipe(out) != 0) return 1;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(out[1], STDOUT_FILENO);
        ::execl(FRD_PATH, FRD_PATH, "--config", config.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(out[1]);
    std::string url;
    for (char c; ::read(out[0], &c, 1) == 1 && c != '\n';) url += c;
    const int port = std::atoi(url.c_str() + url.rfind(':') + 1);
    if (port <= 0) {
        std::fprintf(stderr, "frd did not start\n");
        return 1;
    }

    std::atomic<int> next{0}, retried{0}, timedOut{0}, errors{0};
    const auto t0 = Clock::now();
    std::vector<std::thread> threads;
    for (int c = 0; c < clients; ++c)
        threads.emplace_back([&] {
            httplib::Client client("127.0.0.1", port);
            for (int i; (i = next++) < jobs;) {
                const std::string body = json{{"id", fmt::format("load-{}", i)},
                                              {"operation", "ProcessCheck"},
                                              {"params", {{"Electronically", false}, {"CheckPackage", Sale(100 + i)}}}}
                                             .dump();
                const std::string path = fmt::format("/v1/registers/k{}/jobs?wait=60", i % 4);
                // 1 in 20: the client gives up early and sends the same job again.
                if (i % 20 == 7) {
                    httplib::Client impatient("127.0.0.1", port);
                    impatient.set_read_timeout(0, 2000);
                    if (!impatient.Post(path, body, "application/json")) ++timedOut;
                    ++retried;
                }
                client.set_read_timeout(90, 0);
                auto r = client.Post(path, body, "application/json");
                if (!r || (r->status != 200 && r->status != 201)) {
                    if (++errors <= 5)
                        std::fprintf(stderr, "load-%d: %s\n", i,
                                     r ? fmt::format("{} {}", r->status, r->body).c_str() : httplib::to_string(r.error()).c_str());
                }
            }
        });
    for (auto& t : threads) t.join();
    const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    const std::string hwm = ProcStatus(pid, "VmHWM"), rss = ProcStatus(pid, "VmRSS");
    ::kill(pid, SIGTERM);
    int status = 0;
    ::waitpid(pid, &status, 0);

    // Invariants from the journal and the registers' fiscal storages.
    frd::TJournal journal(journalPath);
    std::map<std::string, std::set<std::int64_t>> numbers;
    std::vector<std::int64_t> overhead, driver;
    int done = 0, failed = 0, other = 0, missing = 0, duplicates = 0;
    for (int i = 0; i < jobs; ++i) {
        const auto job = journal.Get(fmt::format("load-{}", i));
        if (!job) {
            ++missing;
            continue;
        }
        if (job->State == "done") {
            ++done;
            if (!numbers[job->Register].insert(job->Result["outputs"]["CheckNumber"].get<std::int64_t>()).second) ++duplicates;
            overhead.push_back(job->OverheadMicros);
            driver.push_back(job->DriverMicros);
        } else if (job->State == "failed") {
            ++failed;
        } else {
            ++other;
        }
    }
    int unmatched = 0, receipts = 0;
    for (int r = 0; r < 4; ++r) {
        const auto& nums = numbers[fmt::format("k{}", r)];
        for (const auto& d : sims[r]->Documents()) {
            if (d.Type != 3) continue;
            ++receipts;
            if (!nums.count(d.Number)) ++unmatched;
        }
    }
    int faultsLeft = 0;
    for (auto& s : sims) {
        faultsLeft += static_cast<int>(s->Faults().size());
        s->Stop();
    }
    std::printf("jobs %d in %.1f s: %.1f jobs/s (%d clients, 4 registers: 2 TCP, 2 pty)\n", jobs, seconds,
                jobs / seconds, clients);
    std::printf("ended: %d done, %d failed, %d not ended, %d missing; receipts in the registers %d, without a job %d, "
                "numbers given twice %d\n",
                done, failed, other, missing, receipts, unmatched, duplicates);
    std::printf("link faults met %d of %d; client retries %d (%d timed out first), request errors %d\n",
                240 - faultsLeft, 240, retried.load(), timedOut.load(), errors.load());
    std::printf("frd overhead per job: p50 %.0f us, p99 %.0f us (driver call p50 %.0f us, p99 %.0f us)\n",
                Percentile(overhead, 0.5), Percentile(overhead, 0.99), Percentile(driver, 0.5), Percentile(driver, 0.99));
    std::printf("frd RSS: peak%s, at the end%s; exit status %d\n", hwm.c_str(), rss.c_str(),
                WIFEXITED(status) ? WEXITSTATUS(status) : -1);
    const bool ok = other == 0 && missing == 0 && unmatched == 0 && duplicates == 0 && receipts == done && errors == 0;
    std::printf("%s\n", ok ? "every job ended, each document once" : "INVARIANT BROKEN");
    return ok ? 0 : 1;
}
