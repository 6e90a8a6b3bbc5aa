#include "framework/BaseDriverECR.h"

#include <fmt/format.h>

#include "framework/ErrorCodes.h"
#include "framework/Log.h"
#include "platform/Encoding.h"
#include "platform/Xml.h"

namespace fr {
namespace {

bool IsXmlCodeUnit(char16_t c) {
    return c == 0x09 || c == 0x0A || c == 0x0D || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD);
}

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// The first character XML does not allow (a lone surrogate counts; a pair is a legal
// character), as its index; npos when there is none.
std::size_t FindNonXmlChar(std::u16string_view AText) {
    for (std::size_t i = 0; i < AText.size(); ++i) {
        const char16_t c = AText[i];
        if (IsXmlCodeUnit(c)) continue;
        if (IsHighSurrogate(c) && i + 1 < AText.size() && IsLowSurrogate(AText[i + 1])) {
            ++i;
            continue;
        }
        return i;
    }
    return std::u16string_view::npos;
}

void PutInt64(TParams& AParams, std::size_t AIndex, std::int64_t AValue) {
    // Exact up to 2^53, which no counter of the register reaches.
    PutParamDouble(AParams, AIndex, static_cast<double>(AValue));
}

}  // namespace

std::u16string FilterXmlChars(std::u16string_view AText) {
    std::u16string out;
    out.reserve(AText.size());
    for (char16_t c : AText)
        if (IsXmlCodeUnit(c)) out += c;
    return out;
}

void LoadHostXmlDocument(pugi::xml_document& ADoc, std::u16string_view AText, bool AFilter) {
    if (AFilter) {
        LoadXmlDocument(ADoc, Utf16ToUtf8(FilterXmlChars(AText)));
        return;
    }
    const std::size_t bad = FindNonXmlChar(AText);
    if (bad != std::u16string_view::npos) {
        ADoc.reset();
        throw EXmlError(fmt::format("XML parse error: Invalid character U+{:04X} at offset {}",
                                    static_cast<unsigned>(AText[bad]), Utf16ToUtf8(AText.substr(0, bad)).size()));
    }
    LoadXmlDocument(ADoc, Utf16ToUtf8(AText));
}

void ReadCashier(const pugi::xml_document& ADoc, std::string& ACashierName, std::string& ACashierVATIN) {
    const pugi::xml_node params = FirstChildElement(ADoc.document_element(), "Parameters");
    if (!params) throw EConvertError("The document has no element \"Parameters\"");
    const pugi::xml_attribute name = params.attribute("CashierName");
    if (!name) throw EConvertError("The element \"Parameters\" has no attribute \"CashierName\"");
    const pugi::xml_attribute vatin = params.attribute("CashierVATIN");
    if (!vatin) throw EConvertError("The element \"Parameters\" has no attribute \"CashierVATIN\"");
    ACashierName = name.as_string();
    ACashierVATIN = vatin.as_string();
}

TBaseDriverECR::TBaseDriverECR(TCreateKey AKey) : TCustomBaseDriver(AKey) {
    FDriverInfo.EquipmentType = "ККТ";
    FLineLen = 40;
}

void TBaseDriverECR::InitSettings() {
    TCustomBaseDriver::InitSettings();
    AddSetting("CutString", dtString, TVariant(""), false, "Маркер отреза бумаги",
               "Маркер отреза бумаги. Для оборудования 1С:Совместимо, должен содержать строку \"[cut]\". "
               "Имеет приоритет перед кодом символа отреза (устаревшая настройка)");
}

void TBaseDriverECR::InitMethods() {
    TCustomBaseDriver::InitMethods();
    using THandler = int (TBaseDriverECR::*)(TVariant&, TParams&);
    struct TEntry {
        const char* Name;
        const char* Alias;
        int ParamsCount;
        THandler Handler;
    };
    static const TEntry kMethods[] = {
        {"GetDataKKT", "ПолучитьПараметрыККТ", 2, &TBaseDriverECR::CallGetDataKKT},
        {"PrintTextDocument", "НапечататьТекстовыйДокумент", 2, &TBaseDriverECR::CallPrintTextDocument},
        {"ProcessCorrectionCheck", "СформироватьЧекКоррекции", 6, &TBaseDriverECR::CallProcessCorrectionCheck},
        {"ProcessCheck", "СформироватьЧек", 7, &TBaseDriverECR::CallProcessCheck},
        {"OperationFN", "ОперацияФН", 3, &TBaseDriverECR::CallOperationFN},
        {"OpenShift", "ОткрытьСмену", 5, &TBaseDriverECR::CallOpenShift},
        {"CloseShift", "ЗакрытьСмену", 5, &TBaseDriverECR::CallCloseShift},
        {"CashInOutcome", "НапечататьЧекВнесенияВыемки", 3, &TBaseDriverECR::CallCashInOutcome},
        {"PrintXReport", "НапечататьОтчетБезГашения", 2, &TBaseDriverECR::CallPrintXReport},
        {"ReportCurrentStatusOfSettlements", "ОтчетОТекущемСостоянииРасчетов", 3,
         &TBaseDriverECR::CallReportCurrentStatusOfSettlements},
        {"GetCurrentStatus", "ПолучитьТекущееСостояние", 5, &TBaseDriverECR::CallGetCurrentStatus},
        {"OpenCashDrawer", "ОткрытьДенежныйЯщик", 1, &TBaseDriverECR::CallOpenCashDrawer},
        {"GetLineLength", "ПолучитьШиринуСтроки", 2, &TBaseDriverECR::CallGetLineLength},
    };
    for (const auto& m : kMethods)
        AddMethod(m.Name, m.Alias, m.ParamsCount,
                  [this, h = m.Handler](TVariant& r, TParams& p) { return (this->*h)(r, p); });
}

// ---- frame ----

void TBaseDriverECR::InvalidParameters(const std::string& AReason) {
    FLastResultCode = errInvalidParameter;
    // A description left by an earlier call would contradict the code.
    FLastResultDescription.clear();
    FLog.Append("Parameters", AReason, TLog::mtError);
}

int TBaseDriverECR::RunECRHandler(TVariant& pvarRetValue, const TParams& paParams, std::size_t AParamsCount,
                                  const std::function<void()>& ABody) {
    try {
        if (!HasParams(paParams, AParamsCount))
            InvalidParameters(fmt::format("{} parameter(s) passed, {} expected", paParams.size(), AParamsCount));
        else
            ABody();
    } catch (const EFrError& e) {
        FLastResultCode = errUnknown;
        FLastResultDescription = e.what();
    }
    pvarRetValue = TVariant(FLastResultCode == 0);
    return 0;
}

bool TBaseDriverECR::ReadCashierParam(const TParams& paParams, std::size_t AIndex, bool AFilter,
                                      std::string& ACashierName, std::string& ACashierVATIN) {
    std::string reason;
    try {
        pugi::xml_document doc;
        LoadHostXmlDocument(doc, GetParam(paParams, AIndex).AsU16String(), AFilter);
        ReadCashier(doc, ACashierName, ACashierVATIN);
        return true;
    } catch (const std::exception& e) {
        reason = e.what();
    }
    InvalidParameters("Cashier: " + reason);
    return false;
}

// ---- handlers ----

int TBaseDriverECR::CallGetDataKKT(TVariant& pvarRetValue, TParams& paParams) {
    return RunECRHandler(pvarRetValue, paParams, 2, [&] {
        pugi::xml_document table;
        NewXmlDocument(table);
        FLastResultCode = GetDataKKT(table);
        // The host gets the document whatever the result.
        PutParamStr(paParams, 1, XmlDocumentText(table));
    });
}

int TBaseDriverECR::CallPrintTextDocument(TVariant& pvarRetValue, TParams& paParams) {
    return RunECRHandler(pvarRetValue, paParams, 2, [&] {
        pugi::xml_document package;
        LoadHostXmlDocument(package, GetParam(paParams, 1).AsU16String(), true);
        FLastResultCode = PrintTextDocument(package);
    });
}

int TBaseDriverECR::CallProcessCorrectionCheck(TVariant& pvarRetValue, TParams& paParams) {
    return RunECRHandler(pvarRetValue, paParams, 6, [&] {
        pugi::xml_document package;
        LoadHostXmlDocument(package, GetParam(paParams, 1).AsU16String(), false);
        std::int64_t checkNumber = 0, sessionNumber = 0;
        std::string fiscalSign, address;
        FLastResultCode = ProcessCorrectionCheck(package, checkNumber, sessionNumber, fiscalSign, address);
        if (FLastResultCode != 0) return;
        PutInt64(paParams, 2, checkNumber);
        PutInt64(paParams, 3, sessionNumber);
        PutParamStr(paParams, 4, fiscalSign);
        PutParamStr(paParams, 5, address);
    });
}

int TBaseDriverECR::CallProcessCheck(TVariant& pvarRetValue, TParams& paParams) {
    return RunECRHandler(pvarRetValue, paParams, 7, [&] {
        const bool electronically = GetParam(paParams, 1).AsBool();
        pugi::xml_document package;
        LoadHostXmlDocument(package, GetParam(paParams, 2).AsU16String(), true);
        std::int64_t checkNumber = 0, sessionNumber = 0;
        std::string fiscalSign, address;
        FLastResultCode = ProcessCheck(electronically, package, checkNumber, sessionNumber, fiscalSign, address);
        if (FLastResultCode != 0) return;
        PutInt64(paParams, 3, checkNumber);
        PutInt64(paParams, 4, sessionNumber);
        PutParamStr(paParams, 5, fiscalSign);
        PutParamStr(paParams, 6, address);
    });
}

int TBaseDriverECR::CallOperationFN(TVariant& pvarRetValue, TParams& paParams) {
    return RunECRHandler(pvarRetValue, paParams, 3, [&] {
        // Cutting to the low byte would turn 259 into 3, the closing of the fiscal storage.
        std::int64_t operationType = -1;
        try {
            operationType = GetParam(paParams, 1).AsInt64();
        } catch (const EFrError&) {
        }
        if (operationType < 0 || operationType > 255) {
            InvalidParameters(fmt::format("OperationType {} is outside 0-255", GetParam(paParams, 1).AsString()));
            return;
        }
        pugi::xml_document parameters;
        LoadHostXmlDocument(parameters, GetParam(paParams, 2).AsU16String(), true);
        FLastResultCode = OperationFN(static_cast<std::uint8_t>(operationType), parameters);
    });
}

int TBaseDriverECR::CallOpenShift(TVariant& pvarRetValue, TParams& paParams) {
    return CallShiftOperation(pvarRetValue, paParams, &TBaseDriverECR::OpenShift);
}

int TBaseDriverECR::CallCloseShift(TVariant& pvarRetValue, TParams& paParams) {
    return CallShiftOperation(pvarRetValue, paParams, &TBaseDriverECR::CloseShift);
}

// "OpenShift" and "CloseShift" take and return the same arguments.
int TBaseDriverECR::CallShiftOperation(TVariant& pvarRetValue, TParams& paParams, TShiftOperation AOperation) {
    return RunECRHandler(pvarRetValue, paParams, 5, [&] {
        pugi::xml_document output;
        NewXmlDocument(output);
        std::string name, vatin;
        if (!ReadCashierParam(paParams, 1, true, name, vatin)) return;
        std::int64_t sessionNumber = 0, documentNumber = 0;
        FLastResultCode = (this->*AOperation)(name, vatin, sessionNumber, documentNumber, output);
        if (FLastResultCode != 0) return;
        PutParamStr(paParams, 2, XmlDocumentText(output));
        PutInt64(paParams, 3, sessionNumber);
        PutInt64(paParams, 4, documentNumber);
    });
}

int TBaseDriverECR::CallCashInOutcome(TVariant& pvarRetValue, TParams& paParams) {
    return RunECRHandler(pvarRetValue, paParams, 3, [&] {
        std::string name, vatin;
        if (!ReadCashierParam(paParams, 1, true, name, vatin)) return;
        const TCurrency amount = GetParam(paParams, 2).AsCurrency();
        FLastResultCode = CashInOutcome(amount, name, vatin);
    });
}

int TBaseDriverECR::CallPrintXReport(TVariant& pvarRetValue, TParams& paParams) {
    return RunECRHandler(pvarRetValue, paParams, 2, [&] {
        std::string name, vatin;
        if (!ReadCashierParam(paParams, 1, false, name, vatin)) return;
        FLastResultCode = PrintXReport(name, vatin);
    });
}

int TBaseDriverECR::CallReportCurrentStatusOfSettlements(TVariant& pvarRetValue, TParams& paParams) {
    return RunECRHandler(pvarRetValue, paParams, 3, [&] {
        pugi::xml_document output;
        NewXmlDocument(output);
        std::string name, vatin;
        if (!ReadCashierParam(paParams, 1, false, name, vatin)) return;
        FLastResultCode = ReportCurrentStatusOfSettlements(name, vatin, output);
        if (FLastResultCode == 0) PutParamStr(paParams, 2, XmlDocumentText(output));
    });
}

int TBaseDriverECR::CallGetCurrentStatus(TVariant& pvarRetValue, TParams& paParams) {
    return RunECRHandler(pvarRetValue, paParams, 5, [&] {
        pugi::xml_document status;
        NewXmlDocument(status);
        std::int64_t checkNumber = 0, sessionNumber = 0;
        std::uint8_t sessionState = 0;
        FLastResultCode = GetCurrentStatus(checkNumber, sessionNumber, sessionState, status);
        if (FLastResultCode != 0) return;
        PutInt64(paParams, 1, checkNumber);
        PutInt64(paParams, 2, sessionNumber);
        PutParamInt(paParams, 3, sessionState);
        PutParamStr(paParams, 4, XmlDocumentText(status));
    });
}

int TBaseDriverECR::CallOpenCashDrawer(TVariant& pvarRetValue, TParams& paParams) {
    return RunECRHandler(pvarRetValue, paParams, 1, [&] { FLastResultCode = OpenCashDrawer(); });
}

int TBaseDriverECR::CallGetLineLength(TVariant& pvarRetValue, TParams& paParams) {
    return RunECRHandler(pvarRetValue, paParams, 2, [&] {
        std::int32_t len = 0;
        FLastResultCode = GetLineLength(len);
        if (FLastResultCode == 0) PutParamInt(paParams, 1, len);
    });
}

// ---- base operations ----

std::int32_t TBaseDriverECR::GetDataKKT(pugi::xml_document&) { return errNotSupported; }

std::int32_t TBaseDriverECR::OperationFN(std::uint8_t, const pugi::xml_document&) { return errNotSupported; }

std::int32_t TBaseDriverECR::OpenShift(const std::string&, const std::string&, std::int64_t&, std::int64_t&,
                                       pugi::xml_document&) {
    return errNotSupported;
}

std::int32_t TBaseDriverECR::CloseShift(const std::string&, const std::string&, std::int64_t&, std::int64_t&,
                                        pugi::xml_document&) {
    return errNotSupported;
}

std::int32_t TBaseDriverECR::ProcessCheck(bool, const pugi::xml_document&, std::int64_t&, std::int64_t&,
                                          std::string& AFiscalSign, std::string& AAddressSiteInspections) {
    AFiscalSign.clear();
    AAddressSiteInspections.clear();
    return errNotSupported;
}

std::int32_t TBaseDriverECR::ProcessCorrectionCheck(const pugi::xml_document&, std::int64_t&, std::int64_t&,
                                                    std::string& AFiscalSign, std::string& AAddressSiteInspections) {
    AFiscalSign.clear();
    AAddressSiteInspections.clear();
    return errNotSupported;
}

std::int32_t TBaseDriverECR::PrintTextDocument(const pugi::xml_document&) { return errNotSupported; }

std::int32_t TBaseDriverECR::CashInOutcome(TCurrency, const std::string&, const std::string&) {
    return errNotSupported;
}

std::int32_t TBaseDriverECR::GetCurrentStatus(std::int64_t&, std::int64_t&, std::uint8_t&, pugi::xml_document&) {
    return errNotSupported;
}

std::int32_t TBaseDriverECR::ReportCurrentStatusOfSettlements(const std::string&, const std::string&,
                                                              pugi::xml_document&) {
    return errNotSupported;
}

std::int32_t TBaseDriverECR::OpenCashDrawer() { return errNotSupported; }

std::int32_t TBaseDriverECR::GetLineLength(std::int32_t& ALineLength) {
    ALineLength = FLineLen;
    return 0;
}

std::int32_t TBaseDriverECR::PrintXReport(const std::string&, const std::string&) { return errNotSupported; }

}  // namespace fr
