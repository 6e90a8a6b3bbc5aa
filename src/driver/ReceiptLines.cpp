#include "driver/ReceiptLines.h"

#include <cmath>
#include <cstdlib>

#include <fmt/format.h>

#include "driver/PackageValues.h"
#include "driver/ReceiptTables.h"

namespace fr {
namespace {

// The character the register prints before a position sum.
constexpr std::uint8_t kSumMark = 0x1F;
constexpr int kDefaultLabelWidth = 24;

TBytes Head(const TBytes& AText, std::size_t ACount) {
    return TBytes(AText.begin(), AText.begin() + static_cast<std::ptrdiff_t>(std::min(ACount, AText.size())));
}

}  // namespace

TBytes JustifyLine(const TBytes& ALeft, const TBytes& ARight, int AWidth) {
    if (AWidth <= 0) return {};
    const auto width = static_cast<std::size_t>(AWidth);
    if (ARight.size() >= width) return Head(ARight, width);
    TBytes line = Head(ALeft, width - ARight.size());
    line.insert(line.end(), width - ARight.size() - line.size(), ' ');
    line.insert(line.end(), ARight.begin(), ARight.end());
    return line;
}

TBytes LabelValueLine(const TBytes& ALabel, const TBytes& AValue, int AWidth, int ALineLen) {
    int w = AWidth != 0 ? AWidth : ALineLen;
    if (w <= 0) w = kDefaultLabelWidth;
    const auto width = static_cast<std::size_t>(w);
    TBytes line = AValue.size() < width ? Head(ALabel, width - AValue.size()) : TBytes{};
    if (line.size() + AValue.size() < width) line.insert(line.end(), width - AValue.size() - line.size(), ' ');
    line.insert(line.end(), AValue.begin(), AValue.end());
    return line;
}

std::string FormatQuantity(double AQuantity) {
    std::string text = fmt::format("{:.3f}", AQuantity);
    if (text == "-0.000") text = "0.000";
    return text;
}

std::string FormatMoney(TCurrencyValue AValue) {
    const bool negative = AValue < 0;
    // Ten-thousandths to kopecks, halves to even, on the magnitude.
    const std::uint64_t magnitude = negative ? 0 - static_cast<std::uint64_t>(AValue) : static_cast<std::uint64_t>(AValue);
    std::uint64_t kopecks = magnitude / 100;
    const std::uint64_t rest = magnitude % 100;
    if (rest > 50 || (rest == 50 && (kopecks & 1))) ++kopecks;
    return fmt::format("{}{}.{:02}", negative && kopecks != 0 ? "-" : "", kopecks / 100, kopecks % 100);
}

std::string FormatQuantityPrice(double AQuantity, TCurrencyValue APrice) {
    return FormatQuantity(AQuantity) + " X " + FormatMoney(APrice);
}

std::vector<TBytes> PositionLines(const TPositionPrint& APosition, int AWidth) {
    std::vector<TBytes> lines;
    lines.push_back(Ansi(APosition.Name));
    lines.push_back(JustifyLine({}, Ansi(FormatQuantityPrice(APosition.Quantity, APosition.Price)), AWidth));
    TBytes sum{kSumMark};
    const TBytes sumText = Ansi(FormatMoney(APosition.Sum));
    sum.insert(sum.end(), sumText.begin(), sumText.end());
    lines.push_back(JustifyLine(Ansi(std::to_string(APosition.Department)), sum, AWidth));
    if (APosition.PrintMethodAndObject) {
        lines.push_back(JustifyLine(Ansi("СП.РАСЧ."), Ansi(CalculationMethodName(APosition.Method)), AWidth));
        lines.push_back(JustifyLine(Ansi("ПРЕДМ.РАСЧ."), Ansi(CalculationObjectName(APosition.Object)), AWidth));
    }
    if (APosition.DiscountSum != 0) {
        const TCurrencyValue amount = APosition.DiscountSum < 0 ? -APosition.DiscountSum : APosition.DiscountSum;
        lines.push_back(LabelValueLine(Ansi(APosition.DiscountSum > 0 ? "СКИДКА" : "НАЦЕНКА"),
                                       Ansi(FormatMoney(amount)), AWidth, AWidth));
    }
    if (!APosition.TaxCaption.empty()) lines.push_back(JustifyLine(Ansi(APosition.TaxCaption), {}, AWidth));
    return lines;
}

}  // namespace fr
