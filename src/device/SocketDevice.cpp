#include "device/SocketDevice.h"

namespace fr {

TSocketDevice::TSocketDevice() : FSocketProtocolImpl(std::make_unique<TSocketProtocol>()) {
    SetLink(FSocketProtocolImpl.get());
}

TSocketDevice::~TSocketDevice() { Disable(); }

int TSocketDevice::Enable(const std::string& AIPAddress, int ATCPPort) {
    const int r = FSocketProtocolImpl->OpenConnection(AIPAddress, ATCPPort);
    if (r != 0) return r;
    return SetParams();
}

void TSocketDevice::Disable() { FSocketProtocolImpl->CloseConnection(); }

}  // namespace fr
