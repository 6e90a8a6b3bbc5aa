#pragma once
// Profile (INI) files in UTF-8: "[SECTION]" headers and "key=value" lines.
// Section and key names match without regard to letter case, as profile files do elsewhere.
// Lines that are neither (comments, junk) are kept as they are when the file is written back.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fr {

class TIniFile {
public:
    // Reads the file when it exists; a missing file gives an empty profile.
    // Throws EOSError when an existing file cannot be read, is not a regular file, or is a
    // symbolic link (never followed: the settings live in a folder every user may write to).
    explicit TIniFile(std::string AFileName);

    const std::string& FileName() const { return FFileName; }
    bool SectionExists(std::string_view ASection) const;
    // The value of the key, or nullopt when the section or the key is absent.
    std::optional<std::string> ReadString(std::string_view ASection, std::string_view AKey) const;
    std::string ReadString(std::string_view ASection, std::string_view AKey, const std::string& ADefault) const;
    // Line breaks in AValue are written as spaces, so the file keeps one key per line.
    void WriteString(std::string_view ASection, std::string_view AKey, std::string_view AValue);
    // Writes the profile to its file through a temporary file and a rename, so a failure never
    // leaves a half-written file. The temporary file gets a random name and is created
    // exclusively, without following links. Throws EOSError, also when the file is a link.
    void UpdateFile() const;

    // The file's text as UpdateFile writes it.
    std::string Text() const;
    void SetText(std::string_view AText);

private:
    struct TLine {
        std::string Key;  // empty for a line that is not a key
        std::string Value;
        std::string Raw;  // the line as read, for non-key lines
    };
    struct TSection {
        std::string Name;
        std::vector<TLine> Lines;
    };

    const TSection* FindSection(std::string_view ASection) const;

    std::string FFileName;
    std::vector<TLine> FHead;  // lines before the first section
    std::vector<TSection> FSections;
};

}  // namespace fr
