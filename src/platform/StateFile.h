#pragma once
// Small state files in the shared data folder (writable by everybody): read without following a
// link, replaced through an exclusive temporary file and a rename, so a reader sees the old text
// or the new one and another user's link cannot redirect the write.

#include <optional>
#include <string>

namespace fr {

// The file's text; nullopt when it is missing, is a link, or cannot be read.
std::optional<std::string> ReadStateFile(const std::string& APath);
// False when it could not be written (the old text, if any, stays).
bool WriteStateFile(const std::string& APath, const std::string& AText);
void RemoveStateFile(const std::string& APath);

}  // namespace fr
