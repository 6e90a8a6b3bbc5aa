#include "platform/SharedLibrary.h"

#include <windows.h>

#include "platform/Errors.h"
#include "platform/win/WinText.h"

namespace fr {

TSharedLibrary::TSharedLibrary(const std::string& Path) {
    // The library's own folder first for the DLLs it imports, as the platform loads add-ins.
    FHandle = ::LoadLibraryExW(win::Wide(Path).c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!FHandle) throw EFrError("Cannot load the add-in library: " + win::ErrorText(::GetLastError()));
}

void* TSharedLibrary::Symbol(const char* Name) const {
    return FHandle ? reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(FHandle), Name)) : nullptr;
}

void TSharedLibrary::Unload() {
    if (FHandle) ::FreeLibrary(static_cast<HMODULE>(FHandle));
    FHandle = nullptr;
}

}  // namespace fr
