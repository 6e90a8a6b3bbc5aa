#pragma once
// The binary interface of the platform's COM add-ins (the form in which 1C:Enterprise 7.7, and
// 8.x through COM, load an add-in): the interfaces the component implements and the ones the
// host offers on its connection object, with their identifiers and slot orders, and the
// component's class identifier and programmatic identifier.
//
// COM interfaces are IUnknown-based with __stdcall methods and no virtual destructor, which
// MinGW's g++ lays out exactly as Microsoft's compiler does; both the component and test hosts
// include this header. Windows only.
//
// A translation unit that also includes addin/AddInObject.h must include it first: the Windows
// headers make S_OK and friends macros.

#ifndef _WIN32
#error "The COM binding is built for Windows only"
#endif

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <ole2.h>
#include <oaidl.h>
#include <ocidl.h>
#include <olectl.h>

namespace fr::com {

// Inside fr, HRESULT would otherwise name the add-in object's portable code type.
using HRESULT = ::HRESULT;

// {AB634001-F13D-11D0-A459-004095E1DAEA}
inline constexpr IID IID_IInitDone = {0xAB634001, 0xF13D, 0x11D0, {0xA4, 0x59, 0x00, 0x40, 0x95, 0xE1, 0xDA, 0xEA}};
// {AB634003-F13D-11D0-A459-004095E1DAEA}
inline constexpr IID IID_ILanguageExtender = {0xAB634003, 0xF13D, 0x11D0, {0xA4, 0x59, 0x00, 0x40, 0x95, 0xE1, 0xDA, 0xEA}};
// {AB634004-F13D-11D0-A459-004095E1DAEA}
inline constexpr IID IID_IAsyncEvent = {0xAB634004, 0xF13D, 0x11D0, {0xA4, 0x59, 0x00, 0x40, 0x95, 0xE1, 0xDA, 0xEA}};
// {B59789E1-2E8B-11D1-A4E7-004095E1DAEA}
inline constexpr IID IID_IPropertyLink = {0xB59789E1, 0x2E8B, 0x11D1, {0xA4, 0xE7, 0x00, 0x40, 0x95, 0xE1, 0xDA, 0xEA}};
// {EFE19EA0-09E4-11D2-A601-008048DA00DE}
inline constexpr IID IID_IExtWndsSupport = {0xEFE19EA0, 0x09E4, 0x11D2, {0xA6, 0x01, 0x00, 0x80, 0x48, 0xDA, 0x00, 0xDE}};

// The component's class, fixed once: registries and host configurations keep it.
// {4B7EAF64-9960-47F6-A61D-A112EDE439C1}
inline constexpr CLSID CLSID_AddIn = {0x4B7EAF64, 0x9960, 0x47F6, {0xA6, 0x1D, 0xA1, 0x12, 0xED, 0xE4, 0x39, 0xC1}};
inline constexpr const wchar_t* kProgId = L"AddIn.fr_tarvikonline1c83";
inline constexpr const wchar_t* kClassDescription = L"V7 AddIn 2.0";

// Start and end of the component's life; GetInfo reports the interface version.
struct IInitDone : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Init(IDispatch* pConnection) = 0;
    virtual HRESULT STDMETHODCALLTYPE Done() = 0;
    virtual HRESULT STDMETHODCALLTYPE GetInfo(SAFEARRAY** pInfo) = 0;
};

// Properties and methods callable from the platform's language. Parameters arrive as a
// one-dimensional SAFEARRAY of VARIANT; out-parameters go back through its elements.
struct ILanguageExtender : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE RegisterExtensionAs(BSTR* pExtensionName) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetNProps(long* plProps) = 0;
    virtual HRESULT STDMETHODCALLTYPE FindProp(BSTR bstrPropName, long* plPropNum) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetPropName(long lPropNum, long lPropAlias, BSTR* pbstrPropName) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetPropVal(long lPropNum, VARIANT* pvarPropVal) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetPropVal(long lPropNum, VARIANT* pvarPropVal) = 0;
    virtual HRESULT STDMETHODCALLTYPE IsPropReadable(long lPropNum, BOOL* pboolPropRead) = 0;
    virtual HRESULT STDMETHODCALLTYPE IsPropWritable(long lPropNum, BOOL* pboolPropWrite) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetNMethods(long* plMethods) = 0;
    virtual HRESULT STDMETHODCALLTYPE FindMethod(BSTR bstrMethodName, long* plMethodNum) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetMethodName(long lMethodNum, long lMethodAlias, BSTR* pbstrMethodName) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetNParams(long lMethodNum, long* plParams) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetParamDefValue(long lMethodNum, long lParamNum, VARIANT* pvarParamDefValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE HasRetVal(long lMethodNum, BOOL* pboolRetValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE CallAsProc(long lMethodNum, SAFEARRAY** paParams) = 0;
    virtual HRESULT STDMETHODCALLTYPE CallAsFunc(long lMethodNum, VARIANT* pvarRetValue, SAFEARRAY** paParams) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetLocale(BSTR bstrLocale) = 0;
};

// The settings dialog.
struct IPropertyLink : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE ChangeSettings() = 0;
    virtual HRESULT STDMETHODCALLTYPE CapSettingsDlg(BOOL* pboolCap) = 0;
};

// The host's asynchronous-event service (on the connection object).
struct IAsyncEvent : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE SetEventBufferDepth(long lDepth) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetEventBufferDepth(long* plDepth) = 0;
    virtual HRESULT STDMETHODCALLTYPE ExternalEvent(BSTR bstrSource, BSTR bstrMessage, BSTR bstrData) = 0;
    virtual HRESULT STDMETHODCALLTYPE CleanBuffer() = 0;
};

// The host's window support (on the connection object).
struct IExtWndsSupport : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetAppMainFrame(HWND* pHwnd) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetAppMDIFrame(HWND* pHwnd) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateAddInWindow(BSTR bstrProgId, BSTR bstrWindowName, long dwStyles,
                                                        long dwExStyles, RECT* pRect, long lFlags, HWND* pHwnd,
                                                        IUnknown** ppUnknown) = 0;
};

}  // namespace fr::com
