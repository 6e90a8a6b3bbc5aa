// frd: the registers as an HTTP/JSON service (see docs/frd.md).
#include <iostream>
#include <string>

#include <CLI/CLI.hpp>

#include "Run.h"

int main(int argc, char** argv) {
    CLI::App app{"frd: the fiscal registers as an HTTP/JSON service with a durable job journal"};
    std::string config, check, listen;
    bool demo = false;
    auto* configOpt = app.add_option("--config", config, "serve the registers of this JSON config");
    auto* checkOpt = app.add_option("--check-config", check, "check a config: one line per fault, exit 0 or 2");
    auto* demoOpt = app.add_flag("--demo", demo, "one simulated register \"demo\", a temporary journal and token");
    app.add_option("--listen", listen, "with --demo: ADDR:PORT (default 127.0.0.1:8780)")->needs(demoOpt);
    configOpt->excludes(checkOpt)->excludes(demoOpt);
    checkOpt->excludes(demoOpt);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? 0 : 2;
    }
    if (!check.empty()) return frd::CheckConfigFile(check, std::cout);
    if (demo) return frd::RunDemo(listen, std::cout, std::cerr);
    if (config.empty()) {
        std::cerr << "frd: give --config FILE, --check-config FILE or --demo\n";
        return 2;
    }
    std::vector<std::string> faults;
    frd::TConfig c = frd::LoadConfig(config, faults);
    if (!faults.empty()) {
        std::cerr << "frd: " << config << ": " << faults.front() << '\n';
        return 2;
    }
    // The address actually bound (a port of 0 picks one), for scripts and the service's log.
    return frd::RunService(std::move(c), std::cerr, [](const frd::TConfig& AConfig) {
        std::cout << frd::UrlOf(AConfig) << std::endl;
    });
}
