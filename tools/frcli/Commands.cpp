#include "Commands.h"

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "ScriptRunner.h"
#include "framework/BaseDriver.h"
#include "platform/Encoding.h"

namespace frcli {
namespace {

fr::TVariant ArgToVariant(const std::string& AArg) {
    if (!AArg.empty() && AArg.front() == '@') return JsonToVariant(nlohmann::json{{"file", AArg.substr(1)}});
    const nlohmann::json value = nlohmann::json::parse(AArg, nullptr, false);
    if (!value.is_discarded() && !value.is_object() && !value.is_array()) return JsonToVariant(value);
    return fr::TVariant(AArg);
}

std::string Show(const fr::TVariant& AValue) {
    return VariantToJson(AValue).dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

}  // namespace

int Describe(IHostSession& ASession, std::ostream& AOut) {
    ASession.Init();
    fr::TParams params(7);
    fr::TVariant ret;
    ASession.CallAsFunc(ASession.FindMethod(u"GetDescription"), ret, params);
    static const char* const kNames[] = {"Name",           "Description",         "EquipmentType", "InterfaceRevision",
                                         "IntegrationLibrary", "MainDriverInstalled", "DownloadURL"};
    for (std::size_t i = 0; i < params.size(); ++i) AOut << kNames[i] << ": " << params[i].AsString() << '\n';
    AOut << "Version: " << fr::GetModuleVersionText() << '\n';
    AOut << "Methods: " << ASession.MethodCount() << '\n';
    ASession.Done();
    return ret.VarType() == fr::varBoolean && ret.AsBool() ? 0 : 1;
}

int ListMethods(IHostSession& ASession, std::ostream& AOut) {
    ASession.Init();
    const std::int32_t count = ASession.MethodCount();
    for (std::int32_t i = 0; i < count; ++i) {
        const TMethodInfo m = ASession.MethodInfo(i);
        AOut << fmt::format("{:>2}  {}  {}  {}\n", i, m.Name, m.Alias.empty() ? "-" : m.Alias, m.ParamsCount);
    }
    ASession.Done();
    return 0;
}

bool ParseSettings(const std::vector<std::string>& ASets, std::vector<std::pair<std::string, fr::TVariant>>& AOut,
                   std::string& AError) {
    for (const auto& s : ASets) {
        const auto eq = s.find('=');
        if (eq == std::string::npos || eq == 0) {
            AError = "--set takes NAME=VALUE, not " + s;
            return false;
        }
        AOut.emplace_back(s.substr(0, eq), ArgToVariant(s.substr(eq + 1)));
    }
    return true;
}

bool ApplySettings(IHostSession& ASession, const std::vector<std::pair<std::string, fr::TVariant>>& ASettings,
                   std::ostream& AErr) {
    const std::int32_t num = ASession.FindMethod(u"SetParameter");
    for (const auto& [name, value] : ASettings) {
        fr::TParams params{fr::TVariant(name), value};
        fr::TVariant ret;
        if (ASession.CallAsFunc(num, ret, params) != fr::S_OK || ret.VarType() != fr::varBoolean || !ret.AsBool()) {
            AErr << "frcli: SetParameter " << name << ": " << ASession.LastResultDescription() << '\n';
            return false;
        }
    }
    return true;
}

int CallMethod(IHostSession& ASession, const std::string& AMethod, const std::vector<std::string>& AArgs,
               std::ostream& AOut, std::ostream& AErr,
               const std::vector<std::pair<std::string, fr::TVariant>>& ASettings) {
    fr::TParams params;
    for (const auto& a : AArgs) params.push_back(ArgToVariant(a));
    ASession.Init();
    if (!ApplySettings(ASession, ASettings, AErr)) {
        ASession.Done();
        return 1;
    }
    const std::int32_t num = ASession.FindMethod(fr::Utf8ToUtf16(AMethod));
    if (num < 0) {
        AErr << "frcli: the driver has no method " << AMethod << '\n';
        ASession.Done();
        return 1;
    }
    const TMethodInfo info = ASession.MethodInfo(num);
    if (params.size() < static_cast<std::size_t>(info.ParamsCount)) params.resize(static_cast<std::size_t>(info.ParamsCount));
    fr::TVariant ret;
    const fr::HRESULT hr = ASession.CallAsFunc(num, ret, params);
    AOut << info.Name << ": return " << Show(ret) << ", hresult " << hr << '\n';
    for (std::size_t i = 0; i < params.size(); ++i) AOut << fmt::format("  [{}] {}\n", i, Show(params[i]));
    AOut << "code " << ASession.LastResultCode() << ": " << ASession.LastResultDescription() << '\n';
    ASession.Done();
    return hr == fr::S_OK ? 0 : 1;
}

}  // namespace frcli
