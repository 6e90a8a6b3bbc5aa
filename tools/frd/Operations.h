#pragma once
// The host methods a job may call: where each JSON param goes in the method's parameter array,
// which array entries come back as outputs, and what kind of job it is.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "framework/Variant.h"

namespace frd {

enum class TParamKind { Bool, Text, Number, Int };

struct TParamSpec {
    const char* Name;
    int Index;
    TParamKind Kind;
    bool Required = true;
};

struct TOutputSpec {
    const char* Name;
    int Index;
};

struct TOperation {
    const char* Name;
    int ParamsCount;
    // Makes a fiscal document: the driver may leave its outcome unknown.
    bool Fiscal;
    // Makes a document of any kind: the driver records an intent for it, and it waits while an
    // earlier document is in doubt.
    bool Document;
    std::vector<TParamSpec> Params;
    std::vector<TOutputSpec> Outputs;
};

// nullptr for a name no job may call.
const TOperation* FindOperation(std::string_view AName);
const std::vector<TOperation>& Operations();

// Checks AParams against the operation: an object, every required name present with its kind, no
// other name. Empty when valid, else the fault.
std::string CheckParams(const TOperation& AOperation, const nlohmann::json& AParams);

// The host's parameter array for AParams (checked before).
fr::TParams MakeHostParams(const TOperation& AOperation, const nlohmann::json& AParams);

// The outputs read back from the parameter array; numbers that are whole become integers.
nlohmann::json ReadOutputs(const TOperation& AOperation, const fr::TParams& AHostParams);

// A variant as JSON (strings UTF-8, whole numbers as integers).
nlohmann::json VariantJson(const fr::TVariant& AValue);

}  // namespace frd
