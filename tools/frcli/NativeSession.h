#pragma once
// frcli's way into the add-in library exactly as the platform goes: dlopen, GetClassObject and
// calls through the component's vtables, with a memory manager and a connection object of its
// own. Values cross as the platform's tVariant, converted from and to host values.

#include <string>
#include <string_view>

#include "addin/NativeApi.h"
#include "framework/Variant.h"

namespace fr::cli {

// The platform's memory manager, on malloc.
class THostMemory final : public native::IMemoryManager {
public:
    bool AllocMemory(void** pMemory, unsigned long ulCountByte) override;
    void FreeMemory(void** pMemory) override;
};

// The platform's services: errors and events go to standard error.
class THostConnection final : public native::IAddInDefBase {
public:
    bool AddError(unsigned short wcode, const char16_t* source, const char16_t* descr, long scode) override;
    bool Read(char16_t*, native::tVariant*, long*, char16_t**) override { return false; }
    bool Write(char16_t*, native::tVariant*) override { return false; }
    bool RegisterProfileAs(char16_t*) override { return false; }
    bool SetEventBufferDepth(long lDepth) override;
    long GetEventBufferDepth() override { return FDepth; }
    bool ExternalEvent(char16_t* wszSource, char16_t* wszMessage, char16_t* wszData) override;
    void CleanEventBuffer() override {}
    bool SetStatusLine(char16_t*) override { return true; }
    void ResetStatusLine() override {}

private:
    long FDepth = 1;
};

class TNativeSession {
public:
    // Loads the library and creates its first class's object; throws EFrError.
    explicit TNativeSession(const std::string& ALibraryPath);
    ~TNativeSession();
    TNativeSession(const TNativeSession&) = delete;
    TNativeSession& operator=(const TNativeSession&) = delete;

    bool Init();
    void Done();

    long FindMethod(std::u16string_view AName);
    long GetNParams(long AMethod);
    // CallAsFunc with the parameters as the platform's array; out-parameters come back into
    // AParams. Returns what CallAsFunc answered.
    bool CallAsFunc(long AMethod, TVariant& AResult, TParams& AParams);

    long FindProp(std::u16string_view AName);
    bool GetPropVal(long AProp, TVariant& AValue);
    bool SetPropVal(long AProp, const TVariant& AValue);

private:
    // The platform's values: the strings it allocated for them are freed after the call, and
    // so are strings the library put in their place.
    void Release(native::tVariant& AValue, const void* AOriginal);

    void* FHandle = nullptr;
    native::TDestroyObjectFn FDestroy = nullptr;
    native::IComponentBase* FObject = nullptr;
    native::IInitDoneBase* FInitDone = nullptr;
    native::ILanguageExtenderBase* FLang = nullptr;
    THostMemory FMemory;
    THostConnection FConnection;
    bool FInited = false;
};

}  // namespace fr::cli
