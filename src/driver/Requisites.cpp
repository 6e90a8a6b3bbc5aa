#include "driver/Requisites.h"

#include <array>

#include "driver/PackageValues.h"
#include "driver/ReceiptTables.h"
#include "framework/ErrorCodes.h"

namespace fr {
namespace {

enum class TEncoding { Oem, Ansi, Taxpayer };

struct TAgentField {
    const char* Attribute;
    std::int32_t Tag;
    TEncoding Encoding;
    const char* Refusal;  // appended to the description when the register refuses it alone
};

constexpr std::array<TAgentField, 7> kAgentFields{{
    {"PayingAgentOperation", 1044, TEncoding::Oem, "Некорректные данные в операции платежного агента"},
    {"PayingAgentPhone", 1073, TEncoding::Ansi, "Некорректная запись телефона платежного агента"},
    {"ReceivePaymentsOperatorPhone", 1074, TEncoding::Ansi,
     "Некорректная запись телефона оператора по приему платежей"},
    {"MoneyTransferOperatorPhone", 1075, TEncoding::Ansi, "Некорректная запись телефона оператора перевода"},
    {"MoneyTransferOperatorName", 1026, TEncoding::Oem, "Некорректные данные в наименовании оператора перевода"},
    {"MoneyTransferOperatorAddress", 1005, TEncoding::Oem, "Некорректные данные в адресе оператора перевода"},
    {"MoneyTransferOperatorVATIN", 1016, TEncoding::Taxpayer, "Некорректный ИНН оператора перевода"},
}};

constexpr TAgentField kPurveyorPhone{"PurveyorPhone", 1171, TEncoding::Ansi, "Некорректный телефон поставщика"};
constexpr TAgentField kPurveyorName{"PurveyorName", 1225, TEncoding::Oem, ""};
constexpr TAgentField kPurveyorVATIN{"PurveyorVATIN", 1226, TEncoding::Taxpayer, "Некорректный ИНН поставщика"};

constexpr const char* kAgentStructRefusal = "Некорректные данные в составной структуре агентов";
constexpr const char* kPurveyorStructRefusal =
    "Некорректные данные в составной структуре поставщика платежного агента";

constexpr int kGtinBytes = 6;
constexpr int kExciseBytes = 6;
const char* const kMarkingPrefix = "DM";
constexpr const char* kStampTypeKiz = "02";

bool Given(const pugi::xml_node& ANode, const TAgentField& AField) {
    return !AttrTrimmed(ANode, AField.Attribute).empty();
}

TBytes Encode(const pugi::xml_node& ANode, const TAgentField& AField) {
    const std::string text = AttrText(ANode, AField.Attribute);
    switch (AField.Encoding) {
        case TEncoding::Oem: return Oem(text);
        case TEncoding::Taxpayer: return TaxpayerNumber(text);
        case TEncoding::Ansi: break;
    }
    return Ansi(text);
}

void AppendTLV(TBytes& AData, const pugi::xml_node& ANode, const TAgentField& AField) {
    if (!Given(ANode, AField)) return;
    const TBytes tlv = SetTLV(AField.Tag, Encode(ANode, AField));
    AData.insert(AData.end(), tlv.begin(), tlv.end());
}

// Sends one requisite; a refusal names it in ADescr.
int Send(int AResult, const char* ARefusal, std::string& ADescr) {
    if (AResult != 0 && ARefusal && *ARefusal) ADescr = ARefusal;
    return AResult;
}

}  // namespace

TBytes AgentDataValue(const pugi::xml_node& AAgentData) {
    TBytes value;
    for (const TAgentField& field : kAgentFields) AppendTLV(value, AAgentData, field);
    return value;
}

TBytes PurveyorDataValue(const pugi::xml_node& APurveyorData) {
    TBytes value;
    AppendTLV(value, APurveyorData, kPurveyorPhone);
    AppendTLV(value, APurveyorData, kPurveyorName);
    return value;
}

std::optional<TBytes> MarkingCodeValue(const pugi::xml_node& AGoodCodeData) {
    const std::string stampType = AttrTrimmed(AGoodCodeData, "StampType");
    if (stampType.empty()) return std::nullopt;
    std::string serial;
    if (stampType == kStampTypeKiz) {
        if (AttrTrimmed(AGoodCodeData, "Stamp").empty()) throw EMarkingCodeError("Не заполнен КиЗ");
        serial = AttrText(AGoodCodeData, "Stamp");
    } else {
        if (AttrTrimmed(AGoodCodeData, "SerialNumber").empty())
            throw EMarkingCodeError("Не заполнен серийный номер");
        serial = AttrText(AGoodCodeData, "SerialNumber");
    }
    const std::string gtinText = AttrTrimmed(AGoodCodeData, "GTIN");
    if (gtinText.empty()) throw EMarkingCodeError("Не заполнен GTIN");
    const std::optional<std::int64_t> gtin = ParseInteger(gtinText);
    if (!gtin) throw EConvertError("'" + gtinText + "' is not a valid integer value");
    // A GTIN has at most 14 digits; anything that does not fit the 6 bytes would be cut silently.
    if (*gtin < 0 || static_cast<std::uint64_t>(*gtin) >= (std::uint64_t{1} << (8 * kGtinBytes)))
        throw EConvertError("'" + gtinText + "' is not a valid GTIN");
    TBytes value(kMarkingPrefix, kMarkingPrefix + 2);
    const TBytes gtinBytes = IntToBEBytes(kGtinBytes, static_cast<std::uint64_t>(*gtin));
    value.insert(value.end(), gtinBytes.begin(), gtinBytes.end());
    const TBytes serialBytes = Ansi(serial);
    value.insert(value.end(), serialBytes.begin(), serialBytes.end());
    return value;
}

std::optional<TBytes> ExciseValue(TCurrencyValue AAmount) {
    const std::optional<std::uint64_t> kopecks = CurrencyToKopecks(AAmount, kExciseBytes);
    if (!kopecks) return std::nullopt;
    return IntToLEBytes(kExciseBytes, *kopecks);
}

int SendReceiptAgentRequisites(TDevice& ADevice, const pugi::xml_node& AAgentData,
                               const pugi::xml_node& APurveyorData, std::string& ADescr) {
    for (const TAgentField& field : kAgentFields) {
        if (!Given(AAgentData, field)) continue;
        const int r = Send(ADevice.SetFNRequisite(field.Tag, Encode(AAgentData, field)), field.Refusal, ADescr);
        if (r != 0) return r;
    }
    if (Given(APurveyorData, kPurveyorPhone))
        return Send(ADevice.SetFNRequisite(kPurveyorPhone.Tag, Encode(APurveyorData, kPurveyorPhone)),
                    kPurveyorPhone.Refusal, ADescr);
    return 0;
}

int SendPositionAgentRequisites(TDevice& ADevice, std::int64_t ASignAgent, const pugi::xml_node& AAgentData,
                                const pugi::xml_node& APurveyorData, std::string& ADescr) {
    if (ASignAgent != kNoAgentSign) {
        if (ASignAgent < 0 || ASignAgent > kMaxAgentSign) return errAgentSignRange;
        const int r = ADevice.SetFNOperationRequisite(1222, TBytes{AgentSignByte(static_cast<int>(ASignAgent))});
        if (r != 0) return r;
    }
    if (const TBytes agent = AgentDataValue(AAgentData); !agent.empty()) {
        const int r = Send(ADevice.SetFNOperationRequisite(1223, agent), kAgentStructRefusal, ADescr);
        if (r != 0) return r;
    }
    if (Given(APurveyorData, kPurveyorVATIN)) {
        const int r = Send(ADevice.SetFNOperationRequisite(kPurveyorVATIN.Tag, Encode(APurveyorData, kPurveyorVATIN)),
                           kPurveyorVATIN.Refusal, ADescr);
        if (r != 0) return r;
    }
    if (const TBytes purveyor = PurveyorDataValue(APurveyorData); !purveyor.empty())
        return Send(ADevice.SetFNOperationRequisite(1224, purveyor), kPurveyorStructRefusal, ADescr);
    return 0;
}

int SendPositionRequisites(TDevice& ADevice, const pugi::xml_node& AFiscalString, const pugi::xml_node& AGoodCodeData) {
    if (AGoodCodeData) {
        if (const std::optional<TBytes> code = MarkingCodeValue(AGoodCodeData)) {
            const int r = ADevice.SetFNOperationRequisite(1162, *code);
            if (r != 0) return r;
        }
    }
    if (const std::string country = AttrTrimmed(AFiscalString, "CountryOfOrigin"); !country.empty()) {
        const int r = ADevice.SetFNOperationRequisite(1230, Ansi(country));
        if (r != 0) return r;
    }
    if (const std::string declaration = AttrTrimmed(AFiscalString, "CustomsDeclaration"); !declaration.empty()) {
        const int r = ADevice.SetFNOperationRequisite(1231, Oem(declaration));
        if (r != 0) return r;
    }
    if (const TCurrencyValue excise = AttrMoney(AFiscalString, "ExciseAmount"); excise != 0) {
        const std::optional<TBytes> value = ExciseValue(excise);
        if (!value) return errInvalidParameter;
        return ADevice.SetFNOperationRequisite(1229, *value);
    }
    return 0;
}

}  // namespace fr
