#include "platform/SharedFile.h"

#include <windows.h>

#include <algorithm>

#include "platform/Errors.h"
#include "platform/win/WinText.h"

namespace fr {
namespace {

[[noreturn]] void Throw(const std::string& What, DWORD Code) {
    throw EOSError(What, static_cast<int>(Code), win::ErrorText(Code));
}

}  // namespace

void AppendToSharedFile(const std::string& APath, std::string_view ABytes) {
    // Opened for appending only and shared with every other writer; a link (reparse point) is
    // opened as itself, so that it is recognised and refused rather than written through. The
    // folder's inherited entries let every local user append to a file another one created.
    const HANDLE file = ::CreateFileW(win::Wide(APath).c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) Throw("Cannot open log file " + APath, ::GetLastError());
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(file, &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0 ||
        ::GetFileType(file) != FILE_TYPE_DISK) {
        ::CloseHandle(file);
        Throw("Cannot open log file " + APath + " (not a regular file)", ERROR_CANT_ACCESS_FILE);
    }
    // One write under a lock on the first byte orders the writers of all processes.
    OVERLAPPED at{};
    const bool locked = ::LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &at) != 0;
    DWORD err = 0;
    std::size_t done = 0;
    while (done < ABytes.size() && err == 0) {
        DWORD n = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(ABytes.size() - done, 1u << 30));
        if (!::WriteFile(file, ABytes.data() + done, chunk, &n, nullptr)) err = ::GetLastError();
        done += n;
    }
    if (locked) ::UnlockFileEx(file, 0, 1, 0, &at);
    ::CloseHandle(file);
    if (err != 0) Throw("Cannot write log file " + APath, err);
}

}  // namespace fr
