#pragma once
// A fiscal-register driver with observable hooks, and a host-like call helper.

#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "framework/BaseDriverECR.h"
#include "framework/ErrorCodes.h"

namespace fr::test {

class TTestDriver : public TBaseDriverECR {
public:
    explicit TTestDriver(TCreateKey AKey) : TBaseDriverECR(AKey) {}

    using TBaseDriverECR::Enable;
    std::int32_t Enable() override {
        ++EnableCalls;
        return EnableResult;
    }
    void Disable() override { ++DisableCalls; }
    std::int32_t DeviceTest(std::string& ADescription) override {
        if (!DeviceTestResult) return TBaseDriverECR::DeviceTest(ADescription);
        ADescription = "проверено";
        return *DeviceTestResult;
    }
    void GetResultText(std::int32_t ACode, std::string& AText) const override {
        if (OwnResultText)
            AText = "own " + std::to_string(ACode);
        else
            TBaseDriverECR::GetResultText(ACode, AText);
    }
    std::optional<std::string_view> ParameterTableResource() const override {
        if (!EmbeddedTable) return std::nullopt;
        return TBaseDriverECR::ParameterTableResource();
    }

    void SetResult(std::int32_t ACode, const std::string& ADescription = {}) {
        FLastResultCode = ACode;
        FLastResultDescription = ADescription;
    }
    std::string StoredDescription() const { return FLastResultDescription; }

    std::int32_t EnableResult = errNotSupported;
    std::optional<std::int32_t> DeviceTestResult;
    int EnableCalls = 0;
    int DisableCalls = 0;
    bool OwnResultText = false;
    bool EmbeddedTable = true;
};

// Finds the method by name and calls it as the host does; returns the return value.
inline TVariant CallMethod(TBaseDriver& ADriver, std::string_view AName, TParams& AParams,
                           TVariant AInitial = TVariant()) {
    const int num = ADriver.GetMethodNum(AName);
    EXPECT_GE(num, 0) << AName;
    if (num < 0) return AInitial;
    TVariant ret = std::move(AInitial);
    EXPECT_EQ(ADriver.GetMethod(num).DriverMethod(ret, AParams), 0);
    return ret;
}

}  // namespace fr::test
