#pragma once
// The framed ENQ/ACK/NAK link over a serial port.

#include "transport/ComPort.h"
#include "transport/LinkProtocol.h"

namespace fr {

class TCustomCOMProtocol : public TLinkProtocol {
public:
    explicit TCustomCOMProtocol(TComPort* AComPort);  // not owned
};

class TCOMProtocol : public TCustomCOMProtocol {
public:
    explicit TCOMProtocol(TComPort* AComPort);
    int RunCommand(TBytes& AResponse, const TBytes& AConnectPwd, const TBytes& ACmd, const TBytes& AData,
                   int ATimeout, bool ASendPwd, bool AWaitResponse) override;
};

}  // namespace fr
