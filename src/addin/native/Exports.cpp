// The five functions the platform finds in the library. Nothing else is exported.
#include <new>

#include "addin/NativeApi.h"
#include "addin/NativeVariant.h"
#include "addin/native/Component.h"
#include "framework/Log.h"
#include "platform/System.h"

using namespace fr::native;

namespace {

// The interface level the platform offered; we use only the first level's services.
int gPlatformCapabilities = eAppCapabilitiesInvalid;

// The log is named after the module, not after the library file ("lib..."). Done on first use
// rather than in a load-time constructor, which could run before the log's own statics exist.
void NameTheLogOnce() {
    static const bool named = [] {
        fr::TLog::SetLogFileName(fr::kModuleBaseName);
        return true;
    }();
    (void)named;
}

}  // namespace

FR_EXPORT const char16_t* GetClassNames() { return kClassName; }

FR_EXPORT long GetClassObject(const char16_t* wsName, IComponentBase** pIntf) {
    if (!pIntf) return 0;
    *pIntf = nullptr;
    try {
        if (PlatformStringView(wsName, 256) != std::u16string_view(kClassName)) return 0;
        NameTheLogOnce();
        *pIntf = new TNativeComponent();
        return 1;
    } catch (...) {
        return 0;
    }
}

FR_EXPORT long DestroyObject(IComponentBase** pIntf) {
    if (!pIntf || !*pIntf) return -1;
    try {
        // Through the first base, whose vtable holds the destructor the platform would call.
        DestroyThroughInterface(static_cast<IInitDoneBase*>(*pIntf));
    } catch (...) {
    }
    *pIntf = nullptr;
    return 0;
}

FR_EXPORT int SetPlatformCapabilities(int capabilities) {
    if (capabilities < eAppCapabilities1) return eAppCapabilitiesInvalid;
    gPlatformCapabilities = capabilities;
    return eAppCapabilities1;
}

FR_EXPORT int GetAttachType() { return eCanAttachAny; }
