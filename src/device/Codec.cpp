#include "device/Codec.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "platform/Encoding.h"

namespace fr {
namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Bytes the hex text of the value takes: at least one (0 is written "0").
int SignificantBytes(std::uint64_t AValue) {
    int n = 1;
    while (n < 8 && (AValue >> (8 * n)) != 0) ++n;
    return n;
}

bool IsBlank(std::uint8_t b) { return b <= 0x20; }

}  // namespace

TBytes IntToLEBytes(int AWidth, std::uint64_t AValue) {
    const int n = std::max(AWidth, SignificantBytes(AValue));
    TBytes out(static_cast<std::size_t>(n), 0);
    for (int i = 0; i < n && i < 8; ++i) out[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(AValue >> (8 * i));
    return out;
}

TBytes IntToBEBytes(int AWidth, std::uint64_t AValue) {
    TBytes out = IntToLEBytes(AWidth, AValue);
    return TBytes(out.rbegin(), out.rend());
}

std::uint64_t LEBytesToInt(const TBytes& AValue) {
    std::uint64_t v = 0;
    const std::size_t n = std::min<std::size_t>(AValue.size(), 8);
    for (std::size_t i = 0; i < n; ++i) v |= static_cast<std::uint64_t>(AValue[i]) << (8 * i);
    return v;
}

std::uint64_t HexTextToInt(std::string_view AText) {
    if (!AText.empty() && (AText.back() == 'H' || AText.back() == 'h')) AText.remove_suffix(1);
    if (AText.empty()) return 0;
    std::uint64_t v = 0;
    int digits = 0;
    for (char c : AText) {
        const int d = HexValue(c);
        if (d < 0) return 0;
        if (v != 0 || d != 0) ++digits;
        if (digits > 16) return 0;  // does not fit 64 bits
        v = (v << 4) | static_cast<std::uint64_t>(d);
    }
    return v;
}

TBytes HexToBytes(std::string_view AText, int ACount) {
    std::string text;
    if (ACount > 0) {
        const std::size_t want = 2 * static_cast<std::size_t>(ACount);
        text.assign(AText.substr(0, want));
        text.insert(0, want - text.size(), '0');
    } else {
        text.assign(AText);
        if (text.size() % 2 != 0) text.insert(0, 1, '0');
    }
    TBytes out;
    out.reserve(text.size() / 2);
    for (std::size_t i = 0; i + 1 < text.size(); i += 2) {
        const int hi = HexValue(text[i]);
        const int lo = HexValue(text[i + 1]);
        if (hi < 0 || lo < 0) break;
        out.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
    }
    return out;
}

std::string BytesToHexText(const TBytes& AValue) {
    std::string s;
    s.reserve(AValue.size() * 2);
    for (std::uint8_t b : AValue) {
        s.push_back(kHexDigits[b >> 4]);
        s.push_back(kHexDigits[b & 0x0F]);
    }
    return s;
}

TBytes IntToBCDBytes(int ACount, std::int64_t AValue) { return HexToBytes(std::to_string(AValue), ACount); }

std::int64_t BCDBytesToInt(const TBytes& AValue) {
    if (AValue.size() > 9) return 0;
    std::int64_t v = 0;
    for (std::uint8_t b : AValue) {
        const int hi = b >> 4;
        const int lo = b & 0x0F;
        if (hi > 9 || lo > 9) return 0;
        v = v * 100 + hi * 10 + lo;
    }
    return v;
}

TBytes PadToLength(const TBytes& AText, std::size_t ALength, std::uint8_t AFill) {
    TBytes out(AText.begin(), AText.begin() + static_cast<std::ptrdiff_t>(std::min(ALength, AText.size())));
    out.resize(ALength, AFill);
    return out;
}

TBytes PadWithSpaces(const TBytes& AText, std::size_t ALength, bool ACut) {
    TBytes out = AText;
    if (ACut && out.size() > ALength) out.resize(ALength);
    if (out.size() < ALength) out.resize(ALength, ' ');
    return out;
}

std::vector<TBytes> SplitByLength(const TBytes& AText, std::size_t ALength) {
    std::vector<TBytes> pieces;
    if (AText.empty()) return pieces;
    if (ALength == 0) {
        pieces.push_back(AText);
        return pieces;
    }
    for (std::size_t pos = 0; pos < AText.size(); pos += ALength) {
        const std::size_t n = std::min(ALength, AText.size() - pos);
        pieces.emplace_back(AText.begin() + static_cast<std::ptrdiff_t>(pos),
                            AText.begin() + static_cast<std::ptrdiff_t>(pos + n));
    }
    return pieces;
}

TBytes TrimBytes(const TBytes& AText) {
    std::size_t b = 0, e = AText.size();
    while (b < e && IsBlank(AText[b])) ++b;
    while (e > b && IsBlank(AText[e - 1])) --e;
    return TBytes(AText.begin() + static_cast<std::ptrdiff_t>(b), AText.begin() + static_cast<std::ptrdiff_t>(e));
}

std::string TrimText(std::string_view AText) {
    std::size_t b = 0, e = AText.size();
    while (b < e && IsBlank(static_cast<std::uint8_t>(AText[b]))) ++b;
    while (e > b && IsBlank(static_cast<std::uint8_t>(AText[e - 1]))) --e;
    return std::string(AText.substr(b, e - b));
}

TBytes ToOemText(const TBytes& AText) { return Cp1251ToCp866(AText); }
TBytes FromOemText(const TBytes& AText) { return Cp866ToCp1251(AText); }

std::optional<std::uint64_t> CurrencyToKopecks(TCurrencyValue AValue, int AWidth) {
    if (AValue < 0) return std::nullopt;
    const auto v = static_cast<std::uint64_t>(AValue);
    std::uint64_t q = v / 100;
    const std::uint64_t r = v % 100;
    if (r > 50 || (r == 50 && (q & 1) != 0)) ++q;
    if (AWidth < 8 && q >= (std::uint64_t{1} << (8 * AWidth))) return std::nullopt;
    return q;
}

std::optional<std::uint64_t> QuantityToMillionths(double AQuantity, int AWidth) {
    if (!std::isfinite(AQuantity) || AQuantity < 0) return std::nullopt;
    const double scaled = AQuantity * 1000000.0;
    const double limit = std::ldexp(1.0, 8 * AWidth);
    if (scaled >= limit) return std::nullopt;
    double whole = std::floor(scaled);
    const double frac = scaled - whole;
    if (frac > 0.5 || (frac == 0.5 && std::fmod(whole, 2.0) != 0.0)) whole += 1.0;
    if (whole >= limit) return std::nullopt;
    return static_cast<std::uint64_t>(whole);
}

bool AppendMoney(TBytes& AData, TCurrencyValue AValue, int AWidth) {
    const auto k = CurrencyToKopecks(AValue, AWidth);
    if (!k) return false;
    const TBytes b = IntToLEBytes(AWidth, *k);
    AData.insert(AData.end(), b.begin(), b.end());
    return true;
}

bool AppendQuantity(TBytes& AData, double AQuantity) {
    const auto q = QuantityToMillionths(AQuantity, 6);
    if (!q) return false;
    const TBytes b = IntToLEBytes(6, *q);
    AData.insert(AData.end(), b.begin(), b.end());
    return true;
}

}  // namespace fr
