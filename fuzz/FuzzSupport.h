#pragma once
// Shared pieces of the fuzz targets: a private data folder, a clock whose waits cost nothing,
// a register reached without a link, a property check that survives release builds, and a reader
// over the fuzz input.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "device/Device.h"
#include "device/InstantClock.h"
#include "platform/Bytes.h"
#include "transport/LinkFrame.h"

namespace fr::fuzz {

using test::TInstantClock;

// A property of the target does not hold: report it as a crash, so libFuzzer keeps the input.
#define FR_FUZZ_CHECK(cond, ...)                                                \
    do {                                                                        \
        if (!(cond)) {                                                          \
            std::fprintf(stderr, "property failed: %s: ", #cond);               \
            std::fprintf(stderr, __VA_ARGS__);                                  \
            std::fprintf(stderr, "\n");                                         \
            std::abort();                                                       \
        }                                                                       \
    } while (0)

// Points FR_APPDATA_DIR at a fresh folder for the whole process (log and COM links go there).
inline const std::string& PrivateDataFolder() {
    static const std::string dir = [] {
        char tmpl[] = "/tmp/frfuzz.XXXXXX";
        if (::mkdtemp(tmpl) == nullptr) std::abort();
        ::setenv("FR_APPDATA_DIR", tmpl, 1);
        return std::string(tmpl) + "/";
    }();
    return dir;
}

// Well-formed UTF-8: no stray continuation bytes, no overlong forms, no surrogates, nothing
// above U+10FFFF.
inline bool IsUtf8(std::string_view AText) {
    std::size_t i = 0;
    while (i < AText.size()) {
        const auto c = static_cast<unsigned char>(AText[i]);
        std::size_t n = c < 0x80 ? 0 : (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : 9;
        if (n == 9 || i + n >= AText.size() + (n ? 0 : 1)) return false;
        char32_t cp = n == 0 ? c : n == 1 ? c & 0x1F : n == 2 ? c & 0x0F : c & 0x07;
        for (std::size_t k = 1; k <= n; ++k) {
            const auto d = static_cast<unsigned char>(AText[i + k]);
            if ((d & 0xC0) != 0x80) return false;
            cp = cp << 6 | (d & 0x3F);
        }
        static constexpr char32_t kLeast[] = {0, 0x80, 0x800, 0x10000};
        if (cp < kLeast[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        i += n + 1;
    }
    return true;
}

// Takes the fuzz input apart front to back; reads past the end give zeros and empty pieces.
class TInput {
public:
    TInput(const std::uint8_t* AData, std::size_t ASize) : FData(AData), FSize(ASize) {}
    bool Empty() const { return FPos >= FSize; }
    std::size_t Left() const { return FSize - FPos; }
    std::uint8_t Byte() { return FPos < FSize ? FData[FPos++] : 0; }
    std::uint16_t Word() { return static_cast<std::uint16_t>(Byte() | Byte() << 8); }
    TBytes Bytes(std::size_t ACount) {
        const std::size_t n = ACount < Left() ? ACount : Left();
        TBytes b(FData + FPos, FData + FPos + n);
        FPos += n;
        return b;
    }
    TBytes Rest() { return Bytes(Left()); }
    // A piece with a one-byte length in front.
    TBytes Piece() { return Bytes(Byte()); }

private:
    const std::uint8_t* FData;
    std::size_t FSize;
    std::size_t FPos = 0;
};

}  // namespace fr::fuzz
