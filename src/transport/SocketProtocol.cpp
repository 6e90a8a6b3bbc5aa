#include "transport/SocketProtocol.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "framework/ErrorCodes.h"
#include "transport/LinkExchange.h"
#include "transport/LinkFrame.h"
#include "transport/LinkTimings.h"

namespace fr {
namespace {

using TClock = std::chrono::steady_clock;

constexpr const char* kCaption = "TSocketProtocol";

constexpr int errSocketCreate = 600;
constexpr int errConnect = 601;
constexpr int errPortRange = 603;
constexpr int errAddress = 604;
constexpr int errSend = 605;
constexpr int errReceive = 606;

int MsLeft(TClock::time_point Deadline) {
    const auto left = Deadline - TClock::now();
    if (left <= TClock::duration::zero()) return 0;
    const auto us = std::chrono::duration_cast<std::chrono::microseconds>(left).count();
    return static_cast<int>(std::min<long long>((us + 999) / 1000, 1LL << 30));
}

TClock::time_point ReceiveDeadline() {
    return TClock::now() + std::chrono::milliseconds(LinkTimings().ReceiveTimeoutMs);
}

// Waits for Events until Deadline; false on time-out or a poll failure.
bool WaitFor(int Fd, short Events, TClock::time_point Deadline) {
    pollfd p{Fd, Events, 0};
    for (;;) {
        const int rc = ::poll(&p, 1, MsLeft(Deadline));
        if (rc > 0) return true;
        if (rc == 0 || errno != EINTR) return false;
    }
}

std::string Trim(const std::string& s) {
    const auto b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) return {};
    return s.substr(b, s.find_last_not_of(" \t\r\n") - b + 1);
}

}  // namespace

TCustomSocketProtocol::TCustomSocketProtocol() = default;

TCustomSocketProtocol::~TCustomSocketProtocol() { CloseConnection(); }

bool TCustomSocketProtocol::Connected() const { return FSocket.Valid(); }

int TCustomSocketProtocol::OpenConnection(const std::string& AIPAddress, int ATCPPort) {
    FIPAddress = AIPAddress;
    FTCPPort = ATCPPort;
    FSocket.Reset();
    FConnectionLost = false;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    if (::inet_pton(AF_INET, Trim(AIPAddress).c_str(), &addr.sin_addr) != 1) return errAddress;
    // A port out of range would otherwise be truncated to some other port.
    if (ATCPPort < 1 || ATCPPort > 65535) return errPortRange;
    addr.sin_port = htons(static_cast<std::uint16_t>(ATCPPort));

    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP));
    if (!fd.Valid()) return errSocketCreate;
    if (::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
        if (errno != EINPROGRESS) return errConnect;
        const auto deadline = TClock::now() + std::chrono::milliseconds(LinkTimings().ConnectTimeoutMs);
        if (!WaitFor(fd.Get(), POLLOUT, deadline)) return errConnect;
        int err = 0;
        socklen_t len = sizeof err;
        if (::getsockopt(fd.Get(), SOL_SOCKET, SO_ERROR, &err, &len) != 0 || err != 0) return errConnect;
    }
    // Each control byte must leave at once: Nagle's algorithm would hold an ENQ behind the
    // unacknowledged ACK before it.
    const int one = 1;
    ::setsockopt(fd.Get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    FSocket = std::move(fd);
    return errOK;
}

int TCustomSocketProtocol::CloseConnection() {
    if (!FSocket.Valid()) return 0;
    ::shutdown(FSocket.Get(), SHUT_RDWR);
    // The descriptor is gone even when close reports an error: never close it twice.
    return FSocket.Reset() == 0 ? 0 : -1;
}

bool TCustomSocketProtocol::SendBytes(const std::uint8_t* AData, std::size_t ASize) {
    const auto deadline = ReceiveDeadline();
    std::size_t done = 0;
    while (done < ASize) {
        const ssize_t n = ::send(FSocket.Get(), AData + done, ASize - done, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && errno == EAGAIN) {
            if (!WaitFor(FSocket.Get(), POLLOUT, deadline)) return false;
        } else {
            if (n < 0 && (errno == EPIPE || errno == ECONNRESET || errno == ENOTCONN)) FConnectionLost = true;
            return false;
        }
    }
    return true;
}

bool TCustomSocketProtocol::ReceiveByte(std::uint8_t& AByte) {
    return ReceiveByte(AByte, LinkTimings().ReceiveTimeoutMs);
}

bool TCustomSocketProtocol::ReceiveByte(std::uint8_t& AByte, int ATimeoutMs) {
    const auto deadline = TClock::now() + std::chrono::milliseconds(ATimeoutMs);
    for (;;) {
        if (!WaitFor(FSocket.Get(), POLLIN, deadline)) return false;
        std::uint8_t b = 0;
        const ssize_t n = ::recv(FSocket.Get(), &b, 1, MSG_DONTWAIT);
        if (n == 1) {
            AByte = b;
            return true;
        }
        if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
            FConnectionLost = true;
            return false;
        }
    }
}

bool TCustomSocketProtocol::ReceiveBytes(std::size_t ACount, TBytes& ABytes) {
    ABytes.assign(ACount, 0);
    const auto deadline = ReceiveDeadline();
    std::size_t got = 0;
    while (got < ACount) {
        if (!WaitFor(FSocket.Get(), POLLIN, deadline)) break;
        const ssize_t n = ::recv(FSocket.Get(), ABytes.data() + got, ACount - got, MSG_DONTWAIT);
        if (n > 0) {
            got += static_cast<std::size_t>(n);
        } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
            FConnectionLost = true;
            break;
        }
    }
    ABytes.resize(got);
    return got > 0 || ACount == 0;
}

TBytes TCustomSocketProtocol::DiscardPending(std::size_t AMaxBytes) {
    TBytes dropped;
    std::uint8_t buf[256];
    while (dropped.size() < AMaxBytes) {
        const std::size_t want = std::min(sizeof buf, AMaxBytes - dropped.size());
        const ssize_t n = ::recv(FSocket.Get(), buf, want, MSG_DONTWAIT);
        if (n > 0) {
            dropped.insert(dropped.end(), buf, buf + n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n == 0) FConnectionLost = true;
        return dropped;
    }
    return dropped;
}

void TCustomSocketProtocol::SkipByte() {
    std::uint8_t b = 0;
    ReceiveByte(b);
}

// The stream as the exchange sees it.
class TSocketProtocol::TLine : public TLinkLine {
public:
    explicit TLine(TSocketProtocol& AOwner) : FOwner(AOwner) {}
    const char* Caption() const override { return kCaption; }
    void DropStale() override {
        const auto max = static_cast<std::size_t>(std::max(1, LinkTimings().MaxStaleBytes));
        if (const TBytes stale = FOwner.DiscardPending(max); !stale.empty()) link::Trace(kCaption, "<- ", stale, false);
    }
    bool WriteControl(std::uint8_t AByte) override {
        const bool ok = FOwner.SendBytes(&AByte, 1);
        link::Trace(kCaption, "-> ", AByte, ok);
        return ok;
    }
    bool ReadControl(std::uint8_t& AByte, int ATimeoutMs) override {
        const bool got = FOwner.ReceiveByte(FLast, ATimeoutMs);
        // The frame an STX begins is traced whole.
        if (!got || FLast != link::STX) link::Trace(kCaption, "<- ", FLast, got);
        AByte = FLast;
        return got;
    }
    bool WriteFrame(const TBytes& AMessage) override {
        const bool ok = FOwner.SendBytes(link::BuildFrame(AMessage));
        link::Trace(kCaption, "-> ", AMessage, ok);
        return ok;
    }
    bool ReadFrameRest(TBytes& AFrame, int ATimeoutMs) override {
        std::uint8_t len = 0;
        if (!FOwner.ReceiveByte(len, ATimeoutMs)) return false;
        AFrame.push_back(len);
        // A stream may deliver the rest in several pieces: collect them all.
        TBytes rest;
        if (!FOwner.ReceiveBytes(std::size_t{len} + 1, rest)) return false;
        AFrame.insert(AFrame.end(), rest.begin(), rest.end());
        return true;
    }
    bool Lost() const override { return FOwner.FConnectionLost || !FOwner.FSocket.Valid(); }
    int HandshakeMs() const override { return LinkTimings().ReceiveTimeoutMs; }
    int EnqWriteFailure() const override { return errSend; }
    int SilentFailure() const override { return errReceive; }

private:
    TSocketProtocol& FOwner;
    std::uint8_t FLast = 0;
};

int TSocketProtocol::RunCommand(TBytes& AResponse, const TBytes& AConnectPwd, const TBytes& ACmd,
                                const TBytes& AData, int ATimeout, bool ASendPwd, bool AWaitResponse) {
    AResponse.clear();
    const TBytes message = link::BuildMessage(ACmd, AConnectPwd, AData, ASendPwd);
    if (!FSocket.Valid()) return errSend;
    TLine line(*this);
    return RunLinkExchange(line, AResponse, message,
                           std::max(CappedCommandTimeout(ATimeout, LinkTimings()), LinkTimings().ReceiveTimeoutMs),
                           AWaitResponse);
}

}  // namespace fr
