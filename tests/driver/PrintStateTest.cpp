// Finishing an interrupted document, waiting for paper, cutting: against a scripted register and
// a clock that advances only when slept on.

#include <gtest/gtest.h>

#include <sstream>

#include "driver/ScriptedDriver.h"
#include "framework/ErrorCodes.h"

namespace fr::test {
namespace {

using namespace std::chrono_literals;

class PrintStateTest : public ScriptedDriverTest {
protected:
    void SetUp() override {
        ExpectEnableCommands(32, 0);
        ASSERT_EQ(Enable(), 0);
        Link.Sent.clear();
    }
    std::string Sent() const {
        std::string s;
        for (const auto& c : Link.Sent) {
            if (!s.empty()) s += ' ';
            s += BytesToHexText(c.Cmd);
            if (c.Cmd == TBytes{0x10} || c.Cmd == TBytes{0xB0}) continue;
            s += ':' + BytesToHexText(c.Data);
        }
        return s;
    }
    void ExpectContinue(TBytes AAnswer = Ok()) { Link.Expect({0xB0}, TBytes{}, std::move(AAnswer)); }
    // Submode AValue for ACount state queries.
    void ExpectSubmode(std::uint8_t AValue, int ACount = 1) {
        for (int i = 0; i < ACount; ++i) Link.ExpectState(2, AValue);
    }
};

// ---- CheckPrintState ----

TEST_F(PrintStateTest, NothingPendingSendsOnlyTheStateQuery) {
    for (std::uint8_t submode : {0, 1, 4, 5}) {
        SCOPED_TRACE(int(submode));
        Link.Sent.clear();
        ExpectSubmode(submode);
        EXPECT_EQ(Driver->CheckPrintState(), 0);
        EXPECT_EQ(Sent(), "10");
    }
}

TEST_F(PrintStateTest, InterruptedDocumentIsContinuedCutAndReportedAsPrinted) {
    for (std::uint8_t submode : {2, 3}) {
        SCOPED_TRACE(int(submode));
        Link.Sent.clear();
        ExpectSubmode(submode);
        ExpectContinue();
        ExpectSubmode(0);  // the end-of-printing wait
        ExpectSubmode(0);
        Link.ExpectIdle();  // and its cut, which the interrupted print never reached
        Link.Expect({0x25}, std::nullopt, Ok());
        EXPECT_EQ(Driver->CheckPrintState(), errPreviousDocumentPrinted);
        EXPECT_EQ(Sent(), "10 B0 10 10 10 25:01");
    }
}

TEST_F(PrintStateTest, InterruptedDocumentThatStaysInterruptedIs3027) {
    ExpectSubmode(3);
    ExpectContinue();
    ExpectSubmode(2);
    ExpectSubmode(2);
    EXPECT_EQ(Driver->CheckPrintState(), errPrintFailed);
}

TEST_F(PrintStateTest, RefusedContinueIsTheResult) {
    ExpectSubmode(3);
    ExpectContinue(Bytes({0x6B}));
    EXPECT_EQ(Driver->CheckPrintState(), 0x6B);
}

TEST_F(PrintStateTest, RegisterThatCannotBeAskedCountsAsNothingPending) {
    Link.ExpectLinkFailure({0x10}, errNoResponse);
    EXPECT_EQ(Driver->CheckPrintState(), 0);
}

TEST_F(PrintStateTest, UnansweredSecondStateQueryCannotConfirmThePrint) {
    ExpectSubmode(3);
    ExpectContinue();
    ExpectSubmode(0);
    Link.ExpectLinkFailure({0x10}, errNoResponse);
    EXPECT_EQ(Driver->CheckPrintState(), errPrintFailed);
}

// ---- WaitPrintCompletion ----

TEST_F(PrintStateTest, PrintedDocumentNeedsNoPolling) {
    ExpectSubmode(5);  // still printing: the end-of-printing wait polls
    ExpectSubmode(0);
    ExpectSubmode(0);  // the state read after it
    EXPECT_EQ(Driver->WaitPrintCompletion(), 0);
    EXPECT_EQ(Sent(), "10 10 10");
    EXPECT_EQ(Clock.Sleeps, (std::vector<std::chrono::milliseconds>{200ms}));
}

TEST_F(PrintStateTest, PaperLoadedOnTheFifthPollIsContinuedAndAwaitedAgain) {
    ExpectSubmode(2);      // end of printing: not printing
    ExpectSubmode(2);      // out of paper
    ExpectSubmode(2, 4);   // polls 1..4
    ExpectSubmode(3);      // poll 5: paper loaded
    ExpectContinue();
    ExpectSubmode(0);      // end of printing
    ExpectSubmode(0);      // printed
    EXPECT_EQ(Driver->WaitPrintCompletion(), 0);
    EXPECT_EQ(Clock.Sleeps, std::vector<std::chrono::milliseconds>(5, 1000ms));
    EXPECT_EQ(Sent(), "10 10 10 10 10 10 10 B0 10 10");
}

TEST_F(PrintStateTest, PaperNeverLoadedIs3027AfterAHundredPollsOfOneSecond) {
    ExpectSubmode(2, 2);
    ExpectSubmode(2, 100);
    EXPECT_EQ(Driver->WaitPrintCompletion(), errPrintFailed);
    EXPECT_EQ(Clock.Sleeps, std::vector<std::chrono::milliseconds>(100, 1000ms));
}

TEST_F(PrintStateTest, PaperSeenOnlyOnTheLastPollIsTooLate) {
    ExpectSubmode(2, 2);
    ExpectSubmode(2, 99);
    ExpectSubmode(3);
    EXPECT_EQ(Driver->WaitPrintCompletion(), errPrintFailed);
    EXPECT_EQ(Clock.Sleeps.size(), 100u);
    EXPECT_EQ(Link.Sent.back().Cmd, TBytes{0x10}) << "no continue-print";
}

TEST_F(PrintStateTest, PaperOnTheNinetyNinthPollIsStillContinued) {
    ExpectSubmode(2, 2);
    ExpectSubmode(2, 98);
    ExpectSubmode(3);
    ExpectContinue();
    ExpectSubmode(0, 2);
    EXPECT_EQ(Driver->WaitPrintCompletion(), 0);
    EXPECT_EQ(Clock.Sleeps.size(), 99u);
}

TEST_F(PrintStateTest, RegisterLeavingThePaperWaitOtherwiseIs3027AtOnce) {
    for (std::uint8_t submode : {0, 1, 4, 5}) {
        SCOPED_TRACE(int(submode));
        Clock.Sleeps.clear();
        ExpectSubmode(2, 2);
        ExpectSubmode(2, 2);
        ExpectSubmode(submode);
        EXPECT_EQ(Driver->WaitPrintCompletion(), errPrintFailed);
        EXPECT_EQ(Clock.Sleeps.size(), 3u);
    }
}

TEST_F(PrintStateTest, UnansweredPollKeepsWaiting) {
    ExpectSubmode(2, 2);
    Link.ExpectLinkFailure({0x10}, errNoResponse);
    ExpectSubmode(3);
    ExpectContinue();
    ExpectSubmode(0, 2);
    EXPECT_EQ(Driver->WaitPrintCompletion(), 0);
}

TEST_F(PrintStateTest, RefusedContinueAfterPaperIsTheResult) {
    ExpectSubmode(2, 2);
    ExpectSubmode(3);
    ExpectContinue(Bytes({0x50}));
    EXPECT_EQ(Driver->WaitPrintCompletion(), 0x50);
}

TEST_F(PrintStateTest, RegisterThatRunsOutOfPaperAgainAndAgainIsGivenUpOn) {
    for (int i = 0; i < kMaxPrintContinuations; ++i) {
        ExpectSubmode(2, 2);
        ExpectSubmode(3);
        ExpectContinue();
    }
    ExpectSubmode(2, 2);
    EXPECT_EQ(Driver->WaitPrintCompletion(), errPrintFailed);
}

// ---- CutAfterDocument ----

TEST_F(PrintStateTest, CutAfterDocumentFollowsTheFlagsAndTheRegistersAutoCut) {
    struct Case {
        const char* Name;
        bool NoCut, RespectAutoCut, AutoCut;
        int Lines;
        const char* Sent;
    };
    // Cut and feed each wait for the end of printing first (the state query).
    const Case cases[] = {
        {"no-cut flag", true, false, false, 5, ""},
        {"register cuts by itself", false, true, true, -1, ""},
        {"register does not cut", false, true, false, -1, "10 25:01"},
        {"auto-cut ignored", false, false, true, 5, "10 29:0205 10 25:01"},
        {"no feed", false, false, false, 0, "10 29:0200 10 25:01"},
        {"count over a byte", false, false, false, 300, "10 29:02FF 10 25:01"},
        {"negative count", false, false, false, -7, "10 29:0200 10 25:01"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Link.Sent.clear();
        Driver->SetAutoCut(c.AutoCut);
        std::istringstream expected(c.Sent);
        for (std::string item; expected >> item;) {
            if (item == "10")
                Link.ExpectIdle();
            else
                Link.Expect({static_cast<std::uint8_t>(std::stoi(item.substr(0, 2), nullptr, 16))}, std::nullopt, Ok());
        }
        Driver->CutAfterDocument(c.NoCut, c.RespectAutoCut, c.Lines);
        EXPECT_EQ(Sent(), c.Sent);
    }
}

TEST_F(PrintStateTest, RefusedCutChangesNothingForTheCaller) {
    Link.ExpectIdle();
    Link.Expect({0x25}, std::nullopt, Bytes({0x6B}));
    Driver->CutAfterDocument(false, false, -1);
    EXPECT_TRUE(Link.Done());
}

}  // namespace
}  // namespace fr::test
