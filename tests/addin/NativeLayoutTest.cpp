// The binary interface as the platform's compiler lays it out: each method in the vtable slot the
// platform calls, reached with the platform's calling convention, and the four base subobjects
// each with its own vtable pointer in declaration order. Calls go through raw vtable slots, as
// the platform's code does, not through this compiler's own virtual calls.
#include <gtest/gtest.h>

#include <new>

#include "addin/NativeApi.h"

namespace fr::native {
namespace {

// Records which interface method ran last.
class TProbe final : public IComponentBase {
public:
    FR_ABI_DESTRUCTOR_IMPL(TProbe)
    ~TProbe() { if (FDestroyed) *FDestroyed = true; }
    bool ADDIN_API Init(void*) override { return Hit(1); }
    bool ADDIN_API setMemManager(void*) override { return Hit(2); }
    long ADDIN_API GetInfo() override { return Hit(3) ? 2000 : 0; }
    void ADDIN_API Done() override { Hit(4); }
    bool ADDIN_API RegisterExtensionAs(char16_t**) override { return Hit(10); }
    long ADDIN_API GetNProps() override { return Hit(11) ? 7 : 0; }
    long ADDIN_API FindProp(const char16_t*) override { return Hit(12); }
    const char16_t* ADDIN_API GetPropName(long, long) override { return Hit(13) ? u"" : nullptr; }
    bool ADDIN_API GetPropVal(long, tVariant*) override { return Hit(14); }
    bool ADDIN_API SetPropVal(long, tVariant*) override { return Hit(15); }
    bool ADDIN_API IsPropReadable(long) override { return Hit(16); }
    bool ADDIN_API IsPropWritable(long) override { return Hit(17); }
    long ADDIN_API GetNMethods() override { return Hit(18) ? 9 : 0; }
    long ADDIN_API FindMethod(const char16_t* name) override { return Hit(19) && name[0] == u'X' ? 5 : -1; }
    const char16_t* ADDIN_API GetMethodName(long, long) override { return Hit(20) ? u"" : nullptr; }
    long ADDIN_API GetNParams(long) override { return Hit(21); }
    bool ADDIN_API GetParamDefValue(long, long, tVariant*) override { return Hit(22); }
    bool ADDIN_API HasRetVal(long) override { return Hit(23); }
    bool ADDIN_API CallAsProc(long, tVariant*, long) override { return Hit(24); }
    bool ADDIN_API CallAsFunc(long method, tVariant* ret, tVariant*, long count) override {
        ret->lVal = static_cast<std::int32_t>(method * 100 + count);
        return Hit(25);
    }
    void ADDIN_API SetLocale(const char16_t*) override { Hit(30); }
    void ADDIN_API SetUserInterfaceLanguageCode(const char16_t*) override { Hit(40); }

    int FLast = 0;
    bool* FDestroyed = nullptr;

private:
    bool Hit(int n) {
        FLast = n;
        return true;
    }
};

// The slot Index of the vtable of the subobject at Offset, as a function taking that subobject
// first, in the platform's calling convention.
template <class TFn>
TFn Slot(void* AObject, std::size_t AOffset, std::size_t AIndex) {
    void* sub = static_cast<char*>(AObject) + AOffset;
    void** vtable = *static_cast<void***>(sub);
    return reinterpret_cast<TFn>(vtable[AIndex]);
}

template <class TFn, class... TArgs>
auto CallSlot(void* AObject, std::size_t AOffset, std::size_t AIndex, TArgs... AArgs) {
    void* sub = static_cast<char*>(AObject) + AOffset;
    return Slot<TFn>(AObject, AOffset, AIndex)(sub, AArgs...);
}

using TLongFn = long(ADDIN_API*)(void*);
using TVoidFn = void(ADDIN_API*)(void*);

TEST(NativeLayoutTest, EveryBaseHasItsVtablePointerInDeclarationOrder) {
    TProbe probe;
    EXPECT_EQ(BaseOffset<IInitDoneBase>(&probe), kInitDoneOffset);
    EXPECT_EQ(BaseOffset<ILanguageExtenderBase>(&probe), kLanguageExtenderOffset);
    EXPECT_EQ(BaseOffset<LocaleBase>(&probe), kLocaleOffset);
    EXPECT_EQ(BaseOffset<UserLanguageBase>(&probe), kUserLanguageOffset);
}

TEST(NativeLayoutTest, MethodsSitInThePlatformsSlots) {
    TProbe probe;
    // {subobject, slot after the destructor, expected method}: first and last of each interface.
    struct TCase {
        std::size_t Offset;
        std::size_t Slot;
        int Want;
    };
    const TCase cases[] = {
        {kInitDoneOffset, 2, 3},           // GetInfo
        {kInitDoneOffset, 3, 4},           // Done
        {kLanguageExtenderOffset, 1, 11},  // GetNProps
        {kLanguageExtenderOffset, 8, 18},  // GetNMethods
        {kLocaleOffset, 0, 30},            // SetLocale
        {kUserLanguageOffset, 0, 40},      // SetUserInterfaceLanguageCode
    };
    for (const TCase& c : cases) {
        probe.FLast = 0;
        if (c.Want == 3 || c.Want == 11 || c.Want == 18)
            CallSlot<TLongFn>(&probe, c.Offset, kFirstMethodSlot + c.Slot);
        else
            CallSlot<TVoidFn>(&probe, c.Offset, kFirstMethodSlot + c.Slot);
        EXPECT_EQ(probe.FLast, c.Want) << "offset " << c.Offset << " slot " << c.Slot;
    }
    using TFindFn = long(ADDIN_API*)(void*, const char16_t*);
    EXPECT_EQ(CallSlot<TFindFn>(&probe, kLanguageExtenderOffset, kFirstMethodSlot + 9, u"X"), 5);
    using TCallFn = bool(ADDIN_API*)(void*, long, tVariant*, tVariant*, long);
    tVariant ret{};
    EXPECT_TRUE(CallSlot<TCallFn>(&probe, kLanguageExtenderOffset, kFirstMethodSlot + 15, 3L, &ret, nullptr, 2L));
    EXPECT_EQ(probe.FLast, 25);
    EXPECT_EQ(ret.lVal, 302);
}

TEST(NativeLayoutTest, DestroyingThroughAnInterfaceRunsTheDestructorOnce) {
    bool destroyed = false;
    auto* probe = new TProbe();
    probe->FDestroyed = &destroyed;
    DestroyThroughInterface(static_cast<ILanguageExtenderBase*>(probe));
    EXPECT_TRUE(destroyed);
}

}  // namespace
}  // namespace fr::native
