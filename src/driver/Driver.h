#pragma once
// The fiscal-register driver the host creates: its settings and parameter table. The device
// operations come in other files of this folder; until they do, they answer 1003.

#include <string>

#include "framework/BaseDriverECR.h"

namespace fr {

class TDriver : public TBaseDriverECR {
public:
    static constexpr const char* kClassName = "TDriver";

    explicit TDriver(TCreateKey AKey);

    // The embedded table with the default of "LogDir" set to the log folder under the data
    // folder (with a trailing '/').
    std::string GetParameters() override;
    // The parameter table calls the connection password "ConnectPwd"; a value the host passes
    // back under that name goes to "ConnectPassword" instead of being dropped.
    int CallSetParameter(TVariant& pvarRetValue, TParams& paParams) override;

protected:
    void InitSettings() override;
};

}  // namespace fr
