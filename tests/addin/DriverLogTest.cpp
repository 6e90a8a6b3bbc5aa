// The driver's log as the platform meets it: several registers served from one process, and a log
// that cannot be written. Host calls on add-in objects, the real driver, the simulated register
// over TCP loopback.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "addin/AddInObject.h"
#include "device/InstantClock.h"
#include "core/Simulator.h"
#include "driver/Driver.h"
#include "framework/Log.h"
#include "platform/Encoding.h"
#include "platform/System.h"
#include "platform/TempDir.h"
#include "transport/LinkFrame.h"

namespace fr::test {
namespace {

// The platform's services: only the error service, which records what it was told.
class THost : public IHostConnection, public IHostErrorSink {
public:
    IAsyncEvent* QueryAsyncEvent() override { return nullptr; }
    IExtWndsSupport* QueryExtWndsSupport() override { return nullptr; }
    IHostErrorSink* QueryErrorSink() override { return this; }
    void ShowError(const std::u16string& ACaption, const std::u16string& AText) override {
        Errors.push_back(Utf16ToUtf8(ACaption) + "|" + Utf16ToUtf8(AText));
    }
    void ShowWarning(const std::u16string& ACaption, const std::u16string& AText) override {
        Warnings.push_back(Utf16ToUtf8(ACaption) + "|" + Utf16ToUtf8(AText));
    }
    std::vector<std::string> Errors, Warnings;
};

std::string Sale(const std::string& ACashier) {
    return R"(<CheckPackage><Parameters PaymentType="1" TaxVariant="0" CashierName=")" + ACashier +
           R"("/><Positions><FiscalString Name="Хлеб" Quantity="1" PriceWithDiscount="10" SumWithDiscount="10"
           DiscountSum="0" TaxSum="0.91" Tax="10" Department="1" SignMethodCalculation="4"
           SignCalculationObject="1"/></Positions><Payments Cash="10"/></CheckPackage>)";
}

std::string TodayLogName() {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    ::localtime_r(&now, &tm);
    return fmt::format("fr_tarvikonline1c83_{:04}.{:02}.{:02}.log", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
}

std::size_t Count(const std::string& AText, const std::string& AWhat) {
    std::size_t n = 0;
    for (auto pos = AText.find(AWhat); pos != std::string::npos; pos = AText.find(AWhat, pos + 1)) ++n;
    return n;
}

// One register as the platform drives it: an add-in object on its simulator, its log in ALogDir.
struct TRegister {
    explicit TRegister(std::string ALogDir, std::uint32_t APassword = 30)
        : LogDir(std::move(ALogDir)), Password(APassword) {
        Sim.SetPassword(Password);
        Sim.SetLineWidth(32);
        Sim.SetFiscal(true);
        Sim.OpenShift();
        Port = Sim.StartTcp(0);
    }

    // Open, AReceipts sales, Close: each call's outcome, in order.
    void Run(IHostConnection* AHost, const std::string& ACashier, int AReceipts) {
        TAddInObject object(kDriverClassName);
        Outcomes.push_back(object.Init(AHost) == S_OK);
        dynamic_cast<TDriver&>(*object.Driver()).SetClock(&Clock);
        Call(object, u"SetParameter", {TVariant("PortNumber"), TVariant(kTcpPortNumber)});
        Call(object, u"SetParameter", {TVariant("IPAddress"), TVariant("127.0.0.1")});
        Call(object, u"SetParameter", {TVariant("IPPort"), TVariant(static_cast<std::int32_t>(Port))});
        Call(object, u"SetParameter", {TVariant("ConnectPassword"), TVariant(static_cast<std::int32_t>(Password))});
        Call(object, u"SetParameter", {TVariant("WriteLog"), TVariant(true)});
        Call(object, u"SetParameter", {TVariant("LogDir"), TVariant(LogDir)});
        Call(object, u"Open", TParams(1));
        for (int i = 0; i < AReceipts; ++i)
            Call(object, u"ProcessCheck",
                 {TVariant("0"), TVariant(false), TVariant(Sale(ACashier)), TVariant(), TVariant(), TVariant(),
                  TVariant()});
        Call(object, u"Close", TParams(1));
        Outcomes.push_back(object.Done() == S_OK);
    }
    void Call(TAddInObject& AObject, std::u16string_view AMethod, TParams AParams) {
        std::int32_t n = -1;
        AObject.FindMethod(AMethod, n);
        TVariant ret;
        Outcomes.push_back(AObject.CallAsFunc(n, ret, AParams) == S_OK && ret == TVariant(true));
    }
    std::size_t Receipts() const {
        std::size_t n = 0;
        const nlohmann::json state = Sim.SaveJson();
        for (const auto& doc : state["fn"]["documents"])
            if (doc["type"] == 3) ++n;
        return n;
    }

    std::string LogDir;
    std::uint32_t Password;
    sim::TSimulator Sim;
    std::uint16_t Port = 0;
    TInstantClock Clock;
    std::vector<bool> Outcomes;
};

class DriverLog : public ::testing::Test {
protected:
    void SetUp() override { SetHostExeNameForTests("1cv8.exe"); }
    void TearDown() override {
        SetHostExeNameForTests("");
        TLog::ResetFailureReportForTests();
    }
    TTempAppData Data;
};

// Four objects on four threads, each with its own register and log folder, as one server process
// of the platform serves them: every receipt goes through and every folder holds only its own
// driver's lines, byte trace included; nothing lands in the process-wide log.
TEST_F(DriverLog, FourRegistersOnFourThreadsEachLogToTheirOwnFolder) {
    constexpr int kRegisters = 4, kReceipts = 3;
    constexpr std::uint32_t kPasswordBase = 0x71A3C5D0;
    std::vector<std::unique_ptr<TTempDir>> dirs;
    std::vector<std::unique_ptr<TRegister>> registers;
    for (int i = 0; i < kRegisters; ++i) {
        dirs.push_back(std::make_unique<TTempDir>());
        // Every command frame carries the password: it marks each driver's byte trace.
        registers.push_back(std::make_unique<TRegister>(dirs.back()->Path(), kPasswordBase + i));
    }
    std::vector<std::thread> threads;
    for (int i = 0; i < kRegisters; ++i)
        threads.emplace_back([&, i] { registers[i]->Run(nullptr, fmt::format("Кассир {}", i), kReceipts); });
    for (auto& t : threads) t.join();

    for (int i = 0; i < kRegisters; ++i) {
        SCOPED_TRACE(fmt::format("register {}", i));
        const TRegister& r = *registers[i];
        EXPECT_EQ(std::count(r.Outcomes.begin(), r.Outcomes.end(), false), 0);
        EXPECT_EQ(r.Receipts(), static_cast<std::size_t>(kReceipts));
        std::vector<std::string> files;
        for (const auto& e : std::filesystem::directory_iterator(r.LogDir)) files.push_back(e.path().filename());
        ASSERT_EQ(files, std::vector<std::string>{TodayLogName()});
        const std::string log = ReadFile(r.LogDir + TodayLogName());
        EXPECT_EQ(Count(log, "TDriver: \tStart ProcessCheck"), static_cast<std::size_t>(kReceipts));
        EXPECT_EQ(Count(log, "TDriver: \tEnable [0]"), 1u);
        // The cashier's name in the call log and the password in the byte trace.
        for (int j = 0; j < kRegisters; ++j) {
            const std::string name = fmt::format("Кассир {}", j);
            const std::uint32_t pw = kPasswordBase + j;
            const std::string hex = link::HexDump(TBytes{static_cast<std::uint8_t>(pw), static_cast<std::uint8_t>(pw >> 8),
                                                   static_cast<std::uint8_t>(pw >> 16),
                                                   static_cast<std::uint8_t>(pw >> 24)});
            EXPECT_EQ(Count(log, name) > 0, i == j) << name;
            EXPECT_EQ(Count(log, hex) > 0, i == j) << hex;
        }
    }
    EXPECT_FALSE(std::filesystem::exists(Data.Path() + "fr_tarvikonline1c83/" + TodayLogName()));
}

// Whatever stands in the log's way (the kinds of obstacle are the log's own test), every call
// keeps its course and result; the failure reaches standard error and the host's error service
// once, and nothing is written through a link.
TEST_F(DriverLog, UnwritableLogNeverChangesAnOperation) {
    struct Case {
        const char* Name;
        // Makes the log unwritable; returns the "LogDir" setting.
        std::string (*Plant)(const std::string& ADir, const std::string& AFile);
        const char* Reason;
    };
    const Case cases[] = {
        {"LinkAtTheName",
         [](const std::string& d, const std::string& f) {
             WriteFile(d + "victim", "keep");
             ::symlink((d + "victim").c_str(), (d + f).c_str());
             return d;
         },
         "symbolic link"},
        // Neither the folder asked for nor the default one can be made.
        {"NoFolderAnywhere",
         [](const std::string& d, const std::string&) {
             WriteFile(d + "file", "x");
             ::setenv("FR_APPDATA_DIR", (d + "file/data").c_str(), 1);
             return d + "file/logs";
         },
         "Not a directory"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TLog::ResetFailureReportForTests();
        TTempDir dir;
        const std::string logDir = c.Plant(dir.Path(), TodayLogName());
        const std::string victim = ReadFile(dir.Path() + "victim");
        TRegister reg(logDir);
        THost host;
        ::testing::internal::CaptureStderr();
        reg.Run(&host, "Кассир", 2);
        const std::string err = ::testing::internal::GetCapturedStderr();
        ::setenv("FR_APPDATA_DIR", Data.Path().c_str(), 1);

        EXPECT_EQ(std::count(reg.Outcomes.begin(), reg.Outcomes.end(), false), 0);
        EXPECT_EQ(reg.Receipts(), 2u);
        // Without a data folder the receipts' intents cannot be kept on disk either: said once too.
        const bool noData = std::string(c.Name) == "NoFolderAnywhere";
        ASSERT_EQ(host.Warnings.size(), noData ? 2u : 1u);
        EXPECT_NE(host.Warnings[0].find("fr_tarvikonline1c83|Журнал драйвера не записывается"), std::string::npos)
            << host.Warnings[0];
        EXPECT_NE(host.Warnings[0].find(c.Reason), std::string::npos) << host.Warnings[0];
        if (noData) {
            EXPECT_NE(host.Warnings[1].find("Намерения фискальных документов не сохраняются"), std::string::npos)
                << host.Warnings[1];
        }
        EXPECT_TRUE(host.Errors.empty());
        EXPECT_EQ(Count(err, "cannot write the log"), 1u) << err;
        EXPECT_EQ(ReadFile(dir.Path() + "victim"), victim);
    }
}

}  // namespace
}  // namespace fr::test
