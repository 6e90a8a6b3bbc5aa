// The frd process: killed in the middle of a receipt, stopped gracefully during a queue, refused
// at start, and its status page in headless Chromium.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include <fmt/format.h>

#include "FrdKit.h"
#include "Journal.h"
#include "platform/TempDir.h"

namespace frd::test {
namespace {

// One register served by a child frd with a journal in a temporary folder.
struct TFrdRig {
    fr::test::TTempAppData Data;
    TSimRegister Reg;
    std::string ConfigFile;
    std::unique_ptr<TFrdProcess> Frd;
    int Port = 0;

    TFrdRig() {
        ConfigFile = WriteFile(Data.Path() + "frd.json",
                               json{{"listen", "127.0.0.1:0"},
                                    {"journal", Data.Path() + "journal.sqlite3"},
                                    {"registers", {{"kassa", {{"settings", Reg.Settings}}}}}}
                                   .dump());
    }
    void Start() {
        Frd = std::make_unique<TFrdProcess>(std::vector<std::string>{"--config", ConfigFile});
        Port = Frd->Port();
        ASSERT_GT(Port, 0);
    }
    TReply Call(const std::string& AMethod, const std::string& APath, const std::string& ABody = {}) {
        httplib::Client c("127.0.0.1", Port);
        c.set_read_timeout(90, 0);
        return Send(c, AMethod, APath, {}, ABody);
    }
};

TEST(FrdProcess, KilledDuringTheCloseAndRestartedEndsTheJobAsTheFiscalStorageSays) {
    struct TRow {
        const char* Fault;  // on the close of the receipt
        bool Registered;    // the register made the document before frd was killed
    };
    for (const TRow& row : {TRow{"silence:ff45", false}, TRow{"delay:ff45=3000", true}}) {
        SCOPED_TRACE(row.Fault);
        TFrdRig rig;
        rig.Start();
        const std::size_t before = rig.Reg.Documents();
        rig.Reg.Sim.AddFault(*fr::sim::TSimulator::ParseFault(row.Fault));
        ASSERT_EQ(rig.Call("POST", "/v1/registers/kassa/jobs", SaleJob("crash-1").dump()).Status, 201);
        // The close has reached the register (the fault is used up): kill frd while it waits.
        ASSERT_TRUE(Eventually([&] { return rig.Reg.Sim.Faults().empty(); }));
        rig.Frd->Signal(SIGKILL);
        EXPECT_EQ(rig.Frd->Wait(), 128 + SIGKILL);
        ASSERT_EQ(rig.Reg.Documents(), before + (row.Registered ? 1 : 0));
        {
            TJournal journal(rig.Data.Path() + "journal.sqlite3");
            EXPECT_EQ(journal.Get("crash-1")->State, "running");
        }

        rig.Start();
        const TReply job = rig.Call("GET", "/v1/jobs/crash-1?wait=60");
        ASSERT_EQ(job.Status, 200) << job.Text;
        // Never run again: the register holds at most the one document.
        const TReply after = rig.Call("POST", "/v1/registers/kassa/jobs?wait=60",
                                      json{{"id", "status-1"}, {"operation", "GetCurrentStatus"}}.dump());
        EXPECT_EQ(after.Body["state"], "done");
        EXPECT_EQ(rig.Reg.Documents(), before + (row.Registered ? 1 : 0));
        EXPECT_TRUE(job.Body["state"] == "done" || job.Body["state"] == "failed") << job.Text;
        EXPECT_EQ(job.Body["state"], row.Registered ? "done" : "failed") << job.Text;
        if (row.Registered) {
            EXPECT_EQ(job.Body["result"]["outputs"]["CheckNumber"], rig.Reg.Sim.Documents().back().Number);
        }
    }
}

TEST(FrdProcess, GracefulStopFinishesTheRunningJobAndKeepsTheQueue) {
    TFrdRig rig;
    rig.Start();
    const std::size_t before = rig.Reg.Documents();
    rig.Reg.Sim.AddFault(*fr::sim::TSimulator::ParseFault("delay:ff45=1000"));
    for (const char* id : {"g1", "g2", "g3"})
        ASSERT_EQ(rig.Call("POST", "/v1/registers/kassa/jobs", SaleJob(id).dump()).Status, 201);
    ASSERT_TRUE(Eventually([&] { return rig.Reg.Sim.Faults().empty(); }));
    rig.Frd->Signal(SIGTERM);
    EXPECT_EQ(rig.Frd->Wait(), 0);
    {
        TJournal journal(rig.Data.Path() + "journal.sqlite3");
        EXPECT_EQ(journal.Get("g1")->State, "done");
        EXPECT_EQ(journal.Get("g2")->State, "queued");
        EXPECT_EQ(journal.Get("g3")->State, "queued");
    }
    EXPECT_EQ(rig.Reg.Documents(), before + 1);
    rig.Start();
    for (const char* id : {"g2", "g3"}) EXPECT_EQ(rig.Call("GET", fmt::format("/v1/jobs/{}?wait=60", id)).Body["state"], "done");
    EXPECT_EQ(rig.Reg.Documents(), before + 3);
}

TEST(FrdProcess, RefusesToStart) {
    fr::test::TTempAppData data;
    TFrdProcess taken({"--demo", "--listen", "127.0.0.1:0"});
    const int port = taken.Port();
    ASSERT_GT(port, 0);
    const json reg = {{"k", json::object()}};
    struct TRow {
        json Config;
    };
    for (const json& config : {json{{"listen", "0.0.0.0:0"}, {"registers", reg}},
                               json{{"listen", fmt::format("127.0.0.1:{}", port)},
                                    {"journal", data.Path() + "j.sqlite3"},
                                    {"registers", reg}}}) {
        TFrdProcess frd({"--config", WriteFile(data.Path() + "c.json", config.dump())});
        EXPECT_EQ(frd.Wait(), 2) << config.dump();
    }
    TFrdProcess check({"--check-config", WriteFile(data.Path() + "c.json", json{{"registers", 5}}.dump())});
    EXPECT_EQ(check.Line(), "registers must be an object with at least one register");
    EXPECT_EQ(check.Wait(), 2);
}

// Headless Chromium, or empty when the machine has none.
std::string Chromium() {
    for (const char* p : {"/usr/bin/chromium", "/usr/bin/chromium-browser"})
        if (::access(p, X_OK) == 0) return p;
    return {};
}

std::string RunChromium(const std::string& ABrowser, const std::string& AProfile, const std::string& AAction,
                        const std::string& AUrl) {
    const std::string cmd = fmt::format(
        "'{}' --headless --no-sandbox --disable-gpu --disable-background-networking --disable-component-update "
        "--disable-sync --no-first-run --disable-dev-shm-usage --user-data-dir='{}' --window-size=412,915 "
        "--virtual-time-budget=8000 {} '{}' 2>/dev/null",
        ABrowser, AProfile, AAction, AUrl);
    std::string out;
    if (FILE* p = ::popen(cmd.c_str(), "r")) {
        char buf[4096];
        for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
        ::pclose(p);
    }
    return out;
}

TEST(FrdProcess, StatusPageInHeadlessChromium) {
    const std::string browser = Chromium();
    if (browser.empty()) GTEST_SKIP() << "no chromium on this machine";
    fr::test::TTempAppData data;
    TFrdProcess frd({"--demo", "--listen", "127.0.0.1:0"});
    const int port = frd.Port();
    const std::string token = frd.Line().substr(6);
    ASSERT_GT(port, 0);
    httplib::Client c("127.0.0.1", port);
    c.set_read_timeout(60, 0);
    const TReply job = Send(c, "POST", "/v1/registers/demo/jobs?wait=60", token,
                            json{{"id", "page-shift-1"}, {"operation", "OpenShift"}, {"params", {{"InputParameters", kCashier}}}}.dump());
    ASSERT_EQ(job.Body["state"], "done") << job.Text;
    const std::string url = fmt::format("http://127.0.0.1:{}/#token={}", port, token);

    // Without the token the page asks for it; with it, it shows the register and the job.
    const std::string asks = RunChromium(browser, data.Path() + "p0", "--dump-dom", fmt::format("http://127.0.0.1:{}/", port));
    EXPECT_NE(asks.find("<form id=\"login\">"), std::string::npos) << asks.substr(0, 2000);
    const std::string dom = RunChromium(browser, data.Path() + "p1", "--dump-dom", url);
    EXPECT_NE(dom.find("class=\"card register\" data-id=\"demo\""), std::string::npos) << dom.substr(0, 4000);
    EXPECT_NE(dom.find("data-id=\"page-shift-1\""), std::string::npos);
    EXPECT_NE(dom.find(">OpenShift<"), std::string::npos);
    EXPECT_NE(dom.find("смена 1: открыта"), std::string::npos);
    EXPECT_NE(dom.find(fmt::format("<td>{}</td>", job.Body["result"]["outputs"]["DocumentNumber"].get<int>())),
              std::string::npos);

    std::filesystem::create_directories(FRD_OUT_DIR);
    const std::string shot = std::string(FRD_OUT_DIR) + "/frd-status.png";
    std::filesystem::remove(shot);
    RunChromium(browser, data.Path() + "p2", "--screenshot='" + shot + "'", url);
    EXPECT_TRUE(std::filesystem::exists(shot));
}

}  // namespace
}  // namespace frd::test
