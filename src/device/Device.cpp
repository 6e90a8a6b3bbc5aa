#include "device/Device.h"

#include <algorithm>
#include <limits>
#include <thread>

#include "framework/ErrorCodes.h"
#include "platform/Encoding.h"
#include "platform/Errors.h"

namespace fr {
namespace {

TBytes Cmd(std::uint8_t ACode) { return TBytes{ACode}; }
TBytes Cmd2(std::uint8_t ACode) { return TBytes{0xFF, ACode}; }

void Append(TBytes& ATo, const TBytes& AFrom) { ATo.insert(ATo.end(), AFrom.begin(), AFrom.end()); }

// Day, month, year - 2000; empty when the year does not fit the byte.
bool AppendDate(TBytes& AData, const TDateTimeParts& AParts) {
    if (AParts.Year < 2000 || AParts.Year > 2255) return false;
    AData.push_back(static_cast<std::uint8_t>(AParts.Day));
    AData.push_back(static_cast<std::uint8_t>(AParts.Month));
    AData.push_back(static_cast<std::uint8_t>(AParts.Year - 2000));
    return true;
}

constexpr std::uint8_t kModeDocumentOpen = 8;
constexpr std::uint8_t kModeDataOutput = 1;
constexpr std::uint8_t kModeShiftExpired = 3;
constexpr std::uint8_t kSubmodePrinting = 4;
constexpr int kResultPrintingPrevious = 80;
constexpr std::size_t kShortStateLength = 15;
constexpr std::size_t kFullStateLength = 47;
constexpr std::size_t kFieldStructLength = 43;
constexpr std::size_t kQRBlockSize = 64;
constexpr std::size_t kQRMaxBlocks = 256;
// A document holds at most 65535 bytes, so at most this many TLVs of 4 bytes or more.
constexpr int kMaxDocumentReads = 65536 / 4 + 1;

}  // namespace

// ---------------------------------------------------------------------------------------------
// Clock

std::chrono::steady_clock::time_point TDeviceClock::Now() const { return std::chrono::steady_clock::now(); }

void TDeviceClock::Sleep(std::chrono::milliseconds ADuration) { std::this_thread::sleep_for(ADuration); }

TDeviceClock& TDeviceClock::System() {
    static TDeviceClock clock;
    return clock;
}

// ---------------------------------------------------------------------------------------------
// Command exchange

TDevice::TDevice(TLinkProtocol* ALink) : FLink(ALink), FClock(&TDeviceClock::System()) {}

TDevice::~TDevice() = default;

int TDevice::RunCommand(const TBytes& ACmd, const TBytes& AData, int ATimeout, bool ASendPwd, bool AWaitResponse) {
    FResponse.clear();
    if (!FLink) return 0;
    return FLink->RunCommand(FResponse, FConnectPwd, ACmd, AData, ATimeout, ASendPwd, AWaitResponse);
}

int TDevice::CheckResultCode(int AErrorCode) const {
    if (AErrorCode != 0) return AErrorCode;
    if (FResponse.empty()) return errProtocol;
    return FResponse[0];
}

int TDevice::Execute(const TBytes& ACmd, const TBytes& AData, int ATimeout) {
    return CheckResultCode(RunCommand(ACmd, AData, ATimeout, true, true));
}

std::uint8_t TDevice::AnswerByte(std::size_t AIndex) const {
    return AIndex < FResponse.size() ? FResponse[AIndex] : 0;
}

TBytes TDevice::AnswerBytes(std::size_t AFirst, std::size_t ALast) const {
    if (AFirst >= FResponse.size() || ALast < AFirst) return {};
    const std::size_t end = std::min(ALast + 1, FResponse.size());
    return TBytes(FResponse.begin() + static_cast<std::ptrdiff_t>(AFirst),
                  FResponse.begin() + static_cast<std::ptrdiff_t>(end));
}

std::uint64_t TDevice::AnswerInt(std::size_t AFirst, std::size_t ALast) const {
    return LEBytesToInt(AnswerBytes(AFirst, ALast));
}

// ---------------------------------------------------------------------------------------------
// Life and accessors

int TDevice::Enable(int, int) { return 0; }
int TDevice::Enable(const std::string&, int) { return 0; }
void TDevice::Disable() {}

int TDevice::SetParams() { return GetLineLength(FLineLen); }

std::string TDevice::GetIPAddress() const { return FIPAddress; }
void TDevice::SetIPAddress(const std::string& AValue) { FIPAddress = AValue; }
int TDevice::GetTCPPort() const { return 0; }
void TDevice::SetTCPPort(int AValue) { FTCPPort = AValue; }
int TDevice::GetPortNumber() const { return 0; }
void TDevice::SetPortNumber(int) {}
int TDevice::GetBaudRate() const { return 0; }
void TDevice::SetBaudRate(int AValue) { FBaudRate = AValue; }

void TDevice::SetFeedCount(int AValue) { FFeedCount = (AValue >= 0 && AValue <= 255) ? AValue : 0; }

// ---------------------------------------------------------------------------------------------
// Table fields

int TDevice::GetLineLength(std::uint8_t& AValue) { return GetFieldAsByte(9, 1, 3, AValue); }

int TDevice::SetFieldAsByte(std::uint8_t ATable, std::uint8_t ARow, std::uint8_t ACol, std::uint8_t AValue) {
    return Execute(Cmd(0x1E), {ATable, ARow, 0, ACol, AValue});
}

int TDevice::SetFieldAsBCD(std::uint8_t ATable, std::uint8_t ARow, std::uint8_t ACol, std::int32_t AValue) {
    // Two BCD bytes hold four digits; a larger value would be cut to its leading digits.
    if (AValue < 0 || AValue > 9999) return errInvalidParameter;
    TBytes data{ATable, ARow, 0, ACol};
    Append(data, IntToBCDBytes(2, AValue));
    return Execute(Cmd(0x1E), data);
}

int TDevice::SetFieldAsStr(std::uint8_t ATable, std::uint16_t ARow, std::uint8_t ACol, const TBytes& AValue) {
    std::uint8_t size = 0;
    const int r = GetFieldStruct(ATable, ACol, size);
    if (r != 0) return r;
    TBytes data = IntToLEBytes(1, ATable);
    Append(data, IntToLEBytes(2, ARow));
    data.push_back(ACol);
    Append(data, PadToLength(AValue, size, 0));
    return Execute(Cmd(0x1E), data);
}

int TDevice::SetFieldAsHex(std::uint8_t ATable, std::uint16_t ARow, std::uint8_t ACol, const std::string& AValue,
                           std::uint8_t ASize) {
    TBytes data = IntToLEBytes(1, ATable);
    Append(data, IntToLEBytes(2, ARow));
    data.push_back(ACol);
    Append(data, HexToBytes(AValue, ASize));
    return Execute(Cmd(0x1E), data);
}

int TDevice::GetFieldAsByte(std::uint8_t ATable, std::uint8_t ARow, std::uint8_t ACol, std::uint8_t& AValue) {
    const int r = Execute(Cmd(0x1F), {ATable, ARow, 0, ACol});
    if (r == 0 && FResponse.size() >= 2) AValue = FResponse[1];
    return r;
}

int TDevice::GetFieldAsStr(std::uint8_t ATable, std::uint16_t ARow, std::uint8_t ACol, TBytes& AValue) {
    AValue.clear();
    TBytes data = IntToLEBytes(1, ATable);
    Append(data, IntToLEBytes(2, ARow));
    data.push_back(ACol);
    const int r = Execute(Cmd(0x1F), data);
    if (r == 0) AValue = AnswerBytes(1, FResponse.size());
    return r;
}

int TDevice::GetFieldAsHex(std::uint8_t ATable, std::uint16_t ARow, std::uint8_t ACol, std::string& AValue) {
    TBytes raw;
    const int r = GetFieldAsStr(ATable, ARow, ACol, raw);
    AValue = BytesToHexText(raw);
    return r;
}

int TDevice::GetFieldAsBIN(std::uint8_t ATable, std::uint8_t ARow, std::uint8_t ACol, const TBytes*& AValue) {
    const int r = Execute(Cmd(0x1F), {ATable, ARow, 0, ACol});
    if (r == 0 && FResponse.size() >= 2) AValue = &FResponse;
    return r;
}

int TDevice::GetFieldStruct(std::uint8_t ATable, std::uint8_t ACol, std::uint8_t& AFieldSize) {
    const int r = Execute(Cmd(0x2E), {ATable, ACol});
    if (r != 0) return r;
    if (FResponse.size() < kFieldStructLength) return errProtocol;
    AFieldSize = FResponse[42];
    return 0;
}

// ---------------------------------------------------------------------------------------------
// Fiscal-storage requisites

TBytes SetTLV(std::int32_t ATag, const TBytes& AValue) {
    TBytes tlv = IntToLEBytes(2, static_cast<std::uint16_t>(ATag));
    Append(tlv, IntToLEBytes(2, static_cast<std::uint16_t>(AValue.size())));
    Append(tlv, AValue);
    return tlv;
}

namespace {
bool FitsTLV(std::int32_t ATag, const TBytes& AValue) {
    return ATag >= 0 && ATag <= 0xFFFF && AValue.size() <= 0xFFFF;
}
}  // namespace

int TDevice::SetFNRequisite(std::int32_t ATag, const TBytes& AValue) {
    if (!FitsTLV(ATag, AValue)) return errInvalidParameter;
    return Execute(Cmd2(0x0C), SetTLV(ATag, AValue));
}

int TDevice::SetFNOperationRequisite(std::int32_t ATag, const TBytes& AValue) {
    if (!FitsTLV(ATag, AValue)) return errInvalidParameter;
    return Execute(Cmd2(0x4D), SetTLV(ATag, AValue));
}

int TDevice::SetFNOperationRequisite(std::int32_t ATag, const std::string& AValue) {
    return SetFNOperationRequisite(ATag, Utf8ToSingleByte(AValue, CodePage::Cp1251));
}

// ---------------------------------------------------------------------------------------------
// State, shift and reports

int TDevice::GetECRState(TBytes& AFlag, std::uint8_t& AMode, std::uint8_t& ASubmode) {
    AFlag.clear();
    const int r = Execute(Cmd(0x10));
    if (r == 0 && FResponse.size() >= kShortStateLength) {
        AFlag = AnswerBytes(2, 3);
        AMode = FResponse[4] & 0x0F;
        ASubmode = FResponse[5];
    }
    return r;
}

int TDevice::WaitForEndPrinting() {
    // A register stuck in printing must not hold the host's thread for ever.
    const auto deadline = FClock->Now() + kPrintWaitLimit;
    for (;;) {
        TBytes flags;
        std::uint8_t mode = 0, submode = 0;
        const int r = GetECRState(flags, mode, submode);
        if (r != 0) return r;
        if (submode < kSubmodePrinting) return 0;
        if (FClock->Now() >= deadline) return kResultDeviceBusy;
        FClock->Sleep(kPrintPollInterval);
    }
}

int TDevice::GetStateKKT(std::uint8_t& AMode) {
    const int r = Execute(Cmd(0x11));
    if (r != 0) return r;
    if (FResponse.size() < kFullStateLength) return errProtocol;
    AMode = FResponse[14];
    return 0;
}

int TDevice::GetDateTimeKKT(TDateTime& ADateTime) {
    const int r = Execute(Cmd(0x11));
    if (r != 0) return r;
    if (FResponse.size() < kFullStateLength) return errProtocol;
    TDateTimeParts p;
    p.Day = FResponse[24];
    p.Month = FResponse[25];
    p.Year = FResponse[26] + 2000;
    p.Hour = FResponse[27];
    p.Minute = FResponse[28];
    p.Second = FResponse[29];
    if (const auto dt = TryEncodeDateTime(p)) ADateTime = *dt;
    return 0;
}

int TDevice::SetDateTime(TDateTime AValue) {
    const TDateTimeParts p = DecodeDateTime(AValue);
    TBytes date;
    if (!AppendDate(date, p)) return errInvalidParameter;
    int r = Execute(Cmd(0x21), {static_cast<std::uint8_t>(p.Hour), static_cast<std::uint8_t>(p.Minute),
                                static_cast<std::uint8_t>(p.Second)});
    if (r != 0) return r;
    r = Execute(Cmd(0x22), date);
    if (r != 0) return r;
    return Execute(Cmd(0x23), date);
}

int TDevice::GetDeviceType(std::uint8_t& AProtocolVersion, std::uint8_t& AProtocolSubversion, std::uint8_t& ALngCode,
                           std::uint8_t& AModelIndex, std::string& AModelName) {
    AProtocolVersion = AProtocolSubversion = ALngCode = AModelIndex = 0;
    AModelName.clear();
    const int r = CheckResultCode(RunCommand(Cmd(0xFC), {}, kDeviceTypeTimeout, false, true));
    if (r != 0) return r;
    AProtocolVersion = AnswerByte(3);
    AProtocolSubversion = AnswerByte(4);
    AModelIndex = AnswerByte(5);
    ALngCode = AnswerByte(6);
    AModelName = SingleByteToUtf8(AnswerBytes(7, FResponse.size()), CodePage::Cp1251);
    return 0;
}

int TDevice::GetCurrentSessionParams(std::uint8_t& AFNSessionState, std::int64_t& ASessionNumber,
                                     std::int64_t& AReceiptNumber) {
    WaitForEndPrinting();
    const int r = Execute(Cmd2(0x40));
    if (r == 0 && FResponse.size() >= 6) {
        AFNSessionState = FResponse[1];
        ASessionNumber = static_cast<std::int64_t>(AnswerInt(2, 3));
        AReceiptNumber = static_cast<std::int64_t>(AnswerInt(4, 5));
    }
    return r;
}

int TDevice::IsDayOpened(std::uint8_t& AState) {
    std::uint8_t state = 0xFF;
    std::int64_t session = 0, receipt = 0;
    int r = GetCurrentSessionParams(state, session, receipt);
    if (r != 0) return r;
    std::uint8_t mode = 0;
    r = GetStateKKT(mode);
    if (r != 0) return r;
    if (mode == kModeShiftExpired) state = 2;
    if (state <= 2) AState = state;
    return 0;
}

int TDevice::ShiftCommand(const TBytes& ABeginCmd, const TBytes& AFinalCmd, int ATimeout, const TBytes& ACashierName,
                          const TBytes& ACashierVATIN) {
    if (!ACashierName.empty()) {
        int r = Execute(ABeginCmd);
        if (r != 0) return r;
        r = SetFNRequisite(1021, ACashierName);
        if (r != 0) return r;
        if (!ACashierVATIN.empty() && SetFNRequisite(1203, ACashierVATIN) != 0) return kResultIncorrectINN;
    }
    WaitForEndPrinting();
    return Execute(AFinalCmd, {}, ATimeout);
}

int TDevice::OpenDay(const TBytes& ACashierName, const TBytes& ACashierVATIN) {
    return ShiftCommand(Cmd2(0x41), Cmd(0xE0), kOpenShiftTimeout, ACashierName, ACashierVATIN);
}

int TDevice::ZReport(const TBytes& ACashierName, const TBytes& ACashierVATIN) {
    return ShiftCommand(Cmd2(0x42), Cmd(0x41), kZReportTimeout, ACashierName, ACashierVATIN);
}

int TDevice::CalculationStateReport(const TBytes& ACashierName, const TBytes& ACashierVATIN) {
    if (!TrimBytes(ACashierName).empty()) {
        int r = Execute(Cmd2(0x37));
        if (r != 0) return r;
        r = SetFNRequisite(1021, ACashierName);
        if (r != 0) return r;
        if (!TrimBytes(ACashierVATIN).empty() && SetFNRequisite(1203, ACashierVATIN) != 0) return kResultIncorrectINN;
    }
    // "Printing the previous command" means the report was taken only when the register had
    // finished printing; after a wait that gave up it is a refusal like any other.
    const bool printed = WaitForEndPrinting() == 0;
    const int r = Execute(Cmd2(0x38));
    return r == kResultPrintingPrevious && printed ? 0 : r;
}

int TDevice::XReport() {
    WaitForEndPrinting();
    return Execute(Cmd(0x40));
}

int TDevice::Encash(TCurrencyValue ASumm) {
    if (ASumm == 0) return 0;
    if (ASumm == std::numeric_limits<TCurrencyValue>::min()) return errInvalidParameter;
    TBytes data;
    if (!AppendMoney(data, ASumm < 0 ? -ASumm : ASumm)) return errInvalidParameter;
    WaitForEndPrinting();
    return Execute(Cmd(ASumm > 0 ? 0x50 : 0x51), data);
}

int TDevice::GetOperationReg(std::uint8_t ARegNum, TBytes& AData) {
    AData.clear();
    const int r = Execute(Cmd(0x1B), {ARegNum});
    if (r == 0 && FResponse.size() >= 5) AData = AnswerBytes(3, 4);
    return r;
}

int TDevice::GetOperationRegAsInt(std::uint8_t ARegNum, std::int32_t& AData) {
    const int r = Execute(Cmd(0x1B), {ARegNum});
    if (r == 0 && FResponse.size() >= 5) AData = static_cast<std::int32_t>(AnswerInt(3, 4));
    return r;
}

int TDevice::GetMoneyReg(std::uint8_t ARegNum, std::int64_t& AValue) {
    const int r = Execute(Cmd(0x1A), {ARegNum});
    if (r == 0) {
        if (FResponse.size() < 8) return errProtocol;
        AValue = static_cast<std::int64_t>(AnswerInt(2, 7));
    }
    return r;
}

int TDevice::ContinuePrint() { return Execute(Cmd(0xB0)); }

int TDevice::Beep() { return RunCommand(Cmd(0x13), {}, kDefaultTimeout, true, true); }

// ---------------------------------------------------------------------------------------------
// Receipts

int TDevice::OpenReceipt(std::uint8_t APaymentType) {
    WaitForEndPrinting();
    return Execute(Cmd(0x8D), {APaymentType});
}

int TDevice::RegisterItem(std::uint8_t APaymentType, double AQuantity, TCurrencyValue APrice, TCurrencyValue ASum,
                          TCurrencyValue ATaxSum, std::uint8_t ATax, std::uint8_t ADepartment,
                          std::uint8_t ASignMethodCalculation, std::uint8_t ASignCalculationObject,
                          const TBytes& AName) {
    TBytes data{APaymentType};
    if (!AppendQuantity(data, AQuantity) || !AppendMoney(data, APrice) || !AppendMoney(data, ASum))
        return errInvalidParameter;
    if (ATaxSum == 0) {
        // Marks "no tax sum given" to the register.
        data.insert(data.end(), 5, 0xFF);
    } else if (!AppendMoney(data, ATaxSum)) {
        return errInvalidParameter;
    }
    data.push_back(ATax);
    data.push_back(ADepartment);
    data.push_back(ASignMethodCalculation);
    data.push_back(ASignCalculationObject);
    data.push_back('/');
    data.push_back('/');
    Append(data, AName);
    return Execute(Cmd2(0x46), data);
}

int TDevice::CloseCheckEx(const TCloseCheckData& AData, std::string& AFiscalSign, std::int64_t& ADocumentNumber) {
    TBytes data;
    for (TCurrencyValue sum : AData.Sums)
        if (!AppendMoney(data, sum)) return errInvalidParameter;
    if (!AppendMoney(data, AData.RoundSum, 1)) return errInvalidParameter;
    for (TCurrencyValue tax : AData.Taxes)
        if (!AppendMoney(data, tax)) return errInvalidParameter;
    data.push_back(AData.TaxVariant);
    Append(data, AData.Text);

    WaitForEndPrinting();
    const int r = Execute(Cmd2(0x45), data);
    if (r != 0) return r;
    AFiscalSign = std::to_string(AnswerInt(10, 13));
    ADocumentNumber = static_cast<std::int64_t>(AnswerInt(6, 9));
    return 0;
}

int TDevice::CancelReceipt() {
    TBytes flags;
    std::uint8_t mode = 0, submode = 0;
    const int r = GetECRState(flags, mode, submode);
    if (r != 0) return r;
    if (FResponse.size() >= kShortStateLength && mode == kModeDocumentOpen) return Execute(Cmd(0x88));
    return 0;
}

bool TDevice::ReceiptOpen() {
    TBytes flags;
    std::uint8_t mode = 0, submode = 0;
    return GetECRState(flags, mode, submode) == 0 && FResponse.size() >= kShortStateLength &&
           mode == kModeDocumentOpen;
}

int TDevice::ProcessCorrectionCheck(const TCorrectionCheckData& AData, std::string& AFiscalSign,
                                    std::int64_t& ADocumentNumber) {
    // Every field is encoded before the first command, so a value that does not fit is refused
    // before a correction document is begun.
    TBytes data{AData.CorrectionType, AData.PaymentType};
    for (TCurrencyValue sum : {AData.CorrectionSum, AData.Cash, AData.ElectronicPayment, AData.AdvancePayment, AData.Credit,
                          AData.CashProvision, AData.SumTAX20, AData.SumTAX10, AData.SumTAX0, AData.SumTAXNone,
                          AData.SumTAX120, AData.SumTAX110})
        if (!AppendMoney(data, sum)) return errInvalidParameter;
    data.push_back(AData.TaxVariant);

    const std::int64_t baseTime = DateToUnixTime(AData.CorrectionBaseDate);
    if (baseTime < 0 || baseTime > 0xFFFFFFFFll) return errInvalidParameter;
    if (!FitsTLV(1177, AData.BaseCorrection) || !FitsTLV(1179, AData.DocNumberCorrection) ||
        !FitsTLV(1021, AData.CashierName) || !FitsTLV(1203, AData.CashierVATIN))
        return errInvalidParameter;

    int r = Execute(Cmd2(0x35));
    if (r != 0) return r;
    if (!TrimBytes(AData.CashierName).empty()) {
        r = SetFNRequisite(1021, AData.CashierName);
        if (r != 0) return r;
    }
    if (!TrimBytes(AData.CashierVATIN).empty() && SetFNRequisite(1203, AData.CashierVATIN) != 0)
        return kResultIncorrectINN;
    if (!TrimBytes(AData.BaseCorrection).empty()) {
        r = SetFNRequisite(1177, ToOemText(AData.BaseCorrection));
        if (r != 0) return r;
    }
    r = SetFNRequisite(1178, IntToLEBytes(4, static_cast<std::uint64_t>(baseTime)));
    if (r != 0) return r;
    if (!TrimBytes(AData.DocNumberCorrection).empty()) {
        r = SetFNRequisite(1179, ToOemText(AData.DocNumberCorrection));
        if (r != 0) return r;
    }
    WaitForEndPrinting();
    r = Execute(Cmd2(0x4A), data);
    if (r != 0) return r;
    AFiscalSign = std::to_string(AnswerInt(7, 10));
    ADocumentNumber = static_cast<std::int64_t>(AnswerInt(3, 6));
    return 0;
}

// ---------------------------------------------------------------------------------------------
// Printing

int TDevice::PrintLine(std::uint8_t ACmd, std::uint8_t AFlag, const TBytes& APrefix, const TBytes& AData) {
    TBytes data{AFlag};
    Append(data, APrefix);
    Append(data, AData);
    return Execute(Cmd(ACmd), data);
}

int TDevice::PrintNormalString(std::uint8_t AFlag, const TBytes& AData) { return PrintLine(0x17, AFlag, {}, AData); }
int TDevice::PrintBoldString(std::uint8_t AFlag, const TBytes& AData) { return PrintLine(0x12, AFlag, {}, AData); }
int TDevice::PrintFontString(std::uint8_t AFlag, const TBytes& AData) { return PrintLine(0x2F, AFlag, {0x01}, AData); }

int TDevice::PrintString(const TBytes& AText) {
    if (AText.empty()) return 0;
    auto start = AText.begin();
    for (;;) {
        const auto end = std::find(start, AText.end(), 0x0D);
        // A line length of 0 (never reported by a register) prints each line whole.
        for (const TBytes& piece : SplitByLength(TBytes(start, end), FLineLen)) {
            const int r = PrintNormalString(3, piece);
            if (r != 0) return r;
        }
        if (end == AText.end()) return 0;
        start = end + 1;
    }
}

int TDevice::PrintDocTitle(const TBytes& AData) {
    TBytes data = PadToLength(AData, 30, 0);
    data.push_back(0x00);
    data.push_back(0x01);
    return Execute(Cmd(0x18), data);
}

int TDevice::PrintEAN13(const std::string& ABarCode) {
    const std::string digits = ABarCode.substr(0, 12);
    std::uint64_t value = 0;
    if (digits.empty()) throw EConvertError("'' is not a valid integer value");
    for (char c : digits) {
        if (c < '0' || c > '9') throw EConvertError("'" + digits + "' is not a valid integer value");
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    WaitForEndPrinting();
    return Execute(Cmd(0xC2), IntToLEBytes(5, value));
}

int TDevice::PrintQRCode(const TBytes& AData) {
    if (AData.empty()) return errProtocol;
    const std::vector<TBytes> blocks = SplitByLength(AData, kQRBlockSize);
    // The block number is one byte.
    if (blocks.size() > kQRMaxBlocks) return errInvalidParameter;
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        TBytes data{0x00, static_cast<std::uint8_t>(i)};
        Append(data, blocks[i]);
        const int r = Execute(Cmd(0xDD), data);
        if (r != 0) return r;
    }
    WaitForEndPrinting();
    TBytes data{0x03};
    Append(data, IntToLEBytes(2, AData.size()));
    Append(data, {0x00, 0x00, 0x08, static_cast<std::uint8_t>(FQRSize), 0x00, 0x02, 0x01});
    return Execute(Cmd(0xDE), data);
}

int TDevice::Cut(bool AFullCut) {
    WaitForEndPrinting();
    if (FDisableCut) return 0;
    return Execute(Cmd(0x25), {static_cast<std::uint8_t>(AFullCut ? 0 : 1)});
}

int TDevice::Feed(std::uint8_t ALineCount) {
    WaitForEndPrinting();
    return Execute(Cmd(0x29), {0x02, ALineCount});
}

void TDevice::FeedAndCut(std::uint8_t ALineCount) {
    Feed(ALineCount);
    Cut(false);
}

int TDevice::OpenDrawer() { return Execute(Cmd(0x28), {0x00}); }

// ---------------------------------------------------------------------------------------------
// Fiscal-storage reads and reports

int TDevice::GetFNCurrentStatus(std::uint8_t& AFNLifeState, std::uint8_t& AFNCurrentDocument,
                                std::uint8_t& AFNDocumentData, std::uint8_t& AFNSessionState,
                                std::uint8_t& AFNWarningFlags, std::int64_t& ADocumentNumber) {
    const int r = Execute(Cmd2(0x01));
    if (r == 0 && FResponse.size() >= 6) {
        AFNLifeState = FResponse[1];
        AFNCurrentDocument = FResponse[2];
        AFNDocumentData = FResponse[3];
        AFNSessionState = FResponse[4];
        AFNWarningFlags = FResponse[5];
        ADocumentNumber = static_cast<std::int64_t>(AnswerInt(27, 30));
    }
    return r;
}

int TDevice::GetFiscalizationParameters(TDateTime& AFiscDateTime, TBytes& AUserINN, TBytes& ARegNum,
                                        std::int32_t& ATaxSystem, std::int64_t& ADocNumber) {
    AUserINN.clear();
    ARegNum.clear();
    const int r = Execute(Cmd2(0x09));
    if (r != 0 || FResponse.size() < 48) return r;
    TDateTimeParts p;
    p.Year = FResponse[1] + 2000;
    p.Month = FResponse[2];
    p.Day = FResponse[3];
    p.Hour = FResponse[4];
    p.Minute = FResponse[5];
    if (const auto dt = TryEncodeDateTime(p)) AFiscDateTime = *dt;
    AUserINN = TrimBytes(AnswerBytes(6, 17));
    ARegNum = TrimBytes(AnswerBytes(18, 37));
    ATaxSystem = FResponse[38];
    ADocNumber = static_cast<std::int64_t>(FResponse.size() == 48 ? AnswerInt(40, 43) : AnswerInt(41, 44));
    return 0;
}

int TDevice::GetFNInfoExchangeStatus(std::int32_t& ADocCount, std::int64_t& ADocFirstNumber,
                                     TDateTime& ADocFirstDateTime) {
    const int r = Execute(Cmd2(0x39));
    if (r != 0 || FResponse.size() < 6) return r;
    ADocCount = static_cast<std::int32_t>(AnswerInt(3, 4));
    ADocFirstNumber = static_cast<std::int64_t>(AnswerInt(5, 8));
    if (FResponse.size() >= 14) {
        TDateTimeParts p;
        p.Year = FResponse[9] + 2000;
        p.Month = FResponse[10];
        p.Day = FResponse[11];
        p.Hour = FResponse[12];
        p.Minute = FResponse[13];
        if (const auto dt = TryEncodeDateTime(p)) ADocFirstDateTime = *dt;
    }
    return 0;
}

int TDevice::GetFNRequestFiscalDocumentTLV(std::int32_t ADocNumber, std::int32_t& ADocType,
                                           std::int32_t& ADocLength) {
    if (ADocNumber < 0) return errInvalidParameter;
    WaitForEndPrinting();
    const int r = Execute(Cmd2(0x3A), IntToLEBytes(4, static_cast<std::uint32_t>(ADocNumber)));
    if (r == 0 && FResponse.size() >= 5) {
        ADocType = static_cast<std::int32_t>(AnswerInt(1, 2));
        ADocLength = static_cast<std::int32_t>(AnswerInt(3, 4));
    }
    return r;
}

int TDevice::GetFNReadFiscalDocumentTLV(TBytes& AData) {
    AData.clear();
    const int r = Execute(Cmd2(0x3B));
    if (r == 0) AData = AnswerBytes(1, FResponse.size());
    return r;
}

void TDevice::UnlockDataOutputMode() {
    std::uint8_t mode = 0;
    if (GetStateKKT(mode) != 0 || mode != kModeDataOutput) return;
    // Bounded: a register that never reports the end cannot hold the host for ever.
    TBytes tlv;
    for (int i = 0; i < kMaxDocumentReads; ++i) {
        GetFNReadFiscalDocumentTLV(tlv);
        if (tlv.empty()) return;
    }
}

int TDevice::FNBeginRegistrationReport(std::uint8_t ATypeReport) { return Execute(Cmd2(0x05), {ATypeReport}); }

int TDevice::FNBuildRegistrationReport(const TBytes& AUserINN, const TBytes& ARegNumber, std::uint8_t ATaxVariant,
                                       std::uint8_t AMode) {
    TBytes data = AUserINN;
    Append(data, ARegNumber);
    data.push_back(ATaxVariant);
    data.push_back(AMode);
    WaitForEndPrinting();
    return Execute(Cmd2(0x06), data, kRegistrationReportTimeout);
}

int TDevice::FNBuildReregistrationReport(const TBytes& AUserINN, const TBytes& ARegNumber, std::uint8_t ATaxVariant,
                                         std::uint8_t AMode, std::uint8_t AReasonCode) {
    TBytes data = AUserINN;
    Append(data, ARegNumber);
    data.push_back(ATaxVariant);
    data.push_back(AMode);
    data.push_back(AReasonCode);
    WaitForEndPrinting();
    return Execute(Cmd2(0x34), data, kRegistrationReportTimeout);
}

int TDevice::FNClose() {
    WaitForEndPrinting();
    return Execute(Cmd2(0x3E), {}, kFNCloseTimeout);
}

}  // namespace fr
