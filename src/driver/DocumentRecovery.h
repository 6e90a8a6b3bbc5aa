#pragma once
// What became of a fiscal document whose final command did not end in a clear answer.
//
// Before the final command of a fiscal document the fiscal storage's last document number is read
// (FF 01). When the command then ends in anything but a plain refusal (a link failure, a short
// answer, "printing the previous command"), the number is read again, over TCP on a fresh
// connection: advanced means registered, and the document is read back for its number, fiscal
// sign and total; unchanged means not registered; unreadable means unknown.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "device/Device.h"
#include "driver/Intents.h"

namespace fr {

// Where a document-making operation keeps its intent: the driver; none in unit tests.
class TIntentKeeper {
public:
    virtual ~TIntentKeeper() = default;
    // The running operation's intent, its content filled in; nullptr when none is kept.
    virtual TIntent* Draft() = 0;
    // Writes the draft to disk as the register's intent, replacing the one before.
    virtual void Record() = 0;
    // A retried operation whose document turned out registered: that document's number.
    virtual std::optional<std::int64_t> Retried() const = 0;
};

// A refusal by the register itself: the command was not carried out.
bool IsPlainRefusal(std::int32_t AResult);

// Queries after a registered document: ASteps, and after a link failure once more on a fresh link
// from AReconnect (given the failure; over TCP the connection may have gone with it). The result
// of the last try.
std::int32_t QueryOnFreshLinkAfterFailure(const std::function<std::int32_t()>& ASteps,
                                          const std::function<std::int32_t(std::int32_t)>& AReconnect);

struct TFiscalOutcome {
    enum class TState { Registered, NotRegistered, Unknown };
    TState State = TState::Unknown;
    std::int64_t Number = 0;
    std::string FiscalSign;
    std::int64_t Total = -1;  // 1020 in kopecks, -1 when the document has none
    std::int32_t Result = 0;  // the failure that left it unknown
};

// FF 01: the number of the last document in the fiscal storage.
std::int32_t ReadLastDocumentNumber(TDevice& ADevice, std::int64_t& ANumber);

// Reads document ANumber back: its fiscal sign (1077, as decimal text) and total (1020).
std::int32_t ReadDocumentSign(TDevice& ADevice, std::int64_t ANumber, std::string& AFiscalSign, std::int64_t& ATotal);

// Finds out whether a document was registered after ABefore. AReconnect gives a fresh link first
// (over TCP a new connection; it may do nothing). AExpectedTotal (kopecks, -1: none) must match the
// document's 1020 for it to count as ours.
TFiscalOutcome ResolveDocument(TDevice& ADevice, const std::function<std::int32_t()>& AReconnect,
                               std::int64_t ABefore, std::int64_t AExpectedTotal);

// The final command of a fiscal document, run so that the host is told the truth.
struct TFinalCommand {
    std::string DocumentName;         // "Чек", for the texts
    std::int64_t ExpectedTotal = -1;  // kopecks; -1: not checked
    // Whether the command's own answer carries the number and fiscal sign (a receipt's does, a
    // shift report's does not).
    bool AnswerHasNumbers = true;
    std::function<std::int32_t()> Reconnect;
    std::function<std::int32_t(std::string& AFiscalSign, std::int64_t& ANumber)> Close;
    // May be empty: then the command is never run a second time.
    std::function<bool()> StillOpen;
    // Where the intent is kept; nullptr: none (the first document after the number before is
    // taken as ours, checked by its total only).
    TIntentKeeper* Intents = nullptr;
    // Out.
    std::int64_t NumberBefore = -1;
    std::int64_t Number = 0;
    std::string FiscalSign;
    bool Recovered = false;
    std::string Text;  // for the result's description
};

// Reads FF 01, runs Close, and when it ends in anything but a plain refusal or a clear answer,
// finds out what happened (ResolveDocument); a document provably not formed is closed again
// once when StillOpen says it can be. 0 means registered, with Number and FiscalSign set when
// known.
std::int32_t RunFinalCommand(TDevice& ADevice, TFinalCommand& ACommand);

// Texts appended to the result's description.
inline constexpr const char* kTextNotRegistered = "Документ НЕ зарегистрирован";
inline constexpr const char* kTextUnknown =
    "Неизвестно, зарегистрирован ли документ: нет связи с ККТ. Не повторяйте его, пока связь не "
    "восстановлена: следующая операция выяснит это по ФН";

}  // namespace fr
