#pragma once
// One host call on the add-in object as the platform makes it: the method found by its name,
// called, and what GetLastError reports afterwards.

#include <cstdint>
#include <string>
#include <string_view>

#include "addin/AddInObject.h"

namespace fr::test {

struct THostCall {
    HRESULT Result = S_FALSE;  // of CallAsFunc; S_FALSE too when the method is not found
    bool Ok = false;           // the method returned true
    std::int32_t Code = -1;    // GetLastError's result code
    std::string Text;          // and its description
};

inline THostCall CallHost(TAddInObject& AObject, std::u16string_view AMethod, TParams& AParams) {
    THostCall c;
    std::int32_t n = -1;
    if (AObject.FindMethod(AMethod, n) != S_OK) return c;
    TVariant ret;
    c.Result = AObject.CallAsFunc(n, ret, AParams);
    c.Ok = ret == TVariant(true);
    TParams error(1);
    TVariant code;
    if (AObject.FindMethod(u"GetLastError", n) == S_OK && AObject.CallAsFunc(n, code, error) == S_OK) {
        c.Code = code.AsInt();
        c.Text = error[0].AsString();
    }
    return c;
}

}  // namespace fr::test
