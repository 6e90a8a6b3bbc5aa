#include "framework/Variant.h"

#include <charconv>
#include <cmath>
#include <limits>

#include <fmt/format.h>

#include "platform/Encoding.h"
#include "platform/TextCase.h"

namespace fr {
namespace {

std::string_view TrimBlanks(std::string_view s) {
    while (!s.empty() && static_cast<unsigned char>(s.front()) <= ' ') s.remove_prefix(1);
    while (!s.empty() && static_cast<unsigned char>(s.back()) <= ' ') s.remove_suffix(1);
    return s;
}

// Integer text: optional sign, decimal digits, nothing else.
bool ParseInt64(std::string_view s, std::int64_t& out) {
    s = TrimBlanks(s);
    if (!s.empty() && s.front() == '+') s.remove_prefix(1);
    if (s.empty() || s.front() == '+') return false;
    const auto r = std::from_chars(s.data(), s.data() + s.size(), out, 10);
    return r.ec == std::errc() && r.ptr == s.data() + s.size();
}

// Decimal number text with "."; no hexadecimal, infinities or NaNs.
bool ParseDouble(std::string_view s, double& out) {
    s = TrimBlanks(s);
    if (!s.empty() && s.front() == '+') s.remove_prefix(1);
    if (s.empty()) return false;
    for (char ch : s)
        if (!((ch >= '0' && ch <= '9') || ch == '.' || ch == '-' || ch == '+' || ch == 'e' || ch == 'E'))
            return false;
    const auto r = std::from_chars(s.data(), s.data() + s.size(), out, std::chars_format::general);
    return r.ec == std::errc() && r.ptr == s.data() + s.size() && std::isfinite(out);
}

std::string FloatText(double v, int digits) {
    if (std::isnan(v)) return "NAN";
    if (std::isinf(v)) return v > 0 ? "INF" : "-INF";
    if (v == 0) return "0";
    std::string s = fmt::format("{:.{}g}", v, digits);
    const auto e = s.find('e');
    if (e != std::string::npos) s = s.substr(0, e) + "E" + std::to_string(std::stoi(s.substr(e + 1)));
    return s;
}

std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void CivilFromDays(std::int64_t z, int& y, int& m, int& d) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y = static_cast<int>(static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2));
}

const std::int64_t kDelphiEpoch = DaysFromCivil(1899, 12, 30);

int DaysInMonth(int y, int m) {
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    return m == 2 && leap ? 29 : kDays[m - 1];
}

// Reads 1 to AMax digits.
bool ReadNumber(std::string_view& s, int AMin, int AMax, int& out) {
    int n = 0;
    out = 0;
    while (n < AMax && !s.empty() && s.front() >= '0' && s.front() <= '9') {
        out = out * 10 + (s.front() - '0');
        s.remove_prefix(1);
        ++n;
    }
    return n >= AMin;
}

bool Expect(std::string_view& s, char ch) {
    if (s.empty() || s.front() != ch) return false;
    s.remove_prefix(1);
    return true;
}

template <class T>
T RoundToInt(double v, TVarType from, TVarType to) {
    const double r = std::nearbyint(v);  // half to even in the default rounding mode
    if (!std::isfinite(r) || r < static_cast<double>(std::numeric_limits<T>::min()) ||
        r >= -static_cast<double>(std::numeric_limits<T>::min()))
        throw EConvertError(fmt::format("Overflow while converting variant of type ({}) into type ({})",
                                        VarTypeName(from), VarTypeName(to)));
    return static_cast<T>(r);
}

}  // namespace

const char* VarTypeName(TVarType AType) {
    switch (AType) {
        case varEmpty: return "Empty";
        case varNull: return "Null";
        case varBoolean: return "Boolean";
        case varSmallint: return "Smallint";
        case varInteger: return "Integer";
        case varSingle: return "Single";
        case varDouble: return "Double";
        case varCurrency: return "Currency";
        case varDate: return "Date";
        case varUString: return "UnicodeString";
        case varString: return "String";
        case varByte: return "Byte";
        case varObject: return "Unknown";
        case varArray: return "Array";
    }
    return "Unknown";
}

// ---- TCurrency ----

TCurrency TCurrency::FromDouble(double AValue) {
    const double scaled = std::nearbyint(AValue * kScale);
    if (!std::isfinite(scaled) || std::fabs(scaled) >= 9.2e18)
        throw EConvertError(fmt::format("Value {} is out of the currency range", FloatText(AValue, 15)));
    return TCurrency{static_cast<std::int64_t>(scaled)};
}

TCurrency TCurrency::FromInt(std::int64_t AUnits) {
    if (AUnits > std::numeric_limits<std::int64_t>::max() / kScale ||
        AUnits < std::numeric_limits<std::int64_t>::min() / kScale)
        throw EConvertError(fmt::format("Value {} is out of the currency range", AUnits));
    return TCurrency{AUnits * kScale};
}

bool TCurrency::TryParse(std::string_view AText, TCurrency& AResult) {
    std::string_view s = TrimBlanks(AText);
    bool negative = false;
    if (!s.empty() && (s.front() == '-' || s.front() == '+')) {
        negative = s.front() == '-';
        s.remove_prefix(1);
    }
    constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
    std::int64_t units = 0;
    int digits = 0;
    while (!s.empty() && s.front() >= '0' && s.front() <= '9') {
        const int d = s.front() - '0';
        if (units > (kMax / kScale - d) / 10) return false;
        units = units * 10 + d;
        s.remove_prefix(1);
        ++digits;
    }
    std::int64_t frac = 0;
    int fracDigits = 0;
    int roundDigit = -1;
    bool stickyNonZero = false;
    if (!s.empty() && s.front() == '.') {
        s.remove_prefix(1);
        while (!s.empty() && s.front() >= '0' && s.front() <= '9') {
            const int d = s.front() - '0';
            if (fracDigits < 4) {
                frac = frac * 10 + d;
                ++fracDigits;
            } else if (roundDigit < 0) {
                roundDigit = d;
            } else if (d != 0) {
                stickyNonZero = true;
            }
            s.remove_prefix(1);
            ++digits;
        }
    }
    if (digits == 0 || !s.empty()) return false;
    for (int i = fracDigits; i < 4; ++i) frac *= 10;
    std::int64_t value = units * kScale + frac;
    if (roundDigit > 5 || (roundDigit == 5 && (stickyNonZero || (value & 1) != 0))) ++value;
    AResult.Value = negative ? -value : value;
    return true;
}

std::string TCurrency::ToString() const {
    const bool negative = Value < 0;
    const std::uint64_t abs = negative ? 0 - static_cast<std::uint64_t>(Value) : static_cast<std::uint64_t>(Value);
    std::string s = std::to_string(abs / kScale);
    std::uint64_t frac = abs % kScale;
    if (frac != 0) {
        std::string f = fmt::format("{:04}", frac);
        while (f.back() == '0') f.pop_back();
        s += "." + f;
    }
    return negative ? "-" + s : s;
}

// ---- TDate ----

TDate TDate::Encode(int AYear, int AMonth, int ADay, int AHour, int AMin, int ASec) {
    const auto days = static_cast<double>(DaysFromCivil(AYear, static_cast<unsigned>(AMonth),
                                                        static_cast<unsigned>(ADay)) -
                                          kDelphiEpoch);
    const double time = (AHour * 3600.0 + AMin * 60.0 + ASec) / 86400.0;
    return TDate{days >= 0 ? days + time : days - time};
}

void TDate::Decode(int& AYear, int& AMonth, int& ADay, int& AHour, int& AMin, int& ASec) const {
    if (!std::isfinite(Days) || std::fabs(Days) > 3.0e6) throw EConvertError("Invalid date value");
    auto days = static_cast<std::int64_t>(std::trunc(Days));
    auto ms = static_cast<std::int64_t>(std::llround(std::fabs(Days - std::trunc(Days)) * 86400000.0));
    if (ms >= 86400000) {
        ms -= 86400000;
        days += Days >= 0 ? 1 : -1;
    }
    CivilFromDays(days + kDelphiEpoch, AYear, AMonth, ADay);
    const auto secs = static_cast<int>(ms / 1000);
    AHour = secs / 3600;
    AMin = secs / 60 % 60;
    ASec = secs % 60;
}

std::string TDate::ToString() const {
    int y, m, d, hh, mm, ss;
    Decode(y, m, d, hh, mm, ss);
    return fmt::format("{:02}.{:02}.{:04} {:02}:{:02}:{:02}", d, m, y, hh, mm, ss);
}

bool TDate::TryParse(std::string_view AText, TDate& AResult) {
    std::string_view s = TrimBlanks(AText);
    int d, m, y, hh = 0, mm = 0, ss = 0;
    if (!ReadNumber(s, 1, 2, d) || !Expect(s, '.') || !ReadNumber(s, 1, 2, m) || !Expect(s, '.') ||
        !ReadNumber(s, 4, 4, y))
        return false;
    if (!s.empty()) {
        if (!Expect(s, ' ')) return false;
        while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
        if (!ReadNumber(s, 1, 2, hh) || !Expect(s, ':') || !ReadNumber(s, 2, 2, mm)) return false;
        if (!s.empty() && (!Expect(s, ':') || !ReadNumber(s, 2, 2, ss))) return false;
        if (!s.empty()) return false;
    }
    if (m < 1 || m > 12 || d < 1 || d > DaysInMonth(y, m) || hh > 23 || mm > 59 || ss > 59) return false;
    AResult = Encode(y, m, d, hh, mm, ss);
    return true;
}

// ---- TVariant ----

TVariant::TVariant(std::string_view AUtf8) : FData(Utf8ToUtf16(AUtf8)) {}

TVariant TVariant::Null() {
    TVariant v;
    v.FData = TNullTag{};
    return v;
}

TVariant TVariant::Byte(std::uint8_t AValue) {
    TVariant v;
    v.FData = TByteTag{AValue};
    return v;
}

TVariant TVariant::AnsiString(TBytes ACp1251) {
    TVariant v;
    v.FData = TAnsiTag{std::move(ACp1251)};
    return v;
}

TVariant TVariant::Object(std::shared_ptr<IHostObject> AObject) {
    TVariant v;
    v.FData = std::move(AObject);
    return v;
}

TVariant TVariant::Array(std::vector<TVariant> AItems) {
    TVariant v;
    v.FData = std::make_shared<const std::vector<TVariant>>(std::move(AItems));
    return v;
}

TVarType TVariant::VarType() const {
    // The alternatives are declared in the order of TVarType.
    return static_cast<TVarType>(FData.index());
}

void TVariant::CannotConvert(TVarType ATo) const {
    throw EConvertError(fmt::format("Could not convert variant of type ({}) into type ({})",
                                    VarTypeName(VarType()), VarTypeName(ATo)));
}

double TVariant::NumberOf(TVarType ATo) const {
    switch (VarType()) {
        case varEmpty: return 0;
        case varBoolean: return std::get<bool>(FData) ? -1 : 0;
        case varSmallint: return std::get<std::int16_t>(FData);
        case varInteger: return std::get<std::int32_t>(FData);
        case varSingle: return std::get<float>(FData);
        case varDouble: return std::get<double>(FData);
        case varCurrency: return std::get<TCurrency>(FData).ToDouble();
        case varDate: return std::get<TDate>(FData).Days;
        case varByte: return std::get<TByteTag>(FData).Value;
        case varUString:
        case varString: {
            double d = 0;
            if (ParseDouble(AsString(), d)) return d;
            CannotConvert(ATo);
        }
        default: CannotConvert(ATo);
    }
}

bool TVariant::AsBool() const {
    switch (VarType()) {
        case varBoolean: return std::get<bool>(FData);
        case varUString:
        case varString: {
            const std::string s(TrimBlanks(AsString()));
            if (SameText(std::string_view(s), std::string_view("true"))) return true;
            if (SameText(std::string_view(s), std::string_view("false"))) return false;
            return NumberOf(varBoolean) != 0;
        }
        default: return NumberOf(varBoolean) != 0;
    }
}

std::int32_t TVariant::AsInt() const {
    switch (VarType()) {
        case varBoolean: return std::get<bool>(FData) ? -1 : 0;
        case varSmallint: return std::get<std::int16_t>(FData);
        case varInteger: return std::get<std::int32_t>(FData);
        case varByte: return std::get<TByteTag>(FData).Value;
        default: return RoundToInt<std::int32_t>(static_cast<double>(AsInt64()), VarType(), varInteger);
    }
}

std::int64_t TVariant::AsInt64() const {
    if (IsString()) {
        std::int64_t v = 0;
        if (ParseInt64(AsString(), v)) return v;
    }
    if (VarType() == varCurrency) {
        // Exact integer arithmetic: half to even on the ten-thousandths.
        const std::int64_t c = std::get<TCurrency>(FData).Value;
        std::int64_t q = c / TCurrency::kScale;
        const std::int64_t r = c % TCurrency::kScale;
        const std::int64_t twice = 2 * (r < 0 ? -r : r);
        if (twice > TCurrency::kScale || (twice == TCurrency::kScale && (q & 1) != 0)) q += c < 0 ? -1 : 1;
        return q;
    }
    return RoundToInt<std::int64_t>(NumberOf(varInteger), VarType(), varInteger);
}

double TVariant::AsDouble() const { return NumberOf(varDouble); }

TCurrency TVariant::AsCurrency() const {
    switch (VarType()) {
        case varCurrency: return std::get<TCurrency>(FData);
        case varBoolean:
        case varSmallint:
        case varInteger:
        case varByte: return TCurrency::FromInt(AsInt());
        case varUString:
        case varString: {
            TCurrency c;
            if (TCurrency::TryParse(AsString(), c)) return c;
            return TCurrency::FromDouble(NumberOf(varCurrency));
        }
        default: return TCurrency::FromDouble(NumberOf(varCurrency));
    }
}

TDate TVariant::AsDate() const {
    if (VarType() == varDate) return std::get<TDate>(FData);
    if (IsString()) {
        TDate d;
        if (TDate::TryParse(AsString(), d)) return d;
        CannotConvert(varDate);
    }
    return TDate{NumberOf(varDate)};
}

std::string TVariant::AsString() const {
    switch (VarType()) {
        case varEmpty: return {};
        case varBoolean: return std::get<bool>(FData) ? "True" : "False";
        case varSmallint: return std::to_string(std::get<std::int16_t>(FData));
        case varInteger: return std::to_string(std::get<std::int32_t>(FData));
        case varSingle: return FloatText(std::get<float>(FData), 7);
        case varDouble: return FloatText(std::get<double>(FData), 15);
        case varCurrency: return std::get<TCurrency>(FData).ToString();
        case varDate: return std::get<TDate>(FData).ToString();
        case varUString: return Utf16ToUtf8(std::get<std::u16string>(FData));
        case varString: return SingleByteToUtf8(std::get<TAnsiTag>(FData).Bytes, CodePage::Cp1251);
        case varByte: return std::to_string(std::get<TByteTag>(FData).Value);
        default: CannotConvert(varUString);
    }
}

std::u16string TVariant::AsU16String() const {
    if (VarType() == varUString) return std::get<std::u16string>(FData);
    return Utf8ToUtf16(AsString());
}

const std::vector<TVariant>& TVariant::AsArray() const {
    if (VarType() != varArray) CannotConvert(varArray);
    return *std::get<TArrayPtr>(FData);
}

std::shared_ptr<IHostObject> TVariant::AsObject() const {
    if (VarType() != varObject) CannotConvert(varObject);
    return std::get<std::shared_ptr<IHostObject>>(FData);
}

bool operator==(const TVariant& a, const TVariant& b) {
    if (a.VarType() != b.VarType()) return false;
    if (a.VarType() == varArray) return a.AsArray() == b.AsArray();
    return a.FData == b.FData;
}

// ---- parameter array ----

namespace {

void CheckIndex(const TParams& AParams, std::size_t AIndex) {
    if (AIndex >= AParams.size())
        throw EParamError(fmt::format("Parameter {} is missing: the call has {} parameter(s)", AIndex,
                                      AParams.size()));
}

}  // namespace

TVariant GetParam(const TParams& AParams, std::size_t AIndex) {
    CheckIndex(AParams, AIndex);
    return AParams[AIndex];
}

void PutParamInt(TParams& AParams, std::size_t AIndex, std::int32_t AValue) {
    PutParamVariant(AParams, AIndex, TVariant(AValue));
}

void PutParamStr(TParams& AParams, std::size_t AIndex, const std::string& AText) {
    PutParamVariant(AParams, AIndex, TVariant(AText));
}

void PutParamDouble(TParams& AParams, std::size_t AIndex, double AValue) {
    PutParamVariant(AParams, AIndex, TVariant(AValue));
}

void PutParamVariant(TParams& AParams, std::size_t AIndex, const TVariant& AValue) {
    CheckIndex(AParams, AIndex);
    AParams[AIndex] = AValue;
}

}  // namespace fr
