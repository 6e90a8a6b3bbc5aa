#pragma once
// Scripted register peers for link tests and benchmarks: a pseudo-terminal whose slave the driver
// opens as a COM port, and a loopback TCP listener. The peer side reads and writes byte by byte
// with poll deadlines; nothing here sleeps.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pty.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "platform/Bytes.h"
#include "platform/System.h"
#include "platform/UniqueFd.h"

namespace fr::testing {

using TClock = std::chrono::steady_clock;

inline constexpr int kPeerDeadlineMs = 10000;  // generous: only a broken driver ever reaches it

inline std::string Hex(const TBytes& b) {
    std::string s;
    char buf[4];
    for (auto c : b) {
        std::snprintf(buf, sizeof buf, "%02X ", c);
        s += buf;
    }
    return s;
}

inline TBytes Frame(const TBytes& message) {
    TBytes f{0x02, static_cast<std::uint8_t>(message.size())};
    std::uint8_t sum = f[1];
    for (auto b : message) {
        f.push_back(b);
        sum ^= b;
    }
    f.push_back(sum);
    return f;
}

// One end of a byte stream played by the test: reads with deadlines, remembers what went wrong.
class TPeer {
public:
    explicit TPeer(int fd = -1) : FFd(fd) {}
    void SetFd(int fd) { FFd = fd; }
    int Fd() const { return FFd; }

    // Reads up to n bytes, waiting at most TimeoutMs for all of them.
    TBytes Read(std::size_t n, int TimeoutMs = kPeerDeadlineMs) {
        TBytes got;
        const auto deadline = TClock::now() + std::chrono::milliseconds(TimeoutMs);
        while (got.size() < n) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - TClock::now());
            pollfd p{FFd, POLLIN, 0};
            const int rc = ::poll(&p, 1, static_cast<int>(std::max<long long>(left.count(), 0)));
            if (rc <= 0) break;
            std::uint8_t buf[512];
            const ssize_t r = ::read(FFd, buf, std::min(sizeof buf, n - got.size()));
            if (r <= 0) break;
            got.insert(got.end(), buf, buf + r);
        }
        return got;
    }

    // Reads exactly the expected bytes; a difference is recorded as a failure.
    bool Expect(const TBytes& expected, int TimeoutMs = kPeerDeadlineMs) {
        const TBytes got = Read(expected.size(), TimeoutMs);
        if (got == expected) return true;
        Failure("expected " + Hex(expected) + "got " + Hex(got));
        return false;
    }

    bool Send(const TBytes& bytes) {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t r = ::write(FFd, bytes.data() + done, bytes.size() - done);
            if (r <= 0) {
                Failure("write failed");
                return false;
            }
            done += static_cast<std::size_t>(r);
        }
        return true;
    }

    // True when nothing arrives within TimeoutMs (0: nothing is waiting right now).
    bool Quiet(int TimeoutMs = 0) {
        pollfd p{FFd, POLLIN, 0};
        return ::poll(&p, 1, TimeoutMs) == 0;
    }

    void Failure(const std::string& text) {
        std::lock_guard<std::mutex> lock(FLock);
        FFailures.push_back(text);
    }
    std::vector<std::string> Failures() {
        std::lock_guard<std::mutex> lock(FLock);
        return FFailures;
    }

private:
    int FFd;
    std::mutex FLock;
    std::vector<std::string> FFailures;
};

// A pseudo-terminal: the driver opens the slave through the link COM<n> in a temporary data
// folder; the test plays the register on the master.
class TPtyLink {
public:
    explicit TPtyLink(int portNumber = 7) : FPortNumber(portNumber) {
        int master = -1, slave = -1;
        char name[128] = {};
        if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) return;
        FMaster.Reset(master);
        FSlave.Reset(slave);  // held open so the master never sees a hang-up between opens
        FSlavePath = name;
        char tmpl[] = "/tmp/fr_link_XXXXXX";
        if (!::mkdtemp(tmpl)) return;
        FDataDir = tmpl;
        ::setenv("FR_APPDATA_DIR", FDataDir.c_str(), 1);
        const std::string dir = FDataDir + "/" + kModuleBaseName;
        ::mkdir(dir.c_str(), 0777);
        FLinkPath = dir + "/COM" + std::to_string(portNumber);
        if (::symlink(FSlavePath.c_str(), FLinkPath.c_str()) != 0) FLinkPath.clear();
    }
    ~TPtyLink() {
        ::unsetenv("FR_APPDATA_DIR");
        std::error_code ec;
        if (!FDataDir.empty()) std::filesystem::remove_all(FDataDir, ec);
    }
    TPtyLink(const TPtyLink&) = delete;
    TPtyLink& operator=(const TPtyLink&) = delete;

    bool Ready() const { return FMaster.Valid() && !FLinkPath.empty(); }
    int PortNumber() const { return FPortNumber; }
    int Master() const { return FMaster.Get(); }
    int Slave() const { return FSlave.Get(); }
    const std::string& SlavePath() const { return FSlavePath; }
    const std::string& LinkPath() const { return FLinkPath; }
    const std::string& DataDir() const { return FDataDir; }
    void CloseMaster() { FMaster.Reset(); }

private:
    int FPortNumber;
    UniqueFd FMaster, FSlave;
    std::string FSlavePath, FDataDir, FLinkPath;
};

// A loopback listener on a free port.
class TTcpListener {
public:
    explicit TTcpListener(int backlog = 4) {
        FFd.Reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (::bind(FFd.Get(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
            ::listen(FFd.Get(), backlog) != 0 ||
            ::getsockname(FFd.Get(), reinterpret_cast<sockaddr*>(&a), &len) != 0) {
            FFd.Reset();
            return;
        }
        FPort = ntohs(a.sin_port);
    }
    bool Ready() const { return FFd.Valid(); }
    int Port() const { return FPort; }
    int Fd() const { return FFd.Get(); }

    // Accepts one connection within the deadline (invalid when none came).
    UniqueFd Accept(int TimeoutMs = kPeerDeadlineMs) {
        pollfd p{FFd.Get(), POLLIN, 0};
        if (::poll(&p, 1, TimeoutMs) <= 0) return UniqueFd();
        UniqueFd c(::accept4(FFd.Get(), nullptr, nullptr, SOCK_CLOEXEC));
        const int one = 1;
        if (c.Valid()) ::setsockopt(c.Get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        return c;
    }

private:
    UniqueFd FFd;
    int FPort = 0;
};

}  // namespace fr::testing
