#include "transport/ComProtocol.h"

#include "framework/ErrorCodes.h"
#include "transport/LinkExchange.h"
#include "transport/LinkFrame.h"
#include "transport/LinkTimings.h"

namespace fr {
namespace {

constexpr const char* kCaption = "TCOMProtocol";

int HandshakeTimeout() { return LinkTimings().HandshakeTimeoutMs; }

}  // namespace

// The serial port as the exchange sees it.
class TCOMProtocol::TLine : public TLinkLine {
public:
    explicit TLine(TComPort& APort) : FPort(APort) {}
    const char* Caption() const override { return kCaption; }
    void DropStale() override { FPort.Purge(true); }
    bool WriteControl(std::uint8_t AByte) override {
        const bool ok = FPort.WriteChar(AByte);
        link::Trace(kCaption, "-> ", AByte, ok);
        return ok;
    }
    bool ReadControl(std::uint8_t& AByte, int ATimeoutMs) override {
        const bool got = FPort.ReadChar(FLast, static_cast<std::uint32_t>(ATimeoutMs > 0 ? ATimeoutMs : 1));
        // The frame an STX begins is traced whole.
        if (!got) link::TraceSilence(kCaption, ATimeoutMs > 0 ? ATimeoutMs : 1);
        else if (FLast != link::STX) link::Trace(kCaption, "<- ", FLast, true);
        AByte = FLast;
        return got;
    }
    bool WriteFrame(const TBytes& AMessage) override {
        const TBytes frame = link::BuildFrame(AMessage);
        const bool ok = FPort.WriteStr(frame);
        link::Trace(kCaption, "-> ", frame, ok);
        return ok;
    }
    bool ReadFrameRest(TBytes& AFrame, int ATimeoutMs) override {
        std::uint8_t len = 0;
        if (!FPort.ReadChar(len, static_cast<std::uint32_t>(ATimeoutMs > 0 ? ATimeoutMs : 1))) return false;
        AFrame.push_back(len);
        TBytes rest;
        const bool complete = FPort.ReadString(std::uint32_t{len} + 1, rest);
        AFrame.insert(AFrame.end(), rest.begin(), rest.end());
        return complete;
    }
    int HandshakeMs() const override { return HandshakeTimeout(); }
    int EnqWriteFailure() const override { return errNoResponse; }
    int SilentFailure() const override { return errNoResponse; }

private:
    TComPort& FPort;
    std::uint8_t FLast = 0;
};

TCustomCOMProtocol::TCustomCOMProtocol(TComPort* AComPort) : FComPort(AComPort) {}

TCOMProtocol::TCOMProtocol(TComPort* AComPort) : TCustomCOMProtocol(AComPort) {}

int TCOMProtocol::RunCommand(TBytes& AResponse, const TBytes& AConnectPwd, const TBytes& ACmd,
                             const TBytes& AData, int ATimeout, bool ASendPwd, bool AWaitResponse) {
    AResponse.clear();
    const int timeout = CappedCommandTimeout(ATimeout <= 0 ? HandshakeTimeout() : ATimeout, LinkTimings());
    const TBytes message = link::BuildMessage(ACmd, AConnectPwd, AData, ASendPwd);
    TLine line(*FComPort);
    return RunLinkExchange(line, AResponse, message, timeout, AWaitResponse);
}

}  // namespace fr
