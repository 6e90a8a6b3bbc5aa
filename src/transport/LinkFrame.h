#pragma once
// The frame both links share: STX, LEN, LEN message bytes, check byte (XOR of LEN and the message).

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/Bytes.h"

namespace fr::link {

inline constexpr std::uint8_t STX = 0x02;
inline constexpr std::uint8_t ENQ = 0x05;
inline constexpr std::uint8_t ACK = 0x06;
inline constexpr std::uint8_t NAK = 0x15;

inline constexpr int kAttempts = 3;
inline constexpr int kProbes = 3;
inline constexpr std::size_t kMaxMessage = 255;  // LEN is one byte

std::uint8_t CalcCheckSum(const std::uint8_t* Data, std::size_t Size);
inline std::uint8_t CalcCheckSum(const TBytes& Data) { return CalcCheckSum(Data.data(), Data.size()); }

// STX, LEN, the message, the check byte. The message must not exceed kMaxMessage.
TBytes BuildFrame(const TBytes& Message);

// Command code, optionally the password, then the data.
TBytes BuildMessage(const TBytes& ACmd, const TBytes& AConnectPwd, const TBytes& AData, bool ASendPwd);

enum class TFrameCheck { Good, BadLength, BadCheckByte };
// Judges a frame read as STX, LEN and whatever followed.
TFrameCheck CheckFrame(const TBytes& Frame);

// Cuts a good frame down to the answer body: no STX, LEN, check byte or echoed command code (one
// byte, two when the first is 0xFE or 0xFF). False when no result-code byte is left.
bool CutToAnswerBody(TBytes& Frame);

// Each byte as two upper-case hex digits and a space.
std::string HexDump(const std::uint8_t* Data, std::size_t Size);
inline std::string HexDump(const TBytes& Data) { return HexDump(Data.data(), Data.size()); }

// One trace line: Prefix ("-> " or "<- ") and the bytes; INFO when Ok, else ERROR.
void Trace(const char* Caption, const char* Prefix, const std::uint8_t* Data, std::size_t Size, bool Ok);
inline void Trace(const char* Caption, const char* Prefix, const TBytes& Data, bool Ok) {
    Trace(Caption, Prefix, Data.data(), Data.size(), Ok);
}
inline void Trace(const char* Caption, const char* Prefix, std::uint8_t Byte, bool Ok) {
    Trace(Caption, Prefix, &Byte, 1, Ok);
}
// A control byte awaited in vain: "<- no answer within N ms" (ERROR), not a byte that never came.
void TraceSilence(const char* Caption, int TimeoutMs);

}  // namespace fr::link
