#pragma once
// The requisites of a stored fiscal document that the driver decodes (the registration report
// above all): their table, the text form of each value type, and the decoding of a TLV block
// into TDocElement values, structures included.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "device/DeviceDateTime.h"
#include "device/TLVStructure.h"
#include "platform/Bytes.h"

namespace fr {

struct TFiscalTag {
    std::int32_t Tag;
    const char* Caption;  // short Russian name, kept with each decoded element
    TFFD Type;
};

using TDocElementList = std::vector<std::unique_ptr<TDocElement>>;

// All known tags, in ascending order.
const std::vector<TFiscalTag>& FiscalTags();
// The entry of ATag, or nullptr when the driver does not decode it.
const TFiscalTag* FindFiscalTag(std::int32_t ATag);

// The text form of a value of type AType (UTF-8). Structures have none (empty).
std::string FiscalValueText(TFFD AType, const TBytes& AValue);

// Decodes one TLV block (tag, length, value; the length is capped at the bytes present) and adds
// its element to AList: known tags only, structures as the elements of their inner blocks.
// Returns the number of bytes the block took, 0 when fewer than 4 bytes are left.
std::size_t DecodeFiscalBlock(const TBytes& AData, std::size_t AOffset, TDocElementList& AList,
                              int ADepth = 0);
// Every block of AData in turn.
void DecodeFiscalBlocks(const TBytes& AData, TDocElementList& AList, int ADepth = 0);

// The value text of the first element with ATag; empty when there is none.
std::string FindElementText(const TDocElementList& AList, std::int32_t ATag);

// "0,2" for the mask 0x05: the set bits 0 to AHighestBit, lowest first.
std::string BitListText(std::uint32_t AMask, int AHighestBit);
// The text read as an integer (blanks around allowed), 0 when it is not one.
std::int64_t TextToIntDef(const std::string& AText, std::int64_t ADefault = 0);

// The format versions of the FN and of the register from tags 1209 and 1189 (as text).
struct TFFDVersions {
    std::string FN;
    std::string KKT;
};
TFFDVersions FFDVersionsFromTags(const std::string& ATag1209, const std::string& ATag1189);

// "dd.mm.yyyy hh:nn:ss".
std::string DateTimeText(TDateTime AValue);
// "yyyy-mm-ddThh:nn:ss.zzzZ" (the value as it is, not converted to UTC).
std::string IsoDateTimeText(TDateTime AValue);

}  // namespace fr
