// The settings file a 7.7 host keeps (<device id>.sts, a profile file in UTF-8) and the text
// conversions of setting values: a damaged or hand-edited file.
//
// Input: the file's bytes.
// Properties: reading never throws anything but the documented conversion error, and then leaves
// every setting as it was; what is read, saved and read again is the same again when saved and
// read once more (the file form is stable); the profile parser reads back its own text.

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "driver/Driver.h"
#include "framework/Log.h"
#include "framework/Settings.h"
#include "platform/Errors.h"
#include "platform/IniFile.h"
#include "platform/System.h"

namespace {

using namespace fr;

std::vector<std::string> SettingTexts(const TBaseDriver& ADriver) {
    std::vector<std::string> texts;
    for (const auto& s : ADriver.Settings()) texts.push_back(SettingValueToText(s.Value));
    return texts;
}

void WriteFileBytes(const std::string& APath, const std::string& AText) {
    std::ofstream out(APath, std::ios::binary | std::ios::trunc);
    out << AText;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* AData, std::size_t ASize) {
    static const bool ready = (TLog::SetLogLevel(0), fuzz::PrivateDataFolder(), SetHostExeNameForTests("1cv7.exe"), true);
    (void)ready;
    const std::string text(reinterpret_cast<const char*>(AData), ASize);

    // The profile parser alone: its own text reads back to the same text.
    TIniFile ini("");
    ini.SetText(text);
    const std::string once = ini.Text();
    TIniFile again("");
    again.SetText(once);
    FR_FUZZ_CHECK(again.Text() == once, "profile text not stable");

    static auto driver = TBaseDriver::Create<TDriver>();
    driver->SetAllSettingsDefault();
    for (const auto& s : driver->Settings()) {
        const std::string value = ini.ReadString("SETTINGS", s.ID, std::string());
        try {
            TextToSettingValue(value, s.ValueType);
        } catch (const EConvertError&) {
        }
    }

    const std::string path = driver->GetSettingsFileName();
    WriteFileBytes(path, text);
    const std::vector<std::string> before = SettingTexts(*driver);
    try {
        driver->ReadSettings();
    } catch (const EConvertError&) {
        FR_FUZZ_CHECK(SettingTexts(*driver) == before, "a refused file changed the settings");
        return 0;
    }
    driver->SaveSettings();
    driver->ReadSettings();
    const std::vector<std::string> first = SettingTexts(*driver);
    driver->SaveSettings();
    driver->ReadSettings();
    const std::vector<std::string> second = SettingTexts(*driver);
    for (std::size_t i = 0; i < first.size(); ++i)
        FR_FUZZ_CHECK(first[i] == second[i], "setting %s: \"%s\" became \"%s\"", driver->Settings()[i].ID.c_str(),
                      first[i].c_str(), second[i].c_str());
    return 0;
}
