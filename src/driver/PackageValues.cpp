#include "driver/PackageValues.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <ctime>
#include <limits>

#include "platform/Encoding.h"
#include "platform/TextCase.h"

namespace fr {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Reads one- to N-digit unsigned numbers for the date parser.
bool ReadDigits(std::string_view& AText, std::size_t ACount, int& AValue) {
    if (AText.size() < ACount) return false;
    int v = 0;
    for (std::size_t i = 0; i < ACount; ++i) {
        if (!IsDigit(AText[i])) return false;
        v = v * 10 + (AText[i] - '0');
    }
    AValue = v;
    AText.remove_prefix(ACount);
    return true;
}

bool Consume(std::string_view& AText, char c) {
    if (AText.empty() || AText.front() != c) return false;
    AText.remove_prefix(1);
    return true;
}

}  // namespace

std::string AttrText(const pugi::xml_node& ANode, const char* AName) {
    return ANode.attribute(AName).as_string("");
}

std::string AttrTrimmed(const pugi::xml_node& ANode, const char* AName) {
    return TrimText(AttrText(ANode, AName));
}

std::optional<std::int64_t> ParseInteger(std::string_view AText) {
    if (!AText.empty() && AText.front() == '+') AText.remove_prefix(1);
    std::int64_t v = 0;
    const auto [end, ec] = std::from_chars(AText.data(), AText.data() + AText.size(), v);
    if (AText.empty() || ec != std::errc() || end != AText.data() + AText.size()) return std::nullopt;
    return v;
}

std::int64_t AttrInt(const pugi::xml_node& ANode, const char* AName, std::int64_t ADefault) {
    return ParseInteger(AttrTrimmed(ANode, AName)).value_or(ADefault);
}

double AttrNumber(const pugi::xml_node& ANode, const char* AName) {
    const std::string owned = AttrTrimmed(ANode, AName);
    std::string_view s = owned;
    if (!s.empty() && s.front() == '+') s.remove_prefix(1);
    double v = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v, std::chars_format::general);
    if (s.empty() || ec != std::errc() || end != s.data() + s.size() || !std::isfinite(v)) return 0;
    return v;
}

std::optional<TCurrencyValue> ParseMoney(std::string_view AText) {
    bool negative = false;
    if (!AText.empty() && (AText.front() == '-' || AText.front() == '+')) {
        negative = AText.front() == '-';
        AText.remove_prefix(1);
    }
    // Collect the significant digits and where the decimal point stands among them.
    std::string digits;
    int pointPos = -1;
    std::size_t i = 0;
    for (; i < AText.size(); ++i) {
        const char c = AText[i];
        if (IsDigit(c)) {
            digits.push_back(c);
        } else if (c == '.' && pointPos < 0) {
            pointPos = static_cast<int>(digits.size());
        } else {
            break;
        }
    }
    if (digits.empty()) return std::nullopt;
    if (pointPos < 0) pointPos = static_cast<int>(digits.size());
    if (i < AText.size()) {
        if (AText[i] != 'e' && AText[i] != 'E') return std::nullopt;
        const auto exponent = ParseInteger(AText.substr(i + 1));
        if (!exponent || *exponent > 40 || *exponent < -400) return std::nullopt;
        pointPos += static_cast<int>(*exponent);
    }
    // Ten-thousandths: the digits up to four places after the point; the rest decides rounding.
    const int keep = pointPos + 4;
    const auto digitAt = [&](int k) { return k >= 0 && k < static_cast<int>(digits.size()) ? digits[static_cast<std::size_t>(k)] - '0' : 0; };
    constexpr auto kMax = static_cast<unsigned __int128>(std::numeric_limits<std::int64_t>::max());
    unsigned __int128 units = 0;
    for (int k = 0; k < keep; ++k) {
        units = units * 10 + static_cast<unsigned>(digitAt(k));
        if (units > kMax) return std::nullopt;
    }
    // A value below half a unit (keep < 0) rounds to 0.
    if (keep >= 0) {
        const int dropped = digitAt(keep);
        bool rest = false;
        for (int k = keep + 1; k < static_cast<int>(digits.size()); ++k) rest = rest || digitAt(k) != 0;
        if (dropped > 5 || (dropped == 5 && (rest || (units & 1)))) ++units;
    }
    if (units > kMax) return std::nullopt;
    const auto value = static_cast<std::int64_t>(units);
    return negative ? -value : value;
}

TCurrencyValue AttrMoney(const pugi::xml_node& ANode, const char* AName) {
    return ParseMoney(AttrTrimmed(ANode, AName)).value_or(0);
}

bool AttrMoneyFits(const pugi::xml_node& ANode, const char* AName) {
    const std::string text = AttrTrimmed(ANode, AName);
    if (text.empty()) return true;
    const std::optional<TCurrencyValue> value = ParseMoney(text);
    if (!value) return false;
    if (*value < 0) return *value != std::numeric_limits<TCurrencyValue>::min() && CurrencyToKopecks(-*value, 5);
    return CurrencyToKopecks(*value, 5).has_value();
}

bool AttrNumberValid(const pugi::xml_node& ANode, const char* AName) {
    const std::string owned = AttrTrimmed(ANode, AName);
    std::string_view s = owned;
    if (s.empty()) return true;
    if (s.front() == '+') s.remove_prefix(1);
    double v = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v, std::chars_format::general);
    return !s.empty() && ec == std::errc() && end == s.data() + s.size() && std::isfinite(v);
}

bool AttrBool(const pugi::xml_node& ANode, const char* AName) {
    return SameText(std::string_view(AttrTrimmed(ANode, AName)), std::string_view("True"));
}

namespace {

// The parts as written and the zone offset in minutes (0 without one).
bool ParseIsoParts(std::string_view AText, TDateTimeParts& p, int& offsetMinutes) {
    offsetMinutes = 0;
    if (!ReadDigits(AText, 4, p.Year) || !Consume(AText, '-') || !ReadDigits(AText, 2, p.Month) ||
        !Consume(AText, '-') || !ReadDigits(AText, 2, p.Day))
        return false;
    if (!AText.empty()) {
        if (!Consume(AText, 'T') && !Consume(AText, 't') && !Consume(AText, ' ')) return false;
        if (!ReadDigits(AText, 2, p.Hour) || !Consume(AText, ':') || !ReadDigits(AText, 2, p.Minute))
            return false;
        if (Consume(AText, ':') && !ReadDigits(AText, 2, p.Second)) return false;
        if (Consume(AText, '.') || Consume(AText, ',')) {
            // Fractions of a second are dropped.
            if (AText.empty() || !IsDigit(AText.front())) return false;
            while (!AText.empty() && IsDigit(AText.front())) AText.remove_prefix(1);
        }
        if (Consume(AText, 'Z') || Consume(AText, 'z')) {
        } else if (!AText.empty() && (AText.front() == '+' || AText.front() == '-')) {
            const int sign = AText.front() == '-' ? -1 : 1;
            AText.remove_prefix(1);
            int hh = 0, mm = 0;
            if (!ReadDigits(AText, 2, hh)) return false;
            if (Consume(AText, ':')) {
                if (!ReadDigits(AText, 2, mm)) return false;
            } else if (!AText.empty() && !ReadDigits(AText, 2, mm)) {
                return false;
            }
            if (hh > 23 || mm > 59) return false;
            offsetMinutes = sign * (hh * 60 + mm);
        }
        if (!AText.empty()) return false;
    }
    // 24:00:00 is the end of the day in ISO 8601 but not a valid time here.
    return TryEncodeDateTime(p).has_value();
}

}  // namespace

std::optional<TDateTime> ParseIsoDateTime(std::string_view AText) {
    TDateTimeParts p;
    int offsetMinutes = 0;
    if (!ParseIsoParts(AText, p, offsetMinutes)) return std::nullopt;
    return *TryEncodeDateTime(p) - offsetMinutes / (24.0 * 60.0);
}

std::optional<TDateTime> ParseIsoCalendarDate(std::string_view AText) {
    TDateTimeParts p;
    int offsetMinutes = 0;
    if (!ParseIsoParts(AText, p, offsetMinutes)) return std::nullopt;
    p.Hour = p.Minute = p.Second = 0;
    return TryEncodeDateTime(p);
}

TBytes Ansi(std::string_view AText) { return Utf8ToSingleByte(AText, CodePage::Cp1251); }
TBytes Oem(std::string_view AText) { return ToOemText(Ansi(AText)); }

TBytes TaxpayerNumber(std::string_view AText) {
    TBytes value = Ansi(AText);
    if (value.size() == 10) value.insert(value.end(), 2, ' ');
    return value;
}

}  // namespace fr
