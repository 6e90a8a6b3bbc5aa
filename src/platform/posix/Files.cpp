#include "platform/Files.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <random>

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

// A name nobody can guess for a temporary file in a folder every local user can write.
std::string RandomSuffix() {
    std::uint64_t value = 0;
    if (::getrandom(&value, sizeof value, 0) != static_cast<ssize_t>(sizeof value))
        value = std::random_device{}() * 0x9E3779B97F4A7C15ull ^ static_cast<std::uint64_t>(::getpid());
    static constexpr char kHex[] = "0123456789abcdef";
    std::string text(16, '0');
    for (char& c : text) {
        c = kHex[value & 0xF];
        value >>= 4;
    }
    return text;
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
    // Not through a link: in a folder every user can write, a link planted at the file's name
    // would hand the driver another file.
    UniqueFd fd(::open(Path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    if (!fd.Valid()) {
        if (errno == ENOENT) return false;
        if (errno == ELOOP) throw EOSError(Path + " is a symbolic link; it is not followed", errno);
        throw EOSError("Cannot open " + Path, errno);
    }
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0) throw EOSError("Cannot read " + Path, errno);
    if (!S_ISREG(st.st_mode)) throw EOSError(Path + " is not a regular file", EINVAL);
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
    // The rename below would replace a link rather than write through it; a link planted at the
    // name is still reported, not silently swept away.
    struct stat st {};
    if (::lstat(Path.c_str(), &st) == 0 && S_ISLNK(st.st_mode))
        throw EOSError(Path + " is a symbolic link; it is not replaced", ELOOP);
    // A new file under a name nobody can guess, created exclusively and never through a link:
    // anything already at the name (planted by another user of a shared folder) is not touched.
    std::string tmp;
    UniqueFd fd;
    for (int attempt = 0; !fd.Valid(); ++attempt) {
        tmp = Path + "." + RandomSuffix() + ".tmp";
        fd.Reset(::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
        if (!fd.Valid() && (errno != EEXIST || attempt == 16)) throw EOSError("Cannot create " + tmp, errno);
    }
    {
        int err = WriteAll(fd.Get(), Text);
        // On the disk before the rename: a host restarted after a power cut finds the old text
        // or the new one.
        if (err == 0 && ::fsync(fd.Get()) != 0) err = errno;
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
    // The rename on the disk as well: a record written before a command must survive a power cut.
    const auto slash = Path.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : Path.substr(0, slash + 1);
    UniqueFd dirFd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dirFd.Valid()) ::fsync(dirFd.Get());
}

bool RemoveFile(const std::string& Path) { return ::unlink(Path.c_str()) == 0; }

}  // namespace fr
