#pragma once
// The same framed link over a TCP connection.

#include <string>

#include "transport/LinkProtocol.h"

namespace fr {

class TCustomSocketProtocol : public TLinkProtocol {
public:
    TCustomSocketProtocol();
    ~TCustomSocketProtocol() override;
    // 0, or 600..606.
    int OpenConnection(const std::string& AIPAddress, int ATCPPort);
    int CloseConnection();
    bool Connected() const;
};

class TSocketProtocol : public TCustomSocketProtocol {
public:
    int RunCommand(TBytes& AResponse, const TBytes& AConnectPwd, const TBytes& ACmd, const TBytes& AData,
                   int ATimeout, bool ASendPwd, bool AWaitResponse) override;
};

}  // namespace fr
