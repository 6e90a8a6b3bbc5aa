#pragma once
// What frcli needs from the host side of the add-in boundary. The script runner and the
// commands talk only to this interface; the direct session links the add-in object, and a
// session over the platform's binary interface (loading the add-in library) can take its place.

#include <cstdint>
#include <memory>
#include <string>

#include "addin/AddInObject.h"
#include "framework/Variant.h"

namespace frcli {

struct TMethodInfo {
    std::string Name;   // the name the host is told
    std::string Alias;  // the other language's name; may be empty
    std::int32_t ParamsCount = 0;
};

class IHostSession {
public:
    virtual ~IHostSession() = default;

    // Starts and ends the add-in object's life. Init may throw fr::EFrError.
    virtual void Init() = 0;
    virtual void Done() = 0;

    // Methods: number by name (either language, any case), -1 when unknown.
    virtual std::int32_t FindMethod(const std::u16string& AName) = 0;
    virtual std::int32_t MethodCount() = 0;
    virtual TMethodInfo MethodInfo(std::int32_t AMethodNum) = 0;
    // The host's call: the return value and the parameter array are in/out.
    virtual fr::HRESULT CallAsFunc(std::int32_t AMethodNum, fr::TVariant& ARetValue, fr::TParams& AParams) = 0;

    // Properties (the settings): number by name, -1 when unknown.
    virtual std::int32_t FindProp(const std::u16string& AName) = 0;
    virtual fr::HRESULT GetPropVal(std::int32_t APropNum, fr::TVariant& AValue) = 0;
    virtual fr::HRESULT SetPropVal(std::int32_t APropNum, const fr::TVariant& AValue) = 0;

    // The driver's last result code and the text "GetLastError" would return, read without
    // making a host call.
    virtual std::int32_t LastResultCode() = 0;
    virtual std::string LastResultDescription() = 0;
};

// A session on a TAddInObject linked into this program.
class TDirectSession : public IHostSession {
public:
    TDirectSession();
    ~TDirectSession() override;

    void Init() override;
    void Done() override;
    std::int32_t FindMethod(const std::u16string& AName) override;
    std::int32_t MethodCount() override;
    TMethodInfo MethodInfo(std::int32_t AMethodNum) override;
    fr::HRESULT CallAsFunc(std::int32_t AMethodNum, fr::TVariant& ARetValue, fr::TParams& AParams) override;
    std::int32_t FindProp(const std::u16string& AName) override;
    fr::HRESULT GetPropVal(std::int32_t APropNum, fr::TVariant& AValue) override;
    fr::HRESULT SetPropVal(std::int32_t APropNum, const fr::TVariant& AValue) override;
    std::int32_t LastResultCode() override;
    std::string LastResultDescription() override;

private:
    std::unique_ptr<fr::TAddInObject> FObject;
    bool FInitialised = false;
};

}  // namespace frcli
