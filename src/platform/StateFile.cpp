#include "platform/StateFile.h"

#include "platform/Errors.h"
#include "platform/Files.h"

namespace fr {
namespace {

constexpr std::size_t kMaxStateFile = 64 * 1024;

}  // namespace

// The file services refuse links and anything but a regular file, and replace through an
// exclusive temporary file; a state file only adds that failures are answers, not exceptions.
std::optional<std::string> ReadStateFile(const std::string& APath) {
    try {
        std::string text;
        if (!ReadWholeFile(APath, text) || text.size() > kMaxStateFile) return std::nullopt;
        return text;
    } catch (const EOSError&) {
        return std::nullopt;
    }
}

bool WriteStateFile(const std::string& APath, const std::string& AText) {
    try {
        ReplaceFileContents(APath, AText);
        return true;
    } catch (const EOSError&) {
        return false;
    }
}

void RemoveStateFile(const std::string& APath) { RemoveFile(APath); }

}  // namespace fr
