#pragma once
// The object the platform creates through GetClassObject: the four interfaces of the binary
// add-in interface over the add-in object. Every method is noexcept: an exception never goes
// back into the platform; it becomes a failure answer and, where the platform has a place for
// it, an AddError.

#include <string>

#include "addin/NativeApi.h"

namespace fr::native {

inline constexpr char16_t kClassName[] = u"fr_tarvikonline1c83";
inline constexpr char16_t kExtensionName[] = u"fr_tarvikonline1c83";

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
    // What the add-in object would show in a message box: the log, stderr, and AddError.
    void ReportFailure(const char* AOperation, const char* AMessage) noexcept;
    template <class R, class F>
    R Guarded(const char* AOperation, R AOnFailure, F&& ABody) noexcept;

    IAddInDefBase* FConnection = nullptr;
    IMemoryManager* FMemory = nullptr;
    std::u16string FLocale;
    std::u16string FLanguage;
};

}  // namespace fr::native
