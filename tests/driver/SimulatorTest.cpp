// TDriver against the simulated register over the real links: TCP on loopback and a
// pseudo-terminal reached as a COM port.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <set>
#include <sstream>

#include "core/Simulator.h"
#include <fmt/format.h>

#include "driver/Driver.h"
#include "framework/ErrorCodes.h"
#include "framework/Log.h"
#include "framework/TestDriver.h"
#include "platform/Encoding.h"
#include "platform/System.h"
#include "platform/TempDir.h"
#include "transport/LinkTimings.h"

namespace fr::test {
namespace {

using sim::TFault;
using sim::TFaultKind;
using sim::TSimulator;

enum class TTransport { Tcp, Pty };

constexpr int kComNumber = 5;

std::string TransportName(const ::testing::TestParamInfo<TTransport>& AInfo) {
    return AInfo.param == TTransport::Tcp ? "Tcp" : "Pty";
}

// Inodes of the sockets this process holds.
std::set<unsigned long> OwnSocketInodes() {
    std::set<unsigned long> inodes;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code ec;
        const std::string target = std::filesystem::read_symlink(entry.path(), ec).string();
        if (!ec && target.rfind("socket:[", 0) == 0) inodes.insert(std::stoul(target.substr(8)));
    }
    return inodes;
}

// Established TCP connections of this process towards APort.
int ConnectionsTo(std::uint16_t APort) {
    const auto inodes = OwnSocketInodes();
    int count = 0;
    for (const char* table : {"/proc/self/net/tcp", "/proc/self/net/tcp6"}) {
        std::ifstream in(table);
        std::string line;
        std::getline(in, line);  // header
        while (std::getline(in, line)) {
            std::istringstream fields(line);
            std::string slot, local, remote, state, queues, timer, retr, uid, timeout;
            unsigned long inode = 0;
            fields >> slot >> local >> remote >> state >> queues >> timer >> retr >> uid >> timeout >> inode;
            const auto colon = remote.rfind(':');
            if (colon == std::string::npos) continue;
            const unsigned port = std::stoul(remote.substr(colon + 1), nullptr, 16);
            if (port == APort && state == "01" && inodes.count(inode)) ++count;
        }
    }
    return count;
}

// Descriptors of this process open on APath.
int DescriptorsOn(const std::string& APath) {
    std::error_code ec;
    const auto wanted = std::filesystem::canonical(APath, ec);
    if (ec) return 0;
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        const auto target = std::filesystem::read_symlink(entry.path(), ec);
        if (!ec && target == wanted) ++count;
    }
    return count;
}

// Sleeps without waiting; runs AOnSleep with the number of the sleep first.
class TScriptedClock : public TDeviceClock {
public:
    std::chrono::steady_clock::time_point Now() const override { return FNow; }
    void Sleep(std::chrono::milliseconds ADuration) override {
        FNow += ADuration;
        if (ADuration == kPaperWaitPollInterval) ++PaperPolls;
        if (OnPaperPoll && ADuration == kPaperWaitPollInterval) OnPaperPoll(PaperPolls);
    }
    std::function<void(int)> OnPaperPoll;
    int PaperPolls = 0;

private:
    std::chrono::steady_clock::time_point FNow{};
};

class SimulatorTest : public ::testing::TestWithParam<TTransport> {
protected:
    void SetUp() override {
        SetHostExeNameForTests("1cv8.exe");
        Sim.SetLineWidth(42);
        Driver = TBaseDriver::Create<TDriver>();
        Driver->SetClock(&Clock);
        if (GetParam() == TTransport::Tcp) {
            Port = Sim.StartTcp(0);
            Set("PortNumber", TVariant(9999));
            Set("IPAddress", TVariant("127.0.0.1"));
            Set("IPPort", TVariant(static_cast<int>(Port)));
        } else {
            Slave = Sim.StartPty(kComNumber);
            SlaveOpenBySim = DescriptorsOn(Slave);
            Set("PortNumber", TVariant(kComNumber));
            Set("BaudRate", TVariant(115200));
        }
    }
    void TearDown() override {
        Driver.reset();
        TLog::SetLogLevel(0);
        TLog::SetLogFileName("");
        SetHostExeNameForTests("");
    }

    bool Tcp() const { return GetParam() == TTransport::Tcp; }
    void Set(const char* AName, const TVariant& AValue) { ASSERT_TRUE(Driver->SetSettingValue(AName, AValue, true)); }
    TVariant Call(const char* AMethod, TParams& AParams) { return CallMethod(*Driver, AMethod, AParams); }
    bool Open() {
        TParams p(1);
        return Call("Open", p) == TVariant(true);
    }
    void Close() {
        TParams p(1);
        Call("Close", p);
    }
    // Whether the driver holds the link: a TCP connection or the serial port.
    bool LinkHeld() const {
        if (Tcp()) return ConnectionsTo(Port) > 0;
        return DescriptorsOn(Slave) > SlaveOpenBySim;
    }
    // Prints ALines lines; the paper runs out on the last one, which the register holds.
    void RunOutOfPaperWhilePrinting(int ALines) {
        Sim.SetPaperOutAfter(ALines - 1);
        const auto r = Driver->RunOperation("PrintTextDocument", [&] {
            for (int i = 1; i <= ALines; ++i) {
                const std::int32_t printed = Driver->Device()->PrintString(Utf8ToSingleByte("строка " + std::to_string(i)));
                if (printed != 0) return printed;
            }
            return 0;
        });
        ASSERT_EQ(r, 0);
        ASSERT_EQ(Sim.Status().Submode, 2);
    }

    TTempAppData Data;  // before the simulator: the COM link lives in the data folder
    TSimulator Sim;
    TScriptedClock Clock;
    std::unique_ptr<TDriver> Driver;
    std::uint16_t Port = 0;
    std::string Slave;
    int SlaveOpenBySim = 0;
};

TEST_P(SimulatorTest, OpenReadsTheRegistersWidthAndHoldsTheLinkOnlyOnSerial) {
    const auto before = Sim.Status();
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(Open()) << Driver->LastResultDescription();
    const auto elapsed = std::chrono::steady_clock::now() - start;
    const auto after = Sim.Status();

    const int commands = after.Commands - before.Commands;
    const int connections = after.Connections - before.Connections;
    // Over TCP: line length on connecting, the auto-cut flag, then GetLineLength's own connection
    // with its line-length query on connecting and its body.
    EXPECT_EQ(commands, Tcp() ? 4 : 3);
    if (Tcp()) {
        EXPECT_EQ(connections, 2);
    }
    const double ms = std::chrono::duration<double, std::milli>(elapsed).count();
    RecordProperty("OpenCommands", commands);
    RecordProperty("OpenMicroseconds", static_cast<int>(ms * 1000));
    std::cout << "[ measure  ] Open over " << (Tcp() ? "TCP" : "pty") << ": " << commands << " commands, "
              << connections << " connections, " << ms << " ms\n";

    EXPECT_EQ(Driver->LineLen(), 42);
    EXPECT_EQ(Driver->LastResultDescription(), "Ошибок нет");
    EXPECT_EQ(LinkHeld(), !Tcp()) << "TCP closes after every operation; the serial port stays open";
    EXPECT_EQ(Driver->RunOperation("DeviceTest", [&] { return LinkHeld() ? 0 : 1; }), 0)
        << "an operation holds the link while it runs";

    TParams p(2);
    EXPECT_EQ(Call("GetLineLength", p), TVariant(true));
    EXPECT_EQ(p[1], TVariant(42));
    EXPECT_EQ(LinkHeld(), !Tcp());

    Close();
    EXPECT_FALSE(LinkHeld());
}

TEST_P(SimulatorTest, MaxReceiptRowLengthOverridesTheRegistersWidth) {
    Set("MaxReceiptRowLength", TVariant(48));
    ASSERT_TRUE(Open());
    EXPECT_EQ(Driver->LineLen(), 48);
    TParams p(2);
    EXPECT_EQ(Call("GetLineLength", p), TVariant(true));
    EXPECT_EQ(p[1], TVariant(48));
}

TEST_P(SimulatorTest, SilentRegisterGives1007AndTheLinkIsReleased) {
    TLinkTimings quick;
    quick.HandshakeTimeoutMs = 100;
    quick.InterByteTimeoutMs = 20;
    quick.PerByteTotalTimeoutMs = 100;
    quick.ReceiveTimeoutMs = 100;
    TScopedLinkTimings timings(quick);
    TFault silence;
    silence.Kind = TFaultKind::Silence;
    silence.Count = 0;
    Sim.AddFault(silence);
    Set("WriteLog", TVariant(true));
    Set("LogDir", TVariant(Data.Path() + "log"));

    EXPECT_FALSE(Open());
    const std::int32_t code = Driver->LastResultCode();
    // Over TCP a silent peer is the link's receive time-out.
    if (Tcp()) {
        EXPECT_TRUE(code == errNoResponse || code == 606) << code;
    } else {
        EXPECT_EQ(code, errNoResponse);
    }
    EXPECT_FALSE(Driver->Enabled());
    EXPECT_FALSE(LinkHeld());
    const std::string log = ReadFile(Driver->Log().LogFileName());
    EXPECT_NE(log.find(fmt::format("ERROR\tTDriver: \tEnable [{}] - {}\r\n", code, Driver->LastResultDescription())),
              std::string::npos)
        << log;
}

TEST_P(SimulatorTest, WrongPasswordIsRefusedAndTheLinkIsReleased) {
    Sim.SetPassword(31);
    EXPECT_FALSE(Open());
    EXPECT_EQ(Driver->LastResultCode(), 79);
    EXPECT_FALSE(Driver->Enabled());
    EXPECT_FALSE(LinkHeld());

    Set("ConnectPassword", TVariant(31));
    EXPECT_TRUE(Open()) << Driver->LastResultDescription();
}

TEST_P(SimulatorTest, InterruptedPrintIsContinuedBeforeTheNextDocument) {
    ASSERT_TRUE(Open());
    RunOutOfPaperWhilePrinting(3);
    Sim.SetPaper(true);
    ASSERT_EQ(Sim.Status().Submode, 3);

    EXPECT_EQ(Driver->RunOperation("PrintTextDocument", [&] { return Driver->CheckPrintState(); }),
              errPreviousDocumentPrinted);
    EXPECT_EQ(Driver->LastResultDescription(), "Завершена печать предыдущего чека (документа)");
    EXPECT_EQ(Sim.Status().Submode, 0);
    const auto tape = Sim.Tape();
    ASSERT_EQ(tape.size(), 4u);
    EXPECT_EQ(tape[2].Text, "строка 3");
    EXPECT_EQ(tape.back().Kind, sim::TTapeEntry::TKind::Cut) << "the cut its print never reached";
    EXPECT_EQ(LinkHeld(), !Tcp());

    // Nothing is pending any more.
    EXPECT_EQ(Driver->RunOperation("PrintTextDocument", [&] { return Driver->CheckPrintState(); }), 0);
}

TEST_P(SimulatorTest, PaperNeverLoadedGives3027AfterAHundredPolls) {
    ASSERT_TRUE(Open());
    RunOutOfPaperWhilePrinting(2);
    EXPECT_EQ(Driver->RunOperation("PrintTextDocument", [&] { return Driver->WaitPrintCompletion(); }),
              errPrintFailed);
    EXPECT_EQ(Clock.PaperPolls, kPaperWaitPolls);
    EXPECT_EQ(Sim.Status().Submode, 2) << "the document stays with the register";
    EXPECT_EQ(Sim.Tape().size(), 1u);
}

TEST_P(SimulatorTest, PaperLoadedWhileWaitingIsContinuedAndThePrintCompletes) {
    ASSERT_TRUE(Open());
    RunOutOfPaperWhilePrinting(2);
    Clock.OnPaperPoll = [&](int APoll) {
        if (APoll == 5) Sim.SetPaper(true);
    };
    EXPECT_EQ(Driver->RunOperation("PrintTextDocument", [&] { return Driver->WaitPrintCompletion(); }), 0);
    EXPECT_EQ(Clock.PaperPolls, 5);
    EXPECT_EQ(Sim.Status().Submode, 0);
    ASSERT_EQ(Sim.Tape().size(), 2u);
    EXPECT_EQ(Sim.Tape().back().Text, "строка 2");
}

TEST_P(SimulatorTest, CutAfterDocumentReachesThePaper) {
    ASSERT_TRUE(Open());
    Sim.ClearTape();
    EXPECT_EQ(Driver->RunOperation("PrintTextDocument", [&] {
        Driver->CutAfterDocument(false, false, 3);
        return 0;
    }), 0);
    const auto tape = Sim.Tape();
    ASSERT_EQ(tape.size(), 2u);
    EXPECT_EQ(tape[0].Kind, sim::TTapeEntry::TKind::Feed);
    EXPECT_EQ(tape[0].Count, 3);
    EXPECT_EQ(tape[1].Kind, sim::TTapeEntry::TKind::Cut);
    EXPECT_EQ(tape[1].Flags, 1) << "partial cut";
}

INSTANTIATE_TEST_SUITE_P(Transports, SimulatorTest, ::testing::Values(TTransport::Tcp, TTransport::Pty),
                         TransportName);

}  // namespace
}  // namespace fr::test
