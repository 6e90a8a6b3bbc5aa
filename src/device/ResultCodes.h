#pragma once
// Texts of every result the driver can produce: the register's result codes (0..255), the TCP
// link's codes (600..607) and the equipment codes above 1000.

#include <string>

namespace fr {

// AExtCode and AExtText are the receipt operations' side channels; other callers pass 0 and "".
void GetDeviceResultDescription(int ACode, int AExtCode, const std::string& AExtText, std::string& AText);

inline std::string GetDeviceResultDescription(int ACode) {
    std::string text;
    GetDeviceResultDescription(ACode, 0, {}, text);
    return text;
}

}  // namespace fr
