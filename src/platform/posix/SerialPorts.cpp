#include "platform/SerialPorts.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>

#include "platform/SerialDevice.h"
#include "platform/System.h"

namespace fr {
namespace {

namespace fs = std::filesystem;

std::string WithSlash(std::string Dir) {
    if (!Dir.empty() && Dir.back() != '/') Dir += '/';
    return Dir;
}

// The device a path leads to, or empty.
std::string Resolved(const std::string& Path) {
    std::error_code ec;
    const fs::path p = fs::canonical(Path, ec);
    return ec ? std::string() : p.string();
}

// COM<N> links in Dir by number.
void CollectLinks(const std::string& Dir, bool ASystemWide, std::map<int, TPortMapping>& AOut) {
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(Dir, ec)) {
        const std::string name = e.path().filename().string();
        if (name.size() < 4 || name.compare(0, 3, "COM") != 0) continue;
        if (!std::all_of(name.begin() + 3, name.end(), [](char c) { return c >= '0' && c <= '9'; })) continue;
        if (!e.is_symlink(ec)) continue;
        const int number = std::stoi(name.substr(3));
        if (AOut.count(number)) continue;
        AOut[number] = {number, e.path().string(), fs::read_symlink(e.path(), ec).string(), ASystemWide};
    }
}

std::string NameOfUser(uid_t AUid) {
    char buf[4096];
    passwd pw {};
    passwd* found = nullptr;
    if (::getpwuid_r(AUid, &pw, buf, sizeof buf, &found) == 0 && found && found->pw_name) return found->pw_name;
    return std::to_string(AUid);
}

std::string NameOfGroup(gid_t AGid) {
    char buf[4096];
    group gr {};
    group* found = nullptr;
    if (::getgrgid_r(AGid, &gr, buf, sizeof buf, &found) == 0 && found && found->gr_name) return found->gr_name;
    return std::to_string(AGid);
}

}  // namespace

std::vector<TPortMapping> PortMappings() {
    std::map<int, TPortMapping> found;
    CollectLinks(SystemPortMapDir(), true, found);
    CollectLinks(CommonAppDataDir() + kModuleBaseName + "/", false, found);
    std::vector<TPortMapping> out;
    for (auto& [n, m] : found) out.push_back(std::move(m));
    return out;
}

std::vector<TSerialPresence> SerialDevicesPresent(const std::string& DevDir, const std::string& ByIdDir) {
    std::vector<TSerialPresence> out;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(DevDir, ec)) {
        const std::string name = e.path().filename().string();
        if (name.rfind("ttyS", 0) != 0 && name.rfind("ttyUSB", 0) != 0 && name.rfind("ttyACM", 0) != 0) continue;
        const std::string device = WithSlash(DevDir) + name;
        std::string stable = StableSerialName(device, ByIdDir);
        out.push_back({device, stable == device ? std::string() : stable});
    }
    // ttyS2 before ttyS10: by prefix, then by number.
    std::sort(out.begin(), out.end(), [](const TSerialPresence& a, const TSerialPresence& b) {
        const auto split = [](const std::string& s) {
            const auto d = s.find_first_of("0123456789", s.rfind('/') + 1);
            return std::make_pair(s.substr(0, d), d == std::string::npos ? 0L : std::strtol(s.c_str() + d, nullptr, 10));
        };
        return split(a.Device) < split(b.Device);
    });
    return out;
}

std::string StableSerialName(const std::string& Device, const std::string& ByIdDir) {
    const std::string dir = WithSlash(ByIdDir);
    if (Device.rfind(dir, 0) == 0) return Device;
    const std::string target = Resolved(Device);
    if (target.empty()) return Device;
    std::error_code ec;
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir, ec))
        if (Resolved(e.path().string()) == target) names.push_back(e.path().string());
    if (names.empty()) return Device;
    std::sort(names.begin(), names.end());  // one device may have several interfaces' names
    return names.front();
}

std::string SerialAccessProblem(const std::string& Device) {
    if (::access(Device.c_str(), R_OK | W_OK) == 0) return {};
    const int err = errno;
    std::string text = Device + ": " + std::strerror(err);
    if (err == EACCES || err == EPERM) {
        struct stat st {};
        const std::string group = ::stat(Device.c_str(), &st) == 0 && st.st_gid != 0 ? NameOfGroup(st.st_gid) : "dialout";
        const std::string user = NameOfUser(::geteuid());
        text += ". Add the user to the group " + group + ": sudo usermod -aG " + group + " " + user +
                ", then log in again (the user the platform runs as needs the same)";
    }
    return text;
}

std::string SerialDeviceGroup(const std::string& Device) {
    struct stat st {};
    if (::stat(Device.c_str(), &st) != 0 || (st.st_mode & (S_IRGRP | S_IWGRP)) != (S_IRGRP | S_IWGRP)) return {};
    return NameOfGroup(st.st_gid);
}

bool MapSerialPort(int Number, const std::string& Target, std::string& Error) {
    const std::string dir = SystemPortMapDir();
    struct stat st {};
    if (::stat(dir.c_str(), &st) != 0) {
        if (::geteuid() != 0) {
            Error = "only root may create " + dir + " (run with sudo)";
            return false;
        }
        if (::mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST) {
            Error = dir + ": " + std::strerror(errno);
            return false;
        }
        ::chmod(dir.c_str(), 0755);  // whatever the umask: every user reads it, only root writes
    } else if (::geteuid() != 0 && st.st_uid != ::geteuid()) {
        Error = "only root or the owner of " + dir + " (" + NameOfUser(st.st_uid) + ") may change it (run with sudo)";
        return false;
    }
    // A new link under a temporary name, then renamed over the old one: never a moment without.
    const std::string link = dir + "COM" + std::to_string(Number);
    const std::string temp = link + ".new." + std::to_string(::getpid());
    ::unlink(temp.c_str());
    if (::symlink(Target.c_str(), temp.c_str()) != 0 || ::rename(temp.c_str(), link.c_str()) != 0) {
        Error = link + ": " + std::strerror(errno);
        ::unlink(temp.c_str());
        return false;
    }
    return true;
}

}  // namespace fr
