#pragma once
// The durable job journal: SQLite in WAL mode with full synchronous commits. Every state change
// of a job is committed before anyone is told about it. One connection writes, another reads, each
// behind its own lock, so reads never wait for a commit's flush.

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

struct sqlite3;

namespace frd {

struct TJob {
    std::int64_t Seq = 0;
    std::string Id, Register, Operation;
    nlohmann::json Params = nlohmann::json::object();
    std::string State;  // queued, running, done, failed, in_doubt
    std::string Created, Started, Finished;  // RFC 3339 UTC; empty for null
    nlohmann::json Result;                  // null until ended
    std::int64_t DriverMicros = 0;          // time inside the driver's call
    std::int64_t OverheadMicros = 0;        // time in frd around it (submit and worker)
};

// The job as the API shows it.
nlohmann::json JobJson(const TJob& AJob);
bool IsEnded(const std::string& AState);
// Now as RFC 3339 UTC with milliseconds.
std::string NowText();

class EJournalError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class TJournal {
public:
    // Opens or creates the journal (and its folder's missing parents). Throws EJournalError.
    explicit TJournal(const std::string& APath);
    ~TJournal();
    TJournal(const TJournal&) = delete;
    TJournal& operator=(const TJournal&) = delete;

    enum class TSubmit { Created, Existing, Conflict, QueueFull };
    // Inserts AJob as queued unless its id exists (Existing with the same register, operation and
    // params, Conflict otherwise) or its register already has AQueueLimit queued jobs. AOut: the
    // job now in the journal (the one given when the queue is full).
    TSubmit Submit(const TJob& AJob, int AQueueLimit, TJob& AOut);

    std::optional<TJob> Get(const std::string& AId);
    // Newest first.
    std::vector<TJob> List(const std::string& ARegister, const std::string& AState, int ALimit);
    // The register's oldest queued job; with ADocumentsAllowed false the oldest of the operations
    // that make no document (while one is in doubt).
    std::optional<TJob> NextQueued(const std::string& ARegister, bool ADocumentsAllowed);
    std::vector<TJob> InDoubt(const std::string& ARegister);

    // With the running mark, the time the previous job's own closing commit took is added to that
    // job's overhead (in the same commit: no flush of its own).
    void MarkRunning(const std::string& AId, const std::string& APreviousId = {}, std::int64_t APreviousMicros = 0);
    void Finish(const std::string& AId, const std::string& AState, const nlohmann::json& AResult,
                std::int64_t ADriverMicros, std::int64_t AOverheadMicros);

    // At start: running jobs become in_doubt (returns how many); ended jobs older than AKeepDays
    // are removed.
    int RecoverAtStart(int AKeepDays);

    // Jobs per register in one state.
    std::map<std::string, int> CountByRegister(const std::string& AState);

private:
    sqlite3* FWrite = nullptr;
    sqlite3* FRead = nullptr;
    std::mutex FWriteLock, FReadLock;
};

}  // namespace frd
