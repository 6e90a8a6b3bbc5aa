#pragma once
// The methods the host's equipment interface expects of every kind of device: description,
// last error, parameters, connect and disconnect, device test, additional actions.

#include <optional>
#include <string>
#include <string_view>

#include "framework/BaseDriver.h"

namespace fr {

struct TDriverInfo {
    std::string Name;
    std::string Description;
    std::string EquipmentType;
    std::int32_t InterfaceRevision = 0;
    std::string DownloadURL;
};

// Codes whose text comes straight from the equipment table (bounds included); any other code
// without a stored description goes through GetResultText.
bool IsStandardResultCode(std::int32_t ACode);

class TCustomBaseDriver : public TBaseDriver {
public:
    explicit TCustomBaseDriver(TCreateKey AKey);

    const TDriverInfo& DriverInfo() const { return FDriverInfo; }
    std::string LastResultDescription() const override { return DescribeLastResult(); }
    // The stored description when there is one, else the text of the last result code.
    std::string DescribeLastResult() const;

    // ---- handlers of the nine host methods ----
    virtual int CallGetDescription(TVariant& pvarRetValue, TParams& paParams);
    virtual int CallGetLastError(TVariant& pvarRetValue, TParams& paParams);
    virtual int CallGetParameters(TVariant& pvarRetValue, TParams& paParams);
    virtual int CallSetParameter(TVariant& pvarRetValue, TParams& paParams);
    virtual int CallOpen(TVariant& pvarRetValue, TParams& paParams);
    virtual int CallClose(TVariant& pvarRetValue, TParams& paParams);
    virtual int CallGetAdditionalActions(TVariant& pvarRetValue, TParams& paParams);
    virtual int CallDoAdditionalAction(TVariant& pvarRetValue, TParams& paParams);
    virtual int CallDeviceTest(TVariant& pvarRetValue, TParams& paParams);

    // ---- typed operations ----
    virtual void GetResultText(std::int32_t ACode, std::string& AText) const;
    std::string ResultText(std::int32_t ACode) const;
    virtual std::int32_t GetDescription(std::string& AName, std::string& ADescription, std::string& AEquipmentType,
                                        std::int32_t& AInterfaceRevision, bool& AIntegrationLibrary,
                                        bool& AMainDriverInstalled, std::string& ADownloadURL);
    // The parameter table as XML text, every line ended by CR LF.
    virtual std::string GetParameters();
    virtual std::int32_t DeviceTest(std::string& ADescription);
    virtual std::string GetAdditionalActions();
    virtual std::int32_t DoAdditionalAction(const std::string& AActionName);

protected:
    void InitMethods() override;
    // The module's embedded parameter table; nullopt makes GetParameters build one from the
    // settings list.
    virtual std::optional<std::string_view> ParameterTableResource() const;

    TDriverInfo FDriverInfo;
};

}  // namespace fr
