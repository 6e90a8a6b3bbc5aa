#include "Journal.h"

#include <sqlite3.h>

#include <chrono>
#include <ctime>
#include <filesystem>

#include <fmt/format.h>

#include "Operations.h"

namespace frd {
namespace {

using json = nlohmann::json;

constexpr const char* kSchema = R"SQL(
CREATE TABLE IF NOT EXISTS jobs (
  seq         INTEGER PRIMARY KEY AUTOINCREMENT,
  id          TEXT NOT NULL UNIQUE,
  register    TEXT NOT NULL,
  operation   TEXT NOT NULL,
  params      TEXT NOT NULL,
  state       TEXT NOT NULL CHECK (state IN ('queued','running','done','failed','in_doubt')),
  created     TEXT NOT NULL,
  started     TEXT,
  finished    TEXT,
  result      TEXT,
  driver_us   INTEGER NOT NULL DEFAULT 0,
  overhead_us INTEGER NOT NULL DEFAULT 0
);
CREATE INDEX IF NOT EXISTS jobs_by_register_state ON jobs (register, state, seq);
CREATE INDEX IF NOT EXISTS jobs_by_state ON jobs (state, seq);
PRAGMA user_version = 1;
)SQL";

constexpr const char* kColumns =
    "seq, id, register, operation, params, state, created, started, finished, result, driver_us, overhead_us";

// One prepared statement, finalised on every way out.
class TStatement {
public:
    TStatement(sqlite3* ADb, const std::string& ASql) : FDb(ADb) {
        if (sqlite3_prepare_v2(ADb, ASql.c_str(), -1, &FStmt, nullptr) != SQLITE_OK)
            throw EJournalError(fmt::format("journal: {} ({})", sqlite3_errmsg(ADb), ASql));
    }
    ~TStatement() { sqlite3_finalize(FStmt); }
    TStatement(const TStatement&) = delete;
    TStatement& operator=(const TStatement&) = delete;

    TStatement& Bind(int AIndex, const std::string& AText) {
        sqlite3_bind_text(FStmt, AIndex, AText.c_str(), static_cast<int>(AText.size()), SQLITE_TRANSIENT);
        return *this;
    }
    TStatement& BindNullable(int AIndex, const std::string& AText) {
        if (AText.empty()) sqlite3_bind_null(FStmt, AIndex);
        else Bind(AIndex, AText);
        return *this;
    }
    TStatement& Bind(int AIndex, std::int64_t AValue) {
        sqlite3_bind_int64(FStmt, AIndex, AValue);
        return *this;
    }
    // True while a row is there.
    bool Step() {
        const int rc = sqlite3_step(FStmt);
        if (rc == SQLITE_ROW) return true;
        if (rc == SQLITE_DONE) return false;
        throw EJournalError(fmt::format("journal: {}", sqlite3_errmsg(FDb)));
    }
    std::string Text(int ACol) const {
        const auto* p = sqlite3_column_text(FStmt, ACol);
        return p ? std::string(reinterpret_cast<const char*>(p)) : std::string();
    }
    std::int64_t Int(int ACol) const { return sqlite3_column_int64(FStmt, ACol); }

    TJob Job() const {
        TJob j;
        j.Seq = Int(0);
        j.Id = Text(1);
        j.Register = Text(2);
        j.Operation = Text(3);
        j.Params = json::parse(Text(4), nullptr, false);
        j.State = Text(5);
        j.Created = Text(6);
        j.Started = Text(7);
        j.Finished = Text(8);
        const std::string result = Text(9);
        j.Result = result.empty() ? json() : json::parse(result, nullptr, false);
        j.DriverMicros = Int(10);
        j.OverheadMicros = Int(11);
        return j;
    }

private:
    sqlite3* FDb;
    sqlite3_stmt* FStmt = nullptr;
};

void Exec(sqlite3* ADb, const char* ASql) {
    char* error = nullptr;
    if (sqlite3_exec(ADb, ASql, nullptr, nullptr, &error) != SQLITE_OK) {
        const std::string text = error ? error : "unknown error";
        sqlite3_free(error);
        throw EJournalError("journal: " + text);
    }
}

// Rolls back unless committed.
class TTransaction {
public:
    explicit TTransaction(sqlite3* ADb) : FDb(ADb) { Exec(ADb, "BEGIN IMMEDIATE"); }
    ~TTransaction() {
        if (!FDone) sqlite3_exec(FDb, "ROLLBACK", nullptr, nullptr, nullptr);
    }
    void Commit() {
        Exec(FDb, "COMMIT");
        FDone = true;
    }

private:
    sqlite3* FDb;
    bool FDone = false;
};

sqlite3* Open(const std::string& APath) {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(APath.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                        nullptr) != SQLITE_OK) {
        const std::string text = db ? sqlite3_errmsg(db) : "out of memory";
        sqlite3_close(db);
        throw EJournalError(fmt::format("journal {}: {}", APath, text));
    }
    sqlite3_busy_timeout(db, 10000);
    return db;
}

// While a document is in doubt only what makes no document may run: a new document's intent
// would take the place of the one still to be settled.
std::string NoDocumentList() {
    std::string list;
    for (const auto& op : Operations())
        if (!op.Document) list += fmt::format("{}'{}'", list.empty() ? "" : ",", op.Name);
    return list;
}

}  // namespace

std::string NowText() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t t = std::chrono::system_clock::to_time_t(now);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm tm{};
    gmtime_r(&t, &tm);
    return fmt::format("{:04}-{:02}-{:02}T{:02}:{:02}:{:02}.{:03}Z", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                       tm.tm_hour, tm.tm_min, tm.tm_sec, ms);
}

bool IsEnded(const std::string& AState) { return AState == "done" || AState == "failed"; }

json JobJson(const TJob& AJob) {
    auto orNull = [](const std::string& s) { return s.empty() ? json() : json(s); };
    return json{{"id", AJob.Id},
                {"register", AJob.Register},
                {"operation", AJob.Operation},
                {"state", AJob.State},
                {"created", orNull(AJob.Created)},
                {"started", orNull(AJob.Started)},
                {"finished", orNull(AJob.Finished)},
                {"result", IsEnded(AJob.State) ? AJob.Result : json()}};
}

TJournal::TJournal(const std::string& APath) {
    const std::filesystem::path parent = std::filesystem::path(APath).parent_path();
    std::error_code ec;
    if (!parent.empty()) std::filesystem::create_directories(parent, ec);
    FWrite = Open(APath);
    try {
        Exec(FWrite, "PRAGMA journal_mode=WAL");
        Exec(FWrite, "PRAGMA synchronous=FULL");
        Exec(FWrite, kSchema);
        FRead = Open(APath);
        Exec(FRead, "PRAGMA synchronous=FULL");
    } catch (...) {
        sqlite3_close(FWrite);
        sqlite3_close(FRead);
        throw;
    }
}

TJournal::~TJournal() {
    sqlite3_close(FRead);
    sqlite3_close(FWrite);
}

TJournal::TSubmit TJournal::Submit(const TJob& AJob, int AQueueLimit, TJob& AOut) {
    std::lock_guard<std::mutex> g(FWriteLock);
    TTransaction tx(FWrite);
    {
        TStatement s(FWrite, fmt::format("SELECT {} FROM jobs WHERE id = ?", kColumns));
        s.Bind(1, AJob.Id);
        if (s.Step()) {
            AOut = s.Job();
            const bool same = AOut.Register == AJob.Register && AOut.Operation == AJob.Operation &&
                              AOut.Params == AJob.Params;
            return same ? TSubmit::Existing : TSubmit::Conflict;
        }
    }
    {
        TStatement s(FWrite, "SELECT COUNT(*) FROM jobs WHERE register = ? AND state = 'queued'");
        s.Bind(1, AJob.Register);
        if (s.Step() && s.Int(0) >= AQueueLimit) {
            AOut = AJob;
            return TSubmit::QueueFull;
        }
    }
    AOut = AJob;
    AOut.State = "queued";
    AOut.Created = NowText();
    AOut.Started.clear();
    AOut.Finished.clear();
    AOut.Result = json();
    TStatement s(FWrite,
                 "INSERT INTO jobs (id, register, operation, params, state, created) VALUES (?, ?, ?, ?, 'queued', ?)");
    s.Bind(1, AOut.Id).Bind(2, AOut.Register).Bind(3, AOut.Operation).Bind(4, AOut.Params.dump()).Bind(5, AOut.Created);
    s.Step();
    AOut.Seq = sqlite3_last_insert_rowid(FWrite);
    tx.Commit();
    return TSubmit::Created;
}

std::optional<TJob> TJournal::Get(const std::string& AId) {
    std::lock_guard<std::mutex> g(FReadLock);
    TStatement s(FRead, fmt::format("SELECT {} FROM jobs WHERE id = ?", kColumns));
    s.Bind(1, AId);
    if (!s.Step()) return std::nullopt;
    return s.Job();
}

std::vector<TJob> TJournal::List(const std::string& ARegister, const std::string& AState, int ALimit) {
    std::lock_guard<std::mutex> g(FReadLock);
    TStatement s(FRead, fmt::format("SELECT {} FROM jobs WHERE (?1 = '' OR register = ?1) AND (?2 = '' OR state = ?2) "
                                    "ORDER BY seq DESC LIMIT ?3",
                                    kColumns));
    s.Bind(1, ARegister).Bind(2, AState).Bind(3, static_cast<std::int64_t>(ALimit));
    std::vector<TJob> jobs;
    while (s.Step()) jobs.push_back(s.Job());
    return jobs;
}

std::optional<TJob> TJournal::NextQueued(const std::string& ARegister, bool ADocumentsAllowed) {
    std::lock_guard<std::mutex> g(FReadLock);
    TStatement s(FRead, fmt::format("SELECT {} FROM jobs WHERE register = ? AND state = 'queued' {} ORDER BY seq LIMIT 1",
                                    kColumns, ADocumentsAllowed ? "" : "AND operation IN (" + NoDocumentList() + ")"));
    s.Bind(1, ARegister);
    if (!s.Step()) return std::nullopt;
    return s.Job();
}

std::vector<TJob> TJournal::InDoubt(const std::string& ARegister) {
    std::lock_guard<std::mutex> g(FReadLock);
    TStatement s(FRead, fmt::format("SELECT {} FROM jobs WHERE register = ? AND state = 'in_doubt' ORDER BY seq", kColumns));
    s.Bind(1, ARegister);
    std::vector<TJob> jobs;
    while (s.Step()) jobs.push_back(s.Job());
    return jobs;
}

void TJournal::MarkRunning(const std::string& AId, const std::string& APreviousId, std::int64_t APreviousMicros) {
    std::lock_guard<std::mutex> g(FWriteLock);
    TTransaction tx(FWrite);
    TStatement s(FWrite, "UPDATE jobs SET state = 'running', started = ? WHERE id = ? AND state = 'queued'");
    s.Bind(1, NowText()).Bind(2, AId);
    s.Step();
    if (sqlite3_changes(FWrite) != 1) throw EJournalError("journal: job " + AId + " is no longer queued");
    if (!APreviousId.empty()) {
        TStatement p(FWrite, "UPDATE jobs SET overhead_us = overhead_us + ? WHERE id = ?");
        p.Bind(1, APreviousMicros).Bind(2, APreviousId);
        p.Step();
    }
    tx.Commit();
}

void TJournal::Finish(const std::string& AId, const std::string& AState, const json& AResult, std::int64_t ADriverMicros,
                      std::int64_t AOverheadMicros) {
    std::lock_guard<std::mutex> g(FWriteLock);
    TStatement s(FWrite,
                 "UPDATE jobs SET state = ?, finished = ?, result = ?, driver_us = driver_us + ?, "
                 "overhead_us = overhead_us + ? WHERE id = ?");
    s.Bind(1, AState).BindNullable(2, IsEnded(AState) ? NowText() : std::string());
    // Text from the register that is not valid UTF-8 must not keep an outcome from being stored.
    s.Bind(3, AResult.dump(-1, ' ', false, json::error_handler_t::replace));
    s.Bind(4, ADriverMicros).Bind(5, AOverheadMicros).Bind(6, AId);
    s.Step();
}

int TJournal::RecoverAtStart(int AKeepDays) {
    std::lock_guard<std::mutex> g(FWriteLock);
    TTransaction tx(FWrite);
    TStatement s(FWrite, "UPDATE jobs SET state = 'in_doubt' WHERE state = 'running'");
    s.Step();
    const int changed = sqlite3_changes(FWrite);
    const auto cutoff = std::chrono::system_clock::now() - std::chrono::hours(24) * AKeepDays;
    const std::time_t t = std::chrono::system_clock::to_time_t(cutoff);
    std::tm tm{};
    gmtime_r(&t, &tm);
    TStatement prune(FWrite, "DELETE FROM jobs WHERE state IN ('done','failed') AND finished < ?");
    prune.Bind(1, fmt::format("{:04}-{:02}-{:02}T{:02}:{:02}:{:02}", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                              tm.tm_hour, tm.tm_min, tm.tm_sec));
    prune.Step();
    tx.Commit();
    return changed;
}

std::map<std::string, int> TJournal::CountByRegister(const std::string& AState) {
    std::lock_guard<std::mutex> g(FReadLock);
    TStatement s(FRead, "SELECT register, COUNT(*) FROM jobs WHERE state = ? GROUP BY register");
    s.Bind(1, AState);
    std::map<std::string, int> counts;
    while (s.Step()) counts[s.Text(0)] = static_cast<int>(s.Int(0 + 1));
    return counts;
}

}  // namespace frd
