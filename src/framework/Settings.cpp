// The settings store of TBaseDriver: registration, typed access, the 7.7 settings file.
#include "framework/Settings.h"

#include <sys/stat.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <optional>

#include "framework/BaseDriver.h"
#include "platform/IniFile.h"
#include "platform/System.h"
#include "platform/TextCase.h"

namespace fr {
namespace {

constexpr const char* kSettingsSection = "SETTINGS";

std::string ReplaceAll(std::string s, std::string_view from, std::string_view to) {
    for (std::size_t pos = 0; (pos = s.find(from, pos)) != std::string::npos; pos += to.size())
        s.replace(pos, from.size(), to);
    return s;
}

std::string_view TrimBlanks(std::string_view s) {
    while (!s.empty() && static_cast<unsigned char>(s.front()) <= ' ') s.remove_prefix(1);
    while (!s.empty() && static_cast<unsigned char>(s.back()) <= ' ') s.remove_suffix(1);
    return s;
}

// The device identifier names a file: separators must not lead out of the settings folder.
std::string SafeFileName(const std::string& id) {
    std::string r = id;
    for (char& ch : r)
        if (ch == '/' || ch == '\\' || ch == '\0') ch = '_';
    return r;
}

}  // namespace

bool VarMatchesDataType(const TVariant& AValue, TDataType AType) {
    const TVarType t = AValue.VarType();
    switch (AType) {
        case dtNumber:
            return t == varSmallint || t == varInteger || t == varByte || t == varSingle || t == varDouble ||
                   t == varCurrency || t == varBoolean;
        case dtString: return t == varUString || t == varString;
        case dtDateTime: return t == varDate;
        case dtBoolean: return t == varBoolean;
    }
    return false;
}

const char* TypeValueName(TDataType AType) {
    switch (AType) {
        case dtNumber: return "Number";
        case dtString: return "String";
        case dtDateTime: return "Date";
        case dtBoolean: return "Boolean";
    }
    return "String";
}

std::string SettingValueToText(const TVariant& AValue) {
    if (AValue.IsString()) {
        // A lone CR or LF would break the file's one-key-per-line form just as CR LF would.
        std::string s = ReplaceAll(AValue.AsString(), "\r\n", "\\n");
        s = ReplaceAll(std::move(s), "\r", "\\n");
        return ReplaceAll(std::move(s), "\n", "\\n");
    }
    return AValue.AsString();  // Booleans "True"/"False", dates and numbers in the fixed forms
}

TVariant TextToSettingValue(const std::string& AText, TDataType AType) {
    switch (AType) {
        case dtNumber: {
            const std::string_view s = TrimBlanks(AText);
            if (s.find_first_of(".,") != std::string_view::npos) {
                double d = 0;
                const std::string_view num = !s.empty() && s.front() == '+' ? s.substr(1) : s;
                const auto r = std::from_chars(num.data(), num.data() + num.size(), d, std::chars_format::fixed);
                if (r.ec != std::errc() || r.ptr != num.data() + num.size() || !std::isfinite(d) || num.empty())
                    d = 0;
                return TVariant(d);
            }
            std::int32_t i = 0;
            const std::string_view num = !s.empty() && s.front() == '+' ? s.substr(1) : s;
            const auto r = std::from_chars(num.data(), num.data() + num.size(), i, 10);
            if (r.ec != std::errc() || r.ptr != num.data() + num.size() || num.empty()) i = 0;
            return TVariant(i);
        }
        case dtDateTime: {
            TDate d;
            if (!TDate::TryParse(AText, d)) throw EConvertError("'" + AText + "' is not a valid date and time");
            return TVariant(d);
        }
        case dtBoolean: return TVariant(AText == "True");
        case dtString: break;
    }
    return TVariant(AText);
}

// ---- TBaseDriver: settings store ----

int TBaseDriver::AddSetting(const std::string& AID, TDataType AValueType, const TVariant& ADefault, bool AReadOnly,
                            const std::string& AName, const std::string& ADescription) {
    for (std::size_t i = 0; i < FSettingList.size(); ++i) {
        auto& s = FSettingList[i];
        if (SameText(std::string_view(s.ID), std::string_view(AID))) {
            // Re-registration keeps the place, the type and the caption.
            s.Value = ADefault;
            s.Default = ADefault;
            s.ReadOnly = AReadOnly;
            s.Description = ADescription;
            return static_cast<int>(i);
        }
    }
    FSettingList.push_back({AID, {}, ADefault, AValueType, ADefault, AReadOnly, AName, ADescription});
    return static_cast<int>(FSettingList.size()) - 1;
}

int TBaseDriver::AddSetting(const std::string& AID, const std::string& AAlias, TDataType AValueType,
                            const TVariant& ADefault, bool AReadOnly, const std::string& AName,
                            const std::string& ADescription) {
    const int i = AddSetting(AID, AValueType, ADefault, AReadOnly, AName, ADescription);
    FSettingList[static_cast<std::size_t>(i)].Alias = AAlias;
    return i;
}

TSettingStruct* TBaseDriver::FindSetting(std::string_view AID) {
    const int i = GetPropNum(AID);
    return i < 0 ? nullptr : &FSettingList[static_cast<std::size_t>(i)];
}

const TSettingStruct* TBaseDriver::FindSetting(std::string_view AID) const {
    const int i = GetPropNum(AID);
    return i < 0 ? nullptr : &FSettingList[static_cast<std::size_t>(i)];
}

const TSettingStruct* TBaseDriver::GetSetting(int AIndex) const {
    if (AIndex < 0 || AIndex >= SettingsCount()) return nullptr;
    return &FSettingList[static_cast<std::size_t>(AIndex)];
}

TVariant TBaseDriver::GetSettingValue(std::string_view AID, bool ADefault) const {
    const TSettingStruct* s = FindSetting(AID);
    if (!s) return {};
    return ADefault ? s->Default : s->Value;
}

bool TBaseDriver::GetSettingValueBool(std::string_view AID) const { return GetSettingValue(AID).AsBool(); }
std::int32_t TBaseDriver::GetSettingValueInt(std::string_view AID) const { return GetSettingValue(AID).AsInt(); }
TCurrency TBaseDriver::GetSettingValueCurr(std::string_view AID) const { return GetSettingValue(AID).AsCurrency(); }
double TBaseDriver::GetSettingValueDbl(std::string_view AID) const { return GetSettingValue(AID).AsDouble(); }
std::string TBaseDriver::GetSettingValueStr(std::string_view AID) const { return GetSettingValue(AID).AsString(); }
TDate TBaseDriver::GetSettingValueDate(std::string_view AID) const { return GetSettingValue(AID).AsDate(); }

bool TBaseDriver::GetSettingReadOnly(std::string_view AID) const {
    const TSettingStruct* s = FindSetting(AID);
    return s && s->ReadOnly;
}

std::string TBaseDriver::SettingOfWrongKind() const {
    for (const auto& s : FSettingList) {
        try {
            switch (s.ValueType) {
                case dtNumber:
                    if (s.Default.VarType() == varDouble || s.Default.VarType() == varSingle ||
                        s.Default.VarType() == varCurrency)
                        (void)s.Value.AsDouble();
                    else
                        (void)s.Value.AsInt();
                    break;
                case dtString: (void)s.Value.AsString(); break;
                case dtDateTime: (void)s.Value.AsDate(); break;
                case dtBoolean: (void)s.Value.AsBool(); break;
            }
        } catch (const EFrError&) {
            return s.ID;
        }
    }
    return {};
}

bool TBaseDriver::SetSettingValue(std::string_view AID, const TVariant& AValue, bool ACastToType) {
    TSettingStruct* s = FindSetting(AID);
    if (!s) return false;
    if (VarMatchesDataType(AValue, s->ValueType)) {
        s->Value = AValue;
        return true;
    }
    if (ACastToType && AValue.IsString()) {
        s->Value = TextToSettingValue(AValue.AsString(), s->ValueType);
        return true;
    }
    return false;
}

void TBaseDriver::SetAllSettingsDefault() {
    for (auto& s : FSettingList) s.Value = s.Default;
}

void TBaseDriver::StoreSettings(const std::vector<std::string>& AIDs) {
    FBufSettings.clear();
    for (const auto& id : AIDs) FBufSettings.push_back({id, GetSettingValue(id)});
}

void TBaseDriver::RestoreSettings() {
    for (const auto& b : FBufSettings)
        if (TSettingStruct* s = FindSetting(b.ID)) s->Value = b.Value;
    FBufSettings.clear();
}

std::string TBaseDriver::GetSettingsFileName() const {
    const std::string dir = CommonAppDataDir() + kModuleBaseName + "/";
    struct stat st {};
    if (::stat(dir.c_str(), &st) != 0) ForceDirectories(dir);
    return dir + SafeFileName(FDeviceID) + ".sts";
}

void TBaseDriver::ReadSettings() {
    if (FPlatformVer != pv77) return;
    const std::string path = GetSettingsFileName();
    struct stat st {};
    // lstat: a link planted at the file's name is not missing; TIniFile refuses to follow it.
    if (::lstat(path.c_str(), &st) != 0) return;
    const TIniFile ini(path);
    // Convert everything first, so an unreadable value leaves every setting as it was. A key the
    // file lacks keeps the setting's current value.
    std::vector<std::optional<TVariant>> values;
    for (const auto& s : FSettingList) {
        std::optional<std::string> text = ini.ReadString(kSettingsSection, s.ID);
        if (!text) {
            values.emplace_back();
            continue;
        }
        if (s.ValueType == dtString) {
            values.emplace_back(TVariant(ReplaceAll(std::move(*text), "\\n", "\r\n")));
        } else {
            values.emplace_back(TextToSettingValue(*text, s.ValueType));
        }
    }
    for (std::size_t i = 0; i < FSettingList.size(); ++i)
        if (values[i]) SetSettingValue(FSettingList[i].ID, *values[i], true);
}

void TBaseDriver::SaveSettings() {
    if (FPlatformVer != pv77) return;
    TIniFile ini(GetSettingsFileName());
    for (const auto& s : FSettingList) ini.WriteString(kSettingsSection, s.ID, SettingValueToText(s.Value));
    ini.UpdateFile();
}

}  // namespace fr
