#include "addin/AddInObject.h"

#include <cstdio>
#include <mutex>

#include <fmt/format.h>

#include "driver/Driver.h"
#include "framework/DriverClasses.h"
#include "framework/Log.h"
#include "platform/Encoding.h"
#include "platform/System.h"
#include "platform/TextCase.h"

namespace fr {
namespace {

// What the module does when it is loaded: name the log file and register the driver class.
// Run from a static initialiser of this unit (which every user of TAddInObject links) and again,
// once, from the first object's construction, so the order of static initialisers cannot matter.
void InitModule() {
    static const bool done = [] {
        TLog::SetLogFileName(kModuleBaseName);
        RegisterDriverClass<TDriver>(TDriver::kClassName);
        return true;
    }();
    (void)done;
}

struct TModuleInit {
    TModuleInit() { InitModule(); }
} gModuleInit;

// Objects on different host threads are numbered under this lock, each with a number of its own.
std::mutex gObjectCounterLock;
std::int32_t gObjectCounter = 0;

// The wrapper's own log lines never change a call's outcome (the log reports its own failures).
void SafeLog(const std::string& ACaption, const std::string& AMessage, TLog::TMsgType AKind) {
    try {
        TLog::Append(ACaption, AMessage, AKind);
    } catch (...) {
    }
}

// Every call on the object writes to its driver's log, the byte trace below the driver included.
class TDriverLogScope {
public:
    explicit TDriverLogScope(TBaseDriver* ADriver) : FScope(ADriver ? ADriver->Log() : TLog::Current()) {}

private:
    TLogScope FScope;
};

// Every line break (CR LF, a lone LF or a lone CR) as the two characters backslash and n, so
// that a log entry stays on one line.
std::string EscapeLineBreaks(const std::string& AText) {
    std::string out;
    out.reserve(AText.size());
    for (std::size_t i = 0; i < AText.size(); ++i) {
        const char c = AText[i];
        if (c == '\r') {
            out += "\\n";
            if (i + 1 < AText.size() && AText[i + 1] == '\n') ++i;
        } else if (c == '\n') {
            out += "\\n";
        } else {
            out += c;
        }
    }
    return out;
}

std::string ValueText(const TVariant& AValue) {
    try {
        return AValue.AsString();
    } catch (const EFrError&) {
        return VariantToLogText(AValue);
    }
}

}  // namespace

// ---- log texts ----

std::string VariantToLogText(const TVariant& AValue) {
    try {
        switch (AValue.VarType()) {
            case varArray: return VariantArrayToLogText(AValue);
            case varEmpty: return "EMPTY";
            case varNull: return "NULL";
            case varBoolean: return AValue.AsBool() ? "True" : "False";
            case varSmallint:
            case varInteger:
            case varSingle:
            case varDouble:
            case varCurrency:
            case varDate: return AValue.AsString();
            case varUString:
            case varString: return "'" + EscapeLineBreaks(AValue.AsString()) + "'";
            case varObject:
                return fmt::format("${:08X}", reinterpret_cast<std::uintptr_t>(AValue.AsObject().get()));
            case varByte:
                return SingleByteToUtf8(TBytes{static_cast<std::uint8_t>(AValue.AsInt())}, CodePage::Cp1251);
        }
    } catch (const EFrError&) {
        // A date beyond the calendar: the raw number of days.
        if (AValue.VarType() == varDate) return fmt::format("{}", AValue.AsDate().Days);
    }
    return {};
}

std::string VariantArrayToLogText(const TVariant& AValue) {
    if (!AValue.IsArray()) return VariantToLogText(AValue);
    return VariantArrayToLogText(AValue.AsArray());
}

std::string VariantArrayToLogText(const TParams& AParams) {
    if (AParams.empty()) return "EMPTY";
    std::string out = "[(";
    for (std::size_t i = 0; i < AParams.size(); ++i) {
        if (i > 0) out += "; ";
        out += VariantToLogText(AParams[i]);
    }
    return out + ")]";
}

// ---- object ----

TAddInObject::TAddInObject(std::string ADriverClassName) : FDriverClassName(std::move(ADriverClassName)) {
    InitModule();
    TLog::Start();
}

TAddInObject::~TAddInObject() {
    if (FDriver) {
        FDriver->SetExecExternalEvent({});
        FDriver->Log().SetFailureHandler({});
        FDriver->Log().SetWarningHandler({});
    }
}

std::int32_t TAddInObject::ObjectCounter() {
    std::lock_guard<std::mutex> lock(gObjectCounterLock);
    return gObjectCounter;
}

void TAddInObject::ReportLogFailure(const std::string& AReason) {
    if (!pErrorSink) return;
    pErrorSink->ShowWarning(kExtensionName,
                            Utf8ToUtf16("Журнал драйвера не записывается, работа продолжается без него: " + AReason));
}

HRESULT TAddInObject::Init(IHostConnection* pConnection) {
    pEvent = pConnection ? pConnection->QueryAsyncEvent() : nullptr;
    if (pEvent) {
        // The driver raises no events of its own, so a host that refuses the depth is noted and
        // the object still starts.
        const HRESULT hr = pEvent->SetEventBufferDepth(100);
        if (Failed(hr))
            SafeLog("Init",
                    fmt::format("The host's event service refused the buffer depth: 0x{:08X}",
                                static_cast<std::uint32_t>(hr)),
                    TLog::mtError);
    }
    pExtWnds = pConnection ? pConnection->QueryExtWndsSupport() : nullptr;
    pErrorSink = pConnection ? pConnection->QueryErrorSink() : nullptr;
    std::lock_guard<std::mutex> lock(gObjectCounterLock);
    FObjectNumber = gObjectCounter;
    if (!FDriver) {
        FDriver = CreateDriverByName(FDriverClassName);
        if (!FDriver) throw EFrError(fmt::format("No driver class \"{}\" is registered", FDriverClassName));
        FDriver->SetDriverObjNumber(static_cast<std::uint8_t>(FObjectNumber & 0xFF));
        FDriver->SetExecExternalEvent([this](const std::string& ASource, const std::string& AMessage,
                                             const std::string& AData) { ExecExternalEvent(ASource, AMessage, AData); });
    }
    FDriver->Log().SetFailureHandler([this](const std::string& AReason) { ReportLogFailure(AReason); });
    FDriver->Log().SetWarningHandler([this](const std::string& AText) {
        if (pErrorSink) pErrorSink->ShowWarning(kExtensionName, Utf8ToUtf16(AText));
    });
    ++gObjectCounter;
    return S_OK;
}

HRESULT TAddInObject::Done() {
    // The driver keeps only the low 8 bits of the object number; comparing those keeps objects
    // from the 257th on from leaking their driver (and its open port).
    if (FDriver && static_cast<std::uint8_t>(FObjectNumber & 0xFF) == FDriver->DriverObjNumber()) {
        FDriver->SetExecExternalEvent({});
        FDriver->Log().SetFailureHandler({});
        FDriver->Log().SetWarningHandler({});
        FDriver.reset();
    }
    pEvent = nullptr;
    pExtWnds = nullptr;
    pErrorSink = nullptr;
    return S_OK;
}

HRESULT TAddInObject::GetInfo(TParams& pInfo) {
    if (pInfo.empty()) pInfo.resize(1);
    pInfo[0] = TVariant(u"2000");
    return S_OK;
}

// ---- language extender ----

bool TAddInObject::PropInRange(std::int32_t APropNum) const {
    return FDriver && APropNum >= 0 && APropNum < FDriver->PropsCount();
}

bool TAddInObject::MethodInRange(std::int32_t AMethodNum) const {
    return FDriver && AMethodNum >= 0 && AMethodNum < FDriver->MethsCount();
}

HRESULT TAddInObject::RegisterExtensionAs(std::u16string& AExtensionName) {
    AExtensionName = kExtensionName;
    return S_OK;
}

HRESULT TAddInObject::GetNProps(std::int32_t& ACount) {
    ACount = FDriver ? FDriver->PropsCount() : 0;
    return S_OK;
}

HRESULT TAddInObject::FindProp(std::u16string_view AName, std::int32_t& APropNum) {
    APropNum = FDriver ? FDriver->GetPropNum(AName) : -1;
    return S_OK;
}

HRESULT TAddInObject::GetPropName(std::int32_t APropNum, std::int32_t AAlias, std::u16string& AName) {
    if (!PropInRange(APropNum)) return S_FALSE;
    const TSettingStruct& s = FDriver->GetProperty(APropNum);
    AName = Utf8ToUtf16(AAlias != 0 ? s.Alias : s.ID);
    return S_OK;
}

HRESULT TAddInObject::GetPropVal(std::int32_t APropNum, TVariant& AValue) {
    AValue = TVariant();
    if (!PropInRange(APropNum)) return S_FALSE;
    AValue = FDriver->GetProperty(APropNum).Value;
    return S_OK;
}

HRESULT TAddInObject::SetPropVal(std::int32_t APropNum, const TVariant& AValue) {
    if (!PropInRange(APropNum)) return S_FALSE;
    TDriverLogScope logScope(FDriver.get());
    TSettingStruct& s = FDriver->GetProperty(APropNum);
    s.Value = AValue;
    if (SameText(std::string_view(s.ID), std::string_view("DebugLogEnabled"))) {
        try {
            FDriver->UpdateDebugLogEnabled();
        } catch (const EFrError&) {
            // A value that is not a Boolean leaves the log as it was.
        }
    }
    SafeLog("SetPropVal", s.ID + "=" + ValueText(AValue), TLog::mtInfo);
    return S_OK;
}

HRESULT TAddInObject::IsPropReadable(std::int32_t, bool&) { return S_OK; }
HRESULT TAddInObject::IsPropWritable(std::int32_t, bool&) { return S_OK; }

HRESULT TAddInObject::GetNMethods(std::int32_t& ACount) {
    ACount = FDriver ? FDriver->MethsCount() : 0;
    return S_OK;
}

HRESULT TAddInObject::FindMethod(std::u16string_view AName, std::int32_t& AMethodNum) {
    AMethodNum = FDriver ? FDriver->GetMethodNum(AName) : -1;
    return S_OK;
}

HRESULT TAddInObject::GetMethodName(std::int32_t AMethodNum, std::int32_t, std::u16string& AName) {
    if (!MethodInRange(AMethodNum)) return S_FALSE;
    AName = Utf8ToUtf16(FDriver->GetMethod(AMethodNum).Name);
    return S_OK;
}

HRESULT TAddInObject::GetNParams(std::int32_t AMethodNum, std::int32_t& ACount) {
    if (!MethodInRange(AMethodNum)) return S_FALSE;
    ACount = FDriver->GetMethod(AMethodNum).ParamsCount;
    return S_OK;
}

HRESULT TAddInObject::GetParamDefValue(std::int32_t, std::int32_t, TVariant& AValue) {
    AValue = TVariant();
    return S_OK;
}

HRESULT TAddInObject::HasRetVal(std::int32_t, std::int32_t& AFlag) {
    AFlag = 1;
    return S_OK;
}

HRESULT TAddInObject::CallAsProc(std::int32_t AMethodNum, TParams& AParams) {
    TVariant ret;
    return CallMethod(AMethodNum, ret, AParams, false);
}

HRESULT TAddInObject::CallAsFunc(std::int32_t AMethodNum, TVariant& ARetValue, TParams& AParams) {
    return CallMethod(AMethodNum, ARetValue, AParams, true);
}

HRESULT TAddInObject::SetLocale(std::u16string_view) { return S_OK; }

HRESULT TAddInObject::CallMethod(std::int32_t AMethodNum, TVariant& ARetValue, TParams& AParams, bool AAsFunc) {
    if (!MethodInRange(AMethodNum)) return S_FALSE;
    const TMethodStruct& method = FDriver->GetMethod(AMethodNum);
    TDriverLogScope logScope(FDriver.get());

    struct TFocusGuard {
        TBaseDriver* Driver = nullptr;
        ~TFocusGuard() {
            if (Driver) Driver->RestoreFocus();
        }
    } focus;
    if (FDriver->AutoKeepFocus()) {
        FDriver->StoreFocus();
        focus.Driver = FDriver.get();
    }

    try {
        SafeLog("> " + method.Name, "Params: " + VariantArrayToLogText(AParams), TLog::mtInfo);
        const HRESULT result = method.DriverMethod(ARetValue, AParams);
        SafeLog("< " + method.Name,
                "Result=" + VariantToLogText(ARetValue) + "; Params: " + VariantArrayToLogText(AParams) +
                    "; LastResultDescription: " + FDriver->StoredResultDescription(),
                TLog::mtInfo);
        if (AAsFunc && FDriver->PlatformVer() == pv77 && ARetValue.VarType() == varBoolean)
            ARetValue = TVariant(static_cast<std::int32_t>(ARetValue.AsBool() ? 1 : 0));
        return result;
    } catch (const std::exception& e) {
        ReportException(method.Name, e.what());
        return S_FALSE;
    }
}

void TAddInObject::ReportException(const std::string& AMethodName, const std::string& AMessage) {
    SafeLog("EXCEPTION", AMessage, TLog::mtError);
    std::fprintf(stderr, "%s: EXCEPTION in %s: %s\n", kModuleBaseName, AMethodName.c_str(), AMessage.c_str());
    if (!pErrorSink) return;
    try {
        pErrorSink->ShowError(u"EXCEPTION", Utf8ToUtf16("Method: " + AMethodName + "\r\nMessage: " + AMessage));
    } catch (...) {
        // The host's error service is the last resort; nothing is left to report its failure to.
    }
}

// ---- property link, property pages, dispatch ----

HRESULT TAddInObject::ChangeSettings() {
    if (!FDriver || !FDriver->CapSettingsDlg()) return S_FALSE;
    TDriverLogScope logScope(FDriver.get());
    FDriver->ReadSettings();
    if (FDriver->ShowSettingsDlg()) FDriver->SaveSettings();
    return S_OK;
}

HRESULT TAddInObject::CapSettingsDlg(bool& AFlag) {
    AFlag = false;
    if (!FDriver) return S_FALSE;
    AFlag = FDriver->CapSettingsDlg();
    return S_OK;
}

HRESULT TAddInObject::GetPages(std::vector<std::string>& APageIds) {
    APageIds.assign(1, kPropertyPageId);
    return S_OK;
}

HRESULT TAddInObject::GetTypeInfoCount(std::uint32_t&) { return E_NOTIMPL; }
HRESULT TAddInObject::GetTypeInfo() { return E_NOTIMPL; }
HRESULT TAddInObject::GetIDsOfNames() { return E_NOTIMPL; }
HRESULT TAddInObject::Invoke() { return E_NOTIMPL; }

// ---- host services ----

void TAddInObject::ExecExternalEvent(const std::string& strSource, const std::string& strMessage,
                                     const std::string& strData) {
    if (!pEvent) return;
    const HRESULT hr = pEvent->ExternalEvent(Utf8ToUtf16(strSource), Utf8ToUtf16(strMessage), Utf8ToUtf16(strData));
    if (Failed(hr))
        throw EHostError(fmt::format("The host's event service failed: 0x{:08X}", static_cast<std::uint32_t>(hr)));
}

}  // namespace fr
