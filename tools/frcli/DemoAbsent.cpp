// The demo on a build without the simulator (Windows): the simulator runs on Linux only.
#include "Demo.h"

namespace frcli {

int RunDemo(IHostSession& /*ASession*/, std::ostream& /*AOut*/, std::ostream& AErr,
            const std::vector<std::pair<std::string, fr::TVariant>>& /*ASettings*/) {
    AErr << "frcli demo: this build has no register simulator; run frsim on Linux and use a script\n";
    return 1;
}

}  // namespace frcli
