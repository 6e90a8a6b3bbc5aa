// frcli: plays the host platform for the driver.
#include <cstdio>
#include <exception>
#include <string>

#include <CLI/CLI.hpp>
#include <fmt/format.h>

#include "driver/Driver.h"
#include "platform/System.h"

namespace {

// Calls the driver's "GetDescription" the way the host does: by name, with seven out-parameters.
int Describe() {
    auto driver = fr::TBaseDriver::Create<fr::TDriver>();
    const int num = driver->GetMethodNum(std::u16string_view(u"GetDescription"));
    if (num < 0) {
        std::fputs("frcli: the driver has no method GetDescription\n", stderr);
        return 1;
    }
    fr::TVariant ret;
    fr::TParams params(static_cast<std::size_t>(driver->GetMethod(num).ParamsCount));
    driver->GetMethod(num).DriverMethod(ret, params);
    static const char* const kNames[] = {"Name",           "Description",         "EquipmentType", "InterfaceRevision",
                                         "IntegrationLibrary", "MainDriverInstalled", "DownloadURL"};
    for (std::size_t i = 0; i < params.size() && i < std::size(kNames); ++i)
        fmt::print("{}: {}\n", kNames[i], params[i].AsString());
    fmt::print("Version: {}\n", fr::GetModuleVersionText());
    fmt::print("Methods: {}\n", driver->MethsCount());
    fmt::print("Settings: {}\n", driver->SettingsCount());
    return ret.AsBool() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"frcli: plays the 1C:Enterprise host for the fiscal register driver"};
    std::string hostExe;
    app.add_option("--host-exe", hostExe, "host executable name used for platform detection (1cv7.exe: 7.7 host)");
    app.require_subcommand(1);
    auto* describe = app.add_subcommand("describe", "create the driver and print its description");
    CLI11_PARSE(app, argc, argv);
    try {
        if (!hostExe.empty()) fr::SetHostExeNameForTests(hostExe);
        if (describe->parsed()) return Describe();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "frcli: %s\n", e.what());
        return 1;
    }
    return 0;
}
