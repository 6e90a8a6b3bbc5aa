#pragma once
// frsim: a simulated cash register with a fiscal storage, for tests and for developing 1C
// configurations without hardware.
//
// TSimulator owns the register model and serves the register's side of the framed link:
//   - StartTcp(port)  listens on 127.0.0.1 (port 0 picks a free port; the port is returned);
//   - StartPty(com)   opens a pseudo-terminal and returns the slave path; with com > 0 it also
//                     links <CommonAppDataDir()>fr_tarvikonline1c83/COM<com> to that path;
//   - Execute(msg)    runs one command message in-process, without any link.
// One background thread serves the link (one host connection at a time: a new TCP client
// replaces an idle one). Stop() (and the destructor) ends it and removes the COM link.
//
// StartTcp, StartPty and Stop belong to the owning thread. Every other member is the control
// interface; each is safe to call from any thread while the link is served. Faults (TFault) act on the link for matching command frames. The paper tape
// records what the register printed. SaveJson/LoadJson keep the register's state (clock,
// shift, counters, tables, fiscal documents, tape) between runs.
//
// Link behaviour: ENQ is answered with NAK, or with ACK followed by the answer when an answer
// was not collected. A frame with a good check byte is acknowledged with ACK and answered; a
// bad one gets NAK. The answer is resent on NAK (up to TLinkTimings::MaxResends times) and
// kept for collection by ENQ when the host does not acknowledge it. Where registers differ
// (resend at once or at ENQ, an uncollected answer kept or lost on a new connection),
// SetLinkBehaviour chooses.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "platform/Bytes.h"

namespace fr::sim {

enum class TFaultKind {
    Silence,           // the frame is ignored: no ACK, no answer, not executed
    Nak,               // the frame is answered with NAK, not executed
    BadCheck,          // the answer goes out with a wrong check byte (a resend after NAK is good)
    NoAck,             // executed, but neither ACK nor answer is sent; the answer waits for ENQ
    Uncollected,       // ACK sent and executed; the answer is not sent and waits for ENQ
    Split,             // the answer is sent in pieces of PieceSize bytes paced at BitRate
    Delay,             // DelayMs pass between the ACK and the answer
    Disconnect,        // ACK, executed, half of the answer, then the connection is dropped
    Refuse,            // answered with result Code, not executed
    DropAfterExecute,  // ACK, executed (e.g. a receipt fiscalised), connection dropped, no answer
    Deaf,              // the frame is ignored, not executed, and so is every ENQ until the next
                       // frame or DelayMs: the host cannot tell whether the command was carried out
};

// The fault's name as the control commands and the fault listing spell it ("noack", "drop").
const char* FaultKindName(TFaultKind kind);

struct TFault {
    TFaultKind Kind = TFaultKind::Silence;
    // Command code the fault applies to (0x10, 0xFF45 for two-byte codes); empty: any command.
    std::optional<std::uint16_t> Command;
    // Number of matching frames it applies to; 0 = every matching frame until cleared.
    int Count = 1;
    int Code = 0;         // Refuse
    int DelayMs = 0;      // Delay; Deaf: how long ENQ goes unanswered (0: till the next frame)
    int BitRate = 9600;   // Split: 10 bits per byte
    int PieceSize = 1;    // Split
    // Matching frames let through untouched before the fault acts (a fault at a chosen frame).
    // Last, so that positional initialisers of the fields above keep their meaning.
    int After = 0;
};

struct TTapeEntry {
    enum class TKind { Line, Ean13, Qr, Feed, Cut };
    TKind Kind = TKind::Line;
    std::uint8_t Flags = 0;  // Line: the command's flags byte; Cut: 0 full, 1 partial
    std::string Text;        // Line: UTF-8 text; Ean13: 13 digits; Qr: the data as UTF-8
    int Count = 0;           // Feed: lines fed; Qr: module size; Line: 1 bold, 2 font, 3 title
};

struct TLinkTimings {
    std::chrono::milliseconds ByteTimeout{1000};  // between bytes of an incoming frame
    std::chrono::milliseconds AckTimeout{2000};   // for the host's ACK after an answer
    int MaxResends = 3;                           // answers resent on NAK
};

// How the register's side of the link behaves where registers differ.
struct TLinkBehaviour {
    bool ResendAtOnce = true;           // a NAKed answer is resent at once (else at the next ENQ)
    bool KeepAnswerOnReconnect = true;  // an uncollected answer is offered to the next TCP host
};

// A fiscal document as the fiscal storage holds it, for checking what was registered.
struct TSimDocument {
    std::uint32_t Number = 0;
    std::uint16_t Type = 0;  // 2 shift open, 3 receipt, 5 shift close, 21 settlements, 31 correction
    std::uint32_t Sign = 0;
    std::int64_t Total = -1;  // 1020 in kopecks; -1 when the document has none
    struct TPosition {
        TBytes Name;  // 1030, OEM text
        std::uint64_t Sum = 0;  // 1043 in kopecks
    };
    std::vector<TPosition> Positions;  // 1059, in order
};

// A snapshot for tests and the control interface.
struct TSimStatus {
    int Mode = 0;  // full mode byte (2 open, 3 expired, 4 closed, 8 + type<<4 receipt, 1 output)
    int Submode = 0;
    bool Fiscal = false;
    bool FnClosed = false;
    bool ShiftOpen = false;
    int ShiftNumber = 0;
    int ReceiptNumber = 0;
    std::uint32_t LastDocument = 0;
    int Backlog = 0;
    std::int64_t CashKopecks = 0;
    std::int64_t Clock = 0;  // the register's clock, seconds since 1970 (its local time)
    int LineWidth = 0;
    bool Paper = true;
    int Connections = 0;  // host connections accepted so far
    int Commands = 0;     // command frames handled so far
};

class TRegister;
class TLinkServer;

class TSimulator {
public:
    using TSteadyNow = std::function<std::chrono::steady_clock::time_point()>;

    // SteadyNow drives the register's running clock and its printing time (tests inject one).
    explicit TSimulator(TLinkTimings timings = {}, TSteadyNow steadyNow = {});
    ~TSimulator();
    TSimulator(const TSimulator&) = delete;
    TSimulator& operator=(const TSimulator&) = delete;

    // Serving; throws EFrError (EOSError) when the socket or terminal cannot be set up.
    std::uint16_t StartTcp(std::uint16_t port = 0);
    std::string StartPty(int comNumber = 0);
    std::string ComLinkPath() const;  // empty when no COM link was made
    void Stop();
    bool Running() const;

    // One command message (code, password, data) to one answer message (code, result, data).
    TBytes Execute(const TBytes& message);

    // Control: state.
    void SetFiscal(bool fiscal);   // true registers the FN with default data (document 1)
    void OpenShift();              // as the register's own shift opening; needs a fiscal FN
    void SetLineWidth(int width);  // table 9, field 3
    void SetClock(std::int64_t unixTime);
    void AdvanceClock(std::int64_t seconds);
    void SetClockRunning(bool running);
    void SetPaper(bool loaded);           // loading after paper ran out gives submode 3
    void SetPaperOutAfter(int lines);     // -1: unlimited paper
    void SetPrintMillis(int ms);          // submode 5 after each printed document
    void SetFnWarnings(std::uint8_t flags);
    void SetPassword(std::uint32_t password);
    void MarkDocumentsSent();             // clears the backlog of documents for the operator
    TSimStatus Status() const;
    // Waits until the status after a handled command satisfies the condition (also checked at once); false
    // when the time-out passed first. For tests that act at a chosen point of another process's run.
    bool WaitUntil(const std::function<bool(const TSimStatus&)>& condition, std::chrono::milliseconds timeout) const;
    // Every document in the fiscal storage, oldest first.
    std::vector<TSimDocument> Documents() const;
    void SetLinkBehaviour(const TLinkBehaviour& behaviour);
    TLinkBehaviour LinkBehaviour() const;

    // Control: faults.
    void AddFault(const TFault& fault);
    // Ends a delay in progress (a late answer goes out now): after a test killed the host that
    // waited for it, the register need not stay busy for the rest of the delay.
    void EndDelay();
    void ClearFaults();
    std::vector<TFault> Faults() const;

    // Paper tape.
    std::vector<TTapeEntry> Tape() const;
    std::string TapeText() const;  // one line per entry; cuts and barcodes as marked lines
    void ClearTape();

    // State.
    nlohmann::json SaveJson() const;
    void LoadJson(const nlohmann::json& state);  // throws EFrError on a malformed state
    void SaveFile(const std::string& path) const;
    void LoadFile(const std::string& path);

    // One line of the text control interface (see ControlHelp()); returns the reply text.
    std::string Control(const std::string& line);
    static std::string ControlHelp();

    // Parses a fault written as "KIND[:CMD][xCOUNT][=ARG]" (see ControlHelp()).
    static std::optional<TFault> ParseFault(const std::string& text);

private:
    struct TShared;
    static std::unique_ptr<TLinkServer> MakeLink(const std::shared_ptr<TShared>& shared, TLinkTimings t);
    std::shared_ptr<TShared> FShared;
    std::unique_ptr<TLinkServer> FLink;
    std::string FComLink;
    TLinkTimings FTimings;
};

}  // namespace fr::sim
