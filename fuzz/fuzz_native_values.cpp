// The host values at the Native API boundary: any tVariant the platform may pass (every type
// code with flags, raw numbers, struct tm with fields out of range, strings, a variant that
// refers to a variant) into the host value, and the host value back out through the platform's
// memory manager (which may refuse).
//
// Input: the type code (two bytes), the union's 56 bytes, a date-form byte, a memory-refusal
// byte, then the text of a string value.
// Properties: a value the driver cannot take raises only the documented conversion errors, and a
// failed hand-back leaves the variant empty; a UTF-16 string comes back unchanged; every block
// taken from the memory manager is given back or handed to the platform.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "FuzzSupport.h"
#include "addin/NativeVariant.h"
#include "platform/Errors.h"

namespace {

using namespace fr;
using namespace fr::native;

class TMemory : public IMemoryManager {
public:
    bool AllocMemory(void** pMemory, unsigned long ulCountByte) override {
        if (Refuse) {
            *pMemory = nullptr;
            return false;
        }
        *pMemory = std::malloc(ulCountByte ? ulCountByte : 1);
        ++Blocks;
        return *pMemory != nullptr;
    }
    void FreeMemory(void** pMemory) override {
        if (*pMemory) --Blocks;
        std::free(*pMemory);
        *pMemory = nullptr;
    }
    bool Refuse = false;
    int Blocks = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* AData, std::size_t ASize) {
    fuzz::TInput in(AData, ASize);
    tVariant v;
    ClearVariant(v);
    v.vt = in.Word();
    const TBytes raw = in.Bytes(56);
    if (!raw.empty()) std::memcpy(&v, raw.data(), raw.size());
    const TDateForm form = in.Byte() & 1 ? TDateForm::Tm : TDateForm::Double;
    TMemory memory;
    memory.Refuse = (in.Byte() & 7) == 0;
    TBytes text = in.Rest();
    std::u16string wide(text.size() / 2, u'\0');
    if (!wide.empty()) std::memcpy(wide.data(), text.data(), wide.size() * 2);

    // The platform's pointers are valid and its Booleans are Booleans; the rest is as it came.
    tVariant inner;
    ClearVariant(inner);
    const std::uint16_t base = v.vt & ~VTYPE_FLAGS;
    switch (base) {
        case VTYPE_BOOL: v.bVal = raw.size() && raw[0] & 1; break;
        case VTYPE_TM: v.tmVal.tm_zone = nullptr; break;
        case VTYPE_PSTR:
        case VTYPE_BLOB:
            v.str.pstrVal = text.empty() ? nullptr : reinterpret_cast<char*>(text.data());
            v.str.strLen = static_cast<std::uint32_t>(text.size());
            break;
        case VTYPE_PWSTR:
            v.wstr.pwstrVal = wide.empty() ? nullptr : wide.data();
            v.wstr.wstrLen = static_cast<std::uint32_t>(wide.size());
            break;
        case VTYPE_VARIANT:
            // A reference to a string, to another reference, or to itself.
            inner.vt = raw.size() > 1 ? raw[1] % 3 == 0 ? VTYPE_PWSTR : raw[1] % 3 == 1 ? VTYPE_VARIANT : VTYPE_I4 : VTYPE_EMPTY;
            inner.wstr.pwstrVal = wide.data();
            inner.wstr.wstrLen = static_cast<std::uint32_t>(wide.size());
            if (inner.vt == VTYPE_VARIANT) inner.pvarVal = &inner;
            v.pvarVal = raw.size() > 2 && raw[2] & 1 ? &v : &inner;
            break;
        default:
            if (v.vt & VTYPE_FLAGS || base == VTYPE_INTERFACE || base == VTYPE_CLSID) v.pvarVal = nullptr;
            break;
    }

    TVariant host;
    try {
        host = ToHostValue(v);
    } catch (const EConvertError&) {
        return 0;
    }

    tVariant out;
    ClearVariant(out);
    try {
        ToPlatformValue(host, out, &memory, form);
    } catch (const EConvertError&) {
        FR_FUZZ_CHECK(out.vt == VTYPE_EMPTY, "a refused value left type %u", out.vt);
    } catch (const EPlatformMemoryError&) {
        FR_FUZZ_CHECK(out.vt == VTYPE_EMPTY, "a refused block left type %u", out.vt);
    }
    if (v.vt == VTYPE_PWSTR && out.vt == VTYPE_PWSTR)
        FR_FUZZ_CHECK(std::u16string_view(out.wstr.pwstrVal, out.wstr.wstrLen) == wide, "string changed");
    if (out.vt == VTYPE_PWSTR) memory.FreeMemory(reinterpret_cast<void**>(&out.wstr.pwstrVal));
    if (out.vt == VTYPE_PSTR || out.vt == VTYPE_BLOB) memory.FreeMemory(reinterpret_cast<void**>(&out.str.pstrVal));
    FR_FUZZ_CHECK(memory.Blocks == 0, "%d blocks kept", memory.Blocks);
    return 0;
}
