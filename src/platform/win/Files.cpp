#include "platform/Files.h"

#include <windows.h>

#include <algorithm>

#include "platform/Errors.h"
#include "platform/win/WinText.h"

namespace fr {
namespace {

[[noreturn]] void Throw(const std::string& What, DWORD Code) {
    throw EOSError(What, static_cast<int>(Code), win::ErrorText(Code));
}

class THandle {
public:
    explicit THandle(HANDLE H) : FHandle(H) {}
    ~THandle() {
        if (Valid()) ::CloseHandle(FHandle);
    }
    THandle(const THandle&) = delete;
    THandle& operator=(const THandle&) = delete;
    bool Valid() const { return FHandle != INVALID_HANDLE_VALUE && FHandle != nullptr; }
    HANDLE Get() const { return FHandle; }
    bool Close() {
        const bool ok = ::CloseHandle(FHandle) != 0;
        FHandle = INVALID_HANDLE_VALUE;
        return ok;
    }

private:
    HANDLE FHandle;
};

DWORD WriteAll(HANDLE H, std::string_view Bytes) {
    std::size_t done = 0;
    while (done < Bytes.size()) {
        DWORD n = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(Bytes.size() - done, 1u << 30));
        if (!::WriteFile(H, Bytes.data() + done, chunk, &n, nullptr)) return ::GetLastError();
        done += n;
    }
    return 0;
}

}  // namespace

bool PathExists(const std::string& Path) {
    return ::GetFileAttributesW(win::Wide(Path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool DirectoryExists(const std::string& Path) {
    const DWORD a = ::GetFileAttributesW(win::Wide(Path).c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool IsAbsolutePath(const std::string& Path) {
    // "C:\x", and "\x" or "\\server\x" (rooted on the current drive or a share): none of them
    // is relative to a folder.
    if (Path.size() >= 3 && Path[1] == ':' && (Path[2] == '\\' || Path[2] == '/')) return true;
    return !Path.empty() && (Path[0] == '\\' || Path[0] == '/');
}

std::tm LocalTime(std::time_t Time) {
    std::tm tm{};
    ::localtime_s(&tm, &Time);
    return tm;
}

bool ReadWholeFile(const std::string& Path, std::string& Text) {
    THandle file(::CreateFileW(win::Wide(Path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid()) {
        const DWORD err = ::GetLastError();
        if (err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND) return false;
        Throw("Cannot open " + Path, err);
    }
    Text.clear();
    char buf[4096];
    for (;;) {
        DWORD n = 0;
        if (!::ReadFile(file.Get(), buf, sizeof buf, &n, nullptr)) Throw("Cannot read " + Path, ::GetLastError());
        if (n == 0) break;
        Text.append(buf, n);
    }
    return true;
}

void ReplaceFileContents(const std::string& Path, std::string_view Text) {
    const std::string tmp = Path + ".tmp" + std::to_string(::GetCurrentProcessId());
    const std::wstring wtmp = win::Wide(tmp);
    {
        THandle file(::CreateFileW(wtmp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file.Valid()) Throw("Cannot create " + tmp, ::GetLastError());
        DWORD err = WriteAll(file.Get(), Text);
        if (!file.Close() && err == 0) err = ::GetLastError();
        if (err != 0) {
            ::DeleteFileW(wtmp.c_str());
            Throw("Cannot write " + tmp, err);
        }
    }
    if (!::MoveFileExW(wtmp.c_str(), win::Wide(Path).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const DWORD err = ::GetLastError();
        ::DeleteFileW(wtmp.c_str());
        Throw("Cannot replace " + Path, err);
    }
}

}  // namespace fr
