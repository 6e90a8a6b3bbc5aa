#pragma once
// frcli's way into the add-in library exactly as the platform goes: load it, GetClassObject and
// calls through the component's vtables, with a memory manager and a connection object of its
// own. Values cross as the platform's tVariant, converted from and to host values.

#include <memory>
#include <string>
#include <string_view>

#include "HostSession.h"
#include "addin/NativeApi.h"
#include "framework/Variant.h"
#include "platform/SharedLibrary.h"

namespace frcli {

// The platform's memory manager, on malloc.
class THostMemory final : public fr::native::IMemoryManager {
public:
    FR_ABI_DESTRUCTOR_IMPL(THostMemory)
    bool ADDIN_API AllocMemory(void** pMemory, unsigned long ulCountByte) override;
    void ADDIN_API FreeMemory(void** pMemory) override;
};

// The platform's services: errors and events go to standard error.
class THostConnection final : public fr::native::IAddInDefBase {
public:
    FR_ABI_DESTRUCTOR_IMPL(THostConnection)
    bool ADDIN_API AddError(unsigned short wcode, const char16_t* source, const char16_t* descr, long scode) override;
    bool ADDIN_API Read(char16_t*, fr::native::tVariant*, long*, char16_t**) override { return false; }
    bool ADDIN_API Write(char16_t*, fr::native::tVariant*) override { return false; }
    bool ADDIN_API RegisterProfileAs(char16_t*) override { return false; }
    bool ADDIN_API SetEventBufferDepth(long lDepth) override;
    long ADDIN_API GetEventBufferDepth() override { return FDepth; }
    bool ADDIN_API ExternalEvent(char16_t* wszSource, char16_t* wszMessage, char16_t* wszData) override;
    void ADDIN_API CleanEventBuffer() override {}
    bool ADDIN_API SetStatusLine(char16_t*) override { return true; }
    void ADDIN_API ResetStatusLine() override {}

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

    std::unique_ptr<fr::TSharedLibrary> FLibrary;
    fr::native::TDestroyObjectFn FDestroy = nullptr;
    fr::native::IComponentBase* FObject = nullptr;
    fr::native::IInitDoneBase* FInitDone = nullptr;
    fr::native::ILanguageExtenderBase* FLang = nullptr;
    THostMemory FMemory;
    THostConnection FConnection;
    bool FInited = false;
};

}  // namespace frcli
