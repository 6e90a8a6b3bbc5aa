#include "addin/com/ComObject.h"

#include <fmt/format.h>

#include <cstdio>
#include <exception>
#include <new>
#include <string>

#include "addin/com/ComVariant.h"
#include "framework/Log.h"
#include "platform/Encoding.h"
#include "platform/System.h"

namespace fr::com {
namespace {

void ReleaseAndClear(IUnknown*& AObject) {
    if (AObject) AObject->Release();
    AObject = nullptr;
}

template <class T>
void ReleaseAndClear(T*& AObject) {
    IUnknown* object = AObject;
    AObject = nullptr;
    ReleaseAndClear(object);
}

// A failure of the binding itself: the driver's log (the process log before Init) and stderr;
// the host gets the failure code.
void ReportFailure(TBaseDriver* ADriver, const char* AOperation, const char* AMessage) noexcept {
    try {
        const std::string text = fmt::format("{}: {}", AOperation, AMessage);
        if (ADriver) ADriver->Log().Append("EXCEPTION", text, TLog::mtError);
        else TLog::Append("EXCEPTION", text, TLog::mtError);
    } catch (...) {
    }
    std::fprintf(stderr, "%s: %s: %s\n", kModuleBaseName, AOperation, AMessage);
}

// The platform numbers properties and methods with a 32-bit long on Windows.
static_assert(sizeof(long) == sizeof(std::int32_t), "long is 32-bit on Windows");

}  // namespace

// ---- host services ----

void THostServices::Release() {
    ReleaseAndClear(FEvent);
    ReleaseAndClear(FWnds);
}

fr::IAsyncEvent* THostServices::QueryAsyncEvent() {
    ReleaseAndClear(FEvent);
    if (!FConnection ||
        FAILED(FConnection->QueryInterface(IID_IAsyncEvent, reinterpret_cast<void**>(&FEvent))))
        FEvent = nullptr;
    return FEvent ? this : nullptr;
}

fr::IExtWndsSupport* THostServices::QueryExtWndsSupport() {
    ReleaseAndClear(FWnds);
    if (!FConnection ||
        FAILED(FConnection->QueryInterface(IID_IExtWndsSupport, reinterpret_cast<void**>(&FWnds))))
        FWnds = nullptr;
    return FWnds ? this : nullptr;
}

fr::HRESULT THostServices::SetEventBufferDepth(std::int32_t ADepth) {
    if (!FEvent) return E_FAIL;
    return FEvent->SetEventBufferDepth(ADepth);
}

fr::HRESULT THostServices::ExternalEvent(const std::u16string& ASource, const std::u16string& AMessage,
                                         const std::u16string& AData) {
    if (!FEvent) return E_FAIL;
    BSTR source = ToBstr(ASource), message = ToBstr(AMessage), data = ToBstr(AData);
    const fr::HRESULT hr = source && message && data ? FEvent->ExternalEvent(source, message, data) : E_OUTOFMEMORY;
    SysFreeString(source);
    SysFreeString(message);
    SysFreeString(data);
    return hr;
}

void THostServices::ShowError(const std::u16string& ACaption, const std::u16string& AText) {
    HWND owner = nullptr;
    if (FWnds && FAILED(FWnds->GetAppMainFrame(&owner))) owner = nullptr;
    MessageBoxW(owner, reinterpret_cast<LPCWSTR>(AText.c_str()), reinterpret_cast<LPCWSTR>(ACaption.c_str()),
                MB_OK | MB_ICONERROR);
}

void THostServices::ShowWarning(const std::u16string& ACaption, const std::u16string& AText) {
    std::fprintf(stderr, "%s: %s\n", Utf16ToUtf8(ACaption).c_str(), Utf16ToUtf8(AText).c_str());
}

// ---- object ----

TComAddIn::TComAddIn() { LockModule(); }

TComAddIn::~TComAddIn() {
    // A host that lets go without Done still gets the driver closed.
    try {
        if (FObject.Driver()) FObject.Done();
    } catch (...) {
    }
    FServices.Release();
    UnlockModule();
}

HRESULT STDMETHODCALLTYPE TComAddIn::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IInitDone))
        *ppv = static_cast<IInitDone*>(this);
    else if (IsEqualIID(riid, IID_ILanguageExtender))
        *ppv = static_cast<ILanguageExtender*>(this);
    else if (IsEqualIID(riid, IID_IPropertyLink))
        *ppv = static_cast<IPropertyLink*>(this);
    else if (IsEqualIID(riid, IID_ISpecifyPropertyPages))
        *ppv = static_cast<ISpecifyPropertyPages*>(this);
    else if (IsEqualIID(riid, IID_IDispatch))
        *ppv = static_cast<IDispatch*>(this);
    else
        return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

ULONG STDMETHODCALLTYPE TComAddIn::AddRef() { return ++FRefCount; }

ULONG STDMETHODCALLTYPE TComAddIn::Release() {
    const ULONG count = --FRefCount;
    if (count == 0) delete this;
    return count;
}

template <class F>
HRESULT TComAddIn::Guarded(const char* AOperation, F&& ABody) noexcept {
    try {
        return ABody();
    } catch (const EConvertError& e) {
        ReportFailure(FObject.Driver(), AOperation, e.what());
        return E_INVALIDARG;
    } catch (const std::bad_alloc& e) {
        ReportFailure(FObject.Driver(), AOperation, e.what());
        return E_OUTOFMEMORY;
    } catch (const std::exception& e) {
        ReportFailure(FObject.Driver(), AOperation, e.what());
        return E_FAIL;
    } catch (...) {
        ReportFailure(FObject.Driver(), AOperation, "unknown exception");
        return E_UNEXPECTED;
    }
}

bool TComAddIn::PropInRange(long lPropNum) {
    std::int32_t count = 0;
    FObject.GetNProps(count);
    return lPropNum >= 0 && lPropNum < count;
}

// ---- IInitDone ----

HRESULT STDMETHODCALLTYPE TComAddIn::Init(IDispatch* pConnection) {
    return Guarded("Init", [&]() -> HRESULT {
        struct TDetach {
            THostServices& Services;
            ~TDetach() { Services.Attach(nullptr); }
        } detach{FServices};
        FServices.Attach(pConnection);
        return FObject.Init(&FServices);
    });
}

HRESULT STDMETHODCALLTYPE TComAddIn::Done() {
    const HRESULT hr = Guarded("Done", [&]() -> HRESULT { return FObject.Done(); });
    FServices.Release();
    return hr;
}

HRESULT STDMETHODCALLTYPE TComAddIn::GetInfo(SAFEARRAY** pInfo) {
    if (!pInfo) return E_POINTER;
    return Guarded("GetInfo", [&]() -> HRESULT {
        // The host's array gets at least the one element the answer goes into.
        if (!*pInfo) {
            *pInfo = SafeArrayCreateVector(VT_VARIANT, 0, 1);
            if (!*pInfo) return E_OUTOFMEMORY;
        } else if (SafeArrayGetDim(*pInfo) == 1) {
            LONG lower = 0, upper = -1;
            SafeArrayGetLBound(*pInfo, 1, &lower);
            SafeArrayGetUBound(*pInfo, 1, &upper);
            if (upper < lower) {
                SAFEARRAYBOUND bound{1, lower};
                const HRESULT hr = SafeArrayRedim(*pInfo, &bound);
                if (FAILED(hr)) return hr;
            }
        }
        TComParams info(pInfo);
        const HRESULT hr = FObject.GetInfo(info.Params());
        info.WriteBack();
        return hr;
    });
}

// ---- ILanguageExtender ----

HRESULT STDMETHODCALLTYPE TComAddIn::RegisterExtensionAs(BSTR* pExtensionName) {
    if (!pExtensionName) return E_POINTER;
    *pExtensionName = nullptr;
    return Guarded("RegisterExtensionAs", [&]() -> HRESULT {
        std::u16string name;
        const HRESULT hr = FObject.RegisterExtensionAs(name);
        if (!(*pExtensionName = ToBstr(name))) return E_OUTOFMEMORY;
        return hr;
    });
}

HRESULT STDMETHODCALLTYPE TComAddIn::GetNProps(long* plProps) {
    if (!plProps) return E_POINTER;
    return Guarded("GetNProps", [&]() -> HRESULT {
        std::int32_t count = 0;
        const HRESULT hr = FObject.GetNProps(count);
        *plProps = count;
        return hr;
    });
}

HRESULT STDMETHODCALLTYPE TComAddIn::FindProp(BSTR bstrPropName, long* plPropNum) {
    if (!plPropNum) return E_POINTER;
    *plPropNum = -1;
    return Guarded("FindProp", [&]() -> HRESULT {
        std::int32_t num = -1;
        const HRESULT hr = FObject.FindProp(FromBstr(bstrPropName), num);
        *plPropNum = num;
        return hr;
    });
}

HRESULT STDMETHODCALLTYPE TComAddIn::GetPropName(long lPropNum, long lPropAlias, BSTR* pbstrPropName) {
    if (!pbstrPropName) return E_POINTER;
    *pbstrPropName = nullptr;
    return Guarded("GetPropName", [&]() -> HRESULT {
        std::u16string name;
        const HRESULT hr = FObject.GetPropName(lPropNum, lPropAlias, name);
        if (hr != S_OK) return hr;
        if (!(*pbstrPropName = ToBstr(name))) return E_OUTOFMEMORY;
        return hr;
    });
}

HRESULT STDMETHODCALLTYPE TComAddIn::GetPropVal(long lPropNum, VARIANT* pvarPropVal) {
    if (!pvarPropVal) return E_POINTER;
    VariantInit(pvarPropVal);
    return Guarded("GetPropVal", [&]() -> HRESULT {
        TVariant value;
        const HRESULT hr = FObject.GetPropVal(lPropNum, value);
        if (hr == S_OK) ToComValue(value, *pvarPropVal);
        return hr;
    });
}

HRESULT STDMETHODCALLTYPE TComAddIn::SetPropVal(long lPropNum, VARIANT* pvarPropVal) {
    if (!pvarPropVal) return E_POINTER;
    return Guarded("SetPropVal",
                   [&]() -> HRESULT { return FObject.SetPropVal(lPropNum, FromComValue(*pvarPropVal)); });
}

// Every setting can be read and written. The flag is answered (a host that does not preset it
// would otherwise see no property at all), and false for a number that names no setting.
HRESULT STDMETHODCALLTYPE TComAddIn::IsPropReadable(long lPropNum, BOOL* pboolPropRead) {
    if (!pboolPropRead) return E_POINTER;
    return Guarded("IsPropReadable", [&]() -> HRESULT {
        bool flag = true;
        const HRESULT hr = FObject.IsPropReadable(lPropNum, flag);
        *pboolPropRead = flag && PropInRange(lPropNum) ? TRUE : FALSE;
        return hr;
    });
}

HRESULT STDMETHODCALLTYPE TComAddIn::IsPropWritable(long lPropNum, BOOL* pboolPropWrite) {
    if (!pboolPropWrite) return E_POINTER;
    return Guarded("IsPropWritable", [&]() -> HRESULT {
        bool flag = true;
        const HRESULT hr = FObject.IsPropWritable(lPropNum, flag);
        *pboolPropWrite = flag && PropInRange(lPropNum) ? TRUE : FALSE;
        return hr;
    });
}

HRESULT STDMETHODCALLTYPE TComAddIn::GetNMethods(long* plMethods) {
    if (!plMethods) return E_POINTER;
    return Guarded("GetNMethods", [&]() -> HRESULT {
        std::int32_t count = 0;
        const HRESULT hr = FObject.GetNMethods(count);
        *plMethods = count;
        return hr;
    });
}

HRESULT STDMETHODCALLTYPE TComAddIn::FindMethod(BSTR bstrMethodName, long* plMethodNum) {
    if (!plMethodNum) return E_POINTER;
    *plMethodNum = -1;
    return Guarded("FindMethod", [&]() -> HRESULT {
        std::int32_t num = -1;
        const HRESULT hr = FObject.FindMethod(FromBstr(bstrMethodName), num);
        *plMethodNum = num;
        return hr;
    });
}

HRESULT STDMETHODCALLTYPE TComAddIn::GetMethodName(long lMethodNum, long lMethodAlias, BSTR* pbstrMethodName) {
    if (!pbstrMethodName) return E_POINTER;
    *pbstrMethodName = nullptr;
    return Guarded("GetMethodName", [&]() -> HRESULT {
        std::u16string name;
        const HRESULT hr = FObject.GetMethodName(lMethodNum, lMethodAlias, name);
        if (hr != S_OK) return hr;
        if (!(*pbstrMethodName = ToBstr(name))) return E_OUTOFMEMORY;
        return hr;
    });
}

HRESULT STDMETHODCALLTYPE TComAddIn::GetNParams(long lMethodNum, long* plParams) {
    if (!plParams) return E_POINTER;
    return Guarded("GetNParams", [&]() -> HRESULT {
        std::int32_t count = 0;
        const HRESULT hr = FObject.GetNParams(lMethodNum, count);
        if (hr == S_OK) *plParams = count;
        return hr;
    });
}

HRESULT STDMETHODCALLTYPE TComAddIn::GetParamDefValue(long lMethodNum, long lParamNum, VARIANT* pvarParamDefValue) {
    if (!pvarParamDefValue) return E_POINTER;
    VariantInit(pvarParamDefValue);
    return Guarded("GetParamDefValue", [&]() -> HRESULT {
        TVariant value;
        const HRESULT hr = FObject.GetParamDefValue(lMethodNum, lParamNum, value);
        ToComValue(value, *pvarParamDefValue);
        return hr;
    });
}

HRESULT STDMETHODCALLTYPE TComAddIn::HasRetVal(long lMethodNum, BOOL* pboolRetValue) {
    if (!pboolRetValue) return E_POINTER;
    return Guarded("HasRetVal", [&]() -> HRESULT {
        std::int32_t flag = 0;
        const HRESULT hr = FObject.HasRetVal(lMethodNum, flag);
        *pboolRetValue = flag ? TRUE : FALSE;
        return hr;
    });
}

// The host's parameters are read into host values, the add-in object runs the call, and the
// elements the call changed go back into the host's array.
HRESULT TComAddIn::Call(long lMethodNum, VARIANT* pvarRetValue, SAFEARRAY** paParams) {
    TComParams params(paParams);
    TVariant result;
    const HRESULT hr = pvarRetValue ? FObject.CallAsFunc(lMethodNum, result, params.Params())
                                    : FObject.CallAsProc(lMethodNum, params.Params());
    // Everything that can go back does, even when one value cannot; the host then hears of it.
    std::string failure;
    try {
        params.WriteBack();
    } catch (const EFrError& e) {
        failure = e.what();
    }
    if (pvarRetValue) {
        try {
            ToComValue(result, *pvarRetValue);
        } catch (const EFrError& e) {
            if (failure.empty()) failure = e.what();
        }
    }
    if (!failure.empty()) throw EConvertError(failure);
    return hr;
}

HRESULT STDMETHODCALLTYPE TComAddIn::CallAsProc(long lMethodNum, SAFEARRAY** paParams) {
    return Guarded("CallAsProc", [&] { return Call(lMethodNum, nullptr, paParams); });
}

HRESULT STDMETHODCALLTYPE TComAddIn::CallAsFunc(long lMethodNum, VARIANT* pvarRetValue, SAFEARRAY** paParams) {
    if (!pvarRetValue) return E_POINTER;
    VariantInit(pvarRetValue);
    return Guarded("CallAsFunc", [&] { return Call(lMethodNum, pvarRetValue, paParams); });
}

HRESULT STDMETHODCALLTYPE TComAddIn::SetLocale(BSTR bstrLocale) {
    return Guarded("SetLocale", [&]() -> HRESULT { return FObject.SetLocale(FromBstr(bstrLocale)); });
}

// ---- IPropertyLink ----

HRESULT STDMETHODCALLTYPE TComAddIn::ChangeSettings() {
    return Guarded("ChangeSettings", [&]() -> HRESULT { return FObject.ChangeSettings(); });
}

HRESULT STDMETHODCALLTYPE TComAddIn::CapSettingsDlg(BOOL* pboolCap) {
    if (!pboolCap) return E_POINTER;
    *pboolCap = FALSE;
    return Guarded("CapSettingsDlg", [&]() -> HRESULT {
        bool flag = false;
        const HRESULT hr = FObject.CapSettingsDlg(flag);
        *pboolCap = flag ? TRUE : FALSE;
        return hr;
    });
}

// ---- ISpecifyPropertyPages ----

HRESULT STDMETHODCALLTYPE TComAddIn::GetPages(CAUUID* pPages) {
    if (!pPages) return E_POINTER;
    pPages->cElems = 0;
    pPages->pElems = nullptr;
    return Guarded("GetPages", [&]() -> HRESULT {
        std::vector<std::string> ids;
        const HRESULT hr = FObject.GetPages(ids);
        if (hr != S_OK || ids.empty()) return hr;
        auto* pages = static_cast<GUID*>(CoTaskMemAlloc(ids.size() * sizeof(GUID)));
        if (!pages) return E_OUTOFMEMORY;
        for (std::size_t i = 0; i < ids.size(); ++i) {
            const std::u16string text = Utf8ToUtf16(ids[i]);
            if (FAILED(CLSIDFromString(reinterpret_cast<LPCOLESTR>(text.c_str()), &pages[i]))) {
                CoTaskMemFree(pages);
                throw EFrError("Not a class identifier: " + ids[i]);
            }
        }
        pPages->cElems = static_cast<ULONG>(ids.size());
        pPages->pElems = pages;
        return hr;
    });
}

// ---- IDispatch ----

HRESULT STDMETHODCALLTYPE TComAddIn::GetTypeInfoCount(UINT* pctinfo) {
    if (pctinfo) *pctinfo = 0;
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE TComAddIn::GetTypeInfo(UINT, LCID, ITypeInfo** ppTInfo) {
    if (ppTInfo) *ppTInfo = nullptr;
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE TComAddIn::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) { return E_NOTIMPL; }

HRESULT STDMETHODCALLTYPE TComAddIn::Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) {
    return E_NOTIMPL;
}

}  // namespace fr::com
