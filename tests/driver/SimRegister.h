#pragma once
// The simulated register served over TCP loopback or a pseudo-terminal, with a real device on the
// other end, and a document environment whose print helpers are the plain device waits.

#include <memory>
#include <string>

#include "core/Simulator.h"
#include "device/ComDevice.h"
#include "device/SocketDevice.h"
#include "driver/DocumentOperations.h"
#include "driver/Driver.h"
#include "framework/Variant.h"
#include "platform/TempDir.h"
#include "transport/LinkTimings.h"

namespace fr::test {

enum class TSimLink { Tcp, Pty };

inline const char* SimLinkName(TSimLink ALink) { return ALink == TSimLink::Tcp ? "Tcp" : "Pty"; }

// Points a driver's settings at the simulator: a TCP port of its own, or a pseudo-terminal behind
// COM<AComNumber> (made in the current data folder).
template <class TDriverT>
void ServeDriver(sim::TSimulator& ASim, TDriverT& ADriver, TSimLink ALink, int AComNumber) {
    if (ALink == TSimLink::Tcp) {
        const std::uint16_t port = ASim.StartTcp(0);
        ADriver.SetSettingValue("PortNumber", TVariant(kTcpPortNumber), true);
        ADriver.SetSettingValue("IPAddress", TVariant("127.0.0.1"), true);
        ADriver.SetSettingValue("IPPort", TVariant(static_cast<std::int32_t>(port)), true);
    } else {
        ASim.StartPty(AComNumber);
        ADriver.SetSettingValue("PortNumber", TVariant(AComNumber), true);
        ADriver.SetSettingValue("BaudRate", TVariant(115200), true);
    }
}

// A fiscal register with an open shift, connected. The COM link lives in a temporary data folder.
class TSimRegister {
public:
    static constexpr int kComNumber = 77;

    explicit TSimRegister(TSimLink ALink) {
        Sim.SetFiscal(true);
        Sim.OpenShift();
        if (ALink == TSimLink::Tcp) {
            FPort = Sim.StartTcp(0);
            Device = std::make_unique<TSocketDevice>();
        } else {
            Sim.StartPty(kComNumber);
            Device = std::make_unique<TComDevice>();
        }
        Device->SetConnectPwd(IntToLEBytes(4, 30));
    }
    // Connects as the driver's Open does; 0 on success.
    int Connect() {
        return FPort ? Device->Enable("127.0.0.1", FPort) : Device->Enable(kComNumber, 115200);
    }

    TTempAppData Data;  // first: the COM link is made inside it
    sim::TSimulator Sim;
    std::unique_ptr<TDevice> Device;

private:
    std::uint16_t FPort = 0;
};

// The print helpers without paper handling: enough for a register that always has paper.
class TPlainEnvironment : public TDocumentEnvironment {
public:
    explicit TPlainEnvironment(TDevice& ADevice) : FDevice(ADevice) {}
    TDevice& Device() override { return FDevice; }
    int LineLength() const override { return FDevice.GetLineLen(); }
    bool PrintSignObjAndMethod() const override { return true; }
    std::string CutMarker() const override { return "[CUT]"; }
    std::int32_t CheckPrintState() override {
        TBytes flags;
        std::uint8_t mode = 0, submode = 0;
        FDevice.GetECRState(flags, mode, submode);
        return 0;
    }
    std::int32_t WaitPrintCompletion() override { return FDevice.WaitForEndPrinting(); }
    void CutAfterDocument(bool ANoCut, bool, std::int32_t ALineCount) override {
        if (ANoCut) return;
        if (ALineCount == -1) FDevice.Cut(false);
        else FDevice.FeedAndCut(static_cast<std::uint8_t>(ALineCount));
    }

private:
    TDevice& FDevice;
};

// The command time-out of QuickTimings; a late answer comes after twice that.
inline constexpr int kCommandMs = 60;

// Link time constants short enough for matrices of faults.
inline TLinkTimings QuickTimings() {
    TLinkTimings quick;
    quick.HandshakeTimeoutMs = 30;
    quick.InterByteTimeoutMs = 20;
    quick.PerByteTotalTimeoutMs = 100;
    quick.ReceiveTimeoutMs = 30;
    quick.InquiryBudgetMs = 150;
    quick.ResendWaitMs = 20;
    quick.CommandTimeoutCapMs = kCommandMs;
    return quick;
}

// A sale of ACount positions with mixed rates, a discount and a marking code on the first.
inline std::string SalePackage(int ACount) {
    std::string positions;
    const char* taxes[] = {"20", "10", "none", "0", "20/120"};
    for (int i = 0; i < ACount; ++i) {
        positions += "<FiscalString Name=\"Товар " + std::to_string(i + 1) +
                     "\" Quantity=\"1\" PriceWithDiscount=\"10\" SumWithDiscount=\"10\" DiscountSum=\"" +
                     (i == 0 ? "1" : "0") + "\" TaxSum=\"1\" Tax=\"" + taxes[i % 5] +
                     "\" Department=\"1\" SignMethodCalculation=\"4\" SignCalculationObject=\"1\">";
        if (i == 0) positions += R"(<GoodCodeData StampType="02" Stamp="ABC123" GTIN="4601234567893"/>)";
        positions += "</FiscalString>";
    }
    return R"(<CheckPackage><Parameters PaymentType="1" TaxVariant="0" CashierName="Иванов И.И." CashierVATIN="123456789012"/>)"
           "<Positions>" + positions + "</Positions><Payments Cash=\"" + std::to_string(ACount * 10) +
           "\"/></CheckPackage>";
}

}  // namespace fr::test
