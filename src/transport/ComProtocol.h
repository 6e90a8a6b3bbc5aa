#pragma once
// The framed ENQ/ACK/NAK link over a serial port.

#include <cstdint>

#include "transport/ComPort.h"
#include "transport/LinkProtocol.h"

namespace fr {

class TCustomCOMProtocol : public TLinkProtocol {
public:
    explicit TCustomCOMProtocol(TComPort* AComPort);  // not owned

protected:
    TComPort* FComPort;
};

class TCOMProtocol : public TCustomCOMProtocol {
public:
    explicit TCOMProtocol(TComPort* AComPort);
    // A message over 255 bytes cannot be framed: 1014, nothing is sent.
    int RunCommand(TBytes& AResponse, const TBytes& AConnectPwd, const TBytes& ACmd, const TBytes& AData,
                   int ATimeout, bool ASendPwd, bool AWaitResponse) override;

private:
    int SendFrame(const TBytes& AMessage);
    int SendCommand(const TBytes& AMessage);
    int ReadFrame(TBytes& AFrame, std::uint32_t ATimeout);
    int ReceiveAnswer(TBytes& AAnswer, std::uint32_t ATimeout);
    bool WriteControl(std::uint8_t AByte);
};

}  // namespace fr
