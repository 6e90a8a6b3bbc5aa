#pragma once
// frcli's machine interface: a JSON script of host calls and property accesses, run on one
// add-in object, answered with one JSON line per step.
//
// Steps:  {"call": "METHOD", "args": [ARG, ...]}   calls the method as a function
//         {"property": "NAME"}                    reads a property
//         {"property": "NAME", "value": V}        writes it (the line shows the value read back)
// ARG:    null empty, true/false Boolean, an integer that fits 32 bits a 32-bit integer, any
//         other number a double, a string a string, {"file": "PATH"} the UTF-8 text of the file.

#include <istream>
#include <ostream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "HostSession.h"

namespace frcli {

// A script that cannot be read or does not have the form above.
class EScriptError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct TStep {
    enum TKind { skCall, skGetProperty, skSetProperty } Kind = skCall;
    std::string Name;
    fr::TParams Args;
    fr::TVariant Value;
};

// Host value from a script argument (a {"file": PATH} is read here; relative paths start from
// the current folder). Throws EScriptError.
fr::TVariant JsonToVariant(const nlohmann::json& AValue);
// Script output form of a host value: empty and null as null, numbers, Booleans, UTF-8 strings,
// arrays; a date as its text, an object reference as null.
nlohmann::ordered_json VariantToJson(const fr::TVariant& AValue);

// Parses and checks every step (reading the files arguments name) before anything runs.
std::vector<TStep> ParseScript(const nlohmann::json& AScript);
// The script text of APath ("-": standard input). Throws EScriptError.
std::vector<TStep> LoadScript(const std::string& APath, std::istream& AStdin);

// Init, every step in order with one line each on AOut, Done. Returns the exit status: 0 when the
// script ran, 1 when the add-in object could not be started. Diagnostics go to AErr.
int RunScript(IHostSession& ASession, const std::vector<TStep>& ASteps, std::ostream& AOut, std::ostream& AErr);

// One step's output object.
nlohmann::ordered_json RunStep(IHostSession& ASession, const TStep& AStep);

}  // namespace frcli
