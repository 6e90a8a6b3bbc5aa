#pragma once
// Byte strings exchanged with the register: binary data and single-byte device text.
// Kept apart from UTF-8 text (std::string) so the two are never mixed by accident.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace fr {

using TBytes = std::vector<std::uint8_t>;

inline TBytes BytesOf(std::string_view raw) { return TBytes(raw.begin(), raw.end()); }
inline TBytes BytesOf(std::initializer_list<std::uint8_t> b) { return TBytes(b); }

}  // namespace fr
