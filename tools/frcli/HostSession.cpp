#include "HostSession.h"

#include "platform/Encoding.h"

namespace frcli {

TDirectSession::TDirectSession() : FObject(std::make_unique<fr::TAddInObject>()) {}

TDirectSession::~TDirectSession() {
    if (FInitialised) FObject->Done();
}

// frcli has no services of its own to offer: no events, no windows, and the add-in object
// already reports errors on standard error.
void TDirectSession::Init() {
    FObject->Init(nullptr);
    FInitialised = true;
}

void TDirectSession::Done() {
    if (!FInitialised) return;
    FInitialised = false;
    FObject->Done();
}

std::int32_t TDirectSession::FindMethod(const std::u16string& AName) {
    std::int32_t num = -1;
    FObject->FindMethod(AName, num);
    return num;
}

std::int32_t TDirectSession::MethodCount() {
    std::int32_t count = 0;
    FObject->GetNMethods(count);
    return count;
}

TMethodInfo TDirectSession::MethodInfo(std::int32_t AMethodNum) {
    TMethodInfo info;
    const fr::TBaseDriver* driver = FObject->Driver();
    if (!driver || AMethodNum < 0 || AMethodNum >= driver->MethsCount()) return info;
    const auto& m = driver->GetMethod(AMethodNum);
    info.Name = m.Name;
    info.Alias = m.Alias;
    info.ParamsCount = m.ParamsCount;
    return info;
}

fr::HRESULT TDirectSession::CallAsFunc(std::int32_t AMethodNum, fr::TVariant& ARetValue, fr::TParams& AParams) {
    return FObject->CallAsFunc(AMethodNum, ARetValue, AParams);
}

std::int32_t TDirectSession::FindProp(const std::u16string& AName) {
    std::int32_t num = -1;
    FObject->FindProp(AName, num);
    return num;
}

fr::HRESULT TDirectSession::GetPropVal(std::int32_t APropNum, fr::TVariant& AValue) {
    return FObject->GetPropVal(APropNum, AValue);
}

fr::HRESULT TDirectSession::SetPropVal(std::int32_t APropNum, const fr::TVariant& AValue) {
    return FObject->SetPropVal(APropNum, AValue);
}

std::int32_t TDirectSession::LastResultCode() {
    const fr::TBaseDriver* driver = FObject->Driver();
    return driver ? driver->LastResultCode() : 0;
}

std::string TDirectSession::LastResultDescription() {
    const fr::TBaseDriver* driver = FObject->Driver();
    return driver ? driver->LastResultDescription() : std::string();
}

}  // namespace frcli
