#pragma once
// The same framed link over a TCP connection.
//
// Every receive waits at most LinkTimings().ReceiveTimeoutMs; a connect at most ConnectTimeoutMs.

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/TcpSocket.h"
#include "transport/LinkProtocol.h"

namespace fr {

class TCustomSocketProtocol : public TLinkProtocol {
public:
    TCustomSocketProtocol();
    ~TCustomSocketProtocol() override;
    // 0, or 600..606. The address is dotted IPv4 (no name look-up: a host name gives 604); a port
    // outside 1..65535 gives 603.
    int OpenConnection(const std::string& AIPAddress, int ATCPPort);
    // "address:port: reason" of the last OpenConnection that failed; empty after one that worked.
    const std::string& ConnectErrorText() const { return FConnectErrorText; }
    // 0, or -1 when closing the socket failed (the socket is released either way).
    int CloseConnection();
    bool Connected() const;

protected:
    bool SendBytes(const std::uint8_t* AData, std::size_t ASize);
    bool SendBytes(const TBytes& AData) { return SendBytes(AData.data(), AData.size()); }
    // One byte within the receive time-out (or ATimeoutMs); false on error, time-out or a
    // closed connection.
    bool ReceiveByte(std::uint8_t& AByte);
    bool ReceiveByte(std::uint8_t& AByte, int ATimeoutMs);
    // Up to ACount bytes: reads until all arrived, the receive time-out expired or the peer closed;
    // false only when nothing arrived.
    bool ReceiveBytes(std::size_t ACount, TBytes& ABytes);
    void SkipByte();
    // Drops whatever already arrived and was not asked for (the stream's form of the serial
    // link's purge before each ENQ); returns the bytes dropped, at most AMaxBytes.
    TBytes DiscardPending(std::size_t AMaxBytes);

    TTcpSocket FSocket;
    // The peer closed or reset the connection: further probes cannot succeed.
    bool FConnectionLost = false;
    std::string FConnectErrorText;
    std::string FIPAddress;
    int FTCPPort = 0;
};

class TSocketProtocol : public TCustomSocketProtocol {
public:
    // The answer is awaited for the longer of ATimeout and the receive time-out; see
    // LinkExchange.h for what happens when it does not come.
    int RunCommand(TBytes& AResponse, const TBytes& AConnectPwd, const TBytes& ACmd, const TBytes& AData,
                   int ATimeout, bool ASendPwd, bool AWaitResponse) override;

private:
    class TLine;
};

}  // namespace fr
