#pragma once
// The register over a serial port.

#include <memory>

#include "device/Device.h"
#include "transport/ComPort.h"
#include "transport/ComProtocol.h"

namespace fr {

class TComDevice : public TDevice {
public:
    TComDevice();
    ~TComDevice() override;

    // Closes the port, sets number and bit rate, opens it (1011 when it cannot be opened) and reads
    // the line length; the port is closed again when that fails.
    int Enable(int APort, int ABaud) override;
    using TDevice::Enable;
    void Disable() override;
    // The port's text when Enable could not open it.
    std::string ConnectionErrorText() const override { return FOpenErrorText; }

    int GetPortNumber() const override { return FPortNumber; }
    void SetPortNumber(int AValue) override { FPortNumber = AValue; }
    int GetBaudRate() const override { return FBaudRate; }
    void SetBaudRate(int AValue) override { FBaudRate = AValue; }

private:
    // The protocol uses the port, so it is declared after it and destroyed first.
    std::unique_ptr<TComPort> FComPort;
    std::unique_ptr<TCOMProtocol> FCOMProtocolImpl;
    std::string FOpenErrorText;
};

}  // namespace fr
