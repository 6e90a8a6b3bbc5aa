#include "Worker.h"

#include <chrono>

#include <fmt/format.h>

#include "Operations.h"
#include "addin/AddInObject.h"
#include "driver/Driver.h"
#include "framework/ErrorCodes.h"
#include "platform/Encoding.h"

namespace frd {
namespace {

using json = nlohmann::json;
using Clock = std::chrono::steady_clock;

constexpr std::chrono::seconds kFirstRetry{1}, kLastRetry{30};
// How often an unsettled document is asked about again, and how long an idle register sleeps.
constexpr std::chrono::seconds kSettleRetry{5}, kIdleWait{60};

std::int64_t Micros(Clock::duration ADuration) {
    return std::chrono::duration_cast<std::chrono::microseconds>(ADuration).count();
}

json ErrorJson(std::int32_t ACode, const std::string& AText) { return json{{"code", ACode}, {"description", AText}}; }

}  // namespace

TRegisterWorker::TRegisterWorker(std::string AId, TRegisterConfig AConfig, TJournal& AJournal, IJobSink& ASink)
    : FId(std::move(AId)), FConfig(std::move(AConfig)), FJournal(AJournal), FSink(ASink) {}

TRegisterWorker::~TRegisterWorker() {
    Stop();
    Join();
}

void TRegisterWorker::Start() { FThread = std::thread([this] { Run(); }); }

void TRegisterWorker::Wake() {
    std::lock_guard<std::mutex> g(FLock);
    ++FWakes;
    FWake.notify_all();
}

void TRegisterWorker::Stop() {
    std::lock_guard<std::mutex> g(FLock);
    FStopping = true;
    FWake.notify_all();
}

void TRegisterWorker::Join() {
    if (FThread.joinable()) FThread.join();
}

TRegisterStatus TRegisterWorker::Status() const {
    std::lock_guard<std::mutex> g(FLock);
    return FStatus;
}

void TRegisterWorker::SetState(const std::string& AState, const json* AError) {
    std::lock_guard<std::mutex> g(FLock);
    FStatus.State = AState;
    FStatus.Up = AState != "offline";
    if (AError) FStatus.LastError = *AError;
}

TRegisterWorker::THostOutcome TRegisterWorker::Call(const std::string& AMethod, fr::TParams& AParams) {
    THostOutcome o;
    std::int32_t n = -1;
    if (FObject->FindMethod(fr::Utf8ToUtf16(AMethod), n) != fr::S_OK) {
        o.Code = fr::errUnknown;
        o.Text = "Метод не найден: " + AMethod;
        return o;
    }
    fr::TVariant ret;
    FObject->CallAsFunc(n, ret, AParams);
    o.Ok = ret == fr::TVariant(true);
    o.Code = FDriver->LastResultCode();
    o.Text = FDriver->LastResultDescription();
    return o;
}

void TRegisterWorker::NoteShift(const std::string& AOperation, const json& AOutputs) {
    std::lock_guard<std::mutex> g(FLock);
    json& shift = FStatus.Shift;
    if (shift.is_null()) shift = json::object();
    if (AOutputs.contains("SessionNumber") && AOutputs["SessionNumber"].is_number())
        shift["number"] = AOutputs["SessionNumber"];
    if (AOperation == "OpenShift") shift["state"] = "open";
    if (AOperation == "CloseShift") shift["state"] = "closed";
    if (AOutputs.contains("SessionState") && AOutputs["SessionState"].is_number()) {
        const int state = AOutputs["SessionState"].get<int>();
        shift["state"] = state == 1 ? "closed" : state == 2 ? "open" : state == 3 ? "expired" : "unknown";
    }
    if (shift.empty()) shift = nullptr;
}

bool TRegisterWorker::OpenDevice() {
    if (!FObject) {
        FObject = std::make_unique<fr::TAddInObject>();
        FObject->Init(nullptr);
        FDriver = dynamic_cast<fr::TDriver*>(FObject->Driver());
        if (!FDriver) throw std::runtime_error("the add-in object has no fiscal-register driver");
        for (const auto& [name, value] : FConfig.Settings) {
            fr::TParams p{fr::TVariant(name), fr::TVariant()};
            if (value.is_boolean()) p[1] = fr::TVariant(value.get<bool>());
            else if (value.is_number_integer()) p[1] = fr::TVariant(value.get<std::int32_t>());
            else if (value.is_number()) p[1] = fr::TVariant(value.get<double>());
            else if (value.is_string()) p[1] = fr::TVariant(value.get<std::string>());
            Call("SetParameter", p);
        }
    }
    fr::TParams p(1);
    const THostOutcome o = Call("Open", p);
    if (o.Ok) {
        // The shift for the status: read once, then followed through the jobs.
        const TOperation* status = FindOperation("GetCurrentStatus");
        fr::TParams sp = MakeHostParams(*status, json::object());
        if (Call(status->Name, sp).Ok) NoteShift(status->Name, ReadOutputs(*status, sp));
        return true;
    }
    const json error = ErrorJson(o.Code, o.Text);
    SetState("offline", &error);
    return false;
}

bool TRegisterWorker::IntentPending() {
    const auto& intent = FDriver->LastIntent();
    return intent && intent->State == fr::TIntent::TState::Pending;
}

bool TRegisterWorker::SettleInDoubt() {
    const std::vector<TJob> jobs = FJournal.InDoubt(FId);
    if (jobs.empty()) return false;
    fr::TDriver::TIntentReport report;
    const std::int32_t rc = FDriver->SettleIntent(report);
    if (rc != 0 || report.State == fr::TDriver::TIntentReport::TState::Unknown) {
        const json error = ErrorJson(rc ? rc : fr::errUnknown, rc ? FDriver->LastResultDescription()
                                                                   : "Неизвестно, зарегистрирован ли документ");
        SetState("in_doubt", &error);
        return true;
    }
    using TState = fr::TDriver::TIntentReport::TState;
    for (const TJob& job : jobs) {
        const auto t0 = Clock::now();
        const TOperation* op = FindOperation(job.Operation);
        json result;
        std::string state;
        if (report.Reference == job.Id && report.State == TState::Registered) {
            state = "done";
            json outputs = json::object();
            for (const auto& o : op ? op->Outputs : std::vector<TOutputSpec>{}) outputs[o.Name] = nullptr;
            for (const char* name : {"CheckNumber", "DocumentNumber"})
                if (outputs.contains(name)) outputs[name] = report.DocumentNumber;
            if (outputs.contains("FiscalSign")) outputs["FiscalSign"] = report.FiscalSign;
            result = {{"success", true}, {"code", 0},
                      {"description", "Документ зарегистрирован: выяснено по ФН после сбоя"}, {"outputs", outputs}};
        } else {
            // Not registered, or the job never reached its final command (no intent of its own).
            state = "failed";
            const std::int32_t code = job.Result.is_object() ? job.Result.value("code", fr::errUnknown) : fr::errUnknown;
            result = {{"success", false}, {"code", code ? code : fr::errUnknown},
                      {"description", "Документ НЕ зарегистрирован: выяснено по ФН после сбоя"},
                      {"outputs", json::object()}};
        }
        FJournal.Finish(job.Id, state, result, 0, Micros(Clock::now() - t0));
        TJob ended = job;
        ended.State = state;
        ended.Result = result;
        FSink.JobEnded(ended, 0);
    }
    return false;
}

void TRegisterWorker::RunJob(const TJob& AJob) {
    const auto t0 = Clock::now();
    const TOperation* op = FindOperation(AJob.Operation);
    // Committed before the first byte goes to the register.
    FJournal.MarkRunning(AJob.Id, FLastJob, FLastCommitMicros);
    FLastJob.clear();
    SetState("busy");
    fr::TParams params = op ? MakeHostParams(*op, AJob.Params) : fr::TParams{};
    const bool questionBefore = op && op->Fiscal && IntentPending();
    if (op && op->Document) FDriver->SetIntentReference(AJob.Id);
    const auto t1 = Clock::now();
    THostOutcome o;
    if (op) o = Call(op->Name, params);
    const auto t2 = Clock::now();
    FDriver->SetIntentReference({});
    std::string state = o.Ok ? "done" : "failed";
    // The driver could not find out whether the register made the document.
    if (!o.Ok && op && op->Fiscal && !questionBefore && IntentPending()) state = "in_doubt";
    const json result = {{"success", o.Ok},
                         {"code", o.Code},
                         {"description", o.Text},
                         {"outputs", op ? ReadOutputs(*op, params) : json::object()}};
    if (o.Ok) NoteShift(op->Name, result["outputs"]);
    const json error = ErrorJson(o.Code, o.Text);
    SetState(state == "in_doubt" ? "in_doubt" : "idle", o.Ok ? nullptr : &error);
    const auto t3 = Clock::now();
    const auto overhead = Micros((t1 - t0) + (t3 - t2)) + FSink.TakeSubmitMicros(AJob.Id);
    FJournal.Finish(AJob.Id, state, result, Micros(t2 - t1), overhead);
    FLastJob = AJob.Id;
    FLastCommitMicros = Micros(Clock::now() - t3);
    if (op && std::string_view(op->Name) == "DeviceTest") {
        fr::TParams p(1);
        Call("Open", p);
    }
    TJob ended = AJob;
    ended.State = state;
    ended.Result = result;
    FSink.JobEnded(ended, std::chrono::duration<double>(Clock::now() - t0).count());
}

void TRegisterWorker::Run() {
    bool open = false;
    auto retry = kFirstRetry;
    for (;;) {
        std::uint64_t seen = 0;
        {
            std::lock_guard<std::mutex> g(FLock);
            if (FStopping) break;
            seen = FWakes;
        }
        auto wait = kIdleWait;
        try {
            if (!open) open = OpenDevice();
            if (!open) {
                wait = retry;
                retry = std::min(retry * 2, kLastRetry);
            } else {
                retry = kFirstRetry;
                const bool doubt = SettleInDoubt();
                if (!doubt) SetState("idle");
                if (const auto job = FJournal.NextQueued(FId, !doubt)) {
                    RunJob(*job);
                    continue;
                }
                if (doubt) wait = kSettleRetry;
            }
        } catch (const std::exception& e) {
            // The journal could not be written: the job stays as committed last; try again later.
            const json error = ErrorJson(fr::errUnknown, e.what());
            SetState(open ? "idle" : "offline", &error);
            wait = kSettleRetry;
        }
        std::unique_lock<std::mutex> l(FLock);
        FWake.wait_for(l, wait, [&] { return FStopping || FWakes != seen; });
    }
    if (FObject) {
        if (open) {
            fr::TParams p(1);
            Call("Close", p);
        }
        FObject->Done();
    }
}

}  // namespace frd
