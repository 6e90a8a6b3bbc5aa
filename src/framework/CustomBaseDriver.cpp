#include "framework/CustomBaseDriver.h"

#include <fmt/format.h>

#include "framework/ErrorCodes.h"
#include "framework/Resources.h"
#include "platform/TextCase.h"
#include "platform/Xml.h"

namespace fr {
namespace {

std::string TrimBlanks(const std::string& s) {
    std::size_t b = 0, e = s.size();
    while (b < e && static_cast<unsigned char>(s[b]) <= ' ') ++b;
    while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ') --e;
    return s.substr(b, e - b);
}

// What a setting of type AType takes, for the text of a refused value.
const char* KindTaken(TDataType AType) {
    switch (AType) {
        case dtNumber: return "число";
        case dtString: return "строку";
        case dtDateTime: return "дату";
        case dtBoolean: return "булево значение (Истина или Ложь)";
    }
    return "строку";
}

// The value a host passed, as the refusal names it.
std::string KindGiven(const TVariant& AValue) {
    if (AValue.IsString()) return "строка \"" + AValue.AsString() + "\"";
    switch (AValue.VarType()) {
        case varEmpty:
        case varNull: return "пустое значение";
        case varBoolean: return "булево значение";
        case varDate: return "дата";
        case varSmallint:
        case varInteger:
        case varByte:
        case varSingle:
        case varDouble:
        case varCurrency: return "число " + AValue.AsString();
        default: return "значение другого типа";
    }
}

}  // namespace

bool IsStandardResultCode(std::int32_t ACode) {
    static constexpr std::int32_t kRanges[][2] = {{0, 1000},       {1002, 1999},   {2001, 2500},
                                                  {3001, 3500},    {4001, 4500},   {7001, 7500},
                                                  {8001, 8500},    {11001, 11500}, {99001, 99500}};
    for (const auto& r : kRanges)
        if (ACode >= r[0] && ACode <= r[1]) return true;
    return false;
}

TCustomBaseDriver::TCustomBaseDriver(TCreateKey AKey) : TBaseDriver(AKey) {
    FDriverInfo.Name = "Орвента: ККТ ТАРВИК VADODO";
    FDriverInfo.Description = "Драйвер ККТ ТАРВИК VADODO \"1С:Совместимо\"";
    FDriverInfo.EquipmentType = "";
    FDriverInfo.InterfaceRevision = 2005;
    FDriverInfo.DownloadURL = "https://orventa.ru/drivers/";
    FLastResultDescription.clear();
    FLastResultCode = 0;
}

void TCustomBaseDriver::InitMethods() {
    TBaseDriver::InitMethods();
    AddMethod("ПолучитьОписание", "GetDescription", 7,
              [this](TVariant& r, TParams& p) { return CallGetDescription(r, p); });
    AddMethod("ПолучитьОшибку", "GetLastError", 1,
              [this](TVariant& r, TParams& p) { return CallGetLastError(r, p); });
    AddMethod("ПолучитьПараметры", "GetParameters", 1,
              [this](TVariant& r, TParams& p) { return CallGetParameters(r, p); });
    AddMethod("УстановитьПараметр", "SetParameter", 2,
              [this](TVariant& r, TParams& p) { return CallSetParameter(r, p); });
    AddMethod("Подключить", "Open", 1, [this](TVariant& r, TParams& p) { return CallOpen(r, p); });
    AddMethod("Отключить", "Close", 1, [this](TVariant& r, TParams& p) { return CallClose(r, p); });
    AddMethod("ПолучитьДополнительныеДействия", "GetAdditionalActions", 1,
              [this](TVariant& r, TParams& p) { return CallGetAdditionalActions(r, p); });
    AddMethod("ВыполнитьДополнительноеДействие", "DoAdditionalAction", 1,
              [this](TVariant& r, TParams& p) { return CallDoAdditionalAction(r, p); });
    AddMethod("ТестУстройства", "DeviceTest", 2,
              [this](TVariant& r, TParams& p) { return CallDeviceTest(r, p); });
}

std::string TCustomBaseDriver::DescribeLastResult() const {
    if (!FLastResultDescription.empty()) return FLastResultDescription;
    if (IsStandardResultCode(FLastResultCode)) return GetErrorDescription(FLastResultCode, {}, {});
    return ResultText(FLastResultCode);
}

void TCustomBaseDriver::GetResultText(std::int32_t ACode, std::string& AText) const {
    AText = GetErrorDescription(ACode, FLastResultDescription, {});
}

std::string TCustomBaseDriver::ResultText(std::int32_t ACode) const {
    std::string text;
    GetResultText(ACode, text);
    return text;
}

// ---- handlers ----

int TCustomBaseDriver::CallGetDescription(TVariant& pvarRetValue, TParams& paParams) {
    FLastResultDescription.clear();
    if (!CheckParams(pvarRetValue, paParams, 7)) return 0;
    std::string name, description, equipmentType, downloadURL;
    std::int32_t revision = 0;
    bool integrationLibrary = false, mainDriverInstalled = false;
    FLastResultCode = GetDescription(name, description, equipmentType, revision, integrationLibrary,
                                     mainDriverInstalled, downloadURL);
    PutParamStr(paParams, 0, name);
    PutParamStr(paParams, 1, description);
    PutParamStr(paParams, 2, equipmentType);
    PutParamInt(paParams, 3, revision);
    PutParamVariant(paParams, 4, TVariant(integrationLibrary));
    PutParamVariant(paParams, 5, TVariant(mainDriverInstalled));
    PutParamStr(paParams, 6, downloadURL);
    pvarRetValue = TVariant(FLastResultCode == 0);
    return 0;
}

int TCustomBaseDriver::CallGetLastError(TVariant& pvarRetValue, TParams& paParams) {
    // Reports without changing the code or the description, even when the out-parameter is
    // missing.
    if (HasParams(paParams, 1)) PutParamStr(paParams, 0, LastResultDescription());
    pvarRetValue = TVariant(FLastResultCode);
    return 0;
}

int TCustomBaseDriver::CallGetParameters(TVariant& pvarRetValue, TParams& paParams) {
    FLastResultDescription.clear();
    if (!CheckParams(pvarRetValue, paParams, 1)) return 0;
    PutParamStr(paParams, 0, GetParameters());
    FLastResultCode = 0;
    pvarRetValue = TVariant(true);
    return 0;
}

int TCustomBaseDriver::CallSetParameter(TVariant& pvarRetValue, TParams& paParams) {
    FLastResultDescription.clear();
    if (!CheckParams(pvarRetValue, paParams, 2)) return 0;
    const std::string name = GetParam(paParams, 0).AsString();
    const TVariant& value = GetParam(paParams, 1);
    const TSettingStruct* setting = FindSetting(name);
    // A name no setting has is ignored (a host may pass settings of another driver); a value
    // the setting cannot take is refused, or the next Open would quietly use the old one.
    if (!setting) {
        FLog.Append("SetParameter", "no setting named \"" + name + "\": ignored", TLog::mtError);
    } else if (!SetSettingValue(name, value, false)) {
        FLastResultCode = errInvalidParameter;
        FLastResultDescription = fmt::format("{}; параметр {} ({}) принимает {}, получено: {}; значение не изменено",
                                             GetErrorDescription(errInvalidParameter), setting->ID, setting->Name,
                                             KindTaken(setting->ValueType), KindGiven(value));
        FLog.Append("SetParameter", FLastResultDescription, TLog::mtError);
        pvarRetValue = TVariant(false);
        return 0;
    }
    if (SameText(std::string_view(name), std::string_view("DebugLogEnabled"))) UpdateDebugLogEnabled();
    FLastResultCode = 0;
    pvarRetValue = TVariant(true);
    return 0;
}

int TCustomBaseDriver::CallOpen(TVariant& pvarRetValue, TParams& paParams) {
    FLastResultDescription.clear();
    if (!CheckParams(pvarRetValue, paParams, 1)) return 0;
    UpdateDebugLogEnabled();
    FLastResultCode = Enable();
    PutParamStr(paParams, 0, "0");
    pvarRetValue = TVariant(FLastResultCode == 0);
    FEnabled = FLastResultCode == 0;
    return 0;
}

int TCustomBaseDriver::CallClose(TVariant& pvarRetValue, TParams&) {
    FLastResultDescription.clear();
    Disable();
    FLastResultCode = 0;
    pvarRetValue = TVariant(true);
    FEnabled = false;
    return 0;
}

int TCustomBaseDriver::CallGetAdditionalActions(TVariant& pvarRetValue, TParams& paParams) {
    if (!CheckParams(pvarRetValue, paParams, 1)) return 0;
    PutParamStr(paParams, 0, GetAdditionalActions());
    FLastResultCode = 0;
    pvarRetValue = TVariant(true);
    return 0;
}

int TCustomBaseDriver::CallDoAdditionalAction(TVariant& pvarRetValue, TParams& paParams) {
    if (!CheckParams(pvarRetValue, paParams, 1)) return 0;
    FLastResultCode = DoAdditionalAction(GetParam(paParams, 0).AsString());
    pvarRetValue = TVariant(FLastResultCode == 0);
    return 0;
}

int TCustomBaseDriver::CallDeviceTest(TVariant& pvarRetValue, TParams& paParams) {
    FLastResultDescription.clear();
    if (!CheckParams(pvarRetValue, paParams, 2)) return 0;
    FLastResultCode = Enable();
    std::string text = TrimBlanks(ResultText(FLastResultCode));
    if (FLastResultCode == 0) {
        text.clear();
        FLastResultCode = DeviceTest(text);
        Disable();
    }
    PutParamStr(paParams, 0, text);
    PutParamStr(paParams, 1, "");
    pvarRetValue = TVariant(FLastResultCode == 0);
    return 0;
}

// ---- typed operations ----

std::int32_t TCustomBaseDriver::GetDescription(std::string& AName, std::string& ADescription,
                                               std::string& AEquipmentType, std::int32_t& AInterfaceRevision,
                                               bool& AIntegrationLibrary, bool& AMainDriverInstalled,
                                               std::string& ADownloadURL) {
    AName = FDriverInfo.Name;
    ADescription = FDriverInfo.Description;
    AEquipmentType = FDriverInfo.EquipmentType;
    AInterfaceRevision = FDriverInfo.InterfaceRevision;
    AIntegrationLibrary = false;
    AMainDriverInstalled = true;
    ADownloadURL = FDriverInfo.DownloadURL;
    return 0;
}

std::optional<std::string_view> TCustomBaseDriver::ParameterTableResource() const {
    return FindRawResource("TableParameters");
}

std::string TCustomBaseDriver::GetParameters() {
    pugi::xml_document doc;
    NewXmlDocument(doc);
    if (const auto table = ParameterTableResource()) {
        LoadXmlDocument(doc, *table);
    } else {
        auto page = doc.append_child("Settings").append_child("Page");
        page.append_attribute("Caption") = "Параметры";
        for (const auto& s : FSettingList) {
            auto p = page.append_child("Parameter");
            p.append_attribute("Name") = s.ID.c_str();
            p.append_attribute("Caption") = s.Name.c_str();
            p.append_attribute("TypeValue") = TypeValueName(s.ValueType);
            p.append_attribute("DefaultValue") = s.Default.AsString().c_str();
        }
    }
    return XmlDocumentText(doc);
}

std::int32_t TCustomBaseDriver::DeviceTest(std::string& ADescription) {
    ADescription = "Нет ошибок";
    return 0;
}

std::string TCustomBaseDriver::GetAdditionalActions() { return {}; }

std::int32_t TCustomBaseDriver::DoAdditionalAction(const std::string&) { return errNotSupported; }

}  // namespace fr
