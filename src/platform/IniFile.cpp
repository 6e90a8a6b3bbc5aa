#include "platform/IniFile.h"

#include <iterator>

#include "platform/Files.h"
#include "platform/TextCase.h"

namespace fr {
namespace {

std::string_view TrimBlanks(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
    return s;
}

// Values with surrounding blanks (a CR at the end too) or surrounding quotes are quoted, so they
// read back unchanged.
std::string QuoteValue(std::string_view v) {
    if (v.empty()) return {};
    const bool blanks =
        v.front() == ' ' || v.front() == '\t' || v.back() == ' ' || v.back() == '\t' || v.back() == '\r';
    const bool quoted = v.size() >= 2 && v.front() == '"' && v.back() == '"';
    if (blanks || quoted) return "\"" + std::string(v) + "\"";
    return std::string(v);
}

// A key line as written. One that starts with '[' and ends with ']' would read back as a section:
// its value is quoted then.
std::string KeyLine(const std::string& AKey, const std::string& AValue) {
    const std::string line = AKey + "=" + QuoteValue(AValue);
    if (line.front() == '[' && line.back() == ']') return AKey + "=\"" + AValue + "\"";
    return line;
}

std::string UnquoteValue(std::string_view v) {
    v = TrimBlanks(v);
    if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
    return std::string(v);
}

}  // namespace

TIniFile::TIniFile(std::string AFileName) : FFileName(std::move(AFileName)) {
    std::string text;
    if (!ReadWholeFile(FFileName, text)) return;
    SetText(text);
}

void TIniFile::SetText(std::string_view AText) {
    FHead.clear();
    FSections.clear();
    // Every leading byte-order mark goes: one left in the first line would be written back at the
    // start of the file and dropped by the next read, so the file would change at each save.
    while (AText.substr(0, 3) == "\xEF\xBB\xBF") AText.remove_prefix(3);
    std::vector<TLine>* target = &FHead;
    while (!AText.empty()) {
        const auto eol = AText.find('\n');
        std::string_view raw = AText.substr(0, eol);
        AText = eol == std::string_view::npos ? std::string_view() : AText.substr(eol + 1);
        // Every trailing CR: a line kept as read would otherwise lose one at each save.
        while (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);
        std::string_view line = TrimBlanks(raw);
        // Nor is a mark behind leading blanks part of a section or a key: written back at the
        // start of the file, it would be dropped by the next read.
        while (line.substr(0, 3) == "\xEF\xBB\xBF") line = TrimBlanks(line.substr(3));
        if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
            FSections.push_back({std::string(TrimBlanks(line.substr(1, line.size() - 2))), {}});
            target = &FSections.back().Lines;
            continue;
        }
        const auto eq = line.find('=');
        if (!line.empty() && line.front() != ';' && eq != std::string_view::npos && eq > 0) {
            const std::string_view key = TrimBlanks(line.substr(0, eq));
            if (!key.empty()) {
                target->push_back({std::string(key), UnquoteValue(line.substr(eq + 1)), {}});
                continue;
            }
        }
        target->push_back({{}, {}, std::string(raw)});
    }
}

const TIniFile::TSection* TIniFile::FindSection(std::string_view ASection) const {
    for (const auto& s : FSections)
        if (SameText(std::string_view(s.Name), ASection)) return &s;
    return nullptr;
}

bool TIniFile::SectionExists(std::string_view ASection) const { return FindSection(ASection) != nullptr; }

std::optional<std::string> TIniFile::ReadString(std::string_view ASection, std::string_view AKey) const {
    const TSection* s = FindSection(ASection);
    if (!s) return std::nullopt;
    for (const auto& l : s->Lines)
        if (!l.Key.empty() && SameText(std::string_view(l.Key), AKey)) return l.Value;
    return std::nullopt;
}

std::string TIniFile::ReadString(std::string_view ASection, std::string_view AKey,
                                 const std::string& ADefault) const {
    return ReadString(ASection, AKey).value_or(ADefault);
}

void TIniFile::WriteString(std::string_view ASection, std::string_view AKey, std::string_view AValue) {
    std::string value(AValue);
    for (char& ch : value)
        if (ch == '\r' || ch == '\n') ch = ' ';
    auto* s = const_cast<TSection*>(FindSection(ASection));
    if (!s) {
        FSections.push_back({std::string(ASection), {}});
        s = &FSections.back();
    }
    for (auto& l : s->Lines)
        if (!l.Key.empty() && SameText(std::string_view(l.Key), AKey)) {
            l.Value = std::move(value);
            return;
        }
    // A new key goes after the section's last key, before trailing blank lines.
    auto pos = s->Lines.end();
    while (pos != s->Lines.begin() && std::prev(pos)->Key.empty() && TrimBlanks(std::prev(pos)->Raw).empty())
        --pos;
    s->Lines.insert(pos, {std::string(AKey), std::move(value), {}});
}

std::string TIniFile::Text() const {
    std::string out;
    auto emit = [&out](const std::vector<TLine>& lines) {
        for (const auto& l : lines) out += (l.Key.empty() ? l.Raw : KeyLine(l.Key, l.Value)) + "\n";
    };
    emit(FHead);
    for (const auto& s : FSections) {
        out += "[" + s.Name + "]\n";
        emit(s.Lines);
    }
    return out;
}

void TIniFile::UpdateFile() const {
    ReplaceFileContents(FFileName, Text());
}

}  // namespace fr
