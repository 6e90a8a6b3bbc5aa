#include <gtest/gtest.h>

#include <ostream>

#include <string>

#include "device/ResultCodes.h"

namespace fr {
namespace {

struct DescriptionCase {
    const char* Name;
    int Code;
    int ExtCode;
    std::string ExtText;
    std::string Expected;
};

void PrintTo(const DescriptionCase& c, std::ostream* os) { *os << c.Name; }

class DeviceResultDescriptionTest : public ::testing::TestWithParam<DescriptionCase> {};

TEST_P(DeviceResultDescriptionTest, GivesTheTextOfTheCode) {
    const auto& c = GetParam();
    std::string text = "left over";
    GetDeviceResultDescription(c.Code, c.ExtCode, c.ExtText, text);
    EXPECT_EQ(text, c.Expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, DeviceResultDescriptionTest,
    ::testing::Values(
        DescriptionCase{"Success", 0, 0, "", "Ошибок нет"},
        DescriptionCase{"SuccessIgnoresExtCode", 0, 3029, "x", "Ошибок нет"},
        DescriptionCase{"FirstRegisterCode", 1, 0, "",
                        "Неизвестная команда, неверный формат посылки или неизвестные параметры"},
        DescriptionCase{"Printing", 80, 0, "", "Идет печать предыдущей команды"},
        DescriptionCase{"WrongMode", 115, 0, "", "Команда не поддерживается в данном режиме"},
        DescriptionCase{"Code60", 60, 0, "", "Смена открыта операция невозможна"},
        DescriptionCase{"Code61SharesText", 61, 0, "", "Смена открыта операция невозможна"},
        DescriptionCase{"LatinLetterKept", 69, 0, "", "Cумма всех типов оплаты меньше итога чека"},
        DescriptionCase{"LastRegisterCode", 200, 0, "", "Отсутствуют импульсы от таходатчика"},
        DescriptionCase{"Unlisted59", 59, 0, "", "Неизвестная ошибка"},
        DescriptionCase{"Unlisted100", 100, 0, "", "Неизвестная ошибка"},
        DescriptionCase{"Unlisted255", 255, 0, "", "Неизвестная ошибка"},
        DescriptionCase{"Negative", -1, 0, "", "Неизвестная ошибка"},
        DescriptionCase{"Between256And599", 300, 0, "", "Неизвестная ошибка"},
        DescriptionCase{"SocketCreate", 600, 0, "", "Ошибка при создании сокета"},
        DescriptionCase{"PortRange", 603, 0, "", "Номер порта должен лежать в диапазоне 1-65535"},
        DescriptionCase{"Receive", 606, 0, "", "Ошибка при получении ответа от сервера"},
        DescriptionCase{"LibraryStartUp", 607, 0, "", "Ошибка инициализации библиотеки WinSock"},
        DescriptionCase{"Unlisted608", 608, 0, "", "Неизвестная ошибка"},
        DescriptionCase{"Exactly1000", 1000, 0, "", "Неизвестная ошибка"},
        DescriptionCase{"NoResponse", 1007, 0, "", "Устройство не отвечает"},
        DescriptionCase{"PortUnavailable", 1011, 0, "", "Порт недоступен"},
        DescriptionCase{"Protocol", 1014, 0, "", "Ошибка протокола обмена"},
        DescriptionCase{"Inn", 3026, 0, "", "Некорректный ИНН"},
        DescriptionCase{"BothAppended", 2, 3029, " \tZ \r\n",
                        "Неверное состояние ФН; Не указано имя кассира; Z"},
        DescriptionCase{"ExtCodeOnly", 1014, 1007, "", "Ошибка протокола обмена; Устройство не отвечает"},
        DescriptionCase{"ExtTextOnly", 606, 0, "  нет связи  ", "Ошибка при получении ответа от сервера; нет связи"},
        DescriptionCase{"BlankExtTextNotAppended", 80, 0, " \t\r\n", "Идет печать предыдущей команды"},
        DescriptionCase{"UnknownExtCode", 3, 999, "", "Ошибка ФН; Неизвестная ошибка"}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(DeviceResultDescription, EveryRegisterCodeBelow256HasTextOrTheUnknownText) {
    int listed = 0;
    for (int code = 0; code <= 255; ++code) {
        SCOPED_TRACE(code);
        const std::string text = GetDeviceResultDescription(code);
        ASSERT_FALSE(text.empty());
        if (text != "Неизвестная ошибка") ++listed;
    }
    EXPECT_EQ(listed, 110);
}

}  // namespace
}  // namespace fr
