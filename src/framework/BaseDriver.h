#pragma once
// The root of the driver class chain TBaseDriver -> TCustomBaseDriver -> TBaseDriverECR ->
// TDriver: the method registry, the settings list and the state every operation shares.
//
// Construction is two-step so that the most derived InitSettings/InitMethods run once the
// platform is known and every constructor has finished: drivers are made only through
// TBaseDriver::Create<T>(), which constructs T and then runs Initialize(). The constructors take
// a TCreateKey that only Create can make, so a half-built driver cannot escape.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "framework/Log.h"
#include "framework/Settings.h"
#include "framework/Variant.h"

namespace fr {

enum TPlatformVer { pvUnknown = 0, pv77 = 1, pv81 = 2, pv82 = 3 };

// From the host executable's file name: "1CV7..." gives pv77, "1CV8..." (1cv8c too) pv81, any
// letter case; anything else pvUnknown. pv82 is never produced.
TPlatformVer DetectPlatformVer(const std::string& AHostExeName);

// A host method handler: the host's return value and parameter array, both in/out.
// Returns an HRESULT; every handler of this system returns 0 and reports the outcome in the
// return value and in LastResultCode.
using TDriverMethod = std::function<int(TVariant& pvarRetValue, TParams& paParams)>;

struct TMethodStruct {
    std::string Name;   // the name the host is told and the call log shows
    std::string Alias;  // second name; empty when none
    TDriverMethod DriverMethod;
    int ParamsCount = 0;
};

using TExternalEventProc =
    std::function<void(const std::string& strSource, const std::string& strMessage, const std::string& strData)>;

// "%d.%d.%d.%d" of the module's file version.
std::string GetModuleVersionText();

class TBaseDriver {
public:
    class TCreateKey {
        TCreateKey() = default;
        friend class TBaseDriver;
    };

    // Constructs T and completes it (InitSettings, InitMethods).
    template <class T, class... TArgs>
    static std::unique_ptr<T> Create(TArgs&&... AArgs) {
        std::unique_ptr<T> driver(new T(TCreateKey{}, std::forward<TArgs>(AArgs)...));
        static_cast<TBaseDriver&>(*driver).Initialize();
        return driver;
    }

    explicit TBaseDriver(TCreateKey);
    virtual ~TBaseDriver();
    TBaseDriver(const TBaseDriver&) = delete;
    TBaseDriver& operator=(const TBaseDriver&) = delete;

    // ---- registry ----
    int AddMethod(const std::string& AName, int AParamsCount, TDriverMethod AHandler);
    int AddMethod(const std::string& AName, const std::string& AAlias, int AParamsCount, TDriverMethod AHandler);
    // Index of the first entry whose Name or Alias equals AMethName without regard to letter
    // case (Latin and Cyrillic); -1 when none.
    int GetMethodNum(std::u16string_view AMethName) const;
    int GetMethodNum(std::string_view AMethName) const;
    const TMethodStruct* FindMethod(std::u16string_view AMethName) const;
    // No range check beyond std::vector::at: callers check 0 <= AIndex < MethsCount().
    const TMethodStruct& GetMethod(int AIndex) const { return FMethodList.at(static_cast<std::size_t>(AIndex)); }
    int MethsCount() const { return static_cast<int>(FMethodList.size()); }
    const std::vector<TMethodStruct>& MethodList() const { return FMethodList; }

    // ---- properties (the settings) ----
    int GetPropNum(std::u16string_view APropName) const;
    int GetPropNum(std::string_view APropName) const;
    TSettingStruct& GetProperty(int AIndex) { return FSettingList.at(static_cast<std::size_t>(AIndex)); }
    const TSettingStruct& GetProperty(int AIndex) const { return FSettingList.at(static_cast<std::size_t>(AIndex)); }
    int PropsCount() const { return SettingsCount(); }
    int SettingsCount() const { return static_cast<int>(FSettingList.size()); }
    const std::vector<TSettingStruct>& Settings() const { return FSettingList; }

    // ---- settings store ----
    int AddSetting(const std::string& AID, TDataType AValueType, const TVariant& ADefault, bool AReadOnly,
                   const std::string& AName, const std::string& ADescription);
    int AddSetting(const std::string& AID, const std::string& AAlias, TDataType AValueType,
                   const TVariant& ADefault, bool AReadOnly, const std::string& AName,
                   const std::string& ADescription);
    TSettingStruct* FindSetting(std::string_view AID);
    const TSettingStruct* FindSetting(std::string_view AID) const;
    const TSettingStruct* GetSetting(int AIndex) const;  // nullptr when out of range
    // Empty when no setting matches; the default or the current value otherwise.
    TVariant GetSettingValue(std::string_view AID, bool ADefault = false) const;
    bool GetSettingValueBool(std::string_view AID) const;
    std::int32_t GetSettingValueInt(std::string_view AID) const;
    TCurrency GetSettingValueCurr(std::string_view AID) const;
    double GetSettingValueDbl(std::string_view AID) const;
    std::string GetSettingValueStr(std::string_view AID) const;
    TDate GetSettingValueDate(std::string_view AID) const;
    bool GetSettingReadOnly(std::string_view AID) const;
    // The ID of the first setting whose value cannot be read as its type (the property interface
    // stores whatever the host passes); empty when every value reads.
    std::string SettingOfWrongKind() const;
    // Stores AValue when its kind matches the setting's type; otherwise, with ACastToType and a
    // string value, stores the text converted to the type; otherwise changes nothing. An unknown
    // name changes nothing. Returns whether the value was stored.
    bool SetSettingValue(std::string_view AID, const TVariant& AValue, bool ACastToType);
    void SetAllSettingsDefault();
    void StoreSettings(const std::vector<std::string>& AIDs);
    void RestoreSettings();
    // 7.7 hosts only; elsewhere they do nothing. Throw EOSError when the file cannot be read or
    // written, EConvertError for an unreadable date.
    void ReadSettings();
    void SaveSettings();
    // <data folder>fr_tarvikonline1c83/<device id>.sts; creates the folder when missing.
    std::string GetSettingsFileName() const;

    // ---- shared state ----
    const std::string& DeviceID() const { return FDeviceID; }
    void SetDeviceID(const std::string& AValue) { FDeviceID = AValue; }
    std::uint8_t DriverObjNumber() const { return FDriverObjNumber; }
    void SetDriverObjNumber(std::uint8_t AValue) { FDriverObjNumber = AValue; }
    bool AutoKeepFocus() const { return FAutoKeepFocus; }
    void SetAutoKeepFocus(bool AValue) { FAutoKeepFocus = AValue; }
    const TExternalEventProc& ExecExternalEvent() const { return FExternalEvent; }
    void SetExecExternalEvent(TExternalEventProc AProc) { FExternalEvent = std::move(AProc); }
    bool Enabled() const { return FEnabled; }
    // true: Enabled := (Enable() = 0); false: Disable(), then Enabled := false.
    void SetEnabled(bool AValue);
    TPlatformVer PlatformVer() const { return FPlatformVer; }
    bool CapSettingsDlg() const { return FCapSettingsDlg; }
    std::int32_t LastResultCode() const { return FLastResultCode; }
    virtual std::string LastResultDescription() const { return FLastResultDescription; }
    void SetLastResultDescription(const std::string& AValue) { FLastResultDescription = AValue; }
    // The stored description itself (may be empty), as the call log shows it.
    const std::string& StoredResultDescription() const { return FLastResultDescription; }
    // true: log level 3 (everything); false: 0 (off).
    void SetDebugLogEnabled(bool AValue);
    // This driver's own log; writers below the driver reach it through a TLogScope.
    TLogSink& Log() { return FLog; }

    void ClearError();
    // Focus keeping: there is no host window to manage on this system; both are no-ops
    // apart from keeping the stack balanced.
    void StoreFocus();
    void RestoreFocus();
    std::size_t FocusStackDepth() const { return FWindows.size(); }
    void UpdateDebugLogEnabled();

    // ---- virtual operations ----
    virtual std::int32_t Enable(std::string& AResultDescription);
    virtual std::int32_t Enable();
    virtual void Disable();
    virtual bool ShowSettingsDlg();

protected:
    virtual void InitSettings();
    virtual void InitMethods();

    // Answers 1004 (return value false) when the call has fewer than ACount parameters.
    bool CheckParams(TVariant& pvarRetValue, const TParams& paParams, std::size_t ACount);

    int CallShowSettingsDlg(TVariant& pvarRetValue, TParams& paParams);
    int CallGetVersion(TVariant& pvarRetValue, TParams& paParams);
    int CallReadSettings(TVariant& pvarRetValue, TParams& paParams);
    int CallSaveSettings(TVariant& pvarRetValue, TParams& paParams);
    int CallSetDeviceID(TVariant& pvarRetValue, TParams& paParams);

    // First: it outlives every other member, so their destruction may still write to it.
    TLogSink FLog;
    std::string FDeviceID = "default";
    std::uint8_t FDriverObjNumber = 0;
    std::vector<std::uintptr_t> FWindows;
    bool FAutoKeepFocus = false;
    TExternalEventProc FExternalEvent;
    bool FEnabled = false;
    TPlatformVer FPlatformVer = pvUnknown;
    bool FCapSettingsDlg = false;
    std::int32_t FLastResultCode = 0;
    std::string FLastResultDescription;
    std::vector<TMethodStruct> FMethodList;
    std::vector<TSettingStruct> FSettingList;
    std::vector<TShortSettingStruct> FBufSettings;

private:
    void Initialize();
};

}  // namespace fr
