#pragma once
// The add-in object the host platform creates: it owns one driver and turns every operation of
// the platform's add-in interfaces (init/done, language extender, property link, property pages,
// dispatch) into an operation on the driver's method registry or settings list. Each method call
// is wrapped: logged with its arguments and result, shielded from exceptions, and adapted for the
// 7.7 platform (Boolean results become 1/0).
//
// The operations are plain C++ methods so that any binding (the platform's native interface,
// frcli, tests) can call them. They return an HRESULT-like code (S_OK, S_FALSE, E_NOTIMPL) and
// hand values over as TVariant, TParams and UTF-16 strings. Calls of one object come from one
// thread at a time, as the platform makes them; different objects may be called from different
// threads at once, each writing to its own driver's log.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "framework/BaseDriver.h"
#include "framework/Variant.h"

namespace fr {

using HRESULT = std::int32_t;
inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001u);
inline constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
inline constexpr bool Failed(HRESULT AResult) { return AResult < 0; }

// The name the component is registered under, the extension name and the log file name.
inline constexpr const char16_t* kExtensionName = u"fr_tarvikonline1c83";
// The driver class Init creates.
inline constexpr const char* kDriverClassName = "TDriver";
// The property page identifier GetPages hands out (no page object stands behind it).
inline constexpr const char* kPropertyPageId = "{5E1A9C3B-7F42-4D1E-9B6A-2C8F0D4E7A13}";

// The host's asynchronous-event service.
class IAsyncEvent {
public:
    virtual ~IAsyncEvent() = default;
    virtual HRESULT SetEventBufferDepth(std::int32_t ADepth) = 0;
    virtual HRESULT ExternalEvent(const std::u16string& ASource, const std::u16string& AMessage,
                                  const std::u16string& AData) = 0;
};

// The host's window-support service: obtained and released, not used otherwise.
class IExtWndsSupport {
public:
    virtual ~IExtWndsSupport() = default;
};

// Where the host shows an error the driver could not report through a result: the stand-in for
// the message box of an unexpected exception. Must not throw.
class IHostErrorSink {
public:
    virtual ~IHostErrorSink() = default;
    virtual void ShowError(const std::u16string& ACaption, const std::u16string& AText) = 0;
    // A notice that needs no message box (the log cannot be written); an error by default.
    virtual void ShowWarning(const std::u16string& ACaption, const std::u16string& AText) { ShowError(ACaption, AText); }
};

// The connection object the host passes to Init. Each service may be missing (nullptr); the
// services stay alive until Done.
class IHostConnection {
public:
    virtual ~IHostConnection() = default;
    virtual IAsyncEvent* QueryAsyncEvent() = 0;
    virtual IExtWndsSupport* QueryExtWndsSupport() = 0;
    virtual IHostErrorSink* QueryErrorSink() = 0;
};

// A failure reported by a host service.
class EHostError : public EFrError {
public:
    using EFrError::EFrError;
};

// The call-log text of one value and of a parameter array.
std::string VariantToLogText(const TVariant& AValue);
std::string VariantArrayToLogText(const TVariant& AValue);
std::string VariantArrayToLogText(const TParams& AParams);

class TAddInObject {
public:
    // ADriverClassName: the registered driver class Init creates ("TDriver" for the platform).
    explicit TAddInObject(std::string ADriverClassName = kDriverClassName);
    ~TAddInObject();
    TAddInObject(const TAddInObject&) = delete;
    TAddInObject& operator=(const TAddInObject&) = delete;

    // ---- init/done ----
    // Takes the host's services (pConnection may be nullptr), numbers the object and creates the
    // driver. Throws EHostError when the host's event service refuses the buffer depth, and
    // EFrError when no driver class of that name is registered.
    HRESULT Init(IHostConnection* pConnection);
    HRESULT Done();
    // pInfo[0] := the string "2000" (the array grows to one element when it is empty).
    HRESULT GetInfo(TParams& pInfo);

    // ---- language extender ----
    HRESULT RegisterExtensionAs(std::u16string& AExtensionName);
    HRESULT GetNProps(std::int32_t& ACount);
    HRESULT FindProp(std::u16string_view AName, std::int32_t& APropNum);
    HRESULT GetPropName(std::int32_t APropNum, std::int32_t AAlias, std::u16string& AName);
    HRESULT GetPropVal(std::int32_t APropNum, TVariant& AValue);
    HRESULT SetPropVal(std::int32_t APropNum, const TVariant& AValue);
    // S_OK; the flag is left as passed (every property is readable and writable).
    HRESULT IsPropReadable(std::int32_t APropNum, bool& AFlag);
    HRESULT IsPropWritable(std::int32_t APropNum, bool& AFlag);
    HRESULT GetNMethods(std::int32_t& ACount);
    HRESULT FindMethod(std::u16string_view AName, std::int32_t& AMethodNum);
    // The registry entry's Name whatever AAlias says.
    HRESULT GetMethodName(std::int32_t AMethodNum, std::int32_t AAlias, std::u16string& AName);
    HRESULT GetNParams(std::int32_t AMethodNum, std::int32_t& ACount);
    HRESULT GetParamDefValue(std::int32_t AMethodNum, std::int32_t AParamNum, TVariant& AValue);
    HRESULT HasRetVal(std::int32_t AMethodNum, std::int32_t& AFlag);
    HRESULT CallAsProc(std::int32_t AMethodNum, TParams& AParams);
    HRESULT CallAsFunc(std::int32_t AMethodNum, TVariant& ARetValue, TParams& AParams);
    HRESULT SetLocale(std::u16string_view ALocale);

    // ---- property link, property pages ----
    HRESULT ChangeSettings();
    HRESULT CapSettingsDlg(bool& AFlag);
    HRESULT GetPages(std::vector<std::string>& APageIds);

    // ---- dispatch: not supported ----
    HRESULT GetTypeInfoCount(std::uint32_t& ACount);
    HRESULT GetTypeInfo();
    HRESULT GetIDsOfNames();
    HRESULT Invoke();

    // Raises an external event in the host; nothing happens without its event service. Throws
    // EHostError when the service fails.
    void ExecExternalEvent(const std::string& strSource, const std::string& strMessage, const std::string& strData);

    // ---- state ----
    TBaseDriver* Driver() const { return FDriver.get(); }
    std::int32_t ObjectNumber() const { return FObjectNumber; }
    // The process-wide counter of Init calls; safe from any thread.
    static std::int32_t ObjectCounter();

private:
    HRESULT CallMethod(std::int32_t AMethodNum, TVariant& ARetValue, TParams& AParams, bool AAsFunc);
    void ReportException(const std::string& AMethodName, const std::string& AMessage);
    // Through the host's error service, once per process (the log decides when).
    void ReportLogFailure(const std::string& AReason);
    bool PropInRange(std::int32_t APropNum) const;
    bool MethodInRange(std::int32_t AMethodNum) const;

    std::string FDriverClassName;
    std::unique_ptr<TBaseDriver> FDriver;
    std::int32_t FObjectNumber = 0;
    IAsyncEvent* pEvent = nullptr;
    IExtWndsSupport* pExtWnds = nullptr;
    IHostErrorSink* pErrorSink = nullptr;
};

}  // namespace fr
