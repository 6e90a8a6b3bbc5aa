// The add-in object: life cycle, properties and methods as the host sees them, the call
// wrapper's log lines, exceptions and the 7.7 conversion.
#include <gtest/gtest.h>

#include <ctime>
#include <sstream>

#include <fmt/format.h>

#include "addin/AddInObject.h"
#include "driver/Driver.h"
#include "framework/BaseDriverECR.h"
#include "framework/DriverClasses.h"
#include "framework/ErrorCodes.h"
#include "framework/Log.h"
#include "platform/Encoding.h"
#include "platform/System.h"
#include "platform/TempDir.h"

namespace fr::test {
namespace {

constexpr const char* kTestClass = "TAddInTestDriver";

// A fiscal-register driver with a few methods that misbehave on purpose.
class TAddInTestDriver : public TBaseDriverECR {
public:
    static inline int Destroyed = 0;
    explicit TAddInTestDriver(TCreateKey AKey) : TBaseDriverECR(AKey) {}
    ~TAddInTestDriver() override { ++Destroyed; }

protected:
    void InitMethods() override {
        TBaseDriverECR::InitMethods();
        AddMethod("Boom", "Взрыв", 0, [](TVariant&, TParams&) -> int { throw EConvertError("broken value"); });
        AddMethod("StdBoom", 0, [](TVariant&, TParams&) -> int { throw std::logic_error("not ours"); });
        AddMethod("RaiseEvent", 0, [this](TVariant& r, TParams&) {
            ExecExternalEvent()("Драйвер", "Событие", "данные");
            r = TVariant(true);
            return 0;
        });
        AddMethod("Fails", 0, [this](TVariant& r, TParams&) {
            FLastResultCode = 1007;
            FLastResultDescription = "нет связи";
            r = TVariant(false);
            return 0;
        });
    }
};

class TFakeEvents : public IAsyncEvent {
public:
    HRESULT DepthResult = S_OK;
    HRESULT EventResult = S_OK;
    std::vector<std::int32_t> Depths;
    std::vector<std::u16string> Events;
    HRESULT SetEventBufferDepth(std::int32_t ADepth) override {
        Depths.push_back(ADepth);
        return DepthResult;
    }
    HRESULT ExternalEvent(const std::u16string& ASource, const std::u16string& AMessage,
                          const std::u16string& AData) override {
        Events.push_back(ASource + u"|" + AMessage + u"|" + AData);
        return EventResult;
    }
};

class TFakeErrors : public IHostErrorSink {
public:
    std::vector<std::u16string> Shown;
    void ShowError(const std::u16string& ACaption, const std::u16string& AText) override {
        Shown.push_back(ACaption + u"|" + AText);
    }
};

class TFakeConnection : public IHostConnection {
public:
    TFakeEvents Events;
    TFakeErrors Errors;
    IExtWndsSupport Windows;
    bool OfferEvents = true;
    IAsyncEvent* QueryAsyncEvent() override { return OfferEvents ? &Events : nullptr; }
    IExtWndsSupport* QueryExtWndsSupport() override { return &Windows; }
    IHostErrorSink* QueryErrorSink() override { return &Errors; }
};

const std::chrono::system_clock::time_point kNow =
    std::chrono::system_clock::from_time_t(1709647629) + std::chrono::milliseconds(123);

std::string Stamp() {
    const std::time_t t = std::chrono::system_clock::to_time_t(kNow);
    std::tm tm{};
    ::localtime_r(&t, &tm);
    return fmt::format("{:04}.{:02}.{:02} {:02}:{:02}:{:02}.123", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                       tm.tm_hour, tm.tm_min, tm.tm_sec);
}

// An add-in object on a fresh data folder, with the log on at level 3 and a fixed clock.
class AddInObject : public ::testing::Test {
protected:
    static void SetUpTestSuite() { RegisterDriverClass<TAddInTestDriver>(kTestClass); }

    void SetUp() override {
        TLog::SetClock([] { return kNow; });
        TLog::SetLogLevel(3);
    }
    void TearDown() override {
        if (Object) Object->Done();
        TLog::SetLogLevel(0);
        TLog::SetClock({});
        SetHostExeNameForTests("");
    }

    TAddInObject& Make(const std::string& AClass = kDriverClassName, IHostConnection* AConnection = nullptr) {
        Object = std::make_unique<TAddInObject>(AClass);
        EXPECT_EQ(Object->Init(AConnection), S_OK);
        return *Object;
    }

    std::int32_t Find(std::u16string_view AName) {
        std::int32_t n = -2;
        EXPECT_EQ(Object->FindMethod(AName, n), S_OK);
        return n;
    }

    // The log's lines after the start banner.
    std::vector<std::string> LogLines() const {
        const std::string text = ReadFile(TLog::GetAbsolutePath(false));
        std::vector<std::string> lines;
        std::size_t pos = 0;
        while (pos < text.size()) {
            const std::size_t end = text.find("\r\n", pos);
            const std::string line = text.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
            if (line.rfind(Stamp(), 0) == 0) lines.push_back(line);
            if (end == std::string::npos) break;
            pos = end + 2;
        }
        return lines;
    }

    TTempAppData Data;
    std::unique_ptr<TAddInObject> Object;
};

// ---- module ----

TEST_F(AddInObject, LoadingTheModuleNamesTheLogAndRegistersTheDriverClass) {
    EXPECT_EQ(TLog::LogFileName(), "fr_tarvikonline1c83");
    EXPECT_NE(dynamic_cast<TDriver*>(CreateDriverByName("TDriver").get()), nullptr);
    Make();
    EXPECT_NE(dynamic_cast<TDriver*>(Object->Driver()), nullptr);
}

// ---- life cycle ----

TEST_F(AddInObject, InitNumbersObjectsAndDoneFreesEachDriver) {
    TAddInTestDriver::Destroyed = 0;
    const std::int32_t first = TAddInObject::ObjectCounter();
    // Past 256 objects the driver's 8-bit number wraps; every driver must still be freed.
    for (int i = 0; i < 300; ++i) {
        TAddInObject object(kTestClass);
        ASSERT_EQ(object.Init(nullptr), S_OK);
        EXPECT_EQ(object.ObjectNumber(), first + i);
        EXPECT_EQ(object.Driver()->DriverObjNumber(), static_cast<std::uint8_t>((first + i) & 0xFF));
        EXPECT_EQ(object.Done(), S_OK);
        EXPECT_EQ(object.Driver(), nullptr);
    }
    EXPECT_EQ(TAddInTestDriver::Destroyed, 300);
    EXPECT_EQ(TAddInObject::ObjectCounter(), first + 300);
}

TEST_F(AddInObject, InitAsksTheEventServiceForAHundredEventsAndStartsWhenRefused) {
    TFakeConnection host;
    Make(kTestClass, &host);
    EXPECT_EQ(host.Events.Depths, std::vector<std::int32_t>{100});

    // The driver raises no events of its own: a refusal must not keep the object from starting.
    TFakeConnection refusing;
    refusing.Events.DepthResult = E_FAIL;
    TAddInObject other(kTestClass);
    EXPECT_EQ(other.Init(&refusing), S_OK);
    EXPECT_NE(other.Driver(), nullptr);
    EXPECT_EQ(other.Done(), S_OK);
}

TEST_F(AddInObject, ExternalEventsReachTheHostOnlyWhenItOffersTheService) {
    TFakeConnection host;
    Make(kTestClass, &host);
    TVariant ret;
    TParams none;
    EXPECT_EQ(Object->CallAsFunc(Find(u"RaiseEvent"), ret, none), S_OK);
    EXPECT_EQ(host.Events.Events, std::vector<std::u16string>{u"Драйвер|Событие|данные"});

    // A failing service is raised inside the call and answered like any exception.
    host.Events.EventResult = E_FAIL;
    EXPECT_EQ(Object->CallAsFunc(Find(u"RaiseEvent"), ret, none), S_FALSE);

    TFakeConnection silent;
    silent.OfferEvents = false;
    TAddInObject other(kTestClass);
    other.Init(&silent);
    EXPECT_NO_THROW(other.ExecExternalEvent("a", "b", "c"));
    other.Done();
}

TEST_F(AddInObject, OperationsBeforeInitFindNoDriverAndDoNotCrash) {
    TAddInObject object;
    std::int32_t count = -1;
    EXPECT_EQ(object.GetNProps(count), S_OK);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(object.GetNMethods(count), S_OK);
    EXPECT_EQ(count, 0);
    bool flag = true;
    EXPECT_EQ(object.CapSettingsDlg(flag), S_FALSE);
    EXPECT_FALSE(flag);
    EXPECT_EQ(object.ChangeSettings(), S_FALSE);
    TVariant ret;
    TParams params;
    EXPECT_EQ(object.CallAsFunc(0, ret, params), S_FALSE);
    EXPECT_EQ(object.CallAsProc(0, params), S_FALSE);
    EXPECT_EQ(object.SetPropVal(0, TVariant(true)), S_FALSE);
    std::int32_t n = 0;
    EXPECT_EQ(object.FindMethod(u"GetVersion", n), S_OK);
    EXPECT_EQ(n, -1);
    EXPECT_EQ(object.Done(), S_OK);
}

// ---- fixed answers ----

TEST_F(AddInObject, FixedAnswers) {
    Make();
    TParams info;
    EXPECT_EQ(Object->GetInfo(info), S_OK);
    EXPECT_EQ(info, TParams{TVariant(u"2000")});
    std::u16string name;
    EXPECT_EQ(Object->RegisterExtensionAs(name), S_OK);
    EXPECT_EQ(name, u"fr_tarvikonline1c83");
    std::vector<std::string> pages;
    EXPECT_EQ(Object->GetPages(pages), S_OK);
    EXPECT_EQ(pages.size(), 1u);
    std::uint32_t typeInfo = 0;
    EXPECT_EQ(Object->GetTypeInfoCount(typeInfo), E_NOTIMPL);
    EXPECT_EQ(Object->GetTypeInfo(), E_NOTIMPL);
    EXPECT_EQ(Object->GetIDsOfNames(), E_NOTIMPL);
    EXPECT_EQ(Object->Invoke(), E_NOTIMPL);
    EXPECT_EQ(Object->SetLocale(u"ru_RU"), S_OK);
    bool cap = true;
    EXPECT_EQ(Object->CapSettingsDlg(cap), S_OK);
    EXPECT_FALSE(cap);
    EXPECT_EQ(Object->ChangeSettings(), S_FALSE);
}

TEST_F(AddInObject, DefaultValuesAndReturnFlagsAreTheSameForEveryMethodNumber) {
    Make();
    std::int32_t count = 0;
    Object->GetNMethods(count);
    for (const std::int32_t n : {-1, 0, 5, count - 1, count, 1000}) {
        SCOPED_TRACE(n);
        TVariant value(std::int32_t{7});
        EXPECT_EQ(Object->GetParamDefValue(n, 3, value), S_OK);
        EXPECT_TRUE(value.IsEmpty());
        std::int32_t flag = 0;
        EXPECT_EQ(Object->HasRetVal(n, flag), S_OK);
        EXPECT_EQ(flag, 1);
    }
}

// ---- methods ----

TEST_F(AddInObject, NamesInEitherLanguageAndAnyCaseFindTheSameMethod) {
    Make();
    const std::u16string groups[][4] = {
        {u"GetDescription", u"getdescription", u"ПолучитьОписание", u"получитьОПИСАНИЕ"},
        {u"ProcessCheck", u"processcheck", u"СформироватьЧек", u"СФОРМИРОВАТЬЧЕК"},
        {u"GetVersion", u"GETVERSION", u"ПолучитьНомерВерсии", u"ПОЛУЧИТЬНОМЕРВЕРСИИ"},
        {u"GetDataKKT", u"getdatakkt", u"ПолучитьПараметрыККТ", u"получитьпараметрыккт"},
    };
    for (const auto& group : groups) {
        SCOPED_TRACE(Utf16ToUtf8(group[0]));
        const std::int32_t n = Find(group[0]);
        EXPECT_GE(n, 0);
        for (const auto& name : group) EXPECT_EQ(Find(name), n) << Utf16ToUtf8(name);
    }
    EXPECT_EQ(Find(u"NoSuchMethod"), -1);
    EXPECT_EQ(Find(u""), -1);
}

TEST_F(AddInObject, MethodNameIsTheRegisteredNameWhateverTheAliasFlag) {
    Make();
    const std::int32_t n = Find(u"GetDescription");
    for (const std::int32_t alias : {0, 1}) {
        std::u16string name;
        EXPECT_EQ(Object->GetMethodName(n, alias, name), S_OK);
        EXPECT_EQ(name, u"ПолучитьОписание");
    }
    std::int32_t count = 0;
    EXPECT_EQ(Object->GetNParams(Find(u"ProcessCheck"), count), S_OK);
    EXPECT_EQ(count, 7);
}

TEST_F(AddInObject, OutOfRangeNumbersAnswerFalseAndLogNothing) {
    Make();
    std::int32_t count = 0;
    Object->GetNMethods(count);
    std::int32_t props = 0;
    Object->GetNProps(props);
    for (const std::int32_t n : {-1, count, count + 1, std::numeric_limits<std::int32_t>::max(),
                                 std::numeric_limits<std::int32_t>::min()}) {
        SCOPED_TRACE(n);
        TVariant ret(std::int32_t{5});
        TParams params{TVariant("x")};
        EXPECT_EQ(Object->CallAsFunc(n, ret, params), S_FALSE);
        EXPECT_EQ(ret, TVariant(std::int32_t{5}));
        EXPECT_EQ(Object->CallAsProc(n, params), S_FALSE);
        std::u16string name = u"kept";
        EXPECT_EQ(Object->GetMethodName(n, 0, name), S_FALSE);
        EXPECT_EQ(name, u"kept");
        std::int32_t c = -7;
        EXPECT_EQ(Object->GetNParams(n, c), S_FALSE);
    }
    for (const std::int32_t n : {-1, props}) {
        TVariant value(1.5);
        EXPECT_EQ(Object->GetPropVal(n, value), S_FALSE);
        EXPECT_TRUE(value.IsEmpty());
        EXPECT_EQ(Object->SetPropVal(n, TVariant(true)), S_FALSE);
        std::u16string name;
        EXPECT_EQ(Object->GetPropName(n, 0, name), S_FALSE);
    }
    EXPECT_TRUE(LogLines().empty());
}

// ---- 7.7 ----

struct THostCase {
    const char* Exe;
    bool Is77;
};

class HostPlatform : public AddInObject, public ::testing::WithParamInterface<THostCase> {};

TEST_P(HostPlatform, SeesItsMethodsAndReturnKinds) {
    SetHostExeNameForTests(GetParam().Exe);
    Make();
    for (const char16_t* name : {u"ReadSettings", u"SaveSettings", u"SetDeviceID"})
        EXPECT_EQ(Find(name) >= 0, GetParam().Is77) << Utf16ToUtf8(name);
    EXPECT_EQ(Find(u"GetDescription"), GetParam().Is77 ? 5 : 2);

    TVariant ret;
    TParams params(7);
    EXPECT_EQ(Object->CallAsFunc(Find(u"GetDescription"), ret, params), S_OK);
    EXPECT_EQ(ret, GetParam().Is77 ? TVariant(std::int32_t{1}) : TVariant(true));
    // Booleans among the out values are the host's business, not converted.
    EXPECT_EQ(params[4], TVariant(false));

    TParams drawer(1);
    EXPECT_EQ(Object->CallAsFunc(Find(u"OpenCashDrawer"), ret, drawer), S_OK);
    EXPECT_EQ(ret, GetParam().Is77 ? TVariant(std::int32_t{0}) : TVariant(false));

    TParams error(1);
    EXPECT_EQ(Object->CallAsFunc(Find(u"GetLastError"), ret, error), S_OK);
    // The drawer needs an open register: "Устройство не найдено или не проинициализировано".
    EXPECT_EQ(ret, TVariant(std::int32_t{1005}));

    // The log shows the handler's own value, before the conversion.
    const auto lines = LogLines();
    ASSERT_FALSE(lines.empty());
    EXPECT_NE(lines[lines.size() - 3].find("Result=False"), std::string::npos) << lines[lines.size() - 3];
}

INSTANTIATE_TEST_SUITE_P(Hosts, HostPlatform,
                         ::testing::Values(THostCase{"1cv7.exe", true}, THostCase{"1CV7S.EXE", true},
                                           THostCase{"1cv8.exe", false}, THostCase{"1cv8c", false}),
                         [](const auto& info) {
                             std::string s = info.param.Exe;
                             for (char& c : s)
                                 if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                             return s;
                         });

// ---- the call log ----

TEST_F(AddInObject, CallLogLinesAreByteExact) {
    Make(kTestClass);
    TVariant ret;
    TParams params{TVariant(u"dev"), TVariant()};
    EXPECT_EQ(Object->CallAsFunc(Find(u"getlinelength"), ret, params), S_OK);
    TParams failing;
    EXPECT_EQ(Object->CallAsFunc(Find(u"Fails"), ret, failing), S_OK);
    const std::string s = Stamp();
    EXPECT_EQ(LogLines(), (std::vector<std::string>{
                              s + "\tINFO\t> GetLineLength: \tParams: [('dev'; EMPTY)]",
                              s + "\tINFO\t< GetLineLength: \tResult=True; Params: [('dev'; 40)]; "
                                  "LastResultDescription:",
                              s + "\tINFO\t> Fails: \tParams: EMPTY",
                              s + "\tINFO\t< Fails: \tResult=False; Params: EMPTY; LastResultDescription: нет связи",
                          }));
}

TEST_F(AddInObject, LineBreaksInStringArgumentsAreLoggedAsBackslashN) {
    Make();
    TVariant ret;
    TParams params{TVariant("CutString"), TVariant("first\r\nsecond\nthird\rfourth")};
    Object->CallAsFunc(Find(u"SetParameter"), ret, params);
    const auto lines = LogLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], Stamp() + "\tINFO\t> УстановитьПараметр: \tParams: [('CutString'; "
                                  "'first\\nsecond\\nthird\\nfourth')]");
}

struct TLogTextCase {
    const char* Name;
    TVariant Value;
    std::string Text;
};

class VariantLogText : public ::testing::TestWithParam<TLogTextCase> {};

TEST_P(VariantLogText, IsTheCallLogForm) { EXPECT_EQ(VariantToLogText(GetParam().Value), GetParam().Text); }

INSTANTIATE_TEST_SUITE_P(
    Kinds, VariantLogText,
    ::testing::Values(
        TLogTextCase{"Empty", TVariant(), "EMPTY"}, TLogTextCase{"Null", TVariant::Null(), "NULL"},
        TLogTextCase{"True", TVariant(true), "True"}, TLogTextCase{"False", TVariant(false), "False"},
        TLogTextCase{"Smallint", TVariant(std::int16_t{-12}), "-12"},
        TLogTextCase{"Integer", TVariant(std::int32_t{2147483647}), "2147483647"},
        TLogTextCase{"Double", TVariant(12.5), "12.5"},
        TLogTextCase{"Currency", TVariant(TCurrency{1234500}), "123.45"},
        TLogTextCase{"Date", TVariant(TDate::Encode(2024, 3, 5, 14, 7, 9)), "05.03.2024 14:07:09"},
        TLogTextCase{"String", TVariant("Чек\r\n1"), "'Чек\\n1'"},
        TLogTextCase{"AnsiString", TVariant::AnsiString({0xD7, 0xE5, 0xEA}), "'Чек'"},
        TLogTextCase{"Byte", TVariant::Byte(0xC0), "А"},
        TLogTextCase{"Array", TVariant::Array({TVariant(1), TVariant("a"), TVariant()}), "[(1; 'a'; EMPTY)]"},
        TLogTextCase{"EmptyArray", TVariant::Array({}), "EMPTY"},
        TLogTextCase{"NestedArray", TVariant::Array({TVariant::Array({TVariant(true)})}), "[([(True)])]"}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(VariantLogTextObject, IsADollarAndTheReferenceInHex) {
    auto object = std::make_shared<IHostObject>();
    const std::string text = VariantToLogText(TVariant::Object(object));
    EXPECT_EQ(text, fmt::format("${:08X}", reinterpret_cast<std::uintptr_t>(object.get())));
}

// ---- exceptions ----

TEST_F(AddInObject, AnExceptionBecomesFalseAnErrorLineAndAHostErrorWithoutTheResultLine) {
    TFakeConnection host;
    Make(kTestClass, &host);
    for (const char16_t* method : {u"Взрыв", u"StdBoom"}) {
        SCOPED_TRACE(Utf16ToUtf8(method));
        TVariant ret(std::int32_t{9});
        TParams params;
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(Object->CallAsFunc(Find(method), ret, params), S_FALSE);
        const std::string err = ::testing::internal::GetCapturedStderr();
        EXPECT_NE(err.find("EXCEPTION"), std::string::npos) << err;
    }
    const std::string s = Stamp();
    EXPECT_EQ(LogLines(), (std::vector<std::string>{
                              s + "\tINFO\t> Boom: \tParams: EMPTY",
                              s + "\tERROR\tEXCEPTION: \tbroken value",
                              s + "\tINFO\t> StdBoom: \tParams: EMPTY",
                              s + "\tERROR\tEXCEPTION: \tnot ours",
                          }));
    EXPECT_EQ(host.Errors.Shown, (std::vector<std::u16string>{u"EXCEPTION|Method: Boom\r\nMessage: broken value",
                                                              u"EXCEPTION|Method: StdBoom\r\nMessage: not ours"}));
    // The object stays usable.
    TVariant ret;
    TParams params(2);
    EXPECT_EQ(Object->CallAsFunc(Find(u"GetLineLength"), ret, params), S_OK);
}

TEST_F(AddInObject, AnUnwritableLogDoesNotChangeTheOutcomeOfACall) {
    // A driver that answers without a register: TDriver's operations need an Open first.
    TFakeConnection host;
    Make(kTestClass, &host);
    TLog::ResetFailureReportForTests();
    Object->Driver()->Log().SetLogFileName("/nonexistent-folder/fr.log");
    for (int i = 0; i < 2; ++i) {
        TVariant ret;
        TParams params(7);
        ::testing::internal::CaptureStderr();
        const HRESULT hr = Object->CallAsFunc(Find(u"GetDescription"), ret, params);
        const std::string err = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(hr, S_OK);
        EXPECT_EQ(ret, TVariant(true));
        EXPECT_EQ(params[2], TVariant(std::string("ККТ")));
        // Reported once per process: on the first call only.
        EXPECT_EQ(err.find("cannot write the log") != std::string::npos, i == 0) << err;
    }
    EXPECT_EQ(host.Errors.Shown.size(), 1u);
    TLog::ResetFailureReportForTests();
}

// ---- properties ----

TEST_F(AddInObject, PropertiesAreTheSettings) {
    Make();
    std::int32_t n = -1;
    EXPECT_EQ(Object->FindProp(u"порт", n), S_OK);
    std::int32_t m = -1;
    Object->FindProp(u"PORTNUMBER", m);
    EXPECT_EQ(n, m);
    std::u16string name;
    EXPECT_EQ(Object->GetPropName(n, 0, name), S_OK);
    EXPECT_EQ(name, u"PortNumber");
    EXPECT_EQ(Object->GetPropName(n, 1, name), S_OK);
    EXPECT_EQ(name, u"Порт");
    Object->FindProp(u"IPAddress", m);
    EXPECT_EQ(Object->GetPropName(m, 1, name), S_OK);
    EXPECT_EQ(name, u"");
    Object->FindProp(u"nothing", m);
    EXPECT_EQ(m, -1);

    // Stored as given, without a type check.
    EXPECT_EQ(Object->SetPropVal(n, TVariant("COM3")), S_OK);
    TVariant value;
    EXPECT_EQ(Object->GetPropVal(n, value), S_OK);
    EXPECT_EQ(value, TVariant("COM3"));
    bool flag = false;
    EXPECT_EQ(Object->IsPropReadable(n, flag), S_OK);
    EXPECT_EQ(Object->IsPropWritable(n, flag), S_OK);
    EXPECT_EQ(LogLines(), std::vector<std::string>{Stamp() + "\tINFO\tSetPropVal: \tPortNumber=COM3"});
}

TEST_F(AddInObject, SettingDebugLogEnabledTurnsTheLogOnBeforeItsOwnLine) {
    TLog::SetLogLevel(0);
    Make();
    std::int32_t n = -1;
    Object->FindProp(u"debuglogenabled", n);
    EXPECT_EQ(Object->SetPropVal(n, TVariant(true)), S_OK);
    EXPECT_EQ(Object->Driver()->Log().LogLevel(), 3);
    EXPECT_EQ(LogLines(), std::vector<std::string>{Stamp() + "\tINFO\tSetPropVal: \tDebugLogEnabled=True"});
    EXPECT_EQ(Object->SetPropVal(n, TVariant(false)), S_OK);
    EXPECT_EQ(Object->Driver()->Log().LogLevel(), 0);
    // A value that is no Boolean is stored and leaves the log as it was.
    EXPECT_EQ(Object->SetPropVal(n, TVariant("maybe")), S_OK);
    EXPECT_EQ(Object->Driver()->Log().LogLevel(), 0);
}

}  // namespace
}  // namespace fr::test
