#include "Operations.h"

#include <cmath>

#include <fmt/format.h>

namespace frd {
namespace {

using K = TParamKind;
using json = nlohmann::json;

const TParamSpec kInput{"InputParameters", 1, K::Text};

std::vector<TOperation> MakeOperations() {
    const std::vector<TOutputSpec> receiptOut{
        {"CheckNumber", 3}, {"SessionNumber", 4}, {"FiscalSign", 5}, {"AddressSiteInspections", 6}};
    const std::vector<TOutputSpec> correctionOut{
        {"CheckNumber", 2}, {"SessionNumber", 3}, {"FiscalSign", 4}, {"AddressSiteInspections", 5}};
    const std::vector<TOutputSpec> shiftOut{{"OutputParameters", 2}, {"SessionNumber", 3}, {"DocumentNumber", 4}};
    return {
        {"ProcessCheck", 7, true, true,
         {{"Electronically", 1, K::Bool, false}, {"CheckPackage", 2, K::Text}}, receiptOut},
        {"ProcessCorrectionCheck", 6, true, true, {{"CheckCorrectionPackage", 1, K::Text}}, correctionOut},
        {"OpenShift", 5, true, true, {kInput}, shiftOut},
        {"CloseShift", 5, true, true, {kInput}, shiftOut},
        {"CashInOutcome", 3, true, true, {kInput, {"Amount", 2, K::Number}}, {}},
        {"PrintXReport", 2, false, true, {kInput}, {}},
        {"ReportCurrentStatusOfSettlements", 3, true, true, {kInput}, {{"OutputParameters", 2}}},
        {"PrintTextDocument", 2, false, true, {{"DocumentPackage", 1, K::Text}}, {}},
        {"OperationFN", 3, true, true, {{"OperationType", 1, K::Int}, {"ParametersFiscal", 2, K::Text}}, {}},
        {"GetCurrentStatus", 5, false, false, {},
         {{"CheckNumber", 1}, {"SessionNumber", 2}, {"SessionState", 3}, {"StatusParameters", 4}}},
        {"GetDataKKT", 2, false, false, {}, {{"TableParametersKKT", 1}}},
        {"OpenCashDrawer", 1, false, false, {}, {}},
        {"GetLineLength", 2, false, false, {}, {{"LineLength", 1}}},
        // The test opens and closes the connection by itself: the worker opens it again after.
        {"DeviceTest", 2, false, false, {}, {{"Description", 0}, {"DemoModeIsActivated", 1}}},
    };
}

bool OfKind(const json& AValue, TParamKind AKind) {
    switch (AKind) {
        case K::Bool: return AValue.is_boolean();
        case K::Text: return AValue.is_string();
        case K::Number: return AValue.is_number();
        case K::Int: return AValue.is_number_integer();
    }
    return false;
}

const char* KindName(TParamKind AKind) {
    switch (AKind) {
        case K::Bool: return "a Boolean";
        case K::Text: return "a string";
        case K::Number: return "a number";
        case K::Int: return "an integer";
    }
    return "";
}

}  // namespace

const std::vector<TOperation>& Operations() {
    static const std::vector<TOperation> kOperations = MakeOperations();
    return kOperations;
}

const TOperation* FindOperation(std::string_view AName) {
    for (const auto& op : Operations())
        if (AName == op.Name) return &op;
    return nullptr;
}

std::string CheckParams(const TOperation& AOperation, const json& AParams) {
    if (!AParams.is_object()) return "\"params\" must be an object";
    for (const auto& p : AOperation.Params) {
        const auto it = AParams.find(p.Name);
        if (it == AParams.end()) {
            if (p.Required) return fmt::format("\"params\" lacks \"{}\"", p.Name);
            continue;
        }
        if (!OfKind(*it, p.Kind)) return fmt::format("\"{}\" must be {}", p.Name, KindName(p.Kind));
    }
    for (const auto& [name, value] : AParams.items()) {
        bool known = false;
        for (const auto& p : AOperation.Params) known = known || name == p.Name;
        if (!known) return fmt::format("{} takes no parameter \"{}\"", AOperation.Name, name);
    }
    return {};
}

fr::TParams MakeHostParams(const TOperation& AOperation, const json& AParams) {
    fr::TParams params(static_cast<std::size_t>(AOperation.ParamsCount));
    // The device identifier, never read.
    if (std::string_view(AOperation.Name) != "DeviceTest") params[0] = fr::TVariant("");
    for (const auto& p : AOperation.Params) {
        const auto it = AParams.find(p.Name);
        fr::TVariant& v = params[static_cast<std::size_t>(p.Index)];
        if (it == AParams.end()) {
            if (p.Kind == K::Bool) v = fr::TVariant(false);
            continue;
        }
        switch (p.Kind) {
            case K::Bool: v = fr::TVariant(it->get<bool>()); break;
            case K::Text: v = fr::TVariant(it->get<std::string>()); break;
            case K::Number: v = fr::TVariant(it->get<double>()); break;
            case K::Int: v = fr::TVariant(static_cast<double>(it->get<std::int64_t>())); break;
        }
    }
    return params;
}

json VariantJson(const fr::TVariant& AValue) {
    switch (AValue.VarType()) {
        case fr::varBoolean: return AValue.AsBool();
        case fr::varSmallint:
        case fr::varInteger:
        case fr::varByte: return AValue.AsInt();
        case fr::varSingle:
        case fr::varDouble:
        case fr::varCurrency: {
            const double d = AValue.AsDouble();
            if (std::isfinite(d) && d == std::trunc(d) && std::fabs(d) < 9.0e15) return static_cast<std::int64_t>(d);
            return d;
        }
        case fr::varDate:
        case fr::varUString:
        case fr::varString: return AValue.AsString();
        default: return nullptr;
    }
}

json ReadOutputs(const TOperation& AOperation, const fr::TParams& AHostParams) {
    json out = json::object();
    for (const auto& o : AOperation.Outputs) {
        const auto i = static_cast<std::size_t>(o.Index);
        out[o.Name] = i < AHostParams.size() ? VariantJson(AHostParams[i]) : json();
    }
    return out;
}

}  // namespace frd
