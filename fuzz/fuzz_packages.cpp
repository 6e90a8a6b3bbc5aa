// Receipt, correction and text-document packages as the host passes them: a host call on the
// add-in object, the driver's handlers and operations, the device layer, and the simulated
// register reached in-process (no link, so every execution is quick and deterministic).
//
// Input: a selector byte (0 receipt, 1 electronic receipt, 2 correction, 3 text document), then
// the package text.
// Properties: every call is answered with S_OK and a result code with its text (no exception
// reaches the host); the Boolean return agrees with the code; a document reported registered is
// one more fiscal document in the register, and a failure leaves none behind.

#include <cstdint>
#include <memory>
#include <string>

#include "FuzzSupport.h"
#include "addin/HostCall.h"
#include "addin/AddInObject.h"
#include "core/Simulator.h"
#include "driver/Driver.h"
#include "framework/DriverClasses.h"
#include "framework/Log.h"
#include "platform/System.h"

namespace {

using namespace fr;

std::unique_ptr<sim::TSimulator> gSim;

// The register's answer to each command, as the link would have delivered it.
class TDirectLink : public TLinkProtocol {
public:
    int RunCommand(TBytes& AResponse, const TBytes& AConnectPwd, const TBytes& ACmd, const TBytes& AData, int,
                   bool ASendPwd, bool AWaitResponse) override {
        AResponse.clear();
        const TBytes message = link::BuildMessage(ACmd, AConnectPwd, AData, ASendPwd);
        if (message.size() > link::kMaxMessage) return 1014;
        TBytes frame = link::BuildFrame(gSim->Execute(message));
        if (!AWaitResponse) return 0;
        if (!link::CutToAnswerBody(frame)) return 1014;
        AResponse = frame;
        return 0;
    }
};

TDirectLink gLink;

class TDirectDevice : public TDevice {
public:
    TDirectDevice() : TDevice(&gLink) {}
    int Enable(int, int) override { return SetParams(); }
    int Enable(const std::string&, int) override { return SetParams(); }
    void Disable() override {}
};

class TFuzzDriver : public TDriver {
public:
    explicit TFuzzDriver(TCreateKey AKey) : TDriver(AKey) {}

protected:
    std::unique_ptr<TDevice> CreateDevice(bool) override { return std::make_unique<TDirectDevice>(); }
};

fuzz::TInstantClock gClock;
std::unique_ptr<TAddInObject> gObject;

test::THostCall Call(std::u16string_view AMethod, TParams& AParams) { return test::CallHost(*gObject, AMethod, AParams); }

void FreshRegister() {
    gSim = std::make_unique<sim::TSimulator>();
    gSim->SetLineWidth(32);
    gSim->SetFiscal(true);
    gSim->OpenShift();
}

void Setup() {
    fuzz::PrivateDataFolder();
    SetHostExeNameForTests("1cv8.exe");
    RegisterDriverClass<TFuzzDriver>("TFuzzDriver");
    FreshRegister();
    gObject = std::make_unique<TAddInObject>("TFuzzDriver");
    if (gObject->Init(nullptr) != S_OK) std::abort();
    dynamic_cast<TDriver&>(*gObject->Driver()).SetClock(&gClock);
    for (auto [name, value] : {std::pair{"PortNumber", TVariant(1)}, {"WriteLog", TVariant(false)},
                               {"CutString", TVariant("[Cut]")}, {"FeedCount", TVariant(2)}}) {
        TParams p{TVariant(name), value};
        Call(u"SetParameter", p);
    }
    TParams open(1);
    if (!Call(u"Open", open).Ok) std::abort();
    TLog::SetLogLevel(0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* AData, std::size_t ASize) {
    static const bool ready = (Setup(), true);
    (void)ready;
    static int runs = 0;
    // The register's memory grows with every document: start over now and then.
    if (++runs % 2000 == 0) FreshRegister();
    else if (runs % 100 == 0) gSim->ClearTape();

    fuzz::TInput in(AData, ASize);
    const int kind = in.Byte() % 4;
    const TBytes text = in.Rest();
    const std::string package(text.begin(), text.end());
    const std::uint32_t before = gSim->Status().LastDocument;

    TParams p;
    test::THostCall r;
    if (kind <= 1) {
        p = TParams{TVariant("0"), TVariant(kind == 1), TVariant(package), TVariant(), TVariant(), TVariant(),
                    TVariant()};
        r = Call(u"ProcessCheck", p);
    } else if (kind == 2) {
        p = TParams{TVariant("0"), TVariant(package), TVariant(), TVariant(), TVariant(), TVariant()};
        r = Call(u"ProcessCorrectionCheck", p);
    } else {
        p = TParams{TVariant("0"), TVariant(package)};
        r = Call(u"PrintTextDocument", p);
    }
    const std::uint32_t after = gSim->Status().LastDocument;

    FR_FUZZ_CHECK(r.Result == S_OK, "host call answered %d", r.Result);
    FR_FUZZ_CHECK(r.Ok == (r.Code == 0), "return %d with code %d", r.Ok, r.Code);
    FR_FUZZ_CHECK(!r.Text.empty(), "code %d without a text", r.Code);
    if (kind == 3) {
        FR_FUZZ_CHECK(after == before, "a text document made fiscal document %u", after);
    } else if (r.Ok) {
        FR_FUZZ_CHECK(after == before + 1, "reported registered, register documents %u -> %u", before, after);
    } else {
        FR_FUZZ_CHECK(after == before, "reported failed (%d %s), register documents %u -> %u", r.Code,
                      r.Text.c_str(), before, after);
    }
    return 0;
}
