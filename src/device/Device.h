#pragma once
// The register as the driver sees it: every device operation becomes one or more commands
// (code, connection password, data) handed to the link, and the answer's result-code byte is
// checked. All operations return 0 or a result code; none throws for a register refusal.
//
// Choices where the register's protocol leaves room:
// - no answer byte is read past the end of an answer; bytes missing from a short answer count as
//   absent (0), and a field-structure answer without its size byte (under 43 bytes) is 1014;
// - a value that does not fit its field (negative money, 2^40 kopecks or more, a rounding sum over
//   255 kopecks, a quantity outside 6 bytes, a BCD value over 9999, a year outside 2000..2255, a
//   TLV over 65535 bytes, QR data over 256 blocks) is refused with 1004 before anything is sent;
// - WaitForEndPrinting gives up after kPrintWaitLimit with 1009 ("Устройство занято");
// - PrintString with a line length of 0 sends each line whole;
// - UnlockDataOutputMode reads at most as many TLVs as the largest document can hold;
// - table rows given as 16 bits are sent whole, so a row above 255 is not silently wrapped.

#include <array>
#include <chrono>
#include <cstdint>
#include <string>

#include "device/Codec.h"
#include "device/DeviceDateTime.h"
#include "platform/Bytes.h"
#include "transport/LinkProtocol.h"

namespace fr {

// Time source of the polling waits. Tests substitute one that advances without sleeping.
class TDeviceClock {
public:
    virtual ~TDeviceClock() = default;
    virtual std::chrono::steady_clock::time_point Now() const;
    virtual void Sleep(std::chrono::milliseconds ADuration);
    // The real clock, shared by every device.
    static TDeviceClock& System();
};

// Command time-outs in ms; 0 is the link's default.
inline constexpr int kDefaultTimeout = 0;
inline constexpr int kOpenShiftTimeout = 10000;
inline constexpr int kZReportTimeout = 40000;
inline constexpr int kRegistrationReportTimeout = 5000;
inline constexpr int kFNCloseTimeout = 2000;
inline constexpr int kDeviceTypeTimeout = 2000;

// WaitForEndPrinting polls this often, and gives up with kResultDeviceBusy after kPrintWaitLimit.
inline constexpr std::chrono::milliseconds kPrintPollInterval{200};
inline constexpr std::chrono::minutes kPrintWaitLimit{5};
inline constexpr int kResultDeviceBusy = 1009;     // "Устройство занято"
inline constexpr int kResultIncorrectINN = 3026;   // "Некорректный ИНН"

// Data of the extended receipt close (0xFF 0x45).
struct TCloseCheckData {
    std::array<TCurrencyValue, 16> Sums{};  // payment slots 1 to 16
    TCurrencyValue RoundSum = 0;            // kopecks must fit one byte
    std::array<TCurrencyValue, 6> Taxes{};  // tax groups 1 to 6
    std::uint8_t TaxVariant = 0;
    TBytes Text;
};

// Data of a correction receipt (0xFF 0x35 ... 0xFF 0x4A).
struct TCorrectionCheckData {
    std::uint8_t CorrectionType = 0;
    std::uint8_t PaymentType = 0;
    std::uint8_t TaxVariant = 0;
    TCurrencyValue CorrectionSum = 0, Cash = 0, ElectronicPayment = 0, AdvancePayment = 0, Credit = 0,
              CashProvision = 0, SumTAX20 = 0, SumTAX10 = 0, SumTAX0 = 0, SumTAXNone = 0, SumTAX120 = 0,
              SumTAX110 = 0;
    TBytes BaseCorrection;       // ANSI; sent as OEM text (1177)
    TBytes DocNumberCorrection;  // ANSI; sent as OEM text (1179)
    TDateTime CorrectionBaseDate = 0;
    TBytes CashierName;   // already OEM
    TBytes CashierVATIN;
};

class TDevice {
public:
    // ALink is not owned; without one, commands send nothing and answer nothing.
    explicit TDevice(TLinkProtocol* ALink = nullptr);
    virtual ~TDevice();
    TDevice(const TDevice&) = delete;
    TDevice& operator=(const TDevice&) = delete;

    // --- command exchange ---
    virtual int RunCommand(const TBytes& ACmd, const TBytes& AData, int ATimeout, bool ASendPwd,
                           bool AWaitResponse);
    int CheckResultCode(int AErrorCode) const;
    // The last answer: result code, then the answer data.
    const TBytes& Response() const { return FResponse; }

    // --- life ---
    virtual int Enable(int APort, int ABaud);
    virtual int Enable(const std::string& AIPAddress, int ATCPPort);
    virtual void Disable();
    // Why the last Enable could not open the connection, in the user's words; empty when unknown.
    virtual std::string ConnectionErrorText() const { return {}; }
    // Reads the line length into FLineLen: the first command after connecting.
    int SetParams();

    // --- settings and connection accessors ---
    virtual std::string GetIPAddress() const;
    virtual void SetIPAddress(const std::string& AValue);
    virtual int GetTCPPort() const;
    virtual void SetTCPPort(int AValue);
    virtual int GetPortNumber() const;
    virtual void SetPortNumber(int AValue);
    virtual int GetBaudRate() const;
    virtual void SetBaudRate(int AValue);
    int GetConnectionType() const { return FConnectionType; }
    void SetConnectionType(int AValue) { FConnectionType = AValue; }
    void SetConnectPwd(const TBytes& AValue) { FConnectPwd = AValue; }
    const TBytes& GetConnectPwd() const { return FConnectPwd; }
    void SetOperatorPwd(const TBytes& AValue) { FOperatorPwd = AValue; }
    const TBytes& GetOperatorPwd() const { return FOperatorPwd; }
    std::uint8_t GetLineLen() const { return FLineLen; }
    void SetLineLen(int AValue) { FLineLen = static_cast<std::uint8_t>(AValue); }
    std::uint8_t GetFRLineLen() const { return FFRLineLen; }
    void SetFRLineLen(std::uint8_t AValue) { FFRLineLen = AValue; }
    int GetQRSize() const { return FQRSize; }
    void SetQRSize(int AValue) { FQRSize = AValue; }
    int GetFeedCount() const { return FFeedCount; }
    // 0 to 255; anything else stores 0.
    void SetFeedCount(int AValue);
    bool GetDisableCut() const { return FDisableCut; }
    void SetDisableCut(bool AValue) { FDisableCut = AValue; }
    const std::string& GetCutString() const { return FCutString; }
    void SetCutString(const std::string& AValue) { FCutString = AValue; }

    // The clock of the polling waits (not owned; the system clock by default). The driver's own
    // waits use it too, so one substitute covers both in tests.
    void SetClock(TDeviceClock* AClock) { FClock = AClock ? AClock : &TDeviceClock::System(); }
    TDeviceClock& Clock() const { return *FClock; }

    // --- table fields ---
    int GetLineLength(std::uint8_t& AValue);
    int SetFieldAsByte(std::uint8_t ATable, std::uint8_t ARow, std::uint8_t ACol, std::uint8_t AValue);
    int SetFieldAsBCD(std::uint8_t ATable, std::uint8_t ARow, std::uint8_t ACol, std::int32_t AValue);
    int SetFieldAsStr(std::uint8_t ATable, std::uint16_t ARow, std::uint8_t ACol, const TBytes& AValue);
    int SetFieldAsHex(std::uint8_t ATable, std::uint16_t ARow, std::uint8_t ACol, const std::string& AValue,
                      std::uint8_t ASize);
    int GetFieldAsByte(std::uint8_t ATable, std::uint8_t ARow, std::uint8_t ACol, std::uint8_t& AValue);
    int GetFieldAsStr(std::uint8_t ATable, std::uint16_t ARow, std::uint8_t ACol, TBytes& AValue);
    int GetFieldAsHex(std::uint8_t ATable, std::uint16_t ARow, std::uint8_t ACol, std::string& AValue);
    // AValue points at the answer buffer (result code, field bytes), valid until the next command.
    int GetFieldAsBIN(std::uint8_t ATable, std::uint8_t ARow, std::uint8_t ACol, const TBytes*& AValue);
    int GetFieldStruct(std::uint8_t ATable, std::uint8_t ACol, std::uint8_t& AFieldSize);

    // --- fiscal-storage requisites ---
    int SetFNRequisite(std::int32_t ATag, const TBytes& AValue);
    int SetFNOperationRequisite(std::int32_t ATag, const TBytes& AValue);
    // UTF-8 text, sent in code page 1251.
    int SetFNOperationRequisite(std::int32_t ATag, const std::string& AValue);

    // --- state, shift and reports ---
    int GetECRState(TBytes& AFlag, std::uint8_t& AMode, std::uint8_t& ASubmode);
    int GetStateKKT(std::uint8_t& AMode);
    int GetDateTimeKKT(TDateTime& ADateTime);
    int SetDateTime(TDateTime AValue);
    int GetDeviceType(std::uint8_t& AProtocolVersion, std::uint8_t& AProtocolSubversion, std::uint8_t& ALngCode,
                      std::uint8_t& AModelIndex, std::string& AModelName);
    int GetCurrentSessionParams(std::uint8_t& AFNSessionState, std::int64_t& ASessionNumber,
                                std::int64_t& AReceiptNumber);
    int IsDayOpened(std::uint8_t& AState);
    int OpenDay(const TBytes& ACashierName, const TBytes& ACashierVATIN);
    int XReport();
    int ZReport(const TBytes& ACashierName, const TBytes& ACashierVATIN);
    int CalculationStateReport(const TBytes& ACashierName, const TBytes& ACashierVATIN);
    int Encash(TCurrencyValue ASumm);
    int GetOperationReg(std::uint8_t ARegNum, TBytes& AData);
    int GetOperationRegAsInt(std::uint8_t ARegNum, std::int32_t& AData);
    // A money register (0x1A) in kopecks; 241 is the cash in the till.
    int GetMoneyReg(std::uint8_t ARegNum, std::int64_t& AValue);
    int WaitForEndPrinting();
    int ContinuePrint();
    int Beep();

    // --- receipts ---
    int OpenReceipt(std::uint8_t APaymentType);
    int RegisterItem(std::uint8_t APaymentType, double AQuantity, TCurrencyValue APrice, TCurrencyValue ASum, TCurrencyValue ATaxSum,
                     std::uint8_t ATax, std::uint8_t ADepartment, std::uint8_t ASignMethodCalculation,
                     std::uint8_t ASignCalculationObject, const TBytes& AName);
    int CloseCheckEx(const TCloseCheckData& AData, std::string& AFiscalSign, std::int64_t& ADocumentNumber);
    int CancelReceipt();
    // True when the register reports a receipt open (false also when it cannot be asked).
    bool ReceiptOpen();
    int ProcessCorrectionCheck(const TCorrectionCheckData& AData, std::string& AFiscalSign,
                               std::int64_t& ADocumentNumber);

    // --- printing ---
    int PrintString(const TBytes& AText);
    int PrintNormalString(std::uint8_t AFlag, const TBytes& AData);
    int PrintBoldString(std::uint8_t AFlag, const TBytes& AData);
    int PrintFontString(std::uint8_t AFlag, const TBytes& AData);
    int PrintDocTitle(const TBytes& AData);
    // Throws EConvertError when the first 12 characters are not a decimal number.
    int PrintEAN13(const std::string& ABarCode);
    int PrintQRCode(const TBytes& AData);
    int Cut(bool AFullCut);
    int Feed(std::uint8_t ALineCount);
    void FeedAndCut(std::uint8_t ALineCount);
    int OpenDrawer();

    // --- fiscal-storage reads and reports ---
    int GetFNCurrentStatus(std::uint8_t& AFNLifeState, std::uint8_t& AFNCurrentDocument, std::uint8_t& AFNDocumentData,
                           std::uint8_t& AFNSessionState, std::uint8_t& AFNWarningFlags, std::int64_t& ADocumentNumber);
    int GetFiscalizationParameters(TDateTime& AFiscDateTime, TBytes& AUserINN, TBytes& ARegNum,
                                   std::int32_t& ATaxSystem, std::int64_t& ADocNumber);
    int GetFNInfoExchangeStatus(std::int32_t& ADocCount, std::int64_t& ADocFirstNumber, TDateTime& ADocFirstDateTime);
    int GetFNRequestFiscalDocumentTLV(std::int32_t ADocNumber, std::int32_t& ADocType, std::int32_t& ADocLength);
    int GetFNReadFiscalDocumentTLV(TBytes& AData);
    void UnlockDataOutputMode();
    int FNBeginRegistrationReport(std::uint8_t ATypeReport);
    int FNBuildRegistrationReport(const TBytes& AUserINN, const TBytes& ARegNumber, std::uint8_t ATaxVariant,
                                  std::uint8_t AMode);
    int FNBuildReregistrationReport(const TBytes& AUserINN, const TBytes& ARegNumber, std::uint8_t ATaxVariant,
                                    std::uint8_t AMode, std::uint8_t AReasonCode);
    int FNClose();

protected:
    void SetLink(TLinkProtocol* ALink) { FLink = ALink; }

    TBytes FResponse;
    int FConnectionType = 0;
    std::uint8_t FLineLen = 0;
    std::uint8_t FFRLineLen = 0;
    int FQRSize = 0;
    TBytes FOperatorPwd;
    TBytes FConnectPwd;
    int FPortNumber = 0;
    int FBaudRate = 0;
    std::string FIPAddress;
    int FTCPPort = 0;
    std::string FCutString;
    int FFeedCount = 0;
    bool FDisableCut = false;

private:
    // One command with the password, through CheckResultCode.
    int Execute(const TBytes& ACmd, const TBytes& AData = {}, int ATimeout = kDefaultTimeout);
    // Answer bytes that lie inside the answer; those beyond its end are absent (0).
    std::uint8_t AnswerByte(std::size_t AIndex) const;
    TBytes AnswerBytes(std::size_t AFirst, std::size_t ALast) const;
    std::uint64_t AnswerInt(std::size_t AFirst, std::size_t ALast) const;
    int PrintLine(std::uint8_t ACmd, std::uint8_t AFlag, const TBytes& APrefix, const TBytes& AData);
    // OpenDay and ZReport share everything but their two commands and the final time-out.
    int ShiftCommand(const TBytes& ABeginCmd, const TBytes& AFinalCmd, int ATimeout, const TBytes& ACashierName,
                     const TBytes& ACashierVATIN);

    TLinkProtocol* FLink;
    TDeviceClock* FClock;
};

// One TLV: tag and length as 2-byte little-endian numbers, then the value.
TBytes SetTLV(std::int32_t ATag, const TBytes& AValue);

}  // namespace fr
