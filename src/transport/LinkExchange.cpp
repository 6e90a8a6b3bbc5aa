#include "transport/LinkExchange.h"

#include <algorithm>
#include <chrono>

#include "framework/ErrorCodes.h"
#include "platform/Deadline.h"
#include "transport/LinkFrame.h"
#include "transport/LinkTimings.h"

namespace fr {
namespace {

using TClock = std::chrono::steady_clock;

TClock::time_point After(int AMs) { return TClock::now() + std::chrono::milliseconds(AMs); }

// The answer echoes the command code: one byte, two when the first is 0xFE or 0xFF.
bool AnswersCommand(const TBytes& AFrame, const TBytes& AMessage) {
    if (AMessage.empty() || AFrame.size() < 4 || AFrame[2] != AMessage[0]) return false;
    if (AMessage[0] < 0xFE) return true;
    return AMessage.size() >= 2 && AFrame.size() >= 5 && AFrame[3] == AMessage[1];
}

// Reads one frame whose STX has arrived and judges it; traced as one unit.
link::TFrameCheck ReadFrame(TLinkLine& ALine, TBytes& AFrame, int ATimeoutMs) {
    AFrame.assign(1, link::STX);
    const bool complete = ALine.ReadFrameRest(AFrame, ATimeoutMs);
    const link::TFrameCheck check = complete ? link::CheckFrame(AFrame) : link::TFrameCheck::BadLength;
    link::Trace(ALine.Caption(), "<- ", AFrame, check == link::TFrameCheck::Good);
    return check;
}

// Before the frame has left: ENQ until the register says it waits for a command (NAK). An
// answer offered here belongs to an earlier command: it is read, acknowledged and dropped.
int WaitUntilReady(TLinkLine& ALine) {
    const int handshake = ALine.HandshakeMs();
    int outcome = ALine.SilentFailure();
    for (int probe = 0; probe < link::kAttempts * link::kProbes; ++probe) {
        ALine.DropStale();
        if (!ALine.WriteControl(link::ENQ)) {
            outcome = ALine.EnqWriteFailure();
            if (ALine.Lost()) return outcome;
            continue;
        }
        std::uint8_t reply = 0;
        if (!ALine.ReadControl(reply, handshake)) {
            outcome = ALine.SilentFailure();
            if (ALine.Lost()) return outcome;
            continue;
        }
        if (reply == link::NAK) return errOK;
        if (reply != link::ACK) continue;  // noise: the next probe drops what follows it
        std::uint8_t stx = 0;
        TBytes old;
        if (!ALine.ReadControl(stx, handshake)) return errNoResponse;
        if (stx != link::STX) return errProtocol;
        if (ReadFrame(ALine, old, handshake) != link::TFrameCheck::Good) {
            ALine.WriteControl(link::NAK);
            continue;
        }
        ALine.WriteControl(link::ACK);
    }
    return outcome;
}

enum class TCollect { Answer, Resend, Failed };

// After the frame has left. Without its ACK (a NAK included: it may be a late reply to an
// earlier ENQ) the register is asked with ENQ before the frame is written again.
TCollect Collect(TLinkLine& ALine, const TBytes& AMessage, int AAnswerTimeoutMs, TClock::time_point ADeadline,
                 bool AAcked, bool AStxFirst, TBytes& AResponse, int& AResult) {
    const int handshake = ALine.HandshakeMs();
    auto answerBy = AAcked ? std::min(After(AAnswerTimeoutMs), ADeadline) : TClock::now();
    bool stx = AStxFirst;
    bool answered = false;  // an answer frame, even a garbled one: the register took the command
    int garbled = 0;
    AResult = errNoResponse;
    for (;;) {
        if (!stx) {
            std::uint8_t b = 0;
            const int wait = MsLeft(answerBy);
            if (wait > 0 && ALine.ReadControl(b, wait)) {
                stx = b == link::STX;
                continue;  // anything else is a stray control byte
            }
            if (ALine.Lost()) return TCollect::Failed;
            const int left = MsLeft(ADeadline);
            if (left == 0) return TCollect::Failed;
            // Ask: ACK means the answer is ready, NAK that the register waits for a command.
            if (!ALine.WriteControl(link::ENQ)) {
                if (ALine.Lost()) return TCollect::Failed;
                answerBy = After(std::min(handshake, left));
                continue;
            }
            const int replyWait = std::min(handshake, left);
            if (!ALine.ReadControl(b, replyWait)) {
                if (ALine.Lost()) return TCollect::Failed;
                answerBy = TClock::now();
                continue;
            }
            if (b == link::STX) {
                stx = true;
            } else if (b == link::ACK) {
                answerBy = After(std::min(AAnswerTimeoutMs, std::max(MsLeft(ADeadline), handshake)));
            } else if (b == link::NAK) {
                if (!answered) return TCollect::Resend;
                AResult = garbled > 0 ? errProtocol : errNoResponse;
                return TCollect::Failed;
            } else {
                answerBy = TClock::now();
            }
            continue;
        }
        stx = false;
        TBytes frame;
        const link::TFrameCheck check = ReadFrame(ALine, frame, handshake);
        answered = true;
        if (check != link::TFrameCheck::Good) {
            if (ALine.Lost()) return TCollect::Failed;
            ALine.WriteControl(link::NAK);
            if (++garbled >= link::kAttempts) {
                AResult = errProtocol;
                return TCollect::Failed;
            }
            // Registers differ: some resend at once, some only at the next ENQ.
            answerBy = std::min(After(LinkTimings().ResendWaitMs), std::max(ADeadline, After(handshake)));
            continue;
        }
        ALine.WriteControl(link::ACK);
        if (!AnswersCommand(frame, AMessage)) {
            answered = false;  // another command's answer says nothing about ours
            continue;
        }
        AResponse = std::move(frame);
        AResult = link::CutToAnswerBody(AResponse) ? errOK : errProtocol;
        return TCollect::Answer;
    }
}

}  // namespace

int RunLinkExchange(TLinkLine& ALine, TBytes& AResponse, const TBytes& AMessage, int AAnswerTimeoutMs,
                    bool AWaitResponse) {
    AResponse.clear();
    if (AMessage.size() > link::kMaxMessage) return errProtocol;
    int r = WaitUntilReady(ALine);
    if (r != errOK) return r;
    const int handshake = ALine.HandshakeMs();
    const int attempts = LinkWriteAttempts();
    for (int write = 0; write < attempts; ++write) {
        const auto deadline = After(AAnswerTimeoutMs + LinkTimings().InquiryBudgetMs);
        const bool written = ALine.WriteFrame(AMessage);
        if (!written && ALine.Lost()) return errNoResponse;
        std::uint8_t reply = 0;
        bool acked = false, stxFirst = false;
        if (written && ALine.ReadControl(reply, std::min(handshake, MsLeft(deadline)))) {
            if (reply == 0xFF) {
                // Some bridges prefix the acknowledgement.
                acked = ALine.ReadControl(reply, handshake) && reply == link::ACK;
            } else if (reply == link::NAK && write + 1 == attempts) {
                return errProtocol;
            } else if (reply != link::NAK) {
                acked = reply == link::ACK;
                stxFirst = reply == link::STX;
            }
        }
        if (!AWaitResponse && acked) return errOK;
        if (ALine.Lost()) return errNoResponse;
        TBytes response;
        switch (Collect(ALine, AMessage, AAnswerTimeoutMs, deadline, acked, stxFirst, response, r)) {
            case TCollect::Answer:
                if (AWaitResponse) AResponse = std::move(response);
                return r;
            case TCollect::Resend: continue;
            case TCollect::Failed: return r;
        }
    }
    // Each write was followed by "waiting for a command": the register never took it.
    return errNoResponse;
}

}  // namespace fr
