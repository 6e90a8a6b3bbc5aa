#include "device/ComDevice.h"

namespace fr {

namespace {
constexpr int errPortUnavailable = 1011;  // "Порт недоступен"
}

TComDevice::TComDevice()
    : FComPort(std::make_unique<TComPort>()), FCOMProtocolImpl(std::make_unique<TCOMProtocol>(FComPort.get())) {
    SetLink(FCOMProtocolImpl.get());
}

TComDevice::~TComDevice() { Disable(); }

int TComDevice::Enable(int APort, int ABaud) {
    FComPort->Close();
    FComPort->SetPortNumber(APort);
    FComPort->SetBaudRateAsInt(ABaud);
    FOpenErrorText.clear();
    if (!FComPort->Open()) {
        FOpenErrorText = FComPort->ExtResultDescription();
        return errPortUnavailable;
    }
    const int r = SetParams();
    if (r != 0) FComPort->Close();
    return r;
}

void TComDevice::Disable() {
    if (FComPort->Opened()) FComPort->Close();
}

}  // namespace fr
