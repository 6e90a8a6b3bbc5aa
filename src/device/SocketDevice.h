#pragma once
// The register over TCP.

#include <memory>

#include "device/Device.h"
#include "transport/SocketProtocol.h"

namespace fr {

class TSocketDevice : public TDevice {
public:
    TSocketDevice();
    ~TSocketDevice() override;

    // Connects and reads the line length; a failed read leaves the connection for Disable.
    int Enable(const std::string& AIPAddress, int ATCPPort) override;
    using TDevice::Enable;
    void Disable() override;

    std::string GetIPAddress() const override { return FIPAddress; }
    void SetIPAddress(const std::string& AValue) override { FIPAddress = AValue; }
    int GetTCPPort() const override { return FTCPPort; }
    void SetTCPPort(int AValue) override { FTCPPort = AValue; }
    // "address:port: reason" when the last connection could not be made.
    std::string ConnectionErrorText() const override { return FSocketProtocolImpl->ConnectErrorText(); }

private:
    std::unique_ptr<TSocketProtocol> FSocketProtocolImpl;
};

}  // namespace fr
