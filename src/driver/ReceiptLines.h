#pragma once
// The driver's own printed layout of a receipt position, built as single-byte device text (one
// byte per character, so widths are counted in characters).

#include <cstdint>
#include <string>
#include <vector>

#include "device/Codec.h"
#include "platform/Bytes.h"

namespace fr {

// Exactly AWidth characters: ARight's first AWidth characters when it is that long, otherwise
// ALeft cut to fit, spaces, then ARight. A width of 0 or less gives an empty line.
TBytes JustifyLine(const TBytes& ALeft, const TBytes& ARight, int AWidth);
// ALabel cut to (width - length of value), AValue right-aligned in the rest; a value longer than
// the width is kept whole. AWidth 0 means ALineLen, and 24 when that is 0 too.
TBytes LabelValueLine(const TBytes& ALabel, const TBytes& AValue, int AWidth, int ALineLen);

// The number patterns of the printout: "######0.000" for quantities, "######0.00" for money;
// "." as the separator, no grouping. Money is rounded to kopecks, halves to even.
std::string FormatQuantity(double AQuantity);
std::string FormatMoney(TCurrencyValue AValue);
// "<quantity> X <price>".
std::string FormatQuantityPrice(double AQuantity, TCurrencyValue APrice);

// What one printed position shows.
struct TPositionPrint {
    std::string Name;
    double Quantity = 0;
    TCurrencyValue Price = 0;
    TCurrencyValue Sum = 0;
    TCurrencyValue DiscountSum = 0;  // > 0 discount, < 0 surcharge
    int Department = 0;
    int Method = 0;  // calculation method code
    int Object = 0;  // calculation object code
    bool PrintMethodAndObject = false;
    std::string TaxCaption;  // empty: no tax line
};

// The lines in print order: name, quantity and price, department and sum, method and object
// (when asked for), discount or surcharge (when not 0), tax caption (when there is one).
std::vector<TBytes> PositionLines(const TPositionPrint& APosition, int AWidth);

}  // namespace fr
