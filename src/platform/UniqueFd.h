#pragma once
// Owns a file descriptor; closes it once.

#include <unistd.h>

#include <utility>

namespace fr {

class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : FFd(fd) {}
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    UniqueFd(UniqueFd&& o) noexcept : FFd(std::exchange(o.FFd, -1)) {}
    UniqueFd& operator=(UniqueFd&& o) noexcept {
        if (this != &o) Reset(std::exchange(o.FFd, -1));
        return *this;
    }
    ~UniqueFd() { Reset(); }

    int Get() const { return FFd; }
    bool Valid() const { return FFd >= 0; }
    int Release() { return std::exchange(FFd, -1); }
    // Closes the held descriptor; returns close()'s result (0 when none was held).
    int Reset(int fd = -1) {
        int rc = 0;
        if (FFd >= 0) rc = ::close(FFd);
        FFd = fd;
        return rc;
    }

private:
    int FFd = -1;
};

}  // namespace fr
