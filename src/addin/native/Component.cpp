#include "addin/native/Component.h"

#include <cstdio>
#include <exception>
#include <limits>
#include <string_view>
#include <vector>

#include "addin/NativeVariant.h"
#include "framework/Log.h"
#include "platform/Encoding.h"

namespace fr::native {
namespace {

// The platform's numbers are 64-bit; one beyond 32 bits is no property or method of ours.
std::int32_t Index(long AValue) {
    if (AValue < std::numeric_limits<std::int32_t>::min() || AValue > std::numeric_limits<std::int32_t>::max())
        return -1;
    return static_cast<std::int32_t>(AValue);
}

// The platform takes char16_t* (not const) for event texts; give it copies it may touch.
std::vector<char16_t> Mutable(const std::u16string& AText) { return {AText.c_str(), AText.c_str() + AText.size() + 1}; }

bool IsAscii(std::string_view AText) {
    for (const char c : AText)
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    return true;
}

// The platform asks for the English name with language 0 and the Russian one with 1; the
// registry keeps the two as a name and an alias in either order. A missing one falls back to
// the other.
std::u16string NameInLanguage(const std::string& AName, const std::string& AAlias, long ALanguage) {
    const bool wantEnglish = ALanguage == 0;
    for (const std::string* candidate : {&AName, &AAlias})
        if (!candidate->empty() && IsAscii(*candidate) == wantEnglish) return Utf8ToUtf16(*candidate);
    return Utf8ToUtf16(AName.empty() ? AAlias : AName);
}

}  // namespace

HRESULT THostServices::SetEventBufferDepth(std::int32_t ADepth) {
    if (!FConnection) return E_FAIL;
    return FConnection->SetEventBufferDepth(ADepth) ? S_OK : E_FAIL;
}

HRESULT THostServices::ExternalEvent(const std::u16string& ASource, const std::u16string& AMessage,
                                     const std::u16string& AData) {
    if (!FConnection) return E_FAIL;
    auto source = Mutable(ASource), message = Mutable(AMessage), data = Mutable(AData);
    return FConnection->ExternalEvent(source.data(), message.data(), data.data()) ? S_OK : E_FAIL;
}

void THostServices::ShowError(const std::u16string& ACaption, const std::u16string& AText) {
    if (FConnection) FConnection->AddError(ADDIN_E_MSGBOX_FAIL, ACaption.c_str(), AText.c_str(), 0);
}

void THostServices::ShowWarning(const std::u16string& ACaption, const std::u16string& AText) {
    // A message in the platform's message window, no box: the work goes on.
    if (FConnection) FConnection->AddError(ADDIN_E_ATTENTION, ACaption.c_str(), AText.c_str(), 0);
}

TNativeComponent::TNativeComponent() = default;

TNativeComponent::~TNativeComponent() {
    // A platform that destroys the object without Done still gets the driver closed.
    try {
        if (FObject.Driver()) FObject.Done();
    } catch (...) {
    }
}

void TNativeComponent::ReportFailure(const std::string& AOperation, const std::string& AMessage) noexcept {
    try {
        if (TBaseDriver* driver = FObject.Driver())
            driver->Log().Append("EXCEPTION", AMessage, TLog::mtError);
        else
            TLog::Append("EXCEPTION", AMessage, TLog::mtError);
    } catch (...) {
    }
    std::fprintf(stderr, "fr_tarvikonline1c83: %s: %s\n", AOperation.c_str(), AMessage.c_str());
    try {
        if (IAddInDefBase* connection = FServices.Connection()) {
            const std::u16string text = Utf8ToUtf16("Method: " + AOperation + "\r\nMessage: " + AMessage);
            connection->AddError(ADDIN_E_MSGBOX_FAIL, u"EXCEPTION", text.c_str(), 0);
        }
    } catch (...) {
    }
}

template <class R, class F>
R TNativeComponent::Guarded(const char* AOperation, R AOnFailure, F&& ABody) noexcept {
    try {
        return ABody();
    } catch (const std::exception& e) {
        ReportFailure(AOperation, e.what());
    } catch (...) {
        ReportFailure(AOperation, "unknown exception");
    }
    return AOnFailure;
}

bool TNativeComponent::Init(void* disp) noexcept {
    FServices.Attach(static_cast<IAddInDefBase*>(disp));
    return Guarded("Init", false, [&] { return FObject.Init(&FServices) == S_OK; });
}

bool TNativeComponent::setMemManager(void* mem) noexcept {
    FMemory = static_cast<IMemoryManager*>(mem);
    return FMemory != nullptr;
}

long TNativeComponent::GetInfo() noexcept {
    return Guarded("GetInfo", 2000L, [&] {
        TParams info;
        if (FObject.GetInfo(info) != S_OK || info.empty()) return 2000L;
        return static_cast<long>(info[0].AsInt());
    });
}

void TNativeComponent::Done() noexcept {
    Guarded("Done", 0, [&] { return FObject.Done(); });
    FServices.Attach(nullptr);
}

bool TNativeComponent::RegisterExtensionAs(char16_t** wsExtensionName) noexcept {
    return Guarded("RegisterExtensionAs", false, [&] {
        if (!wsExtensionName) return false;
        std::u16string name;
        if (FObject.RegisterExtensionAs(name) != S_OK) return false;
        *wsExtensionName = AllocPlatformString(FMemory, name);
        return *wsExtensionName != nullptr;
    });
}

long TNativeComponent::GetNProps() noexcept {
    return Guarded("GetNProps", 0L, [&] {
        std::int32_t n = 0;
        return FObject.GetNProps(n) == S_OK ? static_cast<long>(n) : 0L;
    });
}

long TNativeComponent::FindProp(const char16_t* wsPropName) noexcept {
    return Guarded("FindProp", -1L, [&] {
        std::int32_t n = -1;
        return FObject.FindProp(PlatformStringView(wsPropName, 1024), n) == S_OK ? static_cast<long>(n) : -1L;
    });
}

const char16_t* TNativeComponent::GetPropName(long lPropNum, long lPropAlias) noexcept {
    return Guarded("GetPropName", static_cast<const char16_t*>(nullptr), [&]() -> const char16_t* {
        std::u16string name;
        const std::int32_t n = Index(lPropNum);
        if (FObject.GetPropName(n, 0, name) != S_OK) return nullptr;
        const TSettingStruct& s = FObject.Driver()->GetProperty(n);
        return AllocPlatformString(FMemory, NameInLanguage(s.ID, s.Alias, lPropAlias));
    });
}

bool TNativeComponent::GetPropVal(long lPropNum, tVariant* pvarPropVal) noexcept {
    if (!pvarPropVal) return false;
    ClearVariant(*pvarPropVal);
    return Guarded("GetPropVal", false, [&] {
        TVariant value;
        if (FObject.GetPropVal(Index(lPropNum), value) != S_OK) return false;
        ToPlatformValue(value, *pvarPropVal, FMemory);
        return true;
    });
}

bool TNativeComponent::SetPropVal(long lPropNum, tVariant* varPropVal) noexcept {
    if (!varPropVal) return false;
    return Guarded("SetPropVal", false,
                   [&] { return FObject.SetPropVal(Index(lPropNum), ToHostValue(*varPropVal)) == S_OK; });
}

bool TNativeComponent::IsPropReadable(long lPropNum) noexcept {
    return Guarded("IsPropReadable", false, [&] {
        bool flag = true;
        return FObject.IsPropReadable(Index(lPropNum), flag) == S_OK && flag;
    });
}

bool TNativeComponent::IsPropWritable(long lPropNum) noexcept {
    return Guarded("IsPropWritable", false, [&] {
        bool flag = true;
        return FObject.IsPropWritable(Index(lPropNum), flag) == S_OK && flag;
    });
}

long TNativeComponent::GetNMethods() noexcept {
    return Guarded("GetNMethods", 0L, [&] {
        std::int32_t n = 0;
        return FObject.GetNMethods(n) == S_OK ? static_cast<long>(n) : 0L;
    });
}

long TNativeComponent::FindMethod(const char16_t* wsMethodName) noexcept {
    return Guarded("FindMethod", -1L, [&] {
        std::int32_t n = -1;
        return FObject.FindMethod(PlatformStringView(wsMethodName, 1024), n) == S_OK ? static_cast<long>(n) : -1L;
    });
}

const char16_t* TNativeComponent::GetMethodName(long lMethodNum, long lMethodAlias) noexcept {
    return Guarded("GetMethodName", static_cast<const char16_t*>(nullptr), [&]() -> const char16_t* {
        std::u16string name;
        const std::int32_t n = Index(lMethodNum);
        if (FObject.GetMethodName(n, 0, name) != S_OK) return nullptr;
        const TMethodStruct& m = FObject.Driver()->GetMethod(n);
        return AllocPlatformString(FMemory, NameInLanguage(m.Name, m.Alias, lMethodAlias));
    });
}

long TNativeComponent::GetNParams(long lMethodNum) noexcept {
    return Guarded("GetNParams", 0L, [&] {
        std::int32_t n = 0;
        return FObject.GetNParams(Index(lMethodNum), n) == S_OK ? static_cast<long>(n) : 0L;
    });
}

bool TNativeComponent::GetParamDefValue(long lMethodNum, long lParamNum, tVariant* pvarParamDefValue) noexcept {
    if (!pvarParamDefValue) return false;
    ClearVariant(*pvarParamDefValue);
    return Guarded("GetParamDefValue", false, [&] {
        TVariant value;
        if (FObject.GetParamDefValue(Index(lMethodNum), Index(lParamNum), value) != S_OK) return false;
        ToPlatformValue(value, *pvarParamDefValue, FMemory);
        return true;
    });
}

bool TNativeComponent::HasRetVal(long lMethodNum) noexcept {
    return Guarded("HasRetVal", false, [&] {
        std::int32_t flag = 0;
        return FObject.HasRetVal(Index(lMethodNum), flag) == S_OK && flag != 0;
    });
}

std::string TNativeComponent::MethodNameOf(std::int32_t AMethodNum) {
    std::u16string name;
    if (FObject.GetMethodName(AMethodNum, 0, name) != S_OK) return std::to_string(AMethodNum);
    return Utf16ToUtf8(name);
}

// The platform's array in and out: values are read into host values, the add-in object runs
// the call, and only the slots the call changed are written back, so that the platform's own
// strings in the others stay as they were. A date goes back in the form it came in.
bool TNativeComponent::Call(long lMethodNum, tVariant* pvarRetValue, tVariant* paParams, long lSizeArray) {
    const std::int32_t num = Index(lMethodNum);
    if (lSizeArray < 0 || (lSizeArray > 0 && !paParams)) return false;
    const auto count = static_cast<std::size_t>(lSizeArray);
    TParams params;
    params.reserve(count);
    try {
        for (std::size_t i = 0; i < count; ++i) params.push_back(ToHostValue(paParams[i]));
    } catch (const EFrError& e) {
        ReportFailure(MethodNameOf(num), e.what());
        return false;
    }
    const TParams before = params;
    TVariant result;
    const HRESULT hr = pvarRetValue ? FObject.CallAsFunc(num, result, params) : FObject.CallAsProc(num, params);

    bool written = true;
    for (std::size_t i = 0; i < count && i < params.size(); ++i) {
        if (params[i] == before[i]) continue;
        const TDateForm form = paParams[i].vt == VTYPE_TM ? TDateForm::Tm : TDateForm::Double;
        try {
            ToPlatformValue(params[i], paParams[i], FMemory, form);
        } catch (const EFrError& e) {
            ReportFailure(MethodNameOf(num), e.what());
            written = false;
        }
    }
    if (pvarRetValue) {
        try {
            ToPlatformValue(result, *pvarRetValue, FMemory);
        } catch (const EFrError& e) {
            ReportFailure(MethodNameOf(num), e.what());
            written = false;
        }
    }
    return hr == S_OK && written;
}

bool TNativeComponent::CallAsProc(long lMethodNum, tVariant* paParams, long lSizeArray) noexcept {
    return Guarded("CallAsProc", false, [&] { return Call(lMethodNum, nullptr, paParams, lSizeArray); });
}

bool TNativeComponent::CallAsFunc(long lMethodNum, tVariant* pvarRetValue, tVariant* paParams,
                                  long lSizeArray) noexcept {
    if (!pvarRetValue) return false;
    ClearVariant(*pvarRetValue);
    return Guarded("CallAsFunc", false, [&] { return Call(lMethodNum, pvarRetValue, paParams, lSizeArray); });
}

void TNativeComponent::SetLocale(const char16_t* loc) noexcept {
    Guarded("SetLocale", 0, [&] { return FObject.SetLocale(PlatformStringView(loc, 64)); });
}

void TNativeComponent::SetUserInterfaceLanguageCode(const char16_t* lang) noexcept {
    // The driver's texts are Russian whatever the interface language; kept for completeness.
    Guarded("SetUserInterfaceLanguageCode", 0, [&] {
        FLanguage = PlatformStringView(lang, 64);
        return 0;
    });
}

}  // namespace fr::native
