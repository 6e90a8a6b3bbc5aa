// The journal on its own: submits, the order jobs are taken in, and what a restart finds.
#include <gtest/gtest.h>

#include "FrdKit.h"
#include "Journal.h"
#include "platform/TempDir.h"

namespace frd::test {
namespace {

TJob Job(const std::string& AId, const std::string& ARegister, const std::string& AOperation, json AParams = json::object()) {
    TJob j;
    j.Id = AId;
    j.Register = ARegister;
    j.Operation = AOperation;
    j.Params = std::move(AParams);
    return j;
}

TEST(FrdJournal, SubmitsRunsAndRecovers) {
    fr::test::TTempDir dir;
    const std::string path = dir.Path() + "sub/journal.sqlite3";
    {
        TJournal j(path);
        using S = TJournal::TSubmit;
        struct TRow {
            TJob Job;
            S Expected;
        };
        const std::vector<TRow> rows{
            {Job("a", "k", "ProcessCheck", {{"CheckPackage", "x"}}), S::Created},
            {Job("a", "k", "ProcessCheck", {{"CheckPackage", "x"}}), S::Existing},
            {Job("a", "k", "ProcessCheck", {{"CheckPackage", "y"}}), S::Conflict},
            {Job("a", "k2", "ProcessCheck", {{"CheckPackage", "x"}}), S::Conflict},
            {Job("b", "k", "GetDataKKT"), S::Created},
            {Job("c", "k", "PrintTextDocument"), S::Created},
            {Job("d", "k", "GetCurrentStatus"), S::QueueFull},
            {Job("d", "k2", "GetCurrentStatus"), S::Created},
        };
        for (const TRow& row : rows) {
            TJob out;
            EXPECT_EQ(j.Submit(row.Job, 3, out), row.Expected) << row.Job.Id << " " << row.Job.Register;
            EXPECT_EQ(out.Id, row.Job.Id);
        }
        EXPECT_EQ(j.NextQueued("k", true)->Id, "a");
        j.MarkRunning("a");
        EXPECT_THROW(j.MarkRunning("a"), EJournalError);
        EXPECT_EQ(j.Get("a")->State, "running");
        EXPECT_EQ(j.CountByRegister("queued"), (std::map<std::string, int>{{"k", 2}, {"k2", 1}}));
    }
    // Killed while "a" ran: a restart finds it in doubt, and only jobs that make no document may
    // run before it is settled.
    TJournal j(path);
    EXPECT_EQ(j.RecoverAtStart(30), 1);
    EXPECT_EQ(j.Get("a")->State, "in_doubt");
    EXPECT_TRUE(JobJson(*j.Get("a"))["result"].is_null());
    EXPECT_EQ(j.InDoubt("k").size(), 1u);
    EXPECT_EQ(j.NextQueued("k", false)->Id, "b");
    j.MarkRunning("b");
    j.Finish("b", "done", {{"success", true}}, 5, 7);
    EXPECT_FALSE(j.NextQueued("k", false).has_value());
    EXPECT_EQ(j.NextQueued("k", true)->Id, "c");
    const TJob b = *j.Get("b");
    EXPECT_EQ(JobJson(b)["result"], (json{{"success", true}}));
    EXPECT_EQ(b.DriverMicros, 5);
    EXPECT_EQ(b.OverheadMicros, 7);
    EXPECT_FALSE(JobJson(b)["finished"].is_null());
    const auto newest = j.List("", "", 2);
    ASSERT_EQ(newest.size(), 2u);
    EXPECT_EQ(newest[0].Id, "d");
    EXPECT_EQ(j.List("k", "done", 50).size(), 1u);
}

}  // namespace
}  // namespace frd::test
