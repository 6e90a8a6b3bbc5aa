#include "platform/SerialDevice.h"

#include <windows.h>

#include <algorithm>
#include <cstring>

#include "platform/win/WinText.h"

namespace fr {
namespace {

bool Failed(std::string& Error) {
    Error = win::ErrorText(::GetLastError());
    return false;
}

}  // namespace

std::string SerialDevicePath(int PortNumber) { return "\\\\.\\COM" + std::to_string(PortNumber); }

struct TSerialDevice::TImpl {
    HANDLE Handle = INVALID_HANDLE_VALUE;
    // The time-outs last given to the port: set again only when a call needs others.
    COMMTIMEOUTS Timeouts{};
    bool TimeoutsSet = false;

    bool SetTimeouts(const COMMTIMEOUTS& T) {
        if (TimeoutsSet && std::memcmp(&T, &Timeouts, sizeof T) == 0) return true;
        COMMTIMEOUTS copy = T;
        if (!::SetCommTimeouts(Handle, &copy)) return false;
        Timeouts = T;
        TimeoutsSet = true;
        return true;
    }
};

TSerialDevice::TSerialDevice() : FImpl(std::make_unique<TImpl>()) {}
TSerialDevice::~TSerialDevice() { Close(); }

bool TSerialDevice::IsOpen() const { return FImpl->Handle != INVALID_HANDLE_VALUE; }

bool TSerialDevice::Open(const std::string& Path, std::string& Error) {
    // No sharing: the port belongs to this process alone while it is open.
    const HANDLE h = ::CreateFileW(win::Wide(Path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return Failed(Error);
    FImpl->Handle = h;
    FImpl->TimeoutsSet = false;
    ::SetupComm(h, 4096, 4096);
    if (!::PurgeComm(h, PURGE_RXCLEAR | PURGE_TXCLEAR)) {
        Failed(Error);
        ::CloseHandle(h);
        FImpl->Handle = INVALID_HANDLE_VALUE;
        return false;
    }
    return true;
}

void TSerialDevice::Close() {
    if (!IsOpen()) return;
    ::EscapeCommFunction(FImpl->Handle, CLRDTR);  // not every port has modem lines
    ::PurgeComm(FImpl->Handle, PURGE_RXCLEAR);    // bytes written but not yet sent still go out
    ::CloseHandle(FImpl->Handle);
    FImpl->Handle = INVALID_HANDLE_VALUE;
}

bool TSerialDevice::Configure(const TSerialLine& Line, std::string& Error) {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!::GetCommState(FImpl->Handle, &dcb)) return Failed(Error);
    dcb.BaudRate = static_cast<DWORD>(Line.BitRate);
    dcb.ByteSize = Line.DataBits >= 5 && Line.DataBits <= 8 ? Line.DataBits : 8;
    switch (Line.Parity) {
        case TSerialLine::None: dcb.Parity = NOPARITY; break;
        case TSerialLine::Odd: dcb.Parity = ODDPARITY; break;
        case TSerialLine::Even: dcb.Parity = EVENPARITY; break;
        case TSerialLine::Mark: dcb.Parity = MARKPARITY; break;
        case TSerialLine::Space: dcb.Parity = SPACEPARITY; break;
    }
    dcb.fParity = Line.Parity != TSerialLine::None;
    dcb.StopBits = Line.TwoStopBits ? TWOSTOPBITS : ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fOutxCtsFlow = Line.RtsCts;
    dcb.fRtsControl = Line.RtsCts ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_ENABLE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fOutX = Line.XonXoffOut;
    dcb.fInX = Line.XonXoffIn;
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fAbortOnError = FALSE;
    if (!::SetCommState(FImpl->Handle, &dcb)) return Failed(Error);
    return true;
}

bool TSerialDevice::PurgeInput(std::string& Error) {
    if (!::PurgeComm(FImpl->Handle, PURGE_RXCLEAR)) return Failed(Error);
    return true;
}

TSerialDevice::TIo TSerialDevice::Read(std::uint8_t* Data, std::size_t Size, int TimeoutMs, std::size_t& Got,
                                       std::string& Error) {
    Got = 0;
    // MAXDWORD, MAXDWORD, T: the read returns as soon as one byte is there (with all that came
    // with it), or after T ms with nothing. MAXDWORD, 0, 0: what is there, at once.
    COMMTIMEOUTS t{};
    t.ReadIntervalTimeout = MAXDWORD;
    const DWORD wait = static_cast<DWORD>(std::clamp(TimeoutMs, 0, 0x7FFFFFFF));
    t.ReadTotalTimeoutMultiplier = wait > 0 ? MAXDWORD : 0;
    t.ReadTotalTimeoutConstant = wait;
    t.WriteTotalTimeoutMultiplier = FImpl->Timeouts.WriteTotalTimeoutMultiplier;
    t.WriteTotalTimeoutConstant = FImpl->Timeouts.WriteTotalTimeoutConstant;
    if (!FImpl->SetTimeouts(t)) {
        Failed(Error);
        return TIo::Failed;
    }
    DWORD n = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(Size, 1u << 20));
    if (!::ReadFile(FImpl->Handle, Data, chunk, &n, nullptr)) {
        const DWORD err = ::GetLastError();
        DWORD errors = 0;
        ::ClearCommError(FImpl->Handle, &errors, nullptr);
        Error = win::ErrorText(err);
        return err == ERROR_DEVICE_REMOVED || err == ERROR_BAD_COMMAND ? TIo::Closed : TIo::Failed;
    }
    Got = n;
    return n > 0 ? TIo::Done : TIo::TimedOut;
}

TSerialDevice::TIo TSerialDevice::Write(const std::uint8_t* Data, std::size_t Size, int TimeoutMs,
                                        std::string& Error) {
    COMMTIMEOUTS t = FImpl->Timeouts;
    t.WriteTotalTimeoutMultiplier = 0;
    t.WriteTotalTimeoutConstant = static_cast<DWORD>(std::clamp(TimeoutMs, 1, 0x7FFFFFFF));
    if (!FImpl->SetTimeouts(t)) {
        Failed(Error);
        return TIo::Failed;
    }
    DWORD n = 0;
    if (!::WriteFile(FImpl->Handle, Data, static_cast<DWORD>(Size), &n, nullptr)) {
        Failed(Error);
        return TIo::Failed;
    }
    return n == Size ? TIo::Done : TIo::TimedOut;
}

}  // namespace fr
