#include <gtest/gtest.h>

#include <regex>

#include "framework/DriverClasses.h"
#include "framework/Log.h"
#include "platform/System.h"
#include "framework/TestDriver.h"
#include "platform/TempDir.h"

namespace fr {
namespace {

using test::CallMethod;
using test::TTestDriver;

class RegistryTest : public ::testing::Test {
protected:
    void TearDown() override { SetHostExeNameForTests(""); }
    std::unique_ptr<TTestDriver> Make(const char* AHostExe) {
        SetHostExeNameForTests(AHostExe);
        return TBaseDriver::Create<TTestDriver>();
    }
};

TEST_F(RegistryTest, PlatformComesFromTheHostExecutableName) {
    struct Case {
        const char* Exe;
        TPlatformVer Ver;
    };
    const Case cases[] = {
        {"1cv7.exe", pv77},   {"1CV7S.EXE", pv77}, {"1Cv7l.exe", pv77},         {"1cv8.exe", pv81},
        {"1cv8c.exe", pv81},  {"1CV8C", pv81},     {"/opt/1C/1cv8s.exe", pv81}, {"1cv", pvUnknown},
        {"frcli", pvUnknown}, {"", pvUnknown},     {"x1cv7.exe", pvUnknown},    {"1cv9.exe", pvUnknown},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Exe);
        EXPECT_EQ(DetectPlatformVer(c.Exe), c.Ver);
    }
    EXPECT_EQ(Make("1cv7.exe")->PlatformVer(), pv77);
    EXPECT_EQ(Make("1cv8c.exe")->PlatformVer(), pv81);
}

TEST_F(RegistryTest, RegistryOrderUnderAn8xHost) {
    const char* const names[] = {
        "ShowSettingsDlg", "GetVersion", "ПолучитьОписание", "ПолучитьОшибку", "ПолучитьПараметры",
        "УстановитьПараметр", "Подключить", "Отключить", "ПолучитьДополнительныеДействия",
        "ВыполнитьДополнительноеДействие", "ТестУстройства", "GetDataKKT", "PrintTextDocument",
        "ProcessCorrectionCheck", "ProcessCheck", "OperationFN", "OpenShift", "CloseShift", "CashInOutcome",
        "PrintXReport", "ReportCurrentStatusOfSettlements", "GetCurrentStatus", "OpenCashDrawer", "GetLineLength",
    };
    const int params[] = {0, 0, 7, 1, 1, 2, 1, 1, 1, 1, 2, 2, 2, 6, 7, 3, 5, 5, 3, 2, 3, 5, 1, 2};
    const auto d = Make("1cv8.exe");
    ASSERT_EQ(d->MethsCount(), static_cast<int>(std::size(names)));
    for (int i = 0; i < d->MethsCount(); ++i) {
        SCOPED_TRACE(names[i]);
        EXPECT_EQ(d->GetMethod(i).Name, names[i]);
        EXPECT_EQ(d->GetMethod(i).ParamsCount, params[i]);
    }
}

TEST_F(RegistryTest, SevenSevenHostGetsThreeMoreMethodsAtPositionsThreeToFive) {
    const auto d8 = Make("1cv8.exe");
    const auto d7 = Make("1CV7.EXE");
    EXPECT_EQ(d7->MethsCount(), d8->MethsCount() + 3);
    EXPECT_EQ(d7->GetMethodNum("ReadSettings"), 2);
    EXPECT_EQ(d7->GetMethodNum("СчитатьНастройки"), 2);
    EXPECT_EQ(d7->GetMethodNum("SaveSettings"), 3);
    EXPECT_EQ(d7->GetMethodNum("УстановитьИдентификаторУстройства"), 4);
    EXPECT_EQ(d7->GetMethod(4).ParamsCount, 1);
    EXPECT_EQ(d8->GetMethodNum("SetDeviceID"), -1);
    EXPECT_EQ(d8->GetMethodNum("ReadSettings"), -1);
    const char* const later[] = {"GetDescription", "ПолучитьОшибку", "GetLineLength", "ProcessCheck"};
    for (const char* name : later) {
        SCOPED_TRACE(name);
        EXPECT_EQ(d7->GetMethodNum(name), d8->GetMethodNum(name) + 3);
    }
    EXPECT_EQ(d7->GetMethodNum("GetVersion"), d8->GetMethodNum("GetVersion"));
}

TEST_F(RegistryTest, LookupIgnoresLanguageAndLetterCase) {
    const auto d = Make("1cv8.exe");
    struct Case {
        std::u16string Name;
        const char* Same;
    };
    const Case cases[] = {
        {u"GetVersion", "GetVersion"},
        {u"getversion", "GetVersion"},
        {u"GETVERSION", "GetVersion"},
        {u"ПолучитьНомерВерсии", "GetVersion"},
        {u"ПОЛУЧИТЬНОМЕРВЕРСИИ", "GetVersion"},
        {u"получитьномерверсии", "GetVersion"},
        {u"getdescription", "ПолучитьОписание"},
        {u"ПОЛУЧИТЬОПИСАНИЕ", "ПолучитьОписание"},
        {u"открытьсмену", "OpenShift"},
        {u"OPENSHIFT", "OpenShift"},
        {u"ПолучитьШиринуСтроки", "GetLineLength"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Same);
        const int num = d->GetMethodNum(std::u16string_view(c.Name));
        ASSERT_GE(num, 0);
        EXPECT_EQ(d->GetMethod(num).Name, c.Same);
    }
    for (const char16_t* unknown : {u"", u"GetVersio", u"GetVersion ", u"Неизвестный", u"Ready"}) {
        EXPECT_EQ(d->GetMethodNum(std::u16string_view(unknown)), -1);
        EXPECT_EQ(d->FindMethod(unknown), nullptr);
    }
}

TEST_F(RegistryTest, PropertiesAreTheSettingsFoundByIdOrAlias) {
    const auto d = Make("1cv8.exe");
    EXPECT_EQ(d->PropsCount(), 2);
    EXPECT_EQ(d->GetPropNum("debuglogenabled"), 0);
    EXPECT_EQ(d->GetPropNum("CUTSTRING"), 1);
    EXPECT_EQ(d->GetPropNum("PortNumber"), -1);
}

TEST_F(RegistryTest, FreshDriverState) {
    const auto d = Make("1cv8.exe");
    EXPECT_EQ(d->DeviceID(), "default");
    EXPECT_EQ(d->LastResultCode(), 0);
    EXPECT_EQ(d->LastResultDescription(), "Нет ошибок");
    EXPECT_FALSE(d->Enabled());
    EXPECT_FALSE(d->AutoKeepFocus());
    EXPECT_FALSE(d->CapSettingsDlg());
    EXPECT_EQ(d->DriverInfo().EquipmentType, "ККТ");
    EXPECT_EQ(d->LineLen(), 40);
}

TEST_F(RegistryTest, SevenSevenOnlyMethodsLeaveTheReturnValueAsPassed) {
    test::TTempAppData data;
    const auto d = Make("1cv7.exe");
    for (const char* name : {"ReadSettings", "SaveSettings", "SetDeviceID"}) {
        SCOPED_TRACE(name);
        TParams p{TVariant("kassa1")};
        EXPECT_EQ(CallMethod(*d, name, p, TVariant(42)), TVariant(42));
    }
    EXPECT_EQ(d->DeviceID(), "kassa1");
}

TEST_F(RegistryTest, SetDeviceIDWithoutItsParameterChangesNothing) {
    const auto d = Make("1cv7.exe");
    TParams none;
    EXPECT_EQ(CallMethod(*d, "SetDeviceID", none, TVariant(7)), TVariant(7));
    EXPECT_EQ(d->DeviceID(), "default");
}

TEST_F(RegistryTest, VersionAndSettingsDialog) {
    const auto d = Make("1cv8.exe");
    TParams none;
    const TVariant version = CallMethod(*d, "GetVersion", none);
    EXPECT_EQ(version.VarType(), varUString);
    EXPECT_TRUE(std::regex_match(version.AsString(), std::regex(R"(\d+\.\d+\.\d+\.\d+)"))) << version.AsString();
    EXPECT_EQ(version.AsString(), GetModuleVersionText());
    EXPECT_EQ(CallMethod(*d, "ОтобразитьФормуНастроек", none), TVariant(false));
}

TEST_F(RegistryTest, FocusStackIsBalancedAndRestoreOnEmptyDoesNothing) {
    const auto d = Make("1cv8.exe");
    d->RestoreFocus();
    EXPECT_EQ(d->FocusStackDepth(), 0u);
    d->StoreFocus();
    d->StoreFocus();
    d->RestoreFocus();
    EXPECT_EQ(d->FocusStackDepth(), 1u);
}

TEST_F(RegistryTest, EnabledPropertyFollowsEnableAndDisable) {
    const auto d = Make("1cv8.exe");
    d->EnableResult = 0;
    d->SetEnabled(true);
    EXPECT_TRUE(d->Enabled());
    d->SetEnabled(false);
    EXPECT_FALSE(d->Enabled());
    EXPECT_EQ(d->DisableCalls, 1);
    d->EnableResult = errNoResponse;
    d->SetEnabled(true);
    EXPECT_FALSE(d->Enabled());
}

TEST_F(RegistryTest, ClearErrorResetsCodeAndDescription) {
    const auto d = Make("1cv8.exe");
    d->SetResult(1007, "текст");
    d->ClearError();
    EXPECT_EQ(d->LastResultCode(), 0);
    EXPECT_EQ(d->StoredDescription(), "");
}

TEST_F(RegistryTest, DebugLogSwitchSetsTheLogLevel) {
    test::TTempAppData data;
    const auto d = Make("1cv8.exe");
    d->SetDebugLogEnabled(true);
    EXPECT_EQ(d->Log().LogLevel(), 3);
    d->SetDebugLogEnabled(false);
    EXPECT_EQ(d->Log().LogLevel(), 0);
}

TEST_F(RegistryTest, DriverClassesAreCreatedByName) {
    SetHostExeNameForTests("1cv8.exe");
    RegisterDriverClass<TTestDriver>("TTestDriver");
    const auto d = CreateDriverByName("TTestDriver");
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->MethsCount(), 24) << "construction completed";
    EXPECT_EQ(CreateDriverByName("TNoSuchDriver"), nullptr);
}

}  // namespace
}  // namespace fr
