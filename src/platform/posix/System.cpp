#include "platform/System.h"

#include <dlfcn.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include <fmt/format.h>

#include "platform/Errors.h"

#ifndef FR_VERSION_TEXT
#define FR_VERSION_TEXT "1.0.0.1"
#endif

namespace fr {
namespace {

bool CanCreateIn(const std::string& parent) {
    const std::string dir = parent + kModuleBaseName;
    struct stat st {};
    if (::stat(dir.c_str(), &st) == 0) return S_ISDIR(st.st_mode) && ::access(dir.c_str(), W_OK) == 0;
    return ::access(parent.c_str(), W_OK) == 0;
}

}  // namespace

std::string CommonAppDataDir() {
    if (const char* env = std::getenv("FR_APPDATA_DIR"); env && *env) {
        std::string dir = env;
        if (dir.back() != '/') dir += '/';
        return dir;
    }
    if (CanCreateIn("/var/lib/")) return "/var/lib/";
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg) {
        std::string dir = xdg;
        if (dir.back() != '/') dir += '/';
        return dir;
    }
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : "/tmp") + "/.local/share/";
}

void ForceDirectories(const std::string& dir) {
    namespace fs = std::filesystem;
    fs::path p(dir);
    if (p.has_filename() == false) p = p.parent_path();
    std::vector<fs::path> missing;
    for (fs::path q = p; !q.empty() && !fs::exists(q); q = q.parent_path()) {
        missing.push_back(q);
        if (q == q.parent_path()) break;
    }
    for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
        if (::mkdir(it->c_str(), 0777) != 0 && errno != EEXIST)
            throw EOSError("Cannot create directory " + it->string(), errno);
    }
    // Only the requested folder is shared; parents keep the mode the umask gives them.
    // The umask must not narrow the shared folder's mode either.
    if (!missing.empty()) ::chmod(missing.front().c_str(), 01777);
}

std::string PrivateDirectory(const std::string& ADir, const std::string& AName) {
    const std::string dir = fmt::format("{}{}-{}", ADir, AName, ::geteuid());
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) throw EOSError("Cannot create directory " + dir, errno);
    struct stat st {};
    if (::lstat(dir.c_str(), &st) != 0) throw EOSError("Cannot read " + dir, errno);
    if (!S_ISDIR(st.st_mode) || st.st_uid != ::geteuid())
        throw EOSError(dir + " is not a folder of this user's own", EPERM);
    if ((st.st_mode & 077) != 0 && ::chmod(dir.c_str(), 0700) != 0) throw EOSError("Cannot restrict " + dir, errno);
    return dir + "/";
}

std::string ModuleFileName() {
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&ModuleFileName), &info) != 0 && info.dli_fname) {
        std::error_code ec;
        auto p = std::filesystem::canonical(info.dli_fname, ec);
        if (!ec) return p.string();
        return info.dli_fname;
    }
    return kModuleBaseName;
}

void SetEnvironmentValue(const std::string& Name, const std::string& Value) {
    ::setenv(Name.c_str(), Value.c_str(), 1);
}

void ClearEnvironmentValue(const std::string& Name) { ::unsetenv(Name.c_str()); }

std::string ModuleVersionText() { return FR_VERSION_TEXT; }

std::string HostExeName() {
    if (!detail::HostExeOverride().empty()) return detail::HostExeOverride();
    std::error_code ec;
    auto p = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : p.filename().string();
}

std::string OSVersionText() {
    struct utsname u {};
    if (::uname(&u) != 0) return "Linux";
    return fmt::format("Linux {} ({})", u.release, u.machine);
}

}  // namespace fr
