// TDriver: the intents of document-making operations. Each register's last intent is kept in a
// file of the OS user's own; an intent left pending (the outcome could not be found out, or the
// host was killed) is settled from the register before anything else, and document-making
// operations are refused while it cannot be.

#include <ctime>
#include <random>

#include <fmt/format.h>

#include "driver/DocumentRecovery.h"
#include "driver/Driver.h"
#include "framework/ErrorCodes.h"
#include "framework/Log.h"
#include "platform/StateFile.h"
#include "platform/System.h"

namespace fr {
namespace {

constexpr const char* kCaption = "TDriver";
constexpr int kConnectionTcp = 1;

std::string RandomId() {
    std::random_device rd;
    return fmt::format("{:08x}{:08x}", rd(), rd());
}

}  // namespace

class TDriver::TDriverIntents : public TIntentKeeper {
public:
    explicit TDriverIntents(TDriver& ADriver) : FDriver(ADriver) {}
    TIntent* Draft() override { return FDriver.FDraft ? &*FDriver.FDraft : nullptr; }
    void Record() override {
        if (!FDriver.FDraft) return;
        TIntent& d = *FDriver.FDraft;
        d.Id = RandomId();
        d.Time = static_cast<std::int64_t>(std::time(nullptr));
        FDriver.FIntent = d;
        FDriver.FDraftRecorded = true;
        ++IntentCounts().Written;
        FDriver.SaveIntent();
    }
    std::optional<std::int64_t> Retried() const override {
        if (!FDriver.FAnsweringFromIntent || !FDriver.FIntent) return std::nullopt;
        return FDriver.FIntent->Number;
    }

private:
    TDriver& FDriver;
};

void TDriver::AddExtErrorDescr(const std::string& AText) {
    FExtErrorDescr = FExtErrorDescr.empty() ? AText : FExtErrorDescr + "; " + AText;
}

TIntentKeeper& TDriver::Intents() {
    if (!FIntentKeeper) FIntentKeeper = std::make_unique<TDriverIntents>(*this);
    return *FIntentKeeper;
}

std::string TDriver::RegisterKey() const {
    std::string key = "unknown";
    if (FDevice) {
        key = FDevice->GetConnectionType() == kConnectionTcp
                  ? fmt::format("tcp_{}_{}", FDevice->GetIPAddress(), FDevice->GetTCPPort())
                  : fmt::format("COM{}", FDevice->GetPortNumber());
    }
    for (char& c : key)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '_')) c = '_';
    return key;
}

std::string TDriver::IntentPath() {
    if (!FIntentPath.empty()) return FIntentPath;
    try {
        const std::string shared = CommonAppDataDir() + kModuleBaseName + "/";
        ForceDirectories(shared);
        // Never a bare "COM<n>.txt": Windows opens that name as the serial port itself.
        FIntentPath = PrivateDirectory(shared, "intents") + "register-" + RegisterKey() + ".txt";
        return FIntentPath;
    } catch (const std::exception& e) {
        ReportIntentFailure(e.what());
        return {};
    }
}

void TDriver::ReportIntentFailure(const std::string& AReason) {
    if (FIntentFailureReported) return;
    FIntentFailureReported = true;
    const std::string text =
        "Намерения фискальных документов не сохраняются на диск, они хранятся только в памяти: " + AReason;
    TLog::Append(kCaption, text, TLog::mtError);
    FLog.Warn(text);
}

const std::optional<TIntent>& TDriver::LastIntent() {
    if (!FIntentLoaded && FDevice) {
        FIntentLoaded = true;
        const std::string path = IntentPath();
        if (!path.empty()) {
            if (const auto text = ReadStateFile(path)) {
                FIntent = ParseIntent(*text);
                if (!FIntent) TLog::Append(kCaption, "the intent file cannot be read and is ignored: " + path, TLog::mtError);
            }
        }
    }
    return FIntent;
}

bool TDriver::IntentPending() {
    const auto& intent = LastIntent();
    return intent && intent->State == TIntent::TState::Pending;
}

void TDriver::SaveIntent() {
    if (!FIntent) return;
    const std::string path = IntentPath();
    if (path.empty()) return;
    if (!WriteStateFile(path, IntentText(*FIntent))) ReportIntentFailure("cannot write " + path);
}

void TDriver::SettleLeftIntent() {
    if (!FDevice || !IntentPending()) return;
    TIntent& intent = *FIntent;
    std::int32_t failure = 0;
    const TSettlement s = SettleFromRegister(*FDevice, intent, failure);
    if (s == TSettlement::Unknown) {
        TLog::Append(kCaption,
                     fmt::format("{} {} (after document {}) cannot be settled yet [{}]", intent.Operation, intent.Id,
                                 intent.NumberBefore, failure),
                     TLog::mtError);
        return;
    }
    ++(s == TSettlement::Registered ? IntentCounts().Registered : IntentCounts().NotRegistered);
    if (s == TSettlement::Registered) {
        intent.State = TIntent::TState::Registered;
        TLog::Append(kCaption,
                     fmt::format("WARNING: {} {} of an earlier call was registered: ФД {}, ФП {}", intent.Operation,
                                 intent.Id, intent.Number, intent.FiscalSign),
                     TLog::mtInfo);
    } else {
        intent.State = TIntent::TState::NotRegistered;
        TLog::Append(kCaption, fmt::format("{} {} of an earlier call was not registered", intent.Operation, intent.Id),
                     TLog::mtInfo);
    }
    SaveIntent();
}

std::int32_t TDriver::StartDocument(TIntent ADraft) {
    if (IntentPending()) {
        AddExtErrorDescr(kTextUnknown);
        return errNoResponse;
    }
    const auto& last = FIntent;
    if (last && last->State == TIntent::TState::Registered && !last->Told && last->Operation == ADraft.Operation &&
        last->Fingerprint == ADraft.Fingerprint) {
        FAnsweringFromIntent = true;
        TLog::Append(kCaption,
                     fmt::format("WARNING: {} retried: answered with document ФД {} registered by the earlier call ({})",
                                 ADraft.Operation, last->Number, last->Id),
                     TLog::mtInfo);
        return 0;
    }
    ADraft.Register = RegisterKey();
    ADraft.Reference = FIntentReference;
    FDraft = std::move(ADraft);
    return 0;
}

void TDriver::FinishDocument(std::int32_t AResult) {
    if (FAnsweringFromIntent && FIntent && AResult == 0) {
        FIntent->Told = true;
        SaveIntent();
    } else if (FDraft && FDraftRecorded) {
        FIntent = *FDraft;
        if (FIntent->State != TIntent::TState::Pending)
            ++(FIntent->State == TIntent::TState::Registered ? IntentCounts().Registered : IntentCounts().NotRegistered);
        if (AResult == 0 && FIntent->State == TIntent::TState::Registered) FIntent->Told = true;
        if (FIntent->State != TIntent::TState::Pending) SaveIntent();
    }
    FAnsweringFromIntent = false;
    FDraft.reset();
    FDraftRecorded = false;
    FIntentReference.clear();
}

std::int32_t TDriver::SettleIntent(TIntentReport& AReport) {
    AReport = TIntentReport{};
    const std::int32_t result = RunOperation("SettleIntent", [&]() -> std::int32_t {
        if (!LastIntent()) return 0;
        return IntentPending() ? errNoResponse : 0;
    });
    auto& intent = FIntent;
    if (!intent) return result;
    // The caller is told of the document now: a later operation with the same content is a new one.
    if (intent->State == TIntent::TState::Registered && !intent->Told) {
        intent->Told = true;
        SaveIntent();
    }
    AReport.Reference = intent->Reference;
    AReport.Operation = intent->Operation;
    AReport.DocumentNumber = intent->Number;
    AReport.FiscalSign = intent->FiscalSign;
    switch (intent->State) {
        case TIntent::TState::Registered: AReport.State = TIntentReport::TState::Registered; break;
        case TIntent::TState::NotRegistered: AReport.State = TIntentReport::TState::NotRegistered; break;
        default: AReport.State = TIntentReport::TState::Unknown; break;
    }
    return result;
}

}  // namespace fr
