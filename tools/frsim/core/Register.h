#pragma once
// The register model: answers one command message with one answer message. No I/O, no locks:
// TSimulator serialises every access.

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "Simulator.h"
#include "platform/Bytes.h"

namespace fr::sim {

// Result codes the model answers with.
namespace rc {
inline constexpr std::uint8_t Ok = 0, BadFormat = 1, FnState = 2, NoData = 8, OpenShift = 60,
                              PaymentLow = 69, NoCash = 70, WrongReceiptType = 73,
                              ReceiptOpen = 74, NonCashTooBig = 77, ShiftExpired = 78,
                              BadPassword = 79, Printing = 80, ReceiptClosed = 85,
                              WaitContinue = 88, NoTable = 93, BadDepartment = 99,
                              NoPaper = 107, NotInMode = 115, ReadOnlyField = 122,
                              DateMismatch = 124, BadDate = 125, TotalOverflow = 127,
                              ZeroReceipt = 142, FieldTooLong = 144, TooManyItems = 148,
                              TlvTooBig = 16, BadParam = 51, TaxNotRegistered = 53;
}  // namespace rc

struct TFnDocument {
    std::uint32_t Number = 0;
    std::uint16_t Type = 0;  // 1 registration, 2 shift open, 3 receipt, 5 shift close,
                             // 6 FN close, 11 re-registration, 21 settlements, 31 correction
    std::int64_t Time = 0;
    std::uint32_t Sign = 0;
    bool Sent = false;
    std::vector<TBytes> Tlvs;  // top-level TLV records, each tag+length+value
};

class TRegister {
public:
    using TSteadyNow = std::function<std::chrono::steady_clock::time_point()>;
    explicit TRegister(TSteadyNow steadyNow);

    TBytes Execute(const TBytes& message);

    // Control.
    void SetFiscal(bool fiscal);
    bool OpenShiftDirect();
    void SetLineWidth(int width);
    void SetClock(std::int64_t t);
    void AdvanceClock(std::int64_t s) { SetClock(Now() + s); }
    void SetClockRunning(bool running);
    void SetPaper(bool loaded);
    void SetPaperOutAfter(int lines) { FPaperLeft = lines; }
    void SetPrintMillis(int ms) { FPrintMillis = ms < 0 ? 0 : ms; }
    void SetFnWarnings(std::uint8_t f) { FFnWarnings = f; }
    void SetPassword(std::uint32_t p) { FPassword = p; }
    void MarkSent();
    TSimStatus Status() const;
    const std::vector<TTapeEntry>& Tape() const { return FTape; }
    void ClearTape() { FTape.clear(); }

    nlohmann::json ToJson() const;
    void FromJson(const nlohmann::json& j);

    std::int64_t Now() const;

private:
    using TAnswer = TBytes;  // result code, then data
    struct TItem {
        std::uint8_t Op = 0;
        std::uint64_t Qty = 0, Price = 0, Sum = 0, TaxSum = 0;
        std::uint8_t Tax = 0, Dept = 0, Method = 0, Object = 0;
        TBytes Name;
        std::vector<TBytes> Requisites;
    };
    enum class TContext { None, OpenShift, CloseShift, Settlements, Correction, Registration };
    struct TFieldDef {
        int Size;
        bool Text;
        bool ReadOnly;
        const char* Name;
    };

    // Command handlers; data excludes code and password.
    TAnswer ShortState();
    TAnswer FullState();
    TAnswer ReadRegister(const TBytes& d);
    TAnswer ReadMoneyRegister(const TBytes& d);
    TAnswer SetTime(const TBytes& d);
    TAnswer SetDate(const TBytes& d, bool confirm);
    TAnswer WriteField(const TBytes& d);
    TAnswer ReadField(const TBytes& d);
    TAnswer FieldStruct(const TBytes& d);
    TAnswer XReport();
    TAnswer ZReport();
    TAnswer Encash(const TBytes& d, bool in);
    TAnswer ContinuePrint();
    TAnswer OpenShiftCmd();
    TAnswer DeviceType();
    TAnswer PrintLine(std::uint8_t cmd, const TBytes& d);
    TAnswer PrintTitle(const TBytes& d);
    TAnswer PrintEan13(const TBytes& d);
    TAnswer LoadBlock(const TBytes& d);
    TAnswer Print2D(const TBytes& d);
    TAnswer Cut(const TBytes& d);
    TAnswer Feed(const TBytes& d);
    TAnswer Drawer(const TBytes& d);
    TAnswer OpenReceipt(const TBytes& d);
    TAnswer CancelReceipt();
    TAnswer RegisterItem(const TBytes& d);
    TAnswer ItemRequisite(const TBytes& d);
    TAnswer DocRequisite(const TBytes& d);
    TAnswer CloseReceipt(const TBytes& d);
    TAnswer BeginCorrection();
    TAnswer Correction(const TBytes& d);
    TAnswer FnStatus();
    TAnswer FnRegistration();
    TAnswer FnExchange();
    TAnswer FnRequestDoc(const TBytes& d);
    TAnswer FnReadTlv();
    TAnswer BeginRegistration(const TBytes& d);
    TAnswer BuildRegistration(const TBytes& d, bool re);
    TAnswer CloseFn();
    TAnswer Begin(TContext c);
    TAnswer Settlements();
    TAnswer ShiftParams();

    // Helpers.
    TAnswer Run(std::uint16_t code, const TBytes& d);
    int Mode() const;
    int Submode() const;
    bool Busy() const;
    bool ShiftExpired() const;
    std::optional<std::uint8_t> PrintCheck() const;  // refusal for a printing command
    void Print(const std::string& utf8, std::uint8_t flags = 2, int style = 0);
    void PrintEntry(const TTapeEntry& e, int lines);
    void EndDocument(int busySubmode = 5);
    void StartBusy(int busySubmode = 5);
    const TFieldDef* Field(int table, int field) const;
    TBytes& FieldValue(int table, int field);
    std::string FieldText(int table, int field) const;  // CP1251 bytes up to the first zero
    TBytes FieldOem(int table, int field) const;
    std::uint8_t FieldByte(int table, int field) const;
    TFnDocument& AddDocument(std::uint16_t type, std::vector<TBytes> tlvs);
    std::vector<TBytes> TakePending();
    void CommonTags(std::vector<TBytes>& t) const;
    bool Register(const std::string& inn, const std::string& rnm, std::uint8_t tax,
                  std::uint8_t mode, int reason);
    std::uint32_t Sign(std::uint32_t doc, std::int64_t time, std::uint64_t total) const;
    void ResetTables();

    TSteadyNow FSteadyNow;
    std::uint32_t FPassword = 30;
    // Clock: FClockBase at FClockRef, running when FClockRunning.
    std::int64_t FClockBase = 0;
    std::chrono::steady_clock::time_point FClockRef;
    bool FClockRunning = true;
    std::optional<std::array<std::uint8_t, 3>> FPendingDate;
    // Fiscal storage.
    bool FFiscal = false, FFnClosed = false;
    std::string FFnSerial = "9999078900012345";
    std::uint8_t FFnWarnings = 0;
    std::uint32_t FLastDoc = 0;
    struct {
        bool Present = false;
        std::int64_t Time = 0;
        std::string Inn, Rnm;
        std::uint8_t Tax = 0, Mode = 0;
        std::uint32_t Doc = 0, Sign = 0;
    } FReg;
    std::vector<TFnDocument> FDocs;
    bool FShortRegAnswer = false;
    // Shift and counters.
    bool FShiftOpen = false;
    int FShiftNumber = 0;
    std::int64_t FShiftOpenedAt = 0;
    int FReceiptNumber = 0;
    int FShiftDocs = 0;
    std::map<int, std::uint16_t> FOpRegs;
    std::int64_t FCash = 0;
    int FDocumentCounter = 0;  // every printed document, for the full state
    // Tables: key table*256+field (row 1 only).
    std::map<int, TBytes> FTables;
    // Paper and printing.
    bool FPaper = true;
    int FPaperState = 0;  // 0 normal, 2 ran out in a document, 3 loaded, waiting for 0xB0
    int FPaperLeft = -1;
    std::vector<std::pair<TTapeEntry, int>> FHeld;  // printed after 0xB0
    int FPrintMillis = 0;
    std::chrono::steady_clock::time_point FBusyUntil{};
    int FBusySubmode = 5;  // 4 for the long shift reports
    std::vector<TTapeEntry> FTape;
    std::vector<TBytes> FQrBlocks;
    int FDrawerOpenings = 0;
    // Open documents.
    bool FReceiptOpen = false;
    std::uint8_t FReceiptType = 0;
    std::vector<TItem> FItems;
    bool FCorrectionOpen = false;
    TContext FContext = TContext::None;
    std::vector<TBytes> FPending;
    // Data output (0xFF 0x3A / 0xFF 0x3B).
    std::optional<std::size_t> FOutDoc;
    std::size_t FOutPos = 0;

    friend class TSimulator;
};

}  // namespace fr::sim
