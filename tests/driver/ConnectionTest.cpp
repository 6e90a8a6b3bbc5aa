// Open/Close, the settings Enable applies, the log it sets up, the operation frame and the line
// length, against a scripted link.

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <stdexcept>

#include <fmt/format.h>

#include "driver/ScriptedDriver.h"
#include "framework/ErrorCodes.h"
#include "framework/Log.h"
#include "framework/TestDriver.h"
#include "platform/Errors.h"

namespace fr::test {
namespace {

using TLines = std::vector<std::string>;

std::string TodayLogName() {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    ::localtime_r(&now, &tm);
    return fmt::format("fr_tarvikonline1c83_{:04}.{:02}.{:02}.log", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
}

// ---- Enable over the serial port ----

TEST_F(ScriptedDriverTest, SerialOpenQueriesLineLengthAutoCutAndLineLengthAndKeepsThePortOpen) {
    Set("PortNumber", TVariant(3));
    Set("BaudRate", TVariant(19200));
    ExpectEnableCommands(32, 1);

    TParams p(1);
    EXPECT_EQ(CallMethod(*Driver, "Open", p), TVariant(true));
    EXPECT_EQ(Driver->LastResultCode(), 0);
    EXPECT_EQ(Driver->LastResultDescription(), "Ошибок нет");
    EXPECT_TRUE(Driver->Enabled());
    EXPECT_EQ(Events, (TLines{"new serial", "open 3 19200", "cmd 1F", "cmd 1F", "cmd 1F"}));
    EXPECT_EQ(Driver->LineLen(), 32);
    EXPECT_TRUE(Driver->AutoCut());
    EXPECT_EQ(Driver->Device()->GetConnectionType(), 0);
    EXPECT_EQ(Driver->Device()->GetPortNumber(), 3);
    EXPECT_TRUE(Driver->Scripted()->Open);
    // Every command carries the factory password 30.
    for (const auto& sent : Link.Sent) EXPECT_EQ(BytesToHexText(sent.Message).substr(2, 8), "1E000000");

    TParams c(1);
    EXPECT_EQ(CallMethod(*Driver, "Close", c), TVariant(true));
    EXPECT_FALSE(Driver->Scripted()->Open);
    EXPECT_FALSE(Driver->Enabled());
    EXPECT_NE(Driver->Device(), nullptr) << "the device object stays until the next Open";
}

TEST_F(ScriptedDriverTest, SilentRegisterOnSerialGives1007AndClosesThePortAgain) {
    Link.ExpectLinkFailure({0x1F}, errNoResponse);
    EXPECT_EQ(Enable(), errNoResponse);
    EXPECT_EQ(Events, (TLines{"new serial", "open 1 115200", "cmd 1F", "close"}));
    EXPECT_FALSE(Driver->Scripted()->Open);
    EXPECT_FALSE(Driver->Enabled());
    EXPECT_EQ(Driver->StoredResultDescription(), "Устройство не отвечает");
}

TEST_F(ScriptedDriverTest, PortThatCannotBeOpenedGives1011) {
    Driver->ConnectResult = 1011;
    EXPECT_EQ(Enable(), 1011);
    EXPECT_EQ(Driver->StoredResultDescription(), "Порт недоступен");
    EXPECT_TRUE(Link.Sent.empty());
}

TEST_F(ScriptedDriverTest, RefusedAutoCutReadEndsTheEnableWithItsCodeAndKeepsTheOldLineLength) {
    ExpectLineLength(48);
    Link.Expect({0x1F}, Bytes({0x01, 0x01, 0x00, 0x07}), Bytes({0x33}));
    EXPECT_EQ(Enable(), 0x33);
    EXPECT_EQ(Driver->LineLen(), 40);
    EXPECT_FALSE(Driver->AutoCut());
}

TEST_F(ScriptedDriverTest, WrongPasswordIsTheRegistersRefusal) {
    Set("ConnectPassword", TVariant(31));
    Link.Expect({0x1F}, std::nullopt, Bytes({0x4F}));
    EXPECT_EQ(Enable(), 0x4F);
    EXPECT_EQ(BytesToHexText(Link.Sent.at(0).Message), "1F1F00000009010003");
    EXPECT_FALSE(Driver->Scripted()->Open);
}

// ---- Enable over TCP ----

TEST_F(ScriptedDriverTest, TcpOpenLeavesNoConnectionOpen) {
    UseTcp();
    ExpectTcpEnableCommands(32, 0);
    EXPECT_EQ(Enable(), 0);
    // Enable connects for its own queries, GetLineLength connects again for its frame.
    EXPECT_EQ(Events, (TLines{"new tcp", "connect 127.0.0.1:7778", "cmd 1F", "cmd 1F", "disconnect",
                              "connect 127.0.0.1:7778", "cmd 1F", "cmd 1F", "disconnect"}));
    EXPECT_FALSE(Driver->Scripted()->Open);
    EXPECT_EQ(Driver->Device()->GetConnectionType(), 1);
    EXPECT_FALSE(Driver->AutoCut());
}

TEST_F(ScriptedDriverTest, TcpOpenThatFailsHalfWayClosesItsConnection) {
    UseTcp();
    ExpectLineLength(32);
    Link.ExpectLinkFailure({0x1F}, 606);
    EXPECT_EQ(Enable(), 606);
    EXPECT_EQ(Events.back(), "disconnect");
    EXPECT_FALSE(Driver->Scripted()->Open);
}

TEST_F(ScriptedDriverTest, TcpOperationsConnectAndDisconnectEachTime) {
    UseTcp();
    ExpectTcpEnableCommands(32, 0);
    ASSERT_EQ(Enable(), 0);
    Events.clear();
    for (int i = 0; i < 2; ++i) {
        ExpectLineLength(32);
        ExpectLineLength(32);
        TParams p(2);
        EXPECT_EQ(CallMethod(*Driver, "GetLineLength", p), TVariant(true));
        EXPECT_EQ(p[1], TVariant(32));
    }
    EXPECT_EQ(Events, (TLines{"connect 127.0.0.1:7778", "cmd 1F", "cmd 1F", "disconnect",
                              "connect 127.0.0.1:7778", "cmd 1F", "cmd 1F", "disconnect"}));
}

// ---- settings applied by Enable ----

TEST_F(ScriptedDriverTest, ConnectPasswordBecomesFourBytesLeastSignificantFirst) {
    struct Case {
        const char* Name;
        TVariant Value;
        const char* Bytes;
    };
    const Case cases[] = {
        {"factory", TVariant(30), "1E000000"},
        {"four bytes", TVariant(0x12345678), "78563412"},
        {"negative", TVariant(-1), "FFFFFFFF"},
        {"zero", TVariant(0), "00000000"},
        {"text that is not a number", TVariant("abc"), "00000000"},
        {"decimal text", TVariant("305"), "31010000"},
        {"fraction", TVariant(30.5), "00000000"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Set("ConnectPassword", c.Value);
        ExpectEnableCommands(32, 0);
        ASSERT_EQ(Enable(), 0);
        EXPECT_EQ(BytesToHexText(Driver->Device()->GetConnectPwd()), c.Bytes);
    }
}

TEST_F(ScriptedDriverTest, DeviceSettingsAreCopiedAtEnable) {
    Set("CutString", TVariant("[Cut]"));
    Set("DisableCut", TVariant(true));
    Set("FeedCount", TVariant(4));
    Set("QRSize", TVariant(3));
    Set("PrintSignObjAndMethod", TVariant(true));
    ExpectEnableCommands(32, 0);
    ASSERT_EQ(Enable(), 0);
    EXPECT_EQ(Driver->CutMarker(), "[CUT]");
    EXPECT_TRUE(Driver->Device()->GetDisableCut());
    EXPECT_EQ(Driver->Device()->GetFeedCount(), 4);
    EXPECT_EQ(Driver->Device()->GetQRSize(), 3);
    EXPECT_TRUE(Driver->PrintSignObjAndMethod());
}

TEST_F(ScriptedDriverTest, MaxReceiptRowLengthOverridesTheRegistersWidth) {
    struct Case {
        int Setting;
        int Expected;
    };
    const Case cases[] = {{0, 32}, {-5, 32}, {48, 48}, {255, 255}, {300, 255}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Setting);
        Set("MaxReceiptRowLength", TVariant(c.Setting));
        ExpectEnableCommands(32, 0);
        ASSERT_EQ(Enable(), 0);
        EXPECT_EQ(Driver->LineLen(), c.Expected);
        EXPECT_EQ(Driver->Device()->GetLineLen(), c.Expected);
        ExpectLineLength(32);
        TParams p(2);
        EXPECT_EQ(CallMethod(*Driver, "GetLineLength", p), TVariant(true));
        EXPECT_EQ(p[1], TVariant(c.Expected));
    }
}

TEST_F(ScriptedDriverTest, FailedLineLengthQueryStillAppliesTheSettingButReportsTheFailure) {
    ExpectEnableCommands(32, 0);
    ASSERT_EQ(Enable(), 0);
    Set("MaxReceiptRowLength", TVariant(48));
    Link.Expect({0x1F}, std::nullopt, Bytes({0x72}));
    TParams p(2);
    p[1] = TVariant(7);
    EXPECT_EQ(CallMethod(*Driver, "GetLineLength", p), TVariant(false));
    EXPECT_EQ(Driver->LastResultCode(), 0x72);
    EXPECT_EQ(p[1], TVariant(7)) << "out-parameter written on success only";
    EXPECT_EQ(Driver->Device()->GetLineLen(), 48);
}

TEST_F(ScriptedDriverTest, OpenAgainReplacesTheDeviceWithOneFromTheCurrentSettings) {
    ExpectEnableCommands(32, 0);
    ASSERT_EQ(Enable(), 0);
    UseTcp();
    ExpectTcpEnableCommands(40, 0);
    ASSERT_EQ(Enable(), 0);
    EXPECT_EQ(Driver->DevicesCreated, 2);
    EXPECT_EQ(Events.at(5), "close") << "the old serial device is disabled first";
    EXPECT_EQ(Events.at(6), "new tcp");
    EXPECT_EQ(Driver->Device()->GetConnectionType(), 1);
}

TEST_F(ScriptedDriverTest, DestroyDisablesAndFreesTheDevice) {
    ExpectEnableCommands(32, 0);
    ASSERT_EQ(Enable(), 0);
    Driver.reset();
    EXPECT_EQ(Events.back(), "close");
}

TEST_F(ScriptedDriverTest, OperationsBeforeTheFirstOpenGive1005) {
    std::int32_t len = 0;
    EXPECT_EQ(Driver->GetLineLength(len), 0) << "the default width needs no register";
    EXPECT_EQ(len, 40);
    EXPECT_EQ(Driver->RunOperation("OpenShift", [] { return 0; }), errDeviceNotReady);
    EXPECT_EQ(Driver->StoredResultDescription(), "Устройство не найдено или не проинициализировано");
    bool b = false;
    EXPECT_EQ(Driver->GetCommonValueBool(1, b), errDeviceNotReady);
    EXPECT_EQ(Driver->CheckPrintState(), errDeviceNotReady);
    EXPECT_EQ(Driver->WaitPrintCompletion(), errDeviceNotReady);
    Driver->CutAfterDocument(false, false, 5);
    TParams c(1);
    EXPECT_EQ(CallMethod(*Driver, "Close", c), TVariant(true));
}

// ---- log set-up ----

TEST_F(ScriptedDriverTest, LogOffWritesNothing) {
    const std::string dir = Data.Path() + "logs/";
    Set("LogDir", TVariant(dir));
    ExpectEnableCommands(32, 0);
    ASSERT_EQ(Enable(), 0);
    EXPECT_EQ(Driver->Log().LogLevel(), 0);
    EXPECT_FALSE(std::filesystem::exists(dir));
}

TEST_F(ScriptedDriverTest, LogOnWritesToTheDatedFileInLogDirWithoutTheStartLineOfTheFirstEnable) {
    const std::string dir = Data.Path() + "a/b/logs";
    Set("WriteLog", TVariant(true));
    Set("LogDir", TVariant(dir));
    ExpectEnableCommands(32, 0);
    ASSERT_EQ(Enable(), 0);
    const std::string file = dir + "/" + TodayLogName();
    EXPECT_EQ(Driver->Log().LogFileName(), file);
    EXPECT_EQ(Driver->LogDirName(), dir + "/");
    EXPECT_EQ(std::filesystem::status(dir).permissions() & std::filesystem::perms::all, std::filesystem::perms::all);
    const std::string text = ReadFile(file);
    EXPECT_NE(text.find("============Start log============="), std::string::npos);
    EXPECT_EQ(text.find("Start Enable"), std::string::npos) << "the log was still off";
    EXPECT_NE(text.find("\tTDriver: \tStart GetLineLength\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\tTDriver: \tGetLineLength [0] - Ошибок нет\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("INFO\tTDriver: \tEnable [0] - Ошибок нет\r\n"), std::string::npos) << text;

    // A second enable logs its start line to the current file, then sets the log up afresh.
    Link.ExpectLinkFailure({0x1F}, errNoResponse);
    EXPECT_EQ(Enable(), errNoResponse);
    const std::string again = ReadFile(file).substr(text.size());
    EXPECT_NE(again.find("============Start log============="), std::string::npos);
    EXPECT_LT(again.find("\tTDriver: \tStart Enable\r\n"), again.find("Start log"));
    EXPECT_NE(again.find("ERROR\tTDriver: \tEnable [1007] - Устройство не отвечает\r\n"), std::string::npos)
        << again;
}

TEST_F(ScriptedDriverTest, BlankLogDirMeansTheDataFolder) {
    Set("WriteLog", TVariant(true));
    Set("LogDir", TVariant("  "));
    ExpectEnableCommands(32, 0);
    ASSERT_EQ(Enable(), 0);
    EXPECT_EQ(Driver->Log().LogFileName(), Data.Path() + "fr_tarvikonline1c83/" + TodayLogName());
    EXPECT_TRUE(std::filesystem::exists(Driver->Log().LogFileName()));
}

TEST_F(ScriptedDriverTest, LogDirThatCannotBeCreatedFallsBackToTheDataFolder) {
    const std::string blocker = Data.Path() + "file";
    WriteFile(blocker, "x");
    Set("WriteLog", TVariant(true));
    Set("LogDir", TVariant(blocker + "/logs"));
    ExpectEnableCommands(32, 0);
    ASSERT_EQ(Enable(), 0);
    EXPECT_EQ(Driver->Log().LogFileName(), Data.Path() + "fr_tarvikonline1c83/" + TodayLogName());
    EXPECT_TRUE(std::filesystem::exists(Driver->Log().LogFileName()));
}

// ---- the operation frame ----

class OperationFrameTest : public ScriptedDriverTest {
protected:
    void SetUp() override {
        Set("WriteLog", TVariant(true));
        Set("LogDir", TVariant(Data.Path() + "log"));
    }
    // Log lines written since AFrom, without their time stamps.
    std::vector<std::string> LinesSince(std::size_t AFrom) const {
        const std::string text = ReadFile(Driver->Log().LogFileName()).substr(AFrom);
        std::vector<std::string> lines;
        std::size_t pos = 0;
        while (pos < text.size()) {
            const std::size_t end = text.find("\r\n", pos);
            const std::string line = text.substr(pos, end - pos);
            const std::size_t tab = line.find('\t');
            if (tab != std::string::npos) lines.push_back(line.substr(tab + 1));
            if (end == std::string::npos) break;
            pos = end + 2;
        }
        return lines;
    }
    std::size_t LogSize() const { return ReadFile(Driver->Log().LogFileName()).size(); }
};

TEST_F(OperationFrameTest, SuccessLogsStartAndClosingLineAndDescribesTheResult) {
    ExpectEnableCommands(32, 0);
    ASSERT_EQ(Enable(), 0);
    const std::size_t from = LogSize();
    int ran = 0;
    EXPECT_EQ(Driver->RunOperation("OpenShift", [&] { ++ran; return 0; }), 0);
    EXPECT_EQ(ran, 1);
    EXPECT_EQ(LinesSince(from), (TLines{"INFO\tTDriver: \tStart OpenShift", "INFO\tTDriver: \tOpenShift [0] - Ошибок нет"}));
    EXPECT_EQ(Driver->StoredResultDescription(), "Ошибок нет");
}

TEST_F(OperationFrameTest, FailureIsLoggedAsErrorWithTheRegistersText) {
    ExpectEnableCommands(32, 0);
    ASSERT_EQ(Enable(), 0);
    const std::size_t from = LogSize();
    EXPECT_EQ(Driver->RunOperation("XReport", [] { return 0x50; }), 0x50);
    EXPECT_EQ(LinesSince(from),
              (TLines{"INFO\tTDriver: \tStart XReport", "ERROR\tTDriver: \tXReport [80] - Идет печать предыдущей команды"}));
    EXPECT_EQ(Driver->StoredResultDescription(), "Идет печать предыдущей команды");
}

TEST_F(OperationFrameTest, SideChannelsAreAppendedToAFailureAndReset) {
    ExpectEnableCommands(32, 0);
    ASSERT_EQ(Enable(), 0);
    EXPECT_EQ(Driver->RunOperation("ProcessCheck", [&] {
        Driver->SetExtError(3029, " Ф ");
        return 2;
    }), 2);
    EXPECT_EQ(Driver->StoredResultDescription(),
              "Неверное состояние ФН; Не указано имя кассира; Ф");
    EXPECT_EQ(Driver->RunOperation("ProcessCheck", [] { return 2; }), 2);
    EXPECT_EQ(Driver->StoredResultDescription(),
              "Неверное состояние ФН");
}

TEST_F(OperationFrameTest, TcpFrameConnectsRunsCompletesThenDisconnects) {
    UseTcp();
    ExpectTcpEnableCommands(32, 0);
    ASSERT_EQ(Enable(), 0);
    Events.clear();
    ExpectLineLength(32);
    const auto r = Driver->RunOperation(
        "CloseShift",
        [&] {
            Events.push_back("body");
            return 0;
        },
        [&](std::int32_t AResult) { Events.push_back("completion " + std::to_string(AResult)); });
    EXPECT_EQ(r, 0);
    EXPECT_EQ(Events, (TLines{"connect 127.0.0.1:7778", "cmd 1F", "body", "completion 0", "disconnect"}));
}

TEST_F(OperationFrameTest, TcpConnectFailureSkipsTheBodyButNotTheCompletion) {
    UseTcp();
    ExpectTcpEnableCommands(32, 0);
    ASSERT_EQ(Enable(), 0);
    Link.ExpectLinkFailure({0x1F}, 606);  // connected, but the register does not answer
    const std::size_t from = LogSize();
    int ran = 0, completed = 0;
    EXPECT_EQ(Driver->RunOperation("OpenShift", [&] { ++ran; return 0; }, [&](std::int32_t) { ++completed; }), 606);
    EXPECT_EQ(ran, 0);
    EXPECT_EQ(completed, 1);
    EXPECT_FALSE(Driver->Scripted()->Open);
    const auto lines = LinesSince(from);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "ERROR\tTDriver: \tOpenShift [606] - Ошибка при получении ответа от сервера");
}

TEST_F(OperationFrameTest, ExceptionCompletesTheFrameAndPassesOn) {
    UseTcp();
    ExpectTcpEnableCommands(32, 0);
    ASSERT_EQ(Enable(), 0);
    ExpectLineLength(32);
    const std::size_t from = LogSize();
    int completed = 0;
    EXPECT_THROW(Driver->RunOperation(
                     "PrintTextDocument", []() -> std::int32_t { throw EConvertError("'x' is not a number"); },
                     [&](std::int32_t AResult) { completed = AResult; }),
                 EConvertError);
    EXPECT_EQ(completed, errUnknown);
    EXPECT_FALSE(Driver->Scripted()->Open);
    const auto lines = LinesSince(from);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1], "ERROR\tTDriver: \tPrintTextDocument [1001] - Неизвестная ошибка; 'x' is not a number");
}

TEST_F(OperationFrameTest, HandlerTurnsAnExceptionOfTheFrameInto1001) {
    ExpectEnableCommands(32, 0);
    ASSERT_EQ(Enable(), 0);
    // GetLineLength through the host: a setting that cannot be converted throws inside the body.
    Set("MaxReceiptRowLength", TVariant(1e12));
    ExpectLineLength(32);
    TParams p(2);
    EXPECT_EQ(CallMethod(*Driver, "GetLineLength", p), TVariant(false));
    EXPECT_EQ(Driver->LastResultCode(), errUnknown);
}

// ---- common values ----

TEST_F(ScriptedDriverTest, CommonValuesUseTableTwoRowOne) {
    ExpectEnableCommands(32, 0);
    ASSERT_EQ(Enable(), 0);
    Link.Expect({0x1F}, Bytes({0x02, 0x01, 0x00, 0x05}), Bytes({0x00, 0x02}));
    Link.Expect({0x1F}, Bytes({0x02, 0x01, 0x00, 0x06}), Bytes({0x00, 0x00}));
    Link.Expect({0x1F}, Bytes({0x02, 0x01, 0x00, 0x07}), Bytes({0x00, 0x09}));
    Link.Expect({0x1F}, Bytes({0x02, 0x01, 0x00, 0x08}), Bytes({0x00, 0xAB, 0x0C}));
    Link.Expect({0x1F}, Bytes({0x02, 0x01, 0x00, 0x09}), Bytes({0x00, 0x01, 0x02}));
    Link.Expect({0x1E}, Bytes({0x02, 0x01, 0x00, 0x0A, 0x01}), Ok());
    Link.Expect({0x1E}, Bytes({0x02, 0x01, 0x00, 0x0B, 0x00}), Ok());
    Link.Expect({0x1E}, Bytes({0x02, 0x01, 0x00, 0x0C, 0xFE}), Ok());
    Link.Expect({0x1E}, Bytes({0x02, 0x01, 0x00, 0x0D, 0x12, 0x34}), Ok());
    Link.Expect({0x1E}, Bytes({0x02, 0x01, 0x00, 0x0E, 0x00, 0xAB, 0xCD}), Ok());

    bool b = false;
    EXPECT_EQ(Driver->GetCommonValueBool(5, b), 0);
    EXPECT_TRUE(b);
    EXPECT_EQ(Driver->GetCommonValueBool(6, b), 0);
    EXPECT_FALSE(b);
    std::uint8_t byte = 0;
    EXPECT_EQ(Driver->GetCommonValueByte(7, byte), 0);
    EXPECT_EQ(byte, 9);
    std::string hex;
    EXPECT_EQ(Driver->GetCommonValueHex(8, hex), 0);
    EXPECT_EQ(hex, "AB0C");
    const TBytes* bin = nullptr;
    EXPECT_EQ(Driver->GetCommonValueBIN(9, bin), 0);
    ASSERT_NE(bin, nullptr);
    EXPECT_EQ(BytesToHexText(*bin), "000102");
    EXPECT_EQ(Driver->SetCommonValueBool(10, true), 0);
    EXPECT_EQ(Driver->SetCommonValueBool(11, false), 0);
    EXPECT_EQ(Driver->SetCommonValueByte(12, 0xFE), 0);
    EXPECT_EQ(Driver->SetCommonValueBCD(13, 1234), 0);
    EXPECT_EQ(Driver->SetCommonValueHex(14, "ABCD", 3), 0);
    // A BCD value over four digits is refused before anything is sent.
    EXPECT_EQ(Driver->SetCommonValueBCD(13, 12345), errInvalidParameter);
}

TEST_F(ScriptedDriverTest, RefusedCommonValueKeepsTheOutValue) {
    ExpectEnableCommands(32, 0);
    ASSERT_EQ(Enable(), 0);
    Link.Expect({0x1F}, std::nullopt, Bytes({0x5D}));
    bool b = true;
    EXPECT_EQ(Driver->GetCommonValueBool(5, b), 0x5D);
    EXPECT_TRUE(b);
}

}  // namespace
}  // namespace fr::test
