#include "platform/SharedFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/Errors.h"
#include "platform/UniqueFd.h"

namespace fr {
namespace {

constexpr int kFlags = O_WRONLY | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;

[[noreturn]] void Fail(const std::string& AWhat, const std::string& APath, int AErr) {
    if (AErr == ELOOP) throw EOSError(APath + " is a symbolic link and is not followed", AErr);
    throw EOSError(AWhat + " " + APath, AErr);
}

// An existing file is opened without O_CREAT: in a sticky shared folder the kernel may refuse
// O_CREAT on another user's file, which we may still append to. Only a missing file is created,
// exclusively, so a name planted meanwhile is never taken over.
UniqueFd OpenOrCreate(const std::string& APath) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        UniqueFd fd(::open(APath.c_str(), kFlags));
        if (fd.Valid()) return fd;
        if (errno != ENOENT) Fail("Cannot open", APath, errno);
        fd.Reset(::open(APath.c_str(), kFlags | O_CREAT | O_EXCL, 0666));
        if (fd.Valid()) {
            // The umask narrowed the mode; the file is ours, so widen it again.
            ::fchmod(fd.Get(), 0666);
            return fd;
        }
        if (errno != EEXIST) Fail("Cannot create", APath, errno);
    }
    Fail("Cannot open", APath, EAGAIN);
}

}  // namespace

void AppendToSharedFile(const std::string& APath, std::string_view ABytes) {
    UniqueFd file = OpenOrCreate(APath);
    const int fd = file.Get();
    struct stat st {};
    if (::fstat(fd, &st) != 0) Fail("Cannot examine", APath, errno);
    if (!S_ISREG(st.st_mode)) Fail("Not a regular file:", APath, EINVAL);
    // Opened non-blocking only so that a FIFO planted at the name cannot hang us.
    ::fcntl(fd, F_SETFL, O_APPEND);
    ::flock(fd, LOCK_EX);
    std::size_t done = 0;
    while (done < ABytes.size()) {
        const ssize_t n = ::write(fd, ABytes.data() + done, ABytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            Fail("Cannot write", APath, errno);
        }
        done += static_cast<std::size_t>(n);
    }
    if (file.Reset() != 0) Fail("Cannot write", APath, errno);
}

}  // namespace fr
