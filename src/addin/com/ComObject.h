#pragma once
// The object the class factory creates: the platform's COM add-in interfaces over one
// TAddInObject, the same object the Native API binding wraps. Every method converts the COM
// values at the boundary and lets no exception back into the host: a handler's exception is the
// add-in object's (S_FALSE and a message box); a failure of the binding itself (an argument that
// is not what the interface promises, memory) is logged and answered with a failure code.

#include <atomic>

// First: the Windows headers that ComApi.h pulls in turn S_OK and friends into macros.
#include "addin/AddInObject.h"
#include "addin/com/ComApi.h"

namespace fr::com {

// Live objects and server locks, for DllCanUnloadNow.
void LockModule();
void UnlockModule();
bool ModuleInUse();

// The host's connection object as the add-in object's host connection: its event service, its
// window support and, standing in for the host's error display, a message box owned by the
// host's main window.
class THostServices final : public fr::IHostConnection,
                            public fr::IAsyncEvent,
                            public fr::IExtWndsSupport,
                            public fr::IHostErrorSink {
public:
    ~THostServices() override { Release(); }
    // The connection object Init was given; only used while Init runs.
    void Attach(IDispatch* AConnection) { FConnection = AConnection; }
    // Lets go of the host's services.
    void Release();

    fr::IAsyncEvent* QueryAsyncEvent() override;
    fr::IExtWndsSupport* QueryExtWndsSupport() override;
    fr::IHostErrorSink* QueryErrorSink() override { return this; }

    fr::HRESULT SetEventBufferDepth(std::int32_t ADepth) override;
    fr::HRESULT ExternalEvent(const std::u16string& ASource, const std::u16string& AMessage,
                              const std::u16string& AData) override;
    void ShowError(const std::u16string& ACaption, const std::u16string& AText) override;
    // A notice that must not stop the work (the log cannot be written): no box, standard error.
    void ShowWarning(const std::u16string& ACaption, const std::u16string& AText) override;

private:
    IDispatch* FConnection = nullptr;
    com::IAsyncEvent* FEvent = nullptr;
    com::IExtWndsSupport* FWnds = nullptr;
};

class TComAddIn final : public IInitDone,
                        public ILanguageExtender,
                        public IPropertyLink,
                        public ISpecifyPropertyPages,
                        public IDispatch {
public:
    TComAddIn();
    ~TComAddIn();
    TComAddIn(const TComAddIn&) = delete;
    TComAddIn& operator=(const TComAddIn&) = delete;

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // IInitDone
    HRESULT STDMETHODCALLTYPE Init(IDispatch* pConnection) override;
    HRESULT STDMETHODCALLTYPE Done() override;
    HRESULT STDMETHODCALLTYPE GetInfo(SAFEARRAY** pInfo) override;

    // ILanguageExtender
    HRESULT STDMETHODCALLTYPE RegisterExtensionAs(BSTR* pExtensionName) override;
    HRESULT STDMETHODCALLTYPE GetNProps(long* plProps) override;
    HRESULT STDMETHODCALLTYPE FindProp(BSTR bstrPropName, long* plPropNum) override;
    HRESULT STDMETHODCALLTYPE GetPropName(long lPropNum, long lPropAlias, BSTR* pbstrPropName) override;
    HRESULT STDMETHODCALLTYPE GetPropVal(long lPropNum, VARIANT* pvarPropVal) override;
    HRESULT STDMETHODCALLTYPE SetPropVal(long lPropNum, VARIANT* pvarPropVal) override;
    HRESULT STDMETHODCALLTYPE IsPropReadable(long lPropNum, BOOL* pboolPropRead) override;
    HRESULT STDMETHODCALLTYPE IsPropWritable(long lPropNum, BOOL* pboolPropWrite) override;
    HRESULT STDMETHODCALLTYPE GetNMethods(long* plMethods) override;
    HRESULT STDMETHODCALLTYPE FindMethod(BSTR bstrMethodName, long* plMethodNum) override;
    HRESULT STDMETHODCALLTYPE GetMethodName(long lMethodNum, long lMethodAlias, BSTR* pbstrMethodName) override;
    HRESULT STDMETHODCALLTYPE GetNParams(long lMethodNum, long* plParams) override;
    HRESULT STDMETHODCALLTYPE GetParamDefValue(long lMethodNum, long lParamNum, VARIANT* pvarParamDefValue) override;
    HRESULT STDMETHODCALLTYPE HasRetVal(long lMethodNum, BOOL* pboolRetValue) override;
    HRESULT STDMETHODCALLTYPE CallAsProc(long lMethodNum, SAFEARRAY** paParams) override;
    HRESULT STDMETHODCALLTYPE CallAsFunc(long lMethodNum, VARIANT* pvarRetValue, SAFEARRAY** paParams) override;
    HRESULT STDMETHODCALLTYPE SetLocale(BSTR bstrLocale) override;

    // IPropertyLink
    HRESULT STDMETHODCALLTYPE ChangeSettings() override;
    HRESULT STDMETHODCALLTYPE CapSettingsDlg(BOOL* pboolCap) override;

    // ISpecifyPropertyPages
    HRESULT STDMETHODCALLTYPE GetPages(CAUUID* pPages) override;

    // IDispatch: not supported
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* pctinfo) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid,
                                            DISPID* rgDispId) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags,
                                     DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO* pExcepInfo,
                                     UINT* puArgErr) override;

private:
    template <class F>
    HRESULT Guarded(const char* AOperation, F&& ABody) noexcept;
    HRESULT Call(long lMethodNum, VARIANT* pvarRetValue, SAFEARRAY** paParams);
    bool PropInRange(long lPropNum);

    std::atomic<ULONG> FRefCount{1};
    TAddInObject FObject;
    THostServices FServices;
};

}  // namespace fr::com
