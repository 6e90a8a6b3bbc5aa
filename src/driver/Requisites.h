#pragma once
// Fiscal-storage requisites of a receipt and its positions: agent and purveyor data, the marking
// code, country, customs declaration and excise. Builders return the value bytes; senders return
// 0 or the register's result code and name the refused requisite in ADescr.

#include <cstdint>
#include <optional>
#include <string>

#include <pugixml.hpp>

#include "device/Codec.h"
#include "device/Device.h"
#include "platform/Errors.h"

namespace fr {

// Result when an agent sign is given and outside 0 to 6.
inline constexpr int errAgentSignRange = 3023;

// A marking code with a required part missing; the message names the part.
class EMarkingCodeError : public EFrError {
public:
    using EFrError::EFrError;
};

// The TLVs of the given agent attributes (1044, 1073, 1074, 1075, 1026, 1005, 1016, in this
// order): the value of 1223. Empty when none is given.
TBytes AgentDataValue(const pugi::xml_node& AAgentData);
// The TLVs of "PurveyorPhone" (1171) and "PurveyorName" (1225): the value of 1224.
TBytes PurveyorDataValue(const pugi::xml_node& APurveyorData);

// The value of 1162 for a "GoodCodeData" element: "DM", the GTIN in 6 bytes (most significant
// first), the serial part. Empty when "StampType" is blank. Throws EMarkingCodeError for a missing
// part and EConvertError for a GTIN that is not a decimal number (or does not fit 6 bytes).
std::optional<TBytes> MarkingCodeValue(const pugi::xml_node& AGoodCodeData);

// The excise amount in kopecks as 6 little-endian bytes; empty for a negative amount.
std::optional<TBytes> ExciseValue(TCurrencyValue AAmount);

// Receipt mode: each given attribute of the receipt's agent and purveyor elements on its own
// (1044, 1073, 1074, 1075, 1026, 1005, 1016, 1171) with SetFNRequisite.
int SendReceiptAgentRequisites(TDevice& ADevice, const pugi::xml_node& AAgentData,
                               const pugi::xml_node& APurveyorData, std::string& ADescr);
// Position mode: the position's agent sign (1222), agent data (1223), purveyor's taxpayer number
// (1226) and purveyor data (1224) with SetFNOperationRequisite. 3023 for an agent sign outside
// 0 to 6 (-1 is none).
int SendPositionAgentRequisites(TDevice& ADevice, std::int64_t ASignAgent, const pugi::xml_node& AAgentData,
                                const pugi::xml_node& APurveyorData, std::string& ADescr);

// The position requisites after the item: marking code (when AGoodCodeData is present), country
// of origin, customs declaration, excise. 1004 for a negative excise amount.
int SendPositionRequisites(TDevice& ADevice, const pugi::xml_node& AFiscalString,
                           const pugi::xml_node& AGoodCodeData);

}  // namespace fr
