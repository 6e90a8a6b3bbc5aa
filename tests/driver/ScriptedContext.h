#pragma once
// An operation context on a scripted register: the device talks to a TFakeLink, and the print
// helpers only record that they were called (their own behaviour is tested with the driver).

#include <string>
#include <vector>

#include <fmt/format.h>

#include "device/FakeLink.h"
#include "driver/ReportOperations.h"

namespace fr::test {

class TScriptedContext : public TOperationContext {
public:
    explicit TScriptedContext(TLinkProtocol* ALink) : FDevice(ALink) {}
    TDevice& Device() override { return FDevice; }
    std::int32_t CheckPrintState() override {
        Calls.push_back("CheckPrintState");
        return CheckPrintResult;
    }
    std::int32_t WaitPrintCompletion() override {
        Calls.push_back("WaitPrintCompletion");
        return WaitPrintResult;
    }
    void CutAfterDocument(bool ANoCut, bool ARespectAutoCut, std::int32_t ALineCount) override {
        Calls.push_back(fmt::format("Cut({},{},{})", ANoCut, ARespectAutoCut, ALineCount));
    }
    TDateTime Now() const override { return NowValue; }

    std::vector<std::string> Calls;
    std::int32_t CheckPrintResult = 0;
    std::int32_t WaitPrintResult = 0;
    TDateTime NowValue = *TryEncodeDateTime({2026, 12, 31, 23, 59, 58});

private:
    TDevice FDevice;
};

// A device on a scripted link and a recording context, with the factory password.
class ScriptedOperationTest : public ::testing::Test {
protected:
    ScriptedOperationTest() : Context(&Link) {
        Context.Device().SetConnectPwd(IntToLEBytes(4, 30));
        Context.Device().SetClock(&Clock);
    }
    void TearDown() override { EXPECT_TRUE(Link.Done()) << "commands expected but not sent"; }

    // Full state (0x11) with the given mode byte, 48 bytes.
    void ExpectFullState(std::uint8_t AMode) {
        TBytes a(48, 0);
        a[14] = AMode;
        Link.Expect({0x11}, TBytes{}, a);
    }
    // UnlockDataOutputMode on a register not giving out a document.
    void ExpectUnlockIdle() { ExpectFullState(4); }
    // GetCurrentSessionParams: wait for printing, then 0xFF 0x40.
    void ExpectSessionParams(std::uint8_t AState, std::uint16_t ASession, std::uint16_t AReceipt) {
        Link.ExpectIdle();
        Link.Expect({0xFF, 0x40}, TBytes{},
                    {0, AState, static_cast<std::uint8_t>(ASession), static_cast<std::uint8_t>(ASession >> 8),
                     static_cast<std::uint8_t>(AReceipt), static_cast<std::uint8_t>(AReceipt >> 8)});
    }
    // FN status with a life state, warning flags and last document number (31 bytes).
    void ExpectFNStatus(std::uint8_t ALife, std::uint8_t AWarnings, std::uint32_t ADoc) {
        TBytes a(31, 0);
        a[1] = ALife;
        a[5] = AWarnings;
        const TBytes doc = IntToLEBytes(4, ADoc);
        std::copy(doc.begin(), doc.end(), a.begin() + 27);
        Link.Expect({0xFF, 0x01}, TBytes{}, a);
    }
    // Exchange status: count, first number, date 2026-12-09 10:15.
    void ExpectExchange(std::uint16_t ACount, std::uint32_t AFirst) {
        TBytes a(14, 0);
        a[3] = static_cast<std::uint8_t>(ACount);
        a[4] = static_cast<std::uint8_t>(ACount >> 8);
        const TBytes n = IntToLEBytes(4, AFirst);
        std::copy(n.begin(), n.end(), a.begin() + 5);
        a[9] = 26, a[10] = 12, a[11] = 9, a[12] = 10, a[13] = 15;
        Link.Expect({0xFF, 0x39}, TBytes{}, a);
    }
    void ExpectOperationRegister(std::uint8_t ARegister, std::uint16_t AValue) {
        Link.Expect({0x1B}, TBytes{ARegister},
                    {0, 1, ARegister, static_cast<std::uint8_t>(AValue), static_cast<std::uint8_t>(AValue >> 8)});
    }
    void ExpectRequisite(std::int32_t ATag, const TBytes& AValue, TBytes AAnswer = Ok()) {
        Link.Expect({0xFF, 0x0C}, SetTLV(ATag, AValue), std::move(AAnswer));
    }

    TFakeLink Link;
    TFakeClock Clock;
    TScriptedContext Context;
};

}  // namespace fr::test
