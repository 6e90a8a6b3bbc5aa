#include <gtest/gtest.h>

#include "framework/Log.h"
#include "framework/TestDriver.h"
#include "platform/System.h"
#include "platform/TempDir.h"
#include "platform/Xml.h"

namespace fr {
namespace {

using test::CallMethod;
using test::TTestDriver;

class CommonMethodsTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetHostExeNameForTests("1cv8.exe");
        D = TBaseDriver::Create<TTestDriver>();
    }
    void TearDown() override {
        TLog::SetLogLevel(0);
        SetHostExeNameForTests("");
    }
    // GetLastError as the host calls it: the code and the text.
    std::pair<TVariant, TVariant> LastError() {
        TParams p(1);
        TVariant code = CallMethod(*D, "GetLastError", p);
        return {code, p[0]};
    }

    test::TTempAppData Data;
    std::unique_ptr<TTestDriver> D;
};

TEST_F(CommonMethodsTest, GetDescriptionFillsAllSevenParameters) {
    TParams p(7);
    EXPECT_EQ(CallMethod(*D, "GetDescription", p), TVariant(true));
    EXPECT_EQ(p[0], TVariant("Орвента: ККТ ТАРВИК VADODO"));
    EXPECT_EQ(p[1], TVariant("Драйвер ККТ ТАРВИК VADODO \"1С:Совместимо\""));
    EXPECT_EQ(p[2], TVariant("ККТ"));
    EXPECT_EQ(p[3], TVariant(2005));
    EXPECT_EQ(p[4], TVariant(false));
    EXPECT_EQ(p[5], TVariant(true));
    EXPECT_EQ(p[6].VarType(), varUString);
    EXPECT_FALSE(p[6].AsString().empty());
}

TEST_F(CommonMethodsTest, GetLastErrorReportsWithoutChangingAnything) {
    TParams p(1);
    CallMethod(*D, "Close", p);
    EXPECT_EQ(LastError(), std::make_pair(TVariant(0), TVariant("Нет ошибок")));
    CallMethod(*D, "DoAdditionalAction", p);
    EXPECT_EQ(LastError(), std::make_pair(TVariant(1003), TVariant("Команда не поддерживается устройством")));
    EXPECT_EQ(LastError().first, TVariant(1003)) << "asking twice gives the same";
    D->SetResult(1007, "Своё описание");
    EXPECT_EQ(LastError(), std::make_pair(TVariant(1007), TVariant("Своё описание")));
    D->SetResult(0, "Описание при успехе");
    EXPECT_EQ(LastError().second, TVariant("Описание при успехе"));
    TParams none;
    EXPECT_EQ(CallMethod(*D, "GetLastError", none), TVariant(0));
}

TEST_F(CommonMethodsTest, DescriptionComesFromTheTableInsideTheStandardRanges) {
    D->OwnResultText = true;
    const std::pair<int, bool> cases[] = {
        {-1, false},    {0, true},       {1000, true},    {1001, false},   {1002, true},    {1999, true},
        {2000, false},  {2001, true},    {2500, true},    {2501, false},   {3000, false},   {3001, true},
        {3500, true},   {3501, false},   {4000, false},   {4001, true},    {4500, true},    {4501, false},
        {6001, false},  {7000, false},   {7001, true},    {7500, true},    {7501, false},   {8000, false},
        {8001, true},   {8500, true},    {8501, false},   {11000, false},  {11001, true},   {11500, true},
        {11501, false}, {99000, false},  {99001, true},   {99500, true},   {99501, false},
    };
    for (const auto& [code, standard] : cases) {
        SCOPED_TRACE(code);
        D->SetResult(code);
        EXPECT_EQ(IsStandardResultCode(code), standard);
        EXPECT_EQ(D->DescribeLastResult(),
                  standard ? GetErrorDescription(code) : "own " + std::to_string(code));
    }
}

TEST_F(CommonMethodsTest, CodesOutsideTheRangesStillGetTheEquipmentTextFromTheBase) {
    D->SetResult(1001);
    EXPECT_EQ(D->DescribeLastResult(), "Неизвестная ошибка");
    D->SetResult(6001);
    EXPECT_EQ(D->DescribeLastResult(), "Запрошенные данные отсутствуют");
    D->SetResult(-5);
    EXPECT_EQ(D->DescribeLastResult(), "Неизвестная ошибка");
}

TEST_F(CommonMethodsTest, SetParameterIgnoresUnknownNamesAndRefusesWrongKinds) {
    D->SetResult(1007, "old");
    TParams p{TVariant("NoSuchSetting"), TVariant(1)};
    EXPECT_EQ(CallMethod(*D, "SetParameter", p), TVariant(true));
    EXPECT_EQ(D->LastResultCode(), 0);
    EXPECT_EQ(D->StoredDescription(), "");
    TParams wrongKind{TVariant("CutString"), TVariant(5)};
    EXPECT_EQ(CallMethod(*D, "УстановитьПараметр", wrongKind), TVariant(false));
    EXPECT_EQ(D->GetSettingValue("CutString"), TVariant(""));
    EXPECT_EQ(D->LastResultCode(), 1004);
}

TEST_F(CommonMethodsTest, SetParameterDebugLogEnabledSwitchesTheLog) {
    TParams on{TVariant("debuglogenabled"), TVariant(true)};
    CallMethod(*D, "SetParameter", on);
    EXPECT_EQ(D->Log().LogLevel(), 3);
    TParams off{TVariant("DEBUGLOGENABLED"), TVariant(false)};
    CallMethod(*D, "SetParameter", off);
    EXPECT_EQ(D->Log().LogLevel(), 0);
    TParams wrongKind{TVariant("DebugLogEnabled"), TVariant(1)};
    CallMethod(*D, "SetParameter", wrongKind);
    EXPECT_EQ(D->Log().LogLevel(), 0);
}

TEST_F(CommonMethodsTest, OpenWritesZeroEvenWhenTheConnectionFails) {
    D->EnableResult = errNoResponse;
    TParams p{TVariant("id")};
    EXPECT_EQ(CallMethod(*D, "Open", p), TVariant(false));
    EXPECT_EQ(p[0], TVariant("0"));
    EXPECT_FALSE(D->Enabled());
    EXPECT_EQ(LastError(), std::make_pair(TVariant(1007), TVariant("Устройство не отвечает")));
    D->EnableResult = 0;
    EXPECT_EQ(CallMethod(*D, "Подключить", p), TVariant(true));
    EXPECT_TRUE(D->Enabled());
    EXPECT_EQ(CallMethod(*D, "Close", p), TVariant(true));
    EXPECT_FALSE(D->Enabled());
    EXPECT_EQ(D->DisableCalls, 1);
}

TEST_F(CommonMethodsTest, DeviceTestReportsTheConnectionError) {
    D->EnableResult = errNoResponse;
    TParams p{TVariant(), TVariant("x")};
    EXPECT_EQ(CallMethod(*D, "DeviceTest", p), TVariant(false));
    EXPECT_EQ(p[0], TVariant("Устройство не отвечает"));
    EXPECT_EQ(p[1], TVariant(""));
    EXPECT_EQ(D->DisableCalls, 0);
    EXPECT_EQ(D->LastResultCode(), errNoResponse);
}

TEST_F(CommonMethodsTest, DeviceTestAfterAConnectionTestsAndDisconnects) {
    D->EnableResult = 0;
    TParams p(2);
    EXPECT_EQ(CallMethod(*D, "ТестУстройства", p), TVariant(true));
    EXPECT_EQ(p[0], TVariant("Нет ошибок"));
    EXPECT_EQ(p[1], TVariant(""));
    EXPECT_EQ(D->DisableCalls, 1);
    EXPECT_FALSE(D->Enabled()) << "DeviceTest leaves the Enabled flag alone";
    D->DeviceTestResult = 3001;
    EXPECT_EQ(CallMethod(*D, "DeviceTest", p), TVariant(false));
    EXPECT_EQ(p[0], TVariant("проверено"));
    EXPECT_EQ(D->DisableCalls, 2);
}

TEST_F(CommonMethodsTest, AdditionalActionsOnTheBaseClass) {
    TParams p{TVariant("x")};
    EXPECT_EQ(CallMethod(*D, "GetAdditionalActions", p), TVariant(true));
    EXPECT_EQ(p[0], TVariant(""));
    EXPECT_EQ(CallMethod(*D, "DoAdditionalAction", p), TVariant(false));
    EXPECT_EQ(D->LastResultCode(), errNotSupported);
}

TEST_F(CommonMethodsTest, MissingParametersAnswer1004AndNeverReadPastTheArray) {
    const char* const methods[] = {"GetDescription", "GetParameters", "SetParameter", "Open",
                                   "GetAdditionalActions", "DoAdditionalAction", "DeviceTest", "GetLineLength",
                                   "ProcessCheck", "OpenShift"};
    for (const char* m : methods) {
        SCOPED_TRACE(m);
        D->SetResult(0);
        TParams p;
        EXPECT_EQ(CallMethod(*D, m, p), TVariant(false));
        EXPECT_EQ(D->LastResultCode(), errInvalidParameter);
        EXPECT_TRUE(p.empty());
    }
    TParams one(1);
    EXPECT_EQ(CallMethod(*D, "SetParameter", one), TVariant(false));
}

TEST_F(CommonMethodsTest, ParameterTableWithoutTheResourceIsBuiltFromTheSettings) {
    D->EmbeddedTable = false;
    TParams p(1);
    EXPECT_EQ(CallMethod(*D, "GetParameters", p), TVariant(true));
    EXPECT_EQ(p[0].AsString(),
              "<?xml version=\"1.0\"?>\r\n"
              "<Settings>\r\n"
              "\t<Page Caption=\"Параметры\">\r\n"
              "\t\t<Parameter Name=\"DebugLogEnabled\" Caption=\"Отладочный лог\" TypeValue=\"Boolean\" "
              "DefaultValue=\"False\" />\r\n"
              "\t\t<Parameter Name=\"CutString\" Caption=\"Маркер отреза бумаги\" TypeValue=\"String\" "
              "DefaultValue=\"\" />\r\n"
              "\t</Page>\r\n"
              "</Settings>\r\n");
}

}  // namespace
}  // namespace fr
