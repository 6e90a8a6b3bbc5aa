#include "transport/LinkFrame.h"

#include "framework/Log.h"

namespace fr::link {

std::uint8_t CalcCheckSum(const std::uint8_t* Data, std::size_t Size) {
    std::uint8_t sum = 0;
    for (std::size_t i = 0; i < Size; ++i) sum ^= Data[i];
    return sum;
}

TBytes BuildFrame(const TBytes& Message) {
    TBytes frame;
    frame.reserve(Message.size() + 3);
    frame.push_back(STX);
    frame.push_back(static_cast<std::uint8_t>(Message.size()));
    frame.insert(frame.end(), Message.begin(), Message.end());
    frame.push_back(CalcCheckSum(frame.data() + 1, frame.size() - 1));
    return frame;
}

TBytes BuildMessage(const TBytes& ACmd, const TBytes& AConnectPwd, const TBytes& AData, bool ASendPwd) {
    TBytes message;
    message.reserve(ACmd.size() + AConnectPwd.size() + AData.size());
    message.insert(message.end(), ACmd.begin(), ACmd.end());
    if (ASendPwd) message.insert(message.end(), AConnectPwd.begin(), AConnectPwd.end());
    message.insert(message.end(), AData.begin(), AData.end());
    return message;
}

TFrameCheck CheckFrame(const TBytes& Frame) {
    if (Frame.size() < 3 || Frame.size() != std::size_t{Frame[1]} + 3) return TFrameCheck::BadLength;
    if (CalcCheckSum(Frame.data() + 1, Frame.size() - 2) != Frame.back()) return TFrameCheck::BadCheckByte;
    return TFrameCheck::Good;
}

bool CutToAnswerBody(TBytes& Frame) {
    if (Frame.size() < 3) {
        Frame.clear();
        return false;
    }
    std::size_t skip = 2;  // STX, LEN
    const std::size_t end = Frame.size() - 1;
    if (skip < end) skip += Frame[skip] < 0xFE ? 1 : 2;
    if (skip >= end) {
        Frame.clear();
        return false;
    }
    Frame.erase(Frame.begin() + static_cast<std::ptrdiff_t>(end), Frame.end());
    Frame.erase(Frame.begin(), Frame.begin() + static_cast<std::ptrdiff_t>(skip));
    return true;
}

std::string HexDump(const std::uint8_t* Data, std::size_t Size) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(Size * 3);
    for (std::size_t i = 0; i < Size; ++i) {
        text += kDigits[Data[i] >> 4];
        text += kDigits[Data[i] & 0x0F];
        text += ' ';
    }
    return text;
}

void Trace(const char* Caption, const char* Prefix, const std::uint8_t* Data, std::size_t Size, bool Ok) {
    if (TLog::LogLevel() == 0) return;  // spare the formatting on the hot path
    TLog::Append(Caption, Prefix + HexDump(Data, Size), Ok ? TLog::mtInfo : TLog::mtError);
}

void TraceSilence(const char* Caption, int TimeoutMs) {
    if (TLog::LogLevel() == 0) return;
    TLog::Append(Caption, "<- no answer within " + std::to_string(TimeoutMs) + " ms", TLog::mtError);
}

}  // namespace fr::link
