#include "driver/FiscalTags.h"

#include <algorithm>
#include <charconv>

#include <fmt/format.h>

#include "device/Codec.h"
#include "platform/Encoding.h"

namespace fr {
namespace {

// Deeper nesting than any real document has; a hostile one stops here instead of on the stack.
constexpr int kMaxStructureDepth = 8;

const std::vector<TFiscalTag> kFiscalTags = {
    {1000, "Наименование документа", ffdString},
    {1001, "Признак автоматического режима", ffdByte},
    {1002, "Признак автономного режима", ffdByte},
    {1005, "Адрес оператора перевода", ffdString},
    {1008, "Телефон или эл. адрес покупателя", ffdString},
    {1009, "Адрес расчетов", ffdString},
    {1012, "Дата, время", ffdUnixTime},
    {1013, "Заводской номер ККТ", ffdString},
    {1016, "ИНН оператора перевода", ffdString},
    {1017, "ИНН ОФД", ffdString},
    {1018, "ИНН пользователя", ffdString},
    {1020, "Сумма расчета", ffdVLN},
    {1021, "Кассир", ffdString},
    {1022, "Код ответа ОФД", ffdByte},
    {1023, "Количество", ffdFVLN},
    {1026, "Наименование оператора перевода", ffdString},
    {1030, "Наименование предмета расчета", ffdString},
    {1031, "Сумма наличными", ffdVLN},
    {1036, "Номер автомата", ffdString},
    {1037, "Регистрационный номер ККТ", ffdString},
    {1038, "Номер смены", ffdUInt32},
    {1040, "Номер ФД", ffdUInt32},
    {1041, "Номер ФН", ffdString},
    {1042, "Номер чека за смену", ffdUInt32},
    {1043, "Стоимость предмета расчета", ffdVLN},
    {1044, "Операция платежного агента", ffdString},
    {1046, "Наименование ОФД", ffdString},
    {1048, "Наименование пользователя", ffdString},
    {1050, "Исчерпание ресурса ФН", ffdByte},
    {1051, "Замена ФН", ffdByte},
    {1052, "Переполнение памяти ФН", ffdByte},
    {1053, "Превышение времени ожидания ОФД", ffdByte},
    {1054, "Признак расчета", ffdByte},
    {1055, "Применяемая система налогообложения", ffdRegister},
    {1056, "Признак шифрования", ffdByte},
    {1057, "Признак агента", ffdRegister},
    {1059, "Предмет расчета", ffdSTLV},
    {1060, "Адрес сайта ФНС", ffdString},
    {1062, "Системы налогообложения", ffdByte},
    {1068, "Сообщение оператора", ffdSTLV},
    {1073, "Телефон платежного агента", ffdString},
    {1074, "Телефон оператора по приему платежей", ffdString},
    {1075, "Телефон оператора перевода", ffdString},
    {1077, "ФПД", ffdBytes},
    {1078, "ФПО", ffdBytes},
    {1079, "Цена за единицу", ffdVLN},
    {1081, "Сумма безналичными", ffdVLN},
    {1084, "Дополнительный реквизит пользователя", ffdSTLV},
    {1085, "Наименование доп. реквизита", ffdString},
    {1086, "Значение доп. реквизита", ffdString},
    {1097, "Непереданных ФД", ffdUInt32},
    {1098, "Дата первого непереданного ФД", ffdUnixTime},
    {1101, "Код причины перерегистрации", ffdByte},
    {1102, "Сумма НДС 18%", ffdVLN},
    {1103, "Сумма НДС 10%", ffdVLN},
    {1104, "Сумма с НДС 0%", ffdVLN},
    {1105, "Сумма без НДС", ffdVLN},
    {1106, "Сумма НДС 18/118", ffdVLN},
    {1107, "Сумма НДС 10/110", ffdVLN},
    {1108, "Признак ККТ для расчетов в Интернет", ffdByte},
    {1109, "Признак расчетов за услуги", ffdByte},
    {1110, "Признак АС БСО", ffdByte},
    {1111, "Количество ФД за смену", ffdUInt32},
    {1116, "Номер первого непереданного документа", ffdUInt32},
    {1117, "Адрес эл. почты отправителя чека", ffdString},
    {1118, "Количество кассовых чеков за смену", ffdUInt32},
    {1126, "Признак проведения лотереи", ffdByte},
    {1129, "Счетчики операций приход", ffdSTLV},
    {1130, "Счетчики операций возврат прихода", ffdSTLV},
    {1131, "Счетчики операций расход", ffdSTLV},
    {1132, "Счетчики операций возврат расхода", ffdSTLV},
    {1133, "Счетчики операций коррекции", ffdSTLV},
    {1134, "Количество чеков со всеми признаками", ffdUInt32},
    {1135, "Количество чеков по признаку расчета", ffdUInt32},
    {1136, "Итоговая сумма наличными", ffdVLN},
    {1138, "Итоговая сумма безналичными", ffdVLN},
    {1139, "Сумма НДС по ставке 18%", ffdVLN},
    {1140, "Сумма НДС по ставке 10%", ffdVLN},
    {1141, "Сумма НДС по ставке 18/118", ffdVLN},
    {1142, "Сумма НДС по ставке 10/110", ffdVLN},
    {1143, "Сумма с НДС 0%", ffdVLN},
    {1144, "Количество чеков коррекции", ffdUInt32},
    {1145, "Счетчики коррекций прихода", ffdSTLV},
    {1146, "Счетчики коррекций расхода", ffdSTLV},
    {1148, "Количество самостоятельных корректировок", ffdUInt32},
    {1149, "Количество корректировок по предписанию", ffdUInt32},
    {1151, "Сумма коррекций НДС 18%", ffdVLN},
    {1152, "Сумма коррекций НДС 10%", ffdVLN},
    {1153, "Сумма коррекций НДС 18/118", ffdVLN},
    {1154, "Сумма коррекций НДС 10/110", ffdVLN},
    {1155, "Сумма коррекций с НДС 0%", ffdVLN},
    {1157, "Счетчики итогов ФН", ffdSTLV},
    {1158, "Счетчики итогов непереданных ФД", ffdSTLV},
    {1162, "Код товарной номенклатуры", ffdBytes},
    {1171, "Телефон поставщика", ffdString},
    {1173, "Тип коррекции", ffdByte},
    {1174, "Основание для коррекции", ffdSTLV},
    {1177, "Наименование основания коррекции", ffdString},
    {1178, "Дата документа основания коррекции", ffdUnixTime},
    {1179, "Номер документа основания коррекции", ffdString},
    {1183, "Сумма расчетов без НДС", ffdVLN},
    {1184, "Сумма коррекций без НДС", ffdVLN},
    {1187, "Место расчетов", ffdString},
    {1188, "Версия ККТ", ffdString},
    {1189, "Версия ФФД ККТ", ffdByte},
    {1190, "Версия ФФД ФН", ffdByte},
    {1191, "Дополнительный реквизит предмета расчета", ffdString},
    {1192, "Дополнительный реквизит чека", ffdString},
    {1193, "Признак проведения азартных игр", ffdByte},
    {1194, "Счетчики итогов смены", ffdSTLV},
    {1196, "QR-код", ffdString},
    {1197, "Единица измерения", ffdString},
    {1198, "Размер НДС за единицу", ffdVLN},
    {1199, "Ставка НДС", ffdByte},
    {1200, "Сумма НДС за предмет расчета", ffdVLN},
    {1201, "Общая итоговая сумма", ffdVLN},
    {1203, "ИНН кассира", ffdString},
    {1205, "Коды причин изменения сведений о ККТ", ffdRegister},
    {1206, "Сообщение оператора", ffdRegister},
    {1207, "Признак торговли подакцизными товарами", ffdByte},
    {1208, "Сайт чеков", ffdString},
    {1209, "Версия ФФД", ffdByte},
    {1212, "Признак предмета расчета", ffdByte},
    {1213, "Ресурс ключей ФП", ffdUInt32},
    {1214, "Признак способа расчета", ffdByte},
    {1215, "Сумма предоплатой", ffdVLN},
    {1216, "Сумма постоплатой", ffdVLN},
    {1217, "Сумма встречным предоставлением", ffdVLN},
    {1218, "Итоговая сумма предоплатами", ffdVLN},
    {1219, "Итоговая сумма постоплатами", ffdVLN},
    {1220, "Итоговая сумма встречными предоставлениями", ffdVLN},
    {1221, "Признак установки принтера в автомате", ffdByte},
    {1222, "Признак агента по предмету расчета", ffdRegister},
    {1223, "Данные агента", ffdVLN},
    {1224, "Данные поставщика", ffdVLN},
    {1225, "Наименование поставщика", ffdString},
    {1226, "ИНН поставщика", ffdString},
};

std::string OemToUtf8(const TBytes& AValue) { return SingleByteToUtf8(AValue, CodePage::Cp866); }

// An unsigned count of units with ADecimals decimal places, trailing zeros of the fraction dropped.
std::string DecimalText(std::uint64_t AUnits, int ADecimals) {
    std::uint64_t scale = 1;
    for (int i = 0; i < ADecimals && scale <= UINT64_MAX / 10; ++i) scale *= 10;
    std::string text = fmt::format("{}", AUnits / scale);
    std::uint64_t frac = AUnits % scale;
    if (frac == 0) return text;
    std::string digits = fmt::format("{:0{}}", frac, ADecimals);
    while (!digits.empty() && digits.back() == '0') digits.pop_back();
    return text + "." + digits;
}

TBytes Slice(const TBytes& AValue, std::size_t AFirst, std::size_t ACount) {
    if (AFirst >= AValue.size()) return {};
    const std::size_t n = std::min(ACount, AValue.size() - AFirst);
    return TBytes(AValue.begin() + static_cast<std::ptrdiff_t>(AFirst),
                  AValue.begin() + static_cast<std::ptrdiff_t>(AFirst + n));
}

}  // namespace

const std::vector<TFiscalTag>& FiscalTags() { return kFiscalTags; }

const TFiscalTag* FindFiscalTag(std::int32_t ATag) {
    for (const TFiscalTag& t : kFiscalTags)
        if (t.Tag == ATag) return &t;
    return nullptr;
}

std::string FiscalValueText(TFFD AType, const TBytes& AValue) {
    switch (AType) {
    case ffdString:
    case ffdRegister:
        return OemToUtf8(AValue);
    case ffdUnixTime: {
        if (AValue.empty()) return {};
        constexpr double kUnixEpochDays = 25569;  // 1970-01-01 as a host date
        const auto secs = LEBytesToInt(Slice(AValue, 0, 4));
        return DateTimeText(kUnixEpochDays + static_cast<double>(secs / 86400) +
                            static_cast<double>(secs % 86400) / 86400.0);
    }
    case ffdUInt32:
        if (AValue.empty()) return {};
        return fmt::format("{}", LEBytesToInt(Slice(AValue, 0, 4)));
    case ffdByte:
        if (AValue.empty()) return {};
        return fmt::format("{}", AValue[0]);
    case ffdBytes: {
        const TBytes sign = Slice(AValue, 2, 4);
        std::uint64_t v = 0;
        for (std::uint8_t b : sign) v = v << 8 | b;
        return sign.empty() ? std::string() : fmt::format("{}", v);
    }
    case ffdVLN:
        if (AValue.empty()) return {};
        return DecimalText(LEBytesToInt(AValue), 2);
    case ffdFVLN:
        if (AValue.empty()) return {};
        return DecimalText(LEBytesToInt(Slice(AValue, 1, 8)), std::min<int>(AValue[0], 19));
    default:
        return {};
    }
}

std::size_t DecodeFiscalBlock(const TBytes& AData, std::size_t AOffset, TDocElementList& AList, int ADepth) {
    if (AOffset + 4 > AData.size()) return 0;
    const auto tag = static_cast<std::int32_t>(AData[AOffset] | AData[AOffset + 1] << 8);
    const std::size_t len = std::min<std::size_t>(AData[AOffset + 2] | AData[AOffset + 3] << 8,
                                                  AData.size() - AOffset - 4);
    const TBytes value = Slice(AData, AOffset + 4, len);
    if (const TFiscalTag* entry = FindFiscalTag(tag)) {
        if (entry->Type == ffdSTLV) {
            if (ADepth < kMaxStructureDepth) DecodeFiscalBlocks(value, AList, ADepth + 1);
        } else {
            AList.push_back(std::make_unique<TDocElement>(tag, entry->Caption, entry->Type, value,
                                                          FiscalValueText(entry->Type, value)));
        }
    }
    return 4 + len;
}

void DecodeFiscalBlocks(const TBytes& AData, TDocElementList& AList, int ADepth) {
    std::size_t offset = 0;
    while (const std::size_t used = DecodeFiscalBlock(AData, offset, AList, ADepth)) offset += used;
}

std::string FindElementText(const TDocElementList& AList, std::int32_t ATag) {
    for (const auto& e : AList)
        if (e->Tag == ATag) return e->Value;
    return {};
}

std::string BitListText(std::uint32_t AMask, int AHighestBit) {
    std::string text;
    for (int bit = 0; bit <= AHighestBit; ++bit) {
        if (!(AMask >> bit & 1)) continue;
        if (!text.empty()) text += ',';
        text += static_cast<char>('0' + bit);
    }
    return text;
}

std::int64_t TextToIntDef(const std::string& AText, std::int64_t ADefault) {
    const std::string text = TrimText(AText);
    std::int64_t v = 0;
    const char* first = text.data();
    const char* last = text.data() + text.size();
    if (first != last && *first == '+') ++first;
    const auto [ptr, ec] = std::from_chars(first, last, v);
    if (ec != std::errc() || ptr != last || text.empty()) return ADefault;
    return v;
}

TFFDVersions FFDVersionsFromTags(const std::string& ATag1209, const std::string& ATag1189) {
    if (ATag1209.empty()) return {"1.0", "1.0"};
    if (ATag1209 == "2") return {"1.0", ATag1189 == "2" ? "1.0.5" : "1.1"};
    if (ATag1209 == "3") return {"1.1", "1.1"};
    return {"1.1", "1.0.5"};
}

std::string DateTimeText(TDateTime AValue) {
    const TDateTimeParts p = DecodeDateTime(AValue);
    return fmt::format("{:02}.{:02}.{:04} {:02}:{:02}:{:02}", p.Day, p.Month, p.Year, p.Hour, p.Minute, p.Second);
}

std::string IsoDateTimeText(TDateTime AValue) {
    const TDateTimeParts p = DecodeDateTime(AValue);
    return fmt::format("{:04}-{:02}-{:02}T{:02}:{:02}:{:02}.000Z", p.Year, p.Month, p.Day, p.Hour, p.Minute,
                       p.Second);
}

}  // namespace fr
