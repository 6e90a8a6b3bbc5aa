#pragma once
// The operating system's serial port, raw: open exclusively, set the line, read and write with
// deadlines, discard input. The framing, time-out policy and texts are the transport's.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace fr {

struct TSerialLine {
    int BitRate = 9600;
    std::uint8_t DataBits = 8;
    enum TParity { None, Odd, Even, Mark, Space } Parity = None;
    bool TwoStopBits = false;
    bool RtsCts = false;
    bool XonXoffOut = false;
    bool XonXoffIn = false;
};

// The system-wide folder of COM<N> links, read for every user before the data folder, with a
// trailing separator: $FR_PORTMAP_DIR when set, else /etc/fr_tarvikonline1c83/. Empty on
// Windows, where the ports have their own names.
std::string SystemPortMapDir();

// The device path of serial port N: on Linux the link COM<N> in the system-wide folder, else in
// <data folder>fr_tarvikonline1c83/, when it exists, else /dev/ttyS<N-1>; on Windows \\.\COM<N>.
std::string SerialDevicePath(int PortNumber);

class TSerialDevice {
public:
    enum class TIo { Done, TimedOut, Closed, Failed };

    TSerialDevice();
    ~TSerialDevice();
    TSerialDevice(const TSerialDevice&) = delete;
    TSerialDevice& operator=(const TSerialDevice&) = delete;

    // Opens Path for this process alone and discards what is buffered; false with the system's
    // text in Error, followed by what to do about it (no rights, busy, no such device). On Linux
    // a link outside /dev/ is honoured only when root, this process's user or the owner of a
    // folder no one else may write owns it: the data folder that holds the per-user COM<n> links
    // is writable by every local user.
    bool Open(const std::string& Path, std::string& Error);
    bool IsOpen() const;
    // Drops DTR and RTS, discards unread input, gives up exclusive use, closes. Bytes already
    // written still go out.
    void Close();
    // Raises or drops DTR and RTS (many interface converters power themselves from them); a
    // line without modem control ignores it.
    void SetControlLines(bool Raise);
    bool Configure(const TSerialLine& Line, std::string& Error);
    bool PurgeInput(std::string& Error);
    // Waits at most TimeoutMs for the first byte, then takes what has arrived, up to Size.
    // Done with Got > 0, TimedOut with Got == 0, Closed when the device went away.
    TIo Read(std::uint8_t* Data, std::size_t Size, int TimeoutMs, std::size_t& Got, std::string& Error);
    // Writes all of Data within TimeoutMs (queued for sending, not necessarily sent).
    TIo Write(const std::uint8_t* Data, std::size_t Size, int TimeoutMs, std::string& Error);

private:
    struct TImpl;
    std::unique_ptr<TImpl> FImpl;
};

}  // namespace fr
