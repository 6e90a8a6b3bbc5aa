// Shifts, cash and reports, and the register's current status.

#include <ctime>
#include <functional>

#include <fmt/format.h>

#include "driver/DocumentRecovery.h"
#include "driver/ReportOperations.h"
#include "framework/Log.h"
#include "platform/Encoding.h"

namespace fr {
namespace {

constexpr std::int32_t kResultShiftOpen = 3015;     // "Смена открыта"
constexpr std::int32_t kResultShiftExpired = 3002;  // "Длительность смены превысила 24 часа..."
constexpr std::int32_t kResultPrintingPrevious = 80;

// The operation registers that count the shift's receipts by type.
constexpr std::uint8_t kReceiptCountRegisters[] = {144, 145, 146, 147};

// IsDayOpened's states.
constexpr std::uint8_t kShiftOpen = 1, kShiftExpired = 2;
// The register's mode (full state) while its shift is older than 24 hours.
constexpr std::uint8_t kModeShiftExpired = 3;

// The FN warning flags reported after a shift is opened.
constexpr std::uint8_t kWarnUrgentReplacement = 0x01, kWarnResourcesExhaustion = 0x02,
                       kWarnMemoryOverflow = 0x04, kWarnOFDTimeout = 0x08;

// The register keeps two documents of its own beyond the receipts it counts (shift opening and
// closing), so the documents of a shift are its receipts plus two.
constexpr std::int64_t kShiftServiceDocuments = 2;

TBytes OemCashier(const std::string& AName) { return Utf8ToSingleByte(AName, CodePage::Cp866); }
// Empty (so the register gets no 1203) when the INN is blank: padding would send 12 spaces.
TBytes PaddedVATIN(const std::string& AVATIN) {
    if (TrimText(AVATIN).empty()) return {};
    return Utf8ToSingleByte(PadText(AVATIN, 12));
}

const char* BoolText(bool AValue) { return AValue ? "true" : "false"; }

// A new document: <?xml version="1.0"?><ARoot><Parameters/></ARoot>; returns "Parameters".
pugi::xml_node NewOutputDocument(pugi::xml_document& ADoc, const char* ARoot) {
    ADoc.reset();
    pugi::xml_node decl = ADoc.append_child(pugi::node_declaration);
    decl.append_attribute("version") = "1.0";
    return ADoc.append_child(ARoot).append_child("Parameters");
}

struct TBacklog {
    std::int32_t Count = 0;
    std::int64_t FirstNumber = 0;
    TDateTime FirstDateTime = 0;
};

void AddBacklog(pugi::xml_node AParams, const TBacklog& ABacklog) {
    AParams.append_attribute("BacklogDocumentsCounter") = std::to_string(ABacklog.Count).c_str();
    AParams.append_attribute("BacklogDocumentFirstNumber") = std::to_string(ABacklog.FirstNumber).c_str();
    AParams.append_attribute("BacklogDocumentFirstDateTime") = IsoDateTimeText(ABacklog.FirstDateTime).c_str();
}

void BuildShiftReportDocument(pugi::xml_document& ADoc, std::int64_t AChecks, std::int64_t AReceiptNumber,
                              const TBacklog& ABacklog) {
    pugi::xml_node params = NewOutputDocument(ADoc, "OutputParameters");
    params.append_attribute("NumberOfChecks") = std::to_string(AChecks).c_str();
    params.append_attribute("NumberOfDocuments") = std::to_string(AReceiptNumber + kShiftServiceDocuments).c_str();
    AddBacklog(params, ABacklog);
}

// What a shift report's output parameters hold before anything is read after the report.
void StartShiftReportDocument(pugi::xml_document& ADoc, std::int64_t AChecks) {
    NewOutputDocument(ADoc, "OutputParameters").append_attribute("NumberOfChecks") = std::to_string(AChecks).c_str();
}

// The session and the backlog read after a shift report, and its output parameters built from them.
std::int32_t ReadShiftReportDocument(TDevice& D, std::int64_t AChecks, std::int64_t& ASessionNumber,
                                     pugi::xml_document& ADoc) {
    std::uint8_t sessionState = 0;
    std::int64_t receiptNumber = 0;
    if (const std::int32_t r = D.GetCurrentSessionParams(sessionState, ASessionNumber, receiptNumber)) return r;
    TBacklog backlog;
    if (const std::int32_t r = D.GetFNInfoExchangeStatus(backlog.Count, backlog.FirstNumber, backlog.FirstDateTime))
        return r;
    BuildShiftReportDocument(ADoc, AChecks, receiptNumber, backlog);
    return 0;
}

std::int32_t ReadReceiptCount(TDevice& D, std::int64_t& ACount) {
    ACount = 0;
    for (std::uint8_t reg : kReceiptCountRegisters) {
        std::int32_t value = 0;
        if (const std::int32_t r = D.GetOperationRegAsInt(reg, value)) return r;
        ACount += value;
    }
    return 0;
}

// Unlock, finish an interrupted print, cancel a receipt left open: the start of every printed report.
std::int32_t PrepareForDocument(TOperationContext& C) {
    C.Device().UnlockDataOutputMode();
    if (const std::int32_t r = C.CheckPrintState()) return r;
    return C.Device().CancelReceipt();
}


}  // namespace

std::int32_t RunReport(TOperationContext& C, const char* AOperation, const char* ADocumentName,
                       const std::function<std::int32_t()>& ACommand,
                       const std::function<std::int32_t(std::int64_t)>& AReads) {
    TFinalCommand final;
    final.DocumentName = ADocumentName;
    final.AnswerHasNumbers = false;
    final.Reconnect = [&] { return C.Reconnect(); };
    final.Close = [&](std::string&, std::int64_t&) { return ACommand(); };
    final.Intents = C.Intents();
    std::int64_t number = 0;
    if (const auto retried = C.Retried()) {
        // The report an earlier call made and could not tell of: answered, not made again.
        number = *retried;
    } else {
        const std::int32_t r = RunFinalCommand(C.Device(), final);
        if (!final.Text.empty()) C.Note(final.Text);
        if (r != 0) return r;
        number = final.Recovered ? final.Number : final.NumberBefore + 1;
    }
    std::int32_t r = 0;
    // The reads only fill the outputs: a failure there is logged, not answered, for it would hide
    // the report.
    r = QueryOnFreshLinkAfterFailure([&] { return AReads(number); }, [&](std::int32_t) { return C.Reconnect(); });
    if (r == 0) {
        C.CutAfterDocument(false, true, -1);
        return 0;
    }
    TLog::Append("TDriver",
                 fmt::format("WARNING: {}: the register made the report (ФД {}) but a later step failed with [{}]; "
                             "reported as done",
                             AOperation, number, r),
                 TLog::mtError);
    return 0;
}

std::int32_t OpenShiftBody(TOperationContext& C, const std::string& ACashierName, const std::string& ACashierVATIN,
                           std::int64_t& ASessionNumber, std::int64_t& ADocumentNumber,
                           pugi::xml_document& AOutputParameters) {
    TDevice& D = C.Device();
    D.UnlockDataOutputMode();
    std::uint8_t sessionState = 0;
    std::int64_t sessionNumber = 0, receiptNumber = 0;
    if (C.Retried()) {
        // Answered from the report an earlier call made: the reads below only fill the outputs.
        sessionNumber = -1;
    } else {
        if (const std::int32_t r = D.GetCurrentSessionParams(sessionState, sessionNumber, receiptNumber)) return r;
        std::uint8_t dayState = 0;
        if (const std::int32_t r = D.IsDayOpened(dayState)) return r;
        if (dayState == kShiftOpen) return kResultShiftOpen;
        if (dayState == kShiftExpired) return kResultShiftExpired;
        if (const std::int32_t r = C.CheckPrintState()) return r;
        if (const std::int32_t r = D.CancelReceipt()) return r;
    }
    return RunReport(
        C, "OpenShift", "Отчёт об открытии смены",
        [&] { return D.OpenDay(OemCashier(ACashierName), PaddedVATIN(ACashierVATIN)); },
        [&](std::int64_t AReport) -> std::int32_t {
            // Shift numbers follow one another: the values stand when a read below fails.
            ASessionNumber = sessionNumber + 1;
            ADocumentNumber = AReport;
            pugi::xml_node params = NewOutputDocument(AOutputParameters, "OutputParameters");
            if (const std::int32_t r = C.WaitPrintCompletion()) return r;
            if (const std::int32_t r = D.GetCurrentSessionParams(sessionState, ASessionNumber, receiptNumber))
                return r;
            TBacklog backlog;
            if (const std::int32_t r =
                    D.GetFNInfoExchangeStatus(backlog.Count, backlog.FirstNumber, backlog.FirstDateTime))
                return r;
            std::uint8_t life = 0, curDoc = 0, docData = 0, fnSession = 0, warnings = 0;
            if (const std::int32_t r =
                    D.GetFNCurrentStatus(life, curDoc, docData, fnSession, warnings, ADocumentNumber))
                return r;
            params.append_attribute("UrgentReplacementFN") = BoolText(warnings & kWarnUrgentReplacement);
            params.append_attribute("ResourcesExhaustionFN") = BoolText(warnings & kWarnResourcesExhaustion);
            params.append_attribute("MemoryOverflowFN") = BoolText(warnings & kWarnMemoryOverflow);
            params.append_attribute("OFDTimeout") = BoolText(warnings & kWarnOFDTimeout);
            return 0;
        });
}

std::int32_t CloseShiftBody(TOperationContext& C, const std::string& ACashierName, const std::string& ACashierVATIN,
                            std::int64_t& ASessionNumber, std::int64_t& ADocumentNumber,
                            pugi::xml_document& AOutputParameters) {
    TDevice& D = C.Device();
    std::int64_t checks = 0;
    // A retry answered from the report an earlier call made reads only to fill the outputs.
    if (C.Retried()) {
        ReadReceiptCount(D, checks);
    } else {
        if (const std::int32_t r = PrepareForDocument(C)) return r;
        if (const std::int32_t r = ReadReceiptCount(D, checks)) return r;
    }
    return RunReport(
        C, "CloseShift", "Отчёт о закрытии смены",
        [&] { return D.ZReport(OemCashier(ACashierName), PaddedVATIN(ACashierVATIN)); },
        [&](std::int64_t AReport) -> std::int32_t {
            ADocumentNumber = AReport;
            ASessionNumber = 0;
            StartShiftReportDocument(AOutputParameters, checks);
            if (const std::int32_t r = C.WaitPrintCompletion()) return r;
            std::uint8_t life = 0, curDoc = 0, docData = 0, fnSession = 0, warnings = 0;
            if (const std::int32_t r =
                    D.GetFNCurrentStatus(life, curDoc, docData, fnSession, warnings, ADocumentNumber))
                return r;
            return ReadShiftReportDocument(D, checks, ASessionNumber, AOutputParameters);
        });
}

// Cash in and out are not fiscal documents: an unclear end is settled by the cash in the till,
// which the intent holds as it was before.
std::int32_t EncashOnce(TOperationContext& C, TCurrencyValue AAmount) {
    TDevice& D = C.Device();
    const auto kopecks = CurrencyToKopecks(AAmount < 0 ? -AAmount : AAmount);
    TIntent* intent = C.Intents() ? C.Intents()->Draft() : nullptr;
    if (!kopecks || AAmount == 0) return D.Encash(AAmount);
    const std::int64_t change = AAmount > 0 ? static_cast<std::int64_t>(*kopecks) : -static_cast<std::int64_t>(*kopecks);
    std::int64_t before = 0;
    if (const std::int32_t r = D.GetMoneyReg(kCashInTillRegister, before)) {
        if (IsPlainRefusal(r)) {
            // Not every register has the money-register read: the operation still runs, unguarded.
            TLog::Append("TDriver",
                         fmt::format("the register refused the cash read [{}]; the cash operation runs without "
                                     "recovery of a lost answer",
                                     r),
                         TLog::mtError);
            return D.Encash(AAmount);
        }
        return r;
    }
    if (intent) {
        intent->CashBefore = before;
        C.Intents()->Record();
    }
    std::int32_t r = 0;
    for (int attempt = 0; attempt < 2; ++attempt) {
        r = D.Encash(AAmount);
        if (r == 0 || IsPlainRefusal(r)) {
            if (intent) intent->State = r == 0 ? TIntent::TState::Registered : TIntent::TState::NotRegistered;
            return r;
        }
        std::int64_t after = 0;
        std::int32_t q = C.Reconnect();
        if (q == 0) q = D.GetMoneyReg(kCashInTillRegister, after);
        if (q != 0) {
            C.Note(kTextUnknown);
            return r;
        }
        if (after == before + change) {
            if (intent) intent->State = TIntent::TState::Registered;
            TLog::Append("TDriver", "WARNING: the answer was lost; the cash in the till shows the operation done",
                         TLog::mtInfo);
            return 0;
        }
        if (intent) intent->State = TIntent::TState::NotRegistered;
        if (after != before) break;  // something else moved the cash: do not guess
    }
    C.Note("Операция НЕ выполнена");
    return r;
}

std::int32_t CashInOutcomeBody(TOperationContext& C, TCurrencyValue AAmount) {
    // Done by an earlier call that could not tell of it.
    if (C.Retried()) return 0;
    if (const std::int32_t r = PrepareForDocument(C)) return r;
    if (const std::int32_t r = EncashOnce(C, AAmount)) return r;
    if (const std::int32_t r = C.WaitPrintCompletion()) return r;
    C.CutAfterDocument(false, true, -1);
    return 0;
}

std::int32_t PrintXReportBody(TOperationContext& C) {
    if (const std::int32_t r = PrepareForDocument(C)) return r;
    if (const std::int32_t r = C.Device().XReport()) return r;
    if (const std::int32_t r = C.WaitPrintCompletion()) return r;
    C.CutAfterDocument(false, true, -1);
    return 0;
}

std::int32_t ReportCurrentStatusOfSettlementsBody(TOperationContext& C, const std::string& ACashierName,
                                                  const std::string& ACashierVATIN,
                                                  pugi::xml_document& AOutputParameters) {
    TDevice& D = C.Device();
    std::int64_t checks = 0;
    std::uint8_t sessionState = 0;
    std::int64_t sessionNumber = 0, receiptNumber = 0;
    if (C.Retried()) {
        ReadReceiptCount(D, checks);
    } else {
        if (const std::int32_t r = PrepareForDocument(C)) return r;
        if (const std::int32_t r = ReadReceiptCount(D, checks)) return r;
        if (const std::int32_t r = D.GetCurrentSessionParams(sessionState, sessionNumber, receiptNumber)) return r;
    }
    return RunReport(
        C, "ReportCurrentStatusOfSettlements", "Отчёт о состоянии расчётов",
        [&] {
            // "Printing the previous command" counts as taken at the device; whether the report
            // exists is the fiscal storage's to say.
            const std::int32_t r = D.CalculationStateReport(OemCashier(ACashierName), Utf8ToSingleByte(ACashierVATIN));
            return r == 0 && !D.Response().empty() && D.Response()[0] == kResultPrintingPrevious ? kResultPrintingPrevious
                                                                                                : r;
        },
        [&](std::int64_t) -> std::int32_t {
            StartShiftReportDocument(AOutputParameters, checks);
            if (const std::int32_t r = C.WaitPrintCompletion()) return r;
            return ReadShiftReportDocument(D, checks, sessionNumber, AOutputParameters);
        });
}

std::int32_t OpenCashDrawerBody(TOperationContext& C) { return C.Device().OpenDrawer(); }

std::int32_t GetCurrentStatusBody(TOperationContext& C, std::int64_t& ACheckNumber, std::int64_t& ASessionNumber,
                                  std::uint8_t& ASessionState, pugi::xml_document& AStatusParameters) {
    TDevice& D = C.Device();
    TBacklog backlog;
    if (const std::int32_t r = D.GetFNInfoExchangeStatus(backlog.Count, backlog.FirstNumber, backlog.FirstDateTime))
        return r;
    std::uint8_t sessionState = 0;
    if (const std::int32_t r = D.GetCurrentSessionParams(sessionState, ASessionNumber, ACheckNumber)) return r;
    ASessionState = static_cast<std::uint8_t>(sessionState + 1);
    if (sessionState == 1) {
        // The fiscal storage knows only open or closed; the register's mode tells a shift past
        // 24 hours, which the host shows as state 3.
        std::uint8_t mode = 0;
        if (const std::int32_t r = D.GetStateKKT(mode)) return r;
        if (mode == kModeShiftExpired) ASessionState = 3;
    }
    std::uint8_t life = 0, curDoc = 0, docData = 0, fnSession = 0, warnings = 0;
    if (const std::int32_t r = D.GetFNCurrentStatus(life, curDoc, docData, fnSession, warnings, ACheckNumber))
        return r;
    AddBacklog(NewOutputDocument(AStatusParameters, "StatusParameters"), backlog);
    return 0;
}

}  // namespace fr
