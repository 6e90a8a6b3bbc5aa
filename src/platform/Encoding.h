#pragma once
// Text conversions with tables of our own: no locale is consulted or changed.
// Host strings are UTF-16, driver text is UTF-8, device text is CP1251 (or CP866).

#include <string>
#include <string_view>

#include "platform/Bytes.h"

namespace fr {

enum class CodePage { Cp1251, Cp866 };

std::u16string Utf8ToUtf16(std::string_view s);
std::string Utf16ToUtf8(std::u16string_view s);

// A character with no single-byte form becomes '?'.
TBytes Utf8ToSingleByte(std::string_view s, CodePage cp = CodePage::Cp1251);
std::string SingleByteToUtf8(const TBytes& b, CodePage cp = CodePage::Cp1251);

// The "ANSI" <-> "OEM" conversions of device text.
TBytes Cp1251ToCp866(const TBytes& b);
TBytes Cp866ToCp1251(const TBytes& b);

}  // namespace fr
