#pragma once
// A shared library loaded at run time (dlopen / LoadLibrary). The library stays loaded after
// this object is gone unless Unload is called: code of the library may still run at exit.

#include <string>

namespace fr {

class TSharedLibrary {
public:
    // Loads Path; throws EFrError with the system's reason.
    explicit TSharedLibrary(const std::string& Path);
    TSharedLibrary(const TSharedLibrary&) = delete;
    TSharedLibrary& operator=(const TSharedLibrary&) = delete;

    // The exported function Name, or nullptr.
    void* Symbol(const char* Name) const;
    void Unload();

private:
    void* FHandle = nullptr;
};

}  // namespace fr
