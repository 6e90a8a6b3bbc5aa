#pragma once
// The binary interface through which 1C:Enterprise loads an external add-in ("Native API") on
// Linux x86-64 and on Windows x86-64 and x86: the variant structure, the component's four base
// interfaces, the platform's memory manager and connection object, and the five exported
// functions. Our own declarations; the layout is pinned by the static_asserts below, since any
// drift silently corrupts the platform's memory.
//
// On Windows the platform is built with Microsoft's compiler, whose layout differs from g++'s in
// three ways this header absorbs, so that the binding's code is the same on every system:
// - long is 32-bit and the platform's wide character (WCHAR_T) is wchar_t, 2 bytes like char16_t;
// - on x86 the interface methods are __stdcall (ADDIN_API), the destructor __thiscall;
// - a virtual destructor takes ONE vtable slot (the deleting destructor, with a flags
//   argument), where g++ gives it two. The interfaces therefore declare that one slot
//   explicitly on Windows (FR_ABI_DESTRUCTOR), implementations fill it with
//   FR_ABI_DESTRUCTOR_IMPL, and an object is destroyed through DestroyThroughInterface.

#include <cstddef>
#include <cstdint>
#include <ctime>

#if defined(_WIN32)
#if defined(_WIN64)
#define ADDIN_API
#define FR_ABI_THISCALL
#else
#define ADDIN_API __stdcall
#define FR_ABI_THISCALL __thiscall
#endif
// The deleting destructor's slot: flags bit 0 set, the memory is freed too. Returns this.
#define FR_ABI_DESTRUCTOR(Class)                                    \
public:                                                             \
    virtual void* FR_ABI_THISCALL DeletingDestructor(unsigned int flags) = 0; \
                                                                    \
protected:                                                          \
    ~Class() = default;                                             \
                                                                    \
public:
#define FR_ABI_DESTRUCTOR_IMPL(Class)                                               \
    void* FR_ABI_THISCALL DeletingDestructor(unsigned int flags) noexcept override { \
        if (flags & 1u)                                                             \
            delete this;                                                            \
        else                                                                        \
            this->~Class();                                                         \
        return this;                                                                \
    }
#define FR_ABI_DESTRUCTOR_COMPONENT \
protected:                          \
    ~IComponentBase() = default;    \
                                    \
public:
// The exported functions: plain C names; the .def file exports them, undecorated on x86 too.
#define FR_EXPORT extern "C"
#else
#define ADDIN_API
#define FR_ABI_DESTRUCTOR(Class) \
public:                          \
    virtual ~Class() = default;
#define FR_ABI_DESTRUCTOR_IMPL(Class)
#define FR_ABI_DESTRUCTOR_COMPONENT ~IComponentBase() override = default;
#define FR_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace fr::native {

// Type codes of tVariant::vt.
enum TVarTypeCode : std::uint16_t {
    VTYPE_EMPTY = 0,
    VTYPE_NULL = 1,
    VTYPE_I2 = 2,
    VTYPE_I4 = 3,
    VTYPE_R4 = 4,
    VTYPE_R8 = 5,
    VTYPE_DATE = 6,  // double, days since 30.12.1899
    VTYPE_TM = 7,    // struct tm
    VTYPE_PSTR = 8,  // single-byte string
    VTYPE_INTERFACE = 9,
    VTYPE_ERROR = 10,
    VTYPE_BOOL = 11,
    VTYPE_VARIANT = 12,  // pointer to another tVariant
    VTYPE_I1 = 13,
    VTYPE_UI1 = 14,
    VTYPE_UI2 = 15,
    VTYPE_UI4 = 16,
    VTYPE_I8 = 17,
    VTYPE_UI8 = 18,
    VTYPE_INT = 19,
    VTYPE_UINT = 20,
    VTYPE_HRESULT = 21,
    VTYPE_PWSTR = 22,  // UTF-16 string
    VTYPE_BLOB = 23,   // binary data in the single-byte string fields
    VTYPE_CLSID = 24,
};
inline constexpr std::uint16_t VTYPE_VECTOR = 0x1000;
inline constexpr std::uint16_t VTYPE_ARRAY = 0x2000;
inline constexpr std::uint16_t VTYPE_BYREF = 0x4000;
inline constexpr std::uint16_t VTYPE_FLAGS = VTYPE_VECTOR | VTYPE_ARRAY | VTYPE_BYREF;

struct tVariant;

struct TVariantStr {
    char* pstrVal;
    std::uint32_t strLen;  // bytes
};
struct TVariantWStr {
    char16_t* pwstrVal;
    std::uint32_t wstrLen;  // UTF-16 code units
};
struct TVariantIface {
    void* pInterfaceVal;
    std::uint8_t InterfaceID[16];
};

struct tVariant {
    union {
        std::int8_t i8Val;
        std::int16_t shortVal;
        std::int32_t lVal;
        std::int32_t intVal;
        std::int64_t llVal;
        std::uint8_t ui8Val;
        std::uint16_t ushortVal;
        std::uint32_t ulVal;
        std::uint32_t uintVal;
        std::uint64_t ullVal;
        std::int32_t errCode;
        std::int32_t hRes;
        float fltVal;
        double dblVal;
        bool bVal;
        double date;
        std::tm tmVal;
        tVariant* pvarVal;
        TVariantStr str;
        TVariantWStr wstr;
        TVariantIface iface;
    };
    std::uint32_t cbElements;
    std::uint16_t vt;
};

static_assert(offsetof(tVariant, lVal) == 0);
static_assert(offsetof(tVariant, str) == 0 && offsetof(tVariant, wstr) == 0);
static_assert(sizeof(char16_t) == 2);
#if defined(_WIN32)
// struct tm is nine ints: the union is 40 bytes on both Windows targets.
static_assert(sizeof(std::tm) == 36, "struct tm of the Windows C runtime");
static_assert(sizeof(wchar_t) == 2, "WCHAR_T is wchar_t");
static_assert(sizeof(long) == 4, "long is 32-bit on Windows");
static_assert(sizeof(tVariant) == 48);
static_assert(alignof(tVariant) == 8);
static_assert(offsetof(tVariant, cbElements) == 40);
static_assert(offsetof(tVariant, vt) == 44);
static_assert(offsetof(TVariantStr, strLen) == sizeof(void*) && offsetof(TVariantWStr, wstrLen) == sizeof(void*));
static_assert(offsetof(TVariantIface, InterfaceID) == sizeof(void*));
#else
static_assert(sizeof(std::tm) == 56, "struct tm of glibc on x86-64");
static_assert(sizeof(tVariant) == 64);
static_assert(alignof(tVariant) == 8);
static_assert(offsetof(TVariantStr, strLen) == 8 && offsetof(TVariantWStr, wstrLen) == 8);
static_assert(offsetof(TVariantIface, InterfaceID) == 8);
static_assert(offsetof(tVariant, cbElements) == 56);
static_assert(offsetof(tVariant, vt) == 60);
static_assert(sizeof(long) == 8);
#endif

// The platform's memory manager: every string the add-in hands back is allocated here.
class IMemoryManager {
public:
    FR_ABI_DESTRUCTOR(IMemoryManager)
    virtual bool ADDIN_API AllocMemory(void** pMemory, unsigned long ulCountByte) = 0;
    virtual void ADDIN_API FreeMemory(void** pMemory) = 0;
};

// AddError codes.
enum TAddErrorCode : unsigned short {
    ADDIN_E_NONE = 1000,
    ADDIN_E_ORDINARY = 1001,
    ADDIN_E_ATTENTION = 1002,
    ADDIN_E_IMPORTANT = 1003,
    ADDIN_E_VERY_IMPORTANT = 1004,
    ADDIN_E_INFO = 1005,
    ADDIN_E_FAIL = 1006,
    ADDIN_E_MSGBOX_ATTENTION = 1007,
    ADDIN_E_MSGBOX_INFO = 1008,
    ADDIN_E_MSGBOX_FAIL = 1009,
};

// The platform's services object handed to Init.
class IAddInDefBase {
public:
    FR_ABI_DESTRUCTOR(IAddInDefBase)
    virtual bool ADDIN_API AddError(unsigned short wcode, const char16_t* source, const char16_t* descr, long scode) = 0;
    virtual bool ADDIN_API Read(char16_t* wszPropName, tVariant* pVal, long* pErrCode, char16_t** errDescriptor) = 0;
    virtual bool ADDIN_API Write(char16_t* wszPropName, tVariant* pVar) = 0;
    virtual bool ADDIN_API RegisterProfileAs(char16_t* wszProfileName) = 0;
    virtual bool ADDIN_API SetEventBufferDepth(long lDepth) = 0;
    virtual long ADDIN_API GetEventBufferDepth() = 0;
    virtual bool ADDIN_API ExternalEvent(char16_t* wszSource, char16_t* wszMessage, char16_t* wszData) = 0;
    virtual void ADDIN_API CleanEventBuffer() = 0;
    virtual bool ADDIN_API SetStatusLine(char16_t* wszStatusLine) = 0;
    virtual void ADDIN_API ResetStatusLine() = 0;
};

class IInitDoneBase {
public:
    FR_ABI_DESTRUCTOR(IInitDoneBase)
    virtual bool ADDIN_API Init(void* disp) = 0;
    virtual bool ADDIN_API setMemManager(void* mem) = 0;
    virtual long ADDIN_API GetInfo() = 0;
    virtual void ADDIN_API Done() = 0;
};

class ILanguageExtenderBase {
public:
    FR_ABI_DESTRUCTOR(ILanguageExtenderBase)
    virtual bool ADDIN_API RegisterExtensionAs(char16_t** wsExtensionName) = 0;
    virtual long ADDIN_API GetNProps() = 0;
    virtual long ADDIN_API FindProp(const char16_t* wsPropName) = 0;
    virtual const char16_t* ADDIN_API GetPropName(long lPropNum, long lPropAlias) = 0;
    virtual bool ADDIN_API GetPropVal(long lPropNum, tVariant* pvarPropVal) = 0;
    virtual bool ADDIN_API SetPropVal(long lPropNum, tVariant* varPropVal) = 0;
    virtual bool ADDIN_API IsPropReadable(long lPropNum) = 0;
    virtual bool ADDIN_API IsPropWritable(long lPropNum) = 0;
    virtual long ADDIN_API GetNMethods() = 0;
    virtual long ADDIN_API FindMethod(const char16_t* wsMethodName) = 0;
    virtual const char16_t* ADDIN_API GetMethodName(long lMethodNum, long lMethodAlias) = 0;
    virtual long ADDIN_API GetNParams(long lMethodNum) = 0;
    virtual bool ADDIN_API GetParamDefValue(long lMethodNum, long lParamNum, tVariant* pvarParamDefValue) = 0;
    virtual bool ADDIN_API HasRetVal(long lMethodNum) = 0;
    virtual bool ADDIN_API CallAsProc(long lMethodNum, tVariant* paParams, long lSizeArray) = 0;
    virtual bool ADDIN_API CallAsFunc(long lMethodNum, tVariant* pvarRetValue, tVariant* paParams, long lSizeArray) = 0;
};

class LocaleBase {
public:
    FR_ABI_DESTRUCTOR(LocaleBase)
    virtual void ADDIN_API SetLocale(const char16_t* loc) = 0;
};

class UserLanguageBase {
public:
    FR_ABI_DESTRUCTOR(UserLanguageBase)
    virtual void ADDIN_API SetUserInterfaceLanguageCode(const char16_t* lang) = 0;
};

// The component object: four vtable pointers, one per base in declaration order.
class IComponentBase : public IInitDoneBase, public ILanguageExtenderBase, public LocaleBase, public UserLanguageBase {
public:
    FR_ABI_DESTRUCTOR_COMPONENT
};

// The vtable slot of each interface's first method: after the one deleting-destructor slot on
// Windows, after g++'s two destructor slots on Linux.
#if defined(_WIN32)
inline constexpr std::size_t kFirstMethodSlot = 1;
#else
inline constexpr std::size_t kFirstMethodSlot = 2;
#endif

// Destroys an object through one of its interfaces, as the platform's compiler does.
template <class TInterface>
void DestroyThroughInterface(TInterface* AObject) {
#if defined(_WIN32)
    AObject->DeletingDestructor(1u);
#else
    delete AObject;
#endif
}

// Where each base's vtable pointer sits in the object, as the platform expects it.
inline constexpr std::size_t kInitDoneOffset = 0;
inline constexpr std::size_t kLanguageExtenderOffset = sizeof(void*);
inline constexpr std::size_t kLocaleOffset = 2 * sizeof(void*);
inline constexpr std::size_t kUserLanguageOffset = 3 * sizeof(void*);
static_assert(sizeof(IComponentBase) == 4 * sizeof(void*));

// Interface levels of SetPlatformCapabilities and attach kinds of GetAttachType.
inline constexpr int eAppCapabilitiesInvalid = -1;
inline constexpr int eAppCapabilities1 = 1;
inline constexpr int eAppCapabilities2 = 2;
inline constexpr int eAppCapabilities3 = 3;
inline constexpr int eCanAttachNotIsolated = 1;
inline constexpr int eCanAttachIsolated = 2;
inline constexpr int eCanAttachAny = 3;

// The exported functions, as function-pointer types for the side that loads the library.
using TGetClassNamesFn = const char16_t* (*)();
using TGetClassObjectFn = long (*)(const char16_t* wsName, IComponentBase** pIntf);
using TDestroyObjectFn = long (*)(IComponentBase** pIntf);
using TSetPlatformCapabilitiesFn = int (*)(int capabilities);
using TGetAttachTypeFn = int (*)();

// Byte offset of a base subobject inside the complete object, for checking the layout of a
// class derived from IComponentBase.
template <class TBase, class TDerived>
std::size_t BaseOffset(TDerived* AObject) {
    return static_cast<std::size_t>(reinterpret_cast<char*>(static_cast<TBase*>(AObject)) -
                                    reinterpret_cast<char*>(AObject));
}

}  // namespace fr::native
