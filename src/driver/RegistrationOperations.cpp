// Registration data (from the FN's registration report, or from the register's tables) and the
// fiscal-storage operations: registration, change of registration parameters, closing.

#include <exception>
#include <functional>

#include "driver/ReportOperations.h"
#include "framework/ErrorCodes.h"
#include "platform/Encoding.h"
#include "platform/TextCase.h"

namespace fr {
namespace {

constexpr std::int32_t kResultNotInMode = 115;   // the register refuses the command in this mode
constexpr std::uint8_t kModeDataOutput = 1;      // full-state mode byte: a document is being read out
// A stored document holds at most 65535 bytes, so at most this many TLVs of 4 bytes or more.
constexpr int kMaxReportBlocks = 65535 / 4 + 1;

constexpr std::uint8_t kFnLifeFiscal = 0x02;
// Widths of the taxpayer and registration numbers in the registration report command.
constexpr std::size_t kVATINLength = 12, kKKTNumberLength = 20;

enum : std::uint8_t { opRegistration = 1, opReregistration = 2, opCloseFN = 3 };

// Table 18 (registration data), table 17 (format version), table 24 (automat number); row 1.
constexpr std::uint8_t kRegTable = 18, kFfdTable = 17, kAutomatTable = 24, kRow = 1;
constexpr std::uint8_t kFfdVersionField = 17, kFfdVersion105 = 2;

// Sets or replaces an attribute: a name written twice keeps one attribute, with the later value.
void SetAttr(pugi::xml_node ANode, const char* AName, const std::string& AValue) {
    pugi::xml_attribute a = ANode.attribute(AName);
    if (!a) a = ANode.append_attribute(AName);
    a = AValue.c_str();
}
void SetAttr(pugi::xml_node ANode, const char* AName, bool AValue) {
    SetAttr(ANode, AName, std::string(AValue ? "true" : "false"));
}

const TDocElement* FindElement(const TDocElementList& AList, std::int32_t ATag) {
    for (const auto& e : AList)
        if (e->Tag == ATag) return e.get();
    return nullptr;
}

bool TagIsOne(const TDocElementList& AList, std::int32_t ATag) {
    return TextToIntDef(FindElementText(AList, ATag)) == 1;
}

void WriteFromReport(pugi::xml_node P, const TDocElementList& L) {
    const TFFDVersions v = FFDVersionsFromTags(FindElementText(L, 1209), FindElementText(L, 1189));
    SetAttr(P, "FFDVersionFN", v.FN);
    SetAttr(P, "FFDVersionKKT", v.KKT);
    SetAttr(P, "KKTNumber", FindElementText(L, 1037));
    SetAttr(P, "KKTSerialNumber", FindElementText(L, 1013));
    SetAttr(P, "FNSerialNumber", FindElementText(L, 1041));
    SetAttr(P, "DocumentNumber", FindElementText(L, 1040));
    SetAttr(P, "DateTime", FindElementText(L, 1012));
    SetAttr(P, "OrganizationName", FindElementText(L, 1048));
    SetAttr(P, "VATIN", FindElementText(L, 1018));
    SetAttr(P, "AddressSettle", FindElementText(L, 1009));
    SetAttr(P, "PlaceSettle", FindElementText(L, 1187));
    SetAttr(P, "TaxVariant",
            BitListText(static_cast<std::uint32_t>(TextToIntDef(FindElementText(L, 1062))), 5));
    SetAttr(P, "DataEncryption", TagIsOne(L, 1056));
    SetAttr(P, "OfflineMode", TagIsOne(L, 1002));
    SetAttr(P, "AutomaticMode", TagIsOne(L, 1001));
    SetAttr(P, "ServiceSign", TagIsOne(L, 1109));
    SetAttr(P, "CalcOnlineSign", TagIsOne(L, 1108));
    SetAttr(P, "BSOSing", TagIsOne(L, 1110));
    const TDocElement* agent = FindElement(L, 1057);
    SetAttr(P, "SignOfAgent", agent && !agent->TLV.empty() ? BitListText(agent->TLV[0], 6) : std::string());
    SetAttr(P, "SignOfLottery", TagIsOne(L, 1126));
    SetAttr(P, "SignOfGambling", TagIsOne(L, 1193));
    SetAttr(P, "SaleExcisableGoods", TagIsOne(L, 1207));
    SetAttr(P, "AutomaticNumber", FindElementText(L, 1036));
    SetAttr(P, "PrinterAutomatic", TagIsOne(L, 1221));
    SetAttr(P, "OFDOrganizationName", FindElementText(L, 1046));
    SetAttr(P, "OFDVATIN", FindElementText(L, 1017));
    SetAttr(P, "FNSWebSite", FindElementText(L, 1060));
    SetAttr(P, "SenderEmail", FindElementText(L, 1117));
}

// A field of table 18 (or another), row 1: the raw bytes, empty when the read fails.
TBytes ReadField(TDevice& D, std::uint8_t ATable, std::uint8_t AField) {
    TBytes raw;
    if (D.GetFieldAsStr(ATable, kRow, AField, raw) != 0) return {};
    return raw;
}
std::string FieldText(TDevice& D, std::uint8_t ATable, std::uint8_t AField) {
    return SingleByteToUtf8(TrimBytes(ReadField(D, ATable, AField)));
}
// The first byte of a numeric field, taken before trimming (trimming would drop small values).
std::optional<std::uint8_t> FieldFirstByte(TDevice& D, std::uint8_t ATable, std::uint8_t AField) {
    const TBytes raw = ReadField(D, ATable, AField);
    if (raw.empty()) return std::nullopt;
    return raw[0];
}

void WriteFromTables(pugi::xml_node P, TDevice& D, std::int64_t ADocNumber, TDateTime ADateTime) {
    SetAttr(P, "DocumentNumber", std::to_string(ADocNumber));
    SetAttr(P, "DateTime", DateTimeText(ADateTime));
    SetAttr(P, "KKTSerialNumber", FieldText(D, kRegTable, 1));
    SetAttr(P, "FFDVersionFN", std::string());
    if (const auto ffd = FieldFirstByte(D, kFfdTable, kFfdVersionField)) {
        const char* text = *ffd == 1 ? "1.0" : *ffd == 2 ? "1.0.5" : *ffd == 3 ? "1.1" : nullptr;
        if (text) SetAttr(P, "FFDVersionKKT", std::string(text));
    }
    SetAttr(P, "KKTSerialNumber", FieldText(D, kRegTable, 1));
    SetAttr(P, "VATIN", FieldText(D, kRegTable, 2));
    SetAttr(P, "KKTNumber", FieldText(D, kRegTable, 3));
    SetAttr(P, "FNSerialNumber", FieldText(D, kRegTable, 4));
    const auto tax = FieldFirstByte(D, kRegTable, 5);
    SetAttr(P, "TaxVariant", tax ? BitListText(*tax, 5) : std::string());
    SetAttr(P, "OrganizationName", FieldText(D, kRegTable, 7));
    SetAttr(P, "AddressSettle", FieldText(D, kRegTable, 9));
    SetAttr(P, "PlaceSettle", FieldText(D, kRegTable, 14));
    SetAttr(P, "OFDOrganizationName", FieldText(D, kRegTable, 10));
    SetAttr(P, "OFDVATIN", FieldText(D, kRegTable, 12));
    const auto agent = FieldFirstByte(D, kRegTable, 16);
    SetAttr(P, "SignOfAgent", agent ? BitListText(*agent, 6) : std::string());
    SetAttr(P, "FNSWebSite", FieldText(D, kRegTable, 13));
    SetAttr(P, "SenderEmail", FieldText(D, kRegTable, 15));
}

std::string AttrText(const pugi::xml_node& ARoot, const char* AName) {
    return ARoot.attribute(AName).as_string();
}

TBytes Ansi(const std::string& AText) { return Utf8ToSingleByte(AText); }

}  // namespace

std::uint8_t DigitBits(const std::string& AText, int AHighestBit) {
    std::uint8_t bits = 0;
    for (char c : AText)
        if (c >= '0' && c <= '0' + AHighestBit) bits |= static_cast<std::uint8_t>(1u << (c - '0'));
    return bits;
}

bool IsTrueText(const std::string& AText) { return SameText(std::string_view(AText), std::string_view("true")); }

std::string PadText(const std::string& AText, std::size_t ALength) {
    std::string s = AText;
    if (s.size() < ALength) s.append(ALength - s.size(), ' ');
    return s;
}

bool ReadFiscalParameters(const pugi::xml_document& ADoc, TFiscalParameters& P) {
    const pugi::xml_node root = ADoc.document_element();
    if (!root) return false;
    P.CashierName = AttrText(root, "CashierName");
    P.CashierVATIN = PadText(AttrText(root, "CashierVATIN"), 12);
    P.KKTNumber = PadText(AttrText(root, "KKTNumber"), kKKTNumberLength);
    P.OrganizationName = AttrText(root, "OrganizationName");
    P.VATIN = PadText(AttrText(root, "VATIN"), kVATINLength);
    P.AddressSettle = AttrText(root, "AddressSettle");
    P.PlaceSettle = AttrText(root, "PlaceSettle");
    P.TaxBits = DigitBits(AttrText(root, "TaxVariant"), 5);
    P.ReasonCode = static_cast<std::uint8_t>(TextToIntDef(AttrText(root, "ReasonCode")));
    P.AutomaticMode = IsTrueText(AttrText(root, "AutomaticMode"));
    P.WorkModeBits = static_cast<std::uint8_t>(
        (IsTrueText(AttrText(root, "DataEncryption")) ? 0x01 : 0) | (IsTrueText(AttrText(root, "OfflineMode")) ? 0x02 : 0) |
        (P.AutomaticMode ? 0x04 : 0) | (IsTrueText(AttrText(root, "ServiceSign")) ? 0x08 : 0) |
        (IsTrueText(AttrText(root, "BSOSing")) ? 0x10 : 0) | (IsTrueText(AttrText(root, "CalcOnlineSign")) ? 0x20 : 0));
    P.AgentBits = DigitBits(AttrText(root, "SignOfAgent"), 6);
    P.AutomaticNumber = PadText(AttrText(root, "AutomaticNumber"), 20);
    P.OFDOrganizationName = AttrText(root, "OFDOrganizationName");
    P.OFDVATIN = PadText(AttrText(root, "OFDVATIN"), 12);
    P.SenderEmail = AttrText(root, "SenderEmail");
    P.FNSWebSite = AttrText(root, "FNSWebSite");
    P.SignOfGambling = IsTrueText(AttrText(root, "SignOfGambling"));
    P.SignOfLottery = IsTrueText(AttrText(root, "SignOfLottery"));
    return true;
}

std::int32_t ReadRegistrationReport(TDevice& D, std::int32_t ADocNumber, TDocElementList& AList) {
    std::int32_t docType = 0, docLength = 0;
    std::int32_t r = D.GetFNRequestFiscalDocumentTLV(ADocNumber, docType, docLength);
    if (r == kResultNotInMode) {
        // A read-out left unfinished: the register is still giving out a document; go on reading.
        std::uint8_t mode = 0;
        if (D.GetStateKKT(mode) != 0 || mode != kModeDataOutput) return kResultNotInMode;
    } else if (r != 0) {
        return r;
    }
    for (int i = 0; i < kMaxReportBlocks; ++i) {
        TBytes block;
        if ((r = D.GetFNReadFiscalDocumentTLV(block)) != 0) return r;
        if (block.empty()) return 0;
        DecodeFiscalBlock(block, 0, AList);
    }
    return errProtocol;
}

std::int32_t GetDataKKTBody(TOperationContext& C, pugi::xml_document& ATableParametersKKT, TDocElementList& AList) {
    TDevice& D = C.Device();
    pugi::xml_node params = ATableParametersKKT.append_child("Parameters");
    std::uint8_t life = 0, curDoc = 0, docData = 0, session = 0, warnings = 0;
    std::int64_t lastDoc = 0;
    if (const std::int32_t r = D.GetFNCurrentStatus(life, curDoc, docData, session, warnings, lastDoc)) return r;
    const bool fiscal = life & kFnLifeFiscal;
    SetAttr(params, "Fiscal", fiscal);
    if (!fiscal) return 0;
    try {
        AList.clear();
        TDateTime regTime = 0;
        TBytes inn, regNum;
        std::int32_t taxSystem = 0;
        std::int64_t regDoc = 0;
        if (const std::int32_t r = D.GetFiscalizationParameters(regTime, inn, regNum, taxSystem, regDoc)) return r;
        if (ReadRegistrationReport(D, static_cast<std::int32_t>(regDoc), AList) == 0)
            WriteFromReport(params, AList);
        else
            WriteFromTables(params, D, regDoc, regTime);
    } catch (const std::exception&) {
        // What was written stays; the registration data is reported as far as it was read.
    }
    return 0;
}

std::int32_t OperationFNBody(TOperationContext& C, std::uint8_t AOperationType,
                             const pugi::xml_document& AParametersFiscal) {
    TDevice& D = C.Device();
    TFiscalParameters P;
    if (!ReadFiscalParameters(AParametersFiscal, P)) return errInvalidParameter;
    // An unknown operation is refused before anything is sent to the register.
    if (AOperationType != opRegistration && AOperationType != opReregistration && AOperationType != opCloseFN)
        return errInvalidParameter;
    // The taxpayer and registration numbers are fixed-width fields of the (irreversible) report
    // command: a longer text would shift every field after it.
    if (AOperationType != opCloseFN &&
        (Ansi(P.VATIN).size() > kVATINLength || Ansi(P.KKTNumber).size() > kKKTNumberLength))
        return errInvalidParameter;
    // Made by an earlier call that could not tell of it.
    if (C.Retried()) return 0;
    D.UnlockDataOutputMode();
    if (const std::int32_t r = C.CheckPrintState()) return r;
    if (const std::int32_t r = D.SetDateTime(C.Now())) return r;
    // The reports are fiscal documents: a lost answer is settled by the fiscal storage, and a
    // failure after the report does not hide it.
    const auto report = [&](const char* ADocumentName, const std::function<std::int32_t()>& ACommand) {
        return RunReport(C, "OperationFN", ADocumentName, ACommand,
                         [&](std::int64_t) { return C.WaitPrintCompletion(); });
    };
    if (AOperationType == opCloseFN) return report("Отчёт о закрытии ФН", [&] { return D.FNClose(); });
    if (AOperationType == opRegistration)
        if (const std::int32_t r = D.FNBeginRegistrationReport(0)) return r;
    if (!TrimText(P.CashierVATIN).empty() && D.SetFNRequisite(1203, Ansi(P.CashierVATIN)) != 0)
        return kResultIncorrectINN;
    const std::pair<std::uint8_t, const std::string*> fields[] = {
        {10, &P.OFDOrganizationName}, {12, &P.OFDVATIN}, {7, &P.OrganizationName}, {8, &P.CashierName},
        {9, &P.AddressSettle},        {14, &P.PlaceSettle}, {15, &P.SenderEmail},   {13, &P.FNSWebSite},
    };
    for (const auto& [field, text] : fields)
        if (const std::int32_t r = D.SetFieldAsStr(kRegTable, kRow, field, Ansi(*text))) return r;
    if (const std::int32_t r = D.SetFieldAsByte(kFfdTable, kRow, kFfdVersionField, kFfdVersion105)) return r;
    if (P.AutomaticMode)
        if (const std::int32_t r = D.SetFieldAsStr(kAutomatTable, kRow, 1, Ansi(P.AutomaticNumber))) return r;
    if (AOperationType == opRegistration) {
        if (const std::int32_t r = D.SetFNRequisite(1193, P.SignOfGambling ? TBytes{0x01} : TBytes{})) return r;
        if (const std::int32_t r = D.SetFNRequisite(1126, P.SignOfLottery ? TBytes{0x01} : TBytes{})) return r;
    }
    if (const std::int32_t r = D.SetFieldAsByte(kRegTable, kRow, 16, P.AgentBits)) return r;
    if (AOperationType == opRegistration)
        return report("Отчёт о регистрации", [&] {
            return D.FNBuildRegistrationReport(Ansi(P.VATIN), Ansi(P.KKTNumber), P.TaxBits, P.WorkModeBits);
        });
    return report("Отчёт об изменении параметров регистрации", [&] {
        return D.FNBuildReregistrationReport(Ansi(P.VATIN), Ansi(P.KKTNumber), P.TaxBits, P.WorkModeBits,
                                             P.ReasonCode);
    });
}

}  // namespace fr
