#include "platform/TcpSocket.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>

#include "platform/Deadline.h"
#include "platform/win/WinText.h"

namespace fr {
namespace {

using TClock = std::chrono::steady_clock;

// Winsock is started once per process, on first use, and left running: the host may unload the
// module while another of its copies still uses sockets.
bool WinsockStarted() {
    static const bool started = [] {
        WSADATA data{};
        return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
}

// Waits for Events until Deadline; false on time-out or a failure.
bool WaitFor(SOCKET S, short Events, TClock::time_point Deadline) {
    WSAPOLLFD p{};
    p.fd = S;
    p.events = Events;
    return ::WSAPoll(&p, 1, MsLeft(Deadline)) > 0;
}

// A connect in progress: 0 when done, else the reason (WSAETIMEDOUT at the deadline). select,
// because WSAPoll does not report a refused connection on older Windows.
int WaitConnected(SOCKET S, TClock::time_point Deadline) {
    fd_set writable, failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(S, &writable);
    FD_SET(S, &failed);
    const int ms = MsLeft(Deadline);
    timeval tv{ms / 1000, (ms % 1000) * 1000};
    const int rc = ::select(0, nullptr, &writable, &failed, &tv);
    if (rc == 0) return WSAETIMEDOUT;
    if (rc < 0) return ::WSAGetLastError();
    int err = 0;
    int len = sizeof err;
    if (::getsockopt(S, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&err), &len) != 0) return ::WSAGetLastError();
    if (err == 0 && FD_ISSET(S, &failed)) return WSAECONNREFUSED;
    return err;
}

bool ParseIPv4(const std::string& Address, in_addr& Out) {
    return WinsockStarted() && ::inet_pton(AF_INET, Address.c_str(), &Out) == 1;
}

bool IsLost(int Err) {
    return Err == WSAECONNRESET || Err == WSAECONNABORTED || Err == WSAENOTCONN || Err == WSAESHUTDOWN ||
           Err == WSAENETRESET;
}

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
        FConnectError = win::ErrorText(WSAEINVAL);
        return TConnect::BadAddress;
    }
    addr.sin_port = htons(Port);
    const SOCKET s = ::WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
    if (s == INVALID_SOCKET) {
        FConnectError = win::ErrorText(static_cast<DWORD>(::WSAGetLastError()));
        return TConnect::CreateFailed;
    }
    FSocket = static_cast<std::intptr_t>(s);
    u_long nonBlocking = 1;
    if (::ioctlsocket(s, FIONBIO, &nonBlocking) != 0) {
        FConnectError = win::ErrorText(static_cast<DWORD>(::WSAGetLastError()));
        Close();
        return TConnect::CreateFailed;
    }
    if (::connect(s, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
        int err = ::WSAGetLastError();
        if (err == WSAEWOULDBLOCK) err = WaitConnected(s, Deadline);
        if (err != 0) {
            FConnectError = win::ErrorText(static_cast<DWORD>(err));
            Close();
            return TConnect::ConnectFailed;
        }
    }
    const BOOL one = TRUE;
    ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
    return TConnect::Ok;
}

int TTcpSocket::Close() {
    if (!Valid()) return 0;
    const auto s = static_cast<SOCKET>(FSocket);
    FSocket = kNone;
    ::shutdown(s, SD_BOTH);
    return ::closesocket(s) == 0 ? 0 : -1;
}

TTcpSocket::TIo TTcpSocket::Send(const std::uint8_t* Data, std::size_t Size, TDeadline Deadline) {
    const auto s = static_cast<SOCKET>(FSocket);
    std::size_t done = 0;
    while (done < Size) {
        const int chunk = static_cast<int>(std::min<std::size_t>(Size - done, 1u << 20));
        const int n = ::send(s, reinterpret_cast<const char*>(Data + done), chunk, 0);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        const int err = ::WSAGetLastError();
        if (err == WSAEWOULDBLOCK) {
            if (!WaitFor(s, POLLWRNORM, Deadline)) return TIo::TimedOut;
            continue;
        }
        return IsLost(err) ? TIo::Closed : TIo::Failed;
    }
    return TIo::Done;
}

TTcpSocket::TIo TTcpSocket::Receive(std::uint8_t* Data, std::size_t Size, std::size_t& Got, TDeadline Deadline) {
    Got = 0;
    for (;;) {
        if (!WaitFor(static_cast<SOCKET>(FSocket), POLLRDNORM, Deadline)) return TIo::TimedOut;
        const TIo r = ReceiveNow(Data, Size, Got);
        if (r != TIo::Done || Got > 0) return r;
    }
}

TTcpSocket::TIo TTcpSocket::ReceiveNow(std::uint8_t* Data, std::size_t Size, std::size_t& Got) {
    Got = 0;
    if (Size == 0) return TIo::Done;
    const int chunk = static_cast<int>(std::min<std::size_t>(Size, 1u << 20));
    const int n = ::recv(static_cast<SOCKET>(FSocket), reinterpret_cast<char*>(Data), chunk, 0);
    if (n > 0) {
        Got = static_cast<std::size_t>(n);
        return TIo::Done;
    }
    if (n == 0) return TIo::Closed;
    return ::WSAGetLastError() == WSAEWOULDBLOCK ? TIo::Done : TIo::Closed;
}

}  // namespace fr
