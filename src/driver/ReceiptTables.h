#pragma once
// The tables that turn the host's receipt values into the register's codes and printed captions:
// tax rates, calculation methods and objects, agent signs.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "device/DeviceDateTime.h"

namespace fr {

// The host's tax-rate names in a fixed order; the 1-based position is the tax id.
class TTaxValues {
public:
    TTaxValues();
    // 1-based position of ATaxValue, compared without regard to letter case; 0 when absent.
    int IDOfTax(std::string_view ATaxValue) const;
    const std::vector<std::string>& Items() const { return FItems; }

private:
    std::vector<std::string> FItems;
};

// The register's tax group 1 to 6 of a tax id; 0 for an id outside the list.
int TaxGroupOfID(int ATaxID);
// 1 shifted left by (group - 1); 0 for group 0.
std::uint8_t TaxByteOfGroup(int AGroup);

// The VAT rate change: captions of documents dated before it name the old rates.
inline constexpr int kNewVatYear = 2019;
// The caption of a tax id on a register dated ADate. Without a date (the register's clock could
// not be read) the current captions are used. Empty for an id outside the list.
std::string TaxCaptionFor(int ATaxID, std::optional<TDateTime> ADate);

// Printed names of the calculation methods (codes 1 to 7) and objects (codes 1 to 19).
inline constexpr int kCalculationMethodCount = 7;
inline constexpr int kCalculationObjectCount = 19;
// The name of code ACode, or empty when the code has none.
std::string CalculationMethodName(int ACode);
std::string CalculationObjectName(int ACode);

// Agent signs 0 to 6 become one byte with only that bit set.
inline constexpr int kMaxAgentSign = 6;
inline constexpr int kNoAgentSign = -1;
bool ValidAgentSign(int ASign);
std::uint8_t AgentSignByte(int ASign);

}  // namespace fr
