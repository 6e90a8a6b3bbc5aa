#pragma once
// A temporary folder for one test, removed afterwards; optionally the data folder
// (FR_APPDATA_DIR) for the test's duration.

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <sstream>
#include <string>

#include "platform/System.h"

namespace fr::test {

class TTempDir {
public:
    TTempDir() {
        // A fresh folder: create_directory fails on a name that exists, so no two tests share one.
        std::random_device random;
        for (int attempt = 0;; ++attempt) {
            const auto path = std::filesystem::temp_directory_path() / ("frtest." + std::to_string(random()));
            if (std::filesystem::create_directory(path)) {
                FPath = path.generic_string() + "/";
                break;
            }
            if (attempt == 100) throw std::runtime_error("cannot create a temporary folder");
        }
    }
    ~TTempDir() {
        std::error_code ec;
        std::filesystem::remove_all(FPath, ec);
    }
    TTempDir(const TTempDir&) = delete;
    TTempDir& operator=(const TTempDir&) = delete;

    // With a trailing '/'.
    const std::string& Path() const { return FPath; }

private:
    std::string FPath;
};

// Points the data folder at a fresh temporary folder while alive.
class TTempAppData {
public:
    TTempAppData() {
        if (const char* old = std::getenv("FR_APPDATA_DIR")) FOld = old;
        SetEnvironmentValue("FR_APPDATA_DIR", FDir.Path());
    }
    ~TTempAppData() {
        if (FOld)
            SetEnvironmentValue("FR_APPDATA_DIR", *FOld);
        else
            ClearEnvironmentValue("FR_APPDATA_DIR");
    }
    const std::string& Path() const { return FDir.Path(); }

private:
    TTempDir FDir;
    std::optional<std::string> FOld;
};

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

}  // namespace fr::test
