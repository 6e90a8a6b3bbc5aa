#pragma once
// Host values: the tagged value that crosses the host boundary, and the parameter array.
// Conversions follow the usual variant rules, locale-independently ("." as the decimal
// separator, dates as "dd.mm.yyyy hh:nn:ss"); a value that cannot be converted raises
// EConvertError.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "platform/Bytes.h"
#include "platform/Errors.h"

namespace fr {

// Money: a signed 64-bit count of ten-thousandths.
struct TCurrency {
    std::int64_t Value = 0;

    static constexpr std::int64_t kScale = 10000;
    // Rounded half to even to 4 decimals; throws EConvertError when out of range or not finite.
    static TCurrency FromDouble(double AValue);
    static TCurrency FromInt(std::int64_t AUnits);
    // Exact decimal text with "." ("12.5", "-0.0001", "+3"); more than 4 decimals are rounded
    // half to even. Returns false for anything else.
    static bool TryParse(std::string_view AText, TCurrency& AResult);

    double ToDouble() const { return static_cast<double>(Value) / kScale; }
    // Up to 4 decimals, trailing zeros dropped: "12.5", "10", "-0.0001".
    std::string ToString() const;

    friend bool operator==(TCurrency a, TCurrency b) { return a.Value == b.Value; }
};

// A date-time: days since 30.12.1899, the fraction being the time of day.
struct TDate {
    double Days = 0;

    static TDate Encode(int AYear, int AMonth, int ADay, int AHour = 0, int AMin = 0, int ASec = 0);
    void Decode(int& AYear, int& AMonth, int& ADay, int& AHour, int& AMin, int& ASec) const;
    // "dd.mm.yyyy hh:nn:ss".
    std::string ToString() const;
    // "dd.mm.yyyy", optionally followed by " hh:nn" or " hh:nn:ss". Returns false otherwise.
    static bool TryParse(std::string_view AText, TDate& AResult);

    friend bool operator==(TDate a, TDate b) { return a.Days == b.Days; }
};

// An object reference handed over by the host.
class IHostObject {
public:
    virtual ~IHostObject() = default;
};

enum TVarType {
    varEmpty,
    varNull,
    varBoolean,
    varSmallint,  // 16-bit integer
    varInteger,   // 32-bit integer
    varSingle,
    varDouble,
    varCurrency,
    varDate,
    varUString,  // UTF-16 string
    varString,   // single-byte (CP1251) string
    varByte,
    varObject,
    varArray,  // one-dimensional array of values
};

const char* VarTypeName(TVarType AType);

class TVariant {
public:
    TVariant() = default;  // empty
    TVariant(bool AValue) : FData(AValue) {}
    TVariant(std::int16_t AValue) : FData(AValue) {}
    TVariant(std::int32_t AValue) : FData(AValue) {}
    TVariant(float AValue) : FData(AValue) {}
    TVariant(double AValue) : FData(AValue) {}
    TVariant(TCurrency AValue) : FData(AValue) {}
    TVariant(TDate AValue) : FData(AValue) {}
    TVariant(std::u16string AValue) : FData(std::move(AValue)) {}
    TVariant(const char16_t* AValue) : FData(std::u16string(AValue)) {}
    // UTF-8 text becomes a UTF-16 string value, as host strings are.
    TVariant(std::string_view AUtf8);
    TVariant(const std::string& AUtf8) : TVariant(std::string_view(AUtf8)) {}
    TVariant(const char* AUtf8) : TVariant(std::string_view(AUtf8)) {}
    template <class T>
    TVariant(T*) = delete;  // no pointer silently becomes a Boolean

    static TVariant Null();
    static TVariant Byte(std::uint8_t AValue);
    static TVariant AnsiString(TBytes ACp1251);
    static TVariant Object(std::shared_ptr<IHostObject> AObject);
    static TVariant Array(std::vector<TVariant> AItems);

    TVarType VarType() const;
    bool IsEmpty() const { return VarType() == varEmpty; }
    bool IsNull() const { return VarType() == varNull; }
    bool IsString() const { return VarType() == varUString || VarType() == varString; }
    bool IsArray() const { return VarType() == varArray; }

    // Conversions; each throws EConvertError when the value has no such form.
    bool AsBool() const;
    std::int32_t AsInt() const;
    std::int64_t AsInt64() const;
    double AsDouble() const;
    TCurrency AsCurrency() const;
    TDate AsDate() const;
    std::string AsString() const;  // UTF-8
    std::u16string AsU16String() const;
    const std::vector<TVariant>& AsArray() const;
    std::shared_ptr<IHostObject> AsObject() const;

    // Same kind and same value (arrays element by element, objects by identity).
    friend bool operator==(const TVariant& a, const TVariant& b);

private:
    struct TNullTag {
        friend bool operator==(TNullTag, TNullTag) { return true; }
    };
    struct TByteTag {
        std::uint8_t Value;
        friend bool operator==(TByteTag a, TByteTag b) { return a.Value == b.Value; }
    };
    struct TAnsiTag {
        TBytes Bytes;
        friend bool operator==(const TAnsiTag& a, const TAnsiTag& b) { return a.Bytes == b.Bytes; }
    };
    using TArrayPtr = std::shared_ptr<const std::vector<TVariant>>;
    using TData = std::variant<std::monostate, TNullTag, bool, std::int16_t, std::int32_t, float, double,
                               TCurrency, TDate, std::u16string, TAnsiTag, TByteTag,
                               std::shared_ptr<IHostObject>, TArrayPtr>;

    [[noreturn]] void CannotConvert(TVarType ATo) const;
    double NumberOf(TVarType ATo) const;  // numeric kinds and numeric text

    TData FData;
};

// The host's parameter array, indexed from 0. Writing element i is how an out-parameter
// reaches the host.
using TParams = std::vector<TVariant>;

// An index past the end of the parameter array. Handlers check HasParams first and answer
// 1004; this exception is the safety net that keeps them from reading past the array.
class EParamError : public EFrError {
public:
    using EFrError::EFrError;
};

inline bool HasParams(const TParams& AParams, std::size_t ACount) { return AParams.size() >= ACount; }

TVariant GetParam(const TParams& AParams, std::size_t AIndex);  // throws EParamError
void PutParamInt(TParams& AParams, std::size_t AIndex, std::int32_t AValue);
void PutParamStr(TParams& AParams, std::size_t AIndex, const std::string& AText);
void PutParamDouble(TParams& AParams, std::size_t AIndex, double AValue);
void PutParamVariant(TParams& AParams, std::size_t AIndex, const TVariant& AValue);

}  // namespace fr
