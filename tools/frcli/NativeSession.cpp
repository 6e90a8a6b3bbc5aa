#include "NativeSession.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "addin/NativeVariant.h"
#include "platform/Encoding.h"
#include "platform/Errors.h"
#include "platform/SharedLibrary.h"

namespace frcli {

using namespace fr;
using namespace fr::native;

bool ADDIN_API THostMemory::AllocMemory(void** pMemory, unsigned long ulCountByte) {
    if (!pMemory) return false;
    *pMemory = std::malloc(ulCountByte ? ulCountByte : 1);
    return *pMemory != nullptr;
}

void ADDIN_API THostMemory::FreeMemory(void** pMemory) {
    if (!pMemory) return;
    std::free(*pMemory);
    *pMemory = nullptr;
}

bool ADDIN_API THostConnection::AddError(unsigned short wcode, const char16_t* source, const char16_t* descr, long scode) {
    std::fprintf(stderr, "frcli: AddError %u %s: %s (%ld)\n", wcode, Utf16ToUtf8(PlatformStringView(source)).c_str(),
                 Utf16ToUtf8(PlatformStringView(descr)).c_str(), scode);
    return true;
}

bool ADDIN_API THostConnection::SetEventBufferDepth(long lDepth) {
    FDepth = lDepth;
    return true;
}

bool ADDIN_API THostConnection::ExternalEvent(char16_t* wszSource, char16_t* wszMessage, char16_t* wszData) {
    std::fprintf(stderr, "frcli: ExternalEvent %s / %s / %s\n", Utf16ToUtf8(PlatformStringView(wszSource)).c_str(),
                 Utf16ToUtf8(PlatformStringView(wszMessage)).c_str(), Utf16ToUtf8(PlatformStringView(wszData)).c_str());
    return true;
}

namespace {

void* Symbol(const TSharedLibrary& ALibrary, const char* AName) {
    void* p = ALibrary.Symbol(AName);
    if (!p) throw EFrError(std::string("The add-in library has no ") + AName);
    return p;
}

// The first of the library's '|'-separated class names.
std::u16string FirstClassName(const char16_t* ANames) {
    const std::u16string_view names = PlatformStringView(ANames, 4096);
    return std::u16string(names.substr(0, names.find(u'|')));
}

template <class T>
T* BaseAt(IComponentBase* AObject, std::size_t AOffset) {
    return reinterpret_cast<T*>(reinterpret_cast<char*>(AObject) + AOffset);
}

const void* StringPointer(const tVariant& AValue) {
    switch (AValue.vt) {
        case VTYPE_PWSTR: return AValue.wstr.pwstrVal;
        case VTYPE_PSTR:
        case VTYPE_BLOB: return AValue.str.pstrVal;
        default: return nullptr;
    }
}

}  // namespace

TLibrarySession::TLibrarySession(const std::string& ALibraryPath) {
    FLibrary = std::make_unique<TSharedLibrary>(ALibraryPath);
    try {
        auto names = reinterpret_cast<TGetClassNamesFn>(Symbol(*FLibrary, "GetClassNames"));
        auto create = reinterpret_cast<TGetClassObjectFn>(Symbol(*FLibrary, "GetClassObject"));
        FDestroy = reinterpret_cast<TDestroyObjectFn>(Symbol(*FLibrary, "DestroyObject"));
        auto caps = reinterpret_cast<TSetPlatformCapabilitiesFn>(Symbol(*FLibrary, "SetPlatformCapabilities"));
        caps(eAppCapabilities1);
        const std::u16string cls = FirstClassName(names());
        if (create(cls.c_str(), &FObject) == 0 || !FObject)
            throw EFrError("The add-in library created no object of class " + Utf16ToUtf8(cls));
        FInitDone = BaseAt<IInitDoneBase>(FObject, kInitDoneOffset);
        FLang = BaseAt<ILanguageExtenderBase>(FObject, kLanguageExtenderOffset);
        FInitDone->setMemManager(&FMemory);
    } catch (...) {
        if (FObject) FDestroy(&FObject);
        FLibrary->Unload();
        throw;
    }
}

TLibrarySession::~TLibrarySession() {
    Done();
    if (FObject) FDestroy(&FObject);
    // The library stays mapped: a driver may have left process-wide state (the log) whose
    // clean-up runs at exit.
}

void TLibrarySession::Init() {
    FInited = FInitDone->Init(&FConnection);
    if (!FInited) throw EFrError("The add-in library refused Init");
}

void TLibrarySession::Done() {
    if (!FObject || !FInitDone) return;
    if (FInited) FInitDone->Done();
    FInited = false;
}

std::int32_t TLibrarySession::FindMethod(const std::u16string& AName) {
    return static_cast<std::int32_t>(FLang->FindMethod(AName.c_str()));
}

std::int32_t TLibrarySession::MethodCount() { return static_cast<std::int32_t>(FLang->GetNMethods()); }

std::string TLibrarySession::TakeName(const char16_t* AName) {
    if (!AName) return {};
    std::string name = Utf16ToUtf8(PlatformStringView(AName));
    void* p = const_cast<char16_t*>(AName);
    FMemory.FreeMemory(&p);
    return name;
}

TMethodInfo TLibrarySession::MethodInfo(std::int32_t AMethodNum) {
    TMethodInfo info;
    info.Name = TakeName(FLang->GetMethodName(AMethodNum, 0));
    const std::string other = TakeName(FLang->GetMethodName(AMethodNum, 1));
    if (other != info.Name) info.Alias = other;
    info.ParamsCount = static_cast<std::int32_t>(FLang->GetNParams(AMethodNum));
    return info;
}

HRESULT TLibrarySession::CallAsFunc(std::int32_t AMethodNum, TVariant& ARetValue, TParams& AParams) {
    return Call(AMethodNum, ARetValue, AParams) ? S_OK : S_FALSE;
}

std::int32_t TLibrarySession::LastResultCode() {
    TVariant result;
    TParams params(1);
    const std::int32_t n = FindMethod(u"GetLastError");
    if (n < 0 || !Call(n, result, params)) return 0;
    return result.AsInt();
}

std::string TLibrarySession::LastResultDescription() {
    TVariant result;
    TParams params(1);
    const std::int32_t n = FindMethod(u"GetLastError");
    if (n < 0 || !Call(n, result, params)) return {};
    return params[0].AsString();
}

void TLibrarySession::Release(tVariant& AValue, const void* AOriginal) {
    void* p = const_cast<void*>(StringPointer(AValue));
    if (p && p != AOriginal) FMemory.FreeMemory(&p);
    ClearVariant(AValue);
}

bool TLibrarySession::Call(long AMethod, TVariant& AResult, TParams& AParams) {
    std::vector<tVariant> slots(AParams.size());
    std::vector<void*> originals(AParams.size(), nullptr);
    tVariant result;
    ClearVariant(result);
    auto releaseAll = [&] {
        for (std::size_t i = 0; i < slots.size(); ++i) {
            Release(slots[i], originals[i]);
            FMemory.FreeMemory(&originals[i]);
        }
        Release(result, nullptr);
    };
    try {
        for (std::size_t i = 0; i < AParams.size(); ++i) {
            ToPlatformValue(AParams[i], slots[i], &FMemory);
            originals[i] = const_cast<void*>(StringPointer(slots[i]));
        }
        const bool ok = FLang->CallAsFunc(AMethod, &result, slots.empty() ? nullptr : slots.data(),
                                          static_cast<long>(slots.size()));
        for (std::size_t i = 0; i < AParams.size(); ++i) AParams[i] = ToHostValue(slots[i]);
        AResult = ToHostValue(result);
        releaseAll();
        return ok;
    } catch (...) {
        releaseAll();
        throw;
    }
}

std::int32_t TLibrarySession::FindProp(const std::u16string& AName) {
    return static_cast<std::int32_t>(FLang->FindProp(AName.c_str()));
}

HRESULT TLibrarySession::GetPropVal(std::int32_t AProp, TVariant& AValue) {
    tVariant value;
    ClearVariant(value);
    const bool ok = FLang->GetPropVal(AProp, &value);
    try {
        AValue = ToHostValue(value);
    } catch (...) {
        Release(value, nullptr);
        throw;
    }
    Release(value, nullptr);
    return ok ? S_OK : S_FALSE;
}

HRESULT TLibrarySession::SetPropVal(std::int32_t AProp, const TVariant& AValue) {
    tVariant value;
    ToPlatformValue(AValue, value, &FMemory);
    void* original = const_cast<void*>(StringPointer(value));
    const bool ok = FLang->SetPropVal(AProp, &value);
    Release(value, original);
    FMemory.FreeMemory(&original);
    return ok ? S_OK : S_FALSE;
}

}  // namespace frcli
