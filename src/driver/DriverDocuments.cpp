// TDriver: receipts, correction receipts and text documents. The bodies live in
// DocumentOperations.cpp; here they get the driver's device and print helpers and run in the
// operation frame, whose completion cancels an unfinished receipt and appends the side channels.

#include <functional>

#include <fmt/format.h>

#include "driver/DocumentOperations.h"
#include "driver/DocumentRecovery.h"
#include "driver/Driver.h"
#include "framework/ErrorCodes.h"
#include "platform/Encoding.h"
#include "platform/Xml.h"

namespace fr {

namespace {

// The driver as the bodies see it. Only built inside the frame, after ConnectForOperation has
// made sure a device exists.
class TDriverDocumentEnvironment : public TDocumentEnvironment {
public:
    explicit TDriverDocumentEnvironment(TDriver& ADriver) : FDriver(ADriver) {}
    TDevice& Device() override { return *FDriver.Device(); }
    int LineLength() const override { return FDriver.LineLen(); }
    bool PrintSignObjAndMethod() const override { return FDriver.PrintSignObjAndMethod(); }
    std::string CutMarker() const override { return FDriver.CutMarker(); }
    std::int32_t CheckPrintState() override { return FDriver.CheckPrintState(); }
    std::int32_t WaitPrintCompletion() override { return FDriver.WaitPrintCompletion(); }
    void CutAfterDocument(bool ANoCut, bool ARespectAutoCut, std::int32_t ALineCount) override {
        FDriver.CutAfterDocument(ANoCut, ARespectAutoCut, ALineCount);
    }
    std::int32_t Reconnect() override { return FDriver.ConnectForOperation(); }

private:
    TDriver& FDriver;
};

// The key that matches a retried document with its unsettled predecessor: its package's text.
std::string PackageKey(const pugi::xml_document& APackage) {
    return fmt::format("{:016x}", std::hash<std::string>{}(XmlDocumentText(APackage)));
}

}  // namespace

// A receipt and a correction share their frame: the fiscal sign and the address are emptied on
// entry, the completion cancels what is left open and hands the side channels to the result text.
// A document whose outcome could not be found out leaves an open question; a document with the
// same package found registered later is answered with that document's numbers instead of a new one.
std::int32_t TDriver::RunReceiptOperation(const char* AName, bool ACancelAlways, const std::string& APackageKey,
                                          std::int64_t& ACheckNumber, std::int64_t& ASessionNumber,
                                          std::string& AFiscalSign, std::string& AAddressSiteInspections,
                                          const TReceiptBody& ABody) {
    AFiscalSign.clear();
    AAddressSiteInspections.clear();
    TReceiptOutputs out{ACheckNumber, ASessionNumber, {}, {}};
    TSideChannels side;
    const std::int32_t result = RunOperation(
        AName,
        [&]() -> std::int32_t {
            TDriverDocumentEnvironment env(*this);
            if (!APackageKey.empty()) {
                if (const auto earlier = TakeRecoveredReceipt(APackageKey)) {
                    out.CheckNumber = earlier->Number;
                    out.FiscalSign = earlier->FiscalSign;
                    std::uint8_t state = 0;
                    std::int64_t receipt = 0;
                    const std::int32_t r = FDevice->GetCurrentSessionParams(state, out.SessionNumber, receipt);
                    TBytes site;
                    if (r == 0 && FDevice->GetFieldAsStr(kSiteTable, kSiteRow, kSiteField, site) == 0)
                        out.AddressSiteInspections = SingleByteToUtf8(TrimBytes(site));
                    return r;
                }
            }
            // While an earlier document's fate is unknown, a new one would take the number the
            // question is about.
            if (QuestionOpen()) {
                side.ExtErrorDescr = kTextUnknown;
                return errNoResponse;
            }
            const std::int32_t r = ABody(env, out, side);
            if (out.OutcomeUnknown) KeepQuestionOpen(AName, out.NumberBefore, out.Total, APackageKey);
            return r;
        },
        [&](std::int32_t AResult) {
            // After a successful close there is nothing open and the cancel changes nothing.
            if ((ACancelAlways || AResult != 0) && FDevice) FDevice->CancelReceipt();
            FExtError = side.ExtError;
            FExtErrorDescr = side.ExtErrorDescr;
        });
    ACheckNumber = out.CheckNumber;
    ASessionNumber = out.SessionNumber;
    AFiscalSign = out.FiscalSign;
    AAddressSiteInspections = out.AddressSiteInspections;
    return result;
}

std::int32_t TDriver::ProcessCheck(bool AElectronically, const pugi::xml_document& ACheckPackage,
                                   std::int64_t& ACheckNumber, std::int64_t& ASessionNumber,
                                   std::string& AFiscalSign, std::string& AAddressSiteInspections) {
    return RunReceiptOperation("ProcessCheck", true, PackageKey(ACheckPackage), ACheckNumber, ASessionNumber, AFiscalSign,
                               AAddressSiteInspections, [&](TDocumentEnvironment& env, TReceiptOutputs& out,
                                                            TSideChannels& side) {
                                   return ProcessCheckBody(env, FTaxValues, AElectronically, ACheckPackage, out,
                                                           side);
                               });
}

std::int32_t TDriver::ProcessCorrectionCheck(const pugi::xml_document& ACheckCorrectionPackage,
                                             std::int64_t& ACheckNumber, std::int64_t& ASessionNumber,
                                             std::string& AFiscalSign, std::string& AAddressSiteInspections) {
    return RunReceiptOperation("ProcessCorrectionCheck", false, PackageKey(ACheckCorrectionPackage), ACheckNumber, ASessionNumber, AFiscalSign,
                               AAddressSiteInspections, [&](TDocumentEnvironment& env, TReceiptOutputs& out,
                                                            TSideChannels& side) {
                                   return ProcessCorrectionCheckBody(env, ACheckCorrectionPackage, out, side);
                               });
}

std::int32_t TDriver::PrintTextDocument(const pugi::xml_document& ADocumentPackage) {
    return RunOperation("PrintTextDocument", [&] {
        TDriverDocumentEnvironment env(*this);
        return PrintTextDocumentBody(env, ADocumentPackage);
    });
}

}  // namespace fr
