// The register's side of the link, driven with raw bytes over TCP and a pseudo-terminal.

#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>

#include "FrameClient.h"
#include "core/Simulator.h"

using namespace frtest;
using fr::sim::TFault;
using fr::sim::TFaultKind;
using fr::sim::TSimulator;
using Clock = std::chrono::steady_clock;

namespace {

enum class TTransport { Tcp, Pty };

class LinkTest : public ::testing::TestWithParam<TTransport> {
protected:
    void SetUp() override {
        if (GetParam() == TTransport::Tcp)
            Port = Sim.StartTcp(0);
        else
            Slave = Sim.StartPty();
    }
    TClient Connect() { return GetParam() == TTransport::Tcp ? TClient::Tcp(Port) : TClient::Pty(Slave); }

    TSimulator Sim;
    std::uint16_t Port = 0;
    std::string Slave;
};

TEST_P(LinkTest, IdleRegisterAnswersEnqWithNak) {
    TClient c = Connect();
    c.Send({ENQ});
    EXPECT_EQ(c.Byte(), NAK);
}

TEST_P(LinkTest, FrameIsAcknowledgedAndAnsweredWithTheEchoedCode) {
    TClient c = Connect();
    c.Send({ENQ});
    ASSERT_EQ(c.Byte(), NAK);
    c.Send(MakeFrame(Cmd(0x10, {}, 31)));
    EXPECT_EQ(c.Byte(), ACK);
    TBytes want{STX, 0x02, 0x10, 0x4F, 0x02 ^ 0x10 ^ 0x4F};
    for (auto b : want) EXPECT_EQ(c.Byte(), b);
    c.Send({ACK});
    c.Send({ENQ});
    EXPECT_EQ(c.Byte(), NAK);  // collected: nothing waits
}

TEST_P(LinkTest, TwoByteCommandEchoesBothCodeBytes) {
    TClient c = Connect();
    TBytes a = c.Exchange(Cmd(0xFF40));
    ASSERT_GE(a.size(), 8u);
    EXPECT_EQ(a[0], 0xFF);
    EXPECT_EQ(a[1], 0x40);
    EXPECT_EQ(a[2], 0);
}

TEST_P(LinkTest, FrameWithWrongCheckByteGetsNakAndIsNotExecuted) {
    Sim.SetFiscal(true);
    TClient c = Connect();
    TBytes f = MakeFrame(Cmd(0xE0));
    f.back() ^= 0x01;
    c.Send(f);
    EXPECT_EQ(c.Byte(), NAK);
    EXPECT_FALSE(Sim.Status().ShiftOpen);
    c.Send({ENQ});
    EXPECT_EQ(c.Byte(), NAK);
}

TEST_P(LinkTest, AnswerIsResentOnNak) {
    TClient c = Connect();
    c.Send(MakeFrame(Cmd(0x10)));
    ASSERT_EQ(c.Byte(), ACK);
    auto first = c.Frame();
    ASSERT_TRUE(first);
    c.Send({NAK});
    auto again = c.Frame();
    ASSERT_TRUE(again);
    EXPECT_EQ(*again, *first);
    c.Send({ACK});
    c.Send({ENQ});
    EXPECT_EQ(c.Byte(), NAK);
}

TEST_P(LinkTest, UnacknowledgedAnswerIsHandedOutOnEnq) {
    TClient c = Connect();
    c.Send(MakeFrame(Cmd(0x10)));
    ASSERT_EQ(c.Byte(), ACK);
    auto first = c.Frame();
    ASSERT_TRUE(first);
    c.Send({ENQ});
    EXPECT_EQ(c.Byte(), ACK);
    auto again = c.Frame();
    ASSERT_TRUE(again);
    EXPECT_EQ(*again, *first);
    c.Send({ACK});
    c.Send({ENQ});
    EXPECT_EQ(c.Byte(), NAK);
}

TEST_P(LinkTest, NoiseBetweenFramesIsIgnored) {
    TClient c = Connect();
    c.Send({0x00, ACK, NAK, 0xFF, 0x41, 0x7F});
    c.Send({ENQ});
    EXPECT_EQ(c.Byte(), NAK);
    EXPECT_EQ(c.Run(0x10).at(0), 0);
}

TEST_P(LinkTest, EmptyMessageIsAnsweredAsUnknown) {
    TClient c = Connect();
    c.Send({STX, 0x00, 0x00});
    ASSERT_EQ(c.Byte(), ACK);
    auto a = c.Frame();
    ASSERT_TRUE(a);
    EXPECT_EQ(*a, (TBytes{0x00, 0x01}));
    c.Send({ACK});
}

TEST_P(LinkTest, StateIsKeptAcrossConnections) {
    Sim.SetFiscal(true);
    {
        TClient c = Connect();
        ASSERT_EQ(c.Run(0xE0).at(0), 0);
    }
    TClient c = Connect();
    TBytes p = c.Run(0xFF40);
    EXPECT_EQ(p.at(1), 1);
    EXPECT_EQ(GetLe(p, 2, 2), 1u);
}

INSTANTIATE_TEST_SUITE_P(Transports, LinkTest, ::testing::Values(TTransport::Tcp, TTransport::Pty),
                         [](const auto& info) { return info.param == TTransport::Tcp ? "Tcp" : "Pty"; });

// ---- faults ----

// Faults over both transports; those that drop the connection are TCP-only.
class FaultTest : public LinkTest {
protected:
    void Add(const std::string& text) {
        auto f = TSimulator::ParseFault(text);
        ASSERT_TRUE(f) << text;
        Sim.AddFault(*f);
    }
};

class TcpFaultTest : public FaultTest {};
class PtyFaultTest : public FaultTest {};

TEST_P(FaultTest, SilenceIgnoresTheFrame) {
    Add("silence:10");
    TClient c = Connect();
    c.Send(MakeFrame(Cmd(0x10)));
    c.Send({ENQ});
    EXPECT_EQ(c.Byte(), NAK);  // the first byte back answers the ENQ: the frame got nothing
    EXPECT_EQ(c.Run(0x10).at(0), 0);
}

TEST_P(FaultTest, NakRejectsTheFrameWithoutExecutingIt) {
    Sim.SetFiscal(true);
    Add("nak:e0");
    TClient c = Connect();
    c.Send(MakeFrame(Cmd(0xE0)));
    EXPECT_EQ(c.Byte(), NAK);
    EXPECT_FALSE(Sim.Status().ShiftOpen);
    EXPECT_EQ(c.Run(0xE0).at(0), 0);
}

TEST_P(FaultTest, BadCheckByteOnTheAnswerAndAGoodResend) {
    Add("badcheck:10");
    TClient c = Connect();
    c.Send(MakeFrame(Cmd(0x10)));
    ASSERT_EQ(c.Byte(), ACK);
    bool ok = true;
    ASSERT_TRUE(c.Frame(&ok));
    EXPECT_FALSE(ok);
    c.Send({NAK});
    ASSERT_TRUE(c.Frame(&ok));
    EXPECT_TRUE(ok);
    c.Send({ACK});
}

TEST_P(FaultTest, NoAckExecutesAndKeepsTheAnswerForEnq) {
    Sim.SetFiscal(true);
    Add("noack:e0");
    TClient c = Connect();
    c.Send(MakeFrame(Cmd(0xE0)));
    c.Send({ENQ});
    EXPECT_EQ(c.Byte(), ACK);
    auto a = c.Frame();
    ASSERT_TRUE(a);
    EXPECT_EQ(a->at(0), 0xE0);
    EXPECT_EQ(a->at(1), 0);
    c.Send({ACK});
    EXPECT_TRUE(Sim.Status().ShiftOpen);
}

TEST_P(FaultTest, UncollectedAnswerWaitsForEnq) {
    Add("uncollected:10");
    TClient c = Connect();
    c.Send(MakeFrame(Cmd(0x10)));
    EXPECT_EQ(c.Byte(), ACK);
    c.Send({ENQ});
    EXPECT_EQ(c.Byte(), ACK);
    auto a = c.Frame();
    ASSERT_TRUE(a);
    EXPECT_EQ(a->at(0), 0x10);
    c.Send({ACK});
    c.Send({ENQ});
    EXPECT_EQ(c.Byte(), NAK);
}

TEST_P(FaultTest, SplitAnswerIsPacedAtTheBitRate) {
    Add("split:10=1200/2");
    TClient c = Connect();
    auto start = Clock::now();
    c.Send(MakeFrame(Cmd(0x10)));
    ASSERT_EQ(c.Byte(), ACK);
    bool ok = false;
    auto a = c.Frame(&ok);
    auto elapsed = Clock::now() - start;
    ASSERT_TRUE(a);
    EXPECT_TRUE(ok);
    std::size_t pieces = (a->size() + 3 + 1) / 2;
    // Each piece of 2 bytes takes 20 bits at 1200 bit/s: at least 16 ms between pieces.
    EXPECT_GE(elapsed, std::chrono::milliseconds(16) * static_cast<int>(pieces - 1));
    c.Send({ACK});
}

TEST_P(FaultTest, DelayComesBetweenAckAndAnswer) {
    Add("delay:10=300");
    TClient c = Connect();
    auto start = Clock::now();
    c.Send(MakeFrame(Cmd(0x10)));
    ASSERT_EQ(c.Byte(), ACK);
    ASSERT_TRUE(c.Frame());
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(300));
    c.Send({ACK});
}

TEST_P(TcpFaultTest, DisconnectDropsTheConnectionMidFrame) {
    Add("disconnect:10");
    TClient c = Connect();
    c.Send(MakeFrame(Cmd(0x10)));
    ASSERT_EQ(c.Byte(), ACK);
    EXPECT_EQ(c.Byte(), STX);
    int got = 1, b;
    while ((b = c.Byte()) >= 0) ++got;
    EXPECT_EQ(b, -2);
    EXPECT_LT(got, 20);  // the whole answer frame is 20 bytes
}

TEST_P(FaultTest, RefusalGivesTheCodeForTheNextCountFramesOnly) {
    Add("refuse:10x2=80");
    TClient c = Connect();
    EXPECT_EQ(c.Run(0x11).at(0), 0);  // another command is not touched
    EXPECT_EQ(c.Run(0x10), TBytes{80});
    EXPECT_EQ(c.Run(0x10), TBytes{80});
    EXPECT_EQ(c.Run(0x10).at(0), 0);
    EXPECT_TRUE(Sim.Faults().empty());
}

TEST_P(FaultTest, FaultActsAfterTheFramesItLetsThrough) {
    TFault f = *TSimulator::ParseFault("refuse:10=80");
    f.After = 2;
    Sim.AddFault(f);
    TClient c = Connect();
    EXPECT_EQ(c.Run(0x11).at(0), 0);  // another command is not counted
    EXPECT_EQ(c.Run(0x10).at(0), 0);
    EXPECT_EQ(c.Run(0x10).at(0), 0);
    EXPECT_EQ(c.Run(0x10), TBytes{80});
    EXPECT_TRUE(Sim.Faults().empty());
}

TEST_P(FaultTest, FaultWithoutCountLastsUntilCleared) {
    Add("refuse:ff01x0=3");
    TClient c = Connect();
    for (int i = 0; i < 3; ++i) EXPECT_EQ(c.Run(0xFF01), TBytes{3});
    Sim.ClearFaults();
    EXPECT_EQ(c.Run(0xFF01).at(0), 0);
}

TEST_P(TcpFaultTest, ReceiptFiscalisedThenConnectionDroppedBeforeTheAnswer) {
    Sim.SetFiscal(true);
    Sim.OpenShift();
    std::uint32_t before = Sim.Status().LastDocument;
    {
        TClient c = Connect();
        ASSERT_EQ(c.Run(0x8D, {0}).at(0), 0);
        TBytes item{1};
        Le(item, 1000000, 6);
        Le(item, 100, 5);
        Le(item, 100, 5);
        Le(item, 0xFFFFFFFFFFULL, 5);
        item.insert(item.end(), {0x08, 0, 1, 1, '/', '/'});
        ASSERT_EQ(c.Run(0xFF46, item).at(0), 0);
        Add("drop:ff45");
        TBytes close;
        Le(close, 100, 5);
        Le(close, 0, 75 + 1 + 30);
        close.push_back(0x01);
        c.Send(MakeFrame(Cmd(0xFF45, close)));
        EXPECT_EQ(c.Byte(), ACK);
        EXPECT_EQ(c.Byte(), -2);
    }
    EXPECT_EQ(Sim.Status().LastDocument, before + 1);
    EXPECT_EQ(Sim.Status().Mode, 2);
    // The answer was never collected: the next host finds it on its first ENQ.
    TClient c = Connect();
    c.Send({ENQ});
    EXPECT_EQ(c.Byte(), ACK);
    auto a = c.Frame();
    ASSERT_TRUE(a);
    ASSERT_GE(a->size(), 15u);
    EXPECT_EQ(GetLe(*a, 8, 4), before + 1);
    c.Send({ACK});
}

TEST_P(TcpFaultTest, NewHostReplacesAnIdleConnection) {
    TClient first = Connect();
    EXPECT_EQ(first.Run(0x10).at(0), 0);
    TClient second = Connect();
    EXPECT_EQ(second.Run(0x10).at(0), 0);
    EXPECT_EQ(first.Byte(), -2);
    EXPECT_EQ(Sim.Status().Connections, 2);
}

TEST_P(TcpFaultTest, StopEndsServingPromptly) {
    TClient c = Connect();
    c.Send({STX, 0x10});  // an unfinished frame
    auto start = Clock::now();
    Sim.Stop();
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
    EXPECT_FALSE(Sim.Running());
}

TEST_P(PtyFaultTest, DisconnectOnATerminalLeavesHalfAFrameAndTheAnswerForEnq) {
    Add("disconnect:10");
    TClient c = Connect();
    c.Send(MakeFrame(Cmd(0x10)));
    ASSERT_EQ(c.Byte(), ACK);
    for (int i = 0; i < 10; ++i) ASSERT_GE(c.Byte(), 0);  // half of the 20-byte frame
    c.Send({ENQ});
    EXPECT_EQ(c.Byte(), ACK);
    bool ok = false;
    auto a = c.Frame(&ok);
    ASSERT_TRUE(a);
    EXPECT_TRUE(ok);
    EXPECT_EQ(a->size(), 17u);
    c.Send({ACK});
}

INSTANTIATE_TEST_SUITE_P(Transports, FaultTest, ::testing::Values(TTransport::Tcp, TTransport::Pty),
                         [](const auto& info) { return info.param == TTransport::Tcp ? "Tcp" : "Pty"; });
INSTANTIATE_TEST_SUITE_P(Tcp, TcpFaultTest, ::testing::Values(TTransport::Tcp),
                         [](const auto&) { return std::string("Tcp"); });
INSTANTIATE_TEST_SUITE_P(Pty, PtyFaultTest, ::testing::Values(TTransport::Pty),
                         [](const auto&) { return std::string("Pty"); });

TEST(LinkRobustnessTest, RandomBytesNeverWedgeTheLink) {
    TSimulator sim;
    sim.SetFiscal(true);
    std::uint16_t port = sim.StartTcp(0);
    std::uint32_t rng = 777;
    auto next = [&rng] { return rng = rng * 1103515245u + 12345u, static_cast<std::uint8_t>(rng >> 16); };
    for (int round = 0; round < 20; ++round) {
        TClient g = TClient::Tcp(port);
        TBytes junk;
        for (int i = 0; i < 300; ++i) {
            std::uint8_t b = next();
            junk.push_back(b % 7 == 0 ? STX : b % 11 == 0 ? ENQ : b);
        }
        g.Send(junk);
    }
    TClient c = TClient::Tcp(port);
    c.Send({ENQ});
    int r = c.Byte();
    if (r == ACK) {  // an answer to a random frame was left: collect it
        ASSERT_TRUE(c.Frame());
        c.Send({ACK, ENQ});
        r = c.Byte();
    }
    EXPECT_EQ(r, NAK);
    c.Send(MakeFrame(Cmd(0x10)));
    ASSERT_EQ(c.Byte(), ACK);
    auto a = c.Frame();
    ASSERT_TRUE(a);
    EXPECT_EQ(a->at(1), 0);
    c.Send({ACK});
}

// ---- pseudo-terminal COM link ----

TEST(PtyComLinkTest, ComLinkInTheDataFolderPointsToTheTerminalAndGoesAtStop) {
    char tmpl[] = "/tmp/frsim-test-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    std::string dir = tmpl;
    ::setenv("FR_APPDATA_DIR", (dir + "/").c_str(), 1);
    std::string link = dir + "/fr_tarvikonline1c83/COM7";
    {
        TSimulator sim;
        std::string slave = sim.StartPty(7);
        EXPECT_EQ(sim.ComLinkPath(), link);
        EXPECT_EQ(std::filesystem::read_symlink(link).string(), slave);
        TClient c = TClient::Pty(link);
        EXPECT_EQ(c.Run(0x10).at(0), 0);
    }
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
    ::unsetenv("FR_APPDATA_DIR");
    std::filesystem::remove_all(dir);
}

}  // namespace
