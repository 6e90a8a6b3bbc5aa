#include "addin/com/ComVariant.h"

#include <fmt/format.h>

#include <cstdint>
#include <limits>

namespace fr::com {

static_assert(sizeof(OLECHAR) == sizeof(char16_t), "BSTR holds UTF-16 code units");

namespace {

TVariant Integer(std::int64_t AValue) {
    if (AValue >= std::numeric_limits<std::int16_t>::min() && AValue <= std::numeric_limits<std::int16_t>::max())
        return TVariant(static_cast<std::int16_t>(AValue));
    if (AValue >= std::numeric_limits<std::int32_t>::min() && AValue <= std::numeric_limits<std::int32_t>::max())
        return TVariant(static_cast<std::int32_t>(AValue));
    return TVariant(static_cast<double>(AValue));
}

TVariant Unsigned(std::uint64_t AValue) {
    if (AValue <= static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max()))
        return Integer(static_cast<std::int64_t>(AValue));
    return TVariant(static_cast<double>(AValue));
}

[[noreturn]] void NoHostValue(VARTYPE AType) {
    throw EConvertError(fmt::format("A VARIANT of type 0x{:04X} has no host value", static_cast<unsigned>(AType)));
}

void CheckOutOfMemory(HRESULT AResult, const char* AWhat) {
    if (FAILED(AResult))
        throw EFrError(fmt::format("{} failed: 0x{:08X}", AWhat, static_cast<std::uint32_t>(AResult)));
}

// A one-dimensional array of VARIANT, or EConvertError.
void CheckVariantVector(SAFEARRAY* AArray) {
    VARTYPE type = VT_EMPTY;
    if (SafeArrayGetDim(AArray) != 1 || FAILED(SafeArrayGetVartype(AArray, &type)) || type != VT_VARIANT)
        throw EConvertError("The parameters are not a one-dimensional array of VARIANT");
}

// The elements of a one-dimensional array of VARIANT, locked while it lives.
class TArrayAccess {
public:
    explicit TArrayAccess(SAFEARRAY* AArray) : FArray(AArray) {
        CheckVariantVector(AArray);
        LONG upper = 0;
        CheckOutOfMemory(SafeArrayGetLBound(AArray, 1, &FLower), "SafeArrayGetLBound");
        CheckOutOfMemory(SafeArrayGetUBound(AArray, 1, &upper), "SafeArrayGetUBound");
        FCount = upper >= FLower ? static_cast<std::size_t>(static_cast<std::int64_t>(upper) - FLower + 1) : 0;
        CheckOutOfMemory(SafeArrayAccessData(AArray, reinterpret_cast<void**>(&FData)), "SafeArrayAccessData");
    }
    ~TArrayAccess() { SafeArrayUnaccessData(FArray); }
    TArrayAccess(const TArrayAccess&) = delete;
    TArrayAccess& operator=(const TArrayAccess&) = delete;
    std::size_t Count() const { return FCount; }
    VARIANT& operator[](std::size_t AIndex) { return FData[AIndex]; }

private:
    SAFEARRAY* FArray;
    VARIANT* FData = nullptr;
    LONG FLower = 0;
    std::size_t FCount = 0;
};

}  // namespace

TComObjectRef::TComObjectRef(IUnknown* AObject, bool ADispatch) : FObject(AObject), FDispatch(ADispatch) {
    if (FObject) FObject->AddRef();
}

TComObjectRef::~TComObjectRef() {
    if (FObject) FObject->Release();
}

std::u16string FromBstr(BSTR AText) {
    if (!AText) return {};
    return std::u16string(reinterpret_cast<const char16_t*>(AText), SysStringLen(AText));
}

BSTR ToBstr(std::u16string_view AText) {
    if (AText.size() > std::numeric_limits<UINT>::max() / 2) return nullptr;
    return SysAllocStringLen(reinterpret_cast<const OLECHAR*>(AText.data()), static_cast<UINT>(AText.size()));
}

TVariant FromComValue(const VARIANT& AValue) {
    const VARTYPE type = V_VT(&AValue);
    if (type == (VT_BYREF | VT_VARIANT)) {
        const VARIANT* target = V_VARIANTREF(&AValue);
        if (!target || V_VT(target) == (VT_BYREF | VT_VARIANT)) NoHostValue(type);
        return FromComValue(*target);
    }
    if (type & VT_BYREF) {
        // A reference to a plain value: read it through a copy without the reference.
        VARIANT copy;
        VariantInit(&copy);
        if (FAILED(VariantCopyInd(&copy, const_cast<VARIANT*>(&AValue)))) NoHostValue(type);
        try {
            TVariant result = FromComValue(copy);
            VariantClear(&copy);
            return result;
        } catch (...) {
            VariantClear(&copy);
            throw;
        }
    }
    if (type == (VT_ARRAY | VT_VARIANT)) {
        SAFEARRAY* array = V_ARRAY(&AValue);
        if (!array) return TVariant::Array({});
        TArrayAccess items(array);
        std::vector<TVariant> values;
        values.reserve(items.Count());
        for (std::size_t i = 0; i < items.Count(); ++i) values.push_back(FromComValue(items[i]));
        return TVariant::Array(std::move(values));
    }
    switch (type) {
        case VT_EMPTY: return TVariant();
        case VT_NULL: return TVariant::Null();
        case VT_BOOL: return TVariant(V_BOOL(&AValue) != VARIANT_FALSE);
        case VT_I1: return Integer(V_I1(&AValue));
        case VT_UI1: return TVariant::Byte(V_UI1(&AValue));
        case VT_I2: return TVariant(static_cast<std::int16_t>(V_I2(&AValue)));
        case VT_UI2: return Integer(V_UI2(&AValue));
        case VT_I4: return TVariant(static_cast<std::int32_t>(V_I4(&AValue)));
        case VT_INT: return TVariant(static_cast<std::int32_t>(V_INT(&AValue)));
        case VT_UI4: return Unsigned(V_UI4(&AValue));
        case VT_UINT: return Unsigned(V_UINT(&AValue));
        case VT_I8: return Integer(V_I8(&AValue));
        case VT_UI8: return Unsigned(V_UI8(&AValue));
        case VT_R4: return TVariant(V_R4(&AValue));
        case VT_R8: return TVariant(V_R8(&AValue));
        case VT_CY: return TVariant(TCurrency{V_CY(&AValue).int64});
        case VT_DATE: return TVariant(TDate{V_DATE(&AValue)});
        case VT_BSTR: return TVariant(FromBstr(V_BSTR(&AValue)));
        case VT_DECIMAL: {
            double d = 0;
            DECIMAL value = V_DECIMAL(&AValue);
            if (FAILED(VarR8FromDec(&value, &d))) NoHostValue(type);
            return TVariant(d);
        }
        case VT_DISPATCH:
            if (!V_DISPATCH(&AValue)) return TVariant::Null();
            return TVariant::Object(std::make_shared<TComObjectRef>(V_DISPATCH(&AValue), true));
        case VT_UNKNOWN:
            if (!V_UNKNOWN(&AValue)) return TVariant::Null();
            return TVariant::Object(std::make_shared<TComObjectRef>(V_UNKNOWN(&AValue), false));
        default: NoHostValue(type);
    }
}

void ToComValue(const TVariant& AValue, VARIANT& AOut) {
    VariantInit(&AOut);
    switch (AValue.VarType()) {
        case varEmpty: return;
        case varNull: V_VT(&AOut) = VT_NULL; return;
        case varBoolean:
            V_VT(&AOut) = VT_BOOL;
            V_BOOL(&AOut) = AValue.AsBool() ? VARIANT_TRUE : VARIANT_FALSE;
            return;
        case varSmallint:
            V_VT(&AOut) = VT_I2;
            V_I2(&AOut) = static_cast<SHORT>(AValue.AsInt());
            return;
        case varInteger:
            V_VT(&AOut) = VT_I4;
            V_I4(&AOut) = AValue.AsInt();
            return;
        case varByte:
            V_VT(&AOut) = VT_UI1;
            V_UI1(&AOut) = static_cast<BYTE>(AValue.AsInt());
            return;
        case varSingle:
            V_VT(&AOut) = VT_R4;
            V_R4(&AOut) = static_cast<float>(AValue.AsDouble());
            return;
        case varDouble:
            V_VT(&AOut) = VT_R8;
            V_R8(&AOut) = AValue.AsDouble();
            return;
        case varCurrency:
            V_VT(&AOut) = VT_CY;
            V_CY(&AOut).int64 = AValue.AsCurrency().Value;
            return;
        case varDate:
            V_VT(&AOut) = VT_DATE;
            V_DATE(&AOut) = AValue.AsDate().Days;
            return;
        case varUString:
        case varString: {
            BSTR text = ToBstr(AValue.AsU16String());
            if (!text) throw EFrError("SysAllocStringLen failed: out of memory");
            V_VT(&AOut) = VT_BSTR;
            V_BSTR(&AOut) = text;
            return;
        }
        case varObject: {
            auto ref = std::dynamic_pointer_cast<TComObjectRef>(AValue.AsObject());
            if (!ref) throw EConvertError("An object of the driver's own cannot be given to the host");
            ref->Object()->AddRef();
            if (ref->IsDispatch()) {
                V_VT(&AOut) = VT_DISPATCH;
                V_DISPATCH(&AOut) = static_cast<IDispatch*>(ref->Object());
            } else {
                V_VT(&AOut) = VT_UNKNOWN;
                V_UNKNOWN(&AOut) = ref->Object();
            }
            return;
        }
        case varArray: {
            const auto& items = AValue.AsArray();
            if (items.size() > std::numeric_limits<LONG>::max()) throw EConvertError("The array is too long");
            SAFEARRAY* array = SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(items.size()));
            if (!array) throw EFrError("SafeArrayCreateVector failed: out of memory");
            try {
                TArrayAccess out(array);
                for (std::size_t i = 0; i < items.size(); ++i) ToComValue(items[i], out[i]);
            } catch (...) {
                SafeArrayDestroy(array);
                throw;
            }
            V_VT(&AOut) = VT_ARRAY | VT_VARIANT;
            V_ARRAY(&AOut) = array;
            return;
        }
    }
    throw EConvertError(fmt::format("The host value of kind {} has no VARIANT", VarTypeName(AValue.VarType())));
}

TComParams::TComParams(SAFEARRAY** AArray) : FArray(AArray ? *AArray : nullptr) {
    if (!FArray) return;
    TArrayAccess items(FArray);
    FParams.reserve(items.Count());
    for (std::size_t i = 0; i < items.Count(); ++i) FParams.push_back(FromComValue(items[i]));
    FBefore = FParams;
}

void TComParams::WriteBack() {
    if (!FArray) return;
    TArrayAccess items(FArray);
    std::string failure;
    for (std::size_t i = 0; i < items.Count() && i < FParams.size(); ++i) {
        if (FParams[i] == FBefore[i]) continue;
        // A by-reference slot is the host's variable: the value goes there.
        VARIANT* slot = &items[i];
        if (V_VT(slot) == (VT_BYREF | VT_VARIANT) && V_VARIANTREF(slot)) slot = V_VARIANTREF(slot);
        VariantClear(slot);
        try {
            ToComValue(FParams[i], *slot);
        } catch (const EFrError& e) {
            if (failure.empty()) failure = fmt::format("Parameter {}: {}", i + 1, e.what());
        }
    }
    FBefore = FParams;
    if (!failure.empty()) throw EConvertError(failure);
}

}  // namespace fr::com
