#pragma once
// Shifts, cash and reports; registration data and fiscal-storage operations; the device test.
// Each function is the body of one host operation: it runs inside the driver's operation frame
// (log lines, connection per operation, result text) and reaches the register and the print
// helpers through TOperationContext, so the bodies can be driven by a scripted register too.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include <pugixml.hpp>

#include "device/Codec.h"
#include "device/Device.h"
#include "driver/DocumentRecovery.h"
#include "driver/FiscalTags.h"

namespace fr {

// What an operation body needs from the driver.
class TOperationContext {
public:
    virtual ~TOperationContext() = default;
    virtual TDevice& Device() = 0;
    virtual std::int32_t CheckPrintState() = 0;
    virtual std::int32_t WaitPrintCompletion() = 0;
    virtual void CutAfterDocument(bool ANoCut, bool ARespectAutoCut, std::int32_t ALineCount) = 0;
    // The computer's current local date and time.
    virtual TDateTime Now() const = 0;
    // A fresh link for finding out what the register did (over TCP a new connection).
    virtual std::int32_t Reconnect() { return 0; }
    // Text appended to the result's description.
    virtual void Note(const std::string& /*AText*/) {}
    // Where the document's intent is kept; none by default.
    virtual TIntentKeeper* Intents() { return nullptr; }
    // A retried operation answered from its registered predecessor: that document's number.
    std::optional<std::int64_t> Retried() { return Intents() ? Intents()->Retried() : std::nullopt; }
};

// A report that forms a fiscal storage document (shift, settlements, registration, closing of the
// fiscal storage). ACommand is run as the final command, so that the host is told the truth: the
// outcome is read back from the fiscal storage when it ends unclearly. Once the report exists,
// AReads (print wait and the queries that fill the outputs) gets its number; a failure there is
// logged and the call still succeeds, after one more try on a fresh link for a link failure.
std::int32_t RunReport(TOperationContext& C, const char* AOperation, const char* ADocumentName,
                       const std::function<std::int32_t()>& ACommand,
                       const std::function<std::int32_t(std::int64_t)>& AReads);

// ---- shifts, cash and reports ----
std::int32_t OpenShiftBody(TOperationContext& C, const std::string& ACashierName, const std::string& ACashierVATIN,
                           std::int64_t& ASessionNumber, std::int64_t& ADocumentNumber,
                           pugi::xml_document& AOutputParameters);
std::int32_t CloseShiftBody(TOperationContext& C, const std::string& ACashierName, const std::string& ACashierVATIN,
                            std::int64_t& ASessionNumber, std::int64_t& ADocumentNumber,
                            pugi::xml_document& AOutputParameters);
std::int32_t CashInOutcomeBody(TOperationContext& C, TCurrencyValue AAmount);
std::int32_t PrintXReportBody(TOperationContext& C);
std::int32_t ReportCurrentStatusOfSettlementsBody(TOperationContext& C, const std::string& ACashierName,
                                                  const std::string& ACashierVATIN,
                                                  pugi::xml_document& AOutputParameters);
std::int32_t OpenCashDrawerBody(TOperationContext& C);
std::int32_t GetCurrentStatusBody(TOperationContext& C, std::int64_t& ACheckNumber, std::int64_t& ASessionNumber,
                                  std::uint8_t& ASessionState, pugi::xml_document& AStatusParameters);

// ---- registration data and fiscal-storage operations ----
// Fills AList from the stored document ADocNumber (normally the registration report).
std::int32_t ReadRegistrationReport(TDevice& ADevice, std::int32_t ADocNumber, TDocElementList& AList);
// AList is the driver's element list: emptied first, left holding what was read.
std::int32_t GetDataKKTBody(TOperationContext& C, pugi::xml_document& ATableParametersKKT, TDocElementList& AList);
std::int32_t OperationFNBody(TOperationContext& C, std::uint8_t AOperationType,
                             const pugi::xml_document& AParametersFiscal);

// The input of OperationFN as the register takes it.
struct TFiscalParameters {
    std::string CashierName, OrganizationName, AddressSettle, PlaceSettle, OFDOrganizationName, SenderEmail,
        FNSWebSite;
    std::string CashierVATIN;     // padded to 12
    std::string KKTNumber;        // padded to 20
    std::string VATIN;            // padded to 12
    std::string AutomaticNumber;  // padded to 20
    std::string OFDVATIN;         // padded to 12
    std::uint8_t TaxBits = 0;     // "TaxVariant": digits 0 to 5
    std::uint8_t WorkModeBits = 0;
    std::uint8_t AgentBits = 0;   // "SignOfAgent": digits 0 to 6
    std::uint8_t ReasonCode = 0;
    bool AutomaticMode = false, SignOfGambling = false, SignOfLottery = false;
};
// False when the document has no root element.
bool ReadFiscalParameters(const pugi::xml_document& ADoc, TFiscalParameters& AParams);
// Bit i set for every digit i (0 to AHighestBit) anywhere in the text.
std::uint8_t DigitBits(const std::string& AText, int AHighestBit);
// True exactly for "true" in any letter case.
bool IsTrueText(const std::string& AText);
// Spaces appended up to ALength; never shortened.
std::string PadText(const std::string& AText, std::size_t ALength);

// ---- device test and additional actions ----
std::int32_t DeviceTestBody(TOperationContext& C, std::string& ADescription);
// This driver offers no additional actions.
std::string AdditionalActionsText();
std::int32_t DoAdditionalActionResult(const std::string& AActionName);

}  // namespace fr
