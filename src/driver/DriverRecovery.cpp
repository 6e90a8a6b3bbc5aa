// TDriver: fiscal documents whose outcome could not be found out when their call ended. The
// question is kept in memory and in a file of the data folder; the next operation on the same
// register asks the fiscal storage first.

#include <charconv>
#include <sstream>

#include <fmt/format.h>

#include "driver/DocumentRecovery.h"
#include "driver/Driver.h"
#include "framework/Log.h"
#include "platform/StateFile.h"
#include "platform/System.h"

namespace fr {
namespace {

constexpr const char* kCaption = "TDriver";
constexpr int kConnectionTcp = 1;

std::int64_t ToInt(const std::string& AText, std::int64_t ADefault) {
    std::int64_t v = 0;
    const auto [p, ec] = std::from_chars(AText.data(), AText.data() + AText.size(), v);
    return ec == std::errc() && p == AText.data() + AText.size() ? v : ADefault;
}

}  // namespace

std::string TDriver::QuestionFilePath() const {
    std::string key = "unknown";
    if (FDevice) {
        key = FDevice->GetConnectionType() == kConnectionTcp
                  ? fmt::format("tcp_{}_{}", FDevice->GetIPAddress(), FDevice->GetTCPPort())
                  : fmt::format("COM{}", FDevice->GetPortNumber());
    }
    for (char& c : key)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '_')) c = '_';
    return CommonAppDataDir() + kModuleBaseName + "/open-document-" + key + ".txt";
}

void TDriver::AddExtErrorDescr(const std::string& AText) {
    FExtErrorDescr = FExtErrorDescr.empty() ? AText : FExtErrorDescr + "; " + AText;
}

void TDriver::KeepQuestionOpen(const std::string& AOperation, std::int64_t ANumberBefore, std::int64_t ATotal,
                               const std::string& APackageKey) {
    FQuestion = TQuestion{AOperation, ANumberBefore, ATotal, APackageKey};
    FQuestionRead = true;
    const std::string text = fmt::format("operation={}\nbefore={}\ntotal={}\npackage={}\n", AOperation,
                                         ANumberBefore, ATotal, APackageKey);
    try {
        ForceDirectories(CommonAppDataDir() + kModuleBaseName);
    } catch (const std::exception&) {
    }
    if (!WriteStateFile(QuestionFilePath(), text))
        TLog::Append(kCaption, "the open question could not be saved: " + QuestionFilePath(), TLog::mtError);
    TLog::Append(kCaption,
                 fmt::format("{}: outcome unknown; the fiscal storage will be asked after document {}", AOperation,
                             ANumberBefore),
                 TLog::mtError);
}

bool TDriver::QuestionOpen() {
    if (!FQuestionRead) {
        FQuestionRead = true;
        if (const auto text = ReadStateFile(QuestionFilePath())) {
            TQuestion q;
            std::istringstream in(*text);
            for (std::string line; std::getline(in, line);) {
                const auto eq = line.find('=');
                if (eq == std::string::npos) continue;
                const std::string key = line.substr(0, eq), value = line.substr(eq + 1);
                if (key == "operation") q.Operation = value;
                if (key == "before") q.NumberBefore = ToInt(value, -1);
                if (key == "total") q.Total = ToInt(value, -1);
                if (key == "package") q.PackageKey = value;
            }
            if (q.NumberBefore >= 0) FQuestion = q;
        }
    }
    return FQuestion.has_value();
}

void TDriver::ResolveOpenQuestion() {
    if (!FDevice || !QuestionOpen()) return;
    const TQuestion q = *FQuestion;
    const TFiscalOutcome outcome = ResolveDocument(*FDevice, {}, q.NumberBefore, q.Total);
    if (outcome.State == TFiscalOutcome::TState::Unknown) return;
    if (outcome.State == TFiscalOutcome::TState::Registered) {
        TLog::Append(kCaption,
                     fmt::format("WARNING: {} of the earlier call was registered: ФД {}, ФП {}", q.Operation,
                                 outcome.Number, outcome.FiscalSign),
                     TLog::mtInfo);
        if (!q.PackageKey.empty()) FRecoveredReceipt = TRecoveredReceipt{q.PackageKey, outcome.Number, outcome.FiscalSign};
    } else {
        TLog::Append(kCaption, q.Operation + " of the earlier call was not registered", TLog::mtInfo);
    }
    FQuestion.reset();
    RemoveStateFile(QuestionFilePath());
}

bool TDriver::RefuseWhileQuestionOpen() {
    if (!QuestionOpen()) return false;
    AddExtErrorDescr(kTextUnknown);
    return true;
}

std::optional<TDriver::TRecoveredReceipt> TDriver::TakeRecoveredReceipt(const std::string& APackageKey) {
    if (!FRecoveredReceipt || FRecoveredReceipt->PackageKey != APackageKey) return std::nullopt;
    auto r = FRecoveredReceipt;
    FRecoveredReceipt.reset();
    return r;
}

std::int32_t TDriver::SettleIntent(TIntentReport& AReport) {
    AReport = TIntentReport{};
    return 0;
}

}  // namespace fr
