#include "addin/NativeVariant.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include <fmt/format.h>

#include "platform/Encoding.h"

namespace fr::native {
namespace {

// An integer as the narrowest host value that holds it: the platform shows all of them as Number.
TVariant IntegerValue(std::int64_t AValue) {
    if (AValue >= std::numeric_limits<std::int32_t>::min() && AValue <= std::numeric_limits<std::int32_t>::max())
        return TVariant(static_cast<std::int32_t>(AValue));
    return TVariant(static_cast<double>(AValue));
}

TVariant UnsignedValue(std::uint64_t AValue) {
    if (AValue <= static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max()))
        return TVariant(static_cast<std::int32_t>(AValue));
    return TVariant(static_cast<double>(AValue));
}

TVariant SingleByteValue(const tVariant& AValue) {
    if (!AValue.str.pstrVal || AValue.str.strLen == 0) return TVariant::AnsiString({});
    const auto* p = reinterpret_cast<const std::uint8_t*>(AValue.str.pstrVal);
    return TVariant::AnsiString(TBytes(p, p + AValue.str.strLen));
}

void* Alloc(IMemoryManager* AMemory, std::size_t ABytes) {
    void* p = nullptr;
    if (!AMemory || !AMemory->AllocMemory(&p, static_cast<unsigned long>(ABytes)) || !p)
        throw EPlatformMemoryError("The platform's memory manager gave no memory");
    return p;
}

bool IsLeap(int AYear) { return (AYear % 4 == 0 && AYear % 100 != 0) || AYear % 400 == 0; }

int DaysInMonth(int AYear, int AMonth) {
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return AMonth == 2 && IsLeap(AYear) ? 29 : kDays[AMonth - 1];
}

}  // namespace

void ClearVariant(tVariant& AValue) { std::memset(static_cast<void*>(&AValue), 0, sizeof AValue); }

std::u16string_view PlatformStringView(const char16_t* AText, std::size_t AMaxUnits) {
    if (!AText) return {};
    std::size_t n = 0;
    while (n < AMaxUnits && AText[n] != 0) ++n;
    return {AText, n};
}

TDate DateFromTm(const std::tm& ATm) {
    // In 64 bits: a year or month near the int limit must be refused, not overflow.
    const long long year = ATm.tm_year + 1900LL;
    const long long month = ATm.tm_mon + 1LL;
    if (year < 1 || year > 9999 || month < 1 || month > 12 || ATm.tm_mday < 1 ||
        ATm.tm_mday > DaysInMonth(static_cast<int>(year), static_cast<int>(month)) || ATm.tm_hour < 0 || ATm.tm_hour > 23 || ATm.tm_min < 0 ||
        ATm.tm_min > 59 || ATm.tm_sec < 0 || ATm.tm_sec > 60)
        throw EConvertError(fmt::format("Invalid date {:04}-{:02}-{:02} {:02}:{:02}:{:02}", year, month,
                                        ATm.tm_mday, ATm.tm_hour, ATm.tm_min, ATm.tm_sec));
    // A leap second is shown as the last second of its minute.
    return TDate::Encode(static_cast<int>(year), static_cast<int>(month), ATm.tm_mday, ATm.tm_hour, ATm.tm_min, std::min(ATm.tm_sec, 59));
}

std::tm TmFromDate(TDate ADate) {
    int y, m, d, hh, mm, ss;
    ADate.Decode(y, m, d, hh, mm, ss);
    std::tm t{};
    t.tm_year = y - 1900;
    t.tm_mon = m - 1;
    t.tm_mday = d;
    t.tm_hour = hh;
    t.tm_min = mm;
    t.tm_sec = ss;
    t.tm_yday = d - 1;
    for (int i = 1; i < m; ++i) t.tm_yday += DaysInMonth(y, i);
    // 30.12.1899, day 0, was a Saturday.
    const auto whole = static_cast<std::int64_t>(TDate::Encode(y, m, d).Days);
    t.tm_wday = static_cast<int>(((whole + 6) % 7 + 7) % 7);
    t.tm_isdst = -1;
    return t;
}

TVariant ToHostValue(const tVariant& AValue) {
    switch (AValue.vt) {
        case VTYPE_EMPTY: return TVariant();
        case VTYPE_NULL: return TVariant::Null();
        case VTYPE_I1: return TVariant(static_cast<std::int16_t>(AValue.i8Val));
        case VTYPE_I2: return TVariant(AValue.shortVal);
        case VTYPE_I4:
        case VTYPE_INT:
        case VTYPE_ERROR:
        case VTYPE_HRESULT: return TVariant(AValue.lVal);
        case VTYPE_I8: return IntegerValue(AValue.llVal);
        case VTYPE_UI1: return TVariant::Byte(AValue.ui8Val);
        case VTYPE_UI2: return TVariant(static_cast<std::int32_t>(AValue.ushortVal));
        case VTYPE_UI4:
        case VTYPE_UINT: return UnsignedValue(AValue.ulVal);
        case VTYPE_UI8: return UnsignedValue(AValue.ullVal);
        case VTYPE_R4: return TVariant(AValue.fltVal);
        case VTYPE_R8: return TVariant(AValue.dblVal);
        case VTYPE_DATE: return TVariant(TDate{AValue.date});
        case VTYPE_TM: return TVariant(DateFromTm(AValue.tmVal));
        case VTYPE_BOOL: return TVariant(AValue.bVal);
        case VTYPE_PSTR:
        case VTYPE_BLOB: return SingleByteValue(AValue);
        case VTYPE_PWSTR:
            if (!AValue.wstr.pwstrVal) return TVariant(std::u16string());
            return TVariant(std::u16string(AValue.wstr.pwstrVal, AValue.wstr.wstrLen));
        case VTYPE_VARIANT:
            // One level only: a chain of references is not something the platform builds.
            if (AValue.pvarVal && AValue.pvarVal != &AValue && AValue.pvarVal->vt != VTYPE_VARIANT)
                return ToHostValue(*AValue.pvarVal);
            break;
        default: break;
    }
    throw EConvertError(fmt::format("A value of the platform's type {} has no host form", AValue.vt));
}

char16_t* AllocPlatformString(IMemoryManager* AMemory, std::u16string_view AText) {
    void* p = nullptr;
    const std::size_t bytes = (AText.size() + 1) * sizeof(char16_t);
    if (!AMemory || !AMemory->AllocMemory(&p, static_cast<unsigned long>(bytes)) || !p) return nullptr;
    auto* s = static_cast<char16_t*>(p);
    if (!AText.empty()) std::memcpy(s, AText.data(), AText.size() * sizeof(char16_t));
    s[AText.size()] = 0;
    return s;
}

void ToPlatformValue(const TVariant& AValue, tVariant& AOut, IMemoryManager* AMemory, TDateForm ADateForm) {
    ClearVariant(AOut);
    switch (AValue.VarType()) {
        case varEmpty: AOut.vt = VTYPE_EMPTY; return;
        case varNull: AOut.vt = VTYPE_NULL; return;
        case varBoolean:
            AOut.bVal = AValue.AsBool();
            AOut.vt = VTYPE_BOOL;
            return;
        case varSmallint:
            // The platform reads a 16-bit integer from the 32-bit field: fill it whole.
            AOut.lVal = AValue.AsInt();
            AOut.vt = VTYPE_I2;
            return;
        case varInteger:
            AOut.lVal = AValue.AsInt();
            AOut.vt = VTYPE_I4;
            return;
        case varByte:
            AOut.lVal = AValue.AsInt();
            AOut.vt = VTYPE_UI1;
            return;
        case varSingle:
            AOut.fltVal = static_cast<float>(AValue.AsDouble());
            AOut.vt = VTYPE_R4;
            return;
        case varDouble:
        case varCurrency:
            AOut.dblVal = AValue.AsDouble();
            AOut.vt = VTYPE_R8;
            return;
        case varDate:
            if (ADateForm == TDateForm::Tm) {
                AOut.tmVal = TmFromDate(AValue.AsDate());
                AOut.vt = VTYPE_TM;
            } else {
                AOut.date = AValue.AsDate().Days;
                AOut.vt = VTYPE_DATE;
            }
            return;
        case varUString: {
            const std::u16string text = AValue.AsU16String();
            if (text.size() > std::numeric_limits<std::uint32_t>::max() / 2 - 1)
                throw EConvertError("A string too long for the platform");
            char16_t* p = AllocPlatformString(AMemory, text);
            if (!p) throw EPlatformMemoryError("The platform's memory manager gave no memory");
            AOut.wstr.pwstrVal = p;
            AOut.wstr.wstrLen = static_cast<std::uint32_t>(text.size());
            AOut.vt = VTYPE_PWSTR;
            return;
        }
        case varString: {
            const TBytes bytes = Utf8ToSingleByte(AValue.AsString(), CodePage::Cp1251);
            if (bytes.size() > std::numeric_limits<std::uint32_t>::max() - 1)
                throw EConvertError("A string too long for the platform");
            auto* p = static_cast<char*>(Alloc(AMemory, bytes.size() + 1));
            if (!bytes.empty()) std::memcpy(p, bytes.data(), bytes.size());
            p[bytes.size()] = 0;
            AOut.str.pstrVal = p;
            AOut.str.strLen = static_cast<std::uint32_t>(bytes.size());
            AOut.vt = VTYPE_PSTR;
            return;
        }
        case varObject:
        case varArray: break;
    }
    throw EConvertError(fmt::format("A host value of kind {} cannot be given to the platform",
                                    VarTypeName(AValue.VarType())));
}

}  // namespace fr::native
