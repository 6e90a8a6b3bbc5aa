#pragma once
// The main job: a whole working day of the register, played as the platform plays it.

#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "HostSession.h"

namespace frcli {

// Starts the register simulator in this process on a loopback port and drives the add-in
// object through a day: description, parameters, Open, registration of the FN when the register
// is not yet fiscal, shift, sale, refund, text document, cash in, X report, shift close,
// registration data, Close. ASettings go through "SetParameter" after the demo's own (the
// simulator's address), before Open. Prints every call's outcome, then the simulated paper tape.
// Returns 0 when the day ran, whatever the calls answered (as a script does); 1 when the
// simulator or the add-in object could not be started.
int RunDemo(IHostSession& ASession, std::ostream& AOut, std::ostream& AErr,
            const std::vector<std::pair<std::string, fr::TVariant>>& ASettings = {});

}  // namespace frcli
