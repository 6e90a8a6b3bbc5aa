// A register that answers garbage: every device operation the driver uses, each command answered
// with bytes from the fuzz input (or a link failure), so every answer parser sees short, long and
// malformed answers.
//
// Input: a list of operation numbers and answers. Each command takes one answer record: a control
// byte (7: no answer, 6: malformed frame, otherwise an answer), a length byte and the answer body
// (result-code byte first, as the link hands it over).
// Properties: every operation returns (0 or a code) without throwing anything but the documented
// conversion error; a receipt or correction is reported closed only when the register's answer
// to the closing command said 0.

#include <cstdint>
#include <string>

#include "FuzzSupport.h"
#include "framework/Log.h"
#include "platform/Errors.h"

namespace {

using namespace fr;

class TScriptedLink : public TLinkProtocol {
public:
    explicit TScriptedLink(fuzz::TInput& AInput) : FInput(AInput) {}
    int RunCommand(TBytes& AResponse, const TBytes&, const TBytes& ACmd, const TBytes&, int, bool,
                   bool AWaitResponse) override {
        AResponse.clear();
        LastCommand = ACmd;
        LastResult = -1;
        if (FInput.Empty()) return 1007;
        const std::uint8_t control = FInput.Byte() % 8;
        if (control == 7) return 1007;
        if (control == 6) return 1014;
        TBytes body = FInput.Piece();
        if (!AWaitResponse) return 0;
        if (body.empty()) return 1014;  // the link never hands over an answer without a result code
        AResponse = std::move(body);
        LastResult = AResponse[0];
        return 0;
    }

    TBytes LastCommand;
    int LastResult = -1;

private:
    fuzz::TInput& FInput;
};

class TScriptedDevice : public TDevice {
public:
    explicit TScriptedDevice(TLinkProtocol* ALink) : TDevice(ALink) {}
};

bool IsCommand(const TBytes& ACmd, std::uint8_t AFirst, std::uint8_t ASecond) {
    return ACmd.size() == 2 && ACmd[0] == AFirst && ACmd[1] == ASecond;
}

void RunOperation(TDevice& d, TScriptedLink& link, int AOp, fuzz::TInput& in) {
    TBytes b;
    std::string s;
    std::uint8_t u8 = 0, v1 = 0, v2 = 0, v3 = 0, v4 = 0;
    std::int64_t i64 = 0, j64 = 0;
    std::int32_t i32 = 0, j32 = 0;
    TDateTime dt = 0;
    const TBytes* bin = nullptr;
    const TBytes name{'A', 'B'};
    switch (AOp) {
        case 0: d.GetECRState(b, u8, v1); break;
        case 1: d.GetStateKKT(u8); break;
        case 2: d.GetDateTimeKKT(dt); break;
        case 3: d.GetDeviceType(u8, v1, v2, v3, s); break;
        case 4: d.GetCurrentSessionParams(u8, i64, j64); break;
        case 5: d.IsDayOpened(u8); break;
        case 6: d.OpenDay(name, {}); break;
        case 7: d.ZReport(name, {}); break;
        case 8: d.CalculationStateReport(name, {}); break;
        case 9: d.GetOperationReg(in.Byte(), b); break;
        case 10: d.GetOperationRegAsInt(in.Byte(), i32); break;
        case 11: d.WaitForEndPrinting(); break;
        case 12: d.GetLineLength(u8); break;
        case 13: d.GetFieldAsByte(in.Byte(), 1, in.Byte(), u8); break;
        case 14: d.GetFieldAsStr(in.Byte(), 1, in.Byte(), b); break;
        case 15: d.GetFieldAsHex(in.Byte(), 1, in.Byte(), s); break;
        case 16: d.GetFieldAsBIN(in.Byte(), 1, in.Byte(), bin); break;
        case 17: d.GetFieldStruct(in.Byte(), in.Byte(), u8); break;
        case 18: d.GetFNCurrentStatus(u8, v1, v2, v3, v4, i64); break;
        case 19: d.GetFiscalizationParameters(dt, b, b, i32, i64); break;
        case 20: d.GetFNInfoExchangeStatus(i32, i64, dt); break;
        case 21: d.GetFNRequestFiscalDocumentTLV(in.Word(), i32, j32); break;
        case 22: d.GetFNReadFiscalDocumentTLV(b); break;
        case 23: d.UnlockDataOutputMode(); break;
        case 24: d.SetParams(); break;
        case 25: d.SetFieldAsStr(1, 1, 1, name); break;
        case 26: d.SetFieldAsHex(1, 1, 1, "0A0B", 2); break;
        case 27: d.OpenReceipt(in.Byte() % 4); break;
        case 28: d.RegisterItem(1, 1.0, 100, 100, 0, 1, 1, 4, 1, name); break;
        case 29: {
            TCloseCheckData data;
            data.Sums[0] = 1000000;
            const int r = d.CloseCheckEx(data, s, i64);
            if (r == 0)
                FR_FUZZ_CHECK(IsCommand(link.LastCommand, 0xFF, 0x45) && link.LastResult == 0,
                              "receipt reported closed after an answer with result %d", link.LastResult);
            break;
        }
        case 30: {
            TCorrectionCheckData data;
            data.CorrectionSum = 1000000;
            data.Cash = 1000000;
            const int r = d.ProcessCorrectionCheck(data, s, i64);
            if (r == 0)
                FR_FUZZ_CHECK(link.LastResult == 0, "correction reported closed after an answer with result %d",
                              link.LastResult);
            break;
        }
        case 31: d.CancelReceipt(); break;
        case 32: d.FNBeginRegistrationReport(0); break;
        case 33: d.FNBuildRegistrationReport(TBytes(12, '1'), TBytes(16, '2'), 1, 0); break;
        case 34: d.FNClose(); break;
        case 35: d.PrintString(TBytes(in.Byte(), 'x')); break;
        case 36: d.PrintQRCode(TBytes(in.Byte(), 'q')); break;
        case 37: d.Encash(in.Word()); break;
        case 38: d.SetDateTime(46000.5); break;
        case 39: d.ContinuePrint(); break;
        default: d.Beep(); break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* AData, std::size_t ASize) {
    static const bool quiet = (TLog::SetLogLevel(0), true);
    (void)quiet;
    fuzz::TInput in(AData, ASize);
    TScriptedLink link(in);
    TScriptedDevice device(&link);
    fuzz::TInstantClock clock;
    device.SetClock(&clock);
    device.SetConnectPwd(TBytes{30, 0, 0, 0});
    device.SetLineLen(32);
    for (int i = 0; i < 32 && !in.Empty(); ++i) {
        const int op = in.Byte() % 41;
        try {
            RunOperation(device, link, op, in);
        } catch (const EConvertError&) {
            // PrintEAN13 and the date conversions document this one.
        }
    }
    return 0;
}
