#include <gtest/gtest.h>

#include "driver/Driver.h"
#include "framework/TestDriver.h"
#include "platform/System.h"
#include "platform/TempDir.h"
#include "platform/Xml.h"

namespace fr {
namespace {

using test::CallMethod;
using test::ReadFile;

class DriverTest : public ::testing::Test {
protected:
    void TearDown() override { SetHostExeNameForTests(""); }
    std::unique_ptr<TDriver> Make(const char* AHostExe = "1cv8.exe") {
        SetHostExeNameForTests(AHostExe);
        return TBaseDriver::Create<TDriver>();
    }
    void SetParameter(TDriver& d, const char* name, const TVariant& value) {
        TParams p{TVariant(name), value};
        EXPECT_EQ(CallMethod(d, "SetParameter", p), TVariant(true));
    }
    std::string SettingsFile() const { return Data.Path() + "fr_tarvikonline1c83/default.sts"; }

    test::TTempAppData Data;
};

TEST_F(DriverTest, SettingsListInOrderWithTypesDefaultsAndCaptions) {
    struct Row {
        const char* ID;
        const char* Alias;
        TDataType Type;
        TVariant Default;
        const char* Name;
        const char* Description;
    };
    const Row rows[] = {
        {"DebugLogEnabled", "DebugLogEnabled", dtBoolean, TVariant(false), "Отладочный лог",
         "Если равно True, ведется отладочный лог"},
        {"CutString", "", dtString, TVariant(""), "Маркер отреза бумаги", "Маркер отреза бумаги"},
        {"IPPort", "", dtNumber, TVariant(5555), "IP порт", "IP Порт"},
        {"IPAddress", "", dtString, TVariant("0.0.0.0"), "IP адрес", "IP адрес"},
        {"ConnectPassword", "", dtNumber, TVariant(30), "Пароль", "Пароль связи с ФР"},
        {"PortNumber", "Порт", dtNumber, TVariant(1), "Порт", "Номер порта RS232"},
        {"BaudRate", "Скорость", dtNumber, TVariant(115200), "Скорость", "Скорость обмена"},
        {"CheckTaxSum", "Контроль суммы налогов 10% и 18%", dtBoolean, TVariant(false),
         "Контроль суммы налогов 10% и 18%", "Контроль суммы налогов 10% и 18%"},
        {"FeedCount", "Число строк протяжки ленты", dtNumber, TVariant(10), "Число строк протяжки ленты",
         "Число строк протяжки ленты"},
        {"PrintSignObjAndMethod", "Печатать признак и способ расчета ФФД 1.05", dtBoolean, TVariant(false),
         "Печатать признак и способ расчета", "Печатать признак и способ расчета ФФД 1.05"},
        {"WriteLog", "Вести лог", dtBoolean, TVariant(false), "Вести лог", "Вести лог"},
        {"MaxReceiptRowLength", "", dtNumber, TVariant(0), "Длина строки чека",
         "Максимальное количество символов, помещающихся в строке чековой ленты"},
        {"LogDir", "", dtString, TVariant(""), "Путь к директории лога", "Путь к директории лога"},
        {"DisableCut", "", dtBoolean, TVariant(false), "Запретить отрезку чека", "Запретить отрезку чека"},
        {"QRSize", "", dtNumber, TVariant(6), "Размер блока QR-кода", "Размер блока QR-кода"},
    };
    const auto d = Make();
    ASSERT_EQ(d->SettingsCount(), static_cast<int>(std::size(rows)));
    for (int i = 0; i < d->SettingsCount(); ++i) {
        const Row& r = rows[i];
        const TSettingStruct& s = d->GetProperty(i);
        SCOPED_TRACE(r.ID);
        EXPECT_EQ(s.ID, r.ID);
        EXPECT_EQ(s.Alias, r.Alias);
        EXPECT_EQ(s.ValueType, r.Type);
        EXPECT_EQ(s.Default, r.Default);
        EXPECT_EQ(s.Value, r.Default);
        EXPECT_FALSE(s.ReadOnly);
        EXPECT_EQ(s.Name, r.Name);
        EXPECT_EQ(s.Description, r.Description);
    }
}

// A value of the wrong kind for a known setting changes nothing and is refused with 1004 and a
// text naming the setting and what it takes; an unknown name is ignored and answered true.
TEST_F(DriverTest, SetParameterValueKindRules) {
    struct Case {
        const char* Name;
        TVariant Value;
        const char* Setting;
        TVariant After;
        const char* Refusal;  // nullptr: accepted
    };
    const char* const kNumber = "параметр PortNumber (Порт) принимает число, получено: строка";
    const Case cases[] = {
        {"portnumber", TVariant(9999), "PortNumber", TVariant(9999), nullptr},
        {"PortNumber", TVariant("9999"), "PortNumber", TVariant(1), kNumber},
        {"PortNumber", TVariant("COM3"), "PortNumber", TVariant(1), kNumber},
        {"PortNumber", TVariant("/dev/ttyACM0"), "PortNumber", TVariant(1), kNumber},
        {"Порт", TVariant(3), "PortNumber", TVariant(3), nullptr},
        {"порт", TVariant(4), "PortNumber", TVariant(4), nullptr},
        {"IPPort", TVariant(true), "IPPort", TVariant(true), nullptr},
        {"IPPort", TVariant(7778.0), "IPPort", TVariant(7778.0), nullptr},
        {"IPAddress", TVariant("127.0.0.1"), "IPAddress", TVariant("127.0.0.1"), nullptr},
        {"IPAddress", TVariant(127), "IPAddress", TVariant("0.0.0.0"), "принимает строку, получено: число 127"},
        {"WriteLog", TVariant(1), "WriteLog", TVariant(false), "принимает булево значение (Истина или Ложь)"},
        {"Вести лог", TVariant(true), "WriteLog", TVariant(true), nullptr},
        {"DisableCut", TVariant("True"), "DisableCut", TVariant(false), "получено: строка \"True\""},
        {"ConnectPwd", TVariant(15), "ConnectPassword", TVariant(15), nullptr},
        {"connectpwd", TVariant("15"), "ConnectPassword", TVariant(30), "параметр ConnectPassword"},
        {"ConnectPassword", TVariant(15), "ConnectPassword", TVariant(15), nullptr},
        {"QRSize", TVariant(), "QRSize", TVariant(6), "получено: пустое значение"},
        {"QRSize", TVariant::Null(), "QRSize", TVariant(6), "получено: пустое значение"},
        {"NoSuchSetting", TVariant("x"), "QRSize", TVariant(6), nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.Name) + " <- " + VarTypeName(c.Value.VarType()));
        const auto d = Make();
        TParams p{TVariant(c.Name), c.Value};
        EXPECT_EQ(CallMethod(*d, "SetParameter", p), TVariant(c.Refusal == nullptr));
        EXPECT_EQ(d->GetSettingValue(c.Setting), c.After);
        EXPECT_EQ(d->LastResultCode(), c.Refusal ? 1004 : 0);
        TParams text(1);
        CallMethod(*d, "GetLastError", text);
        if (c.Refusal) {
            EXPECT_EQ(text[0].AsString().rfind("Ошибка входных параметров команды; ", 0), 0u) << text[0].AsString();
            EXPECT_NE(text[0].AsString().find(c.Refusal), std::string::npos) << text[0].AsString();
            EXPECT_NE(text[0].AsString().find("значение не изменено"), std::string::npos);
        }
    }
}

TEST_F(DriverTest, ParameterTableCarriesItsDefaultsAndTheLogFolder) {
    const auto d = Make();
    TParams p(1);
    EXPECT_EQ(CallMethod(*d, "GetParameters", p), TVariant(true));
    const std::string xml = p[0].AsString();
    for (std::size_t i = xml.find('\n'); i != std::string::npos; i = xml.find('\n', i + 1))
        ASSERT_EQ(xml[i - 1], '\r') << "every line ends with CR LF";
    pugi::xml_document doc;
    LoadXmlDocument(doc, xml);
    struct Row {
        const char* Page;
        const char* Name;
        const char* Caption;
        const char* Type;
        std::string Default;
        std::size_t Choices;
    };
    const Row rows[] = {
        {"Параметры связи", "PortNumber", "Порт", "Number", "1", 129},
        {"Параметры связи", "BaudRate", "Скорость", "Number", "115200", 8},
        {"Параметры связи", "IPAddress", "IP адрес", "String", "127.0.0.1", 0},
        {"Параметры связи", "IPPort", "IP порт", "Number", "7778", 0},
        {"Параметры связи", "ConnectPwd", "Пароль связи", "Number", "30", 0},
        {"Общие настройки", "FeedCount", "Количество строк протяжки ленты", "Number", "8", 0},
        {"Общие настройки", "CutString", "Маркер отреза бумаги", "String", "[cut]", 0},
        {"Общие настройки", "MaxReceiptRowLength", "Длина строки чека", "Number", "0", 0},
        {"Общие настройки", "DisableCut", "Запретить отрезку чека", "Boolean", "false", 0},
        {"Общие настройки", "QRSize", "Размер блока QR-кода", "Number", "6", 6},
        {"Формат чека", "PrintSignObjAndMethod", "Печать признака предмета и признака способа расчета", "Boolean",
         "true", 0},
        {"Настройка лога", "WriteLog", "Вести лог", "Boolean", "false", 0},
        {"Настройка лога", "LogDir", "Путь к директории логов", "String",
         Data.Path() + "fr_tarvikonline1c83/", 0},
    };
    std::size_t n = 0;
    for (auto page : FirstChildElement(doc, "Settings").children("Page")) {
        auto group = FirstChildElement(page, "Group");
        EXPECT_STREQ(group.attribute("Caption").value(), page.attribute("Caption").value());
        for (auto param : group.children("Parameter")) {
            ASSERT_LT(n, std::size(rows));
            const Row& r = rows[n++];
            SCOPED_TRACE(r.Name);
            EXPECT_STREQ(page.attribute("Caption").value(), r.Page);
            EXPECT_STREQ(param.attribute("Name").value(), r.Name);
            EXPECT_STREQ(param.attribute("Caption").value(), r.Caption);
            EXPECT_STREQ(param.attribute("TypeValue").value(), r.Type);
            EXPECT_EQ(param.attribute("DefaultValue").value(), r.Default);
            const auto items = FirstChildElement(param, "ChoiceList").children("Item");
            EXPECT_EQ(static_cast<std::size_t>(std::distance(items.begin(), items.end())), r.Choices);
        }
    }
    EXPECT_EQ(n, std::size(rows));
}

TEST_F(DriverTest, ChoiceListsOfPortBaudRateAndQrSize) {
    const auto d = Make();
    pugi::xml_document doc;
    LoadXmlDocument(doc, d->GetParameters());
    auto items = [&](const char* name) {
        std::string out;
        for (auto page : doc.child("Settings").children("Page"))
            for (auto param : page.child("Group").children("Parameter"))
                if (std::string_view(param.attribute("Name").value()) == name)
                    for (auto item : param.child("ChoiceList").children("Item"))
                        out += std::string(item.attribute("Value").value()) + "=" + item.text().get() + ";";
        return out;
    };
    const std::string ports = items("PortNumber");
    EXPECT_EQ(ports.substr(0, 30), "9999=TCP/IP;1=COM1;2=COM2;3=CO");
    EXPECT_EQ(ports.substr(ports.size() - 11), "128=COM128;");
    EXPECT_EQ(items("BaudRate"),
              "1200=1200;2400=2400;4800=4800;9600=9600;19200=19200;38400=38400;57600=57600;115200=115200;");
    EXPECT_EQ(items("QRSize"), "3=3;4=4;5=5;6=6;7=7;8=8;");
}

TEST_F(DriverTest, SettingsFileRoundTripKeepsALineBreak) {
    auto d = Make("1cv7.exe");
    SetParameter(*d, "CutString", TVariant("строка1\r\n[cut]"));
    SetParameter(*d, "IPPort", TVariant(7778));
    SetParameter(*d, "WriteLog", TVariant(true));
    SetParameter(*d, "IPAddress", TVariant(" 10.0.0.1 "));
    SetParameter(*d, "FeedCount", TVariant(12.5));
    TParams none;
    CallMethod(*d, "SaveSettings", none);
    EXPECT_EQ(ReadFile(SettingsFile()),
              "[SETTINGS]\n"
              "DebugLogEnabled=False\n"
              "CutString=строка1\\n[cut]\n"
              "IPPort=7778\n"
              "IPAddress=\" 10.0.0.1 \"\n"
              "ConnectPassword=30\n"
              "PortNumber=1\n"
              "BaudRate=115200\n"
              "CheckTaxSum=False\n"
              "FeedCount=12.5\n"
              "PrintSignObjAndMethod=False\n"
              "WriteLog=True\n"
              "MaxReceiptRowLength=0\n"
              "LogDir=\n"
              "DisableCut=False\n"
              "QRSize=6\n");
    auto fresh = Make("1cv7.exe");
    CallMethod(*fresh, "ReadSettings", none);
    EXPECT_EQ(fresh->GetSettingValue("CutString"), TVariant("строка1\r\n[cut]"));
    EXPECT_EQ(fresh->GetSettingValue("IPPort"), TVariant(7778));
    EXPECT_EQ(fresh->GetSettingValue("WriteLog"), TVariant(true));
    EXPECT_EQ(fresh->GetSettingValue("IPAddress"), TVariant(" 10.0.0.1 "));
    EXPECT_EQ(fresh->GetSettingValue("FeedCount"), TVariant(12.5));
}

TEST_F(DriverTest, SettingsFileValuesAreReadByTheirExactForms) {
    auto d = Make("1cv7.exe");
    std::filesystem::create_directories(Data.Path() + "fr_tarvikonline1c83");
    test::WriteFile(SettingsFile(),
                    "junk\n[SETTINGS]\nWriteLog=true\nDisableCut=True\nFeedCount=12,5\nIPPort=abc\n"
                    "QRSize=7\nPortNumber=9999\n[OTHER]\nLogDir=elsewhere\n");
    TParams none;
    CallMethod(*d, "СчитатьНастройки", none);
    EXPECT_EQ(d->GetSettingValue("WriteLog"), TVariant(false)) << "only \"True\" is true";
    EXPECT_EQ(d->GetSettingValue("DisableCut"), TVariant(true));
    EXPECT_EQ(d->GetSettingValue("FeedCount"), TVariant(0.0)) << "the comma is no decimal separator here";
    EXPECT_EQ(d->GetSettingValue("IPPort"), TVariant(0));
    EXPECT_EQ(d->GetSettingValue("QRSize"), TVariant(7));
    EXPECT_EQ(d->GetSettingValue("PortNumber"), TVariant(9999));
    // Keys missing from the file keep their values (here the defaults).
    EXPECT_EQ(d->GetSettingValue("BaudRate"), TVariant(115200));
    EXPECT_EQ(d->GetSettingValue("IPAddress"), TVariant("0.0.0.0"));
    EXPECT_EQ(d->GetSettingValue("LogDir"), TVariant(""));
    EXPECT_EQ(d->GetSettingValue("CheckTaxSum"), TVariant(false));
}

TEST_F(DriverTest, MissingSettingsFileChangesNothing) {
    auto d = Make("1cv7.exe");
    SetParameter(*d, "QRSize", TVariant(4));
    TParams none;
    CallMethod(*d, "ReadSettings", none);
    EXPECT_EQ(d->GetSettingValue("QRSize"), TVariant(4));
    EXPECT_EQ(d->GetSettingValue("BaudRate"), TVariant(115200));
}

TEST_F(DriverTest, DeviceIdNamesTheFileAndNeverLeavesTheSettingsFolder) {
    auto d = Make("1cv7.exe");
    struct Case {
        const char* ID;
        const char* File;
    };
    const Case cases[] = {{"kassa1", "kassa1.sts"}, {"../../evil", ".._.._evil.sts"}, {"a\\b/c", "a_b_c.sts"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.ID);
        TParams id{TVariant(c.ID)};
        CallMethod(*d, "SetDeviceID", id);
        EXPECT_EQ(d->GetSettingsFileName(), Data.Path() + "fr_tarvikonline1c83/" + c.File);
        TParams none;
        CallMethod(*d, "SaveSettings", none);
        EXPECT_TRUE(std::filesystem::exists(Data.Path() + "fr_tarvikonline1c83/" + c.File));
    }
}

// Before the first Open there is no register to touch: each document operation answers 1005,
// writes no out value and leaves the strings empty.
TEST_F(DriverTest, DocumentOperationsBeforeOpenAnswerDeviceNotReady) {
    auto d = Make();
    const char* kNotReady = "Устройство не найдено или не проинициализировано";
    TParams check{TVariant("0"), TVariant(false), TVariant("<CheckPackage/>"), TVariant(), TVariant(), TVariant(),
                  TVariant()};
    EXPECT_EQ(CallMethod(*d, "ProcessCheck", check), TVariant(false));
    EXPECT_EQ(d->LastResultCode(), 1005);
    EXPECT_EQ(d->LastResultDescription(), kNotReady);
    EXPECT_EQ(check[3], TVariant());
    EXPECT_EQ(check[5], TVariant());

    TParams correction{TVariant("0"), TVariant("<CheckCorrectionPackage/>"), TVariant(), TVariant(), TVariant(),
                       TVariant()};
    EXPECT_EQ(CallMethod(*d, "ProcessCorrectionCheck", correction), TVariant(false));
    EXPECT_EQ(d->LastResultCode(), 1005);
    EXPECT_EQ(correction[4], TVariant());

    TParams text{TVariant("0"), TVariant("<Document/>")};
    EXPECT_EQ(CallMethod(*d, "PrintTextDocument", text), TVariant(false));
    EXPECT_EQ(d->LastResultCode(), 1005);
    EXPECT_EQ(d->LastResultDescription(), kNotReady);

    std::int64_t number = 7, session = 8;
    std::string sign = "old", site = "old";
    pugi::xml_document doc;
    EXPECT_EQ(d->ProcessCheck(false, doc, number, session, sign, site), 1005);
    EXPECT_EQ(number, 7);
    EXPECT_EQ(session, 8);
    EXPECT_EQ(sign, "");
    EXPECT_EQ(site, "");
}

}  // namespace
}  // namespace fr
