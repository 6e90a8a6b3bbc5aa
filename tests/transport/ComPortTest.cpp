#include <gtest/gtest.h>

#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#include <vector>

#include "LinkPeers.h"
#include "transport/ComPort.h"
#include "transport/LinkTimings.h"

namespace fr {
namespace {

using namespace fr::testing;
using namespace std::chrono_literals;

long long MsSince(TClock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(TClock::now() - start).count();
}

class ComPortTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(Link.Ready());
        Port.SetPortNumber(Link.PortNumber());
    }
    // Short read limits for tests that wait on silence.
    TScopedLinkTimings Timings{TLinkTimings{2000, 20, 20, 500, 4000, 5000}};
    TPtyLink Link;
    TComPort Port;
    TPeer Register{Link.Master()};
};

TEST(ComPortDefaults, RegisterPortRunsAt115200AndCommPortAt9600) {
    TComm comm;
    TComPort port;
    EXPECT_EQ(comm.BaudRateAsInt(), 9600);
    EXPECT_EQ(port.BaudRateAsInt(), 115200);
    EXPECT_EQ(port.PortNumber(), 1);
    EXPECT_EQ(port.Timeouts().ReadInterval, 50u);
    EXPECT_EQ(port.Timeouts().ReadMultiplier, 1000u);
    EXPECT_EQ(port.Timeouts().ReadConstant, 0u);
    EXPECT_EQ(port.Timeouts().WriteConstant, 500u);
    EXPECT_FALSE(port.Opened());
}

TEST(ComPortDefaults, BaudRateAsIntTakesOnlyTheListedRates) {
    const int rates[] = {110, 300, 600, 1200, 2400, 4800, 9600, 14400, 19200, 38400, 56000, 57600, 115200};
    TComPort port;
    for (int rate : rates) {
        SCOPED_TRACE(rate);
        port.SetBaudRateAsInt(rate);
        EXPECT_EQ(port.BaudRateAsInt(), rate);
    }
    for (int rate : {128000, 0, -9600, 9601}) {
        SCOPED_TRACE(rate);
        port.SetBaudRateAsInt(115200);
        port.SetBaudRateAsInt(rate);
        EXPECT_EQ(port.BaudRateAsInt(), 115200);
    }
}

TEST(ComPortDefaults, PortNumberWithoutLinkMapsToTtyS) {
    ::setenv("FR_APPDATA_DIR", "/nonexistent-fr-dir", 1);
    TComPort port;
    port.SetPortNumber(3);
    EXPECT_EQ(port.DevicePath(), "/dev/ttyS2");
    ::unsetenv("FR_APPDATA_DIR");
}

TEST(ComPortDefaults, EmptyWriteSucceedsWithoutOpeningThePort) {
    ::setenv("FR_APPDATA_DIR", "/nonexistent-fr-dir", 1);
    TComPort port;
    port.SetPortNumber(250);
    EXPECT_TRUE(port.WriteStr({}));
    EXPECT_FALSE(port.Opened());
    ::unsetenv("FR_APPDATA_DIR");
}

TEST(ComPortDefaults, MissingPortFailsWithTheOpenFailureText) {
    ::setenv("FR_APPDATA_DIR", "/nonexistent-fr-dir", 1);
    TComPort port;
    port.SetPortNumber(250);
    EXPECT_FALSE(port.Open());
    EXPECT_FALSE(port.Opened());
    const std::string prefix = "Ошибка открытия порта /dev/ttyS249: ";
    EXPECT_EQ(port.ExtResultDescription().rfind(prefix, 0), 0u) << port.ExtResultDescription();
    EXPECT_GT(port.ExtResultDescription().size(), prefix.size());
    ::unsetenv("FR_APPDATA_DIR");
}

TEST_F(ComPortTest, PortNumberMapsToTheLinkInTheDataFolder) {
    EXPECT_EQ(Port.DevicePath(), Link.LinkPath());
}

TEST_F(ComPortTest, OpensRawEightBitsNoParityAt115200) {
    ASSERT_TRUE(Port.Open()) << Port.ExtResultDescription();
    termios tio{};
    ASSERT_EQ(::tcgetattr(Link.Slave(), &tio), 0);
    EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | ICRNL | INLCR | ISTRIP), 0u);
    EXPECT_EQ(tio.c_oflag & OPOST, 0u);
    EXPECT_EQ(::cfgetospeed(&tio), static_cast<speed_t>(B115200));
}

TEST_F(ComPortTest, OpensAtRatesWithoutATermiosConstant) {
    for (int rate : {14400, 56000}) {
        SCOPED_TRACE(rate);
        Port.Close();
        Port.SetBaudRateAsInt(rate);
        EXPECT_TRUE(Port.Open()) << Port.ExtResultDescription();
    }
}

TEST_F(ComPortTest, OpenOnAnOpenPortSucceedsWithoutReopening) {
    ASSERT_TRUE(Port.Open());
    ASSERT_TRUE(Register.Send({0x41}));
    std::uint8_t b = 0;
    ASSERT_TRUE(Port.ReadChar(b, 5000));
    ASSERT_TRUE(Register.Send({0x42}));
    // A reopen would purge the byte that is waiting.
    EXPECT_TRUE(Port.Open());
    ASSERT_TRUE(Port.ReadChar(b, 5000));
    EXPECT_EQ(b, 0x42);
}

TEST_F(ComPortTest, SecondOpenerIsRefused) {
    ASSERT_TRUE(Port.Open());
    TComPort other;
    other.SetPortNumber(Link.PortNumber());
    EXPECT_FALSE(other.Open());
    EXPECT_FALSE(other.Opened());
    EXPECT_EQ(other.ExtResultDescription().rfind("Ошибка открытия порта " + Link.LinkPath() + ": ", 0), 0u)
        << other.ExtResultDescription();
    Port.Close();
    EXPECT_TRUE(other.Open()) << other.ExtResultDescription();
}

TEST_F(ComPortTest, EveryByteValuePassesUnchangedBothWays) {
    ASSERT_TRUE(Port.Open());
    TBytes all;
    for (int i = 0; i < 256; ++i) all.push_back(static_cast<std::uint8_t>(i));
    // XON, XOFF, CR and NUL first: the bytes a cooked line would eat or translate.
    all.insert(all.begin(), {0x11, 0x13, 0x0D, 0x00, 0x0A, 0x03, 0x7F});
    ASSERT_TRUE(Port.WriteStr(all));
    EXPECT_TRUE(Register.Expect(all));
    ASSERT_TRUE(Register.Send(all));
    Port.SetTimeouts({5000, 0, 10000, 0, 500});
    TBytes got;
    ASSERT_TRUE(Port.ReadString(static_cast<std::uint32_t>(all.size()), got));
    EXPECT_EQ(Hex(got), Hex(all));
    EXPECT_TRUE(Register.Failures().empty());
}

TEST_F(ComPortTest, ReadStringReturnsTheBytesThatArrived) {
    ASSERT_TRUE(Port.Open());
    ASSERT_TRUE(Register.Send({1, 2, 3, 4}));
    TBytes got;
    EXPECT_TRUE(Port.ReadString(10, got));
    EXPECT_EQ(got, (TBytes{1, 2, 3, 4}));
}

TEST_F(ComPortTest, ReadCharOnASilentLineFailsWithTheReadText) {
    ASSERT_TRUE(Port.Open());
    std::uint8_t b = 0x5A;
    EXPECT_FALSE(Port.ReadChar(b, 10));
    EXPECT_EQ(b, 0x5A);
    EXPECT_EQ(Port.ExtResultDescription(), "Ошибка при чтении данных из порта");
}

TEST_F(ComPortTest, ReadsOnAClosedPortFailWithoutOpeningIt) {
    std::uint8_t b = 0;
    TBytes got;
    EXPECT_FALSE(Port.ReadChar(b, 10));
    EXPECT_EQ(Port.ExtResultDescription(), "Порт не открыт");
    EXPECT_FALSE(Port.ReadString(1, got));
    EXPECT_FALSE(Port.Opened());
}

TEST_F(ComPortTest, WritesOpenThePortImplicitly) {
    EXPECT_TRUE(Port.WriteChar(0x05));
    EXPECT_TRUE(Port.Opened());
    EXPECT_TRUE(Register.Expect({0x05}));
}

TEST_F(ComPortTest, PurgeDiscardsWaitingInput) {
    ASSERT_TRUE(Port.Open());
    ASSERT_TRUE(Register.Send({0x10, 0x11, 0x12}));
    std::uint8_t b = 0;
    ASSERT_TRUE(Port.ReadChar(b, 5000));  // the rest has arrived with it
    EXPECT_TRUE(Port.Purge(true));
    EXPECT_FALSE(Port.ReadChar(b, 10));
}

TEST_F(ComPortTest, PurgeKeepsBytesAlreadyWritten) {
    // The loss depends on when the kernel moves the byte on, so try it many times.
    for (int i = 0; i < 200; ++i) {
        ASSERT_TRUE(Port.WriteChar(0x06));
        ASSERT_TRUE(Port.Purge(true));
        ASSERT_TRUE(Register.Expect({0x06}, 1000)) << "lost at " << i;
    }
    ASSERT_TRUE(Port.WriteChar(0x07));
    EXPECT_TRUE(Port.Close());
    EXPECT_TRUE(Register.Expect({0x07}));
    EXPECT_TRUE(Register.Failures().empty());
}

TEST_F(ComPortTest, HangUpOfThePeerFailsTheReadWithASystemText) {
    ASSERT_TRUE(Port.Open());
    Link.CloseMaster();
    std::uint8_t b = 0;
    EXPECT_FALSE(Port.ReadChar(b, 5000));
    EXPECT_NE(Port.ExtResultDescription(), "Ошибка при чтении данных из порта");
    EXPECT_FALSE(Port.ExtResultDescription().empty());
}

TEST_F(ComPortTest, CloseIsIdempotent) {
    ASSERT_TRUE(Port.Open());
    EXPECT_TRUE(Port.Close());
    EXPECT_FALSE(Port.Opened());
    EXPECT_TRUE(Port.Close());
}

// Real time: each of the port's own constants at its production value.

TEST(ComPortRealTime, ReadEndsAfter50msOfSilenceBetweenBytes) {
    TPtyLink link;
    ASSERT_TRUE(link.Ready());
    TComPort port;
    port.SetPortNumber(link.PortNumber());
    ASSERT_TRUE(port.Open());
    TPeer peer(link.Master());
    ASSERT_TRUE(peer.Send({1, 2, 3, 4}));
    const auto start = TClock::now();
    TBytes got;
    EXPECT_TRUE(port.ReadString(10, got));
    EXPECT_EQ(got.size(), 4u);
    EXPECT_GE(MsSince(start), 50);
    EXPECT_LT(MsSince(start), 10 * 1000);  // well before the total limit
}

TEST(ComPortRealTime, ReadOfOneByteGivesUpAfter1000ms) {
    TPtyLink link;
    ASSERT_TRUE(link.Ready());
    TComPort port;
    port.SetPortNumber(link.PortNumber());
    ASSERT_TRUE(port.Open());
    const auto start = TClock::now();
    TBytes got;
    EXPECT_TRUE(port.ReadString(1, got));
    EXPECT_TRUE(got.empty());
    EXPECT_GE(MsSince(start), 1000);
}

TEST(ComPortRealTime, WriteThatCannotDrainGivesUpAfter500ms) {
    TPtyLink link;
    ASSERT_TRUE(link.Ready());
    TComPort port;
    port.SetPortNumber(link.PortNumber());
    ASSERT_TRUE(port.Open());
    const TBytes flood(4 << 20, 0x55);  // far beyond the pseudo-terminal's buffer; nobody reads
    const auto start = TClock::now();
    EXPECT_FALSE(port.WriteStr(flood));
    EXPECT_GE(MsSince(start), 500);
    EXPECT_EQ(port.ExtResultDescription(), "Не удалось записать данные в порт");
}

// Records the control lines it is asked to drive (a pseudo-terminal has none to observe).
class TRecordingPort : public TComPort {
public:
    std::vector<bool> Lines;

protected:
    void SetControlLines(bool ARaise) override {
        Lines.push_back(ARaise);
        TComPort::SetControlLines(ARaise);
    }
};

// The COM<n> link lives in a folder every local user may write to: only root's or the driver's
// own user's link is followed, and DTR/RTS go up on open and down on close of the port it reaches.
TEST(ComPortLink, OnlyTrustedLinksAreFollowedAndTheControlLinesFollowThePort) {
    constexpr uid_t kStranger = 4242;
    struct TRow {
        const char* Name;
        uid_t Owner;
        bool Opens;
    };
    const TRow rows[] = {
        {"the driver's own link", ::geteuid(), true},
        {"root's link", 0, true},
        {"another user's link", kStranger, false},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.Name);
        TPtyLink link;
        ASSERT_TRUE(link.Ready());
        if (row.Owner != ::geteuid() && ::geteuid() != 0) {
            continue;  // only root can hand a link to someone else
        }
        ASSERT_EQ(::lchown(link.LinkPath().c_str(), row.Owner, static_cast<gid_t>(-1)), 0);
        TPeer peer{link.Master()};
        TRecordingPort port;
        port.SetPortNumber(link.PortNumber());
        EXPECT_EQ(port.Open(), row.Opens) << port.ExtResultDescription();
        if (row.Opens) {
            EXPECT_EQ(port.Lines, std::vector<bool>{true}) << "DTR and RTS raised on open";
            ASSERT_TRUE(port.WriteStr({0x05}));
            EXPECT_EQ(peer.Read(1, 1000), TBytes{0x05});
            port.Close();
            EXPECT_EQ(port.Lines, (std::vector<bool>{true, false})) << "and dropped on close";
        } else {
            EXPECT_TRUE(port.Lines.empty());
            EXPECT_NE(port.ExtResultDescription().find(link.LinkPath()), std::string::npos)
                << port.ExtResultDescription();
            EXPECT_NE(port.ExtResultDescription().find(std::to_string(kStranger)), std::string::npos);
            EXPECT_FALSE(port.WriteStr({0x05})) << "a write cannot open it either";
            EXPECT_EQ(peer.Read(1, 0), TBytes{}) << "nothing reaches the line";
        }
    }
}

}  // namespace
}  // namespace fr
