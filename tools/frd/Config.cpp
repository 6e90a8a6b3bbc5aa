#include "Config.h"

#include <sys/stat.h>

#include <fstream>
#include <regex>
#include <sstream>

#include <fmt/format.h>

#include "driver/Driver.h"
#include "framework/BaseDriver.h"
#include "platform/System.h"

namespace frd {
namespace {

using json = nlohmann::json;

bool AllOf(const std::string& AText, std::size_t AMax, bool (*AOk)(char)) {
    if (AText.empty() || AText.size() > AMax) return false;
    for (char c : AText)
        if (!AOk(c)) return false;
    return true;
}

bool Alnum(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'); }

fr::TVariant SettingVariant(const json& AValue) {
    if (AValue.is_boolean()) return fr::TVariant(AValue.get<bool>());
    if (AValue.is_number_integer()) {
        const auto v = AValue.get<std::int64_t>();
        if (v >= INT32_MIN && v <= INT32_MAX) return fr::TVariant(static_cast<std::int32_t>(v));
        return fr::TVariant(static_cast<double>(v));
    }
    if (AValue.is_number()) return fr::TVariant(AValue.get<double>());
    if (AValue.is_string()) return fr::TVariant(AValue.get<std::string>());
    return fr::TVariant();
}

std::string ReadToken(const std::string& AFile, std::vector<std::string>& AFaults) {
    struct stat st {};
    if (::stat(AFile.c_str(), &st) != 0) {
        AFaults.push_back(fmt::format("token_file {}: cannot be read", AFile));
        return {};
    }
    if (st.st_mode & (S_IRWXG | S_IRWXO)) {
        AFaults.push_back(fmt::format("token_file {}: others may read it (mode {:o}); chmod 600 it", AFile,
                                      st.st_mode & 0777));
        return {};
    }
    std::ifstream in(AFile);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
    if (line.empty()) AFaults.push_back(fmt::format("token_file {}: the first line is empty", AFile));
    return line;
}

}  // namespace

bool IsValidRegisterId(const std::string& AId) {
    return AllOf(AId, 32, [](char c) { return Alnum(c) || c == '_' || c == '-'; });
}

bool IsValidJobId(const std::string& AId) {
    return AllOf(AId, 64, [](char c) { return Alnum(c) || c == '.' || c == '_' || c == ':' || c == '-'; });
}

bool IsLoopback(const std::string& AHost) {
    return AHost == "localhost" || AHost == "::1" || AHost.rfind("127.", 0) == 0;
}

bool ParseListen(const std::string& AText, std::string& AHost, int& APort) {
    static const std::regex kForm(R"(^(\[[0-9A-Fa-f:.]+\]|[A-Za-z0-9.-]+):([0-9]{1,5})$)");
    std::smatch m;
    if (!std::regex_match(AText, m, kForm)) return false;
    AHost = m[1].str();
    if (AHost.front() == '[') AHost = AHost.substr(1, AHost.size() - 2);
    APort = std::stoi(m[2].str());
    return APort <= 65535;
}

std::string CheckSetting(const std::string& AName, const json& AValue, std::string* AId) {
    // One driver, made once, only to ask: its settings list is what SetParameter and the property
    // interface take (a property's second name too).
    static const auto driver = fr::TBaseDriver::Create<fr::TDriver>();
    static std::mutex lock;
    std::lock_guard<std::mutex> g(lock);
    const int num = driver->GetPropNum(std::string_view(AName == "ConnectPwd" ? "ConnectPassword" : AName));
    if (num < 0) return fmt::format("no such setting \"{}\"", AName);
    const std::string id = driver->GetProperty(num).ID;
    const fr::TVariant saved = driver->GetProperty(num).Value;
    if (!AValue.is_primitive() || AValue.is_null() || !driver->SetSettingValue(id, SettingVariant(AValue), false))
        return fmt::format("setting \"{}\" does not take {}", AName, AValue.dump());
    driver->SetSettingValue(id, saved, false);
    if (AId) *AId = id;
    return {};
}

std::string DefaultJournalPath() { return fr::CommonAppDataDir() + fr::kModuleBaseName + "/frd/journal.sqlite3"; }

TConfig ParseConfig(const std::string& AText, std::vector<std::string>& AFaults) {
    TConfig c;
    const json j = json::parse(AText, nullptr, false);
    if (j.is_discarded() || !j.is_object()) {
        AFaults.push_back("the config is not a JSON object");
        return c;
    }
    static const char* kKnown[] = {"listen", "token", "token_file", "journal", "allowed_origins", "queue_limit",
                                   "registers"};
    for (const auto& [key, value] : j.items()) {
        bool known = false;
        for (const char* k : kKnown) known = known || key == k;
        if (!known) AFaults.push_back(fmt::format("unknown key \"{}\"", key));
    }
    if (j.contains("listen")) {
        if (!j["listen"].is_string() || !ParseListen(j["listen"].get<std::string>(), c.Host, c.Port))
            AFaults.push_back("listen must be \"ADDR:PORT\"");
    }
    if (j.contains("token") && j.contains("token_file")) AFaults.push_back("give token or token_file, not both");
    if (j.contains("token")) {
        if (!j["token"].is_string() || j["token"].get<std::string>().empty()) AFaults.push_back("token must be a non-empty string");
        else c.Token = j["token"].get<std::string>();
    } else if (j.contains("token_file")) {
        if (!j["token_file"].is_string()) AFaults.push_back("token_file must be a string");
        else c.Token = ReadToken(j["token_file"].get<std::string>(), AFaults);
    }
    if (c.Token.empty() && !IsLoopback(c.Host))
        AFaults.push_back(fmt::format("listen {} is not a loopback address: a token is required", c.Host));
    c.Journal = DefaultJournalPath();
    if (j.contains("journal")) {
        if (!j["journal"].is_string() || j["journal"].get<std::string>().empty()) AFaults.push_back("journal must be a path");
        else c.Journal = j["journal"].get<std::string>();
    }
    if (j.contains("allowed_origins")) {
        const json& o = j["allowed_origins"];
        bool ok = o.is_array();
        if (ok)
            for (const auto& e : o) {
                if (!e.is_string()) ok = false;
                else c.AllowedOrigins.push_back(e.get<std::string>());
            }
        if (!ok) AFaults.push_back("allowed_origins must be an array of strings");
    }
    if (j.contains("queue_limit")) {
        if (!j["queue_limit"].is_number_integer() || j["queue_limit"].get<std::int64_t>() < 1 ||
            j["queue_limit"].get<std::int64_t>() > 100000)
            AFaults.push_back("queue_limit must be an integer from 1 to 100000");
        else c.QueueLimit = j["queue_limit"].get<int>();
    }
    if (!j.contains("registers") || !j["registers"].is_object() || j["registers"].empty()) {
        AFaults.push_back("registers must be an object with at least one register");
        return c;
    }
    for (const auto& [id, reg] : j["registers"].items()) {
        if (!IsValidRegisterId(id)) {
            AFaults.push_back(fmt::format("register id \"{}\": 1 to 32 of A-Z a-z 0-9 _ -", id));
            continue;
        }
        TRegisterConfig r;
        if (!reg.is_object() || (reg.contains("settings") && !reg["settings"].is_object()) ||
            (reg.is_object() && reg.size() != (reg.contains("settings") ? 1u : 0u))) {
            AFaults.push_back(fmt::format("register {}: must be {{\"settings\": {{...}}}}", id));
            continue;
        }
        if (reg.contains("settings"))
            for (const auto& [name, value] : reg["settings"].items()) {
                std::string settingId;
                const std::string fault = CheckSetting(name, value, &settingId);
                if (!fault.empty()) AFaults.push_back(fmt::format("register {}: {}", id, fault));
                r.Settings.emplace_back(settingId, value);
            }
        c.Registers[id] = std::move(r);
    }
    return c;
}

TConfig LoadConfig(const std::string& AFileName, std::vector<std::string>& AFaults) {
    std::ifstream in(AFileName, std::ios::binary);
    if (!in) {
        AFaults.push_back(fmt::format("{}: cannot be read", AFileName));
        return {};
    }
    std::stringstream text;
    text << in.rdbuf();
    return ParseConfig(text.str(), AFaults);
}

}  // namespace frd
