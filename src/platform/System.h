#pragma once
// Linux stand-ins for the Windows services the driver relies on: application data folder,
// module file name and version, host executable name, operating-system text.

#include <string>

namespace fr {

inline constexpr const char* kModuleBaseName = "fr_tarvikonline1c83";

// The all-users application data folder with a trailing '/':
// $FR_APPDATA_DIR when set, else /var/lib/ when the module's folder can be created there,
// else $XDG_DATA_HOME or ~/.local/share/.
std::string CommonAppDataDir();

// Creates Dir and its missing parents. A newly created Dir gets mode 01777 (anyone may create
// files, only the owner may delete them); parents get the umask's mode. Throws EOSError.
void ForceDirectories(const std::string& dir);

// Full path of the module (shared library or executable) that holds this code.
std::string ModuleFileName();
// "major.minor.patch.build" of the project.
std::string ModuleVersionText();
void ModuleVersion(int& major, int& minor, int& patch, int& build);

// Base name of the host executable; SetHostExeNameForTests overrides it ("" restores).
std::string HostExeName();
void SetHostExeNameForTests(const std::string& name);

// "Linux <release> (<machine>)".
std::string OSVersionText();

// File name without its directory / without directory and extension.
std::string ExtractFileName(const std::string& path);
std::string ExtractFileBaseName(const std::string& path);

}  // namespace fr
