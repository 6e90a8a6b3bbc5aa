#pragma once
// The settings record and the conversions used by the settings store.

#include <string>
#include <vector>

#include "framework/Variant.h"

namespace fr {

enum TDataType { dtNumber = 0, dtString = 1, dtDateTime = 2, dtBoolean = 3 };

struct TSettingStruct {
    std::string ID;     // the key in the settings file and the name the host uses
    std::string Alias;  // second name accepted on lookup; may be empty
    TVariant Value;
    TDataType ValueType = dtString;
    TVariant Default;
    bool ReadOnly = false;  // registered flag; nothing enforces it
    std::string Name;       // caption
    std::string Description;
};

// One value saved by StoreSettings.
struct TShortSettingStruct {
    std::string ID;
    TVariant Value;
};

// dtNumber: integers of any width, single, double, currency and Boolean; dtString: strings;
// dtDateTime: dates; dtBoolean: Booleans.
bool VarMatchesDataType(const TVariant& AValue, TDataType AType);

// "Number", "String", "Date", "Boolean".
const char* TypeValueName(TDataType AType);

// Settings file form of a value: strings with every line break as the two characters "\n",
// Booleans as "True"/"False", dates as "dd.mm.yyyy hh:nn:ss", numbers with ".".
std::string SettingValueToText(const TVariant& AValue);

// dtNumber: a text with "." or "," is a double (0 when it does not parse, "," is never a
// decimal separator here), otherwise a 32-bit integer (0 when it does not parse);
// dtDateTime: a date, EConvertError when it does not parse; dtBoolean: true exactly for "True";
// dtString: the text.
TVariant TextToSettingValue(const std::string& AText, TDataType AType);

}  // namespace fr
