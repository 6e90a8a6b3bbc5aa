#pragma once
// Values at the COM boundary: VARIANT, BSTR and the SAFEARRAY of parameters against our host
// value TVariant and the parameter array TParams.
//
// VARIANT -> host: integers of every width become 16- or 32-bit integers when they fit and a
// double otherwise; R4, R8, CY and DATE keep their kinds (currency and date have the same scale
// and epoch as ours); BSTR becomes a UTF-16 string (embedded zeros kept); BOOL, UI1, EMPTY, NULL
// map to their kinds; DECIMAL becomes a double; an interface pointer becomes an object
// reference holding a reference of its own; a one-dimensional array of VARIANT becomes an
// array; VT_BYREF is followed once. Anything else raises EConvertError.
//
// Host -> VARIANT: the inverse; a CP1251 string goes out as a BSTR, an array as a SAFEARRAY of
// VARIANT. An object reference that did not come from COM cannot be given out (EConvertError).

#include "addin/AddInObject.h"
#include "addin/com/ComApi.h"

namespace fr::com {

// An interface pointer the host handed over, kept alive while the host value lives.
class TComObjectRef final : public IHostObject {
public:
    explicit TComObjectRef(IUnknown* AObject, bool ADispatch);
    ~TComObjectRef() override;
    TComObjectRef(const TComObjectRef&) = delete;
    TComObjectRef& operator=(const TComObjectRef&) = delete;
    IUnknown* Object() const { return FObject; }
    bool IsDispatch() const { return FDispatch; }

private:
    IUnknown* FObject;
    bool FDispatch;
};

TVariant FromComValue(const VARIANT& AValue);

// Writes AValue into AOut, which must hold nothing that needs freeing (VariantInit'ed or
// cleared). Throws EConvertError, leaving AOut empty; E_OUTOFMEMORY surfaces as EFrError.
void ToComValue(const TVariant& AValue, VARIANT& AOut);

// A BSTR's text (a null BSTR is the empty string) and a new BSTR (nullptr only when memory
// runs out).
std::u16string FromBstr(BSTR AText);
BSTR ToBstr(std::u16string_view AText);

// The host's parameter array, read in place: its elements are converted on entry, and after the
// call only the elements the call changed are written back (freeing what they held), so that the
// host's own values in the others stay as they are. A missing array is an empty one.
class TComParams {
public:
    // Throws EConvertError when the array is not a one-dimensional array of VARIANT or an
    // element has no host value.
    explicit TComParams(SAFEARRAY** AArray);
    TParams& Params() { return FParams; }
    // Throws EConvertError (and EFrError when out of memory) for a value that cannot go back;
    // the other elements are still written.
    void WriteBack();

private:
    SAFEARRAY* FArray = nullptr;
    TParams FParams;
    TParams FBefore;
};

}  // namespace fr::com
