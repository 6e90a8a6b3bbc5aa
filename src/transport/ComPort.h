#pragma once
// A serial port on Linux termios: COM<n> maps to the link <data folder>fr_tarvikonline1c83/COM<n>
// when it exists, else /dev/ttyS<n-1>. Opened raw, O_NOCTTY, exclusive.

#include <cstdint>
#include <string>

#include "platform/Bytes.h"
#include "platform/UniqueFd.h"

namespace fr {

class TComm {
public:
    enum TBaudRate { br110, br300, br600, br1200, br2400, br4800, br9600, br14400, br19200, br38400, br56000,
                     br57600, br115200 };

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

    // (further members are the implementation's)
};

class TComPort : public TComm {
public:
    TComPort();
};

}  // namespace fr
