#pragma once
// frcli's commands for people; each returns the exit status.

#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "HostSession.h"

namespace frcli {

// The driver's description through "GetDescription", the version and the table sizes.
int Describe(IHostSession& ASession, std::ostream& AOut);
// The method registry: number, name, other name, parameter count.
int ListMethods(IHostSession& ASession, std::ostream& AOut);
// --set NAME=VALUE options, each passed to "SetParameter" with VALUE read as a call argument
// is; false with the reason for the first that is not NAME=VALUE.
bool ParseSettings(const std::vector<std::string>& ASets, std::vector<std::pair<std::string, fr::TVariant>>& AOut,
                   std::string& AError);
// Passes each setting through "SetParameter" on an initialised session; false (with the driver's
// text on AErr) at the first it refuses.
bool ApplySettings(IHostSession& ASession, const std::vector<std::pair<std::string, fr::TVariant>>& ASettings,
                   std::ostream& AErr);

// One call by name, after the settings. Each ARG is read as a JSON value when it is one (42, 1.5, true, null,
// "text") and taken as plain text otherwise; @PATH is the text of a file. Missing parameters
// are passed as empty values, as out-parameters are.
int CallMethod(IHostSession& ASession, const std::string& AMethod, const std::vector<std::string>& AArgs,
               std::ostream& AOut, std::ostream& AErr,
               const std::vector<std::pair<std::string, fr::TVariant>>& ASettings = {});

}  // namespace frcli
