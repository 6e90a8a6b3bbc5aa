#pragma once
// Conversion between the platform's tVariant and our host value TVariant.
//
// Platform -> host: every integer width becomes a 16- or 32-bit integer when it fits and a double
// otherwise (the host value has no 64-bit integer, and the platform's Number is what arrives);
// float and double, Boolean, date as double and as struct tm, UTF-16 and single-byte strings
// (single-byte text and binary data are kept as CP1251 bytes), empty and null map to their kinds;
// a pointer to another variant is followed once. Arrays, vectors, references, interfaces and
// class ids have no host value and raise EConvertError.
//
// Host -> platform: strings are copied into memory from the platform's memory manager, with a
// terminating zero that the length does not count. Currency goes out as a double. Objects and
// arrays cannot be given to the platform and raise EConvertError.

#include <ctime>
#include <string_view>

#include "addin/NativeApi.h"
#include "framework/Variant.h"

namespace fr::native {

// How a date is written into a tVariant.
enum class TDateForm { Double, Tm };

// The memory manager cannot give memory, or there is none yet.
class EPlatformMemoryError : public EFrError {
public:
    using EFrError::EFrError;
};

// Zero-fills the variant (empty, no pointers).
void ClearVariant(tVariant& AValue);

TVariant ToHostValue(const tVariant& AValue);

// Writes AValue into AOut, which is overwritten without freeing what it held: strings the
// platform passed in are the platform's. Throws EConvertError or EPlatformMemoryError, leaving
// AOut empty.
void ToPlatformValue(const TVariant& AValue, tVariant& AOut, IMemoryManager* AMemory,
                     TDateForm ADateForm = TDateForm::Double);

// A zero-terminated copy in the platform's memory; nullptr when there is no manager or it
// refuses.
char16_t* AllocPlatformString(IMemoryManager* AMemory, std::u16string_view AText);

// struct tm <-> date. DateFromTm throws EConvertError for fields out of their ranges.
TDate DateFromTm(const std::tm& ATm);
std::tm TmFromDate(TDate ADate);

// A zero-terminated UTF-16 string of at most AMaxUnits code units (the platform's names); an
// absent pointer is the empty string.
std::u16string_view PlatformStringView(const char16_t* AText, std::size_t AMaxUnits = 1u << 20);

}  // namespace fr::native
