#pragma once
// The register's side of the framed link, over a TCP socket or a pseudo-terminal, served by one
// background thread.

#include <atomic>
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <thread>

#include "Simulator.h"
#include "platform/Bytes.h"
#include "platform/UniqueFd.h"

namespace fr::sim {

inline constexpr std::uint8_t kStx = 0x02, kEnq = 0x05, kAck = 0x06, kNak = 0x15;

// What to do with one received command frame, decided (and the command executed) under the
// simulator's lock.
struct TPlan {
    bool Silence = false;
    bool Nak = false;
    bool NoAck = false;
    bool Uncollected = false;
    bool BadCheck = false;
    bool Disconnect = false;
    bool Drop = false;
    bool Deaf = false;  // no answer to this frame nor to any ENQ before the next frame (or DelayMs)
    int DelayMs = 0;
    int BitRate = 0;  // 0: not split
    int PieceSize = 1;
    bool ResendAtOnce = true;  // a NAKed answer goes again at once, else only at the next ENQ
    TBytes Answer;
};

TBytes Frame(const TBytes& message);

class TLinkServer {
public:
    using THandler = std::function<TPlan(const TBytes& message)>;
    // Called for each new host; false when an answer not yet collected is lost with the old one.
    using TConnectHandler = std::function<bool()>;

    TLinkServer(TLinkTimings timings, THandler handler, TConnectHandler onConnect);
    ~TLinkServer();

    std::uint16_t ListenTcp(std::uint16_t port);
    std::string OpenPty();
    void Start();
    void Stop();
    bool Running() const { return FThread.joinable(); }
    // Ends a delay in progress now: the late answer goes out (to a host that may be gone).
    void EndDelay();

private:
    enum : int { kTimeout = -1, kClosed = -2, kStop = -3, kNewClient = -4 };
    using TClock = std::chrono::steady_clock;

    void Run();
    int Serve(int fd);
    int ReadByte(int fd, std::optional<TClock::time_point> deadline, bool idle);
    bool WriteAll(int fd, const TBytes& b);
    bool WritePaced(int fd, const TBytes& b, int bitRate, int piece);
    bool Wait(std::chrono::milliseconds ms);  // false when stopping
    void DrainInput(int fd);
    int HandleFrame(int fd, const TBytes& message);
    int SendAnswer(int fd, const TBytes& answer, const TPlan& plan);

    TLinkTimings FTimings;
    THandler FHandler;
    TConnectHandler FOnConnect;
    bool FResendAtOnce = true;
    bool FDeaf = false;  // ENQ goes unanswered until the next frame (or FDeafUntil)
    std::optional<std::chrono::steady_clock::time_point> FDeafUntil;
    UniqueFd FListen, FMaster, FSlave, FWakeRead, FWakeWrite, FEndDelayRead, FEndDelayWrite;
    std::thread FThread;
    std::optional<TBytes> FPending;  // an answer not yet acknowledged by the host
};

}  // namespace fr::sim
