#include "platform/StateFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <random>

#include "platform/UniqueFd.h"

namespace fr {
namespace {

constexpr std::size_t kMaxStateFile = 64 * 1024;

bool WriteAll(int AFd, const std::string& AText) {
    std::size_t done = 0;
    while (done < AText.size()) {
        const ssize_t n = ::write(AFd, AText.data() + done, AText.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

std::optional<std::string> ReadStateFile(const std::string& APath) {
    UniqueFd fd(::open(APath.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd.Valid()) return std::nullopt;
    std::string text;
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(fd.Get(), buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return std::nullopt;
        if (n == 0) return text;
        text.append(buf, static_cast<std::size_t>(n));
        if (text.size() > kMaxStateFile) return std::nullopt;
    }
}

bool WriteStateFile(const std::string& APath, const std::string& AText) {
    std::random_device random;
    for (int attempt = 0; attempt < 8; ++attempt) {
        const std::string tmp = APath + ".tmp" + std::to_string(random());
        UniqueFd fd(::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
        if (!fd.Valid()) {
            if (errno == EEXIST) continue;
            return false;
        }
        const bool ok = WriteAll(fd.Get(), AText) && ::fsync(fd.Get()) == 0 && fd.Reset() == 0 &&
                        ::rename(tmp.c_str(), APath.c_str()) == 0;
        if (!ok) ::unlink(tmp.c_str());
        return ok;
    }
    return false;
}

void RemoveStateFile(const std::string& APath) { ::unlink(APath.c_str()); }

}  // namespace fr
