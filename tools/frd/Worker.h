#pragma once
// One register: a thread of its own that owns the register's add-in object and runs its jobs in
// the journal's order. HTTP threads never touch the driver; they read the journal and the
// status below.

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include <nlohmann/json.hpp>

#include "Config.h"
#include "Journal.h"
#include "framework/Variant.h"

namespace fr {
class TAddInObject;
class TDriver;
}  // namespace fr

namespace frd {

// What the service learns from a worker.
class IJobSink {
public:
    virtual ~IJobSink() = default;
    // After the job's state is committed.
    virtual void JobEnded(const TJob& AJob, double ARunSeconds) = 0;
    // The time the submit of AId took in frd, taken once; 0 when unknown.
    virtual std::int64_t TakeSubmitMicros(const std::string& AId) = 0;
};

struct TRegisterStatus {
    std::string State = "offline";  // idle, busy, offline, in_doubt
    bool Up = false;
    nlohmann::json LastError;  // null or {"code", "description"}
    // null until known, else {"number", "state": "closed|open|expired"}; from the status read at
    // connection and the outputs of the jobs since.
    nlohmann::json Shift;
};

class TRegisterWorker {
public:
    TRegisterWorker(std::string AId, TRegisterConfig AConfig, TJournal& AJournal, IJobSink& ASink);
    ~TRegisterWorker();
    TRegisterWorker(const TRegisterWorker&) = delete;
    TRegisterWorker& operator=(const TRegisterWorker&) = delete;

    void Start();
    // A job was queued: look at the journal again.
    void Wake();
    // Takes no job after the one running; returns at once. Join waits for the thread.
    void Stop();
    void Join();

    const std::string& Id() const { return FId; }
    TRegisterStatus Status() const;

private:
    struct THostOutcome {
        bool Ok = false;
        std::int32_t Code = 0;
        std::string Text;
    };

    void Run();
    bool OpenDevice();
    // Settles the register's in_doubt jobs through the driver; true while one stays in doubt.
    bool SettleInDoubt();
    // The register's last intent is still unsettled: its outcome is not known yet.
    bool IntentPending();
    void RunJob(const TJob& AJob);
    THostOutcome Call(const std::string& AMethod, fr::TParams& AParams);
    void SetState(const std::string& AState, const nlohmann::json* AError = nullptr);
    void NoteShift(const std::string& AOperation, const nlohmann::json& AOutputs);

    const std::string FId;
    const TRegisterConfig FConfig;
    TJournal& FJournal;
    IJobSink& FSink;
    std::unique_ptr<fr::TAddInObject> FObject;
    fr::TDriver* FDriver = nullptr;
    // The last job's closing commit, added to its overhead with the next running mark.
    std::string FLastJob;
    std::int64_t FLastCommitMicros = 0;

    mutable std::mutex FLock;
    std::condition_variable FWake;
    std::uint64_t FWakes = 0;
    bool FStopping = false;
    TRegisterStatus FStatus;
    std::thread FThread;
};

}  // namespace frd
