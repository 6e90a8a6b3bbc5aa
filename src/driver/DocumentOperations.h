#pragma once
// The bodies of the document operations: receipts, correction receipts and text documents. They
// run inside the driver's operation frame (connection, completion, result text and log lines),
// which they reach through TDocumentEnvironment, so they can be driven by a scripted register.

#include <cstdint>
#include <string>

#include <pugixml.hpp>

#include "device/Device.h"
#include "driver/DocumentRecovery.h"
#include "driver/ReceiptTables.h"

namespace fr {

// Equipment results of the receipt operations.
inline constexpr int errShiftExpired = 3002;          // "Длительность смены превысила 24 часа..."
inline constexpr int errShiftClosed = 3005;           // "Смена закрыта"
inline constexpr int errObjectRange = 3020;           // calculation object outside 1 to 19
inline constexpr int errMethodRange = 3021;           // calculation method outside 1 to 7
inline constexpr int errIncorrectINN = 3026;          // "Некорректный ИНН"
inline constexpr int errNoCashierName = 3029;         // "Не указано имя кассира"
// The register still printing the previous command: the close counts as done.
inline constexpr int kResultPrintingPrevious = 80;

// The address of the tax authority's site: table 18, row 1, field 13.
inline constexpr std::uint8_t kSiteTable = 18, kSiteRow = 1, kSiteField = 13;

// What a document operation needs from the driver around it.
class TDocumentEnvironment {
public:
    virtual ~TDocumentEnvironment() = default;
    virtual TDevice& Device() = 0;
    virtual int LineLength() const = 0;
    virtual bool PrintSignObjAndMethod() const = 0;
    // The "CutString" setting; compared without regard to letter case.
    virtual std::string CutMarker() const = 0;
    virtual std::int32_t CheckPrintState() = 0;
    virtual std::int32_t WaitPrintCompletion() = 0;
    virtual void CutAfterDocument(bool ANoCut, bool ARespectAutoCut, std::int32_t ALineCount) = 0;
    // A fresh link for finding out what the register did (over TCP a new connection).
    virtual std::int32_t Reconnect() { return 0; }
    // Where the document's intent is kept; none by default.
    virtual TIntentKeeper* Intents() { return nullptr; }
};

// The secondary error code and free text that the frame appends to the result's text.
struct TSideChannels {
    std::int32_t ExtError = 0;
    std::string ExtErrorDescr;
};

// The four out values of a receipt or a correction receipt.
struct TReceiptOutputs {
    std::int64_t CheckNumber = 0;
    std::int64_t SessionNumber = 0;
    std::string FiscalSign;
    std::string AddressSiteInspections;
    std::int64_t Total = -1;         // the receipt's total in kopecks, -1 for none
};

// A check package to one fiscal receipt. Any exception (a marking code with a part missing, a
// GTIN or EAN-13 that is not a number) passes to the caller; the receipt is then still open and
// the frame's completion cancels it.
std::int32_t ProcessCheckBody(TDocumentEnvironment& AEnv, const TTaxValues& ATaxValues, bool AElectronically,
                              const pugi::xml_node& ACheckPackage, TReceiptOutputs& AOut, TSideChannels& ASide);

// A correction package to one correction receipt.
std::int32_t ProcessCorrectionCheckBody(TDocumentEnvironment& AEnv, const pugi::xml_node& ACorrectionPackage,
                                        TReceiptOutputs& AOut, TSideChannels& ASide);

// A retried document answered from its registered predecessor: the shift number and the site
// address are read (a failure is logged), nothing is printed; always 0.
std::int32_t FinishRetriedDocument(TDocumentEnvironment& AEnv, const char* AOperation, TReceiptOutputs& AOut);

// A text document: lines, barcodes, cut markers, the final cut unless "NoCut".
std::int32_t PrintTextDocumentBody(TDocumentEnvironment& AEnv, const pugi::xml_node& ADocumentPackage);

// The caption of a tax id on this register: its clock is read on every call; when it cannot be
// read the current captions are used. No command for an id outside the list.
std::string TaxCaption(TDevice& ADevice, int ATaxID);

}  // namespace fr
