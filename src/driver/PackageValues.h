#pragma once
// Reading attributes of the host's documents (check, correction and text packages). A missing
// attribute reads as empty text; numbers use "." as the decimal separator whatever the locale.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <pugixml.hpp>

#include "device/Codec.h"
#include "device/DeviceDateTime.h"
#include "platform/Bytes.h"

namespace fr {

std::string AttrText(const pugi::xml_node& ANode, const char* AName);
std::string AttrTrimmed(const pugi::xml_node& ANode, const char* AName);
// The trimmed text as a decimal integer; empty or invalid gives ADefault.
std::int64_t AttrInt(const pugi::xml_node& ANode, const char* AName, std::int64_t ADefault);
// The trimmed text as a number; empty, invalid or not finite gives 0.
double AttrNumber(const pugi::xml_node& ANode, const char* AName);
// The trimmed text as money (ten-thousandths, halves to even); empty or invalid gives 0.
TCurrencyValue AttrMoney(const pugi::xml_node& ANode, const char* AName);
// False when the attribute holds text that is not an amount the register's 5-byte field can
// carry (overflowing text would otherwise read as 0). Missing or empty reads as 0 and fits;
// negative amounts are left to the device, which refuses them.
bool AttrMoneyFits(const pugi::xml_node& ANode, const char* AName);
// False when the attribute holds text that is not a finite number (missing or empty is fine).
bool AttrNumberValid(const pugi::xml_node& ANode, const char* AName);

// Decimal text ("-12.345", "1e2") as ten-thousandths, rounded halves to even, read exactly
// (no binary floating point in between). Empty for text that is not a number or does not fit.
std::optional<TCurrencyValue> ParseMoney(std::string_view AText);
std::optional<std::int64_t> ParseInteger(std::string_view AText);

// "True"/"False" in any letter case; anything else, missing or empty is false.
bool AttrBool(const pugi::xml_node& ANode, const char* AName);

// An ISO 8601 date with an optional time ("2026-03-15", "2026-03-15T14:30:00",
// "2026-03-15T14:30:00.5+03:00", "...Z"). A zone offset converts the value to UTC; without one the
// value is taken as it stands. Empty when the text does not parse.
std::optional<TDateTime> ParseIsoDateTime(std::string_view AText);
// The same forms read as a calendar date: the day as written, at midnight, whatever the time and
// the zone offset ("2026-03-15T00:00:00+03:00" is 15 March). Empty when the text does not parse.
std::optional<TDateTime> ParseIsoCalendarDate(std::string_view AText);

// Device text: UTF-8 to single-byte ANSI (1251), and ANSI to OEM (866).
TBytes Ansi(std::string_view AText);
TBytes Oem(std::string_view AText);
// The taxpayer number as the register takes it: a 10-character number gets two spaces appended.
TBytes TaxpayerNumber(std::string_view AText);

}  // namespace fr
