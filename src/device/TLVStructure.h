#pragma once
// One decoded requisite of a fiscal document read from the fiscal storage.

#include <cstdint>
#include <string>
#include <utility>

#include "platform/Bytes.h"

namespace fr {

// Value types of the requisites, in their numeric order (0 to 10).
enum TFFD : std::uint8_t {
    ffdUknown,
    ffdString,
    ffdInteger,
    ffdRegister,
    ffdUnixTime,
    ffdUInt32,
    ffdByte,
    ffdBytes,
    ffdVLN,
    ffdFVLN,
    ffdSTLV,
};

struct TDocElement {
    TDocElement(std::int32_t ATag, std::string AReqName, TFFD ADataType, TBytes ATLV, std::string AValue)
        : Tag(ATag), ReqName(std::move(AReqName)), DataType(ADataType), TLV(std::move(ATLV)), Value(std::move(AValue)) {}

    std::int32_t Tag;
    std::string ReqName;  // short caption from the driver's tag table
    TFFD DataType;
    TBytes TLV;           // the value bytes as read
    std::string Value;    // the value rendered as text
};

}  // namespace fr
