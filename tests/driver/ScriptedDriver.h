#pragma once
// A TDriver whose device talks to a scripted link: connects and disconnects are recorded in one
// event list together with the commands, so tests can check what happened in which order.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "device/FakeLink.h"
#include "driver/Driver.h"
#include "framework/Log.h"
#include "platform/System.h"
#include "platform/TempDir.h"

namespace fr::test {

// A device that connects as the serial and TCP devices do (connect, then the line-length query)
// without a port or a socket.
class TScriptedDevice : public TDevice {
public:
    TScriptedDevice(TLinkProtocol* ALink, std::vector<std::string>& AEvents, bool ATcp, int AConnectResult,
                    bool& ADestroyed)
        : TDevice(ALink), FEvents(AEvents), FTcp(ATcp), FConnectResult(AConnectResult), FDestroyed(ADestroyed) {}
    ~TScriptedDevice() override { FDestroyed = true; }

    int RunCommand(const TBytes& ACmd, const TBytes& AData, int ATimeout, bool ASendPwd, bool AWaitResponse) override {
        FEvents.push_back("cmd " + BytesToHexText(ACmd));
        return TDevice::RunCommand(ACmd, AData, ATimeout, ASendPwd, AWaitResponse);
    }

    int Enable(int APort, int ABaud) override {
        EXPECT_FALSE(FTcp);
        FEvents.push_back("open " + std::to_string(APort) + " " + std::to_string(ABaud));
        Open = false;
        if (FConnectResult != 0) return FConnectResult;
        Open = true;
        const int r = SetParams();
        if (r != 0) {
            FEvents.push_back("close");
            Open = false;
        }
        return r;
    }
    int Enable(const std::string& AIPAddress, int ATCPPort) override {
        EXPECT_TRUE(FTcp);
        FEvents.push_back("connect " + AIPAddress + ":" + std::to_string(ATCPPort));
        if (FConnectResult != 0) return FConnectResult;
        Open = true;
        return SetParams();  // a failed query leaves the connection for Disable
    }
    void Disable() override {
        if (!Open) return;
        FEvents.push_back(FTcp ? "disconnect" : "close");
        Open = false;
    }

    std::string GetIPAddress() const override { return FIPAddress; }
    int GetTCPPort() const override { return FTCPPort; }
    int GetPortNumber() const override { return FPortNumber; }
    void SetPortNumber(int AValue) override { FPortNumber = AValue; }
    int GetBaudRate() const override { return FBaudRate; }

    bool Open = false;

private:
    std::vector<std::string>& FEvents;
    bool FTcp;
    int FConnectResult;
    bool& FDestroyed;
};

class TScriptedDriver : public TDriver {
public:
    explicit TScriptedDriver(TCreateKey AKey) : TDriver(AKey) {}

    TFakeLink* Link = nullptr;
    std::vector<std::string>* Events = nullptr;
    int ConnectResult = 0;
    int DevicesCreated = 0;
    bool LastDeviceDestroyed = false;

    TScriptedDevice* Scripted() const { return static_cast<TScriptedDevice*>(FDevice.get()); }
    void SetAutoCut(bool AValue) { FAutoCut = AValue; }
    void SetExtError(std::int32_t ACode, const std::string& AText) {
        FExtError = ACode;
        FExtErrorDescr = AText;
    }

protected:
    std::unique_ptr<TDevice> CreateDevice(bool ATcp) override {
        ++DevicesCreated;
        LastDeviceDestroyed = false;
        Events->push_back(ATcp ? "new tcp" : "new serial");
        return std::make_unique<TScriptedDevice>(Link, *Events, ATcp, ConnectResult, LastDeviceDestroyed);
    }
};

// A driver on a scripted link, a fake clock and a data folder of its own; the log is off unless
// a test turns it on.
class ScriptedDriverTest : public ::testing::Test {
protected:
    ScriptedDriverTest() {
        SetHostExeNameForTests("1cv8.exe");
        Driver = TBaseDriver::Create<TScriptedDriver>();
        Driver->Link = &Link;
        Driver->Events = &Events;
        Driver->SetClock(&Clock);
    }
    ~ScriptedDriverTest() override {
        Driver.reset();
        TLog::SetLogLevel(0);
        TLog::SetLogFileName("");
        SetHostExeNameForTests("");
    }
    void TearDown() override { EXPECT_TRUE(Link.Done()) << "commands expected but not sent"; }

    void Set(const char* AName, const TVariant& AValue) {
        ASSERT_TRUE(Driver->SetSettingValue(AName, AValue, true)) << AName;
    }
    void UseTcp() {
        Set("PortNumber", TVariant(9999));
        Set("IPAddress", TVariant("127.0.0.1"));
        Set("IPPort", TVariant(7778));
    }
    // The three commands of a successful enable: line length, auto-cut flag, line length again.
    void ExpectEnableCommands(std::uint8_t ALineLength, std::uint8_t AAutoCut) {
        ExpectLineLength(ALineLength);
        Link.Expect({0x1F}, Bytes({0x01, 0x01, 0x00, 0x07}), Bytes({0x00, AAutoCut}));
        ExpectLineLength(ALineLength);
    }
    // Over TCP GetLineLength connects again, and connecting queries the line length.
    void ExpectTcpEnableCommands(std::uint8_t ALineLength, std::uint8_t AAutoCut) {
        ExpectEnableCommands(ALineLength, AAutoCut);
        ExpectLineLength(ALineLength);
    }
    void ExpectLineLength(std::uint8_t ALineLength) {
        Link.Expect({0x1F}, Bytes({0x09, 0x01, 0x00, 0x03}), Bytes({0x00, ALineLength}));
    }
    std::int32_t Enable() { return Driver->Enable(); }

    TTempAppData Data;
    TFakeLink Link;
    TFakeClock Clock;
    std::vector<std::string> Events;
    std::unique_ptr<TScriptedDriver> Driver;
};

}  // namespace fr::test
