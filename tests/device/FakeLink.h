#pragma once
// A link that plays a script: each command the device sends is checked against the next expected
// step and answered with that step's canned answer.

#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "device/Codec.h"
#include "device/Device.h"
#include "transport/LinkProtocol.h"

namespace fr::test {

// The message the link puts on the wire: code, password when asked, data.
struct TSentCommand {
    TBytes Cmd;
    TBytes Data;
    int Timeout = 0;
    bool SendPwd = true;
    TBytes Message;
};

struct TStep {
    TBytes Cmd;
    std::optional<TBytes> Data;  // unchecked when empty
    TBytes Answer;               // result code first
    int LinkResult = 0;
    std::optional<int> Timeout;  // unchecked when empty
};

class TFakeLink : public TLinkProtocol {
public:
    // Expects ACmd (with AData when given) and answers AAnswer.
    TFakeLink& Expect(TBytes ACmd, std::optional<TBytes> AData, TBytes AAnswer, std::optional<int> ATimeout = {}) {
        FSteps.push_back({std::move(ACmd), std::move(AData), std::move(AAnswer), 0, ATimeout});
        return *this;
    }
    // Expects ACmd and fails at the link level.
    TFakeLink& ExpectLinkFailure(TBytes ACmd, int AResult) {
        FSteps.push_back({std::move(ACmd), std::nullopt, {}, AResult, std::nullopt});
        return *this;
    }
    // A short-state answer with the given mode and submode, 16 bytes long.
    TFakeLink& ExpectState(std::uint8_t AMode, std::uint8_t ASubmode) {
        TBytes answer(16, 0);
        answer[4] = AMode;
        answer[5] = ASubmode;
        return Expect({0x10}, TBytes{}, answer);
    }
    TFakeLink& ExpectIdle() { return ExpectState(0, 0); }

    int RunCommand(TBytes& AResponse, const TBytes& AConnectPwd, const TBytes& ACmd, const TBytes& AData,
                   int ATimeout, bool ASendPwd, bool AWaitResponse) override {
        EXPECT_TRUE(AWaitResponse);
        TSentCommand sent{ACmd, AData, ATimeout, ASendPwd, ACmd};
        if (ASendPwd) sent.Message.insert(sent.Message.end(), AConnectPwd.begin(), AConnectPwd.end());
        sent.Message.insert(sent.Message.end(), AData.begin(), AData.end());
        Sent.push_back(sent);
        AResponse.clear();
        if (FSteps.empty()) {
            ADD_FAILURE() << "unexpected command " << BytesToHexText(ACmd) << " data " << BytesToHexText(AData);
            return 1007;
        }
        TStep step = FSteps.front();
        FSteps.pop_front();
        EXPECT_EQ(BytesToHexText(ACmd), BytesToHexText(step.Cmd)) << "command #" << Sent.size();
        if (step.Data) {
            EXPECT_EQ(BytesToHexText(AData), BytesToHexText(*step.Data)) << " data of command " << BytesToHexText(ACmd);
        }
        if (step.Timeout) {
            EXPECT_EQ(ATimeout, *step.Timeout) << "time-out of command " << BytesToHexText(ACmd);
        }
        if (step.LinkResult != 0) return step.LinkResult;
        AResponse = step.Answer;
        return 0;
    }

    bool Done() const { return FSteps.empty(); }
    std::vector<TSentCommand> Sent;

private:
    std::deque<TStep> FSteps;
};

// A clock that advances only when slept on.
class TFakeClock : public TDeviceClock {
public:
    std::chrono::steady_clock::time_point Now() const override { return FNow; }
    void Sleep(std::chrono::milliseconds ADuration) override {
        Sleeps.push_back(ADuration);
        FNow += ADuration;
    }
    std::vector<std::chrono::milliseconds> Sleeps;

private:
    std::chrono::steady_clock::time_point FNow{};
};

// A device on a scripted link with the factory password 30 and a fake clock.
class DeviceTest : public ::testing::Test {
protected:
    DeviceTest() : Device(&Link) {
        Device.SetConnectPwd(IntToLEBytes(4, 30));
        Device.SetClock(&Clock);
    }
    void TearDown() override { EXPECT_TRUE(Link.Done()) << "commands expected but not sent"; }

    TFakeLink Link;
    TFakeClock Clock;
    TDevice Device;
};

inline TBytes Bytes(std::initializer_list<std::uint8_t> b) { return TBytes(b); }
inline TBytes Ok() { return TBytes{0x00}; }

}  // namespace fr::test
