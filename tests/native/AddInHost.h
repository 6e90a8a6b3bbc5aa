#pragma once

#include <gtest/gtest.h>
// A test host that plays the platform: loads the built add-in library with dlopen and reaches
// it only through its exported functions and the vtables, as the platform does.

#include <dlfcn.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "addin/NativeApi.h"

namespace fr::test {

using namespace fr::native;

// The platform's memory manager, counting: every pointer the library hands back must have come
// from here, and the host frees it here.
class TCountingMemory final : public IMemoryManager {
public:
    ~TCountingMemory() override {
        for (auto& [p, size] : FLive) std::free(p);
    }
    bool AllocMemory(void** pMemory, unsigned long ulCountByte) override {
        ++FAllocs;
        if (FRefuse || !pMemory) return false;
        *pMemory = std::malloc(ulCountByte ? ulCountByte : 1);
        if (!*pMemory) return false;
        FLive[*pMemory] = ulCountByte;
        return true;
    }
    void FreeMemory(void** pMemory) override {
        if (!pMemory || !*pMemory) return;
        if (FLive.erase(*pMemory) == 0) ++FForeignFrees;
        else std::free(*pMemory);
        *pMemory = nullptr;
    }
    bool Owns(const void* p) const { return FLive.count(const_cast<void*>(p)) != 0; }
    unsigned long SizeOf(const void* p) const {
        auto it = FLive.find(const_cast<void*>(p));
        return it == FLive.end() ? 0 : it->second;
    }
    // Takes a string the library returned: checks it is ours, copies it, frees it.
    std::u16string Take(const char16_t* s) {
        if (!s) return u"<null>";
        if (!Owns(s)) {
            ++FForeignStrings;
            return u"<not from the memory manager>";
        }
        std::u16string copy(s);
        void* p = const_cast<char16_t*>(s);
        FreeMemory(&p);
        return copy;
    }
    std::size_t Live() const { return FLive.size(); }
    int FAllocs = 0;
    int FForeignFrees = 0;
    int FForeignStrings = 0;
    bool FRefuse = false;

private:
    std::map<void*, unsigned long> FLive;
};

struct TRecordedError {
    unsigned short Code;
    std::u16string Source;
    std::u16string Description;
    long SCode;
};
struct TRecordedEvent {
    std::u16string Source, Message, Data;
};

// The platform's services object: records what the library reports.
class TFakeConnection final : public IAddInDefBase {
public:
    bool AddError(unsigned short wcode, const char16_t* source, const char16_t* descr, long scode) override {
        FErrors.push_back({wcode, source ? source : u"", descr ? descr : u"", scode});
        return true;
    }
    bool Read(char16_t*, tVariant*, long*, char16_t**) override { return false; }
    bool Write(char16_t*, tVariant*) override { return false; }
    bool RegisterProfileAs(char16_t*) override { return false; }
    bool SetEventBufferDepth(long lDepth) override {
        if (FRefuseDepth) return false;
        FDepth = lDepth;
        return true;
    }
    long GetEventBufferDepth() override { return FDepth; }
    bool ExternalEvent(char16_t* wszSource, char16_t* wszMessage, char16_t* wszData) override {
        FEvents.push_back({wszSource ? wszSource : u"", wszMessage ? wszMessage : u"", wszData ? wszData : u""});
        return true;
    }
    void CleanEventBuffer() override {}
    bool SetStatusLine(char16_t*) override { return true; }
    void ResetStatusLine() override {}

    std::vector<TRecordedError> FErrors;
    std::vector<TRecordedEvent> FEvents;
    long FDepth = 1;
    bool FRefuseDepth = false;  // a platform that refuses the event buffer depth
};

// The loaded library's exported functions.
struct TAddInLibrary {
    void* Handle = nullptr;
    TGetClassNamesFn GetClassNames = nullptr;
    TGetClassObjectFn GetClassObject = nullptr;
    TDestroyObjectFn DestroyObject = nullptr;
    TSetPlatformCapabilitiesFn SetPlatformCapabilities = nullptr;
    TGetAttachTypeFn GetAttachType = nullptr;

    // Loaded once per process and kept: unloading under the sanitizers loses their reports' names.
    static TAddInLibrary& Instance() {
        static TAddInLibrary lib = Load(FR_ADDIN_LIBRARY);
        return lib;
    }

    static TAddInLibrary Load(const char* APath) {
        TAddInLibrary lib;
        lib.Handle = ::dlopen(APath, RTLD_NOW | RTLD_LOCAL);
        if (!lib.Handle) throw std::runtime_error(std::string("dlopen: ") + ::dlerror());
        lib.GetClassNames = reinterpret_cast<TGetClassNamesFn>(Symbol(lib.Handle, "GetClassNames"));
        lib.GetClassObject = reinterpret_cast<TGetClassObjectFn>(Symbol(lib.Handle, "GetClassObject"));
        lib.DestroyObject = reinterpret_cast<TDestroyObjectFn>(Symbol(lib.Handle, "DestroyObject"));
        lib.SetPlatformCapabilities =
            reinterpret_cast<TSetPlatformCapabilitiesFn>(Symbol(lib.Handle, "SetPlatformCapabilities"));
        lib.GetAttachType = reinterpret_cast<TGetAttachTypeFn>(Symbol(lib.Handle, "GetAttachType"));
        return lib;
    }

private:
    static void* Symbol(void* AHandle, const char* AName) {
        void* p = ::dlsym(AHandle, AName);
        if (!p) throw std::runtime_error(std::string("dlsym: ") + AName);
        return p;
    }
};

// The component as the platform sees it: the object pointer and the base pointers taken at
// their fixed offsets (not through the compiler's casts).
template <class T>
T* At(IComponentBase* AObject, std::size_t AOffset) {
    return reinterpret_cast<T*>(reinterpret_cast<char*>(AObject) + AOffset);
}

inline tVariant EmptyVariant() {
    tVariant v;
    std::memset(static_cast<void*>(&v), 0, sizeof v);
    return v;
}
inline tVariant IntVariant(std::int32_t AValue) {
    tVariant v = EmptyVariant();
    v.vt = VTYPE_I4;
    v.lVal = AValue;
    return v;
}
inline tVariant BoolVariant(bool AValue) {
    tVariant v = EmptyVariant();
    v.vt = VTYPE_BOOL;
    v.bVal = AValue;
    return v;
}
inline tVariant DoubleVariant(double AValue) {
    tVariant v = EmptyVariant();
    v.vt = VTYPE_R8;
    v.dblVal = AValue;
    return v;
}
// The string stays owned by the caller, as the platform's strings do.
inline tVariant StringVariant(const std::u16string& AText) {
    tVariant v = EmptyVariant();
    v.vt = VTYPE_PWSTR;
    v.wstr.pwstrVal = const_cast<char16_t*>(AText.c_str());
    v.wstr.wstrLen = static_cast<std::uint32_t>(AText.size());
    return v;
}

// One component created, initialised and destroyed as the platform does it; at the end every
// string the library handed back came from the memory manager and was freed.
class TComponentFixture : public ::testing::Test {
protected:
    void SetUp() override {
        auto& lib = TAddInLibrary::Instance();
        lib.SetPlatformCapabilities(eAppCapabilities2);
        ASSERT_NE(lib.GetClassObject(u"fr_tarvikonline1c83", &FObject), 0);
        FInitDone = At<IInitDoneBase>(FObject, kInitDoneOffset);
        FLang = At<ILanguageExtenderBase>(FObject, kLanguageExtenderOffset);
        ASSERT_TRUE(FInitDone->setMemManager(&FMemory));
        ASSERT_TRUE(FInitDone->Init(&FConnection));
    }
    void TearDown() override {
        FInitDone->Done();
        EXPECT_EQ(TAddInLibrary::Instance().DestroyObject(&FObject), 0);
        EXPECT_EQ(FMemory.FForeignStrings, 0);
        EXPECT_EQ(FMemory.Live(), 0u);
    }

    TCountingMemory FMemory;
    TFakeConnection FConnection;
    IComponentBase* FObject = nullptr;
    IInitDoneBase* FInitDone = nullptr;
    ILanguageExtenderBase* FLang = nullptr;
};

}  // namespace fr::test
