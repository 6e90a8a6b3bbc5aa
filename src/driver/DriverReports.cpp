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
    void KeepQuestionOpen(const std::string& AOperation, std::int64_t ANumberBefore) override {
        FDriver.KeepQuestionOpen(AOperation, ANumberBefore, -1, {});
    }

private:
    TDriver& FDriver;
};

}  // namespace

std::int32_t TDriver::OpenShift(const std::string& ACashierName, const std::string& ACashierVATIN,
                                std::int64_t& ASessionNumber, std::int64_t& ADocumentNumber,
                                pugi::xml_document& AOutputParameters) {
    return RunOperation("OpenShift", [&] {
        if (RefuseWhileQuestionOpen()) return errNoResponse;
        TDriverContext c(*this);
        return OpenShiftBody(c, ACashierName, ACashierVATIN, ASessionNumber, ADocumentNumber, AOutputParameters);
    });
}

std::int32_t TDriver::CloseShift(const std::string& ACashierName, const std::string& ACashierVATIN,
                                 std::int64_t& ASessionNumber, std::int64_t& ADocumentNumber,
                                 pugi::xml_document& AOutputParameters) {
    return RunOperation("CloseShift", [&] {
        if (RefuseWhileQuestionOpen()) return errNoResponse;
        TDriverContext c(*this);
        return CloseShiftBody(c, ACashierName, ACashierVATIN, ASessionNumber, ADocumentNumber, AOutputParameters);
    });
}

std::int32_t TDriver::CashInOutcome(TCurrency AAmount, const std::string&, const std::string&) {
    return RunOperation("CashInOutcome", [&] {
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
