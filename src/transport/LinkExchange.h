#pragma once
// One command over the framed link, shared by the serial and the TCP link.
//
// The rule it keeps: once the command's frame has been written, the register may have carried
// it out, so the frame is written again only after the register has said it did not take it
// (NAK to the frame, or NAK to an ENQ before any answer was seen). Everything else — no ACK, a
// lost or garbled answer, an answer to another command — is resolved by reading: the answer
// resent after our NAK (at once or at the next ENQ), or collected with ENQ, within the
// command's time-out plus LinkTimings().InquiryBudgetMs.

#include <cstdint>

#include "platform/Bytes.h"

namespace fr {

// What a link offers the exchange. Each call traces what it moved on the line.
class TLinkLine {
public:
    virtual ~TLinkLine() = default;
    virtual const char* Caption() const = 0;
    // Drops input nobody asked for (serial purge; a bounded drain on a stream).
    virtual void DropStale() = 0;
    virtual bool WriteControl(std::uint8_t AByte) = 0;
    virtual bool ReadControl(std::uint8_t& AByte, int ATimeoutMs) = 0;
    virtual bool WriteFrame(const TBytes& AMessage) = 0;
    // LEN and what follows, STX already read; appends to AFrame. False when LEN or the first
    // following byte did not arrive.
    virtual bool ReadFrameRest(TBytes& AFrame, int ATimeoutMs) = 0;
    // The connection is gone: nothing more can arrive on it.
    virtual bool Lost() const { return false; }
    virtual int HandshakeMs() const = 0;
    // Results when the frame never left: an ENQ that could not be written, a silent register.
    virtual int EnqWriteFailure() const = 0;
    virtual int SilentFailure() const = 0;
};

// 0 with AResponse = the answer body (result code first), or 1007 / 1014 / the link's own codes.
// AAnswerTimeoutMs bounds the wait for the answer after the frame's ACK.
int RunLinkExchange(TLinkLine& ALine, TBytes& AResponse, const TBytes& AMessage, int AAnswerTimeoutMs,
                    bool AWaitResponse);

}  // namespace fr
