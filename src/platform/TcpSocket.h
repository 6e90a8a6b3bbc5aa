#pragma once
// A TCP client connection, non-blocking underneath: every wait is a poll with a deadline.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace fr {

class TTcpSocket {
public:
    using TDeadline = std::chrono::steady_clock::time_point;
    enum class TConnect { Ok, BadAddress, CreateFailed, ConnectFailed };
    enum class TIo { Done, TimedOut, Closed, Failed };

    TTcpSocket() = default;
    ~TTcpSocket();
    TTcpSocket(const TTcpSocket&) = delete;
    TTcpSocket& operator=(const TTcpSocket&) = delete;

    // Dotted IPv4 text only (no name look-up).
    static bool IsIPv4(const std::string& Address);
    // Connects with Nagle's algorithm off, so that every control byte leaves at once. A failure
    // leaves the system's reason in ConnectError.
    TConnect Connect(const std::string& Address, std::uint16_t Port, TDeadline Deadline);
    const std::string& ConnectError() const { return FConnectError; }
    bool Valid() const { return FSocket != kNone; }
    // Takes over a socket connected elsewhere (the system's handle), such as one end of a socket
    // pair in a test.
    void Adopt(std::intptr_t Handle) {
        Close();
        FSocket = Handle;
    }
    // Shuts the connection down and releases the socket; 0, or -1 when the release failed (the
    // socket is gone either way).
    int Close();
    // All of Data before Deadline.
    TIo Send(const std::uint8_t* Data, std::size_t Size, TDeadline Deadline);
    // Waits until Deadline for the first byte, then takes what has arrived, up to Size.
    TIo Receive(std::uint8_t* Data, std::size_t Size, std::size_t& Got, TDeadline Deadline);
    // Takes what has already arrived, up to Size, without waiting (Got may be 0).
    TIo ReceiveNow(std::uint8_t* Data, std::size_t Size, std::size_t& Got);

private:
    static constexpr std::intptr_t kNone = -1;
    std::intptr_t FSocket = kNone;
    std::string FConnectError;
};

}  // namespace fr
