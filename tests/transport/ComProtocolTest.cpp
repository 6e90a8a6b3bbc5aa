#include <gtest/gtest.h>

#include <ostream>

#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include "LinkPeers.h"
#include "framework/Log.h"
#include "transport/ComPort.h"
#include "transport/ComProtocol.h"
#include "transport/LinkTimings.h"

namespace fr {
namespace {

using namespace fr::testing;

constexpr std::uint8_t STX = 0x02, ENQ = 0x05, ACK = 0x06, NAK = 0x15;
const TBytes kPwd{0x1E, 0x00, 0x00, 0x00};
const TBytes kCmd{0x10};
const TBytes kMessage{0x10, 0x1E, 0x00, 0x00, 0x00};
const TBytes kAnswer{STX, 0x03, 0x10, 0x00, 0x1E, 0x0D};

long long MsSince(TClock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(TClock::now() - start).count();
}

// The serial link against a register played byte by byte on a pseudo-terminal. Handshake waits
// keep their production length (the register always answers them in time); tests of silence
// shorten them.
class ComProtocolTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(Link.Ready());
        Port.SetPortNumber(Link.PortNumber());
        ASSERT_TRUE(Port.Open()) << Port.ExtResultDescription();
    }

    int Run(const std::function<void(TPeer&)>& script, const TBytes& cmd = kCmd, const TBytes& data = {},
            int timeout = 0, bool sendPwd = true) {
        std::thread peer([&] { script(Register); });
        const int r = Protocol.RunCommand(Response, kPwd, cmd, data, timeout, sendPwd, true);
        peer.join();
        for (const auto& f : Register.Failures()) ADD_FAILURE() << "register: " << f;
        return r;
    }

    // ENQ -> NAK, frame -> ACK.
    static void TakeCommand(TPeer& p, const TBytes& message = kMessage) {
        p.Expect({ENQ}) && p.Send({NAK}) && p.Expect(Frame(message)) && p.Send({ACK});
    }

    TPtyLink Link;
    TComPort Port;
    TCOMProtocol Protocol{&Port};
    TPeer Register{Link.Master()};
    TBytes Response{0xEE};
};

TEST_F(ComProtocolTest, CleanExchangeGivesTheAnswerBodyAndAcknowledgesIt) {
    const int r = Run([](TPeer& p) {
        TakeCommand(p);
        p.Send(kAnswer) && p.Expect({ACK});
    });
    EXPECT_EQ(r, 0);
    EXPECT_EQ(Response, (TBytes{0x00, 0x1E}));
    EXPECT_TRUE(Register.Quiet());
}

TEST_F(ComProtocolTest, WrongCheckByteIsRefusedWithNak) {
    const int r = Run([](TPeer& p) {
        TakeCommand(p);
        for (int i = 0; i < 3; ++i) p.Send({STX, 0x03, 0x10, 0x00, 0x1E, 0x0C}) && p.Expect({NAK});
    });
    EXPECT_EQ(r, 1014);
    EXPECT_TRUE(Response.empty());
    EXPECT_TRUE(Register.Quiet());  // never written again: the register took it
}

// Once the frame has left, the register may have carried it out: whatever goes wrong after
// that, the frame is written again only when the register says it did not take it.
struct AfterFrameCase {
    const char* Name;
    std::function<void(TPeer&)> Register;
    int Result;
};

void PrintTo(const AfterFrameCase& c, std::ostream* os) { *os << c.Name; }

const TBytes kBadAnswer{STX, 0x03, 0x10, 0x00, 0x1E, 0x0C};
const TBytes kOtherAnswer = Frame({0x11, 0x00, 0x99});

const AfterFrameCase kAfterFrameCases[] = {
    {"GarbledAnswerResentAtOnce",
     [](TPeer& p) { p.Send(kBadAnswer) && p.Expect({NAK}) && p.Send(kAnswer) && p.Expect({ACK}); }, 0},
    {"GarbledAnswerResentOnlyAtEnq",
     [](TPeer& p) {
         p.Send(kBadAnswer) && p.Expect({NAK}) && p.Expect({ENQ}) && p.Send({ACK}) && p.Send(kAnswer) &&
             p.Expect({ACK});
     },
     0},
    {"ShortAnswerIsRefusedAndTakenAgain",
     [](TPeer& p) { p.Send({STX, 0x05, 0x10, 0x00}) && p.Expect({NAK}) && p.Send(kAnswer) && p.Expect({ACK}); },
     0},
    {"LostAnswerIsCollectedWithEnq",
     [](TPeer& p) { p.Expect({ENQ}) && p.Send({ACK}) && p.Send(kAnswer) && p.Expect({ACK}); }, 0},
    {"AnswerToAnotherCommandIsDropped",
     [](TPeer& p) { p.Send(kOtherAnswer) && p.Expect({ACK}) && p.Send(kAnswer) && p.Expect({ACK}); }, 0},
    {"NakToEnqAfterAnAckedFrameLetsTheFrameGoAgain",
     [](TPeer& p) {
         p.Expect({ENQ}) && p.Send({NAK}) && p.Expect(Frame(kMessage)) && p.Send({ACK}) && p.Send(kAnswer) &&
             p.Expect({ACK});
     },
     0},
    {"GarbledAnswerThenNakToEnqIsNeverResent",
     [](TPeer& p) { p.Send(kBadAnswer) && p.Expect({NAK}) && p.Expect({ENQ}) && p.Send({NAK}); }, 1014},
};

class ComProtocolAfterFrame : public ComProtocolTest, public ::testing::WithParamInterface<AfterFrameCase> {};

TEST_P(ComProtocolAfterFrame, FrameIsWrittenAgainOnlyWhenTheRegisterDidNotTakeIt) {
    TScopedLinkTimings t(TLinkTimings{100, 20, 200, 500, 4000, 5000, 300, 100, 4096});
    const int r = Run([](TPeer& p) {
        TakeCommand(p);
        GetParam().Register(p);
    });
    EXPECT_EQ(r, GetParam().Result);
    if (r == 0) {
        EXPECT_EQ(Response, (TBytes{0x00, 0x1E}));
    }
    EXPECT_TRUE(Register.Quiet());
}

INSTANTIATE_TEST_SUITE_P(Cases, ComProtocolAfterFrame, ::testing::ValuesIn(kAfterFrameCases),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST_F(ComProtocolTest, PasswordIsLeftOutWhenNotAsked) {
    const int r = Run(
        [](TPeer& p) {
            TakeCommand(p, {0xFC});
            p.Send(Frame({0xFC, 0x00, 0x01})) && p.Expect({ACK});
        },
        {0xFC}, {}, 0, false);
    EXPECT_EQ(r, 0);
    EXPECT_EQ(Response, (TBytes{0x00, 0x01}));
}

struct CommandCodeCase {
    const char* Name;
    TBytes Cmd;
    TBytes AnswerMessage;
    TBytes Body;
};

void PrintTo(const CommandCodeCase& c, std::ostream* os) { *os << c.Name; }

class ComProtocolCommandCode : public ComProtocolTest, public ::testing::WithParamInterface<CommandCodeCase> {};

TEST_P(ComProtocolCommandCode, EchoedCodeIsDroppedFromTheAnswer) {
    const auto& c = GetParam();
    TBytes message = c.Cmd;
    message.insert(message.end(), kPwd.begin(), kPwd.end());
    message.push_back(0x33);
    const int r = Run(
        [&](TPeer& p) {
            TakeCommand(p, message);
            p.Send(Frame(c.AnswerMessage)) && p.Expect({ACK});
        },
        c.Cmd, {0x33});
    EXPECT_EQ(r, 0);
    EXPECT_EQ(Response, c.Body);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, ComProtocolCommandCode,
    ::testing::Values(CommandCodeCase{"OneByte", {0x10}, {0x10, 0x00, 0x1E}, {0x00, 0x1E}},
                      CommandCodeCase{"OneByteFD", {0xFD}, {0xFD, 0x00, 0x1E}, {0x00, 0x1E}},
                      CommandCodeCase{"TwoByteFF", {0xFF, 0x01}, {0xFF, 0x01, 0x00, 0xAA, 0xBB}, {0x00, 0xAA, 0xBB}},
                      CommandCodeCase{"TwoByteFE", {0xFE, 0xF4}, {0xFE, 0xF4, 0x37}, {0x37}}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(ComProtocolTest, RawBytesPassUnchangedInBothDirections) {
    const TBytes data{0x11, 0x13, 0x0D, 0x00, 0x0A, 0x02, 0x05, 0x06, 0x15};
    TBytes message = kMessage;
    message.insert(message.end(), data.begin(), data.end());
    TBytes answer{0x10, 0x00};
    answer.insert(answer.end(), data.begin(), data.end());
    const int r = Run(
        [&](TPeer& p) {
            TakeCommand(p, message);
            p.Send(Frame(answer)) && p.Expect({ACK});
        },
        kCmd, data);
    EXPECT_EQ(r, 0);
    TBytes body{0x00};
    body.insert(body.end(), data.begin(), data.end());
    EXPECT_EQ(Response, body);
}

TEST_F(ComProtocolTest, UncollectedAnswerFoundAtEnqIsReadAcknowledgedAndDropped) {
    const int r = Run([](TPeer& p) {
        p.Expect({ENQ}) && p.Send({ACK}) && p.Send(Frame({0x11, 0x00, 0x99})) && p.Expect({ACK});
        TakeCommand(p);
        p.Send(kAnswer) && p.Expect({ACK});
    });
    EXPECT_EQ(r, 0);
    EXPECT_EQ(Response, (TBytes{0x00, 0x1E}));
}

TEST_F(ComProtocolTest, UnreadableUncollectedAnswerEndsTheCommandAtOnce) {
    const int r = Run([](TPeer& p) { p.Expect({ENQ}) && p.Send({ACK, 0x33}); });
    EXPECT_EQ(r, 1014);  // the frame never left
    EXPECT_TRUE(Register.Quiet());
}

TEST_F(ComProtocolTest, StaleInputIsPurgedBeforeProbing) {
    ASSERT_TRUE(Register.Send({ACK, STX, 0x01, 0x10, 0x11}));
    const int r = Run([](TPeer& p) {
        TakeCommand(p);
        p.Send(kAnswer) && p.Expect({ACK});
    });
    EXPECT_EQ(r, 0);
    EXPECT_EQ(Response, (TBytes{0x00, 0x1E}));
}

TEST_F(ComProtocolTest, UnexpectedReplyToEnqLeadsToTheNextProbe) {
    const int r = Run([](TPeer& p) {
        p.Expect({ENQ}) && p.Send({0x33});
        TakeCommand(p);
        p.Send(kAnswer) && p.Expect({ACK});
    });
    EXPECT_EQ(r, 0);
}

// A NAK after the frame may be a late reply to an ENQ: the register is asked before the frame goes
// again.
TEST_F(ComProtocolTest, FrameRefusedThreeTimesGives1014) {
    const int r = Run([](TPeer& p) {
        for (int attempt = 0; attempt < 3; ++attempt)
            p.Expect({ENQ}) && p.Send({NAK}) && p.Expect(Frame(kMessage)) && p.Send({NAK});
    });
    EXPECT_EQ(r, 1014);
    EXPECT_TRUE(Register.Quiet());
}

TEST_F(ComProtocolTest, FrameAcceptedAtTheThirdAttemptSucceeds) {
    const int r = Run([](TPeer& p) {
        for (int attempt = 0; attempt < 2; ++attempt)
            p.Expect({ENQ}) && p.Send({NAK}) && p.Expect(Frame(kMessage)) && p.Send({0x00});
        TakeCommand(p);
        p.Send(kAnswer) && p.Expect({ACK});
    });
    EXPECT_EQ(r, 0);
}

TEST_F(ComProtocolTest, NoiseBeforeTheAnswerIsSkipped) {
    const int r = Run([](TPeer& p) {
        TakeCommand(p);
        p.Send({0x33}) && p.Send(kAnswer) && p.Expect({ACK});
    });
    EXPECT_EQ(r, 0);
}

TEST_F(ComProtocolTest, AnswerWithoutResultCodeGives1014AfterAcknowledging) {
    const int r = Run([](TPeer& p) {
        TakeCommand(p);
        p.Send(Frame({0x10})) && p.Expect({ACK});
    });
    EXPECT_EQ(r, 1014);
    EXPECT_TRUE(Response.empty());
}

TEST_F(ComProtocolTest, MessageOver255BytesIsRefusedWithoutSendingAByte) {
    const TBytes data(251, 0x41);  // 1 + 4 + 251 = 256
    EXPECT_EQ(Protocol.RunCommand(Response, kPwd, kCmd, data, 0, true, true), 1014);
    EXPECT_TRUE(Register.Quiet());
}

TEST_F(ComProtocolTest, MessageOf255BytesIsFramed) {
    const TBytes data(250, 0x41);
    TBytes message = kMessage;
    message.insert(message.end(), data.begin(), data.end());
    const int r = Run(
        [&](TPeer& p) {
            TakeCommand(p, message);
            p.Send(kAnswer) && p.Expect({ACK});
        },
        kCmd, data);
    EXPECT_EQ(r, 0);
}

TEST_F(ComProtocolTest, CommandWithoutWaitingEndsAtTheAcknowledgement) {
    std::thread peer([&] { TakeCommand(Register); });
    EXPECT_EQ(Protocol.RunCommand(Response, kPwd, kCmd, {}, 0, true, false), 0);
    peer.join();
    EXPECT_TRUE(Response.empty());
    EXPECT_TRUE(Register.Failures().empty());
}

TEST_F(ComProtocolTest, SilentRegisterGivesUpAfterNineProbes) {
    TScopedLinkTimings t(TLinkTimings{5, 5, 5, 500, 4000, 5000});
    EXPECT_EQ(Protocol.RunCommand(Response, kPwd, kCmd, {}, 0, true, true), 1007);
    EXPECT_TRUE(Register.Expect(TBytes(9, ENQ)));
    EXPECT_TRUE(Register.Quiet());
    EXPECT_TRUE(Register.Failures().empty());
}

TEST_F(ComProtocolTest, ClosedPortIsOpenedByTheFirstWrite) {
    Port.Close();
    const int r = Run([](TPeer& p) {
        TakeCommand(p);
        p.Send(kAnswer) && p.Expect({ACK});
    });
    EXPECT_EQ(r, 0);
    EXPECT_TRUE(Port.Opened());
}

// The caller's time-out bounds the wait for the answer; past it the register is asked with ENQ
// and a busy one stays silent until its answer is ready.
TEST_F(ComProtocolTest, CallersTimeoutBoundsTheWaitForTheAnswer) {
    TScopedLinkTimings t(TLinkTimings{20, 50, 1000, 500, 4000, 5000, 2000, 100, 4096});
    // The default wait (20 ms here) runs out: the busy register is asked and answers when ready.
    int r = Run([](TPeer& p) {
        TakeCommand(p);
        p.Expect({ENQ}) && p.Send(kAnswer);
    });
    EXPECT_EQ(r, 0);
    EXPECT_EQ(Response, (TBytes{0x00, 0x1E}));
    // A long time-out: the answer 300 ms later comes without any ENQ.
    const auto start = TClock::now();
    r = Run(
        [](TPeer& p) {
            p.Read(64, 100);  // whatever the last exchange left
            TakeCommand(p);
            if (p.Quiet(300)) {
                p.Send(kAnswer) && p.Expect({ACK});
            } else {
                p.Failure("asked before the time-out ran out");
            }
        },
        kCmd, {}, 10000);
    EXPECT_EQ(r, 0);
    EXPECT_GE(MsSince(start), 300);
}

class ComProtocolTrace : public ComProtocolTest {
protected:
    void SetUp() override {
        ComProtocolTest::SetUp();
        LogPath = Link.DataDir() + "/trace.log";
        TLog::SetLogFileName(LogPath);
        TLog::SetLogLevel(2);
    }
    void TearDown() override {
        TLog::SetLogLevel(0);
        TLog::SetLogFileName("");
    }
    // The messages of the trace lines: INFO/ERROR, caption and text.
    std::vector<std::string> TraceLines() {
        std::ifstream in(LogPath);
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            const auto tab = line.find('\t');
            if (tab != std::string::npos && line.find("Protocol", tab) != std::string::npos)
                lines.push_back(line.substr(tab + 1));
        }
        return lines;
    }
    std::string LogPath;
};

TEST_F(ComProtocolTrace, EveryUnitOnTheLineIsTracedInHex) {
    const int r = Run([](TPeer& p) {
        TakeCommand(p);
        p.Send(kAnswer) && p.Expect({ACK});
    });
    ASSERT_EQ(r, 0);
    const std::vector<std::string> expected{
        "INFO\tTCOMProtocol: \t-> 05",
        "INFO\tTCOMProtocol: \t<- 15",
        "INFO\tTCOMProtocol: \t-> 02 05 10 1E 00 00 00 0B",
        "INFO\tTCOMProtocol: \t<- 06",
        "INFO\tTCOMProtocol: \t<- 02 03 10 00 1E 0D",
        "INFO\tTCOMProtocol: \t-> 06",
    };
    EXPECT_EQ(TraceLines(), expected);
}

TEST_F(ComProtocolTrace, ByteThatDidNotArriveIsTracedAsSilenceWithTheWait) {
    TScopedLinkTimings t(TLinkTimings{5, 5, 5, 500, 4000, 5000});
    EXPECT_EQ(Protocol.RunCommand(Response, kPwd, kCmd, {}, 0, true, true), 1007);
    const auto lines = TraceLines();
    ASSERT_EQ(lines.size(), 18u);
    EXPECT_EQ(lines[0], "INFO\tTCOMProtocol: \t-> 05");
    EXPECT_EQ(lines[1], "ERROR\tTCOMProtocol: \t<- no answer within 5 ms");
}

// Real time: the handshake wait at its production value.
TEST_F(ComProtocolTest, DefaultWaitForTheAnswerIs2000ms) {
    const auto start = TClock::now();
    const int r = Run([](TPeer& p) { TakeCommand(p); });
    EXPECT_EQ(r, 1007);
    EXPECT_GE(MsSince(start), 2000);
    EXPECT_LT(MsSince(start), 2000 + 5000);
}

}  // namespace
}  // namespace fr
