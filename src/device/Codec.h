#pragma once
// Field encodings of the register's commands: little-endian and BCD integers, hex text, money
// and quantities, padding and splitting of single-byte device text.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Bytes.h"

namespace fr {

// Host money as the device takes it: a signed count of ten-thousandths (the value inside the
// host's currency type).
using TCurrencyValue = std::int64_t;

// The value in w bytes, least significant first. A value of 256^w or more keeps all its bytes
// (the result is then longer than w); callers check the range first.
TBytes IntToLEBytes(int AWidth, std::uint64_t AValue);
// The same bytes, most significant first.
TBytes IntToBEBytes(int AWidth, std::uint64_t AValue);
// Reads up to the first 8 bytes, least significant first; an empty string gives 0.
std::uint64_t LEBytesToInt(const TBytes& AValue);

// Upper-cases, drops one trailing 'H' and reads hexadecimal digits; anything else gives 0.
std::uint64_t HexTextToInt(std::string_view AText);
// The first 2n characters (all when n is 0), left-padded with '0' to 2n (to an even count when
// n is 0), one byte per pair in written order; stops at the first pair that is not hex.
TBytes HexToBytes(std::string_view AText, int ACount);
// Two upper-case hex digits per byte.
std::string BytesToHexText(const TBytes& AValue);

// Decimal digits packed two per byte: HexToBytes of the decimal text, so a value with more than
// 2n digits keeps its first 2n.
TBytes IntToBCDBytes(int ACount, std::int64_t AValue);
// Packed BCD back to a number; a nibble above 9 (or more than 18 digits) gives 0.
std::int64_t BCDBytesToInt(const TBytes& AValue);

// The first n bytes of the text, then AFill up to n.
TBytes PadToLength(const TBytes& AText, std::size_t ALength, std::uint8_t AFill);
// The first n bytes when ACut is set, else the whole text; then spaces up to n.
TBytes PadWithSpaces(const TBytes& AText, std::size_t ALength, bool ACut);
// Pieces of n bytes in order, the last one shorter. An empty text gives no pieces; a length of 0
// gives the whole text as one piece.
std::vector<TBytes> SplitByLength(const TBytes& AText, std::size_t ALength);
// Leading and trailing blanks and control characters (bytes up to 0x20) removed.
TBytes TrimBytes(const TBytes& AText);
std::string TrimText(std::string_view AText);

// The "ANSI" (1251) <-> "OEM" (866) conversions of device text.
TBytes ToOemText(const TBytes& AText);
TBytes FromOemText(const TBytes& AText);

// Whole kopecks of a money value, halves to the even neighbour; empty for a negative value or one
// that does not fit AWidth bytes.
std::optional<std::uint64_t> CurrencyToKopecks(TCurrencyValue AValue, int AWidth = 5);
// Millionths of a quantity, halves to even; empty for a negative, non-finite or too large value.
std::optional<std::uint64_t> QuantityToMillionths(double AQuantity, int AWidth = 6);

// Width-checked field encoders: they append to AData and return false (leaving AData as it may
// be) when the value does not fit.
bool AppendMoney(TBytes& AData, TCurrencyValue AValue, int AWidth = 5);
bool AppendQuantity(TBytes& AData, double AQuantity);

}  // namespace fr
