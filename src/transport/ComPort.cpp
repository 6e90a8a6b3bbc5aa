#include "transport/ComPort.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <thread>

#include "platform/Deadline.h"
#include "platform/System.h"
#include "transport/LinkTimings.h"

namespace fr {
namespace {

using TClock = std::chrono::steady_clock;

constexpr int kBitRates[] = {110, 300, 600, 1200, 2400, 4800, 9600, 14400, 19200, 38400, 56000, 57600, 115200};

const char* const kOpenFailed = "Ошибка открытия порта";
const char* const kNotOpen = "Порт не открыт";
const char* const kReadTimedOut = "Ошибка при чтении данных из порта";
const char* const kNoByte = "Устройство не отвечает";
const char* const kShortWrite = "Не удалось записать данные в порт";

// Milliseconds left until Deadline, rounded up so that a wait never ends early.
}  // namespace

TComm::TComm() = default;

TComm::~TComm() { Close(); }

bool TComm::Fail(const std::string& Text) {
    FExtResultDescription = Text;
    return false;
}

std::string TComm::DevicePath() const { return SerialDevicePath(FPortNumber); }

bool TComm::Open() {
    if (Opened()) return true;
    std::string error;
    const std::string path = DevicePath();
    if (!FDevice.Open(path, error)) return Fail(std::string(kOpenFailed) + " " + path + ": " + error);
    // A port that could not be configured is closed again, so that a later Open starts afresh
    // instead of succeeding on a half-configured port.
    if (!ApplyLineSettings()) {
        FDevice.Close();
        return false;
    }
    SetControlLines(true);
    return true;
}

void TComm::SetControlLines(bool ARaise) { FDevice.SetControlLines(ARaise); }

bool TComm::ApplyLineSettings() {
    TSerialLine line;
    line.BitRate = BaudRateAsInt();
    line.DataBits = FDataBits;
    line.Parity = static_cast<TSerialLine::TParity>(FParity);
    line.TwoStopBits = FStopBits != sbOneStopBit;
    line.RtsCts = FFlowControl.OutCtsFlow;
    line.XonXoffOut = FFlowControl.XonXoffOut;
    line.XonXoffIn = FFlowControl.XonXoffIn;
    std::string error;
    return FDevice.Configure(line, error) || Fail(error);
}

bool TComm::Close() {
    if (Opened()) SetControlLines(false);
    FDevice.Close();
    return true;
}

bool TComm::Opened() const { return FDevice.IsOpen(); }

bool TComm::Purge(bool /*Abort*/) {
    // Only input is discarded. A write here returns once the bytes are queued, not sent; dropping
    // the output queue would lose the ACK that ended the previous command. Reads and writes are
    // synchronous, so there is never a pending transfer to abort.
    if (!Opened() && !Open()) return false;
    std::string error;
    return FDevice.PurgeInput(error) || Fail(error);
}

bool TComm::WriteChar(std::uint8_t Value) { return WriteStr(TBytes{Value}); }

bool TComm::WriteStr(const TBytes& Data, int SleepTime) {
    if (Data.empty()) return true;
    if (!Opened() && !Open()) return false;
    std::uint64_t limit =
        std::uint64_t{FTimeouts.WriteMultiplier} * Data.size() + std::uint64_t{FTimeouts.WriteConstant};
    if (limit == 0) limit = static_cast<std::uint64_t>(LinkTimings().WriteTimeoutMs);  // never wait forever
    std::string error;
    switch (FDevice.Write(Data.data(), Data.size(), static_cast<int>(std::min<std::uint64_t>(limit, 1u << 30)), error)) {
        case TSerialDevice::TIo::Done: break;
        case TSerialDevice::TIo::Failed: return Fail(error);
        default: return Fail(kShortWrite);
    }
    if (SleepTime > 0) std::this_thread::sleep_for(std::chrono::milliseconds(SleepTime));
    return true;
}

bool TComm::ReadChar(std::uint8_t& Ch, std::uint32_t Timeout) {
    if (!Opened()) return Fail(kNotOpen);
    std::uint8_t b = 0;
    std::size_t got = 0;
    std::string error;
    switch (FDevice.Read(&b, 1, static_cast<int>(std::min<std::uint32_t>(Timeout, 1u << 30)), got, error)) {
        case TSerialDevice::TIo::Done: Ch = b; return true;
        case TSerialDevice::TIo::TimedOut: return Fail(kReadTimedOut);
        case TSerialDevice::TIo::Closed: return Fail(kNoByte);
        case TSerialDevice::TIo::Failed: break;
    }
    return Fail(error);
}

bool TComm::ReadString(std::uint32_t Count, TBytes& Buff) {
    Buff.clear();
    if (!Opened()) return Fail(kNotOpen);
    if (Count == 0) return true;
    const std::uint64_t total =
        std::uint64_t{FTimeouts.ReadMultiplier} * Count + std::uint64_t{FTimeouts.ReadConstant};
    const auto deadline = TClock::now() + std::chrono::milliseconds(total);
    const int interval = static_cast<int>(std::min<std::uint32_t>(FTimeouts.ReadInterval, 1u << 30));
    Buff.resize(Count);
    std::size_t got = 0;
    while (got < Count) {
        // Before the first byte only the total limit applies; after it, also the silence between
        // bytes. With no total limit, the interval bounds the first byte too: a read never hangs.
        int wait = total > 0 ? MsLeft(deadline) : interval;
        if (total > 0 && got > 0 && interval > 0) wait = std::min(wait, interval);
        if (total > 0 && wait == 0) break;
        std::size_t n = 0;
        std::string error;
        const TSerialDevice::TIo r = FDevice.Read(Buff.data() + got, Count - got, wait, n, error);
        got += n;
        if (r == TSerialDevice::TIo::Failed) {
            Buff.resize(got);
            return Fail(error);
        }
        if (r != TSerialDevice::TIo::Done) break;
    }
    Buff.resize(got);
    return true;
}

int TComm::PortNumber() const { return FPortNumber; }
void TComm::SetPortNumber(int Value) { FPortNumber = Value; }
TComm::TBaudRate TComm::BaudRate() const { return FBaudRate; }

void TComm::SetBaudRate(TBaudRate Value) {
    if (Value == FBaudRate) return;
    FBaudRate = Value;
    if (Opened()) ApplyLineSettings();
}

int TComm::BaudRateAsInt() const {
    const int i = static_cast<int>(FBaudRate);
    return i >= 0 && i < static_cast<int>(std::size(kBitRates)) ? kBitRates[i] : 0;
}

void TComm::SetBaudRateAsInt(int Value) {
    const auto it = std::find(std::begin(kBitRates), std::end(kBitRates), Value);
    if (it != std::end(kBitRates)) FBaudRate = static_cast<TBaudRate>(it - std::begin(kBitRates));
}

const std::string& TComm::ExtResultDescription() const { return FExtResultDescription; }

TComPort::TComPort() {
    FBaudRate = br115200;
    const TLinkTimings& t = LinkTimings();
    FTimeouts.ReadInterval = static_cast<std::uint32_t>(t.InterByteTimeoutMs);
    FTimeouts.ReadMultiplier = static_cast<std::uint32_t>(t.PerByteTotalTimeoutMs);
    FTimeouts.ReadConstant = 0;
    FTimeouts.WriteMultiplier = 0;
    FTimeouts.WriteConstant = static_cast<std::uint32_t>(t.WriteTimeoutMs);
}

}  // namespace fr
