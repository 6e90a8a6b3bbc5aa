#include "platform/TextCase.h"

#include "platform/Encoding.h"

namespace fr {

char16_t FoldCase(char16_t c) {
    if (c >= u'A' && c <= u'Z') return static_cast<char16_t>(c + 0x20);
    if (c < 0x80) return c;
    // Latin-1: À..Þ except the multiplication sign.
    if (c >= 0x00C0 && c <= 0x00DE && c != 0x00D7) return static_cast<char16_t>(c + 0x20);
    // Cyrillic: Ѐ..Џ (Ё among them) and А..Я.
    if (c >= 0x0400 && c <= 0x040F) return static_cast<char16_t>(c + 0x50);
    if (c >= 0x0410 && c <= 0x042F) return static_cast<char16_t>(c + 0x20);
    return c;
}

bool SameText(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (FoldCase(a[i]) != FoldCase(b[i])) return false;
    return true;
}

bool SameText(std::string_view a, std::string_view b) {
    // Fast path for the common ASCII case avoids two conversions.
    bool ascii = true;
    for (char ch : a) ascii = ascii && static_cast<unsigned char>(ch) < 0x80;
    for (char ch : b) ascii = ascii && static_cast<unsigned char>(ch) < 0x80;
    if (ascii) {
        if (a.size() != b.size()) return false;
        for (std::size_t i = 0; i < a.size(); ++i)
            if (FoldCase(static_cast<char16_t>(a[i])) != FoldCase(static_cast<char16_t>(b[i]))) return false;
        return true;
    }
    return SameText(std::u16string_view(Utf8ToUtf16(a)), std::u16string_view(Utf8ToUtf16(b)));
}

std::string UpperCaseAscii(std::string_view s) {
    std::string r(s);
    for (char& ch : r)
        if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 0x20);
    return r;
}

}  // namespace fr
