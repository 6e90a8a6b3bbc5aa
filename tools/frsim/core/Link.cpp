#include "Link.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pty.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "platform/Errors.h"

namespace fr::sim {

TBytes Frame(const TBytes& message) {
    TBytes f;
    f.reserve(message.size() + 3);
    f.push_back(kStx);
    f.push_back(static_cast<std::uint8_t>(message.size()));
    std::uint8_t check = f[1];
    for (std::uint8_t b : message) {
        check ^= b;
        f.push_back(b);
    }
    f.push_back(check);
    return f;
}

namespace {
void SetNonBlocking(int fd) {
    int fl = ::fcntl(fd, F_GETFL);
    if (fl < 0 || ::fcntl(fd, F_SETFL, fl | O_NONBLOCK) < 0) throw EOSError("fcntl(O_NONBLOCK)", errno);
}
}  // namespace

TLinkServer::TLinkServer(TLinkTimings timings, THandler handler, TConnectHandler onConnect)
    : FTimings(timings), FHandler(std::move(handler)), FOnConnect(std::move(onConnect)) {
    int p[2];
    if (::pipe2(p, O_CLOEXEC | O_NONBLOCK) != 0) throw EOSError("pipe", errno);
    FWakeRead.Reset(p[0]);
    FWakeWrite.Reset(p[1]);
    if (::pipe2(p, O_CLOEXEC | O_NONBLOCK) != 0) throw EOSError("pipe", errno);
    FEndDelayRead.Reset(p[0]);
    FEndDelayWrite.Reset(p[1]);
}

void TLinkServer::EndDelay() {
    std::uint8_t b = 1;
    [[maybe_unused]] auto n = ::write(FEndDelayWrite.Get(), &b, 1);
}

TLinkServer::~TLinkServer() { Stop(); }

std::uint16_t TLinkServer::ListenTcp(std::uint16_t port) {
    UniqueFd s(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!s.Valid()) throw EOSError("socket", errno);
    int one = 1;
    ::setsockopt(s.Get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(s.Get(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
        throw EOSError("bind 127.0.0.1:" + std::to_string(port), errno);
    if (::listen(s.Get(), SOMAXCONN) != 0) throw EOSError("listen", errno);
    socklen_t len = sizeof a;
    if (::getsockname(s.Get(), reinterpret_cast<sockaddr*>(&a), &len) != 0) throw EOSError("getsockname", errno);
    FListen = std::move(s);
    return ntohs(a.sin_port);
}

std::string TLinkServer::OpenPty() {
    int master = -1, slave = -1;
    if (::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) throw EOSError("openpty", errno);
    UniqueFd m(master), s(slave);
    termios t{};
    if (::tcgetattr(slave, &t) == 0) {
        ::cfmakeraw(&t);
        ::tcsetattr(slave, TCSANOW, &t);
    }
    ::fcntl(master, F_SETFD, FD_CLOEXEC);
    ::fcntl(slave, F_SETFD, FD_CLOEXEC);
    SetNonBlocking(master);
    char name[256] = {};
    if (::ttyname_r(slave, name, sizeof name) != 0) throw EOSError("ttyname", errno);
    FMaster = std::move(m);
    // Our own slave descriptor keeps the terminal alive between the host's opens and closes.
    FSlave = std::move(s);
    return name;
}

void TLinkServer::Start() {
    if (FThread.joinable()) return;
    FThread = std::thread([this] { Run(); });
}

void TLinkServer::Stop() {
    if (!FThread.joinable()) return;
    std::uint8_t b = 1;
    [[maybe_unused]] auto n = ::write(FWakeWrite.Get(), &b, 1);
    FThread.join();
}

void TLinkServer::Run() {
    if (FMaster.Valid()) {
        if (FOnConnect) FOnConnect();
        Serve(FMaster.Get());
        return;
    }
    for (;;) {
        pollfd p[2] = {{FListen.Get(), POLLIN, 0}, {FWakeRead.Get(), POLLIN, 0}};
        if (::poll(p, 2, -1) < 0 && errno != EINTR) return;
        if (p[1].revents) return;
        UniqueFd conn(::accept4(FListen.Get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
        if (!conn.Valid()) continue;
        bool fresh = true;
        for (;;) {
            if (fresh) {
                int one = 1;
                ::setsockopt(conn.Get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
                if (FOnConnect && !FOnConnect()) FPending.reset();
            }
            int r = Serve(conn.Get());
            if (r == kStop) return;
            if (r != kNewClient) break;
            // A new host while this one is idle: it replaces this one.
            UniqueFd next(::accept4(FListen.Get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
            fresh = next.Valid();
            if (fresh) {
                conn = std::move(next);
            } else if (!Wait(std::chrono::milliseconds(50))) {
                return;
            }
        }
    }
}

int TLinkServer::ReadByte(int fd, std::optional<TClock::time_point> deadline, bool idle) {
    for (;;) {
        std::uint8_t b;
        ssize_t n = ::read(fd, &b, 1);
        if (n == 1) return b;
        if (n == 0) return kClosed;
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return kClosed;
        int timeout = -1;
        if (deadline) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*deadline - TClock::now()).count();
            if (left <= 0) return kTimeout;
            timeout = static_cast<int>(left) + 1;
        }
        pollfd p[3] = {{fd, POLLIN, 0}, {FWakeRead.Get(), POLLIN, 0}, {FListen.Get(), POLLIN, 0}};
        int count = idle && FListen.Valid() && !FMaster.Valid() ? 3 : 2;
        int r = ::poll(p, static_cast<nfds_t>(count), timeout);
        if (r < 0 && errno != EINTR) return kClosed;
        if (p[1].revents) return kStop;
        if (count == 3 && p[2].revents & POLLIN && !(p[0].revents & POLLIN)) return kNewClient;
        if (p[0].revents & (POLLERR | POLLNVAL)) return kClosed;
    }
}

bool TLinkServer::WriteAll(int fd, const TBytes& b) {
    std::size_t done = 0;
    auto deadline = TClock::now() + FTimings.AckTimeout;
    while (done < b.size()) {
        ssize_t n = ::send(fd, b.data() + done, b.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == ENOTSOCK) n = ::write(fd, b.data() + done, b.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return false;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - TClock::now()).count();
        if (left <= 0) return false;  // nobody reads: give the answer up
        pollfd p[2] = {{fd, POLLOUT, 0}, {FWakeRead.Get(), POLLIN, 0}};
        if (::poll(p, 2, static_cast<int>(left)) < 0 && errno != EINTR) return false;
        if (p[1].revents) return false;
    }
    return true;
}

bool TLinkServer::Wait(std::chrono::milliseconds ms) {
    auto deadline = TClock::now() + ms;
    for (;;) {
        auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - TClock::now()).count();
        if (left <= 0) return true;
        pollfd p[2] = {{FWakeRead.Get(), POLLIN, 0}, {FEndDelayRead.Get(), POLLIN, 0}};
        if (::poll(p, 2, static_cast<int>(left)) <= 0) continue;
        if (p[0].revents) return false;
        std::uint8_t buf[16];
        while (::read(FEndDelayRead.Get(), buf, sizeof buf) > 0) {
        }
        return true;
    }
}

// What a busy register received while it worked (ENQ probes, mostly) is never answered.
void TLinkServer::DrainInput(int fd) {
    std::uint8_t buf[256];
    while (::read(fd, buf, sizeof buf) > 0) {
    }
}

bool TLinkServer::WritePaced(int fd, const TBytes& b, int bitRate, int piece) {
    if (bitRate <= 0) return WriteAll(fd, b);
    std::size_t step = static_cast<std::size_t>(piece > 0 ? piece : 1);
    for (std::size_t i = 0; i < b.size(); i += step) {
        if (i > 0 && !Wait(std::chrono::milliseconds(static_cast<long>(step) * 10 * 1000 / bitRate))) return false;
        TBytes part(b.begin() + static_cast<std::ptrdiff_t>(i),
                    b.begin() + static_cast<std::ptrdiff_t>(std::min(b.size(), i + step)));
        if (!WriteAll(fd, part)) return false;
    }
    return true;
}

int TLinkServer::Serve(int fd) {
    int pushback = kTimeout;
    FDeaf = false;
    for (;;) {
        int b = pushback >= 0 ? pushback : ReadByte(fd, std::nullopt, true);
        pushback = kTimeout;
        if (b == kStop || b == kNewClient) return b;
        if (b == kClosed) {
            if (FMaster.Valid()) {  // a terminal never closes: wait for the next host
                if (!Wait(std::chrono::milliseconds(50))) return kStop;
                continue;
            }
            return kClosed;
        }
        if (b == kEnq) {
            if (FDeaf && (!FDeafUntil || TClock::now() < *FDeafUntil)) continue;
            TBytes old = FPending.value_or(TBytes{});
            int r = FPending ? (WriteAll(fd, {kAck}) ? SendAnswer(fd, old, TPlan{}) : kClosed)
                             : (WriteAll(fd, {kNak}) ? kTimeout : kClosed);
            if (r == kStop || r == kClosed) return r;
            if (r >= 0) pushback = r;
            continue;
        }
        if (b != kStx) continue;  // stray ACK, NAK or noise
        auto deadline = [this] { return TClock::now() + FTimings.ByteTimeout; };
        int len = ReadByte(fd, deadline(), false);
        if (len == kStop || len == kClosed) return len;
        if (len < 0) continue;  // an incomplete frame is dropped without a reply
        TBytes body;
        int c = 0;
        for (int i = 0; i <= len; ++i) {
            c = ReadByte(fd, deadline(), false);
            if (c < 0) break;
            body.push_back(static_cast<std::uint8_t>(c));
        }
        if (c == kStop || c == kClosed) return c;
        if (c < 0) continue;
        std::uint8_t check = static_cast<std::uint8_t>(len);
        for (std::size_t i = 0; i + 1 < body.size(); ++i) check ^= body[i];
        if (check != body.back()) {
            if (!WriteAll(fd, {kNak})) return kClosed;
            continue;
        }
        body.pop_back();
        int r = HandleFrame(fd, body);
        if (r == kStop || r == kClosed) return r;
        if (r >= 0) pushback = r;
    }
}

int TLinkServer::HandleFrame(int fd, const TBytes& message) {
    FPending.reset();  // a new command abandons an answer not collected
    TPlan plan = FHandler(message);
    FResendAtOnce = plan.ResendAtOnce;
    FDeaf = plan.Deaf;
    // A terminal is never replaced: a deaf register that stays deaf till the next frame would
    // never hear the probe that precedes that frame.
    FDeafUntil.reset();
    if (plan.Deaf && plan.DelayMs > 0) FDeafUntil = TClock::now() + std::chrono::milliseconds(plan.DelayMs);
    if (plan.Silence || plan.Deaf) return kTimeout;
    if (plan.Nak) return WriteAll(fd, {kNak}) ? kTimeout : kClosed;
    if (plan.NoAck) {
        FPending = plan.Answer;
        return kTimeout;
    }
    if (!WriteAll(fd, {kAck})) return kClosed;
    if (plan.Drop) {
        FPending = plan.Answer;
        if (FMaster.Valid()) return kTimeout;
        return kClosed;
    }
    if (plan.DelayMs > 0) {
        if (!Wait(std::chrono::milliseconds(plan.DelayMs))) return kStop;
        DrainInput(fd);
    }
    if (plan.Uncollected) {
        FPending = plan.Answer;
        return kTimeout;
    }
    return SendAnswer(fd, plan.Answer, plan);
}

// Sends an answer and waits for the host's verdict. Returns a byte to handle next (a new
// frame's STX), kTimeout when done, or kClosed / kStop.
int TLinkServer::SendAnswer(int fd, const TBytes& answer, const TPlan& plan) {
    FPending = answer;
    TBytes frame = Frame(answer);
    TBytes first = frame;
    if (plan.BadCheck) first.back() ^= 0xFF;
    if (plan.Disconnect) {
        first.resize(first.size() / 2);
        WritePaced(fd, first, plan.BitRate, plan.PieceSize);
        return FMaster.Valid() ? kTimeout : kClosed;
    }
    if (!WritePaced(fd, first, plan.BitRate, plan.PieceSize)) return kClosed;
    int resends = 0;
    auto deadline = TClock::now() + FTimings.AckTimeout;
    for (;;) {
        int b = ReadByte(fd, deadline, false);
        if (b == kAck) {
            FPending.reset();
            return kTimeout;
        }
        if (b == kTimeout) return kTimeout;  // kept for collection by ENQ
        if (b == kStop || b == kClosed) return b;
        if (b == kNak || b == kEnq) {
            if (b == kNak && resends++ >= FTimings.MaxResends) return kTimeout;
            if (b == kNak && !FResendAtOnce) {  // kept for the next ENQ
                deadline = TClock::now() + FTimings.AckTimeout;
                continue;
            }
            if (b == kEnq && !WriteAll(fd, {kAck})) return kClosed;
            if (!WritePaced(fd, frame, plan.BitRate, plan.PieceSize)) return kClosed;
            deadline = TClock::now() + FTimings.AckTimeout;
            continue;
        }
        if (b == kStx) {
            FPending.reset();
            return kStx;
        }
    }
}

}  // namespace fr::sim
