#include "transport/SocketProtocol.h"

#include <algorithm>
#include <chrono>

#include "framework/ErrorCodes.h"
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
    const std::string address = Trim(AIPAddress);
    if (!TTcpSocket::IsIPv4(address)) return errAddress;
    // A port out of range would otherwise be truncated to some other port.
    if (ATCPPort < 1 || ATCPPort > 65535) return errPortRange;
    const auto deadline = TClock::now() + std::chrono::milliseconds(LinkTimings().ConnectTimeoutMs);
    switch (FSocket.Connect(address, static_cast<std::uint16_t>(ATCPPort), deadline)) {
        case TTcpSocket::TConnect::Ok: return errOK;
        case TTcpSocket::TConnect::BadAddress: return errAddress;
        case TTcpSocket::TConnect::CreateFailed: return errSocketCreate;
        case TTcpSocket::TConnect::ConnectFailed: break;
    }
    return errConnect;
}

int TCustomSocketProtocol::CloseConnection() { return FSocket.Close(); }

bool TCustomSocketProtocol::SendBytes(const std::uint8_t* AData, std::size_t ASize) {
    const TTcpSocket::TIo r = FSocket.Send(AData, ASize, ReceiveDeadline());
    if (r == TTcpSocket::TIo::Closed) FConnectionLost = true;
    return r == TTcpSocket::TIo::Done;
}

bool TCustomSocketProtocol::ReceiveByte(std::uint8_t& AByte) {
    std::size_t got = 0;
    switch (FSocket.Receive(&AByte, 1, got, ReceiveDeadline())) {
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

TBytes TCustomSocketProtocol::DiscardPending() {
    TBytes dropped;
    std::uint8_t buf[256];
    for (;;) {
        std::size_t n = 0;
        const TTcpSocket::TIo r = FSocket.ReceiveNow(buf, sizeof buf, n);
        dropped.insert(dropped.end(), buf, buf + n);
        if (r != TTcpSocket::TIo::Done) FConnectionLost = true;
        if (r != TTcpSocket::TIo::Done || n == 0) return dropped;
    }
}

void TCustomSocketProtocol::SkipByte() {
    std::uint8_t b = 0;
    ReceiveByte(b);
}

bool TSocketProtocol::SendControl(std::uint8_t AByte) {
    const bool ok = SendBytes(&AByte, 1);
    link::Trace(kCaption, "-> ", AByte, ok);
    return ok;
}

int TSocketProtocol::SendFrame(const TBytes& AMessage) {
    if (AMessage.size() > link::kMaxMessage) return errProtocol;
    return SendBytes(link::BuildFrame(AMessage)) ? errOK : errNoResponse;
}

// As on the serial link, the outcome is carried across probes and attempts; here it starts at 0,
// a byte other than ACK or NAK in reply to ENQ is followed by one more that is dropped, and FF 06
// in reply to the frame counts as ACK. A connection the peer closed ends the command at once with
// the failure that found it.
int TSocketProtocol::SendCommand(const TBytes& AMessage) {
    int outcome = errOK;
    std::uint8_t reply = 0;
    for (int attempt = 0; attempt < link::kAttempts; ++attempt) {
        for (int probe = 0; probe < link::kProbes; ++probe) {
            // A register resends its answer after our NAK; left in the stream, that frame would
            // be read as the reply to this ENQ.
            if (const TBytes stale = DiscardPending(); !stale.empty())
                link::Trace(kCaption, "<- ", stale, false);
            if (!SendControl(link::ENQ)) {
                outcome = errSend;
                if (FConnectionLost) return outcome;
                continue;
            }
            const bool got = ReceiveByte(reply);
            link::Trace(kCaption, "<- ", reply, got);
            outcome = got ? errOK : errReceive;
            if (!got) {
                if (FConnectionLost) return outcome;
                continue;
            }
            if (reply == link::ACK) {
                TBytes old;
                outcome = ReadFrame(old);
                link::Trace(kCaption, "<- ", old, outcome == errOK);
                if (outcome != errOK) return outcome;
                outcome = SendControl(link::ACK) ? errOK : errSend;
                if (FConnectionLost) return outcome;
                continue;
            }
            if (reply == link::NAK) {
                outcome = errOK;
                break;
            }
            SkipByte();
        }
        if (outcome != errOK) continue;
        outcome = SendFrame(AMessage);
        link::Trace(kCaption, "-> ", AMessage, outcome == errOK);
        if (FConnectionLost) return outcome;
        if (outcome != errOK) continue;
        const bool got = ReceiveByte(reply);
        link::Trace(kCaption, "<- ", reply, got);
        if (!got) {
            outcome = errReceive;
            if (FConnectionLost) return outcome;
            continue;
        }
        if (reply == link::ACK) return errOK;
        outcome = errProtocol;
        if (reply == 0xFF) {
            if (ReceiveByte(reply)) {
                outcome = errOK;
                link::Trace(kCaption, "<- ", reply, true);
                if (reply == link::ACK) return errOK;
            } else {
                outcome = errReceive;
                if (FConnectionLost) return outcome;
            }
        }
    }
    return outcome;
}

int TSocketProtocol::ReadFrame(TBytes& AFrame) {
    std::uint8_t b = 0;
    if (!ReceiveByte(b)) return errNoResponse;
    AFrame.push_back(b);
    if (b != link::STX) return errProtocol;
    if (!ReceiveByte(b)) return errNoResponse;
    AFrame.push_back(b);
    // A stream may deliver the rest in several pieces: collect them all.
    TBytes rest;
    if (!ReceiveBytes(std::size_t{b} + 1, rest)) return errNoResponse;
    AFrame.insert(AFrame.end(), rest.begin(), rest.end());
    return errOK;
}

int TSocketProtocol::ReceiveAnswer(TBytes& AAnswer) {
    const int r = ReadFrame(AAnswer);
    link::Trace(kCaption, "<- ", AAnswer, r == errOK);
    if (r != errOK) return errNoResponse;
    switch (link::CheckFrame(AAnswer)) {
        case link::TFrameCheck::BadLength: return errProtocol;
        case link::TFrameCheck::BadCheckByte: SendControl(link::NAK); return errProtocol;
        case link::TFrameCheck::Good: break;
    }
    SendControl(link::ACK);
    return link::CutToAnswerBody(AAnswer) ? errOK : errProtocol;
}

int TSocketProtocol::RunCommand(TBytes& AResponse, const TBytes& AConnectPwd, const TBytes& ACmd,
                                const TBytes& AData, int /*ATimeout*/, bool ASendPwd, bool AWaitResponse) {
    AResponse.clear();
    const TBytes message = link::BuildMessage(ACmd, AConnectPwd, AData, ASendPwd);
    int r = SendCommand(message);
    if (AWaitResponse && r == errOK) r = ReceiveAnswer(AResponse);
    if (r != errOK) AResponse.clear();
    return r;
}

}  // namespace fr
