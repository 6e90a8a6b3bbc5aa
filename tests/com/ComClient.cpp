// A Windows host that plays 1C:Enterprise's COM side: it finds the registered add-in by its
// programmatic identifier, creates it, hands it a connection object of its own (recording what
// the add-in asks of it), runs a table of boundary cases and a receipt against the simulated
// register, and checks that every reference it lent is given back.
//
//   com_client PORT         the simulator's TCP port on 127.0.0.1
//
// Named 1cv7*.exe it is a 7.7 host: the add-in must add the 7.7 methods and answer 1/0.
// Prints one line per check; exit status 0 when all passed.
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "addin/com/ComApi.h"

using namespace fr::com;

namespace {

int gFailures = 0;

std::string Utf8(const std::wstring& AText) {
    if (AText.empty()) return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, AText.data(), static_cast<int>(AText.size()), nullptr, 0, nullptr,
                                      nullptr);
    std::string out(n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, AText.data(), static_cast<int>(AText.size()), out.data(), n, nullptr, nullptr);
    return out;
}

void Check(bool AOk, const std::string& AWhat, const std::string& ADetail = {}) {
    if (!AOk) ++gFailures;
    std::printf("%s %s%s%s\n", AOk ? "ok  " : "FAIL", AWhat.c_str(), ADetail.empty() ? "" : ": ", ADetail.c_str());
    std::fflush(stdout);
}

std::string Hex(HRESULT AResult) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(AResult));
    return text;
}

// ---- values ----

class TBstr {
public:
    explicit TBstr(const std::wstring& AText) : FText(SysAllocStringLen(AText.data(), AText.size())) {}
    ~TBstr() { SysFreeString(FText); }
    TBstr(const TBstr&) = delete;
    TBstr& operator=(const TBstr&) = delete;
    operator BSTR() const { return FText; }

private:
    BSTR FText;
};

std::wstring TakeBstr(BSTR AText) {
    std::wstring text = AText ? std::wstring(AText, SysStringLen(AText)) : L"<null>";
    SysFreeString(AText);
    return text;
}

struct TValue {
    VARIANT V;
    TValue() { VariantInit(&V); }
    TValue(const wchar_t* AText) : TValue() {
        V.vt = VT_BSTR;
        V.bstrVal = SysAllocString(AText);
    }
    TValue(const std::wstring& AText) : TValue() {
        V.vt = VT_BSTR;
        V.bstrVal = SysAllocStringLen(AText.data(), AText.size());
    }
    TValue(int AValue) : TValue() {
        V.vt = VT_I4;
        V.lVal = AValue;
    }
    static TValue Bool(bool AValue) {
        TValue v;
        v.V.vt = VT_BOOL;
        v.V.boolVal = AValue ? VARIANT_TRUE : VARIANT_FALSE;
        return v;
    }
    TValue(const TValue& AOther) : TValue() { VariantCopy(&V, const_cast<VARIANT*>(&AOther.V)); }
    TValue& operator=(const TValue&) = delete;
    ~TValue() { VariantClear(&V); }
    std::wstring Text() const { return V.vt == VT_BSTR ? std::wstring(V.bstrVal, SysStringLen(V.bstrVal)) : L""; }
};

// The host's parameter array: a SAFEARRAY of VARIANT, lower bound 0.
class TParamArray {
public:
    explicit TParamArray(const std::vector<TValue>& AValues)
        : FArray(SafeArrayCreateVector(VT_VARIANT, 0, AValues.size())) {
        for (LONG i = 0; i < static_cast<LONG>(AValues.size()); ++i)
            SafeArrayPutElement(FArray, &i, const_cast<VARIANT*>(&AValues[i].V));
    }
    ~TParamArray() { SafeArrayDestroy(FArray); }
    TParamArray(const TParamArray&) = delete;
    TParamArray& operator=(const TParamArray&) = delete;
    SAFEARRAY** Ptr() { return &FArray; }
    TValue Get(LONG AIndex) const {
        TValue v;
        SafeArrayGetElement(FArray, &AIndex, &v.V);
        return v;
    }

private:
    SAFEARRAY* FArray;
};

// ---- the host's connection object ----

// The host's services, each a separate object that counts its references and records the calls.
struct TAsyncEvent final : IAsyncEvent {
    LONG Refs = 1;
    long Depth = -1;
    std::vector<std::wstring> Events;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        *ppv = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IAsyncEvent)) return E_NOINTERFACE;
        *ppv = this;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++Refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --Refs; }
    HRESULT STDMETHODCALLTYPE SetEventBufferDepth(long lDepth) override {
        Depth = lDepth;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetEventBufferDepth(long* plDepth) override {
        *plDepth = Depth;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ExternalEvent(BSTR bstrSource, BSTR bstrMessage, BSTR bstrData) override {
        Events.push_back(std::wstring(bstrSource) + L"|" + bstrMessage + L"|" + bstrData);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE CleanBuffer() override { return S_OK; }
};

struct TExtWnds final : IExtWndsSupport {
    LONG Refs = 1;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        *ppv = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IExtWndsSupport)) return E_NOINTERFACE;
        *ppv = this;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++Refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --Refs; }
    HRESULT STDMETHODCALLTYPE GetAppMainFrame(HWND* pHwnd) override {
        *pHwnd = nullptr;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetAppMDIFrame(HWND* pHwnd) override {
        *pHwnd = nullptr;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE CreateAddInWindow(BSTR, BSTR, long, long, RECT*, long, HWND*, IUnknown**) override {
        return E_NOTIMPL;
    }
};

struct TConnection final : IDispatch {
    LONG Refs = 1;
    TAsyncEvent Event;
    TExtWnds Wnds;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        *ppv = nullptr;
        if (IsEqualIID(riid, IID_IAsyncEvent)) return Event.QueryInterface(riid, ppv);
        if (IsEqualIID(riid, IID_IExtWndsSupport)) return Wnds.QueryInterface(riid, ppv);
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IDispatch)) return E_NOINTERFACE;
        *ppv = this;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++Refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --Refs; }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return E_NOTIMPL;
    }
};

// ---- registry ----

std::wstring ReadText(HKEY ARoot, const std::wstring& AKey, const wchar_t* AName) {
    wchar_t buffer[1024] = {};
    DWORD size = sizeof buffer - sizeof(wchar_t);
    if (RegGetValueW(ARoot, AKey.c_str(), AName, RRF_RT_REG_SZ, nullptr, buffer, &size) != ERROR_SUCCESS)
        return L"<none>";
    return buffer;
}

std::wstring ClassIdText() {
    wchar_t text[64] = {};
    StringFromGUID2(CLSID_AddIn, text, 64);
    return text;
}

bool HostIs77() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring name = path;
    name = name.substr(name.find_last_of(L"\\/") + 1);
    return CompareStringOrdinal(name.substr(0, 4).c_str(), -1, L"1cv7", -1, TRUE) == CSTR_EQUAL;
}

// ---- the add-in ----

struct TAddIn {
    IInitDone* InitDone = nullptr;
    ILanguageExtender* Lang = nullptr;

    long Method(const wchar_t* AName) {
        long n = -2;
        Lang->FindMethod(TBstr(AName), &n);
        return n;
    }
    // Calls by name; the result comes back in ARet, out-values in the array.
    HRESULT Call(const wchar_t* AName, TParamArray& AParams, TValue& ARet) {
        VariantClear(&ARet.V);
        return Lang->CallAsFunc(Method(AName), &ARet.V, AParams.Ptr());
    }
    // The host's truth value: a Boolean, or 1/0 under 7.7.
    static bool Succeeded(const TValue& ARet) {
        return (ARet.V.vt == VT_BOOL && ARet.V.boolVal) || (ARet.V.vt == VT_I4 && ARet.V.lVal == 1);
    }
    std::string LastError() {
        TParamArray p({TValue()});
        TValue ret;
        Call(L"GetLastError", p, ret);
        return std::to_string(ret.V.lVal) + " " + Utf8(p.Get(0).Text());
    }
};

const wchar_t kCashier[] =
    L"<InputParameters><Parameters CashierName=\"Петрова А.С.\" CashierVATIN=\"500100732259\"/></InputParameters>";
const wchar_t kSale[] =
    L"<CheckPackage><Parameters PaymentType=\"1\" TaxVariant=\"0\" CashierName=\"Петрова А.С.\" "
    L"CashierVATIN=\"500100732259\"/><Positions><FiscalString Name=\"Хлеб\" Quantity=\"2\" "
    L"PriceWithDiscount=\"45.50\" SumWithDiscount=\"91.00\" DiscountSum=\"0\" Tax=\"10\" TaxSum=\"8.27\" "
    L"Department=\"1\" SignCalculationObject=\"1\" SignMethodCalculation=\"4\"/></Positions>"
    L"<Payments Cash=\"100\" ElectronicPayment=\"0\" PrePayment=\"0\" PostPayment=\"0\" Barter=\"0\"/>"
    L"</CheckPackage>";

// Under 7.7 the settings live in a file per device: saved, changed, read back.
void RunSettingsFile(TAddIn& AAddIn) {
    ILanguageExtender* lang = AAddIn.Lang;
    long n = -1;
    lang->FindProp(TBstr(L"QRSize"), &n);
    TValue ret, five = 5, two = 2, back;
    TParamArray id({TValue(L"com-test")}), none({});
    const bool saved = AAddIn.Call(L"SetDeviceID", id, ret) == S_OK && lang->SetPropVal(n, &five.V) == S_OK &&
                       AAddIn.Call(L"ЗаписатьНастройки", none, ret) == S_OK;
    // These two answer with the return value left as the host passed it.
    const bool read = lang->SetPropVal(n, &two.V) == S_OK && AAddIn.Call(L"ReadSettings", none, ret) == S_OK &&
                      lang->GetPropVal(n, &back.V) == S_OK;
    const VARTYPE kind = back.V.vt;
    VariantChangeType(&back.V, &back.V, 0, VT_I4);
    std::wstring file = L"<FR_APPDATA_DIR not set>";
    bool exists = true;
    if (const wchar_t* dir = _wgetenv(L"FR_APPDATA_DIR")) {
        file = std::wstring(dir) + L"fr_tarvikonline1c83\\com-test.sts";
        exists = GetFileAttributesW(file.c_str()) != INVALID_FILE_ATTRIBUTES;
    }
    Check(saved && read && back.V.vt == VT_I4 && back.V.lVal == 5 && exists,
          "7.7: SaveSettings and ReadSettings keep the settings in the device's file",
          std::string(saved ? "saved" : "not saved") + (read ? ", read" : ", not read") + ", QRSize back " +
              std::to_string(back.V.lVal) + " (vt " + std::to_string(kind) + "); " + Utf8(file) +
              (exists ? "" : " missing"));
}

struct TCase {
    const char* Name;
    std::function<bool(std::string&)> Run;  // true when the add-in answered as it must
};

void RunCases(TAddIn& AAddIn, bool AHost77, IUnknown* AObject) {
    ILanguageExtender* lang = AAddIn.Lang;
    long methods = 0, props = 0;
    lang->GetNMethods(&methods);
    lang->GetNProps(&props);
    const long describe = AAddIn.Method(L"GetDescription");

    auto query = [&](REFIID AIid, auto** AOut) {
        *AOut = nullptr;
        return AObject->QueryInterface(AIid, reinterpret_cast<void**>(AOut));
    };

    const std::vector<TCase> cases = {
        {"GetInfo puts the string \"2000\" into element 0",
         [&](std::string& d) {
             TParamArray info({TValue()});
             const HRESULT hr = AAddIn.InitDone->GetInfo(info.Ptr());
             const TValue v = info.Get(0);
             d = Hex(hr) + " vt=" + std::to_string(v.V.vt) + " '" + Utf8(v.Text()) + "'";
             return hr == S_OK && v.V.vt == VT_BSTR && v.Text() == L"2000";
         }},
        {"GetInfo gives an absent array one element",
         [&](std::string& d) {
             SAFEARRAY* info = nullptr;
             const HRESULT hr = AAddIn.InitDone->GetInfo(&info);
             LONG at = 0;
             TValue v;
             if (info) SafeArrayGetElement(info, &at, &v.V);
             if (info) SafeArrayDestroy(info);
             d = Hex(hr) + " '" + Utf8(v.Text()) + "'";
             return hr == S_OK && v.Text() == L"2000";
         }},
        {"RegisterExtensionAs answers the extension name",
         [&](std::string& d) {
             BSTR name = nullptr;
             const HRESULT hr = lang->RegisterExtensionAs(&name);
             const std::wstring text = TakeBstr(name);
             d = Hex(hr) + " '" + Utf8(text) + "'";
             return hr == S_OK && text == L"fr_tarvikonline1c83";
         }},
        {"FindMethod takes either language in any case",
         [&](std::string& d) {
             const long a = AAddIn.Method(L"processcheck"), b = AAddIn.Method(L"СформироватьЧек"),
                        c = AAddIn.Method(L"сформироватьчек"), e = AAddIn.Method(L"NoSuchMethod");
             d = std::to_string(a) + " " + std::to_string(b) + " " + std::to_string(c) + " " + std::to_string(e);
             return a >= 0 && a == b && b == c && e == -1;
         }},
        {"GetMethodName answers the entry's name whatever the alias flag",
         [&](std::string& d) {
             BSTR n0 = nullptr, n1 = nullptr;
             lang->GetMethodName(describe, 0, &n0);
             lang->GetMethodName(describe, 1, &n1);
             const std::wstring a = TakeBstr(n0), b = TakeBstr(n1);
             d = Utf8(a) + " / " + Utf8(b);
             return a == L"ПолучитьОписание" && b == a;
         }},
        {"out-of-range numbers answer S_FALSE",
         [&](std::string& d) {
             TParamArray none({});
             TValue ret;
             BSTR name = nullptr;
             long count = -7;
             TValue value;
             const HRESULT r[] = {lang->CallAsFunc(methods, &ret.V, none.Ptr()), lang->CallAsFunc(-1, &ret.V, none.Ptr()),
                                  lang->CallAsProc(methods, none.Ptr()),     lang->GetMethodName(methods, 0, &name),
                                  lang->GetNParams(methods, &count),         lang->GetPropName(props, 0, &name),
                                  lang->GetPropVal(-1, &value.V),            lang->SetPropVal(props, &value.V)};
             bool all = name == nullptr && count == -7 && value.V.vt == VT_EMPTY;
             for (HRESULT hr : r) {
                 d += Hex(hr) + " ";
                 all = all && hr == S_FALSE;
             }
             return all;
         }},
        {"GetParamDefValue and HasRetVal answer for any number",
         [&](std::string& d) {
             TValue v = 5;
             BOOL has = FALSE;
             const HRESULT a = lang->GetParamDefValue(methods + 5, 99, &v.V), b = lang->HasRetVal(methods + 5, &has);
             d = Hex(a) + " " + Hex(b) + " vt=" + std::to_string(v.V.vt) + " has=" + std::to_string(has);
             return a == S_OK && b == S_OK && v.V.vt == VT_EMPTY && has;
         }},
        {AHost77 ? "GetDescription answers the integer 1 to a 7.7 host" : "GetDescription answers true",
         [&](std::string& d) {
             TParamArray p({TValue(), TValue(), TValue(), TValue(), TValue(), TValue(), TValue()});
             TValue ret;
             const HRESULT hr = lang->CallAsFunc(describe, &ret.V, p.Ptr());
             d = Hex(hr) + " vt=" + std::to_string(ret.V.vt) + " name='" + Utf8(p.Get(0).Text()) + "'";
             const bool typed = AHost77 ? ret.V.vt == VT_I4 && ret.V.lVal == 1
                                        : ret.V.vt == VT_BOOL && ret.V.boolVal == VARIANT_TRUE;
             return hr == S_OK && typed && !p.Get(0).Text().empty();
         }},
        {AHost77 ? "a failing method answers the integer 0 to a 7.7 host" : "a failing method answers false",
         [&](std::string& d) {
             // No device is open yet: the shift cannot be opened.
             TParamArray p({TValue(L"no-such-device"), TValue(kCashier), TValue(), TValue(), TValue()});
             TValue ret;
             const HRESULT hr = AAddIn.Call(L"OpenShift", p, ret);
             d = Hex(hr) + " vt=" + std::to_string(ret.V.vt) + " (" + AAddIn.LastError() + ")";
             return hr == S_OK && (AHost77 ? ret.V.vt == VT_I4 && ret.V.lVal == 0
                                           : ret.V.vt == VT_BOOL && ret.V.boolVal == VARIANT_FALSE);
         }},
        {AHost77 ? "the 7.7 methods are there" : "the 7.7 methods are not there",
         [&](std::string& d) {
             const long a = AAddIn.Method(L"SaveSettings"), b = AAddIn.Method(L"СчитатьНастройки"),
                        c = AAddIn.Method(L"SetDeviceID");
             d = std::to_string(a) + " " + std::to_string(b) + " " + std::to_string(c);
             return AHost77 ? a >= 0 && b >= 0 && c >= 0 : a == -1 && b == -1 && c == -1;
         }},
        {"properties: found by name, read, written, readable and writable",
         [&](std::string& d) {
             long n = -2;
             lang->FindProp(TBstr(L"QRSize"), &n);
             TValue four = 4, back;
             BOOL readable = FALSE, writable = FALSE, outside = TRUE;
             const HRESULT set = lang->SetPropVal(n, &four.V), get = lang->GetPropVal(n, &back.V);
             lang->IsPropReadable(n, &readable);
             lang->IsPropWritable(n, &writable);
             lang->IsPropReadable(props, &outside);
             d = "n=" + std::to_string(n) + " " + Hex(set) + " " + Hex(get) + " vt=" + std::to_string(back.V.vt);
             return n >= 0 && set == S_OK && get == S_OK && back.V.vt == VT_I4 && back.V.lVal == 4 && readable &&
                    writable && !outside;
         }},
        {"parameters that are not an array of VARIANT are refused",
         [&](std::string& d) {
             SAFEARRAY* texts = SafeArrayCreateVector(VT_BSTR, 0, 1);
             TValue ret;
             const HRESULT hr = lang->CallAsFunc(describe, &ret.V, &texts);
             SafeArrayDestroy(texts);
             d = Hex(hr);
             return hr == E_INVALIDARG;
         }},
        {"out-parameters reach a by-reference slot",
         [&](std::string& d) {
             TValue target;
             TParamArray p({TValue()});
             VARIANT ref;
             VariantInit(&ref);
             ref.vt = VT_BYREF | VT_VARIANT;
             ref.pvarVal = &target.V;
             LONG at = 0;
             SafeArrayPutElement(*p.Ptr(), &at, &ref);
             TValue ret;
             const HRESULT hr = AAddIn.Call(L"GetLastError", p, ret);
             d = Hex(hr) + " '" + Utf8(target.Text()) + "'";
             return hr == S_OK && target.V.vt == VT_BSTR && !target.Text().empty();
         }},
        {"IPropertyLink: no settings dialog",
         [&](std::string& d) {
             IPropertyLink* link = nullptr;
             if (FAILED(query(IID_IPropertyLink, &link))) return false;
             BOOL cap = TRUE;
             const HRESULT a = link->CapSettingsDlg(&cap), b = link->ChangeSettings();
             link->Release();
             d = Hex(a) + " cap=" + std::to_string(cap) + " " + Hex(b);
             return a == S_OK && !cap && b == S_FALSE;
         }},
        {"ISpecifyPropertyPages: one page in task memory",
         [&](std::string& d) {
             ISpecifyPropertyPages* pages = nullptr;
             if (FAILED(query(IID_ISpecifyPropertyPages, &pages))) return false;
             CAUUID ids{};
             const HRESULT hr = pages->GetPages(&ids);
             pages->Release();
             wchar_t text[64] = {};
             if (ids.pElems) StringFromGUID2(ids.pElems[0], text, 64);
             CoTaskMemFree(ids.pElems);
             d = Hex(hr) + " " + std::to_string(ids.cElems) + " " + Utf8(text);
             return hr == S_OK && ids.cElems == 1 && text[0] == L'{';
         }},
        {"IDispatch answers E_NOTIMPL",
         [&](std::string& d) {
             IDispatch* disp = nullptr;
             if (FAILED(query(IID_IDispatch, &disp))) return false;
             UINT count = 9;
             DISPID id = 0;
             LPOLESTR name = const_cast<LPOLESTR>(L"Open");
             const HRESULT r[] = {disp->GetTypeInfoCount(&count), disp->GetIDsOfNames(IID_NULL, &name, 1, 0, &id),
                                  disp->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, nullptr, nullptr, nullptr, nullptr)};
             disp->Release();
             bool all = true;
             for (HRESULT hr : r) {
                 d += Hex(hr) + " ";
                 all = all && hr == E_NOTIMPL;
             }
             return all;
         }},
        {"an interface it does not have is refused",
         [&](std::string& d) {
             IClassFactory* factory = reinterpret_cast<IClassFactory*>(&d);
             const HRESULT hr = query(IID_IClassFactory, &factory);
             d = Hex(hr);
             return hr == E_NOINTERFACE && factory == nullptr;
         }},
    };
    for (const TCase& c : cases) {
        std::string detail;
        const bool ok = c.Run(detail);
        Check(ok, c.Name, detail);
    }
    if (AHost77) RunSettingsFile(AAddIn);
}

// Values across the boundary: a setting keeps what it is given, so writing one and reading it
// back shows both conversions. Each row: the VARIANT given, the kind and value expected back
// (VT_ILLEGAL: the add-in refuses it with E_INVALIDARG).
void RunValues(TAddIn& AAddIn, IDispatch* AConnection) {
    ILanguageExtender* lang = AAddIn.Lang;
    long n = -1;
    lang->FindProp(TBstr(L"QRSize"), &n);
    auto make = [](VARTYPE AType, auto ASet) {
        TValue v;
        ASet(v.V);
        v.V.vt = AType;  // after: a DECIMAL overlays the type field
        return v;
    };
    LONG byRefTarget = 77;
    SAFEARRAY* numbers = SafeArrayCreateVector(VT_I4, 0, 2);
    SAFEARRAY* items = SafeArrayCreateVector(VT_VARIANT, 0, 2);
    {
        LONG at = 1;
        TValue text(L"b");
        SafeArrayPutElement(items, &at, &text.V);
    }
    DECIMAL dec{};
    VarDecFromR8(2.5, &dec);
    const struct {
        const char* Name;
        TValue In;
        VARTYPE Out;
        std::function<bool(const VARIANT&)> Same;
    } rows[] = {
        {"I2", make(VT_I2, [](VARIANT& v) { v.iVal = -5; }), VT_I2, [](const VARIANT& v) { return v.iVal == -5; }},
        {"I4", make(VT_I4, [](VARIANT& v) { v.lVal = 100000; }), VT_I4, [](const VARIANT& v) { return v.lVal == 100000; }},
        {"I8 small", make(VT_I8, [](VARIANT& v) { v.llVal = 7; }), VT_I2, [](const VARIANT& v) { return v.iVal == 7; }},
        {"I8 beyond 32 bits", make(VT_I8, [](VARIANT& v) { v.llVal = 1LL << 40; }), VT_R8,
         [](const VARIANT& v) { return v.dblVal == double(1LL << 40); }},
        {"UI4 beyond int", make(VT_UI4, [](VARIANT& v) { v.ulVal = 0xFFFFFFFFu; }), VT_R8,
         [](const VARIANT& v) { return v.dblVal == 4294967295.0; }},
        {"UI1", make(VT_UI1, [](VARIANT& v) { v.bVal = 200; }), VT_UI1, [](const VARIANT& v) { return v.bVal == 200; }},
        {"R4", make(VT_R4, [](VARIANT& v) { v.fltVal = 1.5f; }), VT_R4, [](const VARIANT& v) { return v.fltVal == 1.5f; }},
        {"R8", make(VT_R8, [](VARIANT& v) { v.dblVal = 45.5; }), VT_R8, [](const VARIANT& v) { return v.dblVal == 45.5; }},
        {"CY", make(VT_CY, [](VARIANT& v) { v.cyVal.int64 = 123456; }), VT_CY,
         [](const VARIANT& v) { return v.cyVal.int64 == 123456; }},
        {"DATE", make(VT_DATE, [](VARIANT& v) { v.date = 45000.25; }), VT_DATE,
         [](const VARIANT& v) { return v.date == 45000.25; }},
        {"BOOL", make(VT_BOOL, [](VARIANT& v) { v.boolVal = VARIANT_TRUE; }), VT_BOOL,
         [](const VARIANT& v) { return v.boolVal == VARIANT_TRUE; }},
        {"BSTR with a zero inside", TValue(std::wstring(L"a\0b", 3)), VT_BSTR,
         [](const VARIANT& v) { return SysStringLen(v.bstrVal) == 3 && v.bstrVal[2] == L'b'; }},
        {"NULL", make(VT_NULL, [](VARIANT&) {}), VT_NULL, [](const VARIANT&) { return true; }},
        {"EMPTY", TValue(), VT_EMPTY, [](const VARIANT&) { return true; }},
        {"DECIMAL", make(VT_DECIMAL, [&](VARIANT& v) { v.decVal = dec; }), VT_R8,
         [](const VARIANT& v) { return v.dblVal == 2.5; }},
        {"BYREF I4", make(VT_BYREF | VT_I4, [&](VARIANT& v) { v.plVal = &byRefTarget; }), VT_I4,
         [](const VARIANT& v) { return v.lVal == 77; }},
        {"DISPATCH", make(VT_DISPATCH, [&](VARIANT& v) { v.pdispVal = AConnection; AConnection->AddRef(); }),
         VT_DISPATCH, [&](const VARIANT& v) { return v.pdispVal == AConnection; }},
        {"ARRAY of VARIANT", make(VT_ARRAY | VT_VARIANT, [&](VARIANT& v) { v.parray = items; }),
         VT_ARRAY | VT_VARIANT, [](const VARIANT& v) {
             LONG at = 1;
             VARIANT e;
             VariantInit(&e);
             SafeArrayGetElement(v.parray, &at, &e);
             const bool same = e.vt == VT_BSTR && std::wstring(e.bstrVal) == L"b";
             VariantClear(&e);
             return same;
         }},
        {"ARRAY of I4", make(VT_ARRAY | VT_I4, [&](VARIANT& v) { v.parray = numbers; }), VT_ILLEGAL, nullptr},
        {"ERROR", make(VT_ERROR, [](VARIANT& v) { v.scode = DISP_E_PARAMNOTFOUND; }), VT_ILLEGAL, nullptr},
    };
    for (const auto& row : rows) {
        TValue in = row.In, back;
        const HRESULT set = lang->SetPropVal(n, &in.V);
        if (row.Out == VT_ILLEGAL) {
            Check(set == E_INVALIDARG, std::string("value ") + row.Name + " is refused", Hex(set));
            continue;
        }
        const HRESULT get = lang->GetPropVal(n, &back.V);
        Check(set == S_OK && get == S_OK && back.V.vt == row.Out && row.Same(back.V),
              std::string("value ") + row.Name + " crosses both ways",
              Hex(set) + " " + Hex(get) + " vt=" + std::to_string(back.V.vt));
    }
    TValue four = 4;
    lang->SetPropVal(n, &four.V);
}

void RunReceipt(TAddIn& AAddIn, int APort) {
    TValue ret;
    const struct {
        const wchar_t* Name;
        TValue Value;
    } settings[] = {{L"PortNumber", 9999}, {L"IPAddress", L"127.0.0.1"}, {L"IPPort", APort}};
    for (const auto& s : settings) {
        TParamArray p({TValue(s.Name), s.Value});
        const HRESULT hr = AAddIn.Call(L"SetParameter", p, ret);
        Check(hr == S_OK && TAddIn::Succeeded(ret), "SetParameter " + Utf8(s.Name));
    }

    TParamArray open({TValue()});
    HRESULT hr = AAddIn.Call(L"Подключить", open, ret);
    const std::wstring device = open.Get(0).Text();
    Check(hr == S_OK && TAddIn::Succeeded(ret) && !device.empty(), "Open", "device '" + Utf8(device) + "' " + AAddIn.LastError());

    TParamArray shift({TValue(device), TValue(kCashier), TValue(), TValue(), TValue()});
    hr = AAddIn.Call(L"OpenShift", shift, ret);
    Check(hr == S_OK && TAddIn::Succeeded(ret), "OpenShift", AAddIn.LastError());

    TParamArray sale({TValue(device), TValue::Bool(false), TValue(kSale), TValue(), TValue(), TValue(), TValue()});
    hr = AAddIn.Call(L"СформироватьЧек", sale, ret);
    std::string outs;
    for (LONG i = 3; i < 7; ++i) {
        TValue v = sale.Get(i);
        VariantChangeType(&v.V, &v.V, 0, VT_BSTR);
        outs += (i > 3 ? ", " : "") + Utf8(v.Text());
    }
    Check(hr == S_OK && TAddIn::Succeeded(ret) && sale.Get(6).Text() == L"www.nalog.gov.ru", "ProcessCheck",
          "check, shift, fiscal sign, site = " + outs + "; " + AAddIn.LastError());

    TParamArray close({TValue(device)});
    hr = AAddIn.Call(L"Close", close, ret);
    Check(hr == S_OK && TAddIn::Succeeded(ret), "Close", AAddIn.LastError());
}

// The registration regsvr32 made, and the per-user one through DllInstall.
void RunRegistration(HMODULE AModule, const std::wstring& AModulePath) {
    const std::wstring clsid = ClassIdText();
    const std::wstring classKey = L"Software\\Classes\\CLSID\\" + clsid;
    const std::wstring progKey = L"Software\\Classes\\AddIn.fr_tarvikonline1c83";
    Check(ReadText(HKEY_LOCAL_MACHINE, classKey + L"\\InprocServer32", L"ThreadingModel") == L"Apartment",
          "InprocServer32 is apartment-threaded");
    Check(ReadText(HKEY_LOCAL_MACHINE, progKey + L"\\CLSID", nullptr) == clsid, "the ProgID names the class");

    using TInstall = HRESULT(STDAPICALLTYPE*)(BOOL, LPCWSTR);
    auto install = reinterpret_cast<TInstall>(reinterpret_cast<void*>(GetProcAddress(AModule, "DllInstall")));
    if (!install) return Check(false, "DllInstall exported");
    const HRESULT add = install(TRUE, L"user");
    const std::wstring userPath = ReadText(HKEY_CURRENT_USER, classKey + L"\\InprocServer32", nullptr);
    const std::wstring userProg = ReadText(HKEY_CURRENT_USER, progKey + L"\\CLSID", nullptr);
    Check(add == S_OK && userPath == AModulePath && userProg == clsid, "DllInstall user registers for the user",
          Hex(add) + " " + Utf8(userPath));
    const HRESULT remove = install(FALSE, L"USER");
    Check(remove == S_OK && ReadText(HKEY_CURRENT_USER, classKey, nullptr) == L"<none>" &&
              ReadText(HKEY_CURRENT_USER, progKey, nullptr) == L"<none>" &&
              ReadText(HKEY_LOCAL_MACHINE, classKey + L"\\InprocServer32", nullptr) == AModulePath,
          "DllInstall uninstall user removes only the user's keys", Hex(remove));
    const HRESULT bogus = install(TRUE, L"everyone");
    Check(bogus == E_INVALIDARG, "DllInstall refuses an unknown scope", Hex(bogus));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s PORT\n", argv[0]);
        return 2;
    }
    const int port = std::atoi(argv[1]);
    const bool host77 = HostIs77();
    std::printf("host: %s\n", host77 ? "7.7" : "8.x");

    if (FAILED(CoInitialize(nullptr))) return Check(false, "CoInitialize"), 1;
    CLSID clsid{};
    HRESULT hr = CLSIDFromProgID(L"AddIn.fr_tarvikonline1c83", &clsid);
    Check(hr == S_OK && IsEqualCLSID(clsid, CLSID_AddIn), "CLSIDFromProgID", Hex(hr));

    IUnknown* outer = reinterpret_cast<IUnknown*>(&clsid), *object = nullptr;
    hr = CoCreateInstance(clsid, outer, CLSCTX_INPROC_SERVER, IID_IUnknown, reinterpret_cast<void**>(&object));
    Check(hr == CLASS_E_NOAGGREGATION && !object, "aggregation is refused", Hex(hr));

    hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, reinterpret_cast<void**>(&object));
    Check(hr == S_OK && object, "CoCreateInstance", Hex(hr));
    if (!object) return 1;

    const std::wstring modulePath = ReadText(HKEY_LOCAL_MACHINE,
                                             L"Software\\Classes\\CLSID\\" + ClassIdText() + L"\\InprocServer32", nullptr);
    HMODULE module = GetModuleHandleW(modulePath.c_str());
    Check(module != nullptr, "the registered module is the one loaded", Utf8(modulePath));
    using TCanUnload = HRESULT(STDAPICALLTYPE*)();
    auto canUnload = module ? reinterpret_cast<TCanUnload>(reinterpret_cast<void*>(GetProcAddress(module, "DllCanUnloadNow")))
                            : nullptr;
    if (module) RunRegistration(module, modulePath);

    TAddIn addIn;
    object->QueryInterface(IID_IInitDone, reinterpret_cast<void**>(&addIn.InitDone));
    object->QueryInterface(IID_ILanguageExtender, reinterpret_cast<void**>(&addIn.Lang));
    Check(addIn.InitDone && addIn.Lang, "IInitDone and ILanguageExtender");
    if (!addIn.InitDone || !addIn.Lang) return 1;

    TConnection connection;
    hr = addIn.InitDone->Init(&connection);
    Check(hr == S_OK && connection.Event.Depth == 100 && connection.Event.Refs == 2 && connection.Wnds.Refs == 2,
          "Init takes the event service (depth 100) and the window support",
          Hex(hr) + " depth=" + std::to_string(connection.Event.Depth) + " refs=" +
              std::to_string(connection.Event.Refs) + "/" + std::to_string(connection.Wnds.Refs));

    RunCases(addIn, host77, object);
    RunValues(addIn, &connection);
    RunReceipt(addIn, port);

    hr = addIn.InitDone->Done();
    Check(hr == S_OK && connection.Event.Refs == 1 && connection.Wnds.Refs == 1 && connection.Refs == 1,
          "Done gives back every reference to the host's services", Hex(hr));
    Check(!canUnload || canUnload() == S_FALSE, "DllCanUnloadNow: not while an object lives");
    addIn.Lang->Release();
    addIn.InitDone->Release();
    const ULONG left = object->Release();
    Check(left == 0, "the last Release frees the object", std::to_string(left));
    Check(!canUnload || canUnload() == S_OK, "DllCanUnloadNow: yes once it is gone");
    CoUninitialize();
    std::printf("%s: %d failure(s)\n", host77 ? "7.7 host" : "8.x host", gFailures);
    return gFailures == 0 ? 0 : 1;
}
