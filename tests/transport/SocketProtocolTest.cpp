#include <gtest/gtest.h>

#include <fmt/format.h>

#include <ostream>

#include <sys/socket.h>

#include <fstream>
#include <functional>
#include <thread>

#include "LinkPeers.h"
#include "framework/Log.h"
#include "transport/LinkTimings.h"
#include "transport/SocketProtocol.h"

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

// The TCP link against a register played on a loopback connection.
class SocketProtocolTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(Listener.Ready());
        ASSERT_EQ(Protocol.OpenConnection("127.0.0.1", Listener.Port()), 0);
        Connection = Listener.Accept();
        ASSERT_TRUE(Connection.Valid());
        Register.SetFd(Connection.Get());
    }

    int Run(const std::function<void(TPeer&)>& script, const TBytes& data = {}, int timeout = 0) {
        std::thread peer([&] { script(Register); });
        const int r = Protocol.RunCommand(Response, kPwd, kCmd, data, timeout, true, true);
        peer.join();
        for (const auto& f : Register.Failures()) ADD_FAILURE() << "register: " << f;
        return r;
    }

    static void TakeCommand(TPeer& p, const TBytes& message = kMessage) {
        p.Expect({ENQ}) && p.Send({NAK}) && p.Expect(Frame(message)) && p.Send({ACK});
    }

    TTcpListener Listener;
    TSocketProtocol Protocol;
    UniqueFd Connection;
    TPeer Register;
    TBytes Response{0xEE};
};

TEST_F(SocketProtocolTest, CleanExchangeGivesTheAnswerBodyAndAcknowledgesIt) {
    const int r = Run([](TPeer& p) {
        TakeCommand(p);
        p.Send(kAnswer) && p.Expect({ACK});
    });
    EXPECT_EQ(r, 0);
    EXPECT_EQ(Response, (TBytes{0x00, 0x1E}));
}

TEST_F(SocketProtocolTest, WrongCheckByteIsRefusedWithNak) {
    const int r = Run([](TPeer& p) {
        TakeCommand(p);
        for (int i = 0; i < 3; ++i) p.Send({STX, 0x03, 0x10, 0x00, 0x1E, 0x0C}) && p.Expect({NAK});
    });
    EXPECT_EQ(r, 1014);
    EXPECT_TRUE(Register.Quiet());  // never written again: the register took it
}

TEST_F(SocketProtocolTest, AnswerResentAfterNakIsNotTakenForTheNextReplyToEnq) {
    const TBytes bad{STX, 0x03, 0x10, 0x00, 0x1E, 0x0C};
    EXPECT_EQ(Run([&](TPeer& p) {
                  TakeCommand(p);
                  p.Send(bad) && p.Expect({NAK}) && p.Send(kAnswer) && p.Expect({ACK});
              }),
              0);
    const int r = Run([](TPeer& p) {
        TakeCommand(p);
        p.Send(kAnswer) && p.Expect({ACK});
    });
    EXPECT_EQ(r, 0);
    EXPECT_EQ(Response, (TBytes{0x00, 0x1E}));
}

TEST_F(SocketProtocolTest, FF06InReplyToTheFrameCountsAsAcknowledged) {
    const int r = Run([](TPeer& p) {
        p.Expect({ENQ}) && p.Send({NAK}) && p.Expect(Frame(kMessage)) && p.Send({0xFF, ACK});
        p.Send(kAnswer) && p.Expect({ACK});
    });
    EXPECT_EQ(r, 0);
    EXPECT_EQ(Response, (TBytes{0x00, 0x1E}));
}

TEST_F(SocketProtocolTest, ByteAfterAnUnexpectedReplyToEnqIsSkipped) {
    const int r = Run([](TPeer& p) {
        // 0x33 is unexpected, the NAK after it is the skipped byte: the next ENQ gets the real NAK.
        p.Expect({ENQ}) && p.Send({0x33, NAK});
        TakeCommand(p);
        p.Send(kAnswer) && p.Expect({ACK});
    });
    EXPECT_EQ(r, 0);
}

TEST_F(SocketProtocolTest, UncollectedAnswerFoundAtEnqIsReadAcknowledgedAndDropped) {
    const int r = Run([](TPeer& p) {
        p.Expect({ENQ}) && p.Send({ACK}) && p.Send(Frame({0x11, 0x00, 0x99})) && p.Expect({ACK});
        TakeCommand(p);
        p.Send(kAnswer) && p.Expect({ACK});
    });
    EXPECT_EQ(r, 0);
    EXPECT_EQ(Response, (TBytes{0x00, 0x1E}));
}

TEST_F(SocketProtocolTest, AnswerSplitOverSeveralSegmentsIsAccepted) {
    const int r = Run([](TPeer& p) {
        TakeCommand(p);
        p.Send({STX, 0x03}) && p.Quiet(30);
        p.Send({0x10}) && p.Quiet(30);
        p.Send({0x00, 0x1E, 0x0D}) && p.Expect({ACK});
    });
    EXPECT_EQ(r, 0);
    EXPECT_EQ(Response, (TBytes{0x00, 0x1E}));
}

TEST_F(SocketProtocolTest, RawBytesPassUnchangedInBothDirections) {
    const TBytes data{0x11, 0x13, 0x0D, 0x00, 0xFF, 0x02, 0x05, 0x06, 0x15};
    TBytes message = kMessage;
    message.insert(message.end(), data.begin(), data.end());
    TBytes answer{0x10, 0x00};
    answer.insert(answer.end(), data.begin(), data.end());
    const int r = Run(
        [&](TPeer& p) {
            TakeCommand(p, message);
            p.Send(Frame(answer)) && p.Expect({ACK});
        },
        data);
    EXPECT_EQ(r, 0);
    TBytes body{0x00};
    body.insert(body.end(), data.begin(), data.end());
    EXPECT_EQ(Response, body);
}

TEST_F(SocketProtocolTest, TwoByteCommandCodeIsDroppedFromTheAnswer) {
    std::thread peer([&] {
        TakeCommand(Register, {0xFF, 0x01, 0x1E, 0x00, 0x00, 0x00});
        Register.Send(Frame({0xFF, 0x01, 0x00, 0xAA})) && Register.Expect({ACK});
    });
    EXPECT_EQ(Protocol.RunCommand(Response, kPwd, {0xFF, 0x01}, {}, 0, true, true), 0);
    peer.join();
    EXPECT_EQ(Response, (TBytes{0x00, 0xAA}));
    EXPECT_TRUE(Register.Failures().empty());
}

TEST_F(SocketProtocolTest, MessageOver255BytesIsNeverFramed) {
    const TBytes data(251, 0x41);
    const int r = Run(
        [](TPeer& p) {
            if (!p.Quiet(50)) p.Failure("bytes sent");
        },
        data);
    EXPECT_EQ(r, 1014);
    EXPECT_TRUE(Register.Quiet());
}

TEST_F(SocketProtocolTest, SilentRegisterGivesUpAfterNineProbesWith606) {
    TScopedLinkTimings t(TLinkTimings{2000, 50, 1000, 500, 4000, 5});
    EXPECT_EQ(Protocol.RunCommand(Response, kPwd, kCmd, {}, 0, true, true), 606);
    EXPECT_TRUE(Register.Expect(TBytes(9, ENQ)));
    EXPECT_TRUE(Register.Quiet());
}

TEST_F(SocketProtocolTest, PeerClosingWhileTheDriverWaitsGives606AtOnce) {
    std::thread peer([&] {
        Register.Expect({ENQ});
        Connection.Reset();
    });
    const auto start = TClock::now();
    EXPECT_EQ(Protocol.RunCommand(Response, kPwd, kCmd, {}, 0, true, true), 606);
    EXPECT_LT(MsSince(start), 5000);  // not a single receive time-out
    peer.join();
    EXPECT_TRUE(Register.Failures().empty());
}

TEST_F(SocketProtocolTest, CloseConnectionReleasesTheSocket) {
    EXPECT_TRUE(Protocol.Connected());
    EXPECT_EQ(Protocol.CloseConnection(), 0);
    EXPECT_FALSE(Protocol.Connected());
    EXPECT_EQ(Protocol.CloseConnection(), 0);
    EXPECT_EQ(Register.Read(1), TBytes{});  // the register sees the connection end
}

TEST_F(SocketProtocolTest, TraceLinesCarryTheMessageWithoutItsFrame) {
    const std::string path = "/tmp/fr_socket_trace_" + std::to_string(::getpid()) + ".log";
    TLog::SetLogFileName(path);
    TLog::SetLogLevel(2);
    const int r = Run([](TPeer& p) {
        TakeCommand(p);
        p.Send(kAnswer) && p.Expect({ACK});
    });
    TLog::SetLogLevel(0);
    TLog::SetLogFileName("");
    ASSERT_EQ(r, 0);
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (const auto tab = line.find('\t'); tab != std::string::npos && line.find("TSocketProtocol") != std::string::npos)
            lines.push_back(line.substr(tab + 1));
    }
    std::remove(path.c_str());
    const std::vector<std::string> expected{
        "INFO\tTSocketProtocol: \t-> 05",
        "INFO\tTSocketProtocol: \t<- 15",
        "INFO\tTSocketProtocol: \t-> 10 1E 00 00 00",
        "INFO\tTSocketProtocol: \t<- 06",
        "INFO\tTSocketProtocol: \t<- 02 03 10 00 1E 0D",
        "INFO\tTSocketProtocol: \t-> 06",
    };
    EXPECT_EQ(lines, expected);
}

// The answer is awaited for the longer of the caller's time-out and the receive time-out, so a
// slow command's answer is not left for the next one.
TEST_F(SocketProtocolTest, CallersLongerTimeoutIsHonoured) {
    TScopedLinkTimings t(TLinkTimings{2000, 50, 1000, 500, 4000, 30, 2000, 100, 4096});
    const auto start = TClock::now();
    const int r = Run(
        [](TPeer& p) {
            TakeCommand(p);
            if (p.Quiet(200)) {
                p.Send(kAnswer) && p.Expect({ACK});
            } else {
                p.Failure("asked before the time-out ran out");
            }
        },
        {}, 400);
    EXPECT_EQ(r, 0);
    EXPECT_GE(MsSince(start), 200);
}

struct AddressCase {
    const char* Name;
    std::string Address;
    int Port;  // 0: the listener's
    int Expected;
};

void PrintTo(const AddressCase& c, std::ostream* os) { *os << c.Name; }

class SocketOpenConnection : public ::testing::TestWithParam<AddressCase> {};

TEST_P(SocketOpenConnection, AnswersWithTheLinkCode) {
    const auto& c = GetParam();
    TTcpListener listener;
    ASSERT_TRUE(listener.Ready());
    TSocketProtocol protocol;
    EXPECT_EQ(protocol.OpenConnection(c.Address, c.Port == 0 ? listener.Port() : c.Port), c.Expected);
    EXPECT_EQ(protocol.Connected(), c.Expected == 0);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SocketOpenConnection,
    ::testing::Values(AddressCase{"Dotted", "127.0.0.1", 0, 0},
                      AddressCase{"DottedWithBlanks", "  127.0.0.1 \t", 0, 0},
                      AddressCase{"HostName", "localhost", 0, 604},
                      AddressCase{"Empty", "", 0, 604},
                      AddressCase{"ThreeParts", "127.0.1", 0, 604},
                      AddressCase{"FiveParts", "127.0.0.1.1", 0, 604},
                      AddressCase{"PartOver255", "127.0.0.256", 0, 604},
                      AddressCase{"Ipv6", "::1", 0, 604},
                      AddressCase{"PortZero", "127.0.0.1", -1, 603},
                      AddressCase{"PortTooHigh", "127.0.0.1", 65536 + 80, 603}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(SocketConnect, PortWithoutListenerIsRefusedWith601) {
    int port = 0;
    {
        TTcpListener gone;
        ASSERT_TRUE(gone.Ready());
        port = gone.Port();
    }
    TSocketProtocol protocol;
    EXPECT_EQ(protocol.OpenConnection("127.0.0.1", port), 601);
    EXPECT_FALSE(protocol.Connected());
    EXPECT_EQ(protocol.ConnectErrorText(), fmt::format("127.0.0.1:{}: Connection refused", port));
}

// A listener whose queue is full drops new connection requests: the connect never completes.
struct TFullListener {
    TFullListener() : Listener(0) {
        Filler.Reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(static_cast<std::uint16_t>(Listener.Port()));
        Filled = ::connect(Filler.Get(), reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    }
    TTcpListener Listener;
    UniqueFd Filler;
    bool Filled = false;
};

TEST(SocketConnect, UnansweredConnectGivesUpWith601) {
    TScopedLinkTimings t(TLinkTimings{2000, 50, 1000, 500, 20, 5000});
    TFullListener full;
    ASSERT_TRUE(full.Filled);
    TSocketProtocol protocol;
    EXPECT_EQ(protocol.OpenConnection("127.0.0.1", full.Listener.Port()), 601);
    EXPECT_EQ(protocol.ConnectErrorText(), fmt::format("127.0.0.1:{}: Connection timed out", full.Listener.Port()));
    ASSERT_EQ(protocol.OpenConnection("127.0.0.1", -1), 603);
    EXPECT_EQ(protocol.ConnectErrorText(), "127.0.0.1:-1: порт вне диапазона 1..65535");
}

// Real time: the connect limit at its production value.
TEST(SocketConnect, UnansweredConnectWaits4000ms) {
    TFullListener full;
    ASSERT_TRUE(full.Filled);
    TSocketProtocol protocol;
    const auto start = TClock::now();
    EXPECT_EQ(protocol.OpenConnection("127.0.0.1", full.Listener.Port()), 601);
    EXPECT_GE(MsSince(start), 4000);
}

}  // namespace
}  // namespace fr
