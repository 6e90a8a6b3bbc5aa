#include "driver/DocumentRecovery.h"

#include <fmt/format.h>

#include "framework/ErrorCodes.h"
#include "framework/Log.h"
#include "transport/LinkTimings.h"

namespace fr {
namespace {

constexpr std::int32_t kResultPrintingPrevious = 80;
constexpr const char* kLogCaption = "TDriver";
// A stored document is read TLV by TLV; a register that never ends it cannot hold the host.
constexpr int kMaxTlvReads = 1024;

std::uint64_t LittleEndian(const TBytes& AData, std::size_t AFrom, std::size_t ACount) {
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < ACount && AFrom + i < AData.size() && i < 8; ++i)
        v |= std::uint64_t{AData[AFrom + i]} << (8 * i);
    return v;
}

}  // namespace

// Unclear: the link failed (1007, 1014, the TCP link's 600..607), or the register was still
// printing (80) and gave no document number. Anything else is an answer that refused.
bool IsPlainRefusal(std::int32_t AResult) {
    const bool unclear = AResult == errNoResponse || AResult == errProtocol || (AResult >= 600 && AResult <= 607) ||
                         AResult == kResultPrintingPrevious;
    return AResult != 0 && !unclear;
}

std::int32_t QueryOnFreshLinkAfterFailure(const std::function<std::int32_t()>& ASteps,
                                          const std::function<std::int32_t(std::int32_t)>& AReconnect) {
    std::int32_t r = ASteps();
    if (r == 0 || IsPlainRefusal(r)) return r;
    r = AReconnect(r);
    return r == 0 ? ASteps() : r;
}

std::int32_t ReadLastDocumentNumber(TDevice& ADevice, std::int64_t& ANumber) {
    std::uint8_t life = 0, current = 0, data = 0, session = 0, warnings = 0;
    return ADevice.GetFNCurrentStatus(life, current, data, session, warnings, ANumber);
}

std::int32_t ReadDocumentSign(TDevice& ADevice, std::int64_t ANumber, std::string& AFiscalSign,
                              std::int64_t& ATotal) {
    AFiscalSign.clear();
    ATotal = -1;
    std::int32_t type = 0, length = 0;
    std::int32_t r = ADevice.GetFNRequestFiscalDocumentTLV(static_cast<std::int32_t>(ANumber), type, length);
    if (r != 0) return r;
    std::int64_t number = -1;
    for (int i = 0; i < kMaxTlvReads; ++i) {
        TBytes tlv;
        if (ADevice.GetFNReadFiscalDocumentTLV(tlv) != 0 || tlv.size() < 4) break;
        const auto tag = LittleEndian(tlv, 0, 2);
        const std::size_t len = std::min<std::size_t>(LittleEndian(tlv, 2, 2), tlv.size() - 4);
        if (tag == 1040) number = static_cast<std::int64_t>(LittleEndian(tlv, 4, len));
        if (tag == 1020) ATotal = static_cast<std::int64_t>(LittleEndian(tlv, 4, len));
        if (tag == 1077 && len >= 4) {
            // Six bytes; the sign is the last four, most significant first.
            std::uint32_t sign = 0;
            for (std::size_t k = len - 4; k < len; ++k) sign = sign << 8 | tlv[4 + k];
            AFiscalSign = std::to_string(sign);
        }
    }
    // Leave the data-output mode whatever happened.
    ADevice.UnlockDataOutputMode();
    if (AFiscalSign.empty() || (number >= 0 && number != ANumber)) return errProtocol;
    return 0;
}

TFiscalOutcome ResolveDocument(TDevice& ADevice, const std::function<std::int32_t()>& AReconnect,
                               std::int64_t ABefore, std::int64_t AExpectedTotal) {
    TScopedSingleWrite once;
    TFiscalOutcome out;
    std::int32_t r = AReconnect ? AReconnect() : 0;
    std::int64_t last = 0;
    if (r == 0) r = ReadLastDocumentNumber(ADevice, last);
    if (r != 0) {
        out.Result = r;
        return out;
    }
    if (last <= ABefore) {
        out.State = TFiscalOutcome::TState::NotRegistered;
        return out;
    }
    // The first document after ABefore is the one in question; later ones may be others'.
    out.Number = ABefore + 1;
    r = ReadDocumentSign(ADevice, out.Number, out.FiscalSign, out.Total);
    if (r != 0 || (AExpectedTotal >= 0 && out.Total != AExpectedTotal)) {
        TLog::Append(kLogCaption,
                     fmt::format("document {} cannot be matched: read [{}], total {} against {}", out.Number, r, out.Total,
                                 AExpectedTotal),
                     TLog::mtError);
        out.Result = r != 0 ? r : errProtocol;
        return out;
    }
    out.State = TFiscalOutcome::TState::Registered;
    TLog::Append(kLogCaption,
                 fmt::format("WARNING: the answer was lost; document recovered from the fiscal storage: ФД {}, ФП {}",
                             out.Number, out.FiscalSign),
                 TLog::mtInfo);
    return out;
}

namespace {

// The intent's document looked for in the fiscal storage on a fresh link.
TFiscalOutcome SettleIntentNow(TDevice& ADevice, const std::function<std::int32_t()>& AReconnect, TIntent& AIntent) {
    TScopedSingleWrite once;
    TFiscalOutcome out;
    std::int32_t r = AReconnect ? AReconnect() : 0;
    const TSettlement s = r == 0 ? SettleFromRegister(ADevice, AIntent, r) : TSettlement::Unknown;
    out.Result = r;
    if (s == TSettlement::NotRegistered) {
        out.State = TFiscalOutcome::TState::NotRegistered;
        AIntent.State = TIntent::TState::NotRegistered;
    }
    if (s == TSettlement::Registered) {
        AIntent.State = TIntent::TState::Registered;
        out.State = TFiscalOutcome::TState::Registered;
        out.Number = AIntent.Number;
        out.FiscalSign = AIntent.FiscalSign;
        TLog::Append(kLogCaption,
                     fmt::format("WARNING: the answer was lost; document recovered from the fiscal storage: ФД {}, ФП {}",
                                 out.Number, out.FiscalSign),
                     TLog::mtInfo);
    }
    return out;
}

}  // namespace

std::int32_t RunFinalCommand(TDevice& ADevice, TFinalCommand& C) {
    std::int64_t before = 0;
    std::int32_t r = ReadLastDocumentNumber(ADevice, before);
    if (r != 0) return r;
    C.NumberBefore = before;
    TIntent* intent = C.Intents ? C.Intents->Draft() : nullptr;
    if (intent) {
        // On the disk before the command leaves: a host killed now still finds out later.
        intent->NumberBefore = before;
        intent->State = TIntent::TState::Pending;
        C.Intents->Record();
    }
    const std::string notRegistered = C.DocumentName + " НЕ зарегистрирован";
    for (int attempt = 0; attempt < 2; ++attempt) {
        std::string sign;
        std::int64_t number = 0;
        r = C.Close(sign, number);
        if (r == 0 && (!C.AnswerHasNumbers || (number > before && !sign.empty() && sign != "0"))) {
            C.Number = number;
            C.FiscalSign = sign;
            if (intent) {
                intent->State = TIntent::TState::Registered;
                intent->Number = C.AnswerHasNumbers ? number : before + 1;
                intent->FiscalSign = sign;
            }
            return 0;
        }
        if (IsPlainRefusal(r)) {
            if (intent) intent->State = TIntent::TState::NotRegistered;
            return r;
        }
        const TFiscalOutcome outcome = intent ? SettleIntentNow(ADevice, C.Reconnect, *intent)
                                              : ResolveDocument(ADevice, C.Reconnect, before, C.ExpectedTotal);
        if (outcome.State == TFiscalOutcome::TState::Registered) {
            C.Number = outcome.Number;
            C.FiscalSign = outcome.FiscalSign;
            C.Recovered = true;
            return 0;
        }
        const std::int32_t failure = r != 0 ? r : errProtocol;
        if (outcome.State == TFiscalOutcome::TState::Unknown) {
            C.Text = kTextUnknown;
            return failure;
        }
        if (intent) intent->State = TIntent::TState::NotRegistered;
        // Provably not carried out: running it again is safe, once.
        if (attempt == 0 && C.StillOpen && C.StillOpen()) continue;
        C.Text = notRegistered;
        return failure;
    }
    C.Text = notRegistered;
    return r != 0 ? r : errProtocol;
}

}  // namespace fr
