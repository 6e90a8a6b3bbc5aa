#include "transport/SocketProtocol.h"

#include <algorithm>
#include <chrono>

#include <fmt/format.h>

#include "framework/ErrorCodes.h"
#include "transport/LinkExchange.h"
#include "transport/LinkFrame.h"
#include "transport/LinkTimings.h"

namespace fr {
namespace {

using TClock = std::chrono::steady_clock;

constexpr const char* kCaption = "TSocketProtocol";

constexpr int errSocketCreate = 600;
constexpr int errConnect = 601;
constexpr int errPortRange = 603;
constexpr int errAddress = 604;
constexpr int errSend = 605;
constexpr int errReceive = 606;

TClock::time_point ReceiveDeadline() {
    return TClock::now() + std::chrono::milliseconds(LinkTimings().ReceiveTimeoutMs);
}

std::string Trim(const std::string& s) {
    const auto b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) return {};
    return s.substr(b, s.find_last_not_of(" \t\r\n") - b + 1);
}

}  // namespace

TCustomSocketProtocol::TCustomSocketProtocol() = default;

TCustomSocketProtocol::~TCustomSocketProtocol() { CloseConnection(); }

bool TCustomSocketProtocol::Connected() const { return FSocket.Valid(); }

int TCustomSocketProtocol::OpenConnection(const std::string& AIPAddress, int ATCPPort) {
    FIPAddress = AIPAddress;
    FTCPPort = ATCPPort;
    FSocket.Close();
    FConnectionLost = false;
    FConnectErrorText.clear();
    const std::string address = Trim(AIPAddress);
    const auto fail = [&](int ACode, const std::string& AReason) {
        FConnectErrorText = fmt::format("{}:{}: {}", address, ATCPPort, AReason);
        return ACode;
    };
    if (!TTcpSocket::IsIPv4(address)) return fail(errAddress, "адрес не в виде IPv4 (например, 192.168.1.10)");
    // A port out of range would otherwise be truncated to some other port.
    if (ATCPPort < 1 || ATCPPort > 65535) return fail(errPortRange, "порт вне диапазона 1..65535");
    const auto deadline = TClock::now() + std::chrono::milliseconds(LinkTimings().ConnectTimeoutMs);
    switch (FSocket.Connect(address, static_cast<std::uint16_t>(ATCPPort), deadline)) {
        case TTcpSocket::TConnect::Ok: return errOK;
        case TTcpSocket::TConnect::BadAddress: return fail(errAddress, FSocket.ConnectError());
        case TTcpSocket::TConnect::CreateFailed: return fail(errSocketCreate, FSocket.ConnectError());
        case TTcpSocket::TConnect::ConnectFailed: break;
    }
    return fail(errConnect, FSocket.ConnectError());
}

int TCustomSocketProtocol::CloseConnection() { return FSocket.Close(); }

bool TCustomSocketProtocol::SendBytes(const std::uint8_t* AData, std::size_t ASize) {
    const TTcpSocket::TIo r = FSocket.Send(AData, ASize, ReceiveDeadline());
    if (r == TTcpSocket::TIo::Closed) FConnectionLost = true;
    return r == TTcpSocket::TIo::Done;
}

bool TCustomSocketProtocol::ReceiveByte(std::uint8_t& AByte) {
    return ReceiveByte(AByte, LinkTimings().ReceiveTimeoutMs);
}

bool TCustomSocketProtocol::ReceiveByte(std::uint8_t& AByte, int ATimeoutMs) {
    std::size_t got = 0;
    switch (FSocket.Receive(&AByte, 1, got, TClock::now() + std::chrono::milliseconds(ATimeoutMs))) {
        case TTcpSocket::TIo::Done: return true;
        case TTcpSocket::TIo::TimedOut: return false;
        default: FConnectionLost = true; return false;
    }
}

bool TCustomSocketProtocol::ReceiveBytes(std::size_t ACount, TBytes& ABytes) {
    ABytes.assign(ACount, 0);
    const auto deadline = ReceiveDeadline();
    std::size_t got = 0;
    while (got < ACount) {
        std::size_t n = 0;
        const TTcpSocket::TIo r = FSocket.Receive(ABytes.data() + got, ACount - got, n, deadline);
        got += n;
        if (r == TTcpSocket::TIo::TimedOut) break;
        if (r != TTcpSocket::TIo::Done) {
            FConnectionLost = true;
            break;
        }
    }
    ABytes.resize(got);
    return got > 0 || ACount == 0;
}

TBytes TCustomSocketProtocol::DiscardPending(std::size_t AMaxBytes) {
    TBytes dropped;
    std::uint8_t buf[256];
    while (dropped.size() < AMaxBytes) {
        const std::size_t want = std::min(sizeof buf, AMaxBytes - dropped.size());
        std::size_t n = 0;
        const TTcpSocket::TIo r = FSocket.ReceiveNow(buf, want, n);
        dropped.insert(dropped.end(), buf, buf + n);
        if (r != TTcpSocket::TIo::Done) FConnectionLost = true;
        if (r != TTcpSocket::TIo::Done || n == 0) return dropped;
    }
    return dropped;
}

void TCustomSocketProtocol::SkipByte() {
    std::uint8_t b = 0;
    ReceiveByte(b);
}

// The stream as the exchange sees it.
class TSocketProtocol::TLine : public TLinkLine {
public:
    explicit TLine(TSocketProtocol& AOwner) : FOwner(AOwner) {}
    const char* Caption() const override { return kCaption; }
    void DropStale() override {
        const auto max = static_cast<std::size_t>(std::max(1, LinkTimings().MaxStaleBytes));
        if (const TBytes stale = FOwner.DiscardPending(max); !stale.empty()) link::Trace(kCaption, "<- ", stale, false);
    }
    bool WriteControl(std::uint8_t AByte) override {
        const bool ok = FOwner.SendBytes(&AByte, 1);
        link::Trace(kCaption, "-> ", AByte, ok);
        return ok;
    }
    bool ReadControl(std::uint8_t& AByte, int ATimeoutMs) override {
        const bool got = FOwner.ReceiveByte(FLast, ATimeoutMs);
        // The frame an STX begins is traced whole.
        if (!got) link::TraceSilence(kCaption, ATimeoutMs);
        else if (FLast != link::STX) link::Trace(kCaption, "<- ", FLast, true);
        AByte = FLast;
        return got;
    }
    bool WriteFrame(const TBytes& AMessage) override {
        const bool ok = FOwner.SendBytes(link::BuildFrame(AMessage));
        link::Trace(kCaption, "-> ", AMessage, ok);
        return ok;
    }
    bool ReadFrameRest(TBytes& AFrame, int ATimeoutMs) override {
        std::uint8_t len = 0;
        if (!FOwner.ReceiveByte(len, ATimeoutMs)) return false;
        AFrame.push_back(len);
        // A stream may deliver the rest in several pieces: collect them all.
        TBytes rest;
        if (!FOwner.ReceiveBytes(std::size_t{len} + 1, rest)) return false;
        AFrame.insert(AFrame.end(), rest.begin(), rest.end());
        return true;
    }
    bool Lost() const override { return FOwner.FConnectionLost || !FOwner.FSocket.Valid(); }
    int HandshakeMs() const override { return LinkTimings().ReceiveTimeoutMs; }
    int EnqWriteFailure() const override { return errSend; }
    int SilentFailure() const override { return errReceive; }

private:
    TSocketProtocol& FOwner;
    std::uint8_t FLast = 0;
};

int TSocketProtocol::RunCommand(TBytes& AResponse, const TBytes& AConnectPwd, const TBytes& ACmd,
                                const TBytes& AData, int ATimeout, bool ASendPwd, bool AWaitResponse) {
    AResponse.clear();
    const TBytes message = link::BuildMessage(ACmd, AConnectPwd, AData, ASendPwd);
    if (!FSocket.Valid()) return errSend;
    TLine line(*this);
    return RunLinkExchange(line, AResponse, message,
                           std::max(CappedCommandTimeout(ATimeout, LinkTimings()), LinkTimings().ReceiveTimeoutMs),
                           AWaitResponse);
}

}  // namespace fr
