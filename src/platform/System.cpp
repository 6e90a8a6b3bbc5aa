#include "platform/System.h"

#include <cstdio>

namespace fr {

std::string& detail::HostExeOverride() {
    static std::string name;
    return name;
}

void ModuleVersion(int& major, int& minor, int& patch, int& build) {
    major = minor = patch = build = 0;
    std::sscanf(ModuleVersionText().c_str(), "%d.%d.%d.%d", &major, &minor, &patch, &build);
}

void SetHostExeNameForTests(const std::string& name) { detail::HostExeOverride() = name; }

std::string ExtractFileName(const std::string& path) {
    const auto pos = path.find_last_of("/\\");
    return pos == std::string::npos ? path : path.substr(pos + 1);
}

std::string ExtractFileBaseName(const std::string& path) {
    std::string name = ExtractFileName(path);
    const auto dot = name.rfind('.');
    return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

}  // namespace fr
