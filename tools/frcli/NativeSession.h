#pragma once
// frcli's way into the add-in library exactly as the platform goes: dlopen, GetClassObject and
// calls through the component's vtables, with a memory manager and a connection object of its
// own. Values cross as the platform's tVariant, converted from and to host values.

#include <string>
#include <string_view>

#include "HostSession.h"
#include "addin/NativeApi.h"
#include "framework/Variant.h"

namespace frcli {

// The platform's memory manager, on malloc.
class THostMemory final : public fr::native::IMemoryManager {
public:
    bool AllocMemory(void** pMemory, unsigned long ulCountByte) override;
    void FreeMemory(void** pMemory) override;
};

// The platform's services: errors and events go to standard error.
class THostConnection final : public fr::native::IAddInDefBase {
public:
    bool AddError(unsigned short wcode, const char16_t* source, const char16_t* descr, long scode) override;
    bool Read(char16_t*, fr::native::tVariant*, long*, char16_t**) override { return false; }
    bool Write(char16_t*, fr::native::tVariant*) override { return false; }
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

// A session over the platform's binary interface on the add-in library at a path.
class TLibrarySession : public IHostSession {
public:
    // Loads the library and creates its first class's object; throws fr::EFrError.
    explicit TLibrarySession(const std::string& ALibraryPath);
    ~TLibrarySession() override;
    TLibrarySession(const TLibrarySession&) = delete;
    TLibrarySession& operator=(const TLibrarySession&) = delete;

    void Init() override;
    void Done() override;
    std::int32_t FindMethod(const std::u16string& AName) override;
    std::int32_t MethodCount() override;
    // The binary interface gives one name per method whatever the alias flag; Alias stays empty
    // unless the library answers differently.
    TMethodInfo MethodInfo(std::int32_t AMethodNum) override;
    fr::HRESULT CallAsFunc(std::int32_t AMethodNum, fr::TVariant& ARetValue, fr::TParams& AParams) override;
    std::int32_t FindProp(const std::u16string& AName) override;
    fr::HRESULT GetPropVal(std::int32_t APropNum, fr::TVariant& AValue) override;
    fr::HRESULT SetPropVal(std::int32_t APropNum, const fr::TVariant& AValue) override;
    // Through the binary interface the driver is reached only by calls: these call "GetLastError",
    // which reports without changing the code or the description.
    std::int32_t LastResultCode() override;
    std::string LastResultDescription() override;

private:
    // Calls through the vtable; out-parameters come back into AParams.
    bool Call(long AMethod, fr::TVariant& AResult, fr::TParams& AParams);
    std::string TakeName(const char16_t* AName);
    // The platform's values: the strings it allocated for them are freed after the call, and
    // so are strings the library put in their place.
    void Release(fr::native::tVariant& AValue, const void* AOriginal);

    void* FHandle = nullptr;
    fr::native::TDestroyObjectFn FDestroy = nullptr;
    fr::native::IComponentBase* FObject = nullptr;
    fr::native::IInitDoneBase* FInitDone = nullptr;
    fr::native::ILanguageExtenderBase* FLang = nullptr;
    THostMemory FMemory;
    THostConnection FConnection;
    bool FInited = false;
};

}  // namespace frcli
