// The in-process COM server: the class factory of AddIn.fr_tarvikonline1c83 and the five
// entry points of an in-process server.
//
// Registration writes the class under HKLM\Software\Classes (every user of the machine) or
// HKCU\Software\Classes (the current user only):
//   AddIn.fr_tarvikonline1c83            = "V7 AddIn 2.0", CLSID = {class identifier}
//   CLSID\{class identifier}              = "V7 AddIn 2.0", ProgID = AddIn.fr_tarvikonline1c83
//   CLSID\{...}\InprocServer32            = the module's path, ThreadingModel = Apartment
// DllRegisterServer takes the machine and falls back to the current user when it may not write
// there (7.7 registers the add-ins it loads itself, often without administrator rights);
// DllUnregisterServer removes both. DllInstall picks one: "user" or "machine" on its command
// line (regsvr32 /n /i:user), an empty command line behaving as the two above.
#include <atomic>
#include <string>

#include "addin/com/ComObject.h"
#include "framework/Log.h"
#include "platform/System.h"

namespace fr::com {
namespace {

std::atomic<long> gModuleUsers{0};

// The log is named after the module. Done on the first object rather than at load time, when
// the log's own statics may not exist yet.
void NameTheLogOnce() {
    static const bool named = [] {
        TLog::SetLogFileName(kModuleBaseName);
        return true;
    }();
    (void)named;
}

class TClassFactory final : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IClassFactory)) return E_NOINTERFACE;
        *ppv = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    // One static factory for the module's life; references to it keep the module loaded.
    ULONG STDMETHODCALLTYPE AddRef() override {
        LockModule();
        return 2;
    }
    ULONG STDMETHODCALLTYPE Release() override {
        UnlockModule();
        return 1;
    }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (pUnkOuter) return CLASS_E_NOAGGREGATION;
        TComAddIn* object = nullptr;
        try {
            NameTheLogOnce();
            object = new TComAddIn();
        } catch (...) {
            return E_OUTOFMEMORY;
        }
        const HRESULT hr = object->QueryInterface(riid, ppv);
        object->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL fLock) override {
        if (fLock) LockModule();
        else UnlockModule();
        return S_OK;
    }
};

TClassFactory gFactory;

// ---- registration ----

enum class TScope { Machine, User };

HKEY RootOf(TScope AScope) { return AScope == TScope::Machine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER; }

HRESULT FromWin32(LONG AError) { return AError == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(AError); }

std::wstring ClassIdText() {
    wchar_t text[64] = {};
    StringFromGUID2(CLSID_AddIn, text, 64);
    return text;
}

std::wstring ModulePath() {
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(&ModulePath), &module))
        return {};
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0) return {};
        if (n < path.size()) {
            path.resize(n);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

// Creates the key and sets its value (the default value when AName is null).
LONG SetText(HKEY ARoot, const std::wstring& AKey, const wchar_t* AName, const std::wstring& AValue) {
    HKEY key = nullptr;
    LONG rc = RegCreateKeyExW(ARoot, AKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr,
                              &key, nullptr);
    if (rc != ERROR_SUCCESS) return rc;
    rc = RegSetValueExW(key, AName, 0, REG_SZ, reinterpret_cast<const BYTE*>(AValue.c_str()),
                        static_cast<DWORD>((AValue.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
    return rc;
}

const std::wstring kClasses = L"Software\\Classes\\";

LONG Unregister(TScope AScope);

LONG Register(TScope AScope) {
    const std::wstring module = ModulePath();
    if (module.empty()) return ERROR_MOD_NOT_FOUND;
    const HKEY root = RootOf(AScope);
    const std::wstring clsid = ClassIdText();
    const std::wstring progIdKey = kClasses + kProgId;
    const std::wstring classKey = kClasses + L"CLSID\\" + clsid;
    const struct {
        std::wstring Key;
        const wchar_t* Name;
        std::wstring Value;
    } values[] = {
        {progIdKey, nullptr, kClassDescription},
        {progIdKey + L"\\CLSID", nullptr, clsid},
        {classKey, nullptr, kClassDescription},
        {classKey + L"\\ProgID", nullptr, kProgId},
        {classKey + L"\\InprocServer32", nullptr, module},
        {classKey + L"\\InprocServer32", L"ThreadingModel", L"Apartment"},
    };
    for (const auto& v : values) {
        const LONG rc = SetText(root, v.Key, v.Name, v.Value);
        if (rc != ERROR_SUCCESS) {
            Unregister(AScope);  // nothing half-written stays behind
            return rc;
        }
    }
    return ERROR_SUCCESS;
}

// Removes what Register wrote; a key that is not there is no failure.
LONG Unregister(TScope AScope) {
    const HKEY root = RootOf(AScope);
    LONG result = ERROR_SUCCESS;
    for (const std::wstring& key : {kClasses + kProgId, kClasses + L"CLSID\\" + ClassIdText()}) {
        const LONG rc = RegDeleteTreeW(root, key.c_str());
        if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND && result == ERROR_SUCCESS) result = rc;
    }
    return result;
}

HRESULT RegisterDefault() {
    const LONG rc = Register(TScope::Machine);
    if (rc == ERROR_ACCESS_DENIED) return FromWin32(Register(TScope::User));
    return FromWin32(rc);
}

HRESULT UnregisterDefault() {
    const LONG user = Unregister(TScope::User);
    const LONG machine = Unregister(TScope::Machine);
    return FromWin32(machine != ERROR_SUCCESS ? machine : user);
}

}  // namespace

void LockModule() { ++gModuleUsers; }
void UnlockModule() { --gModuleUsers; }
bool ModuleInUse() { return gModuleUsers.load() != 0; }

}  // namespace fr::com

using namespace fr::com;

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualCLSID(rclsid, CLSID_AddIn)) return CLASS_E_CLASSNOTAVAILABLE;
    return gFactory.QueryInterface(riid, ppv);
}

STDAPI DllCanUnloadNow() { return ModuleInUse() ? S_FALSE : S_OK; }

STDAPI DllRegisterServer() {
    try {
        return RegisterDefault();
    } catch (...) {
        return E_UNEXPECTED;
    }
}

STDAPI DllUnregisterServer() {
    try {
        return UnregisterDefault();
    } catch (...) {
        return E_UNEXPECTED;
    }
}

extern "C" HRESULT STDAPICALLTYPE DllInstall(BOOL bInstall, LPCWSTR pszCmdLine) {
    try {
        const std::wstring scope = pszCmdLine ? pszCmdLine : L"";
        if (scope.empty()) return bInstall ? RegisterDefault() : UnregisterDefault();
        TScope which;
        if (CompareStringOrdinal(scope.c_str(), -1, L"user", -1, TRUE) == CSTR_EQUAL) which = TScope::User;
        else if (CompareStringOrdinal(scope.c_str(), -1, L"machine", -1, TRUE) == CSTR_EQUAL) which = TScope::Machine;
        else return E_INVALIDARG;
        return FromWin32(bInstall ? Register(which) : Unregister(which));
    } catch (...) {
        return E_UNEXPECTED;
    }
}
