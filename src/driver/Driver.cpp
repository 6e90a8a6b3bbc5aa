#include "driver/Driver.h"

#include "platform/System.h"
#include "platform/TextCase.h"
#include "platform/Xml.h"

namespace fr {

// The register's factory connection password.
constexpr std::int32_t kFactoryConnectPassword = 30;

TDriver::TDriver(TCreateKey AKey) : TBaseDriverECR(AKey) {}

void TDriver::InitSettings() {
    TBaseDriverECR::InitSettings();
    AddSetting("IPPort", dtNumber, TVariant(5555), false, "IP порт", "IP Порт");
    AddSetting("IPAddress", dtString, TVariant("0.0.0.0"), false, "IP адрес", "IP адрес");
    AddSetting("ConnectPassword", dtNumber, TVariant(kFactoryConnectPassword), false, "Пароль", "Пароль связи с ФР");
    AddSetting("PortNumber", "Порт", dtNumber, TVariant(1), false, "Порт", "Номер порта RS232");
    AddSetting("BaudRate", "Скорость", dtNumber, TVariant(115200), false, "Скорость", "Скорость обмена");
    AddSetting("CheckTaxSum", "Контроль суммы налогов 10% и 18%", dtBoolean, TVariant(false), false,
               "Контроль суммы налогов 10% и 18%", "Контроль суммы налогов 10% и 18%");
    AddSetting("FeedCount", "Число строк протяжки ленты", dtNumber, TVariant(10), false,
               "Число строк протяжки ленты", "Число строк протяжки ленты");
    AddSetting("PrintSignObjAndMethod", "Печатать признак и способ расчета ФФД 1.05", dtBoolean, TVariant(false),
               false, "Печатать признак и способ расчета", "Печатать признак и способ расчета ФФД 1.05");
    AddSetting("WriteLog", "Вести лог", dtBoolean, TVariant(false), false, "Вести лог", "Вести лог");
    // Already registered by TBaseDriverECR: keeps its place and caption.
    AddSetting("CutString", dtString, TVariant(""), false, "Маркер отреза бумаги", "Маркер отреза бумаги");
    AddSetting("MaxReceiptRowLength", dtNumber, TVariant(0), false, "Длина строки чека",
               "Максимальное количество символов, помещающихся в строке чековой ленты");
    AddSetting("LogDir", dtString, TVariant(""), false, "Путь к директории лога", "Путь к директории лога");
    AddSetting("DisableCut", dtBoolean, TVariant(false), false, "Запретить отрезку чека", "Запретить отрезку чека");
    AddSetting("QRSize", dtNumber, TVariant(6), false, "Размер блока QR-кода", "Размер блока QR-кода");
}

int TDriver::CallSetParameter(TVariant& pvarRetValue, TParams& paParams) {
    if (HasParams(paParams, 2) && paParams[0].IsString() &&
        SameText(std::string_view(paParams[0].AsString()), std::string_view("ConnectPwd"))) {
        TParams renamed{TVariant("ConnectPassword"), paParams[1]};
        return TBaseDriverECR::CallSetParameter(pvarRetValue, renamed);
    }
    return TBaseDriverECR::CallSetParameter(pvarRetValue, paParams);
}

std::string TDriver::GetParameters() {
    const std::string text = TBaseDriverECR::GetParameters();
    try {
        pugi::xml_document doc;
        LoadXmlDocument(doc, text);
        // Page 4 ("Настройка лога"), its group, its second parameter ("LogDir").
        pugi::xml_node logDir =
            NthChildElement(NthChildElement(NthChildElement(FirstChildElement(doc, "Settings"), 3), 0), 1);
        if (!logDir) return text;
        pugi::xml_attribute def = logDir.attribute("DefaultValue");
        if (!def) def = logDir.append_attribute("DefaultValue");
        def = (CommonAppDataDir() + kModuleBaseName + "/").c_str();
        return XmlDocumentText(doc);
    } catch (const EFrError&) {
        return text;
    }
}

}  // namespace fr
