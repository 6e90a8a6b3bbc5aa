#include "platform/System.h"

#include <windows.h>
#include <sddl.h>
#include <shlobj.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include <fmt/format.h>

#include "platform/Errors.h"
#include "platform/win/WinText.h"

#ifndef FR_VERSION_TEXT
#define FR_VERSION_TEXT "1.0.0.1"
#endif

namespace fr {
namespace {

// The module that holds this code: the add-in DLL, or the executable it is linked into.
HMODULE ThisModule() {
    HMODULE module = nullptr;
    ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                         reinterpret_cast<LPCWSTR>(&ThisModule), &module);
    return module;
}

std::wstring ModulePath(HMODULE Module) {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = ::GetModuleFileNameW(Module, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0) return {};
        if (n < path.size()) {
            path.resize(n);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

std::string WithSeparator(std::string Dir) {
    if (Dir.back() != '/' && Dir.back() != '\\') Dir += '\\';
    return Dir;
}

// Every local user may create files in the folder and read, write and append to any of them;
// administrators and the system keep full control. Inherited by files and subfolders.
constexpr const wchar_t* kSharedFolderAcl = L"D:(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1301bf;;;BU)";

bool CreateSharedFolder(const std::wstring& Dir) {
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(kSharedFolderAcl, SDDL_REVISION_1, &sd, nullptr))
        return ::CreateDirectoryW(Dir.c_str(), nullptr) != 0;
    SECURITY_ATTRIBUTES sa{sizeof sa, sd, FALSE};
    const BOOL ok = ::CreateDirectoryW(Dir.c_str(), &sa);
    const DWORD err = ::GetLastError();
    ::LocalFree(sd);
    ::SetLastError(err);
    return ok != 0;
}

}  // namespace

std::string CommonAppDataDir() {
    if (const char* env = std::getenv("FR_APPDATA_DIR"); env && *env) return WithSeparator(env);
    wchar_t path[MAX_PATH] = {};
    if (SUCCEEDED(::SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, path)))
        return WithSeparator(win::Narrow(path));
    return "C:\\ProgramData\\";
}

// The folder inherits no shared rights: a folder created under the per-user application data is
// the user's own by Windows' defaults, so that is where it goes unless the data folder was set.
std::string PrivateDirectory(const std::string& ADir, const std::string& AName) {
    std::string base = ADir;
    wchar_t path[MAX_PATH] = {};
    const char* env = std::getenv("FR_APPDATA_DIR");
    if (!(env && *env) && SUCCEEDED(::SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, path)))
        base = WithSeparator(win::Narrow(path)) + kModuleBaseName + "\\";
    // The session's own name: GetUserNameW may go through a service the host process cannot
    // reach (it blocks under wine), and the folder is the user's by where it lies anyway.
    const wchar_t* user = ::_wgetenv(L"USERNAME");
    std::string owner = user && *user ? win::Narrow(user) : "user";
    for (char& c : owner)
        if (c == '\\' || c == '/' || c == ':') c = '_';
    const std::string dir = base + AName + "-" + owner;
    ForceDirectories(base);
    // Not through ForceDirectories, which would give the folder the shared rights.
    if (!::CreateDirectoryW(win::Wide(dir).c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS)
        throw EOSError("Cannot create directory " + dir, static_cast<int>(::GetLastError()));
    return dir + "\\";
}

void ForceDirectories(const std::string& dir) {
    namespace fs = std::filesystem;
    fs::path p(win::Wide(dir));
    if (!p.has_filename()) p = p.parent_path();
    std::vector<fs::path> missing;
    for (fs::path q = p; !q.empty() && ::GetFileAttributesW(q.c_str()) == INVALID_FILE_ATTRIBUTES; q = q.parent_path()) {
        missing.push_back(q);
        if (q == q.parent_path()) break;
    }
    for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
        // Only the requested folder is shared; parents get the default security.
        const bool shared = it == std::prev(missing.rend());
        const BOOL ok = shared ? CreateSharedFolder(it->native()) : ::CreateDirectoryW(it->c_str(), nullptr);
        if (!ok && ::GetLastError() != ERROR_ALREADY_EXISTS) {
            const DWORD err = ::GetLastError();
            throw EOSError("Cannot create directory " + win::Narrow(it->native()), static_cast<int>(err),
                           win::ErrorText(err));
        }
    }
}

std::string ModuleFileName() {
    const std::wstring path = ModulePath(ThisModule());
    return path.empty() ? std::string(kModuleBaseName) : win::Narrow(path);
}

void SetEnvironmentValue(const std::string& Name, const std::string& Value) {
    // The C runtime's copy is what getenv reads.
    ::_putenv_s(Name.c_str(), Value.c_str());
}

void ClearEnvironmentValue(const std::string& Name) { ::_putenv_s(Name.c_str(), ""); }

std::string ModuleVersionText() {
    // The file version of the module's own version resource; the build's version when the module
    // carries none (a test executable).
    const HMODULE module = ThisModule();
    const HRSRC res = ::FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(16));  // RT_VERSION
    const HGLOBAL data = res ? ::LoadResource(module, res) : nullptr;
    const auto* bytes = static_cast<const unsigned char*>(data ? ::LockResource(data) : nullptr);
    const DWORD size = res ? ::SizeofResource(module, res) : 0;
    for (DWORD i = 0; bytes && i + sizeof(VS_FIXEDFILEINFO) <= size; i += 4) {
        VS_FIXEDFILEINFO info;
        std::memcpy(&info, bytes + i, sizeof info);
        if (info.dwSignature != 0xFEEF04BD) continue;
        return fmt::format("{}.{}.{}.{}", HIWORD(info.dwFileVersionMS), LOWORD(info.dwFileVersionMS),
                           HIWORD(info.dwFileVersionLS), LOWORD(info.dwFileVersionLS));
    }
    return FR_VERSION_TEXT;
}

std::string HostExeName() {
    if (!detail::HostExeOverride().empty()) return detail::HostExeOverride();
    return ExtractFileName(win::Narrow(ModulePath(nullptr)));
}

std::string OSVersionText() {
    // RtlGetVersion reports the running system's version; GetVersionEx would report the one the
    // executable's manifest claims to know.
    RTL_OSVERSIONINFOW v{};
    v.dwOSVersionInfoSize = sizeof v;
    using TRtlGetVersion = LONG(WINAPI*)(RTL_OSVERSIONINFOW*);
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    const auto get = ntdll ? reinterpret_cast<TRtlGetVersion>(
                                 reinterpret_cast<void*>(::GetProcAddress(ntdll, "RtlGetVersion")))
                           : nullptr;
    if (!get || get(&v) != 0) return "Windows";
    SYSTEM_INFO si{};
    ::GetNativeSystemInfo(&si);
    const char* machine = si.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64   ? "x64"
                          : si.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_ARM64 ? "arm64"
                          : si.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_INTEL ? "x86"
                                                                                      : "unknown";
    return fmt::format("Windows {}.{}.{} ({})", v.dwMajorVersion, v.dwMinorVersion, v.dwBuildNumber, machine);
}

}  // namespace fr
