#include "platform/Files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/Errors.h"
#include "platform/UniqueFd.h"

namespace fr {
namespace {

// Writes all of Bytes; 0 or errno.
int WriteAll(int Fd, std::string_view Bytes) {
    std::size_t done = 0;
    while (done < Bytes.size()) {
        const ssize_t n = ::write(Fd, Bytes.data() + done, Bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        done += static_cast<std::size_t>(n);
    }
    return 0;
}

}  // namespace

bool PathExists(const std::string& Path) {
    struct stat st {};
    return ::stat(Path.c_str(), &st) == 0;
}

bool DirectoryExists(const std::string& Path) {
    struct stat st {};
    return ::stat(Path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsAbsolutePath(const std::string& Path) { return !Path.empty() && Path.front() == '/'; }

std::tm LocalTime(std::time_t Time) {
    std::tm tm{};
    ::localtime_r(&Time, &tm);
    return tm;
}

bool ReadWholeFile(const std::string& Path, std::string& Text) {
    UniqueFd fd(::open(Path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.Valid()) {
        if (errno == ENOENT) return false;
        throw EOSError("Cannot open " + Path, errno);
    }
    Text.clear();
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(fd.Get(), buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR) continue;
            throw EOSError("Cannot read " + Path, errno);
        }
        if (n == 0) break;
        Text.append(buf, static_cast<std::size_t>(n));
    }
    return true;
}

void ReplaceFileContents(const std::string& Path, std::string_view Text) {
    const std::string tmp = Path + ".tmp" + std::to_string(::getpid());
    {
        UniqueFd fd(::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
        if (!fd.Valid()) throw EOSError("Cannot create " + tmp, errno);
        int err = WriteAll(fd.Get(), Text);
        if (fd.Reset() != 0 && err == 0) err = errno;
        if (err != 0) {
            ::unlink(tmp.c_str());
            throw EOSError("Cannot write " + tmp, err);
        }
    }
    if (::rename(tmp.c_str(), Path.c_str()) != 0) {
        const int err = errno;
        ::unlink(tmp.c_str());
        throw EOSError("Cannot replace " + Path, err);
    }
}

}  // namespace fr
