#pragma once
// The object the platform creates through GetClassObject: the four interfaces of the binary
// add-in interface over one TAddInObject. Every method is noexcept: an exception never goes
// back into the platform; it becomes a failure answer and an AddError, the platform's stand-in
// for the add-in object's message box.

#include <string>

#include "addin/AddInObject.h"
#include "addin/NativeApi.h"

namespace fr::native {

inline constexpr char16_t kClassName[] = u"fr_tarvikonline1c83";

// The platform's services object as the add-in object's host connection: the event service,
// and the error sink that stands in for the message box.
class THostServices final : public IHostConnection, public IAsyncEvent, public IHostErrorSink {
public:
    void Attach(IAddInDefBase* AConnection) { FConnection = AConnection; }
    IAddInDefBase* Connection() const { return FConnection; }

    IAsyncEvent* QueryAsyncEvent() override { return FConnection ? this : nullptr; }
    IExtWndsSupport* QueryExtWndsSupport() override { return nullptr; }
    IHostErrorSink* QueryErrorSink() override { return FConnection ? this : nullptr; }

    HRESULT SetEventBufferDepth(std::int32_t ADepth) override;
    HRESULT ExternalEvent(const std::u16string& ASource, const std::u16string& AMessage,
                          const std::u16string& AData) override;
    void ShowError(const std::u16string& ACaption, const std::u16string& AText) override;
    void ShowWarning(const std::u16string& ACaption, const std::u16string& AText) override;

private:
    IAddInDefBase* FConnection = nullptr;
};

class TNativeComponent final : public IComponentBase {
public:
    TNativeComponent();
    ~TNativeComponent() override;

    // IInitDoneBase
    bool Init(void* disp) noexcept override;
    bool setMemManager(void* mem) noexcept override;
    long GetInfo() noexcept override;
    void Done() noexcept override;

    // ILanguageExtenderBase
    bool RegisterExtensionAs(char16_t** wsExtensionName) noexcept override;
    long GetNProps() noexcept override;
    long FindProp(const char16_t* wsPropName) noexcept override;
    const char16_t* GetPropName(long lPropNum, long lPropAlias) noexcept override;
    bool GetPropVal(long lPropNum, tVariant* pvarPropVal) noexcept override;
    bool SetPropVal(long lPropNum, tVariant* varPropVal) noexcept override;
    bool IsPropReadable(long lPropNum) noexcept override;
    bool IsPropWritable(long lPropNum) noexcept override;
    long GetNMethods() noexcept override;
    long FindMethod(const char16_t* wsMethodName) noexcept override;
    const char16_t* GetMethodName(long lMethodNum, long lMethodAlias) noexcept override;
    long GetNParams(long lMethodNum) noexcept override;
    bool GetParamDefValue(long lMethodNum, long lParamNum, tVariant* pvarParamDefValue) noexcept override;
    bool HasRetVal(long lMethodNum) noexcept override;
    bool CallAsProc(long lMethodNum, tVariant* paParams, long lSizeArray) noexcept override;
    bool CallAsFunc(long lMethodNum, tVariant* pvarRetValue, tVariant* paParams, long lSizeArray) noexcept override;

    // LocaleBase
    void SetLocale(const char16_t* loc) noexcept override;

    // UserLanguageBase
    void SetUserInterfaceLanguageCode(const char16_t* lang) noexcept override;

private:
    // A failure of the binding itself (or an exception the add-in object let through): the log,
    // stderr and AddError, as the add-in object reports a handler's exception.
    void ReportFailure(const std::string& AOperation, const std::string& AMessage) noexcept;
    template <class R, class F>
    R Guarded(const char* AOperation, R AOnFailure, F&& ABody) noexcept;
    bool Call(long AMethodNum, tVariant* ARetValue, tVariant* AParams, long ACount);
    std::string MethodNameOf(std::int32_t AMethodNum);

    TAddInObject FObject;
    THostServices FServices;
    IMemoryManager* FMemory = nullptr;
    std::u16string FLanguage;
};

}  // namespace fr::native
