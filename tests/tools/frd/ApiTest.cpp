// The API end to end in process: the service over TCP against simulated registers on TCP and on a
// pseudo-terminal, and one register that cannot be reached (its jobs stay queued).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fmt/format.h>

#include "FrdKit.h"
#include "Service.h"
#include "platform/TempDir.h"

namespace frd::test {
namespace {

constexpr const char* kToken = "s3cret-token";

class FrdApi : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        Data = new fr::test::TTempAppData;
        Tcp = new TSimRegister();
        Pty = new TSimRegister(7);
        std::vector<std::string> faults;
        TConfig config = ParseConfig(json{{"listen", "127.0.0.1:0"},
                                          {"token", kToken},
                                          {"journal", Data->Path() + "journal.sqlite3"},
                                          {"queue_limit", 2},
                                          {"allowed_origins", {"https://shop.example"}},
                                          {"registers",
                                           {{"tcp", {{"settings", Tcp->Settings}}},
                                            {"pty", {{"settings", Pty->Settings}}},
                                            // Nothing listens on port 1: Open fails, jobs wait.
                                            {"gone", {{"settings", {{"PortNumber", 9999}, {"IPAddress", "127.0.0.1"}, {"IPPort", 1}}}}}}}}
                                         .dump(),
                                     faults);
        ASSERT_TRUE(faults.empty()) << faults.front();
        Service = new TService(config);
        Port = Service->Bind();
        Server = new std::thread([] { Service->Serve(); });
    }
    static void TearDownTestSuite() {
        Service->Stop();
        Server->join();
        delete Server;
        delete Service;
        delete Pty;
        delete Tcp;
        delete Data;
    }
    TReply Call(const std::string& AMethod, const std::string& APath, const std::string& ABody = {},
                const std::string& AToken = kToken) {
        httplib::Client c("127.0.0.1", Port);
        c.set_read_timeout(90, 0);
        return Send(c, AMethod, APath, AToken, ABody);
    }

    static inline fr::test::TTempAppData* Data;
    static inline TSimRegister *Tcp, *Pty;
    static inline TService* Service;
    static inline std::thread* Server;
    static inline int Port = 0;
};

TEST_F(FrdApi, EveryOperationOverTcpAndPty) {
    const json cashier = {{"InputParameters", kCashier}};
    const std::string text = "<Document><Positions><TextString Text=\"Строка\"/></Positions></Document>";
    struct TRow {
        const char* Operation;
        json Params;
        int Success;  // 1 true, 0 false, -1 either (the job must still end)
        const char* Output;
    };
    const std::vector<TRow> rows{
        {"GetCurrentStatus", json::object(), 1, "SessionNumber"},
        {"GetDataKKT", json::object(), 1, "TableParametersKKT"},
        {"GetLineLength", json::object(), 1, "LineLength"},
        {"ProcessCheck", {{"Electronically", false}, {"CheckPackage", Sale()}}, 1, "FiscalSign"},
        {"ProcessCheck", {{"CheckPackage", "<not xml"}}, 0, nullptr},
        {"ProcessCorrectionCheck", {{"CheckCorrectionPackage", "<CheckCorrectionPackage/>"}}, -1, nullptr},
        {"PrintTextDocument", {{"DocumentPackage", text}}, 1, nullptr},
        {"CashInOutcome", {{"InputParameters", kCashier}, {"Amount", 150.5}}, 1, nullptr},
        {"PrintXReport", cashier, 1, nullptr},
        {"ReportCurrentStatusOfSettlements", cashier, 1, "OutputParameters"},
        {"OpenCashDrawer", json::object(), 1, nullptr},
        {"DeviceTest", json::object(), 1, "Description"},
        {"CloseShift", cashier, 1, "DocumentNumber"},
        {"OpenShift", cashier, 1, "SessionNumber"},
        {"OperationFN", {{"OperationType", 2}, {"ParametersFiscal", "<Parameters/>"}}, -1, nullptr},
    };
    int n = 0;
    for (const char* rid : {"tcp", "pty"})
        for (const TRow& row : rows) {
            const std::string id = fmt::format("op-{}-{}", rid, ++n);
            SCOPED_TRACE(id + " " + row.Operation);
            const TReply r = Call("POST", fmt::format("/v1/registers/{}/jobs?wait=60", rid),
                                  json{{"id", id}, {"operation", row.Operation}, {"params", row.Params}}.dump());
            ASSERT_EQ(r.Status, 201) << r.Text;
            EXPECT_TRUE(r.Body["state"] == "done" || r.Body["state"] == "failed") << r.Text;
            EXPECT_EQ(r.Body["register"], rid);
            if (row.Success >= 0) {
                EXPECT_EQ(r.Body["result"]["success"], row.Success == 1) << r.Text;
            }
            if (row.Output) {
                EXPECT_FALSE(r.Body["result"]["outputs"][row.Output].is_null()) << r.Text;
            }
            EXPECT_EQ(r.Body["state"] == "done", r.Body["result"]["success"] == true);
            const TReply again = Call("GET", "/v1/jobs/" + id);
            EXPECT_EQ(again.Body, r.Body);
        }
    EXPECT_EQ(Call("GET", "/v1/registers/pty").Body["shift"], (json{{"number", 2}, {"state", "open"}}));
    const TReply list = Call("GET", "/v1/jobs?register=pty&limit=3");
    ASSERT_EQ(list.Body["jobs"].size(), 3u);
    EXPECT_EQ(list.Body["jobs"][0]["id"], fmt::format("op-pty-{}", n));
}

TEST_F(FrdApi, StatusCodesAndErrors) {
    const std::string big(1024 * 1024 + 1, ' ');
    struct TRow {
        const char* Method;
        std::string Path, Body, Token;
        int Status;
        const char* Code;  // the error's code, nullptr for none
    };
    const std::string t = kToken;
    const std::vector<TRow> rows{
        {"GET", "/healthz", "", "", 200, nullptr},
        {"GET", "/", "", "", 200, nullptr},
        {"GET", "/v1/registers", "", "", 401, "unauthorized"},
        {"GET", "/v1/registers", "", "s3cret-tokem", 401, "unauthorized"},
        {"GET", "/v1/registers", "", "s3cret-token-and-more", 401, "unauthorized"},
        {"GET", "/metrics", "", "", 401, "unauthorized"},
        {"GET", "/v1/registers", "", t, 200, nullptr},
        {"GET", "/v1/registers/tcp", "", t, 200, nullptr},
        {"GET", "/v1/registers/nope", "", t, 404, "no_such_register"},
        {"GET", "/v1/registers/" + std::string(33, 'a'), "", t, 404, "no_such_register"},
        {"POST", "/v1/registers/nope/jobs", SaleJob("x1").dump(), t, 404, "no_such_register"},
        {"POST", "/v1/registers/tcp/jobs", "{not json", t, 400, "bad_request"},
        {"POST", "/v1/registers/tcp/jobs", SaleJob("bad id").dump(), t, 400, "bad_request"},
        {"POST", "/v1/registers/tcp/jobs", SaleJob(std::string(65, 'a')).dump(), t, 400, "bad_request"},
        {"POST", "/v1/registers/tcp/jobs", R"({"id":"x2","operation":"Format"})", t, 400, "bad_request"},
        {"POST", "/v1/registers/tcp/jobs", R"({"id":"x3","operation":"ProcessCheck","params":{"CheckPackage":5}})", t,
         400, "bad_request"},
        {"POST", "/v1/registers/tcp/jobs", R"({"id":"x4","operation":"GetDataKKT","params":{"Extra":1}})", t, 400,
         "bad_request"},
        {"POST", "/v1/registers/tcp/jobs", R"({"id":"x5","operation":"GetDataKKT","more":1})", t, 400, "bad_request"},
        {"POST", "/v1/registers/tcp/jobs?wait=61", SaleJob("x6").dump(), t, 400, "bad_request"},
        {"POST", "/v1/registers/tcp/jobs", big, t, 413, "too_large"},
        {"GET", "/v1/jobs/none", "", t, 404, "no_such_job"},
        {"GET", "/v1/jobs/none?wait=abc", "", t, 400, "bad_request"},
        {"GET", "/v1/jobs?limit=501", "", t, 400, "bad_request"},
        {"GET", "/v1/jobs?state=lost", "", t, 400, "bad_request"},
        {"GET", "/v1/jobs?state=done&limit=500", "", t, 200, nullptr},
        {"GET", "/nowhere", "", t, 404, "not_found"},
        {"GET", "/metrics", "", t, 200, nullptr},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(std::string(row.Method) + " " + row.Path.substr(0, 60) + " token " + row.Token);
        const TReply r = Call(row.Method, row.Path, row.Body, row.Token);
        EXPECT_EQ(r.Status, row.Status) << r.Text.substr(0, 300);
        if (row.Code) {
                EXPECT_EQ(r.Body["error"]["code"], row.Code) << r.Text.substr(0, 300);
            }
        if (row.Code) {
                EXPECT_TRUE(r.Body["error"]["message"].is_string());
            }
    }
    EXPECT_NE(Call("GET", "/metrics").Text.find("frd_register_up{register=\"tcp\"} 1"), std::string::npos);
}

TEST_F(FrdApi, SameIdIsOneDocumentOtherContentConflicts) {
    const std::size_t before = Tcp->Documents();
    const TReply first = Call("POST", "/v1/registers/tcp/jobs?wait=60", SaleJob("idem-1").dump());
    ASSERT_EQ(first.Status, 201) << first.Text;
    ASSERT_EQ(first.Body["state"], "done") << first.Text;
    const TReply second = Call("POST", "/v1/registers/tcp/jobs?wait=60", SaleJob("idem-1").dump());
    EXPECT_EQ(second.Status, 200);
    EXPECT_EQ(second.Body, first.Body);
    EXPECT_EQ(Tcp->Documents(), before + 1);
    EXPECT_EQ(first.Body["result"]["outputs"]["CheckNumber"], Tcp->Sim.Documents().back().Number);
    for (const json& other : {SaleJob("idem-1", 100), json{{"id", "idem-1"}, {"operation", "GetDataKKT"}}}) {
        const TReply r = Call("POST", "/v1/registers/tcp/jobs", other.dump());
        EXPECT_EQ(r.Status, 409);
        EXPECT_EQ(r.Body["error"]["code"], "id_conflict");
    }
    EXPECT_EQ(Call("POST", "/v1/registers/pty/jobs", SaleJob("idem-1").dump()).Status, 409);
    EXPECT_EQ(Tcp->Documents(), before + 1);
}

TEST_F(FrdApi, QueueLimitAndWaitOnAJobThatCannotRun) {
    EXPECT_EQ(Call("POST", "/v1/registers/gone/jobs", SaleJob("q1").dump()).Status, 201);
    EXPECT_EQ(Call("POST", "/v1/registers/gone/jobs", SaleJob("q2").dump()).Status, 201);
    const TReply full = Call("POST", "/v1/registers/gone/jobs", SaleJob("q3").dump());
    EXPECT_EQ(full.Status, 429);
    EXPECT_EQ(full.Body["error"]["code"], "queue_full");
    // The queued job is not refused as full: the same id answers with the job.
    EXPECT_EQ(Call("POST", "/v1/registers/gone/jobs", SaleJob("q1").dump()).Status, 200);
    const TReply waited = Call("GET", "/v1/jobs/q1?wait=0.2");
    EXPECT_EQ(waited.Body["state"], "queued");
    EXPECT_TRUE(waited.Body["result"].is_null());
    const TReply reg = Call("GET", "/v1/registers/gone");
    EXPECT_EQ(reg.Body["queued"], 2);
    EXPECT_EQ(reg.Body["state"], "offline");
    EXPECT_FALSE(reg.Body["last_error"].is_null());
    EXPECT_NE(Call("GET", "/metrics").Text.find("frd_queue_length{register=\"gone\"} 2"), std::string::npos);
}

TEST_F(FrdApi, CorsOnlyForAllowedOrigins) {
    for (const auto& [origin, allowed] : std::vector<std::pair<std::string, bool>>{
             {"https://shop.example", true}, {"https://evil.example", false}}) {
        httplib::Client c("127.0.0.1", Port);
        const auto r = c.Get("/healthz", {{"Origin", origin}});
        ASSERT_TRUE(r);
        EXPECT_EQ(r->get_header_value("Access-Control-Allow-Origin"), allowed ? origin : "") << origin;
    }
}

TEST(FrdConfig, FaultsAreNamed) {
    fr::test::TTempDir dir;
    const std::string open = WriteFile(dir.Path() + "open.token", "abc\n");
    const std::string closed = WriteFile(dir.Path() + "closed.token", "abc\n");
    ::chmod(open.c_str(), 0644);
    ::chmod(closed.c_str(), 0600);
    const json reg = {{"k", json::object()}};
    struct TRow {
        json Config;
        const char* Fault;  // nullptr: valid
    };
    const std::vector<TRow> rows{
        {{{"registers", reg}}, nullptr},
        {{{"listen", "0.0.0.0:8780"}, {"registers", reg}}, "token is required"},
        {{{"listen", "0.0.0.0:8780"}, {"token_file", open}, {"registers", reg}}, "others may read it"},
        {{{"listen", "0.0.0.0:8780"}, {"token_file", closed}, {"registers", reg}}, nullptr},
        {{{"listen", "[::1]:8780"}, {"registers", reg}}, nullptr},
        {{{"listen", "nowhere"}, {"registers", reg}}, "listen must be"},
        {{{"registers", {{"bad id", json::object()}}}}, "register id"},
        {{{"registers", {{"k", {{"settings", {{"NoSuchThing", 1}}}}}}}}, "no such setting \"NoSuchThing\""},
        {{{"registers", {{"k", {{"settings", {{"IPPort", "many"}}}}}}}}, "setting \"IPPort\" does not take"},
        {{{"registers", {{"k", {{"settings", {{"Порт", 3}, {"ConnectPwd", 30}}}}}}}}, nullptr},
        {{{"registers", reg}, {"queue_limit", 0}}, "queue_limit"},
        {{{"registers", reg}, {"colour", "red"}}, "unknown key \"colour\""},
        {{{"registers", json::object()}}, "at least one register"},
    };
    for (const TRow& row : rows) {
        std::vector<std::string> faults;
        const TConfig parsed = ParseConfig(row.Config.dump(), faults);
        if (!row.Fault) {
            // Settings are kept under the driver's own names.
            for (const auto& [name, value] : parsed.Registers.begin()->second.Settings)
                EXPECT_TRUE(name == "PortNumber" || name == "ConnectPassword") << name;
            EXPECT_TRUE(faults.empty()) << row.Config.dump() << ": " << (faults.empty() ? "" : faults.front());
            continue;
        }
        std::string all;
        for (const auto& f : faults) all += f + "\n";
        EXPECT_NE(all.find(row.Fault), std::string::npos) << row.Config.dump() << ": " << all;
    }
}

}  // namespace
}  // namespace frd::test
