// The component driven as the platform drives it: only the exported functions and the vtables,
// a counting memory manager and a recording connection object.
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>

#include <fmt/format.h>

#include <gtest/gtest.h>

#include "native/AddInHost.h"
#include "platform/TempDir.h"

namespace fr::test {
namespace {

class NativeComponentTest : public TComponentFixture {
protected:
    long Method(const std::u16string& AName) { return FLang->FindMethod(AName.c_str()); }

    // Frees the strings the library put into the slots (those that are not the test's own).
    void TakeSlot(tVariant& AValue) {
        if (AValue.vt == VTYPE_PWSTR && FMemory.Owns(AValue.wstr.pwstrVal)) {
            void* p = AValue.wstr.pwstrVal;
            FMemory.FreeMemory(&p);
        }
        AValue = EmptyVariant();
    }
    std::u16string Text(const tVariant& AValue) {
        EXPECT_EQ(AValue.vt, VTYPE_PWSTR);
        if (AValue.vt != VTYPE_PWSTR) return {};
        EXPECT_TRUE(FMemory.Owns(AValue.wstr.pwstrVal));
        return std::u16string(AValue.wstr.pwstrVal, AValue.wstr.wstrLen);
    }
    // "GetLastError": the code, and the description in its out-parameter.
    std::pair<std::int32_t, std::u16string> LastError() {
        tVariant ret = EmptyVariant();
        tVariant param = EmptyVariant();
        EXPECT_TRUE(FLang->CallAsFunc(Method(u"GetLastError"), &ret, &param, 1));
        std::pair<std::int32_t, std::u16string> r{ret.lVal, Text(param)};
        TakeSlot(param);
        return r;
    }

    TTempAppData FAppData;
};

TEST_F(NativeComponentTest, FindsMethodsByEitherNameInAnyCaseAndNamesThemFromTheMemoryManager) {
    const long n = Method(u"GetDescription");
    ASSERT_GE(n, 0);
    EXPECT_EQ(Method(u"ПолучитьОписание"), n);
    EXPECT_EQ(Method(u"getdescription"), n);
    EXPECT_EQ(Method(u"получитьОПИСАНИЕ"), n);
    EXPECT_EQ(Method(u"NoSuchMethod"), -1);
    EXPECT_EQ(FLang->FindMethod(nullptr), -1);
    // English for language 0, Russian for 1.
    EXPECT_EQ(FMemory.Take(FLang->GetMethodName(n, 0)), u"GetDescription");
    EXPECT_EQ(FMemory.Take(FLang->GetMethodName(n, 1)), u"ПолучитьОписание");
    EXPECT_EQ(FLang->GetMethodName(FLang->GetNMethods(), 0), nullptr);
    EXPECT_EQ(FLang->GetMethodName(-1, 0), nullptr);
    EXPECT_EQ(FLang->GetNParams(n), 7);
    EXPECT_TRUE(FLang->HasRetVal(n));

    tVariant def = IntVariant(5);
    EXPECT_TRUE(FLang->GetParamDefValue(n, 0, &def));
    EXPECT_EQ(def.vt, VTYPE_EMPTY);
}

TEST_F(NativeComponentTest, PropertiesAreTheSettingsUnderBothNames) {
    const long count = FLang->GetNProps();
    ASSERT_GT(count, 0);
    for (long i = 0; i < count; ++i) {
        SCOPED_TRACE(i);
        const std::u16string id = FMemory.Take(FLang->GetPropName(i, 0));
        const std::u16string alias = FMemory.Take(FLang->GetPropName(i, 1));
        EXPECT_EQ(FLang->FindProp(id.c_str()), i);
        if (!alias.empty()) {
            EXPECT_EQ(FLang->FindProp(alias.c_str()), i);
        }
        EXPECT_TRUE(FLang->IsPropReadable(i));
        EXPECT_TRUE(FLang->IsPropWritable(i));
    }
    EXPECT_EQ(FLang->GetPropName(count, 0), nullptr);
    EXPECT_EQ(FLang->FindProp(u"NoSuchSetting"), -1);

    const long port = FLang->FindProp(u"PortNumber");
    ASSERT_GE(port, 0);
    tVariant v = IntVariant(9999);
    EXPECT_TRUE(FLang->SetPropVal(port, &v));
    tVariant back = EmptyVariant();
    ASSERT_TRUE(FLang->GetPropVal(port, &back));
    EXPECT_EQ(back.vt, VTYPE_I4);
    EXPECT_EQ(back.lVal, 9999);
    EXPECT_FALSE(FLang->GetPropVal(count, &back));
    EXPECT_EQ(back.vt, VTYPE_EMPTY);
}

TEST_F(NativeComponentTest, OutParametersComeBackByPositionAndLeaveThePlatformsStringsAlone) {
    const std::u16string mine = u"the platform's own text";
    tVariant params[7];
    for (auto& p : params) p = EmptyVariant();
    params[0] = StringVariant(mine);
    params[3] = DoubleVariant(1.5);
    tVariant ret = EmptyVariant();
    ASSERT_TRUE(FLang->CallAsFunc(Method(u"GetDescription"), &ret, params, 7));
    EXPECT_EQ(ret.vt, VTYPE_BOOL);
    EXPECT_TRUE(ret.bVal);

    EXPECT_EQ(mine, u"the platform's own text");
    EXPECT_NE(params[0].wstr.pwstrVal, mine.c_str());
    EXPECT_FALSE(Text(params[0]).empty());    // Name
    EXPECT_FALSE(Text(params[1]).empty());    // Description
    EXPECT_EQ(Text(params[2]), u"ККТ");       // EquipmentType
    EXPECT_EQ(params[3].vt, VTYPE_I4);        // InterfaceRevision
    EXPECT_EQ(params[4].vt, VTYPE_BOOL);      // IntegrationLibrary
    EXPECT_EQ(params[5].vt, VTYPE_BOOL);      // MainDriverInstalled
    EXPECT_EQ(params[6].vt, VTYPE_PWSTR);     // DownloadURL
    for (auto& p : params) TakeSlot(p);
    EXPECT_TRUE(FConnection.FErrors.empty());
}

TEST_F(NativeComponentTest, FewerParametersThanTheMethodExpectsIsARefusalNotACrash) {
    tVariant params[2] = {EmptyVariant(), EmptyVariant()};
    tVariant ret = EmptyVariant();
    ASSERT_TRUE(FLang->CallAsFunc(Method(u"GetDescription"), &ret, params, 2));
    EXPECT_EQ(ret.vt, VTYPE_BOOL);
    EXPECT_FALSE(ret.bVal);
    EXPECT_EQ(params[0].vt, VTYPE_EMPTY);
    EXPECT_EQ(params[1].vt, VTYPE_EMPTY);
    EXPECT_EQ(LastError().first, 1004);

    // No array at all, and a procedure call of the same.
    EXPECT_TRUE(FLang->CallAsFunc(Method(u"GetDescription"), &ret, nullptr, 0));
    EXPECT_TRUE(FLang->CallAsProc(Method(u"GetDescription"), nullptr, 0));
    EXPECT_FALSE(FLang->CallAsFunc(Method(u"GetDescription"), &ret, nullptr, 3));
    EXPECT_FALSE(FLang->CallAsFunc(Method(u"GetDescription"), &ret, params, -1));
}

TEST_F(NativeComponentTest, OutOfRangeMethodIsAFailureWithoutAnError) {
    tVariant ret = EmptyVariant();
    EXPECT_FALSE(FLang->CallAsFunc(FLang->GetNMethods(), &ret, nullptr, 0));
    EXPECT_FALSE(FLang->CallAsFunc(-1, &ret, nullptr, 0));
    EXPECT_FALSE(FLang->CallAsFunc(1L << 40, &ret, nullptr, 0));
    EXPECT_FALSE(FLang->CallAsProc(FLang->GetNMethods(), nullptr, 0));
    EXPECT_TRUE(FConnection.FErrors.empty());
}

// A value the binding cannot take is answered as the add-in object answers an exception: a
// failed call and an AddError of the message-box kind with the method's name.
TEST_F(NativeComponentTest, ValuesWithoutHostFormAreRefusedWithAnError) {
    tVariant params[7];
    for (auto& p : params) p = EmptyVariant();
    params[2].vt = VTYPE_INTERFACE;
    tVariant ret = EmptyVariant();
    EXPECT_FALSE(FLang->CallAsFunc(Method(u"GetDescription"), &ret, params, 7));
    ASSERT_EQ(FConnection.FErrors.size(), 1u);
    EXPECT_EQ(FConnection.FErrors[0].Code, ADDIN_E_MSGBOX_FAIL);
    EXPECT_EQ(FConnection.FErrors[0].Source, u"EXCEPTION");
    EXPECT_EQ(FConnection.FErrors[0].Description.rfind(u"Method: ПолучитьОписание\r\nMessage: ", 0), 0u);
    EXPECT_EQ(params[0].vt, VTYPE_EMPTY);
}

// A link planted at the log's name in the shared folder: the call keeps its result, the link is
// not written through, and the platform hears of it once, as a notice rather than a message box.
TEST_F(NativeComponentTest, UnwritableLogIsOneNoticeToThePlatformAndChangesNoCall) {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    ::localtime_r(&now, &tm);
    const std::string dir = FAppData.Path() + "fr_tarvikonline1c83/";
    std::filesystem::create_directories(dir);
    WriteFile(FAppData.Path() + "victim", "keep");
    const std::string name = dir + fmt::format("fr_tarvikonline1c83_{:04}.{:02}.{:02}.log", tm.tm_year + 1900,
                                               tm.tm_mon + 1, tm.tm_mday);
    std::filesystem::create_symlink(FAppData.Path() + "victim", name);
    tVariant on = EmptyVariant();
    on.vt = VTYPE_BOOL;
    on.bVal = true;
    ASSERT_TRUE(FLang->SetPropVal(FLang->FindProp(u"DebugLogEnabled"), &on));
    for (int i = 0; i < 2; ++i) {
        tVariant params[7];
        for (auto& p : params) p = EmptyVariant();
        tVariant ret = EmptyVariant();
        ::testing::internal::CaptureStderr();
        EXPECT_TRUE(FLang->CallAsFunc(Method(u"GetDescription"), &ret, params, 7));
        ::testing::internal::GetCapturedStderr();
        EXPECT_TRUE(ret.bVal);
        for (auto& p : params) TakeSlot(p);
    }
    ASSERT_EQ(FConnection.FErrors.size(), 1u);
    EXPECT_EQ(FConnection.FErrors[0].Code, ADDIN_E_ATTENTION);
    EXPECT_EQ(FConnection.FErrors[0].Source, u"fr_tarvikonline1c83");
    EXPECT_EQ(FConnection.FErrors[0].Description.rfind(u"Журнал драйвера не записывается", 0), 0u);
    EXPECT_EQ(FConnection.FErrors[0].SCode, 0);
    EXPECT_EQ(ReadFile(FAppData.Path() + "victim"), "keep");
}

TEST_F(NativeComponentTest, MemoryManagerRefusingLeavesNamesAbsentAndCallsFailed) {
    const long n = Method(u"GetDescription");
    FMemory.FRefuse = true;
    char16_t* name = nullptr;
    EXPECT_FALSE(FLang->RegisterExtensionAs(&name));
    EXPECT_EQ(FLang->GetMethodName(n, 0), nullptr);
    tVariant params[7];
    for (auto& p : params) p = EmptyVariant();
    tVariant ret = EmptyVariant();
    EXPECT_FALSE(FLang->CallAsFunc(n, &ret, params, 7));
    // The text slots stay empty; the numbers and flags needed no memory.
    for (int i : {0, 1, 2, 6}) EXPECT_EQ(params[i].vt, VTYPE_EMPTY) << i;
    FMemory.FRefuse = false;
}


// The platform asks for names by language (0 English, 1 Russian) whichever of the two the
// registry keeps as the entry's name; one without a Russian name answers its English one.
TEST_F(NativeComponentTest, NamesAnswerTheLanguageAskedFor) {
    struct TRow {
        bool Method;
        const char16_t* Find;
        const char16_t* English;
        const char16_t* Russian;
    };
    const TRow rows[] = {
        {true, u"GetDescription", u"GetDescription", u"ПолучитьОписание"},  // registered Russian first
        {true, u"OperationFN", u"OperationFN", u"ОперацияФН"},              // registered English first
        {false, u"PortNumber", u"PortNumber", u"Порт"},
        {false, u"IPAddress", u"IPAddress", u"IPAddress"},  // no Russian name
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(&row - rows);
        const long n = row.Method ? FLang->FindMethod(row.Find) : FLang->FindProp(row.Find);
        ASSERT_GE(n, 0);
        const auto name = [&](long ALanguage) {
            return FMemory.Take(row.Method ? FLang->GetMethodName(n, ALanguage) : FLang->GetPropName(n, ALanguage));
        };
        EXPECT_EQ(name(0), row.English);
        EXPECT_EQ(name(1), row.Russian);
    }
}

TEST_F(NativeComponentTest, PlatformRefusingTheEventBufferDepthDoesNotFailInit) {
    IComponentBase* object = nullptr;
    ASSERT_NE(TAddInLibrary::Instance().GetClassObject(u"fr_tarvikonline1c83", &object), 0);
    auto* initDone = At<IInitDoneBase>(object, kInitDoneOffset);
    auto* lang = At<ILanguageExtenderBase>(object, kLanguageExtenderOffset);
    TFakeConnection refusing;
    refusing.FRefuseDepth = true;
    ASSERT_TRUE(initDone->setMemManager(&FMemory));
    EXPECT_TRUE(initDone->Init(&refusing));
    EXPECT_GE(lang->FindMethod(u"GetDescription"), 0) << "the object works";
    initDone->Done();
    EXPECT_EQ(TAddInLibrary::Instance().DestroyObject(&object), 0);
}

}  // namespace
}  // namespace fr::test
