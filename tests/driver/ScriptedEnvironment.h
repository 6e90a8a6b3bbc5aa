#pragma once
// A document environment on a scripted register: the print helpers answer canned results and
// record their calls, the device talks to a TFakeLink.

#include <string>
#include <vector>

#include "device/FakeLink.h"
#include "driver/DocumentOperations.h"

namespace fr::test {

class TScriptedEnvironment : public TDocumentEnvironment {
public:
    explicit TScriptedEnvironment(TDevice& ADevice) : FDevice(ADevice) {}
    TDevice& Device() override { return FDevice; }
    int LineLength() const override { return Width; }
    bool PrintSignObjAndMethod() const override { return PrintMethod; }
    std::string CutMarker() const override { return Marker; }
    std::int32_t CheckPrintState() override {
        Calls.push_back("CheckPrintState");
        return CheckResult;
    }
    std::int32_t WaitPrintCompletion() override {
        Calls.push_back("WaitPrintCompletion");
        return WaitResult;
    }
    void CutAfterDocument(bool ANoCut, bool ARespectAutoCut, std::int32_t ALineCount) override {
        Calls.push_back("Cut(" + std::to_string(ANoCut) + "," + std::to_string(ARespectAutoCut) + "," +
                        std::to_string(ALineCount) + ")");
    }

    int Width = 32;
    bool PrintMethod = true;
    std::string Marker;
    std::int32_t CheckResult = 0;
    std::int32_t WaitResult = 0;
    std::vector<std::string> Calls;

private:
    TDevice& FDevice;
};

}  // namespace fr::test
