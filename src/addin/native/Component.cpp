#include "addin/native/Component.h"

#include <cstdio>
#include <exception>

#include "addin/NativeVariant.h"
#include "framework/Log.h"
#include "platform/Encoding.h"

namespace fr::native {

TNativeComponent::TNativeComponent() = default;
TNativeComponent::~TNativeComponent() = default;

void TNativeComponent::ReportFailure(const char* AOperation, const char* AMessage) noexcept {
    try {
        TLog::Append("EXCEPTION", std::string(AOperation) + ": " + AMessage, TLog::mtError);
    } catch (...) {
    }
    std::fprintf(stderr, "fr_tarvikonline1c83: %s: %s\n", AOperation, AMessage);
    if (!FConnection) return;
    try {
        const std::u16string source = u"fr_tarvikonline1c83";
        const std::u16string text = Utf8ToUtf16(std::string("Method: ") + AOperation + "\r\nMessage: " + AMessage);
        FConnection->AddError(ADDIN_E_MSGBOX_FAIL, source.c_str(), text.c_str(), 0);
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
    FConnection = static_cast<IAddInDefBase*>(disp);
    return true;
}

bool TNativeComponent::setMemManager(void* mem) noexcept {
    FMemory = static_cast<IMemoryManager*>(mem);
    return FMemory != nullptr;
}

long TNativeComponent::GetInfo() noexcept { return 2000; }

void TNativeComponent::Done() noexcept { FConnection = nullptr; }

bool TNativeComponent::RegisterExtensionAs(char16_t** wsExtensionName) noexcept {
    if (!wsExtensionName) return false;
    *wsExtensionName = AllocPlatformString(FMemory, kExtensionName);
    return *wsExtensionName != nullptr;
}

long TNativeComponent::GetNProps() noexcept { return 0; }
long TNativeComponent::FindProp(const char16_t*) noexcept { return -1; }
const char16_t* TNativeComponent::GetPropName(long, long) noexcept { return nullptr; }
bool TNativeComponent::GetPropVal(long, tVariant*) noexcept { return false; }
bool TNativeComponent::SetPropVal(long, tVariant*) noexcept { return false; }
bool TNativeComponent::IsPropReadable(long) noexcept { return false; }
bool TNativeComponent::IsPropWritable(long) noexcept { return false; }
long TNativeComponent::GetNMethods() noexcept { return 0; }
long TNativeComponent::FindMethod(const char16_t*) noexcept { return -1; }
const char16_t* TNativeComponent::GetMethodName(long, long) noexcept { return nullptr; }
long TNativeComponent::GetNParams(long) noexcept { return 0; }

bool TNativeComponent::GetParamDefValue(long, long, tVariant* pvarParamDefValue) noexcept {
    if (pvarParamDefValue) ClearVariant(*pvarParamDefValue);
    return true;
}

bool TNativeComponent::HasRetVal(long) noexcept { return true; }
bool TNativeComponent::CallAsProc(long, tVariant*, long) noexcept { return false; }
bool TNativeComponent::CallAsFunc(long, tVariant*, tVariant*, long) noexcept { return false; }

void TNativeComponent::SetLocale(const char16_t* loc) noexcept {
    Guarded("SetLocale", 0, [&] {
        FLocale = PlatformStringView(loc, 64);
        return 0;
    });
}

void TNativeComponent::SetUserInterfaceLanguageCode(const char16_t* lang) noexcept {
    Guarded("SetUserInterfaceLanguageCode", 0, [&] {
        FLanguage = PlatformStringView(lang, 64);
        return 0;
    });
}

}  // namespace fr::native
