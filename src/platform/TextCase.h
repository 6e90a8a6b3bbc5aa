#pragma once
// Locale-independent case folding for name lookups: Latin (ASCII and Latin-1) and Cyrillic
// letters, Ё/ё included. The host's locale is never consulted.

#include <string>
#include <string_view>

namespace fr {

// Lower-case form of one UTF-16 code unit; anything that is not a folded letter is returned as is.
char16_t FoldCase(char16_t c);

// Equal without regard to letter case.
bool SameText(std::u16string_view a, std::u16string_view b);
// The same on UTF-8 text.
bool SameText(std::string_view a, std::string_view b);

// ASCII-only upper case (file names, keys).
std::string UpperCaseAscii(std::string_view s);

}  // namespace fr
