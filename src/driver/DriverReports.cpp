// TDriver's shift, cash, report, registration, FN and device-test operations: each runs its body
// (ReportOperations.h) in the operation frame.

#include "driver/Driver.h"
#include "driver/ReportOperations.h"
#include "framework/ErrorCodes.h"

namespace fr {
namespace {

// The driver's device and print helpers as the operation bodies see them.
class TDriverContext : public TOperationContext {
public:
    explicit TDriverContext(TDriver& ADriver) : FDriver(ADriver) {}
    TDevice& Device() override { return *FDriver.Device(); }
    std::int32_t CheckPrintState() override { return FDriver.CheckPrintState(); }
    std::int32_t WaitPrintCompletion() override { return FDriver.WaitPrintCompletion(); }
    void CutAfterDocument(bool ANoCut, bool ARespectAutoCut, std::int32_t ALineCount) override {
        FDriver.CutAfterDocument(ANoCut, ARespectAutoCut, ALineCount);
    }
    TDateTime Now() const override { return LocalNow(); }
    std::int32_t Reconnect() override { return FDriver.ConnectForOperation(); }
    void Note(const std::string& AText) override { FDriver.AddExtErrorDescr(AText); }
    TIntentKeeper* Intents() override { return &FDriver.Intents(); }

private:
    TDriver& FDriver;
};

// A report or cash operation: its fiscal document type (0: cash) and what tells a retry apart.
TIntent Draft(const char* AOperation, int ADocumentType, std::int64_t AContent = 0) {
    TIntent d;
    d.Operation = AOperation;
    d.DocumentType = ADocumentType;
    d.Fingerprint = TFingerprint().Add(AOperation).Add(ADocumentType).Add(AContent).Text();
    return d;
}

}  // namespace

std::int32_t TDriver::OpenShift(const std::string& ACashierName, const std::string& ACashierVATIN,
                                std::int64_t& ASessionNumber, std::int64_t& ADocumentNumber,
                                pugi::xml_document& AOutputParameters) {
    return RunOperation("OpenShift", [&] {
        if (const std::int32_t r = StartDocument(Draft("OpenShift", 2))) return r;
        TDriverContext c(*this);
        return OpenShiftBody(c, ACashierName, ACashierVATIN, ASessionNumber, ADocumentNumber, AOutputParameters);
    });
}

std::int32_t TDriver::CloseShift(const std::string& ACashierName, const std::string& ACashierVATIN,
                                 std::int64_t& ASessionNumber, std::int64_t& ADocumentNumber,
                                 pugi::xml_document& AOutputParameters) {
    return RunOperation("CloseShift", [&] {
        if (const std::int32_t r = StartDocument(Draft("CloseShift", 5))) return r;
        TDriverContext c(*this);
        return CloseShiftBody(c, ACashierName, ACashierVATIN, ASessionNumber, ADocumentNumber, AOutputParameters);
    });
}

std::int32_t TDriver::CashInOutcome(TCurrency AAmount, const std::string&, const std::string&) {
    return RunOperation("CashInOutcome", [&] {
        TIntent draft = Draft("CashInOutcome", 0, AAmount.Value);
        const auto kopecks = CurrencyToKopecks(AAmount.Value < 0 ? -AAmount.Value : AAmount.Value);
        draft.CashChange = kopecks ? (AAmount.Value < 0 ? -1 : 1) * static_cast<std::int64_t>(*kopecks) : 0;
        if (const std::int32_t r = StartDocument(draft)) return r;
        TDriverContext c(*this);
        return CashInOutcomeBody(c, AAmount.Value);
    });
}

std::int32_t TDriver::PrintXReport(const std::string&, const std::string&) {
    return RunOperation("PrintXReport", [&] {
        TDriverContext c(*this);
        return PrintXReportBody(c);
    });
}

std::int32_t TDriver::ReportCurrentStatusOfSettlements(const std::string& ACashierName,
                                                       const std::string& ACashierVATIN,
                                                       pugi::xml_document& AOutputParameters) {
    return RunOperation("ReportCurrentStatusOfSettlements", [&] {
        if (const std::int32_t r = StartDocument(Draft("ReportCurrentStatusOfSettlements", 21))) return r;
        TDriverContext c(*this);
        return ReportCurrentStatusOfSettlementsBody(c, ACashierName, ACashierVATIN, AOutputParameters);
    });
}

std::int32_t TDriver::OpenCashDrawer() {
    return RunOperation("OpenCashDrawer", [&] {
        TDriverContext c(*this);
        return OpenCashDrawerBody(c);
    });
}

std::int32_t TDriver::GetCurrentStatus(std::int64_t& ACheckNumber, std::int64_t& ASessionNumber,
                                       std::uint8_t& ASessionState, pugi::xml_document& AStatusParameters) {
    return RunOperation("GetCurrentStatus", [&] {
        TDriverContext c(*this);
        return GetCurrentStatusBody(c, ACheckNumber, ASessionNumber, ASessionState, AStatusParameters);
    });
}

std::int32_t TDriver::GetDataKKT(pugi::xml_document& ATableParametersKKT) {
    return RunOperation(
        "GetDataKKT",
        [&] {
            TDriverContext c(*this);
            return GetDataKKTBody(c, ATableParametersKKT, FDocElementList);
        },
        [this](std::int32_t) { FDocElementList.clear(); });
}

std::int32_t TDriver::OperationFN(std::uint8_t AOperationType, const pugi::xml_document& AParametersFiscal) {
    return RunOperation("OperationFN", [&] {
        // Registration, change of parameters, closing of the fiscal storage.
        static constexpr int kTypes[] = {0, 1, 11, 6};
        if (AOperationType >= 1 && AOperationType <= 3)
            if (const std::int32_t r = StartDocument(Draft("OperationFN", kTypes[AOperationType], AOperationType)))
                return r;
        TDriverContext c(*this);
        return OperationFNBody(c, AOperationType, AParametersFiscal);
    });
}

std::int32_t TDriver::DeviceTest(std::string& ADescription) {
    ADescription.clear();
    return RunOperation("DeviceTest", [&] {
        TDriverContext c(*this);
        return DeviceTestBody(c, ADescription);
    });
}

std::string TDriver::GetAdditionalActions() { return AdditionalActionsText(); }

std::int32_t TDriver::DoAdditionalAction(const std::string& AActionName) {
    return DoAdditionalActionResult(AActionName);
}

}  // namespace fr
