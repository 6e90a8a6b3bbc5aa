#include "driver/DocumentOperations.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>

#include <fmt/format.h>

#include "driver/DocumentRecovery.h"
#include "driver/PackageValues.h"
#include "driver/ReceiptLines.h"
#include "driver/Requisites.h"
#include "framework/ErrorCodes.h"
#include "framework/Log.h"
#include "platform/Encoding.h"
#include "platform/TextCase.h"
#include "platform/Xml.h"

namespace fr {
namespace {

constexpr const char* kLogCaption = "TDriver";
constexpr int kTaxGroups = 6;
// Tax systems are bits of one byte.
constexpr std::int64_t kMaxTaxVariant = 7;

// The root element of a parsed document (or the node itself when it is an element).
pugi::xml_node RootElement(const pugi::xml_node& ADocument) {
    if (ADocument.type() == pugi::node_element) return ADocument;
    for (pugi::xml_node child = ADocument.first_child(); child; child = child.next_sibling())
        if (child.type() == pugi::node_element) return child;
    return {};
}

bool Named(const pugi::xml_node& ANode, const char* AName) { return std::strcmp(ANode.name(), AName) == 0; }

// The register's receipt type of the host's calculation sign, or -1.
int ReceiptTypeOf(std::int64_t APaymentType) {
    switch (APaymentType) {
        case 1: return 0;  // sale
        case 2: return 2;  // sale return
        case 3: return 1;  // purchase
        case 4: return 3;  // purchase return
        default: return -1;
    }
}

std::int32_t ShiftState(TDevice& ADevice) {
    std::uint8_t state = 0;
    const int r = ADevice.IsDayOpened(state);
    if (r != 0) return r;
    if (state == 1) return 0;
    return state == 2 ? errShiftExpired : errShiftClosed;
}

std::int32_t PrintBarcode(TDevice& ADevice, const pugi::xml_node& ABarcode) {
    const std::string type = AttrText(ABarcode, "BarcodeType");
    if (type == "EAN8" || type == "CODE39") return errNotSupported;
    if (type == "EAN13") return ADevice.PrintEAN13(AttrText(ABarcode, "Barcode"));
    if (type == "QR") return ADevice.PrintQRCode(Ansi(AttrText(ABarcode, "Barcode")));
    return 0;
}

std::u16string Folded(std::string_view AText) {
    std::u16string text = Utf8ToUtf16(AText);
    for (char16_t& c : text) c = FoldCase(c);
    return text;
}

// The shift number and the site address of a registered document, read after a link failure once
// more on a fresh link. 0 or the failure, logged: the document exists whatever happens here.
std::int32_t ReadDocumentDetails(TDocumentEnvironment& AEnv, const char* AOperation, TReceiptOutputs& AOut,
                                 bool AWaitPrint) {
    TDevice& device = AEnv.Device();
    const auto finish = [&] {
        std::int32_t r = AWaitPrint ? AEnv.WaitPrintCompletion() : 0;
        // Out of paper the register still answers these queries: the outputs are read anyway.
        constexpr std::int32_t kPrintGivenUp = 3027;  // the print wait's own refusal
        const std::int32_t printed = r == kPrintGivenUp ? r : 0;
        if (printed != 0) r = 0;
        if (r == 0) {
            std::uint8_t fnState = 0;
            std::int64_t session = 0, receipt = 0;
            r = device.GetCurrentSessionParams(fnState, session, receipt);
            if (r == 0) AOut.SessionNumber = session;
        }
        if (r == 0) {
            TBytes site;
            r = device.GetFieldAsStr(kSiteTable, kSiteRow, kSiteField, site);
            if (r == 0) AOut.AddressSiteInspections = SingleByteToUtf8(TrimBytes(site));
        }
        return r != 0 ? r : printed;
    };
    const std::int32_t r = QueryOnFreshLinkAfterFailure(finish, [&](std::int32_t AFailure) {
        TLog::Append(kLogCaption,
                     fmt::format("{}: the link failed with [{}] after the register fiscalised the document (ФД {}); "
                                 "reading the rest on a fresh link",
                                 AOperation, AFailure, AOut.CheckNumber),
                     TLog::mtError);
        return AEnv.Reconnect();
    });
    if (r != 0)
        TLog::Append(kLogCaption,
                     fmt::format("WARNING: {}: the register fiscalised the document (ФД {}, ФП {}) but a later step "
                                 "failed with [{}]; reported as registered",
                                 AOperation, AOut.CheckNumber, AOut.FiscalSign, r),
                     TLog::mtError);
    return r;
}

// After the register has fiscalised the document: wait for the print, read the shift number and
// the site address, cut. The document exists with its number and fiscal sign, so a failure here
// is logged and the call still succeeds: reported as failed, the document would be registered
// again by the cashier's retry.
std::int32_t FinishFiscalDocument(TDocumentEnvironment& AEnv, const char* AOperation, TReceiptOutputs& AOut) {
    if (ReadDocumentDetails(AEnv, AOperation, AOut, true) == 0) AEnv.CutAfterDocument(false, true, -1);
    return 0;
}

std::int32_t CloseFiscalDocument(TDocumentEnvironment& AEnv, const char* ADocumentName,
                                 const std::function<std::int32_t(std::string&, std::int64_t&)>& AClose,
                                 const std::function<bool()>& AStillOpen, TReceiptOutputs& AOut,
                                 TSideChannels& ASide) {
    TFinalCommand final;
    final.DocumentName = ADocumentName;
    final.ExpectedTotal = AOut.Total;
    final.Reconnect = [&] { return AEnv.Reconnect(); };
    final.Close = AClose;
    final.StillOpen = AStillOpen;
    final.Intents = AEnv.Intents();
    const std::int32_t r = RunFinalCommand(AEnv.Device(), final);
    if (!final.Text.empty()) ASide.ExtErrorDescr = final.Text;
    if (r == 0) {
        AOut.CheckNumber = final.Number;
        AOut.FiscalSign = final.FiscalSign;
    }
    return r;
}

// One "FiscalString": item, requisites, printout.
std::int32_t RegisterPosition(TDocumentEnvironment& AEnv, const TTaxValues& ATaxValues, std::int64_t APaymentType,
                              const pugi::xml_node& APosition, std::array<TCurrencyValue, kTaxGroups>& ATotals,
                              TSideChannels& ASide) {
    TDevice& device = AEnv.Device();
    const pugi::xml_node agentData = FirstChildElement(APosition, "AgentData");
    const pugi::xml_node purveyorData = FirstChildElement(APosition, "PurveyorData");
    const pugi::xml_node goodCodeData = FirstChildElement(APosition, "GoodCodeData");

    const std::int64_t object = AttrInt(APosition, "SignCalculationObject", -1);
    const std::int64_t method = AttrInt(APosition, "SignMethodCalculation", -1);
    const std::int64_t signAgent = AttrInt(APosition, "SignSubjectCalculationAgent", kNoAgentSign);
    if (object < 1 || object > kCalculationObjectCount) return errObjectRange;
    if (method < 1 || method > kCalculationMethodCount) return errMethodRange;

    TPositionPrint print;
    print.Name = AttrText(APosition, "Name");
    print.Price = AttrMoney(APosition, "PriceWithDiscount");
    print.Quantity = AttrNumber(APosition, "Quantity");
    print.Sum = AttrMoney(APosition, "SumWithDiscount");
    const auto department = static_cast<std::uint8_t>(AttrInt(APosition, "Department", 0));
    print.Department = department;
    print.DiscountSum = AttrMoney(APosition, "DiscountSum");
    const TCurrencyValue taxSum = AttrMoney(APosition, "TaxSum");
    print.Method = static_cast<int>(method);
    print.Object = static_cast<int>(object);
    print.PrintMethodAndObject = AEnv.PrintSignObjAndMethod();

    const int taxID = ATaxValues.IDOfTax(AttrText(APosition, "Tax"));
    const int group = TaxGroupOfID(taxID);
    if (group != 0) {
        TCurrencyValue& total = ATotals[static_cast<std::size_t>(group - 1)];
        if (__builtin_add_overflow(total, taxSum, &total)) return errInvalidParameter;
    }

    std::int32_t r = device.RegisterItem(static_cast<std::uint8_t>(APaymentType), print.Quantity, print.Price,
                                         print.Sum, taxSum, TaxByteOfGroup(group), department,
                                         static_cast<std::uint8_t>(method), static_cast<std::uint8_t>(object),
                                         Ansi(print.Name));
    if (r != 0) return r;
    r = SendPositionRequisites(device, APosition, goodCodeData);
    if (r != 0) return r;
    r = SendPositionAgentRequisites(device, signAgent, agentData, purveyorData, ASide.ExtErrorDescr);
    if (r != 0) return r;

    // The printout is a courtesy: a refused line does not stop the receipt.
    const int width = AEnv.LineLength();
    for (const TBytes& line : PositionLines(print, width)) device.PrintString(line);
    if (group != 0) device.PrintString(JustifyLine(Ansi(TaxCaption(device, taxID)), {}, width));
    return 0;
}

// The receipt's total in kopecks as the register sums it: the positions' sums; -1 when one does
// not fit.
std::int64_t ReceiptTotal(const pugi::xml_node& APositions) {
    std::int64_t total = 0;
    for (pugi::xml_node child = APositions.first_child(); child; child = child.next_sibling()) {
        if (child.type() != pugi::node_element || !Named(child, "FiscalString")) continue;
        const auto kopecks = CurrencyToKopecks(AttrMoney(child, "SumWithDiscount"));
        if (!kopecks) return -1;
        total += static_cast<std::int64_t>(*kopecks);
    }
    return total;
}

// Money attributes of a position, of the payments and of a correction.
constexpr const char* kPositionAmounts[] = {"PriceWithDiscount", "SumWithDiscount", "DiscountSum", "TaxSum",
                                            "ExciseAmount"};
constexpr const char* kPaymentAmounts[] = {"Cash", "ElectronicPayment", "AdvancePayment", "Credit", "CashProvision"};
constexpr const char* kCorrectionAmounts[] = {"Sum",      "SumTAX20",  "SumTAX18",   "SumTAX120", "SumTAX118",
                                              "SumTAX10", "SumTAX0",   "SumTAXNone", "SumTAX110"};

// Records why a package is refused; the text reaches the host after the result's own.
std::int32_t Refuse(TSideChannels& ASide, const std::string& AReason) {
    ASide.ExtErrorDescr = AReason;
    return errInvalidParameter;
}

template <std::size_t N>
std::int32_t CheckAmounts(const pugi::xml_node& ANode, const char* const (&ANames)[N], TSideChannels& ASide) {
    for (const char* name : ANames)
        if (!AttrMoneyFits(ANode, name))
            return Refuse(ASide, fmt::format("Недопустимая сумма {}=\"{}\"", name, AttrTrimmed(ANode, name)));
    return 0;
}

// What can be refused without the register, checked before anything is sent: a receipt needs a
// position, a department must fit its byte (259 would go out as 3), and an amount that
// overflows must not read as 0.
std::int32_t CheckReceiptPackage(const pugi::xml_node& APositions, const pugi::xml_node& APayments,
                                 TSideChannels& ASide) {
    int positions = 0;
    for (pugi::xml_node child = APositions.first_child(); child; child = child.next_sibling()) {
        if (child.type() != pugi::node_element || !Named(child, "FiscalString")) continue;
        ++positions;
        const std::string department = AttrTrimmed(child, "Department");
        if (!department.empty()) {
            const std::optional<std::int64_t> value = ParseInteger(department);
            if (!value || *value < 0 || *value > 255)
                return Refuse(ASide, fmt::format("Недопустимая секция Department=\"{}\" (0-255)", department));
        }
        if (!AttrNumberValid(child, "Quantity"))
            return Refuse(ASide, fmt::format("Недопустимое количество Quantity=\"{}\"", AttrTrimmed(child, "Quantity")));
        if (const std::int32_t r = CheckAmounts(child, kPositionAmounts, ASide)) return r;
    }
    if (positions == 0) return Refuse(ASide, "В чеке нет ни одной позиции FiscalString");
    return CheckAmounts(APayments, kPaymentAmounts, ASide);
}

std::int32_t SendIfGiven(TDevice& ADevice, std::int32_t ATag, const std::string& AText) {
    if (TrimText(AText).empty()) return 0;
    return ADevice.SetFNRequisite(ATag, Ansi(AText));
}

}  // namespace

std::string TaxCaption(TDevice& ADevice, int ATaxID) {
    if (TaxGroupOfID(ATaxID) == 0) return {};
    TDateTime now = std::numeric_limits<double>::quiet_NaN();
    std::optional<TDateTime> date;
    if (ADevice.GetDateTimeKKT(now) == 0 && !std::isnan(now)) date = now;
    return TaxCaptionFor(ATaxID, date);
}

std::int32_t ProcessCheckBody(TDocumentEnvironment& AEnv, const TTaxValues& ATaxValues, bool /*AElectronically*/,
                              const pugi::xml_node& ACheckPackage, TReceiptOutputs& AOut, TSideChannels& ASide) {
    TDevice& device = AEnv.Device();
    const pugi::xml_node root = RootElement(ACheckPackage);
    const pugi::xml_node params = FirstChildElement(root, "Parameters");
    const pugi::xml_node positions = FirstChildElement(root, "Positions");
    const pugi::xml_node payments = FirstChildElement(root, "Payments");
    // Refused before the register is touched: a receipt without payments could never be closed.
    if (!params || !positions || !payments) return errInvalidParameter;
    if (const std::int32_t r = CheckReceiptPackage(positions, payments, ASide)) return r;

    device.UnlockDataOutputMode();
    std::int32_t r = ShiftState(device);
    if (r != 0) return r;
    const std::int64_t paymentType = AttrInt(params, "PaymentType", 0);
    r = AEnv.CheckPrintState();
    if (r != 0) return r;
    r = device.CancelReceipt();
    if (r != 0) return r;

    const std::int64_t taxVariant = AttrInt(params, "TaxVariant", 0);
    const std::string cashierName = AttrText(params, "CashierName");
    const std::string cashierVATIN = AttrText(params, "CashierVATIN");
    const std::string customerEmail = AttrTrimmed(params, "CustomerEmail");
    const std::string customerPhone = AttrTrimmed(params, "CustomerPhone");
    const std::string senderEmail = AttrText(params, "SenderEmail");
    const std::int64_t agentSign = AttrInt(params, "AgentSign", kNoAgentSign);
    const std::string additionalAttribute = AttrText(params, "AdditionalAttribute");
    const std::string customerInfo = AttrTrimmed(params, "CustomerInfo");
    const std::string customerINN = AttrTrimmed(params, "CustomerINN");
    const pugi::xml_node agentData = FirstChildElement(params, "AgentData");
    const pugi::xml_node purveyorData = FirstChildElement(params, "PurveyorData");

    const int receiptType = ReceiptTypeOf(paymentType);
    if (receiptType < 0) return errInvalidParameter;
    // A shift of 8 or more would not fit the tax-system byte.
    if (taxVariant < 0 || taxVariant > kMaxTaxVariant) return errInvalidParameter;

    r = device.OpenReceipt(static_cast<std::uint8_t>(receiptType));
    if (r != 0) return r;
    if (agentSign != kNoAgentSign) {
        if (!ValidAgentSign(static_cast<int>(std::clamp<std::int64_t>(agentSign, -2, kMaxAgentSign + 1))))
            return errAgentSignRange;
        r = device.SetFNRequisite(1057, TBytes{AgentSignByte(static_cast<int>(agentSign))});
        if (r != 0) return r;
    }
    r = SendReceiptAgentRequisites(device, agentData, purveyorData, ASide.ExtErrorDescr);
    if (r != 0) return r;
    r = SendIfGiven(device, 1192, additionalAttribute);
    if (r != 0) return r;
    r = SendIfGiven(device, 1203, cashierVATIN);
    if (r != 0) {
        ASide.ExtError = errIncorrectINN;
        return r;
    }
    if (!customerInfo.empty()) {
        r = device.SetFNRequisite(1227, Oem(customerInfo));
        if (r != 0) return r;
    }
    if (!customerINN.empty()) {
        r = device.SetFNRequisite(1228, TaxpayerNumber(customerINN));
        if (r != 0) return r;
    }

    std::array<TCurrencyValue, kTaxGroups> totals{};
    for (pugi::xml_node child = positions.first_child(); child; child = child.next_sibling()) {
        if (child.type() != pugi::node_element) continue;
        if (Named(child, "FiscalString")) {
            r = RegisterPosition(AEnv, ATaxValues, paymentType, child, totals, ASide);
        } else if (Named(child, "TextString")) {
            r = device.PrintString(Ansi(AttrText(child, "Text")));
        } else if (Named(child, "Barcode")) {
            r = PrintBarcode(device, child);
        }
        if (r != 0) return r;
    }

    if (!customerEmail.empty()) {
        r = device.SetFNRequisite(1008, Ansi(customerEmail));
    } else if (!customerPhone.empty()) {
        r = device.SetFNRequisite(1008, Ansi(customerPhone));
    }
    if (r != 0) return r;
    r = device.SetFNRequisite(1021, Oem(cashierName));
    if (r != 0) {
        ASide.ExtError = errNoCashierName;
        return r;
    }
    r = SendIfGiven(device, 1117, senderEmail);
    if (r != 0) return r;

    TCloseCheckData close;
    close.Sums[0] = AttrMoney(payments, "Cash");
    close.Sums[1] = AttrMoney(payments, "ElectronicPayment");
    close.Sums[13] = AttrMoney(payments, "AdvancePayment");
    close.Sums[14] = AttrMoney(payments, "Credit");
    close.Sums[15] = AttrMoney(payments, "CashProvision");
    close.Taxes = totals;
    close.TaxVariant = static_cast<std::uint8_t>(1u << taxVariant);
    AOut.Total = ReceiptTotal(positions);
    r = CloseFiscalDocument(
        AEnv, "Чек", [&](std::string& sign, std::int64_t& number) { return device.CloseCheckEx(close, sign, number); },
        [&] { return device.ReceiptOpen(); }, AOut, ASide);
    if (r != 0) return r;
    return FinishFiscalDocument(AEnv, "ProcessCheck", AOut);
}

std::int32_t ProcessCorrectionCheckBody(TDocumentEnvironment& AEnv, const pugi::xml_node& ACorrectionPackage,
                                        TReceiptOutputs& AOut, TSideChannels& ASide) {
    TDevice& device = AEnv.Device();
    {
        const pugi::xml_node root = RootElement(ACorrectionPackage);
        const pugi::xml_node params = FirstChildElement(root, "Parameters");
        const pugi::xml_node payments = FirstChildElement(root, "Payments");
        if (params && payments) {
            if (const std::int32_t r = CheckAmounts(params, kCorrectionAmounts, ASide)) return r;
            if (const std::int32_t r = CheckAmounts(payments, kPaymentAmounts, ASide)) return r;
        }
    }
    device.UnlockDataOutputMode();
    std::int32_t r = ShiftState(device);
    if (r != 0) return r;
    r = AEnv.CheckPrintState();
    if (r != 0) return r;
    r = device.CancelReceipt();
    if (r != 0) return r;

    const pugi::xml_node root = RootElement(ACorrectionPackage);
    const pugi::xml_node params = FirstChildElement(root, "Parameters");
    const pugi::xml_node payments = FirstChildElement(root, "Payments");
    if (!params || !payments) return errInvalidParameter;

    TCorrectionCheckData data;
    data.CashierName = Oem(AttrText(params, "CashierName"));
    data.CashierVATIN = Ansi(AttrText(params, "CashierVATIN"));
    data.CorrectionType = static_cast<std::uint8_t>(AttrInt(params, "CorrectionType", 0));
    const std::int64_t taxVariant = AttrInt(params, "TaxVariant", 0);
    data.BaseCorrection = Ansi(AttrText(params, "CorrectionBaseName"));
    const std::string baseDate = AttrTrimmed(params, "CorrectionBaseDate");
    if (baseDate.empty()) {
        data.CorrectionBaseDate = LocalNow();
    } else {
        // A calendar date: an offset in the text must not move it to another day.
        const std::optional<TDateTime> parsed = ParseIsoCalendarDate(baseDate);
        if (!parsed) return errInvalidParameter;
        data.CorrectionBaseDate = *parsed;
    }
    data.DocNumberCorrection = Ansi(AttrText(params, "CorrectionBaseNumber"));
    data.CorrectionSum = AttrMoney(params, "Sum");
    const TCurrencyValue tax20 = AttrMoney(params, "SumTAX20");
    data.SumTAX20 = tax20 > 0 ? tax20 : AttrMoney(params, "SumTAX18");
    const TCurrencyValue tax120 = AttrMoney(params, "SumTAX120");
    data.SumTAX120 = tax120 > 0 ? tax120 : AttrMoney(params, "SumTAX118");
    data.SumTAX10 = AttrMoney(params, "SumTAX10");
    data.SumTAX0 = AttrMoney(params, "SumTAX0");
    data.SumTAXNone = AttrMoney(params, "SumTAXNone");
    data.SumTAX110 = AttrMoney(params, "SumTAX110");
    data.Cash = AttrMoney(payments, "Cash");
    data.ElectronicPayment = AttrMoney(payments, "ElectronicPayment");
    data.AdvancePayment = AttrMoney(payments, "AdvancePayment");
    data.Credit = AttrMoney(payments, "Credit");
    data.CashProvision = AttrMoney(payments, "CashProvision");
    const std::int64_t paymentType = AttrInt(params, "PaymentType", 0);
    if (paymentType != 1 && paymentType != 3) return errInvalidParameter;
    if (taxVariant < 0 || taxVariant > kMaxTaxVariant) return errInvalidParameter;
    data.PaymentType = static_cast<std::uint8_t>(paymentType);
    data.TaxVariant = static_cast<std::uint8_t>(1u << taxVariant);

    // The whole correction is one document: whichever of its commands failed, the fiscal storage
    // tells whether it was formed.
    r = CloseFiscalDocument(
        AEnv, "Чек коррекции",
        [&](std::string& sign, std::int64_t& number) { return device.ProcessCorrectionCheck(data, sign, number); },
        {}, AOut, ASide);
    if (r != 0) return r;
    return FinishFiscalDocument(AEnv, "ProcessCorrectionCheck", AOut);
}

std::int32_t FinishRetriedDocument(TDocumentEnvironment& AEnv, const char* AOperation, TReceiptOutputs& AOut) {
    ReadDocumentDetails(AEnv, AOperation, AOut, false);
    return 0;
}

std::int32_t PrintTextDocumentBody(TDocumentEnvironment& AEnv, const pugi::xml_node& ADocumentPackage) {
    TDevice& device = AEnv.Device();
    std::int32_t r = AEnv.CheckPrintState();
    if (r != 0) return r;
    const pugi::xml_node root = RootElement(ADocumentPackage);
    if (!root || !Named(root, "Document")) return errInvalidParameter;
    const pugi::xml_node positions = FirstChildElement(root, "Positions");
    if (!positions) return errInvalidParameter;
    const bool noCut = AttrBool(root, "NoCut");
    r = device.WaitForEndPrinting();
    if (r != 0) return r;

    const std::u16string marker = Folded(AEnv.CutMarker());
    const int feedCount = device.GetFeedCount();
    for (pugi::xml_node child = positions.first_child(); child; child = child.next_sibling()) {
        if (child.type() != pugi::node_element) continue;
        if (Named(child, "TextString")) {
            const std::string text = AttrText(child, "Text");
            if (!marker.empty() && Folded(text).find(marker) != std::u16string::npos) {
                AEnv.CutAfterDocument(false, false, feedCount);
            } else {
                r = device.PrintString(Ansi(text));
            }
        } else if (Named(child, "Barcode")) {
            r = PrintBarcode(device, child);
        }
        if (r != 0) return r;
    }
    r = AEnv.WaitPrintCompletion();
    if (r != 0) return r;
    AEnv.CutAfterDocument(noCut, false, feedCount);
    return 0;
}

}  // namespace fr
