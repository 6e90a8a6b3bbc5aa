#pragma once
// The fiscal-register interface: thirteen host methods on top of the common equipment methods.
// Their handlers run in one frame (RunECRHandler); the typed operations behind them come with
// the fiscal-register work, and until then the handlers answer 1003 except GetLineLength.

#include <functional>

#include "framework/CustomBaseDriver.h"

namespace fr {

class TBaseDriverECR : public TCustomBaseDriver {
public:
    explicit TBaseDriverECR(TCreateKey AKey);

    std::int32_t LineLen() const { return FLineLen; }
    void SetLineLen(std::int32_t AValue) { FLineLen = AValue; }

    // Base version: ALineLength := LineLen, result 0.
    virtual std::int32_t GetLineLength(std::int32_t& ALineLength);

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

    std::int32_t FLineLen = 40;
};

}  // namespace fr
