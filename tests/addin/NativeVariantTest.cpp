// Conversion between the platform's variant and the host value, both directions.
#include <climits>
#include <cstdlib>
#include <cstring>
#include <set>

#include <gtest/gtest.h>

#include "addin/NativeVariant.h"

namespace fr::native {
namespace {

// Hands out malloc'ed blocks and remembers them, so a test can tell whether a string came from it.
class TRecordingMemory final : public IMemoryManager {
public:
    FR_ABI_DESTRUCTOR_IMPL(TRecordingMemory)
    ~TRecordingMemory() {
        for (void* p : FLive) std::free(p);
    }
    bool ADDIN_API AllocMemory(void** pMemory, unsigned long ulCountByte) override {
        if (FRefuse) return false;
        *pMemory = std::malloc(ulCountByte);
        FLive.insert(*pMemory);
        return true;
    }
    void ADDIN_API FreeMemory(void** pMemory) override {
        if (FLive.erase(*pMemory)) std::free(*pMemory);
        *pMemory = nullptr;
    }
    bool Owns(const void* p) const { return FLive.count(const_cast<void*>(p)) != 0; }
    std::size_t Live() const { return FLive.size(); }
    bool FRefuse = false;

private:
    std::set<void*> FLive;
};

tVariant Raw(std::uint16_t vt) {
    tVariant v;
    ClearVariant(v);
    v.vt = vt;
    return v;
}

struct TIntegerCase {
    const char* Name;
    tVariant Value;
    TVariant Expected;
};

tVariant With(std::uint16_t vt, void (*fill)(tVariant&)) {
    tVariant v = Raw(vt);
    fill(v);
    return v;
}

TEST(NativeVariantTest, IntegersOfEveryWidthBecomeTheNarrowestHostNumber) {
    const TIntegerCase cases[] = {
        {"int8", With(VTYPE_I1, [](tVariant& v) { v.i8Val = -5; }), TVariant(std::int16_t{-5})},
        {"int16", With(VTYPE_I2, [](tVariant& v) { v.shortVal = -300; }), TVariant(std::int16_t{-300})},
        {"int16 with upper bits set", With(VTYPE_I2, [](tVariant& v) { v.lVal = 0x7fff0005; }),
         TVariant(std::int16_t{5})},
        {"int32", With(VTYPE_I4, [](tVariant& v) { v.lVal = -70000; }), TVariant(std::int32_t{-70000})},
        {"int", With(VTYPE_INT, [](tVariant& v) { v.intVal = 12; }), TVariant(std::int32_t{12})},
        {"error", With(VTYPE_ERROR, [](tVariant& v) { v.errCode = 7; }), TVariant(std::int32_t{7})},
        {"hresult", With(VTYPE_HRESULT, [](tVariant& v) { v.hRes = 1; }), TVariant(std::int32_t{1})},
        {"int64 small", With(VTYPE_I8, [](tVariant& v) { v.llVal = -2; }), TVariant(std::int32_t{-2})},
        {"int64 large", With(VTYPE_I8, [](tVariant& v) { v.llVal = 5000000000LL; }), TVariant(5000000000.0)},
        {"uint8", With(VTYPE_UI1, [](tVariant& v) { v.ui8Val = 200; }), TVariant::Byte(200)},
        {"uint16", With(VTYPE_UI2, [](tVariant& v) { v.ushortVal = 65535; }), TVariant(std::int32_t{65535})},
        {"uint32 small", With(VTYPE_UI4, [](tVariant& v) { v.ulVal = 10; }), TVariant(std::int32_t{10})},
        {"uint32 large", With(VTYPE_UI4, [](tVariant& v) { v.ulVal = 4000000000u; }), TVariant(4000000000.0)},
        {"uint", With(VTYPE_UINT, [](tVariant& v) { v.uintVal = 3; }), TVariant(std::int32_t{3})},
        {"uint64 large", With(VTYPE_UI8, [](tVariant& v) { v.ullVal = 1ULL << 40; }),
         TVariant(static_cast<double>(1ULL << 40))},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const TVariant got = ToHostValue(c.Value);
        EXPECT_EQ(got.VarType(), c.Expected.VarType());
        EXPECT_TRUE(got == c.Expected) << got.AsString();
    }
}

TEST(NativeVariantTest, ScalarsStringsAndDatesFromThePlatform) {
    EXPECT_TRUE(ToHostValue(Raw(VTYPE_EMPTY)).IsEmpty());
    EXPECT_TRUE(ToHostValue(Raw(VTYPE_NULL)).IsNull());
    EXPECT_TRUE(ToHostValue(With(VTYPE_BOOL, [](tVariant& v) { v.bVal = true; })) == TVariant(true));
    EXPECT_TRUE(ToHostValue(With(VTYPE_R4, [](tVariant& v) { v.fltVal = 1.5f; })) == TVariant(1.5f));
    EXPECT_TRUE(ToHostValue(With(VTYPE_R8, [](tVariant& v) { v.dblVal = -2.25; })) == TVariant(-2.25));
    EXPECT_TRUE(ToHostValue(With(VTYPE_DATE, [](tVariant& v) { v.date = 45000.5; })) == TVariant(TDate{45000.5}));

    tVariant tm = Raw(VTYPE_TM);
    tm.tmVal.tm_year = 124;
    tm.tmVal.tm_mon = 1;
    tm.tmVal.tm_mday = 29;
    tm.tmVal.tm_hour = 13;
    tm.tmVal.tm_min = 45;
    tm.tmVal.tm_sec = 7;
    EXPECT_EQ(ToHostValue(tm).AsDate().ToString(), "29.02.2024 13:45:07");

    // The length counts, not a terminating zero: the platform's strings need not have one.
    char16_t text[] = {u'Ч', u'е', u'к', u'!', u'X'};
    tVariant w = Raw(VTYPE_PWSTR);
    w.wstr.pwstrVal = text;
    w.wstr.wstrLen = 4;
    EXPECT_EQ(ToHostValue(w).AsU16String(), u"Чек!");

    char bytes[] = {'\xD7', '\xE5', '\xEA', 'Z'};
    tVariant s = Raw(VTYPE_PSTR);
    s.str.pstrVal = bytes;
    s.str.strLen = 3;
    EXPECT_EQ(ToHostValue(s).VarType(), varString);
    EXPECT_EQ(ToHostValue(s).AsString(), "Чек");

    tVariant inner = With(VTYPE_I4, [](tVariant& v) { v.lVal = 42; });
    tVariant ref = Raw(VTYPE_VARIANT);
    ref.pvarVal = &inner;
    EXPECT_TRUE(ToHostValue(ref) == TVariant(std::int32_t{42}));

    tVariant nullString = Raw(VTYPE_PWSTR);
    EXPECT_EQ(ToHostValue(nullString).AsU16String(), u"");
}

TEST(NativeVariantTest, ValuesWithoutHostFormAreConversionErrors) {
    for (std::uint16_t vt : {std::uint16_t(VTYPE_INTERFACE), std::uint16_t(VTYPE_CLSID),
                             std::uint16_t(VTYPE_I4 | VTYPE_ARRAY), std::uint16_t(VTYPE_I4 | VTYPE_BYREF),
                             std::uint16_t(VTYPE_PWSTR | VTYPE_VECTOR), std::uint16_t(99)}) {
        SCOPED_TRACE(vt);
        EXPECT_THROW(ToHostValue(Raw(vt)), EConvertError);
    }
    tVariant tm = Raw(VTYPE_TM);
    tm.tmVal.tm_year = 123;
    tm.tmVal.tm_mon = 1;
    tm.tmVal.tm_mday = 29;  // 2023 is not a leap year
    EXPECT_THROW(ToHostValue(tm), EConvertError);
    for (auto [year, month] : {std::pair{INT_MAX, 0}, {INT_MAX - 1000, 0}, {100, INT_MAX}, {INT_MIN, INT_MIN}}) {
        tm.tmVal.tm_year = year;  // near the limits: refused, no overflow
        tm.tmVal.tm_mon = month;
        tm.tmVal.tm_mday = 1;
        EXPECT_THROW(ToHostValue(tm), EConvertError);
    }

    tVariant self = Raw(VTYPE_VARIANT);
    self.pvarVal = &self;
    EXPECT_THROW(ToHostValue(self), EConvertError);
}

TEST(NativeVariantTest, HostValuesGoOutWithStringsFromTheMemoryManager) {
    TRecordingMemory memory;
    tVariant out;

    ToPlatformValue(TVariant(u"Смена"), out, &memory);
    EXPECT_EQ(out.vt, VTYPE_PWSTR);
    EXPECT_TRUE(memory.Owns(out.wstr.pwstrVal));
    EXPECT_EQ(out.wstr.wstrLen, 5u);
    EXPECT_EQ(std::u16string(out.wstr.pwstrVal), u"Смена");  // zero-terminated as well

    ToPlatformValue(TVariant::AnsiString({0xD7, 0xE5, 0xEA}), out, &memory);
    EXPECT_EQ(out.vt, VTYPE_PSTR);
    EXPECT_TRUE(memory.Owns(out.str.pstrVal));
    EXPECT_EQ(std::string(out.str.pstrVal, out.str.strLen), "\xD7\xE5\xEA");
    EXPECT_EQ(out.str.pstrVal[3], 0);

    ToPlatformValue(TVariant(u""), out, &memory);
    EXPECT_EQ(out.vt, VTYPE_PWSTR);
    EXPECT_EQ(out.wstr.wstrLen, 0u);
    EXPECT_TRUE(memory.Owns(out.wstr.pwstrVal));
    EXPECT_EQ(memory.Live(), 3u);
}

TEST(NativeVariantTest, ScalarsGoOutWithTheirPlatformTypes) {
    TRecordingMemory memory;
    tVariant out;
    ToPlatformValue(TVariant(), out, &memory);
    EXPECT_EQ(out.vt, VTYPE_EMPTY);
    ToPlatformValue(TVariant::Null(), out, &memory);
    EXPECT_EQ(out.vt, VTYPE_NULL);
    ToPlatformValue(TVariant(true), out, &memory);
    EXPECT_EQ(out.vt, VTYPE_BOOL);
    EXPECT_TRUE(out.bVal);
    // The platform reads 16-bit integers and bytes from the 32-bit field.
    ToPlatformValue(TVariant(std::int16_t{-2}), out, &memory);
    EXPECT_EQ(out.vt, VTYPE_I2);
    EXPECT_EQ(out.lVal, -2);
    ToPlatformValue(TVariant::Byte(250), out, &memory);
    EXPECT_EQ(out.vt, VTYPE_UI1);
    EXPECT_EQ(out.lVal, 250);
    ToPlatformValue(TVariant(std::int32_t{123456}), out, &memory);
    EXPECT_EQ(out.vt, VTYPE_I4);
    EXPECT_EQ(out.lVal, 123456);
    ToPlatformValue(TVariant(0.25f), out, &memory);
    EXPECT_EQ(out.vt, VTYPE_R4);
    EXPECT_EQ(out.fltVal, 0.25f);
    ToPlatformValue(TVariant(TCurrency{125000}), out, &memory);
    EXPECT_EQ(out.vt, VTYPE_R8);
    EXPECT_EQ(out.dblVal, 12.5);

    const TDate date = TDate::Encode(2024, 3, 1, 8, 30, 15);
    ToPlatformValue(TVariant(date), out, &memory);
    EXPECT_EQ(out.vt, VTYPE_DATE);
    EXPECT_EQ(out.date, date.Days);
    ToPlatformValue(TVariant(date), out, &memory, TDateForm::Tm);
    EXPECT_EQ(out.vt, VTYPE_TM);
    EXPECT_EQ(out.tmVal.tm_year, 124);
    EXPECT_EQ(out.tmVal.tm_mon, 2);
    EXPECT_EQ(out.tmVal.tm_mday, 1);
    EXPECT_EQ(out.tmVal.tm_hour, 8);
    EXPECT_EQ(out.tmVal.tm_min, 30);
    EXPECT_EQ(out.tmVal.tm_sec, 15);
    EXPECT_EQ(out.tmVal.tm_wday, 5);  // a Friday
    EXPECT_EQ(out.tmVal.tm_yday, 60);
    EXPECT_TRUE(ToHostValue(out) == TVariant(date));
    EXPECT_EQ(memory.Live(), 0u);
}

TEST(NativeVariantTest, RefusedMemoryAndUnpassableValuesLeaveTheSlotEmpty) {
    TRecordingMemory memory;
    tVariant out;
    memory.FRefuse = true;
    EXPECT_THROW(ToPlatformValue(TVariant(u"x"), out, &memory), EPlatformMemoryError);
    EXPECT_EQ(out.vt, VTYPE_EMPTY);
    EXPECT_EQ(out.wstr.pwstrVal, nullptr);
    EXPECT_THROW(ToPlatformValue(TVariant(u"x"), out, nullptr), EPlatformMemoryError);
    EXPECT_EQ(AllocPlatformString(nullptr, u"x"), nullptr);

    memory.FRefuse = false;
    EXPECT_THROW(ToPlatformValue(TVariant::Array({TVariant(1)}), out, &memory), EConvertError);
    EXPECT_EQ(out.vt, VTYPE_EMPTY);
    EXPECT_EQ(memory.Live(), 0u);
}

TEST(NativeVariantTest, PlatformNamesAreReadUpToTheirZeroAndBounded) {
    EXPECT_EQ(PlatformStringView(nullptr), u"");
    EXPECT_EQ(PlatformStringView(u"Open"), u"Open");
    const char16_t unterminated[] = {u'a', u'b', u'c', u'd'};
    EXPECT_EQ(PlatformStringView(unterminated, 3), u"abc");
}

}  // namespace
}  // namespace fr::native
