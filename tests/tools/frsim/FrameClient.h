#pragma once
// The host's side of the link, written for the tests: raw bytes with deadlines, frames, and
// one command exchange (ENQ, NAK, frame, ACK, answer, ACK).

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

#include "platform/Bytes.h"
#include "platform/UniqueFd.h"

namespace frtest {

using fr::TBytes;
inline constexpr std::uint8_t STX = 0x02, ENQ = 0x05, ACK = 0x06, NAK = 0x15;
// Generous: a deadline only bounds a wait for what must arrive.
inline constexpr std::chrono::milliseconds kWait{5000};

inline TBytes MakeFrame(const TBytes& m) {
    TBytes f;
    f.push_back(STX);
    f.push_back(static_cast<std::uint8_t>(m.size()));
    std::uint8_t c = f[1];
    for (auto b : m) {
        c ^= b;
        f.push_back(b);
    }
    f.push_back(c);
    return f;
}

// Command code (0x10 or 0xFF45), password, data.
inline TBytes Cmd(std::uint16_t code, const TBytes& data = {}, std::uint32_t pwd = 30) {
    TBytes m;
    if (code > 0xFF) m.push_back(static_cast<std::uint8_t>(code >> 8));
    m.push_back(static_cast<std::uint8_t>(code));
    for (int i = 0; i < 4; ++i) m.push_back(static_cast<std::uint8_t>(pwd >> (8 * i)));
    m.insert(m.end(), data.begin(), data.end());
    return m;
}

inline void Le(TBytes& b, std::uint64_t v, int w) {
    for (int i = 0; i < w; ++i) b.push_back(i < 8 ? static_cast<std::uint8_t>(v >> (8 * i)) : 0);
}
inline std::uint64_t GetLe(const TBytes& b, std::size_t off, int w) {
    std::uint64_t v = 0;
    for (int i = w - 1; i >= 0; --i) v = v << 8 | b.at(off + static_cast<std::size_t>(i));
    return v;
}

class TClient {
public:
    static TClient Tcp(std::uint16_t port) {
        fr::UniqueFd s(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(s.Get(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) throw std::runtime_error("connect");
        int one = 1;
        ::setsockopt(s.Get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        return TClient(std::move(s));
    }
    static TClient Pty(const std::string& path) {
        fr::UniqueFd s(::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
        if (!s.Valid()) throw std::runtime_error("open " + path);
        termios t{};
        ::tcgetattr(s.Get(), &t);
        ::cfmakeraw(&t);
        ::tcsetattr(s.Get(), TCSANOW, &t);
        return TClient(std::move(s));
    }

    void Send(const TBytes& b) {
        std::size_t done = 0;
        while (done < b.size()) {
            ssize_t n = ::write(FFd.Get(), b.data() + done, b.size() - done);
            if (n <= 0) throw std::runtime_error("write");
            done += static_cast<std::size_t>(n);
        }
    }
    // A byte, or -1 at the deadline, or -2 when the peer closed.
    int Byte(std::chrono::milliseconds wait = kWait) {
        pollfd p{FFd.Get(), POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(wait.count())) <= 0) return -1;
        std::uint8_t b;
        ssize_t n = ::read(FFd.Get(), &b, 1);
        return n == 1 ? b : -2;
    }
    // Reads a whole frame after its STX was read: LEN, message, check byte. Empty on a short read.
    std::optional<TBytes> RestOfFrame(bool* checkOk = nullptr) {
        int len = Byte();
        if (len < 0) return std::nullopt;
        TBytes m;
        std::uint8_t c = static_cast<std::uint8_t>(len);
        for (int i = 0; i < len; ++i) {
            int b = Byte();
            if (b < 0) return std::nullopt;
            m.push_back(static_cast<std::uint8_t>(b));
            c ^= static_cast<std::uint8_t>(b);
        }
        int check = Byte();
        if (check < 0) return std::nullopt;
        if (checkOk) *checkOk = check == c;
        return m;
    }
    std::optional<TBytes> Frame(bool* checkOk = nullptr) {
        if (Byte() != STX) return std::nullopt;
        return RestOfFrame(checkOk);
    }
    // One command as the host runs it; the answer message (code, result, data).
    TBytes Exchange(const TBytes& message) {
        Send({ENQ});
        int r = Byte();
        if (r != NAK) throw std::runtime_error("ENQ not answered with NAK: " + std::to_string(r));
        Send(MakeFrame(message));
        if (Byte() != ACK) throw std::runtime_error("frame not acknowledged");
        auto a = Frame();
        if (!a) throw std::runtime_error("no answer");
        Send({ACK});
        return *a;
    }
    // The answer without its command code: result, then data.
    TBytes Run(std::uint16_t code, const TBytes& data = {}, std::uint32_t pwd = 30) {
        TBytes a = Exchange(Cmd(code, data, pwd));
        std::size_t n = code > 0xFF ? 2 : 1;
        if (a.size() < n + 1) throw std::runtime_error("answer too short");
        return TBytes(a.begin() + static_cast<std::ptrdiff_t>(n), a.end());
    }
    int Fd() const { return FFd.Get(); }

private:
    explicit TClient(fr::UniqueFd fd) : FFd(std::move(fd)) {}
    fr::UniqueFd FFd;
};

}  // namespace frtest
