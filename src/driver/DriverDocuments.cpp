// TDriver: receipts, correction receipts and text documents. The bodies live in
// DocumentOperations.cpp; here they get the driver's device and print helpers and run in the
// operation frame, whose completion cancels an unfinished receipt and appends the side channels.

#include <functional>

#include <fmt/format.h>

#include "driver/DocumentOperations.h"
#include "driver/DocumentRecovery.h"
#include "driver/Driver.h"
#include "driver/PackageValues.h"
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
    TIntentKeeper* Intents() override { return &FDriver.Intents(); }

private:
    TDriver& FDriver;
};

pugi::xml_node RootOf(const pugi::xml_document& ADocument) {
    for (pugi::xml_node n = ADocument.first_child(); n; n = n.next_sibling())
        if (n.type() == pugi::node_element) return n;
    return {};
}

// What identifies a receipt: its type, settlement sign, total and positions, to find it in the
// fiscal storage; and the fingerprint of what makes the sale (type, each position's name,
// quantity, price and sum, the payments), to recognise a retry whoever the cashier and in whatever
// order the attributes come.
TIntent ReceiptDraft(const pugi::xml_document& APackage) {
    TIntent d;
    d.Operation = "ProcessCheck";
    d.DocumentType = 3;
    const pugi::xml_node root = RootOf(APackage);
    const std::int64_t paymentType = AttrInt(FirstChildElement(root, "Parameters"), "PaymentType", 0);
    d.SettlementSign = paymentType >= 1 && paymentType <= 4 ? static_cast<int>(paymentType) : 0;
    TFingerprint f;
    f.Add(d.Operation).Add(paymentType);
    std::int64_t total = 0;
    bool known = true;
    const pugi::xml_node positions = FirstChildElement(root, "Positions");
    for (pugi::xml_node p = positions.first_child(); p; p = p.next_sibling()) {
        if (p.type() != pugi::node_element || std::string_view(p.name()) != "FiscalString") continue;
        const std::string name = AttrText(p, "Name");
        const auto quantity = QuantityToMillionths(AttrNumber(p, "Quantity"));
        const auto sum = CurrencyToKopecks(AttrMoney(p, "SumWithDiscount"));
        const TCurrencyValue price = AttrMoney(p, "PriceWithDiscount");
        f.Add(name).Add(static_cast<std::int64_t>(quantity.value_or(0))).Add(price).Add(static_cast<std::int64_t>(sum.value_or(0)));
        if (!quantity || !sum) {
            known = false;
            continue;
        }
        d.Positions.push_back({name, *quantity, *sum});
        total += static_cast<std::int64_t>(*sum);
    }
    d.Total = known ? total : -1;
    if (!known) d.Positions.clear();
    const pugi::xml_node payments = FirstChildElement(root, "Payments");
    for (const char* kind : {"Cash", "ElectronicPayment", "AdvancePayment", "Credit", "CashProvision"})
        f.Add(AttrMoney(payments, kind));
    d.Fingerprint = f.Text();
    return d;
}

TIntent CorrectionDraft(const pugi::xml_document& APackage) {
    TIntent d;
    d.Operation = "ProcessCorrectionCheck";
    d.DocumentType = 31;
    const pugi::xml_node root = RootOf(APackage);
    const pugi::xml_node params = FirstChildElement(root, "Parameters");
    const std::int64_t paymentType = AttrInt(params, "PaymentType", 0);
    d.SettlementSign = paymentType >= 1 && paymentType <= 4 ? static_cast<int>(paymentType) : 0;
    const auto sum = CurrencyToKopecks(AttrMoney(params, "Sum"));
    d.Total = sum ? static_cast<std::int64_t>(*sum) : -1;
    TFingerprint f;
    f.Add(d.Operation);
    for (const char* name : {"PaymentType", "CorrectionType", "TaxVariant", "CorrectionBaseName", "CorrectionBaseDate",
                             "CorrectionBaseNumber"})
        f.Add(AttrText(params, name));
    for (const char* name : {"Sum", "SumTAX20", "SumTAX18", "SumTAX10", "SumTAX0", "SumTAXNone", "SumTAX120",
                             "SumTAX118", "SumTAX110"})
        f.Add(AttrMoney(params, name));
    const pugi::xml_node payments = FirstChildElement(root, "Payments");
    for (const char* kind : {"Cash", "ElectronicPayment", "AdvancePayment", "Credit", "CashProvision"})
        f.Add(AttrMoney(payments, kind));
    d.Fingerprint = f.Text();
    return d;
}

}  // namespace

// A receipt and a correction share their frame: the fiscal sign and the address are emptied on
// entry, the completion cancels what is left open and hands the side channels to the result text.
// The document's intent is recorded before its final command; a retry of a document that turned out
// registered without its call being told is answered with that document's numbers instead.
std::int32_t TDriver::RunReceiptOperation(const char* AName, bool ACancelAlways, const TIntent& ADraft,
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
            if (const std::int32_t r = StartDocument(ADraft)) {
                side.ExtErrorDescr = kTextUnknown;
                return r;
            }
            if (const auto number = Intents().Retried()) {
                out.CheckNumber = *number;
                out.FiscalSign = LastIntent()->FiscalSign;
                return FinishRetriedDocument(env, AName, out);
            }
            return ABody(env, out, side);
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
    return RunReceiptOperation("ProcessCheck", true, ReceiptDraft(ACheckPackage), ACheckNumber, ASessionNumber, AFiscalSign,
                               AAddressSiteInspections, [&](TDocumentEnvironment& env, TReceiptOutputs& out,
                                                            TSideChannels& side) {
                                   return ProcessCheckBody(env, FTaxValues, AElectronically, ACheckPackage, out,
                                                           side);
                               });
}

std::int32_t TDriver::ProcessCorrectionCheck(const pugi::xml_document& ACheckCorrectionPackage,
                                             std::int64_t& ACheckNumber, std::int64_t& ASessionNumber,
                                             std::string& AFiscalSign, std::string& AAddressSiteInspections) {
    return RunReceiptOperation("ProcessCorrectionCheck", false, CorrectionDraft(ACheckCorrectionPackage), ACheckNumber, ASessionNumber, AFiscalSign,
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
