// frcli call and demo: --set NAME=VALUE reaches the driver before the call, in the same driver.
#include <gtest/gtest.h>

#include <sstream>

#include "Commands.h"
#include "HostSession.h"
#include "platform/System.h"
#include "platform/TempDir.h"

namespace frcli {
namespace {

TEST(SettingsOption, EachSetGoesThroughSetParameterBeforeTheCall) {
    fr::test::TTempAppData data;
    fr::SetEnvironmentValue("FR_PORTMAP_DIR", data.Path() + "none/");
    struct TRow {
        const char* Name;
        std::vector<std::string> Sets;
        int Status;
        const char* Out;  // in standard output ("" for none)
        const char* Err;  // in standard error ("" for none)
    };
    const TRow rows[] = {
        {"a number reaches the call", {"PortNumber=250", "BaudRate=115200"}, 0,
         "Ошибка открытия порта /dev/ttyS249: No such file or directory", ""},
        {"text for a number is refused before the call", {"PortNumber=COM3"}, 1, "",
         "SetParameter PortNumber: Ошибка входных параметров команды; параметр PortNumber (Порт) принимает число"},
        {"not NAME=VALUE", {"PortNumber"}, 2, "", "--set takes NAME=VALUE, not PortNumber"},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.Name);
        std::vector<std::pair<std::string, fr::TVariant>> settings;
        std::string error;
        std::ostringstream out, err;
        int status = 2;
        if (ParseSettings(row.Sets, settings, error)) {
            TDirectSession session;
            status = CallMethod(session, "DeviceTest", {}, out, err, settings);
        } else {
            err << error;
        }
        EXPECT_EQ(status, row.Status);
        EXPECT_NE(out.str().find(row.Out), std::string::npos) << out.str();
        EXPECT_NE(err.str().find(row.Err), std::string::npos) << err.str();
    }
    fr::ClearEnvironmentValue("FR_PORTMAP_DIR");
}

}  // namespace
}  // namespace frcli
