#include <gtest/gtest.h>

#include "framework/TestDriver.h"
#include "platform/System.h"
#include "platform/TempDir.h"

namespace fr {
namespace {

using test::TTestDriver;

// A driver with one setting of every type.
class TTypedDriver : public TTestDriver {
public:
    using TTestDriver::TTestDriver;

protected:
    void InitSettings() override {
        TTestDriver::InitSettings();
        AddSetting("Num", "Число", dtNumber, TVariant(5), false, "Число", "d");
        AddSetting("Str", dtString, TVariant("abc"), false, "Строка", "d");
        AddSetting("Flag", dtBoolean, TVariant(false), true, "Флаг", "d");
        AddSetting("When", dtDateTime, TVariant(TDate::Encode(2024, 1, 1)), false, "Дата", "d");
        // Re-registration: new value, default and description; the rest stays.
        AddSetting("num", dtString, TVariant(7), false, "Другая подпись", "new description");
    }
};

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetHostExeNameForTests("1cv8.exe");
        D = TBaseDriver::Create<TTypedDriver>();
    }
    void TearDown() override { SetHostExeNameForTests(""); }
    std::unique_ptr<TTypedDriver> D;
};

TEST_F(SettingsTest, ReRegistrationKeepsPlaceTypeAndCaption) {
    ASSERT_EQ(D->SettingsCount(), 6);
    const TSettingStruct& s = D->GetProperty(2);
    EXPECT_EQ(s.ID, "Num");
    EXPECT_EQ(s.Alias, "Число");
    EXPECT_EQ(s.ValueType, dtNumber);
    EXPECT_EQ(s.Name, "Число");
    EXPECT_EQ(s.Description, "new description");
    EXPECT_EQ(s.Value, TVariant(7));
    EXPECT_EQ(s.Default, TVariant(7));
}

TEST_F(SettingsTest, ValueKindsThatMatchEachType) {
    struct Case {
        const char* Name;
        TVariant Value;
        bool Number, String, Date, Boolean;
    };
    const Case cases[] = {
        {"Integer", TVariant(9999), true, false, false, false},
        {"Smallint", TVariant(std::int16_t{1}), true, false, false, false},
        {"Byte", TVariant::Byte(1), true, false, false, false},
        {"Double", TVariant(1.5), true, false, false, false},
        {"Single", TVariant(1.5f), true, false, false, false},
        {"Currency", TVariant(TCurrency{1}), true, false, false, false},
        {"Boolean", TVariant(true), true, false, false, true},
        {"String", TVariant("9999"), false, true, false, false},
        {"SingleByteString", TVariant::AnsiString({'1'}), false, true, false, false},
        {"Date", TVariant(TDate{1}), false, false, true, false},
        {"Empty", TVariant(), false, false, false, false},
        {"Null", TVariant::Null(), false, false, false, false},
        {"Array", TVariant::Array({}), false, false, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        EXPECT_EQ(VarMatchesDataType(c.Value, dtNumber), c.Number);
        EXPECT_EQ(VarMatchesDataType(c.Value, dtString), c.String);
        EXPECT_EQ(VarMatchesDataType(c.Value, dtDateTime), c.Date);
        EXPECT_EQ(VarMatchesDataType(c.Value, dtBoolean), c.Boolean);
    }
}

TEST_F(SettingsTest, SetSettingValueStoresOnlyMatchingKindsUnlessCastingText) {
    EXPECT_FALSE(D->SetSettingValue("Num", TVariant("12"), false));
    EXPECT_EQ(D->GetSettingValue("Num"), TVariant(7));
    EXPECT_TRUE(D->SetSettingValue("Num", TVariant("12"), true));
    EXPECT_EQ(D->GetSettingValue("Num"), TVariant(12));
    EXPECT_TRUE(D->SetSettingValue("число", TVariant(true), false));
    EXPECT_EQ(D->GetSettingValue("Num"), TVariant(true));
    EXPECT_FALSE(D->SetSettingValue("Flag", TVariant(1), true));
    EXPECT_EQ(D->GetSettingValue("Flag"), TVariant(false));
    EXPECT_FALSE(D->SetSettingValue("Nothing", TVariant(1), true));
    EXPECT_THROW(D->SetSettingValue("When", TVariant("not a date"), true), EConvertError);
    EXPECT_EQ(D->GetSettingValue("When"), TVariant(TDate::Encode(2024, 1, 1)));
}

TEST_F(SettingsTest, TextToSettingValueByType) {
    struct Case {
        const char* Text;
        TDataType Type;
        TVariant Value;
    };
    const Case cases[] = {
        {"12", dtNumber, TVariant(12)},
        {"-3", dtNumber, TVariant(-3)},
        {"12.5", dtNumber, TVariant(12.5)},
        {"12,5", dtNumber, TVariant(0.0)},
        {"abc", dtNumber, TVariant(0)},
        {"", dtNumber, TVariant(0)},
        {"99999999999", dtNumber, TVariant(0)},
        {"True", dtBoolean, TVariant(true)},
        {"true", dtBoolean, TVariant(false)},
        {"1", dtBoolean, TVariant(false)},
        {"", dtBoolean, TVariant(false)},
        {"a b", dtString, TVariant("a b")},
        {"05.03.2024 10:00:00", dtDateTime, TVariant(TDate::Encode(2024, 3, 5, 10))},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Text);
        EXPECT_EQ(TextToSettingValue(c.Text, c.Type), c.Value);
    }
    EXPECT_THROW(TextToSettingValue("x", dtDateTime), EConvertError);
}

TEST_F(SettingsTest, SettingValueToTextForTheFile) {
    EXPECT_EQ(SettingValueToText(TVariant("a\r\nb\nc\rd")), "a\\nb\\nc\\nd");
    EXPECT_EQ(SettingValueToText(TVariant(true)), "True");
    EXPECT_EQ(SettingValueToText(TVariant(false)), "False");
    EXPECT_EQ(SettingValueToText(TVariant(12.5)), "12.5");
    EXPECT_EQ(SettingValueToText(TVariant(115200)), "115200");
    EXPECT_EQ(SettingValueToText(TVariant(TDate::Encode(2024, 3, 5, 10))), "05.03.2024 10:00:00");
}

TEST_F(SettingsTest, TypedReadersConvertAndGiveZeroForUnknownNames) {
    D->SetSettingValue("Str", TVariant("42"), false);
    EXPECT_EQ(D->GetSettingValueInt("Str"), 42);
    EXPECT_EQ(D->GetSettingValueDbl("Str"), 42.0);
    EXPECT_EQ(D->GetSettingValueCurr("Str").Value, 420000);
    EXPECT_EQ(D->GetSettingValueStr("Num"), "7");
    EXPECT_EQ(D->GetSettingValueInt("Unknown"), 0);
    EXPECT_FALSE(D->GetSettingValueBool("Unknown"));
    EXPECT_EQ(D->GetSettingValueStr("Unknown"), "");
    EXPECT_EQ(D->GetSettingValueDate("Unknown").Days, 0.0);
    EXPECT_TRUE(D->GetSettingValue("Unknown").IsEmpty());
    EXPECT_TRUE(D->GetSettingReadOnly("Flag"));
    EXPECT_FALSE(D->GetSettingReadOnly("Unknown"));
    D->SetSettingValue("Str", TVariant("x"), false);
    EXPECT_THROW(D->GetSettingValueInt("Str"), EConvertError);
    EXPECT_EQ(D->GetSettingValue("Str", true), TVariant("abc"));
    EXPECT_EQ(D->GetSetting(6), nullptr);
    EXPECT_EQ(D->GetSetting(-1), nullptr);
}

TEST_F(SettingsTest, StoreAndRestoreBringBackSavedValues) {
    D->StoreSettings({"Num", "Str", "Unknown"});
    D->SetSettingValue("Num", TVariant(1), false);
    D->SetSettingValue("Str", TVariant("changed"), false);
    D->SetSettingValue("Flag", TVariant(true), false);
    D->RestoreSettings();
    EXPECT_EQ(D->GetSettingValue("Num"), TVariant(7));
    EXPECT_EQ(D->GetSettingValue("Str"), TVariant("abc"));
    EXPECT_EQ(D->GetSettingValue("Flag"), TVariant(true)) << "not stored, not restored";
    D->SetSettingValue("Num", TVariant(2), false);
    D->RestoreSettings();  // the buffer was emptied
    EXPECT_EQ(D->GetSettingValue("Num"), TVariant(2));
    D->SetAllSettingsDefault();
    EXPECT_EQ(D->GetSettingValue("Num"), TVariant(7));
    EXPECT_EQ(D->GetSettingValue("Flag"), TVariant(false));
}

TEST_F(SettingsTest, SettingsFileIsOnlyUsedUnderA77Host) {
    test::TTempAppData data;
    D->SaveSettings();
    D->SetSettingValue("Num", TVariant(1), false);
    D->ReadSettings();
    EXPECT_EQ(D->GetSettingValue("Num"), TVariant(1));
    EXPECT_FALSE(std::filesystem::exists(data.Path() + "fr_tarvikonline1c83/default.sts"));
}

TEST_F(SettingsTest, UnreadableDateInTheFileChangesNoSetting) {
    test::TTempAppData data;
    SetHostExeNameForTests("1cv7.exe");
    auto d = TBaseDriver::Create<TTypedDriver>();
    std::filesystem::create_directories(data.Path() + "fr_tarvikonline1c83");
    test::WriteFile(data.Path() + "fr_tarvikonline1c83/default.sts", "[SETTINGS]\nNum=3\nWhen=garbage\n");
    EXPECT_THROW(d->ReadSettings(), EConvertError);
    EXPECT_EQ(d->GetSettingValue("Num"), TVariant(7));
}

}  // namespace
}  // namespace fr
