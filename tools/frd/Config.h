#pragma once
// The service's configuration: read from JSON, checked whole (every fault, one line each).

#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace frd {

struct TRegisterConfig {
    // The setting's own name to its value, in the order given.
    std::vector<std::pair<std::string, nlohmann::json>> Settings;
};

struct TConfig {
    std::string Host = "127.0.0.1";
    int Port = 8780;
    std::string Token;  // empty: no authentication (loopback only)
    std::string Journal;
    std::vector<std::string> AllowedOrigins;
    int QueueLimit = 100;
    std::map<std::string, TRegisterConfig> Registers;
};

bool IsValidRegisterId(const std::string& AId);
bool IsValidJobId(const std::string& AId);
bool IsLoopback(const std::string& AHost);
// "ADDR:PORT" ("[::1]:PORT" too); false when it is not one.
bool ParseListen(const std::string& AText, std::string& AHost, int& APort);

// Reads the config from AText (AFileName for messages); the faults found go to AFaults, one line
// each; the config is usable only when AFaults stays empty. Reads the token file and checks that
// no one else may read it.
TConfig ParseConfig(const std::string& AText, std::vector<std::string>& AFaults);
TConfig LoadConfig(const std::string& AFileName, std::vector<std::string>& AFaults);

// The driver's settings: the names it takes and the kind of value each takes. Empty when valid;
// AId then gets the setting's own name (for a second name or the parameter table's "ConnectPwd").
std::string CheckSetting(const std::string& AName, const nlohmann::json& AValue, std::string* AId = nullptr);

// Default journal: frd/journal.sqlite3 in the driver's data folder.
std::string DefaultJournalPath();

}  // namespace frd
