#pragma once
// The host's equipment result codes used by name in the code, and their texts.

#include <string>

namespace fr {

inline constexpr int errOK = 0;
inline constexpr int errUnknown = 1001;           // "Неизвестная ошибка"
inline constexpr int errNotSupported = 1003;      // "Команда не поддерживается устройством"
inline constexpr int errInvalidParameter = 1004;  // "Ошибка входных параметров команды"
inline constexpr int errNoResponse = 1007;        // "Устройство не отвечает"
inline constexpr int errProtocol = 1014;          // "Ошибка протокола обмена"

// Text wins over the table unless Code is 0; then the table; then FallbackText; then
// "Неизвестная ошибка".
std::string GetErrorDescription(int Code, const std::string& Text = {}, const std::string& FallbackText = {});

// The table's text for Code, or nullptr when the table has no such row.
const char* FindErrorText(int Code);

}  // namespace fr
