#include "ScriptRunner.h"

#include <fstream>
#include <iterator>
#include <limits>
#include <sstream>

#include <fmt/format.h>

#include "framework/ErrorCodes.h"
#include "platform/Encoding.h"

namespace frcli {
namespace {

using nlohmann::json;
using nlohmann::ordered_json;

std::string ReadTextFile(const std::string& APath) {
    std::ifstream in(APath, std::ios::binary);
    if (!in) throw EScriptError(fmt::format("cannot read the file \"{}\"", APath));
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) throw EScriptError(fmt::format("cannot read the file \"{}\"", APath));
    return text.str();
}

std::string Where(std::size_t AStep) { return fmt::format("step {}", AStep + 1); }

}  // namespace

fr::TVariant JsonToVariant(const json& AValue) {
    switch (AValue.type()) {
        case json::value_t::null: return fr::TVariant();
        case json::value_t::boolean: return fr::TVariant(AValue.get<bool>());
        case json::value_t::number_integer: {
            const auto v = AValue.get<std::int64_t>();
            if (v >= std::numeric_limits<std::int32_t>::min() && v <= std::numeric_limits<std::int32_t>::max())
                return fr::TVariant(static_cast<std::int32_t>(v));
            return fr::TVariant(static_cast<double>(v));
        }
        case json::value_t::number_unsigned: {
            const auto v = AValue.get<std::uint64_t>();
            if (v <= static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max()))
                return fr::TVariant(static_cast<std::int32_t>(v));
            return fr::TVariant(static_cast<double>(v));
        }
        case json::value_t::number_float: return fr::TVariant(AValue.get<double>());
        case json::value_t::string: return fr::TVariant(AValue.get<std::string>());
        case json::value_t::object:
            if (AValue.size() == 1 && AValue.contains("file") && AValue["file"].is_string())
                return fr::TVariant(ReadTextFile(AValue["file"].get<std::string>()));
            break;
        default: break;
    }
    throw EScriptError("an argument must be null, a Boolean, a number, a string or {\"file\": PATH}, not " +
                       AValue.dump());
}

ordered_json VariantToJson(const fr::TVariant& AValue) {
    switch (AValue.VarType()) {
        case fr::varEmpty:
        case fr::varNull:
        case fr::varObject: return nullptr;
        case fr::varBoolean: return AValue.AsBool();
        case fr::varSmallint:
        case fr::varInteger:
        case fr::varByte: return AValue.AsInt();
        case fr::varSingle:
        case fr::varDouble:
        case fr::varCurrency: return AValue.AsDouble();
        case fr::varDate:
        case fr::varUString:
        case fr::varString: return AValue.AsString();
        case fr::varArray: {
            ordered_json items = ordered_json::array();
            for (const auto& item : AValue.AsArray()) items.push_back(VariantToJson(item));
            return items;
        }
    }
    return nullptr;
}

std::vector<TStep> ParseScript(const json& AScript) {
    if (!AScript.is_array()) throw EScriptError("the script must be a JSON array of steps");
    std::vector<TStep> steps;
    for (std::size_t i = 0; i < AScript.size(); ++i) {
        const json& s = AScript[i];
        try {
            if (!s.is_object()) throw EScriptError("a step must be an object");
            TStep step;
            if (s.contains("call")) {
                if (!s["call"].is_string()) throw EScriptError("\"call\" must be a method name");
                for (const auto& [key, value] : s.items())
                    if (key != "call" && key != "args") throw EScriptError("unknown key \"" + key + "\"");
                step.Kind = TStep::skCall;
                step.Name = s["call"].get<std::string>();
                if (s.contains("args")) {
                    if (!s["args"].is_array()) throw EScriptError("\"args\" must be an array");
                    for (const auto& a : s["args"]) step.Args.push_back(JsonToVariant(a));
                }
            } else if (s.contains("property")) {
                if (!s["property"].is_string()) throw EScriptError("\"property\" must be a property name");
                for (const auto& [key, value] : s.items())
                    if (key != "property" && key != "value") throw EScriptError("unknown key \"" + key + "\"");
                step.Name = s["property"].get<std::string>();
                if (s.contains("value")) {
                    step.Kind = TStep::skSetProperty;
                    step.Value = JsonToVariant(s["value"]);
                } else {
                    step.Kind = TStep::skGetProperty;
                }
            } else {
                throw EScriptError("a step needs \"call\" or \"property\"");
            }
            steps.push_back(std::move(step));
        } catch (const EScriptError& e) {
            throw EScriptError(Where(i) + ": " + e.what());
        }
    }
    return steps;
}

std::vector<TStep> LoadScript(const std::string& APath, std::istream& AStdin) {
    std::string text;
    if (APath == "-")
        text.assign(std::istreambuf_iterator<char>(AStdin), std::istreambuf_iterator<char>());
    else
        text = ReadTextFile(APath);
    json script;
    try {
        script = json::parse(text);
    } catch (const json::exception& e) {
        throw EScriptError(fmt::format("the script is not JSON: {}", e.what()));
    }
    return ParseScript(script);
}

ordered_json RunStep(IHostSession& ASession, const TStep& AStep) {
    ordered_json line;
    const std::u16string name = fr::Utf8ToUtf16(AStep.Name);
    if (AStep.Kind == TStep::skCall) {
        const std::int32_t num = ASession.FindMethod(name);
        fr::TVariant ret;
        fr::TParams args = AStep.Args;
        const fr::HRESULT hr = ASession.CallAsFunc(num, ret, args);
        line["call"] = AStep.Name;
        line["found"] = num >= 0;
        line["hresult"] = hr;
        line["return"] = VariantToJson(ret);
        line["args"] = VariantToJson(fr::TVariant::Array(args));
        line["code"] = ASession.LastResultCode();
        line["description"] = ASession.LastResultDescription();
    } else {
        const std::int32_t num = ASession.FindProp(name);
        fr::TVariant value;
        if (num >= 0) {
            if (AStep.Kind == TStep::skSetProperty) ASession.SetPropVal(num, AStep.Value);
            ASession.GetPropVal(num, value);
        }
        line["property"] = AStep.Name;
        line["found"] = num >= 0;
        line["value"] = VariantToJson(value);
    }
    return line;
}

int RunScript(IHostSession& ASession, const std::vector<TStep>& ASteps, std::ostream& AOut, std::ostream& AErr) {
    try {
        ASession.Init();
    } catch (const std::exception& e) {
        AErr << "frcli: the add-in object could not be started: " << e.what() << '\n';
        return 1;
    }
    for (std::size_t i = 0; i < ASteps.size(); ++i) {
        ordered_json line;
        try {
            line = RunStep(ASession, ASteps[i]);
        } catch (const std::exception& e) {
            // The add-in object answers every call itself; this is a fault of the session.
            AErr << "frcli: " << Where(i) << ": " << e.what() << '\n';
            line = ordered_json();
            if (ASteps[i].Kind == TStep::skCall) {
                line["call"] = ASteps[i].Name;
                line["found"] = false;
                line["hresult"] = fr::E_FAIL;
                line["return"] = nullptr;
                line["args"] = VariantToJson(fr::TVariant::Array(ASteps[i].Args));
                line["code"] = fr::errUnknown;
                line["description"] = e.what();
            } else {
                line["property"] = ASteps[i].Name;
                line["found"] = false;
                line["value"] = nullptr;
            }
        }
        AOut << line.dump(-1, ' ', false, ordered_json::error_handler_t::replace) << '\n';
        AOut.flush();
    }
    ASession.Done();
    return 0;
}

}  // namespace frcli
