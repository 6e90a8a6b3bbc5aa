#include "platform/TcpSocket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/Deadline.h"

namespace fr {
namespace {

using TClock = std::chrono::steady_clock;

// Waits for Events until Deadline; false on time-out or a poll failure.
bool WaitFor(int Fd, short Events, TClock::time_point Deadline) {
    pollfd p{Fd, Events, 0};
    for (;;) {
        const int rc = ::poll(&p, 1, MsLeft(Deadline));
        if (rc > 0) return true;
        if (rc == 0 || errno != EINTR) return false;
    }
}

bool ParseIPv4(const std::string& Address, in_addr& Out) { return ::inet_pton(AF_INET, Address.c_str(), &Out) == 1; }

}  // namespace

TTcpSocket::~TTcpSocket() { Close(); }

bool TTcpSocket::IsIPv4(const std::string& Address) {
    in_addr a{};
    return ParseIPv4(Address, a);
}

TTcpSocket::TConnect TTcpSocket::Connect(const std::string& Address, std::uint16_t Port, TDeadline Deadline) {
    Close();
    FConnectError.clear();
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    if (!ParseIPv4(Address, addr.sin_addr)) {
        FConnectError = std::strerror(EINVAL);
        return TConnect::BadAddress;
    }
    addr.sin_port = htons(Port);
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0) {
        FConnectError = std::strerror(errno);
        return TConnect::CreateFailed;
    }
    FSocket = fd;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
        int err = errno;
        if (err == EINPROGRESS) {
            socklen_t len = sizeof err;
            if (!WaitFor(fd, POLLOUT, Deadline)) err = ETIMEDOUT;
            else if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
        }
        if (err != 0) {
            FConnectError = std::strerror(err);
            Close();
            return TConnect::ConnectFailed;
        }
    }
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return TConnect::Ok;
}

int TTcpSocket::Close() {
    if (!Valid()) return 0;
    const int fd = static_cast<int>(FSocket);
    FSocket = kNone;
    ::shutdown(fd, SHUT_RDWR);
    return ::close(fd) == 0 ? 0 : -1;
}

TTcpSocket::TIo TTcpSocket::Send(const std::uint8_t* Data, std::size_t Size, TDeadline Deadline) {
    const int fd = static_cast<int>(FSocket);
    std::size_t done = 0;
    while (done < Size) {
        const ssize_t n = ::send(fd, Data + done, Size - done, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && errno == EAGAIN) {
            if (!WaitFor(fd, POLLOUT, Deadline)) return TIo::TimedOut;
        } else {
            return n < 0 && (errno == EPIPE || errno == ECONNRESET || errno == ENOTCONN) ? TIo::Closed : TIo::Failed;
        }
    }
    return TIo::Done;
}

TTcpSocket::TIo TTcpSocket::Receive(std::uint8_t* Data, std::size_t Size, std::size_t& Got, TDeadline Deadline) {
    Got = 0;
    for (;;) {
        if (!WaitFor(static_cast<int>(FSocket), POLLIN, Deadline)) return TIo::TimedOut;
        const TIo r = ReceiveNow(Data, Size, Got);
        if (r != TIo::Done || Got > 0) return r;
    }
}

TTcpSocket::TIo TTcpSocket::ReceiveNow(std::uint8_t* Data, std::size_t Size, std::size_t& Got) {
    Got = 0;
    if (Size == 0) return TIo::Done;
    for (;;) {
        const ssize_t n = ::recv(static_cast<int>(FSocket), Data, Size, MSG_DONTWAIT);
        if (n > 0) {
            Got = static_cast<std::size_t>(n);
            return TIo::Done;
        }
        if (n == 0) return TIo::Closed;
        if (errno == EINTR) continue;
        return errno == EAGAIN ? TIo::Done : TIo::Closed;
    }
}

}  // namespace fr
