#pragma once
// The command line's actions, callable from tests.

#include <functional>
#include <ostream>
#include <string>

#include "Config.h"

namespace frd {

// Blocks SIGINT and SIGTERM in this thread and the threads it starts afterwards: the service
// takes them on a thread of its own. Call before any thread is started.
void BlockStopSignals();

// Serves AConfig until SIGINT/SIGTERM. AReady runs once the port is bound (the demo prints its
// URL there). Exit codes: 0 after a signal, 2 for a port in use, 1 for a journal that cannot be
// opened.
int RunService(TConfig AConfig, std::ostream& AErr, const std::function<void(const TConfig&)>& AReady = {});

// "url http://HOST:PORT/" of the bound address.
std::string UrlOf(const TConfig& AConfig);

// --check-config: one line per fault on AOut; 0 or 2.
int CheckConfigFile(const std::string& AFile, std::ostream& AOut);

// --demo: one simulated register "demo", a temporary journal, a random token.
int RunDemo(const std::string& AListen, std::ostream& AOut, std::ostream& AErr);

}  // namespace frd
