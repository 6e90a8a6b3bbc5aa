#pragma once
// The fiscal-register interface: thirteen host methods on top of the common equipment methods.
// Each handler unpacks the host's arguments (numbers, flags, XML documents passed as strings),
// calls a typed operation and packs the results back. The base versions of the operations
// answer 1003; the driver replaces them.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include <pugixml.hpp>

#include "framework/CustomBaseDriver.h"

namespace fr {

// Keeps the UTF-16 code units XML allows: tab, LF, CR, 0x20-0xD7FF and 0xE000-0xFFFD. Surrogates
// are dropped too, so characters outside the basic plane vanish entirely.
std::u16string FilterXmlChars(std::u16string_view AText);

// Parses a document the host passed as a string. With AFilter the text goes through
// FilterXmlChars first; without it, a character XML does not allow is a parse error, as it is for
// the host's own parser (pugixml itself lets control characters through). Throws EXmlError with
// the parser's description and offset (in bytes of the UTF-8 text).
void LoadHostXmlDocument(pugi::xml_document& ADoc, std::u16string_view AText, bool AFilter);

// The cashier of a shift or report document: attributes "CashierName" and "CashierVATIN" of the
// document element's first child "Parameters". A missing element or attribute throws
// EConvertError; an empty attribute is an empty text.
void ReadCashier(const pugi::xml_document& ADoc, std::string& ACashierName, std::string& ACashierVATIN);

class TBaseDriverECR : public TCustomBaseDriver {
public:
    explicit TBaseDriverECR(TCreateKey AKey);

    std::int32_t LineLen() const { return FLineLen; }
    void SetLineLen(std::int32_t AValue) { FLineLen = AValue; }

    // ---- typed operations ----
    // Each returns a result code. The base versions answer 1003 (numeric out values untouched,
    // string out values emptied), except GetLineLength. Input documents are parsed host text;
    // output documents arrive empty (declaration only) and go back to the host as text.
    virtual std::int32_t GetDataKKT(pugi::xml_document& ATableParametersKKT);
    virtual std::int32_t OperationFN(std::uint8_t AOperationType, const pugi::xml_document& AParametersFiscal);
    virtual std::int32_t OpenShift(const std::string& ACashierName, const std::string& ACashierVATIN,
                                   std::int64_t& ASessionNumber, std::int64_t& ADocumentNumber,
                                   pugi::xml_document& AOutputParameters);
    virtual std::int32_t CloseShift(const std::string& ACashierName, const std::string& ACashierVATIN,
                                    std::int64_t& ASessionNumber, std::int64_t& ADocumentNumber,
                                    pugi::xml_document& AOutputParameters);
    virtual std::int32_t ProcessCheck(bool AElectronically, const pugi::xml_document& ACheckPackage,
                                      std::int64_t& ACheckNumber, std::int64_t& ASessionNumber,
                                      std::string& AFiscalSign, std::string& AAddressSiteInspections);
    virtual std::int32_t ProcessCorrectionCheck(const pugi::xml_document& ACheckCorrectionPackage,
                                                std::int64_t& ACheckNumber, std::int64_t& ASessionNumber,
                                                std::string& AFiscalSign, std::string& AAddressSiteInspections);
    virtual std::int32_t PrintTextDocument(const pugi::xml_document& ADocumentPackage);
    virtual std::int32_t CashInOutcome(TCurrency AAmount, const std::string& ACashierName,
                                       const std::string& ACashierVATIN);
    virtual std::int32_t GetCurrentStatus(std::int64_t& ACheckNumber, std::int64_t& ASessionNumber,
                                          std::uint8_t& ASessionState, pugi::xml_document& AStatusParameters);
    virtual std::int32_t ReportCurrentStatusOfSettlements(const std::string& ACashierName,
                                                          const std::string& ACashierVATIN,
                                                          pugi::xml_document& AOutputParameters);
    virtual std::int32_t OpenCashDrawer();
    // Base version: ALineLength := LineLen, result 0.
    virtual std::int32_t GetLineLength(std::int32_t& ALineLength);
    virtual std::int32_t PrintXReport(const std::string& ACashierName, const std::string& ACashierVATIN);

    // ---- handlers of the thirteen host methods ----
    int CallGetDataKKT(TVariant& pvarRetValue, TParams& paParams);
    int CallPrintTextDocument(TVariant& pvarRetValue, TParams& paParams);
    int CallProcessCorrectionCheck(TVariant& pvarRetValue, TParams& paParams);
    int CallProcessCheck(TVariant& pvarRetValue, TParams& paParams);
    int CallOperationFN(TVariant& pvarRetValue, TParams& paParams);
    int CallOpenShift(TVariant& pvarRetValue, TParams& paParams);
    int CallCloseShift(TVariant& pvarRetValue, TParams& paParams);
    int CallCashInOutcome(TVariant& pvarRetValue, TParams& paParams);
    int CallPrintXReport(TVariant& pvarRetValue, TParams& paParams);
    int CallReportCurrentStatusOfSettlements(TVariant& pvarRetValue, TParams& paParams);
    int CallGetCurrentStatus(TVariant& pvarRetValue, TParams& paParams);
    int CallOpenCashDrawer(TVariant& pvarRetValue, TParams& paParams);
    int CallGetLineLength(TVariant& pvarRetValue, TParams& paParams);

protected:
    void InitSettings() override;
    void InitMethods() override;

    // The frame of every fiscal-register handler: runs ABody; an exception of the system's own
    // hierarchy becomes result 1001 with its message; finally the return value := (code = 0).
    // A call with fewer than AParamsCount parameters answers 1004 without running ABody.
    int RunECRHandler(TVariant& pvarRetValue, const TParams& paParams, std::size_t AParamsCount,
                      const std::function<void()>& ABody);

    // Parameter AIndex parsed as a cashier document (filtered with AFilter). Any failure sets
    // 1004 (description cleared, the reason logged) and returns false.
    using TShiftOperation = std::int32_t (TBaseDriverECR::*)(const std::string&, const std::string&, std::int64_t&,
                                                              std::int64_t&, pugi::xml_document&);
    int CallShiftOperation(TVariant& pvarRetValue, TParams& paParams, TShiftOperation AOperation);
    bool ReadCashierParam(const TParams& paParams, std::size_t AIndex, bool AFilter, std::string& ACashierName,
                          std::string& ACashierVATIN);
    void InvalidParameters(const std::string& AReason);

    std::int32_t FLineLen = 40;
};

}  // namespace fr
