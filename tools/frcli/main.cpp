// frcli: plays the host platform for the driver.
#include <cstdio>
#include <exception>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "Commands.h"
#include "Demo.h"
#include "HostSession.h"
#include "NativeSession.h"
#include "Ports.h"
#include "ScriptRunner.h"
#include "platform/System.h"

int main(int argc, char** argv) {
    CLI::App app{"frcli: plays the 1C:Enterprise host for the fiscal register driver"};
    std::string hostExe;
    app.add_option("--host-exe", hostExe, "host executable name used for platform detection (1cv7.exe: 7.7 host)");
    std::string library;
    app.add_option("--library", library,
                   "load the add-in library at PATH through the platform's binary interface instead of "
                   "linking the add-in object");
    app.require_subcommand(1);

    auto* describe = app.add_subcommand("describe", "create the driver and print its description");
    auto* methods = app.add_subcommand("methods", "list the methods: number, name, other name, parameter count");
    auto* call = app.add_subcommand("call", "call one method by name and print the outcome");
    std::string method;
    std::vector<std::string> args;
    call->add_option("METHOD", method, "method name, either language, any case")->required();
    call->add_option("ARG", args, "arguments: JSON values (42, true, null, \"text\"), plain text, or @FILE");
    auto* script = app.add_subcommand("script", "run a JSON script of calls, one JSON line per step");
    std::string scriptPath;
    script->add_option("FILE", scriptPath, "the script; - reads standard input")->required();

    auto* demo = app.add_subcommand("demo", "the main job: a whole day on the simulated register, with the tape");
    // Each call runs in a fresh driver: settings have to come with the call itself.
    std::vector<std::string> sets;
    const char* const setHelp =
        "NAME=VALUE: pass a setting through SetParameter before the call (repeatable; VALUE is read as an "
        "argument is, e.g. --set PortNumber=3 --set BaudRate=115200)";
    call->add_option("--set", sets, setHelp)->allow_extra_args(false);
    demo->add_option("--set", sets, std::string(setHelp) + "; applied after the simulator's address")
        ->allow_extra_args(false);

    auto* port = app.add_subcommand("port", "list the serial ports and COM<N> mappings, or map port N to DEVICE");
    int portNumber = 0;
    std::string portDevice;
    port->add_option("N", portNumber, "the \"PortNumber\" setting to map (1 to 128)");
    port->add_option("DEVICE", portDevice, "the serial device, e.g. /dev/ttyACM0 (its /dev/serial/by-id/ name is used)");
    app.footer(
        "A register on Linux: 'sudo frcli port 1 /dev/ttyACM0' makes port 1 reach it for every user, then\n"
        "'frcli call DeviceTest --set PortNumber=1' checks it. 'frcli call' and 'frcli demo' run in a fresh\n"
        "driver each time: give settings with --set NAME=VALUE (repeatable), not with a separate\n"
        "'frcli call SetParameter'. Set FR_APPDATA_DIR to keep the log and settings files out of the system folders.\n");

    CLI11_PARSE(app, argc, argv);
    if (!hostExe.empty()) fr::SetHostExeNameForTests(hostExe);
    if (port->parsed()) {
        if (portDevice.empty() && portNumber == 0) return frcli::ListPorts(std::cout);
        if (portDevice.empty()) {
            std::cerr << "frcli port: give N and DEVICE, or neither to list\n";
            return 2;
        }
        return frcli::MapPort(portNumber, portDevice, std::cout, std::cerr);
    }
    std::vector<std::pair<std::string, fr::TVariant>> settings;
    if (std::string error; !frcli::ParseSettings(sets, settings, error)) {
        std::cerr << "frcli: " << error << '\n';
        return 2;
    }

    std::vector<frcli::TStep> steps;
    if (script->parsed()) {
        try {
            steps = frcli::LoadScript(scriptPath, std::cin);
        } catch (const std::exception& e) {
            std::cerr << "frcli: " << e.what() << '\n';
            return 2;
        }
    }
    try {
        std::unique_ptr<frcli::IHostSession> owned;
        if (library.empty()) owned = std::make_unique<frcli::TDirectSession>();
        else owned = std::make_unique<frcli::TLibrarySession>(library);
        frcli::IHostSession& session = *owned;
        if (describe->parsed()) return frcli::Describe(session, std::cout);
        if (methods->parsed()) return frcli::ListMethods(session, std::cout);
        if (demo->parsed()) return frcli::RunDemo(session, std::cout, std::cerr, settings);
        if (call->parsed()) return frcli::CallMethod(session, method, args, std::cout, std::cerr, settings);
        return frcli::RunScript(session, steps, std::cout, std::cerr);
    } catch (const std::exception& e) {
        std::cerr << "frcli: " << e.what() << '\n';
        return 1;
    }
}
