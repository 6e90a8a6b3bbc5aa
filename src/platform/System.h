#pragma once
// The system services the driver relies on: application data folder, module file name and
// version, host executable name, operating-system text. Each system has its own side
// (posix/, win/).

#include <string>

namespace fr {

inline constexpr const char* kModuleBaseName = "fr_tarvikonline1c83";

// The all-users application data folder with a trailing separator: $FR_APPDATA_DIR when set;
// else on Linux /var/lib/ when the module's folder can be created there, else $XDG_DATA_HOME or
// ~/.local/share/; on Windows the all-users application data folder (C:\ProgramData\).
std::string CommonAppDataDir();

// Creates Dir and its missing parents. A newly created Dir lets every local user create files in
// it and append to them (Linux: mode 01777, only the owner may delete; Windows: an entry for
// the local Users group with modify rights, inherited by the files); parents get the system's
// defaults. Throws EOSError.
void ForceDirectories(const std::string& dir);

// Full path of the module (shared library or executable) that holds this code.
// A folder of the current OS user's own named AName inside ADir (which must exist), with a trailing
// separator: on Linux "<AName>-<uid>", mode 0700, refused when it is a link or belongs to someone
// else, so another local user can neither read nor plant what is kept there. Throws EOSError.
std::string PrivateDirectory(const std::string& ADir, const std::string& AName);

std::string ModuleFileName();
// "major.minor.patch.build": on Windows from the module's version resource.
std::string ModuleVersionText();
void ModuleVersion(int& major, int& minor, int& patch, int& build);

// Base name of the host executable; SetHostExeNameForTests overrides it ("" restores).
std::string HostExeName();
void SetHostExeNameForTests(const std::string& name);

// "Linux <release> (<machine>)", "Windows <major>.<minor>.<build> (<machine>)".
std::string OSVersionText();

// Sets or removes a variable of this process's environment.
void SetEnvironmentValue(const std::string& Name, const std::string& Value);
void ClearEnvironmentValue(const std::string& Name);

// File name without its directory / without directory and extension.
std::string ExtractFileName(const std::string& path);
std::string ExtractFileBaseName(const std::string& path);

namespace detail {
std::string& HostExeOverride();
}

}  // namespace fr
