#include "Run.h"

#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <random>
#include <thread>

#include <fmt/format.h>

#include "Service.h"
#include "core/Simulator.h"
#include "platform/System.h"

namespace frd {

namespace {

sigset_t StopSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

}  // namespace

void BlockStopSignals() {
    const sigset_t set = StopSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

int RunService(TConfig AConfig, std::ostream& AErr, const std::function<void(const TConfig&)>& AReady) {
    BlockStopSignals();
    const sigset_t set = StopSignals();
    std::unique_ptr<TService> service;
    try {
        service = std::make_unique<TService>(std::move(AConfig));
        service->Bind();
    } catch (const EServiceError& e) {
        AErr << "frd: " << e.what() << std::endl;
        return 2;
    } catch (const std::exception& e) {
        AErr << "frd: " << e.what() << std::endl;
        return 1;
    }
    if (AReady) AReady(service->Config());
    std::thread signals([&] {
        int sig = 0;
        sigwait(&set, &sig);
        service->Stop();
    });
    service->Serve();
    // Serve ended without a signal: wake the signal thread with one of ours.
    if (signals.joinable()) {
        pthread_kill(signals.native_handle(), SIGTERM);
        signals.join();
    }
    service.reset();
    return 0;
}

std::string UrlOf(const TConfig& AConfig) {
    const std::string host = AConfig.Host.find(':') != std::string::npos ? "[" + AConfig.Host + "]" : AConfig.Host;
    return fmt::format("url http://{}:{}/", host, AConfig.Port);
}

int CheckConfigFile(const std::string& AFile, std::ostream& AOut) {
    std::vector<std::string> faults;
    LoadConfig(AFile, faults);
    for (const auto& f : faults) AOut << f << '\n';
    return faults.empty() ? 0 : 2;
}

int RunDemo(const std::string& AListen, std::ostream& AOut, std::ostream& AErr) {
    BlockStopSignals();
    TConfig config;
    if (!AListen.empty() && !ParseListen(AListen, config.Host, config.Port)) {
        AErr << "frd: --listen must be ADDR:PORT" << std::endl;
        return 2;
    }
    std::string dir = (std::filesystem::temp_directory_path() / "frd-demo-XXXXXX").string();
    if (!::mkdtemp(dir.data())) {
        AErr << "frd: cannot make a temporary folder" << std::endl;
        return 1;
    }
    // The driver's files (logs, open questions) stay in the demo's folder too.
    fr::SetEnvironmentValue("FR_APPDATA_DIR", dir + "/");
    std::random_device rd;
    for (int i = 0; i < 4; ++i) config.Token += fmt::format("{:08x}", rd());
    config.Journal = dir + "/journal.sqlite3";
    int rc = 0;
    {
        fr::sim::TSimulator sim;
        sim.SetFiscal(true);
        const std::uint16_t port = sim.StartTcp(0);
        config.Registers["demo"].Settings = {
            {"PortNumber", 9999}, {"IPAddress", "127.0.0.1"}, {"IPPort", static_cast<int>(port)}};
        rc = RunService(config, AErr, [&](const TConfig& c) {
            AOut << UrlOf(c) << "\ntoken " << c.Token << std::endl;
        });
        sim.Stop();
    }
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    return rc;
}

}  // namespace frd
