#include "framework/BaseDriver.h"

#include <fmt/format.h>

#include "framework/ErrorCodes.h"
#include "framework/Log.h"
#include "platform/Encoding.h"
#include "platform/System.h"
#include "platform/TextCase.h"

namespace fr {

TPlatformVer DetectPlatformVer(const std::string& AHostExeName) {
    const std::string prefix = UpperCaseAscii(ExtractFileName(AHostExeName)).substr(0, 4);
    if (prefix == "1CV7") return pv77;
    if (prefix == "1CV8") return pv81;
    return pvUnknown;
}

std::string GetModuleVersionText() {
    int major, minor, patch, build;
    ModuleVersion(major, minor, patch, build);
    return fmt::format("{}.{}.{}.{}", major, minor, patch, build);
}

TBaseDriver::TBaseDriver(TCreateKey) : FPlatformVer(DetectPlatformVer(HostExeName())) {}

TBaseDriver::~TBaseDriver() = default;

void TBaseDriver::Initialize() {
    InitSettings();
    InitMethods();
    FLastResultCode = 0;
}

// ---- registry ----

int TBaseDriver::AddMethod(const std::string& AName, int AParamsCount, TDriverMethod AHandler) {
    return AddMethod(AName, std::string(), AParamsCount, std::move(AHandler));
}

int TBaseDriver::AddMethod(const std::string& AName, const std::string& AAlias, int AParamsCount,
                           TDriverMethod AHandler) {
    FMethodList.push_back({AName, AAlias, std::move(AHandler), AParamsCount});
    return static_cast<int>(FMethodList.size()) - 1;
}

int TBaseDriver::GetMethodNum(std::u16string_view AMethName) const {
    return GetMethodNum(std::string_view(Utf16ToUtf8(AMethName)));
}

int TBaseDriver::GetMethodNum(std::string_view AMethName) const {
    for (std::size_t i = 0; i < FMethodList.size(); ++i) {
        const auto& m = FMethodList[i];
        if (SameText(std::string_view(m.Name), AMethName) ||
            (!m.Alias.empty() && SameText(std::string_view(m.Alias), AMethName)))
            return static_cast<int>(i);
    }
    return -1;
}

const TMethodStruct* TBaseDriver::FindMethod(std::u16string_view AMethName) const {
    const int i = GetMethodNum(AMethName);
    return i < 0 ? nullptr : &FMethodList[static_cast<std::size_t>(i)];
}

int TBaseDriver::GetPropNum(std::u16string_view APropName) const {
    return GetPropNum(std::string_view(Utf16ToUtf8(APropName)));
}

int TBaseDriver::GetPropNum(std::string_view APropName) const {
    for (std::size_t i = 0; i < FSettingList.size(); ++i) {
        const auto& s = FSettingList[i];
        if (SameText(std::string_view(s.ID), APropName) ||
            (!s.Alias.empty() && SameText(std::string_view(s.Alias), APropName)))
            return static_cast<int>(i);
    }
    return -1;
}

// ---- shared state ----

void TBaseDriver::SetEnabled(bool AValue) {
    if (AValue) {
        FEnabled = Enable() == 0;
    } else {
        Disable();
        FEnabled = false;
    }
}

void TBaseDriver::SetDebugLogEnabled(bool AValue) { FLog.SetLogLevel(AValue ? 3 : 0); }

void TBaseDriver::ClearError() {
    FLastResultCode = 0;
    FLastResultDescription.clear();
}

void TBaseDriver::StoreFocus() { FWindows.push_back(0); }

void TBaseDriver::RestoreFocus() {
    if (!FWindows.empty()) FWindows.pop_back();
}

void TBaseDriver::UpdateDebugLogEnabled() { SetDebugLogEnabled(GetSettingValueBool("DebugLogEnabled")); }

// ---- virtual operations ----

std::int32_t TBaseDriver::Enable(std::string&) { return errNotSupported; }

std::int32_t TBaseDriver::Enable() {
    std::string scratch;
    const std::int32_t rc = Enable(scratch);
    FEnabled = rc == 0;
    return rc;
}

void TBaseDriver::Disable() {}

bool TBaseDriver::ShowSettingsDlg() { return false; }

void TBaseDriver::InitSettings() {
    AddSetting("DebugLogEnabled", "DebugLogEnabled", dtBoolean, TVariant(false), false, "Отладочный лог",
               "Если равно True, ведется отладочный лог");
}

void TBaseDriver::InitMethods() {
    AddMethod("ShowSettingsDlg", "ОтобразитьФормуНастроек", 0,
              [this](TVariant& r, TParams& p) { return CallShowSettingsDlg(r, p); });
    AddMethod("GetVersion", "ПолучитьНомерВерсии", 0,
              [this](TVariant& r, TParams& p) { return CallGetVersion(r, p); });
    if (FPlatformVer == pv77) {
        AddMethod("ReadSettings", "СчитатьНастройки", 0,
                  [this](TVariant& r, TParams& p) { return CallReadSettings(r, p); });
        AddMethod("SaveSettings", "ЗаписатьНастройки", 0,
                  [this](TVariant& r, TParams& p) { return CallSaveSettings(r, p); });
        AddMethod("SetDeviceID", "УстановитьИдентификаторУстройства", 1,
                  [this](TVariant& r, TParams& p) { return CallSetDeviceID(r, p); });
    }
}

// ---- handlers ----

bool TBaseDriver::CheckParams(TVariant& pvarRetValue, const TParams& paParams, std::size_t ACount) {
    if (HasParams(paParams, ACount)) return true;
    FLastResultCode = errInvalidParameter;
    FLastResultDescription.clear();
    pvarRetValue = TVariant(false);
    FLog.Append("Parameters", fmt::format("{} parameter(s) passed, {} expected", paParams.size(), ACount),
                 TLog::mtError);
    return false;
}

int TBaseDriver::CallShowSettingsDlg(TVariant& pvarRetValue, TParams&) {
    pvarRetValue = TVariant(ShowSettingsDlg());
    return 0;
}

int TBaseDriver::CallGetVersion(TVariant& pvarRetValue, TParams&) {
    pvarRetValue = TVariant(GetModuleVersionText());
    return 0;
}

int TBaseDriver::CallReadSettings(TVariant&, TParams&) {
    ReadSettings();
    return 0;
}

int TBaseDriver::CallSaveSettings(TVariant&, TParams&) {
    SaveSettings();
    return 0;
}

int TBaseDriver::CallSetDeviceID(TVariant& pvarRetValue, TParams& paParams) {
    if (!HasParams(paParams, 1)) {
        // The return value stays as the host passed it, as on success.
        FLog.Append("SetDeviceID", "no device identifier passed", TLog::mtError);
        return 0;
    }
    (void)pvarRetValue;
    FDeviceID = GetParam(paParams, 0).AsString();
    return 0;
}

}  // namespace fr
