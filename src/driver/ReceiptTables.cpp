#include "driver/ReceiptTables.h"

#include <array>

#include "platform/TextCase.h"

namespace fr {
namespace {

struct TTaxRow {
    const char* Name;
    int Group;
    const char* OldCaption;  // register dated before 2019-01-01
    const char* Caption;
};

constexpr std::array<TTaxRow, 8> kTaxRows{{
    {"20", 1, "НДС 18%", "НДС 20%"},
    {"18", 1, "НДС 18%", "НДС 18%"},
    {"10", 2, "НДС 10%", "НДС 10%"},
    {"0", 3, "НДС 0%", "НДС 0%"},
    {"none", 4, "БЕЗ НДС", "БЕЗ НДС"},
    {"20/120", 5, "НДС 18/118", "НДС 20/120"},
    {"18/118", 5, "НДС 18/118", "НДС 18/118"},
    {"10/110", 6, "НДС 10/110", "НДС 10/110"},
}};

constexpr std::array<const char*, kCalculationMethodCount> kMethodNames{
    "ПРЕДОПЛАТА 100%", "ПРЕДОПЛАТА", "АВАНС", "ПОЛНЫЙ РАСЧЕТ", "ЧАСТИЧНЫЙ РАСЧЕТ И КРЕДИТ",
    "ПЕРЕДАЧА В КРЕДИТ", "ОПЛАТА КРЕДИТА"};

constexpr std::array<const char*, kCalculationObjectCount> kObjectNames{
    "ТОВАР", "ПОДАКЦИЗНЫЙ ТОВАР", "РАБОТА", "УСЛУГА", "СТАВКА АЗАРТНОЙ ИГРЫ", "ВЫИГРЫШ АЗАРТНОЙ ИГРЫ",
    "ЛОТЕРЕЙНЫЙ БИЛЕТ", "ВЫИГРЫШ ЛОТЕРЕИ", "ПРЕДОСТАВЛЕНИЕ РИД", "ПЛАТЕЖ", "АГЕНТСКОЕ ВОЗНАГРАЖДЕНИЕ",
    "СОСТАВНОЙ ПРЕДМЕТ РАСЧЕТА", "ИНОЙ ПРЕДМЕТ РАСЧЕТА", "ИМУЩЕСТВЕННОЕ ПРАВО", "ВНЕРЕАЛИЗАЦИОННЫЙ ДОХОД",
    "СТРАХОВЫЕ ВЗНОСЫ", "ТОРГОВЫЙ СБОР", "КУРОРТНЫЙ СБОР", "ЗАЛОГ"};

template <std::size_t N>
std::string NameOf(const std::array<const char*, N>& ANames, int ACode) {
    if (ACode < 1 || ACode > static_cast<int>(N)) return {};
    return ANames[static_cast<std::size_t>(ACode - 1)];
}

}  // namespace

TTaxValues::TTaxValues() {
    for (const TTaxRow& row : kTaxRows) FItems.emplace_back(row.Name);
}

int TTaxValues::IDOfTax(std::string_view ATaxValue) const {
    for (std::size_t i = 0; i < FItems.size(); ++i)
        if (SameText(std::string_view(FItems[i]), ATaxValue)) return static_cast<int>(i) + 1;
    return 0;
}

int TaxGroupOfID(int ATaxID) {
    if (ATaxID < 1 || ATaxID > static_cast<int>(kTaxRows.size())) return 0;
    return kTaxRows[static_cast<std::size_t>(ATaxID - 1)].Group;
}

std::uint8_t TaxByteOfGroup(int AGroup) {
    if (AGroup < 1 || AGroup > 6) return 0;
    return static_cast<std::uint8_t>(1u << (AGroup - 1));
}

std::string TaxCaptionFor(int ATaxID, std::optional<TDateTime> ADate) {
    if (ATaxID < 1 || ATaxID > static_cast<int>(kTaxRows.size())) return {};
    const TTaxRow& row = kTaxRows[static_cast<std::size_t>(ATaxID - 1)];
    static const TDateTime changeDate = *TryEncodeDateTime({kNewVatYear, 1, 1, 0, 0, 0});
    if (ADate && *ADate < changeDate) return row.OldCaption;
    return row.Caption;
}

std::string CalculationMethodName(int ACode) { return NameOf(kMethodNames, ACode); }
std::string CalculationObjectName(int ACode) { return NameOf(kObjectNames, ACode); }

bool ValidAgentSign(int ASign) { return ASign >= 0 && ASign <= kMaxAgentSign; }

std::uint8_t AgentSignByte(int ASign) {
    return ValidAgentSign(ASign) ? static_cast<std::uint8_t>(1u << ASign) : 0;
}

}  // namespace fr
