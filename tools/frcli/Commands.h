#pragma once
// frcli's commands for people; each returns the exit status.

#include <ostream>
#include <string>
#include <vector>

#include "HostSession.h"

namespace frcli {

// The driver's description through "GetDescription", the version and the table sizes.
int Describe(IHostSession& ASession, std::ostream& AOut);
// The method registry: number, name, other name, parameter count.
int ListMethods(IHostSession& ASession, std::ostream& AOut);
// One call by name. Each ARG is read as a JSON value when it is one (42, 1.5, true, null,
// "text") and taken as plain text otherwise; @PATH is the text of a file. Missing parameters
// are passed as empty values, as out-parameters are.
int CallMethod(IHostSession& ASession, const std::string& AMethod, const std::vector<std::string>& AArgs,
               std::ostream& AOut, std::ostream& AErr);

}  // namespace frcli
