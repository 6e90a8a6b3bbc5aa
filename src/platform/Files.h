#pragma once
// File services the layers above use, the same on every system. Paths are UTF-8.

#include <ctime>
#include <string>
#include <string_view>

namespace fr {

bool PathExists(const std::string& Path);
bool DirectoryExists(const std::string& Path);
// "/x" on Linux; "C:\x", "C:/x", "\x" or "\\server\x" on Windows.
bool IsAbsolutePath(const std::string& Path);
std::tm LocalTime(std::time_t Time);

// The whole file into Text; false when the file does not exist. Throws EOSError otherwise.
bool ReadWholeFile(const std::string& Path, std::string& Text);
// Writes Text to a temporary file beside Path and renames it over Path, so a reader sees the old
// or the new contents, never a mixture. Throws EOSError.
void ReplaceFileContents(const std::string& Path, std::string_view Text);

}  // namespace fr
