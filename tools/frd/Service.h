#pragma once
// The HTTP/JSON service: the API of the contract over the journal and the register workers.

#include <atomic>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Config.h"
#include "Journal.h"
#include "Worker.h"

namespace httplib {
class Server;
struct Request;
struct Response;
}  // namespace httplib

namespace frd {

class EServiceError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class TService : public IJobSink {
public:
    // Opens the journal (running jobs become in_doubt) and makes the workers; nothing runs yet.
    // Throws EJournalError.
    explicit TService(TConfig AConfig);
    ~TService() override;

    // Binds the listening socket; returns the port (the one given, or the one picked for 0).
    // Throws EServiceError when it cannot (a port in use).
    int Bind();
    // Starts the workers and serves until Stop; then lets every register finish the job it is
    // running and returns.
    void Serve();
    // From any thread (a signal's): stop accepting, wake the waiting requests.
    void Stop();

    const TConfig& Config() const { return FConfig; }

    // IJobSink
    void JobEnded(const TJob& AJob, double ARunSeconds) override;
    std::int64_t TakeSubmitMicros(const std::string& AId) override;

private:
    void Route();
    bool Authorised(const httplib::Request& ARequest) const;
    void ApplyCors(const httplib::Request& ARequest, httplib::Response& AResponse) const;
    nlohmann::json RegisterJson(const TRegisterWorker& AWorker, const std::map<std::string, int>& AQueued);
    void PostJob(const httplib::Request& ARequest, httplib::Response& AResponse);
    // The job once it has ended, or as it is after ASeconds.
    std::optional<TJob> WaitForJob(const std::string& AId, double ASeconds);
    std::string Metrics();

    TConfig FConfig;
    TJournal FJournal;
    std::map<std::string, std::unique_ptr<TRegisterWorker>> FWorkers;
    std::unique_ptr<httplib::Server> FServer;
    int FListenSocket = -1;

    std::mutex FEndLock;
    std::condition_variable FEnded;
    std::uint64_t FEndCount = 0;
    std::atomic<bool> FStopping{false};

    std::mutex FSubmitLock;
    std::map<std::string, std::int64_t> FSubmitMicros;

    // Metrics since start.
    struct THistogram {
        std::vector<std::uint64_t> Buckets;
        double Sum = 0;
        std::uint64_t Count = 0;
    };
    std::mutex FMetricsLock;
    std::map<std::tuple<std::string, std::string, std::string>, std::uint64_t> FJobsTotal;
    std::map<std::pair<std::string, std::string>, THistogram> FJobSeconds;
};

// The status page.
const std::string& StatusPageHtml();

}  // namespace frd
