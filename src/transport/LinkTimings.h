#pragma once
// Every time constant of the link, in one place. Tests shorten them through SetLinkTimings;
// production code never changes them.

namespace fr {

struct TLinkTimings {
    int HandshakeTimeoutMs = 2000;    // each handshake byte; STX and LEN when the caller passes 0
    int InterByteTimeoutMs = 50;      // silence that ends a serial read
    int PerByteTotalTimeoutMs = 1000; // total budget per byte of a serial read
    int WriteTimeoutMs = 500;         // a serial write
    int ConnectTimeoutMs = 4000;      // a TCP connect
    int ReceiveTimeoutMs = 5000;      // every TCP receive
    // Once a frame has left, the answer is sought (ENQ) for this long past the command's own
    // time-out before the command ends with 1007.
    int InquiryBudgetMs = 2000;
    int ResendWaitMs = 500;           // for an answer resent at once after our NAK
    int MaxStaleBytes = 4096;         // dropped from a stream before an ENQ, at most
    int CommandTimeoutCapMs = 0;      // caps the commands' own time-outs; 0: none (tests only)
};

// A command's time-out as the link applies it (the cap of the current timings).
inline int CappedCommandTimeout(int ATimeoutMs, const TLinkTimings& ATimings) {
    return ATimings.CommandTimeoutCapMs > 0 && ATimeoutMs > ATimings.CommandTimeoutCapMs ? ATimings.CommandTimeoutCapMs
                                                                                          : ATimeoutMs;
}

const TLinkTimings& LinkTimings();

// How often a frame the register did not take is written, at most (this thread). While the driver
// asks what became of a document the question is asked once: the answer is wanted within a bound,
// and an unanswered question only stays open.
int LinkWriteAttempts();
class TScopedSingleWrite {
public:
    TScopedSingleWrite();
    ~TScopedSingleWrite();
    TScopedSingleWrite(const TScopedSingleWrite&) = delete;
    TScopedSingleWrite& operator=(const TScopedSingleWrite&) = delete;

private:
    int FSaved;
};
void SetLinkTimings(const TLinkTimings& t);

// Restores the production values when it goes out of scope (for tests).
class TScopedLinkTimings {
public:
    explicit TScopedLinkTimings(const TLinkTimings& t) : FSaved(LinkTimings()) { SetLinkTimings(t); }
    ~TScopedLinkTimings() { SetLinkTimings(FSaved); }
    TScopedLinkTimings(const TScopedLinkTimings&) = delete;
    TScopedLinkTimings& operator=(const TScopedLinkTimings&) = delete;

private:
    TLinkTimings FSaved;
};

}  // namespace fr
