#pragma once
// The fiscal-register driver the host creates: its settings and parameter table, the connection
// to the register (Open/Close), the frame every host operation runs in, and the helpers around
// printed documents.
//
// Files of this folder: Driver.cpp (settings, parameter table), DriverConnection.cpp (enable,
// disable, the operation frame, line length, common table values), PrintState.cpp (interrupted
// print, waiting for paper, cutting).
//
// Choices where the register's behaviour leaves room:
// - an operation before the first Open answers 1005 instead of touching a missing device, except
//   GetLineLength, which answers the default width;
// - Enable's result is also that of its closing line-length query, so a register that stops
//   answering half-way through Open is not reported as connected;
// - over TCP a failed Open closes its connection too (the register serves one host at a time);
// - "MaxReceiptRowLength" above 255 means 255, the widest a line length byte can say;
// - an exception passing through an operation is logged as 1001 with its message, not as the
//   result reached before it;
// - WaitPrintCompletion continues a document at most kMaxPrintContinuations times.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "device/Device.h"
#include "driver/DocumentRecovery.h"
#include "driver/ReceiptTables.h"
#include "driver/FiscalTags.h"
#include "framework/BaseDriverECR.h"

namespace fr {

// Result codes of the print helpers (the host's equipment table).
inline constexpr int errDeviceNotReady = 1005;          // "Устройство не найдено или не проинициализировано"
inline constexpr int errPrintFailed = 3027;             // "Ошибка печати чека (документа)"
inline constexpr int errPreviousDocumentPrinted = 3028; // "Завершена печать предыдущего чека (документа)"

// Register submodes the print helpers test.
inline constexpr std::uint8_t kSubmodePaperOut = 2;         // print interrupted, waiting for paper
inline constexpr std::uint8_t kSubmodeAwaitingContinue = 3; // paper loaded, waiting for "continue print"

// WaitPrintCompletion: how long the user gets to load paper, as polls of the register state.
inline constexpr int kPaperWaitPolls = 100;
inline constexpr std::chrono::milliseconds kPaperWaitPollInterval{1000};
// A register that keeps running out of paper is continued at most this often within one wait.
inline constexpr int kMaxPrintContinuations = 20;

// The table 1 field that says the register cuts by itself.
inline constexpr std::uint8_t kAutoCutTable = 1, kAutoCutRow = 1, kAutoCutField = 7;
// The table of the common values (GetCommonValue*/SetCommonValue*).
inline constexpr std::uint8_t kCommonValueTable = 2, kCommonValueRow = 1;

// "PortNumber" that selects the register over TCP.
inline constexpr int kTcpPortNumber = 9999;

class TDocumentEnvironment;
struct TReceiptOutputs;
struct TSideChannels;

class TDriver : public TBaseDriverECR {
public:
    static constexpr const char* kClassName = "TDriver";

    // The body of a host operation: returns 0 or the result that ends the operation.
    using TOperationBody = std::function<std::int32_t()>;
    // Runs at completion before the connection is closed, with the operation's result (receipts
    // cancel an unfinished receipt here).
    using TOperationCompletion = std::function<void(std::int32_t AResult)>;

    explicit TDriver(TCreateKey AKey);
    ~TDriver() override;

    // The embedded table with the default of "LogDir" set to the log folder under the data
    // folder (with a trailing '/').
    std::string GetParameters() override;
    // The parameter table calls the connection password "ConnectPwd"; a value the host passes
    // back under that name goes to "ConnectPassword" instead of being dropped.
    int CallSetParameter(TVariant& pvarRetValue, TParams& paParams) override;

    // ---- connection ----
    // Reads the settings, sets up the log, creates the serial or TCP device afresh, connects,
    // reads the auto-cut flag and the line length. Over TCP no connection stays open afterwards.
    using TBaseDriverECR::Enable;
    std::int32_t Enable() override;
    // Closes the port or the connection; the device object stays until the next Enable.
    void Disable() override;

    // In the operation frame: the register's line length, or "MaxReceiptRowLength" when positive.
    // Before the first Open: the stored width (40), result 0, nothing logged.
    std::int32_t GetLineLength(std::int32_t& ALineLength) override;

    // The frame of every host operation:
    //   1. log "Start <AName>";
    //   2. ConnectForOperation (over TCP a connection of its own); a failure skips the body;
    //   3. ABody();
    //   4. always, also when an exception passes through: ACompletion(result) when given,
    //      DisconnectAfterOperation, FLastResultDescription := text of the result (with FExtError
    //      and FExtErrorDescr appended, which are then reset), log "<AName> [%d] - %s" (INFO for 0,
    //      ERROR otherwise). An exception is logged as 1001 with its message and passed on.
    // Returns the result; the caller stores it in FLastResultCode as the handlers do.
    std::int32_t RunOperation(std::string_view AName, const TOperationBody& ABody,
                              const TOperationCompletion& ACompletion = {});

    // Over TCP: drop any connection and connect again (connect and line-length query). Serial: 0.
    // Without a device (no Open yet): 1005.
    std::int32_t ConnectForOperation();
    // Over TCP: close the connection. Serial: nothing.
    void DisconnectAfterOperation();

    // ---- print state ----
    // Before a document: finishes a document the register interrupted for lack of paper. 0 when
    // nothing was pending, 3028 when the earlier document has now been printed (the caller then
    // stops), 3027 when it could not be, or the register's refusal of "continue print".
    std::int32_t CheckPrintState();
    // After a document: waits for the printing to end, giving the user kPaperWaitPolls polls to
    // load paper. 0, 3027, or the register's refusal of "continue print".
    std::int32_t WaitPrintCompletion();
    // Feeds and cuts unless ANoCut, or ARespectAutoCut and the register cuts by itself. A line
    // count of -1 cuts partially without feeding; other counts are clamped to 0..255 lines.
    void CutAfterDocument(bool ANoCut, bool ARespectAutoCut, std::int32_t ALineCount);

    // ---- table 2, row 1 ("common values") ----
    std::int32_t GetCommonValueBool(std::uint8_t ANum, bool& AValue);
    std::int32_t GetCommonValueByte(std::uint8_t ANum, std::uint8_t& AValue);
    std::int32_t GetCommonValueHex(std::uint8_t ANum, std::string& AValue);
    // AValue points into the device's answer buffer, valid until its next command.
    std::int32_t GetCommonValueBIN(std::uint8_t ANum, const TBytes*& AValue);
    std::int32_t SetCommonValueBool(std::uint8_t ANum, bool AValue);
    std::int32_t SetCommonValueByte(std::uint8_t ANum, std::uint8_t AValue);
    std::int32_t SetCommonValueBCD(std::uint8_t ANum, std::int32_t AValue);
    std::int32_t SetCommonValueHex(std::uint8_t ANum, const std::string& AValue, std::uint8_t ASize);

    // ==== receipts, correction receipts, text documents (DriverDocuments.cpp) ====
    // Each runs its body (DocumentOperations.h) in the operation frame. The fiscal sign and the
    // site address are emptied on entry; the numbers are written only by the steps that read them.
    // A receipt's completion cancels whatever receipt is still open; a correction's only after a
    // failure. The bodies' side channels become FExtError/FExtErrorDescr, appended to the text.
    std::int32_t ProcessCheck(bool AElectronically, const pugi::xml_document& ACheckPackage,
                              std::int64_t& ACheckNumber, std::int64_t& ASessionNumber, std::string& AFiscalSign,
                              std::string& AAddressSiteInspections) override;
    std::int32_t ProcessCorrectionCheck(const pugi::xml_document& ACheckCorrectionPackage,
                                        std::int64_t& ACheckNumber, std::int64_t& ASessionNumber,
                                        std::string& AFiscalSign, std::string& AAddressSiteInspections) override;
    std::int32_t PrintTextDocument(const pugi::xml_document& ADocumentPackage) override;
    const TTaxValues& TaxValues() const { return FTaxValues; }

protected:
    // Tax names of the check packages, in the order of their ids.
    TTaxValues FTaxValues;

public:
private:
    using TReceiptBody = std::function<std::int32_t(TDocumentEnvironment&, TReceiptOutputs&, TSideChannels&)>;
    std::int32_t RunReceiptOperation(const char* AName, bool ACancelAlways, const TIntent& ADraft,
                                     std::int64_t& ACheckNumber,
                                     std::int64_t& ASessionNumber, std::string& AFiscalSign,
                                     std::string& AAddressSiteInspections, const TReceiptBody& ABody);

public:
    // ==== end of receipts, correction receipts, text documents ====

    // ---- shifts, cash, reports; registration data and FN operations; device test ----
    // (DriverReports.cpp; the bodies are in ReportOperations.h)
    std::int32_t OpenShift(const std::string& ACashierName, const std::string& ACashierVATIN,
                           std::int64_t& ASessionNumber, std::int64_t& ADocumentNumber,
                           pugi::xml_document& AOutputParameters) override;
    std::int32_t CloseShift(const std::string& ACashierName, const std::string& ACashierVATIN,
                            std::int64_t& ASessionNumber, std::int64_t& ADocumentNumber,
                            pugi::xml_document& AOutputParameters) override;
    std::int32_t CashInOutcome(TCurrency AAmount, const std::string& ACashierName,
                               const std::string& ACashierVATIN) override;
    std::int32_t PrintXReport(const std::string& ACashierName, const std::string& ACashierVATIN) override;
    std::int32_t ReportCurrentStatusOfSettlements(const std::string& ACashierName, const std::string& ACashierVATIN,
                                                  pugi::xml_document& AOutputParameters) override;
    std::int32_t OpenCashDrawer() override;
    std::int32_t GetCurrentStatus(std::int64_t& ACheckNumber, std::int64_t& ASessionNumber,
                                  std::uint8_t& ASessionState, pugi::xml_document& AStatusParameters) override;
    std::int32_t GetDataKKT(pugi::xml_document& ATableParametersKKT) override;
    std::int32_t OperationFN(std::uint8_t AOperationType, const pugi::xml_document& AParametersFiscal) override;
    std::int32_t DeviceTest(std::string& ADescription) override;
    std::string GetAdditionalActions() override;
    std::int32_t DoAdditionalAction(const std::string& AActionName) override;
    // ---- end of shifts, reports, registration and device test ----

    // ---- fiscal documents whose outcome is not known (DriverRecovery.cpp) ----
    // Appended to the result's description at completion.
    void AddExtErrorDescr(const std::string& AText);
    // ---- intents: document-making operations recorded before their final command ----
    // A caller's reference (the service's job id) recorded in the intent of the next
    // document-making operation; empty for none. Cleared when that operation ends.
    void SetIntentReference(const std::string& AReference) { FIntentReference = AReference; }
    struct TIntentReport {
        enum class TState { None, Registered, NotRegistered, Unknown };
        TState State = TState::None;
        std::string Reference;  // what SetIntentReference gave that operation
        std::string Operation;  // the host method, e.g. "ProcessCheck"
        std::int64_t DocumentNumber = 0;
        std::string FiscalSign;
    };
    // Settles the last intent kept for this register (by this process or one that was killed) in
    // the operation frame and reports it; None when there is none. 0, or the failure that left it
    // Unknown.
    std::int32_t SettleIntent(TIntentReport& AReport);
    // The register's last intent as this driver knows it (read from disk once per Open).
    const std::optional<TIntent>& LastIntent();
    // The file the register's intent is kept in; empty when the private folder cannot be had.
    std::string IntentPath();
    // First step of every document-making operation's body: refuses (errNoResponse, text set) while
    // the register's last intent cannot be settled; otherwise takes ADraft (operation, content and
    // fingerprint) as the running operation's intent, or recognises a retry of a document that was
    // registered but never answered, which is then answered from it (Retried()).
    std::int32_t StartDocument(TIntent ADraft);
    // The keeper the final commands record the running operation's intent through.
    TIntentKeeper& Intents();

    // ---- state ----
    // The device of the last Enable; nullptr before the first.
    TDevice* Device() const { return FDevice.get(); }
    bool AutoCut() const { return FAutoCut; }
    const std::string& CutMarker() const { return FCutMarker; }
    bool PrintSignObjAndMethod() const { return FPrintSignObjAndMethod; }
    const std::string& LogDirName() const { return FLogDirName; }
    // The clock of every wait (the device's polls and the paper wait); not owned. nullptr
    // restores the system clock. Applies to the current device and to those Enable creates.
    void SetClock(TDeviceClock* AClock);
    TDeviceClock& Clock() const;

protected:
    void InitSettings() override;
    // The device for the connection Enable chooses; tests substitute their own.
    virtual std::unique_ptr<TDevice> CreateDevice(bool ATcp);

    std::unique_ptr<TDevice> FDevice;
    bool FPrintSignObjAndMethod = false;
    std::string FLogDirName;
    bool FAutoCut = false;
    std::string FCutMarker;
    // Side channels of the receipt operations, appended to the result's text at completion.
    std::int32_t FExtError = 0;
    std::string FExtErrorDescr;
    // The decoded registration report, filled and emptied by GetDataKKT.
    TDocElementList FDocElementList;

private:
    // Log set-up of Enable from "WriteLog" and "LogDir".
    void SetUpLog();
    // FLastResultDescription and the closing log line of an operation; resets the side channels.
    void FinishOperation(std::string_view AName, std::int32_t AResult, const std::string& AExceptionText = {});
    std::int32_t EnableDevice();

    TDeviceClock* FClock = nullptr;

    class TDriverIntents;
    friend class TDriverIntents;
    std::string RegisterKey() const;
    bool IntentPending();
    // Settles an intent left pending, first thing in every operation.
    void SettleLeftIntent();
    void SaveIntent();
    // Once per driver: through the log and the host's warning service.
    void ReportIntentFailure(const std::string& AReason);
    // At the end of every operation: the running intent's outcome to disk; a success answered
    // from an intent uses the intent up.
    void FinishDocument(std::int32_t AResult);
    std::optional<TIntent> FIntent;  // the register's last intent
    bool FIntentLoaded = false;      // read once per Enable
    std::string FIntentPath;         // found once per Enable
    std::optional<TIntent> FDraft;   // the running operation's
    bool FDraftRecorded = false;
    bool FAnsweringFromIntent = false;
    bool FIntentFailureReported = false;
    std::string FIntentReference;
    std::unique_ptr<TIntentKeeper> FIntentKeeper;
};

}  // namespace fr
