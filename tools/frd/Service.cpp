#include "Service.h"

#include <httplib.h>

#include <chrono>
#include <cmath>

#include <fmt/format.h>

#include "Operations.h"

namespace frd {
namespace {

using json = nlohmann::json;
using Clock = std::chrono::steady_clock;

constexpr std::size_t kMaxBody = 1 << 20;
constexpr int kKeepDays = 30;
constexpr double kMaxWait = 60;
const std::vector<double> kBounds{0.05, 0.1, 0.25, 0.5, 1, 2.5, 5, 10, 30, 60};

void Json(httplib::Response& ARes, int AStatus, const json& ABody) {
    ARes.status = AStatus;
    ARes.set_content(ABody.dump(-1, ' ', false, json::error_handler_t::replace), "application/json; charset=utf-8");
}

void Error(httplib::Response& ARes, int AStatus, const std::string& ACode, const std::string& AMessage) {
    Json(ARes, AStatus, json{{"error", {{"code", ACode}, {"message", AMessage}}}});
}

// Compares in time that depends only on the lengths, not on where the texts differ.
bool SameSecret(const std::string& A, const std::string& B) {
    unsigned char diff = A.size() == B.size() ? 0 : 1;
    const std::size_t n = std::max(A.size(), B.size());
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned char a = i < A.size() ? static_cast<unsigned char>(A[i]) : 0;
        const unsigned char b = i < B.size() ? static_cast<unsigned char>(B[i]) : 0;
        diff |= static_cast<unsigned char>(a ^ b);
    }
    return diff == 0;
}

// ?wait=S: 0 to 60 seconds; -1 when malformed.
double WaitParam(const httplib::Request& AReq) {
    if (!AReq.has_param("wait")) return 0;
    const std::string text = AReq.get_param_value("wait");
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (text.empty() || *end || !std::isfinite(v) || v < 0 || v > kMaxWait) return -1;
    return v;
}

std::string Label(const std::string& AText) {
    std::string out;
    for (char c : AText) {
        if (c == '\\' || c == '"') out += '\\';
        out += c == '\n' ? 'n' : c;
    }
    return out;
}

}  // namespace

TService::TService(TConfig AConfig) : FConfig(std::move(AConfig)), FJournal(FConfig.Journal) {
    FJournal.RecoverAtStart(kKeepDays);
    for (const auto& [id, reg] : FConfig.Registers)
        FWorkers.emplace(id, std::make_unique<TRegisterWorker>(id, reg, FJournal, *this));
    FServer = std::make_unique<httplib::Server>();
    Route();
}

TService::~TService() {
    Stop();
    for (auto& [id, w] : FWorkers) w->Stop();
    for (auto& [id, w] : FWorkers) w->Join();
}

int TService::Bind() {
    int port = FConfig.Port;
    if (port == 0) port = FServer->bind_to_any_port(FConfig.Host);
    else if (!FServer->bind_to_port(FConfig.Host, port)) port = -1;
    if (port <= 0) throw EServiceError(fmt::format("cannot listen on {}:{}", FConfig.Host, FConfig.Port));
    // The library listens with a backlog of 5: a burst of clients would have connections dropped.
    if (FListenSocket >= 0) ::listen(FListenSocket, SOMAXCONN);
    FConfig.Port = port;
    return port;
}

void TService::Serve() {
    for (auto& [id, w] : FWorkers) w->Start();
    if (!FStopping) FServer->listen_after_bind();
    // A document is never cut: each register ends the job it is running.
    for (auto& [id, w] : FWorkers) w->Stop();
    for (auto& [id, w] : FWorkers) w->Join();
}

void TService::Stop() {
    FStopping = true;
    {
        std::lock_guard<std::mutex> g(FEndLock);
        ++FEndCount;
        FEnded.notify_all();
    }
    FServer->stop();
}

void TService::JobEnded(const TJob& AJob, double ARunSeconds) {
    {
        std::lock_guard<std::mutex> g(FMetricsLock);
        ++FJobsTotal[{AJob.Register, AJob.Operation, AJob.State}];
        if (IsEnded(AJob.State) && ARunSeconds > 0) {
            THistogram& h = FJobSeconds[{AJob.Register, AJob.Operation}];
            h.Buckets.resize(kBounds.size());
            for (std::size_t i = 0; i < kBounds.size(); ++i)
                if (ARunSeconds <= kBounds[i]) ++h.Buckets[i];
            h.Sum += ARunSeconds;
            ++h.Count;
        }
    }
    std::lock_guard<std::mutex> g(FEndLock);
    ++FEndCount;
    FEnded.notify_all();
}

std::int64_t TService::TakeSubmitMicros(const std::string& AId) {
    std::lock_guard<std::mutex> g(FSubmitLock);
    const auto it = FSubmitMicros.find(AId);
    if (it == FSubmitMicros.end()) return 0;
    const std::int64_t v = it->second;
    FSubmitMicros.erase(it);
    return v;
}

std::optional<TJob> TService::WaitForJob(const std::string& AId, double ASeconds) {
    const auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(ASeconds));
    for (;;) {
        std::uint64_t seen = 0;
        {
            std::lock_guard<std::mutex> g(FEndLock);
            seen = FEndCount;
        }
        std::optional<TJob> job = FJournal.Get(AId);
        if (!job || IsEnded(job->State) || FStopping || Clock::now() >= deadline) return job;
        std::unique_lock<std::mutex> l(FEndLock);
        FEnded.wait_until(l, deadline, [&] { return FEndCount != seen; });
    }
}

bool TService::Authorised(const httplib::Request& AReq) const {
    if (FConfig.Token.empty()) return true;
    if (AReq.method == "GET" && (AReq.path == "/healthz" || AReq.path == "/")) return true;
    const std::string header = AReq.get_header_value("Authorization");
    const std::string prefix = "Bearer ";
    if (header.size() <= prefix.size() || header.compare(0, prefix.size(), prefix) != 0) return false;
    return SameSecret(header.substr(prefix.size()), FConfig.Token);
}

void TService::ApplyCors(const httplib::Request& AReq, httplib::Response& ARes) const {
    const std::string origin = AReq.get_header_value("Origin");
    if (origin.empty()) return;
    for (const auto& allowed : FConfig.AllowedOrigins)
        if (allowed == origin) {
            ARes.set_header("Access-Control-Allow-Origin", origin);
            ARes.set_header("Vary", "Origin");
            ARes.set_header("Access-Control-Allow-Headers", "Authorization, Content-Type");
            ARes.set_header("Access-Control-Allow-Methods", "GET, POST, OPTIONS");
            ARes.set_header("Access-Control-Expose-Headers", "Location");
            return;
        }
}

json TService::RegisterJson(const TRegisterWorker& AWorker, const std::map<std::string, int>& AQueued) {
    const TRegisterStatus s = AWorker.Status();
    const auto q = AQueued.find(AWorker.Id());
    return json{{"id", AWorker.Id()},
                {"state", s.State},
                {"queued", q == AQueued.end() ? 0 : q->second},
                {"shift", s.Shift},
                {"last_error", s.LastError}};
}

void TService::PostJob(const httplib::Request& AReq, httplib::Response& ARes) {
    const auto t0 = Clock::now();
    const std::string rid = AReq.matches[1];
    const auto worker = FWorkers.find(rid);
    if (!IsValidRegisterId(rid) || worker == FWorkers.end())
        return Error(ARes, 404, "no_such_register", "Нет такой ККТ: " + rid.substr(0, 64));
    const double wait = WaitParam(AReq);
    if (wait < 0) return Error(ARes, 400, "bad_request", "wait: от 0 до 60 секунд");
    const json body = json::parse(AReq.body, nullptr, false);
    if (body.is_discarded() || !body.is_object())
        return Error(ARes, 400, "bad_request", "Тело запроса должно быть объектом JSON");
    for (const auto& [key, value] : body.items())
        if (key != "id" && key != "operation" && key != "params")
            return Error(ARes, 400, "bad_request", "Неизвестное поле: " + key.substr(0, 64));
    if (!body.contains("id") || !body["id"].is_string() || !IsValidJobId(body["id"].get<std::string>()))
        return Error(ARes, 400, "bad_request", "id: от 1 до 64 символов A-Z a-z 0-9 . _ : -");
    const TOperation* op = body.contains("operation") && body["operation"].is_string()
                               ? FindOperation(body["operation"].get<std::string>())
                               : nullptr;
    if (!op) return Error(ARes, 400, "bad_request", "operation: неизвестная операция");
    TJob job;
    job.Id = body["id"].get<std::string>();
    job.Register = rid;
    job.Operation = op->Name;
    job.Params = body.contains("params") ? body["params"] : json::object();
    if (const std::string fault = CheckParams(*op, job.Params); !fault.empty())
        return Error(ARes, 400, "bad_request", "params: " + fault);
    TJob stored;
    const TJournal::TSubmit r = FJournal.Submit(job, FConfig.QueueLimit, stored);
    switch (r) {
        case TJournal::TSubmit::Conflict:
            return Error(ARes, 409, "id_conflict", "Задание с этим id уже есть, с другим содержимым");
        case TJournal::TSubmit::QueueFull:
            ARes.set_header("Retry-After", "1");
            return Error(ARes, 429, "queue_full", "Очередь ККТ заполнена");
        case TJournal::TSubmit::Created: {
            {
                std::lock_guard<std::mutex> g(FSubmitLock);
                FSubmitMicros[job.Id] = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - t0).count();
            }
            worker->second->Wake();
            break;
        }
        case TJournal::TSubmit::Existing: break;
    }
    if (wait > 0)
        if (auto now = WaitForJob(job.Id, wait)) stored = *now;
    if (r == TJournal::TSubmit::Created) ARes.set_header("Location", "/v1/jobs/" + job.Id);
    Json(ARes, r == TJournal::TSubmit::Created ? 201 : 200, JobJson(stored));
}

std::string TService::Metrics() {
    std::string out;
    const auto queued = FJournal.CountByRegister("queued");
    const auto doubt = FJournal.CountByRegister("in_doubt");
    out += "# HELP frd_jobs_total Jobs that reached a state since the service started.\n"
           "# TYPE frd_jobs_total counter\n";
    std::lock_guard<std::mutex> g(FMetricsLock);
    for (const auto& [k, n] : FJobsTotal)
        out += fmt::format("frd_jobs_total{{register=\"{}\",operation=\"{}\",state=\"{}\"}} {}\n", Label(std::get<0>(k)),
                           Label(std::get<1>(k)), Label(std::get<2>(k)), n);
    out += "# HELP frd_job_seconds Time from a job's start to its end.\n# TYPE frd_job_seconds histogram\n";
    for (const auto& [k, h] : FJobSeconds) {
        const std::string labels = fmt::format("register=\"{}\",operation=\"{}\"", Label(k.first), Label(k.second));
        for (std::size_t i = 0; i < kBounds.size(); ++i)
            out += fmt::format("frd_job_seconds_bucket{{{},le=\"{}\"}} {}\n", labels, kBounds[i], h.Buckets[i]);
        out += fmt::format("frd_job_seconds_bucket{{{},le=\"+Inf\"}} {}\n", labels, h.Count);
        out += fmt::format("frd_job_seconds_sum{{{}}} {}\nfrd_job_seconds_count{{{}}} {}\n", labels, h.Sum, labels, h.Count);
    }
    out += "# HELP frd_queue_length Jobs waiting for a register.\n# TYPE frd_queue_length gauge\n";
    for (const auto& [id, w] : FWorkers) {
        const auto q = queued.find(id);
        out += fmt::format("frd_queue_length{{register=\"{}\"}} {}\n", id, q == queued.end() ? 0 : q->second);
    }
    out += "# HELP frd_register_up Whether the register could be connected.\n# TYPE frd_register_up gauge\n";
    for (const auto& [id, w] : FWorkers) out += fmt::format("frd_register_up{{register=\"{}\"}} {}\n", id, w->Status().Up ? 1 : 0);
    out += "# HELP frd_in_doubt_jobs Jobs whose outcome the register has not told yet.\n"
           "# TYPE frd_in_doubt_jobs gauge\n";
    for (const auto& [id, w] : FWorkers) {
        const auto d = doubt.find(id);
        out += fmt::format("frd_in_doubt_jobs{{register=\"{}\"}} {}\n", id, d == doubt.end() ? 0 : d->second);
    }
    return out;
}

void TService::Route() {
    httplib::Server& s = *FServer;
    s.new_task_queue = [] { return new httplib::ThreadPool(64); };
    s.set_payload_max_length(kMaxBody);
    // The library's default adds SO_REUSEPORT, which lets a second frd bind a port in use.
    s.set_socket_options([this](socket_t sock) {
        int yes = 1;
        ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        FListenSocket = sock;
    });
    s.set_keep_alive_max_count(1000);
    s.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
        ApplyCors(req, res);
        if (req.method == "OPTIONS") {
            res.status = 204;
            return httplib::Server::HandlerResponse::Handled;
        }
        if (!Authorised(req)) {
            res.set_header("WWW-Authenticate", "Bearer");
            Error(res, 401, "unauthorized", "Нужен заголовок Authorization: Bearer с верным ключом");
            return httplib::Server::HandlerResponse::Handled;
        }
        return httplib::Server::HandlerResponse::Unhandled;
    });
    s.set_error_handler(httplib::Server::HandlerWithResponse([](const httplib::Request&, httplib::Response& res) {
        if (!res.body.empty()) return httplib::Server::HandlerResponse::Unhandled;
        if (res.status == 413) Error(res, 413, "too_large", "Тело запроса больше 1 МиБ");
        else if (res.status == 404) Error(res, 404, "not_found", "Нет такого адреса");
        else if (res.status == 400) Error(res, 400, "bad_request", "Неверный запрос");
        else Error(res, res.status, "error", "Ошибка запроса");
        return httplib::Server::HandlerResponse::Handled;
    }));
    s.set_exception_handler([](const httplib::Request&, httplib::Response& res, std::exception_ptr ep) {
        std::string text = "unknown";
        try {
            if (ep) std::rethrow_exception(ep);
        } catch (const std::exception& e) {
            text = e.what();
        } catch (...) {
        }
        Error(res, 500, "internal", text);
    });
    s.Get("/healthz", [](const httplib::Request&, httplib::Response& res) { Json(res, 200, {{"status", "ok"}}); });
    s.Get("/", [](const httplib::Request&, httplib::Response& res) {
        res.set_header("Cache-Control", "no-store");
        res.set_header("X-Content-Type-Options", "nosniff");
        res.set_header("Content-Security-Policy",
                       "default-src 'none'; script-src 'unsafe-inline'; style-src 'unsafe-inline'; connect-src 'self'");
        res.set_content(StatusPageHtml(), "text/html; charset=utf-8");
    });
    s.Get("/v1/registers", [this](const httplib::Request&, httplib::Response& res) {
        const auto queued = FJournal.CountByRegister("queued");
        json list = json::array();
        for (const auto& [id, w] : FWorkers) list.push_back(RegisterJson(*w, queued));
        Json(res, 200, {{"registers", list}});
    });
    s.Get(R"(/v1/registers/([^/]+))", [this](const httplib::Request& req, httplib::Response& res) {
        const std::string rid = req.matches[1];
        const auto w = FWorkers.find(rid);
        if (!IsValidRegisterId(rid) || w == FWorkers.end())
            return Error(res, 404, "no_such_register", "Нет такой ККТ: " + rid.substr(0, 64));
        Json(res, 200, RegisterJson(*w->second, FJournal.CountByRegister("queued")));
    });
    s.Post(R"(/v1/registers/([^/]+)/jobs)", [this](const httplib::Request& req, httplib::Response& res) { PostJob(req, res); });
    s.Get(R"(/v1/jobs/([^/]+))", [this](const httplib::Request& req, httplib::Response& res) {
        const std::string id = req.matches[1];
        const double wait = WaitParam(req);
        if (wait < 0) return Error(res, 400, "bad_request", "wait: от 0 до 60 секунд");
        std::optional<TJob> job;
        if (IsValidJobId(id)) job = wait > 0 ? WaitForJob(id, wait) : FJournal.Get(id);
        if (!job) return Error(res, 404, "no_such_job", "Нет такого задания");
        Json(res, 200, JobJson(*job));
    });
    s.Get("/v1/jobs", [this](const httplib::Request& req, httplib::Response& res) {
        const std::string reg = req.get_param_value("register"), state = req.get_param_value("state");
        int limit = 50;
        if (req.has_param("limit")) {
            const std::string text = req.get_param_value("limit");
            char* end = nullptr;
            const long v = std::strtol(text.c_str(), &end, 10);
            if (text.empty() || *end || v < 1 || v > 500) return Error(res, 400, "bad_request", "limit: от 1 до 500");
            limit = static_cast<int>(v);
        }
        static const std::vector<std::string> kStates{"queued", "running", "done", "failed", "in_doubt"};
        if (!state.empty() && std::find(kStates.begin(), kStates.end(), state) == kStates.end())
            return Error(res, 400, "bad_request", "state: queued, running, done, failed или in_doubt");
        if (!reg.empty() && !IsValidRegisterId(reg)) return Error(res, 400, "bad_request", "register: неверный id");
        json list = json::array();
        for (const TJob& j : FJournal.List(reg, state, limit)) list.push_back(JobJson(j));
        Json(res, 200, {{"jobs", list}});
    });
    s.Get("/metrics", [this](const httplib::Request&, httplib::Response& res) {
        res.set_content(Metrics(), "text/plain; version=0.0.4; charset=utf-8");
    });
}

}  // namespace frd
