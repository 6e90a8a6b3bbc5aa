#include "platform/SharedLibrary.h"

#include <dlfcn.h>

#include "platform/Errors.h"

namespace fr {

TSharedLibrary::TSharedLibrary(const std::string& Path) {
    FHandle = ::dlopen(Path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!FHandle) throw EFrError(std::string("Cannot load the add-in library: ") + ::dlerror());
}

void* TSharedLibrary::Symbol(const char* Name) const { return FHandle ? ::dlsym(FHandle, Name) : nullptr; }

void TSharedLibrary::Unload() {
    if (FHandle) ::dlclose(FHandle);
    FHandle = nullptr;
}

}  // namespace fr
