#include "framework/BaseDriverECR.h"

#include "framework/ErrorCodes.h"

namespace fr {

TBaseDriverECR::TBaseDriverECR(TCreateKey AKey) : TCustomBaseDriver(AKey) {
    FDriverInfo.EquipmentType = "ККТ";
    FLineLen = 40;
}

void TBaseDriverECR::InitSettings() {
    TCustomBaseDriver::InitSettings();
    AddSetting("CutString", dtString, TVariant(""), false, "Маркер отреза бумаги",
               "Маркер отреза бумаги. Для оборудования 1С:Совместимо, должен содержать строку \"[cut]\". "
               "Имеет приоритет перед кодом символа отреза (устаревшая настройка)");
}

void TBaseDriverECR::InitMethods() {
    TCustomBaseDriver::InitMethods();
    using THandler = int (TBaseDriverECR::*)(TVariant&, TParams&);
    struct TEntry {
        const char* Name;
        const char* Alias;
        int ParamsCount;
        THandler Handler;
    };
    static const TEntry kMethods[] = {
        {"GetDataKKT", "ПолучитьПараметрыККТ", 2, &TBaseDriverECR::CallGetDataKKT},
        {"PrintTextDocument", "НапечататьТекстовыйДокумент", 2, &TBaseDriverECR::CallPrintTextDocument},
        {"ProcessCorrectionCheck", "СформироватьЧекКоррекции", 6, &TBaseDriverECR::CallProcessCorrectionCheck},
        {"ProcessCheck", "СформироватьЧек", 7, &TBaseDriverECR::CallProcessCheck},
        {"OperationFN", "ОперацияФН", 3, &TBaseDriverECR::CallOperationFN},
        {"OpenShift", "ОткрытьСмену", 5, &TBaseDriverECR::CallOpenShift},
        {"CloseShift", "ЗакрытьСмену", 5, &TBaseDriverECR::CallCloseShift},
        {"CashInOutcome", "НапечататьЧекВнесенияВыемки", 3, &TBaseDriverECR::CallCashInOutcome},
        {"PrintXReport", "НапечататьОтчетБезГашения", 2, &TBaseDriverECR::CallPrintXReport},
        {"ReportCurrentStatusOfSettlements", "ОтчетОТекущемСостоянииРасчетов", 3,
         &TBaseDriverECR::CallReportCurrentStatusOfSettlements},
        {"GetCurrentStatus", "ПолучитьТекущееСостояние", 5, &TBaseDriverECR::CallGetCurrentStatus},
        {"OpenCashDrawer", "ОткрытьДенежныйЯщик", 1, &TBaseDriverECR::CallOpenCashDrawer},
        {"GetLineLength", "ПолучитьШиринуСтроки", 2, &TBaseDriverECR::CallGetLineLength},
    };
    for (const auto& m : kMethods)
        AddMethod(m.Name, m.Alias, m.ParamsCount,
                  [this, h = m.Handler](TVariant& r, TParams& p) { return (this->*h)(r, p); });
}

int TBaseDriverECR::RunECRHandler(TVariant& pvarRetValue, const TParams& paParams, std::size_t AParamsCount,
                                  const std::function<void()>& ABody) {
    if (!HasParams(paParams, AParamsCount)) {
        FLastResultCode = errInvalidParameter;
    } else {
        try {
            ABody();
        } catch (const EFrError& e) {
            FLastResultCode = errUnknown;
            FLastResultDescription = e.what();
        }
    }
    pvarRetValue = TVariant(FLastResultCode == 0);
    return 0;
}

std::int32_t TBaseDriverECR::GetLineLength(std::int32_t& ALineLength) {
    ALineLength = FLineLen;
    return 0;
}

int TBaseDriverECR::CallGetLineLength(TVariant& pvarRetValue, TParams& paParams) {
    return RunECRHandler(pvarRetValue, paParams, 2, [&] {
        std::int32_t len = 0;
        FLastResultCode = GetLineLength(len);
        if (FLastResultCode == 0) PutParamInt(paParams, 1, len);
    });
}

// Not provided yet: each answers 1003 ("Команда не поддерживается устройством").
#define FR_NOT_SUPPORTED_HANDLER(Method, Count)                                              \
    int TBaseDriverECR::Method(TVariant& pvarRetValue, TParams& paParams) {                  \
        return RunECRHandler(pvarRetValue, paParams, Count, [&] { FLastResultCode = errNotSupported; }); \
    }

FR_NOT_SUPPORTED_HANDLER(CallGetDataKKT, 2)
FR_NOT_SUPPORTED_HANDLER(CallPrintTextDocument, 2)
FR_NOT_SUPPORTED_HANDLER(CallProcessCorrectionCheck, 6)
FR_NOT_SUPPORTED_HANDLER(CallProcessCheck, 7)
FR_NOT_SUPPORTED_HANDLER(CallOperationFN, 3)
FR_NOT_SUPPORTED_HANDLER(CallOpenShift, 5)
FR_NOT_SUPPORTED_HANDLER(CallCloseShift, 5)
FR_NOT_SUPPORTED_HANDLER(CallCashInOutcome, 3)
FR_NOT_SUPPORTED_HANDLER(CallPrintXReport, 2)
FR_NOT_SUPPORTED_HANDLER(CallReportCurrentStatusOfSettlements, 3)
FR_NOT_SUPPORTED_HANDLER(CallGetCurrentStatus, 5)
FR_NOT_SUPPORTED_HANDLER(CallOpenCashDrawer, 1)

#undef FR_NOT_SUPPORTED_HANDLER

}  // namespace fr
