#pragma once
// A serial port: COM<n> is the system's device for port n (SerialDevicePath), opened raw and
// exclusive, with DTR and RTS raised (dropped again on close). On Linux a COM<n> link in the
// shared data folder is honoured only when root or this process's user owns it. A port that
// cannot be opened is named in the text, with what to do about it.
//
// Reads and writes follow the classic serial time-out record: a read ends after ReadInterval ms
// of silence between two bytes or after ReadMultiplier * count + ReadConstant ms in all; a write
// may take WriteMultiplier * count + WriteConstant ms. Waiting is a poll with a deadline, so a byte
// that arrives is taken at once. Failures never throw: they return false and leave their text in
// ExtResultDescription.

#include <cstdint>
#include <string>

#include "platform/Bytes.h"
#include "platform/SerialDevice.h"

namespace fr {

class TComm {
public:
    enum TBaudRate { br110, br300, br600, br1200, br2400, br4800, br9600, br14400, br19200, br38400, br56000,
                     br57600, br115200 };
    enum TParity { prNone, prOdd, prEven, prMark, prSpace };
    enum TStopBits { sbOneStopBit, sbOne5StopBits, sbTwoStopBits };

    struct TTimeouts {
        std::uint32_t ReadInterval = 100;
        std::uint32_t ReadMultiplier = 0;
        std::uint32_t ReadConstant = 100;
        std::uint32_t WriteMultiplier = 50;
        std::uint32_t WriteConstant = 100;
    };

    struct TFlowControl {
        bool OutCtsFlow = false;  // hardware flow control (RTS/CTS)
        bool XonXoffOut = false;
        bool XonXoffIn = false;
    };

    TComm();
    virtual ~TComm();
    TComm(const TComm&) = delete;
    TComm& operator=(const TComm&) = delete;

    bool Open();
    bool Close();
    bool Opened() const;
    bool Purge(bool Abort);
    bool WriteChar(std::uint8_t Value);
    bool WriteStr(const TBytes& Data, int SleepTime = 0);
    bool ReadChar(std::uint8_t& Ch, std::uint32_t Timeout);
    bool ReadString(std::uint32_t Count, TBytes& Buff);

    int PortNumber() const;
    void SetPortNumber(int Value);
    TBaudRate BaudRate() const;
    void SetBaudRate(TBaudRate Value);
    int BaudRateAsInt() const;
    void SetBaudRateAsInt(int Value);
    // Text of the last port failure, captured where it happened.
    const std::string& ExtResultDescription() const;
    // The device path COM<PortNumber> maps to.
    std::string DevicePath() const;

    const TTimeouts& Timeouts() const { return FTimeouts; }
    // Used by the next read or write; nothing is sent to the port.
    void SetTimeouts(const TTimeouts& Value) { FTimeouts = Value; }
    TParity Parity() const { return FParity; }
    void SetParity(TParity Value) { FParity = Value; }
    TStopBits StopBits() const { return FStopBits; }
    void SetStopBits(TStopBits Value) { FStopBits = Value; }
    std::uint8_t DataBits() const { return FDataBits; }
    void SetDataBits(std::uint8_t Value) { FDataBits = Value; }
    const TFlowControl& FlowControl() const { return FFlowControl; }
    void SetFlowControl(const TFlowControl& Value) { FFlowControl = Value; }

protected:
    // Raises (true) or drops both DTR and RTS; many interface converters draw their power from
    // them. A line without modem control (a pseudo-terminal) ignores it.
    virtual void SetControlLines(bool ARaise);

    TTimeouts FTimeouts;
    TBaudRate FBaudRate = br9600;

private:
    bool ApplyLineSettings();
    bool Fail(const std::string& Text);

    TSerialDevice FDevice;
    int FPortNumber = 1;
    TParity FParity = prNone;
    TStopBits FStopBits = sbOneStopBit;
    std::uint8_t FDataBits = 8;
    TFlowControl FFlowControl;
    std::string FExtResultDescription;
};

// The register's port: 115200 bit/s, reads end after 50 ms of silence or 1000 ms per byte, writes
// may take 500 ms (the values of LinkTimings() when the port is created).
class TComPort : public TComm {
public:
    TComPort();
};

}  // namespace fr
