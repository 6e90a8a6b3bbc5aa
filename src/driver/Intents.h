#pragma once
// Intents: what a document-making operation is about to make, written to disk before its final
// command goes out and settled from the fiscal storage once the outcome can be known. A host killed
// in between leaves the intent behind, and the next driver on that register settles it before
// anything else, so no document is lost, reported twice or taken for another's.
//
// An intent is a small text file of "key=value" lines, one per register (register-<port>.txt), in a
// folder of the OS user's own (see TDriver::IntentPath):
//   fr-intent 1
//   id=<16 hex digits>          random, told apart in the log
//   operation=ProcessCheck      the host method
//   register=tcp_127.0.0.1_7778 the port the register is reached on
//   reference=<text>            the caller's own reference (the service's job id), may be empty
//   time=<seconds since 1970>
//   state=pending|registered|not-registered
//   before=<n>                  the fiscal storage's last document number before the final command
//   type=<n>                    the fiscal document type; 0 for cash in or out
//   sign=<n> total=<kopecks>    1054 and 1020 of a receipt or correction (0 and -1: not checked)
//   position=<qty>;<sum>;<name> each position as the document holds it (millionths, kopecks, UTF-8)
//   fingerprint=<16 hex digits> the content that makes the sale, for recognising a retry
//   cash-before=<kopecks> cash-change=<kopecks>   cash in or out
//   number=<n> fiscal-sign=<n>  once registered
//   told=0|1                    a call has answered success with this document

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "device/Device.h"

namespace fr {

struct TIntentPosition {
    std::string Name;            // UTF-8
    std::uint64_t Quantity = 0;  // millionths
    std::uint64_t Sum = 0;       // kopecks
    bool operator==(const TIntentPosition&) const = default;
};

struct TIntent {
    enum class TState { Pending, Registered, NotRegistered };
    std::string Id;
    std::string Operation;
    std::string Register;
    std::string Reference;
    std::int64_t Time = 0;
    TState State = TState::Pending;
    std::int64_t NumberBefore = -1;
    int DocumentType = 0;
    int SettlementSign = 0;
    std::int64_t Total = -1;
    std::vector<TIntentPosition> Positions;
    std::string Fingerprint;
    std::int64_t CashBefore = -1;
    std::int64_t CashChange = 0;
    std::int64_t Number = 0;
    std::string FiscalSign;
    bool Told = false;
};

std::string IntentText(const TIntent& AIntent);
// nullopt for a text that is not an intent (a damaged or foreign file).
std::optional<TIntent> ParseIntent(std::string_view AText);
const char* IntentStateName(TIntent::TState AState);

// A 64-bit FNV-1a hash of the fields added, each ended by a separator: stable across processes
// and builds, unlike std::hash.
class TFingerprint {
public:
    TFingerprint& Add(std::string_view AField);
    TFingerprint& Add(std::int64_t AValue);
    std::string Text() const;

private:
    std::uint64_t FHash = 14695981039346656037ull;
};

// A fiscal document as the fiscal storage gives it back.
struct TStoredDocument {
    int Type = 0;
    std::int64_t Number = -1;  // 1040
    std::string FiscalSign;    // 1077 as decimal text
    std::int64_t Total = -1;   // 1020
    int SettlementSign = 0;    // 1054
    std::vector<TIntentPosition> Positions;
};

// Reads document ANumber TLV by TLV (leaving the data-output mode afterwards).
std::int32_t ReadStoredDocument(TDevice& ADevice, std::int64_t ANumber, TStoredDocument& ADocument);

// Whether ADocument is the one AIntent was about: its type, and for receipts and corrections the
// settlement sign, the total and each position's name, quantity and sum. Names are compared in the
// register's single-byte form, as far as the shorter goes (the register may cut a long name).
bool MatchesIntent(const TIntent& AIntent, const TStoredDocument& ADocument);

// Documents after the number read before a final command that are looked at: ours is among the
// first few, for only the documents other hosts made during one operation can precede it.
inline constexpr int kIntentSearchWindow = 16;

enum class TSettlement { Registered, NotRegistered, Unknown };
// Finds out from the register what became of a pending intent: the fiscal storage's documents after
// its number (or, for cash in or out, the cash in the till). Fills Number and FiscalSign when
// registered; AFailure is the result that left it unknown.
TSettlement SettleFromRegister(TDevice& ADevice, TIntent& AIntent, std::int32_t& AFailure);

// Intents written and settled in this process, for the soak and the service's figures.
struct TIntentCounts {
    std::atomic<long> Written{0}, Registered{0}, NotRegistered{0};
};
TIntentCounts& IntentCounts();

// The cash in the till (money register 241) in kopecks.
inline constexpr std::uint8_t kCashInTillRegister = 241;

}  // namespace fr
