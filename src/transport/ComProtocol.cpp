#include "transport/ComProtocol.h"

#include "framework/ErrorCodes.h"
#include "transport/LinkFrame.h"
#include "transport/LinkTimings.h"

namespace fr {
namespace {

constexpr const char* kCaption = "TCOMProtocol";

std::uint32_t HandshakeTimeout() { return static_cast<std::uint32_t>(LinkTimings().HandshakeTimeoutMs); }

}  // namespace

TCustomCOMProtocol::TCustomCOMProtocol(TComPort* AComPort) : FComPort(AComPort) {}

TCOMProtocol::TCOMProtocol(TComPort* AComPort) : TCustomCOMProtocol(AComPort) {}

bool TCOMProtocol::WriteControl(std::uint8_t AByte) {
    const bool ok = FComPort->WriteChar(AByte);
    link::Trace(kCaption, "-> ", AByte, ok);
    return ok;
}

int TCOMProtocol::SendFrame(const TBytes& AMessage) {
    const TBytes frame = link::BuildFrame(AMessage);
    const bool ok = FComPort->WriteStr(frame);
    link::Trace(kCaption, "-> ", frame, ok);
    return ok ? errOK : errNoResponse;
}

// The outcome is carried across probes and attempts: an old answer collected, or a frame that got
// no reply byte, lets the next attempt send the frame even without a NAK.
int TCOMProtocol::SendCommand(const TBytes& AMessage) {
    int outcome = errNoResponse;
    std::uint8_t reply = 0;  // a byte that did not arrive is traced as the last one held
    for (int attempt = 0; attempt < link::kAttempts; ++attempt) {
        for (int probe = 0; probe < link::kProbes; ++probe) {
            FComPort->Purge(true);
            if (!WriteControl(link::ENQ)) continue;
            const bool got = FComPort->ReadChar(reply, HandshakeTimeout());
            link::Trace(kCaption, "<- ", reply, got);
            if (!got) continue;
            if (reply == link::ACK) {
                // An answer nobody collected: read it, acknowledge it, drop it.
                TBytes old;
                outcome = ReadFrame(old, 0);
                link::Trace(kCaption, "<- ", old, outcome == errOK);
                if (outcome != errOK) return outcome;
                WriteControl(link::ACK);
                continue;
            }
            if (reply == link::NAK) {
                outcome = errOK;
                break;
            }
        }
        if (outcome != errOK) continue;
        outcome = SendFrame(AMessage);
        if (outcome != errOK) continue;
        const bool got = FComPort->ReadChar(reply, HandshakeTimeout());
        link::Trace(kCaption, "<- ", reply, got);
        if (!got) continue;
        if (reply == link::ACK) return errOK;
        outcome = errProtocol;
    }
    return outcome;
}

int TCOMProtocol::ReadFrame(TBytes& AFrame, std::uint32_t ATimeout) {
    const std::uint32_t timeout = ATimeout == 0 ? HandshakeTimeout() : ATimeout;
    std::uint8_t b = 0;
    if (!FComPort->ReadChar(b, timeout)) return errNoResponse;
    AFrame.push_back(b);
    if (b != link::STX) return errProtocol;
    if (!FComPort->ReadChar(b, timeout)) return errNoResponse;
    AFrame.push_back(b);
    TBytes rest;
    if (!FComPort->ReadString(std::uint32_t{b} + 1, rest)) return errNoResponse;
    AFrame.insert(AFrame.end(), rest.begin(), rest.end());
    return errOK;
}

int TCOMProtocol::ReceiveAnswer(TBytes& AAnswer, std::uint32_t ATimeout) {
    const int r = ReadFrame(AAnswer, ATimeout);
    link::Trace(kCaption, "<- ", AAnswer, r == errOK);
    if (r != errOK) return errNoResponse;
    switch (link::CheckFrame(AAnswer)) {
        case link::TFrameCheck::BadLength: return errProtocol;
        case link::TFrameCheck::BadCheckByte: WriteControl(link::NAK); return errProtocol;
        case link::TFrameCheck::Good: break;
    }
    WriteControl(link::ACK);
    // A frame without a result-code byte is well formed but no answer.
    return link::CutToAnswerBody(AAnswer) ? errOK : errProtocol;
}

int TCOMProtocol::RunCommand(TBytes& AResponse, const TBytes& AConnectPwd, const TBytes& ACmd,
                             const TBytes& AData, int ATimeout, bool ASendPwd, bool AWaitResponse) {
    AResponse.clear();
    const std::uint32_t timeout = ATimeout <= 0 ? HandshakeTimeout() : static_cast<std::uint32_t>(ATimeout);
    const TBytes message = link::BuildMessage(ACmd, AConnectPwd, AData, ASendPwd);
    if (message.size() > link::kMaxMessage) return errProtocol;
    int r = SendCommand(message);
    if (AWaitResponse && r == errOK) r = ReceiveAnswer(AResponse, timeout);
    if (r != errOK) AResponse.clear();
    return r;
}

}  // namespace fr
