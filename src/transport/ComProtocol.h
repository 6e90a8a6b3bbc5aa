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
    // A message over 255 bytes cannot be framed: 1014, nothing is sent. ATimeout (0: the
    // handshake time-out) bounds the wait for the answer after the frame's ACK; see
    // LinkExchange.h for what happens when it does not come.
    int RunCommand(TBytes& AResponse, const TBytes& AConnectPwd, const TBytes& ACmd, const TBytes& AData,
                   int ATimeout, bool ASendPwd, bool AWaitResponse) override;


private:
    class TLine;
};

}  // namespace fr
