// Soak: a long day at the till on a flaky line. N receipts go through the add-in object (as the
// platform and frcli call it) to the simulated register over TCP loopback and over a
// pseudo-terminal, with random link faults at a given rate; after each failure the cashier runs
// the same receipt again; the shift is closed and opened every 1,000 receipts. At each shift
// change the register's new documents are checked and dropped from its memory (so that its
// growth does not hide the driver's), and at the end the invariants are reported:
//   - each receipt the host saw succeed is registered exactly once, and none the host gave up on;
//   - each position of a registered receipt is in it exactly once;
//   - host successes = receipts registered.
// It prints receipts per second, faults met, first-call completions, RSS (peak, and growth per
// 1,000 receipts after the first 1,000) and the open descriptors before Init and after Done.
//
// Usage: bench_soak [--receipts N] [--fault-every F] [--link tcp|pty|both] [--positions P]
//                   [--random-start R] [--max-attempts A]
// Exit status 1 when an invariant does not hold.

#include <dirent.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "addin/AddInObject.h"
#include "addin/HostCall.h"
#include "core/Simulator.h"
#include "driver/Driver.h"
#include "framework/Log.h"
#include "platform/Encoding.h"
#include "platform/System.h"
#include "platform/TempDir.h"
#include "transport/LinkTimings.h"

namespace {

using namespace fr;
using Clock = std::chrono::steady_clock;

constexpr int kComNumber = 79;
constexpr int kShiftEvery = 1000;
constexpr const char* kCashier =
    "<InputParameters><Parameters CashierName=\"Петрова А.С.\" CashierVATIN=\"500100732259\"/></InputParameters>";

struct TOptions {
    int Receipts = 10000;
    int FaultEvery = 50;  // one frame in this many meets a fault; 0: none
    bool Tcp = true, Pty = true;
    int Positions = 3;
    unsigned RandomStart = 1;
    int MaxAttempts = 10;  // the cashier gives up on a receipt after this many calls
};

// Link time constants of the soak: a fault costs milliseconds instead of seconds.
TLinkTimings SoakTimings() {
    TLinkTimings t;
    t.HandshakeTimeoutMs = 60;
    t.InterByteTimeoutMs = 20;
    t.PerByteTotalTimeoutMs = 100;
    t.WriteTimeoutMs = 100;
    t.ConnectTimeoutMs = 500;
    t.ReceiveTimeoutMs = 120;
    return t;
}

sim::TLinkTimings SimTimings() {
    sim::TLinkTimings t;
    t.ByteTimeout = std::chrono::milliseconds(100);
    t.AckTimeout = std::chrono::milliseconds(150);
    return t;
}

long StatusKb(const char* AField) {
    std::ifstream in("/proc/self/status");
    std::string line;
    const std::size_t n = std::strlen(AField);
    while (std::getline(in, line))
        if (line.compare(0, n, AField) == 0) return std::atol(line.c_str() + n + 1);
    return -1;
}

int OpenDescriptors() {
    int n = 0;
    if (DIR* d = ::opendir("/proc/self/fd")) {
        while (const dirent* e = ::readdir(d))
            if (e->d_name[0] != '.') ++n;
        ::closedir(d);
        --n;  // the directory's own descriptor
    }
    return n;
}

// Position names carry the receipt and the position: "R0001234-P2" (one digit: the TLV that
// follows the name may begin with a digit).
std::string PositionName(int AReceipt, int APosition) {
    char b[32];
    std::snprintf(b, sizeof b, "R%07d-P%d", AReceipt, APosition);
    return b;
}

std::string SalePackage(int AReceipt, int APositions) {
    std::string positions;
    for (int k = 1; k <= APositions; ++k)
        positions += "<FiscalString Name=\"" + PositionName(AReceipt, k) +
                     "\" Quantity=\"1\" PriceWithDiscount=\"10\" SumWithDiscount=\"10\" DiscountSum=\"0\" "
                     "TaxSum=\"1.67\" Tax=\"20\" Department=\"1\" SignMethodCalculation=\"4\" "
                     "SignCalculationObject=\"1\"/>";
    return "<CheckPackage><Parameters PaymentType=\"1\" TaxVariant=\"0\" CashierName=\"Петрова А.С.\"/>"
           "<Positions>" + positions + "</Positions><Payments Cash=\"" + std::to_string(APositions * 10) +
           "\"/></CheckPackage>";
}

class TSoak {
public:
    TSoak(const TOptions& AOptions, bool ATcp) : O(AOptions), FTcp(ATcp), FRandom(AOptions.RandomStart) {}

    int Run();

private:
    using TCall = test::THostCall;

    TCall Call(std::u16string_view AMethod, TParams& AParams);
    // A host call with a fault armed for the frame the fault rate picks.
    TCall FaultyCall(std::u16string_view AMethod, TParams& AParams);
    void ArmFault();
    void SetParameter(const char* AName, const TVariant& AValue);
    bool Shift(const char16_t* AMethod);
    // Checks the documents registered since the last check and drops them from the register.
    void CheckAndCompact();
    void Violation(const std::string& AText);

    const TOptions& O;
    bool FTcp;
    std::mt19937 FRandom;
    test::TTempAppData FData;  // first: the COM link is made inside it
    sim::TSimulator FSim{SimTimings()};
    std::unique_ptr<TAddInObject> FObject;

    int FCountdown = 0;  // frames until the next fault (1: the next frame)
    std::map<std::string, int> FFaults;
    int FFaultsMet = 0;
    std::map<int, int> FFailureCodes;
    std::string FFirstFailure;

    int FHostSuccesses = 0, FFirstCall = 0, FGivenUp = 0, FRetries = 0;
    std::set<int> FSucceeded, FAbandoned;
    std::map<int, int> FRegistered;  // receipt -> registered documents seen
    int FReceiptDocuments = 0;
    std::uint32_t FCheckedUpTo = 0;  // the last fiscal document checked
    int FViolations = 0;
    std::vector<std::string> FExamples;
};

TSoak::TCall TSoak::Call(std::u16string_view AMethod, TParams& AParams) {
    return test::CallHost(*FObject, AMethod, AParams);
}

void TSoak::ArmFault() {
    FSim.ClearFaults();
    if (O.FaultEvery <= 0) return;
    if (FCountdown <= 0) FCountdown = 1 + std::geometric_distribution<int>(1.0 / O.FaultEvery)(FRandom);
    static constexpr sim::TFaultKind kKinds[] = {
        sim::TFaultKind::Silence, sim::TFaultKind::Nak,   sim::TFaultKind::BadCheck,   sim::TFaultKind::NoAck,
        sim::TFaultKind::Uncollected, sim::TFaultKind::Split, sim::TFaultKind::Delay, sim::TFaultKind::Disconnect,
        sim::TFaultKind::Refuse, sim::TFaultKind::DropAfterExecute};
    sim::TFault f;
    f.Kind = kKinds[std::uniform_int_distribution<int>(0, std::size(kKinds) - 1)(FRandom)];
    f.After = FCountdown - 1;
    f.Count = 1;
    f.Code = 0x73;  // a refusal of the command in this mode
    f.DelayMs = 20;
    f.BitRate = 115200;
    f.PieceSize = 3;
    FSim.AddFault(f);
}

TSoak::TCall TSoak::FaultyCall(std::u16string_view AMethod, TParams& AParams) {
    ArmFault();
    const int before = FSim.Status().Commands;
    const std::vector<sim::TFault> armed = FSim.Faults();
    TCall c = Call(AMethod, AParams);
    const std::vector<sim::TFault> left = FSim.Faults();
    FSim.ClearFaults();
    if (!armed.empty()) {
        if (left.empty()) {
            ++FFaultsMet;
            ++FFaults[sim::FaultKindName(armed.front().Kind)];
            FCountdown = 0;
        } else {
            FCountdown -= FSim.Status().Commands - before;
        }
    }
    if (!c.Ok) {
        ++FFailureCodes[c.Code];
        if (FFirstFailure.empty()) FFirstFailure = std::to_string(c.Code) + " " + c.Text;
    }
    return c;
}

void TSoak::SetParameter(const char* AName, const TVariant& AValue) {
    TParams p{TVariant(AName), AValue};
    Call(u"SetParameter", p);
}

bool TSoak::Shift(const char16_t* AMethod) {
    for (int attempt = 0; attempt < O.MaxAttempts; ++attempt) {
        TParams p{TVariant("0"), TVariant(kCashier), TVariant(), TVariant(), TVariant()};
        if (FaultyCall(AMethod, p).Ok) return true;
        // A lost answer may leave the shift as asked: the register's state decides.
        const bool open = FSim.Status().ShiftOpen;
        if (open == (std::u16string_view(AMethod) == u"OpenShift")) return true;
    }
    return false;
}

void TSoak::Violation(const std::string& AText) {
    ++FViolations;
    if (FExamples.size() < 5) FExamples.push_back(AText);
}

void TSoak::CheckAndCompact() {
    nlohmann::json state = FSim.SaveJson();
    nlohmann::json& docs = state["fn"]["documents"];
    nlohmann::json kept = nlohmann::json::array();
    for (const auto& doc : docs) {
        const std::uint32_t number = doc["number"].get<std::uint32_t>();
        if (number <= FCheckedUpTo) continue;
        FCheckedUpTo = number;
        if (doc["type"].get<int>() != 3) continue;
        ++FReceiptDocuments;
        std::map<int, std::map<int, int>> names;  // receipt -> position -> occurrences
        for (const auto& t : doc["tlv"]) {
            const std::string hex = t.get<std::string>();
            std::string bytes;
            for (std::size_t i = 0; i + 1 < hex.size(); i += 2) bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
            for (std::size_t at = bytes.find('R'); at != std::string::npos; at = bytes.find('R', at + 1)) {
                int receipt = 0, position = 0;
                if (std::sscanf(bytes.c_str() + at, "R%7d-P%1d", &receipt, &position) == 2) ++names[receipt][position];
            }
        }
        if (names.size() != 1) {
            Violation("document " + std::to_string(doc["number"].get<int>()) + " holds positions of " +
                      std::to_string(names.size()) + " receipts");
            continue;
        }
        const auto& [receipt, positions] = *names.begin();
        if (++FRegistered[receipt] == 2)
            Violation("receipt " + std::to_string(receipt) + " registered twice (document " +
                      std::to_string(doc["number"].get<int>()) + ")");
        for (int k = 1; k <= O.Positions; ++k) {
            const auto it = positions.find(k);
            const int seen = it == positions.end() ? 0 : it->second;
            if (seen != 1)
                Violation("receipt " + std::to_string(receipt) + " position " + std::to_string(k) + " appears " +
                          std::to_string(seen) + " times");
        }
    }
    // The documents are checked: keep only the newest, and no tape.
    if (!docs.empty()) kept.push_back(docs.back());
    docs = kept;
    state["tape"] = nlohmann::json::array();
    FSim.LoadJson(state);
}

int TSoak::Run() {
    FSim.SetLineWidth(32);
    FSim.SetFiscal(true);
    FSim.OpenShift();
    const std::string name = FTcp ? "tcp" : "pty";
    const long written0 = fr::IntentCounts().Written, registered0 = fr::IntentCounts().Registered,
               notRegistered0 = fr::IntentCounts().NotRegistered;
    // The register serves first, so that its own descriptors are in both counts.
    const std::uint16_t port = FTcp ? FSim.StartTcp(0) : 0;
    if (!FTcp) FSim.StartPty(kComNumber);
    const int fdBefore = OpenDescriptors();
    FObject = std::make_unique<TAddInObject>(kDriverClassName);
    if (FObject->Init(nullptr) != S_OK) {
        std::printf("%s: Init failed\n", name.c_str());
        return 1;
    }
    if (FTcp) {
        SetParameter("PortNumber", TVariant(kTcpPortNumber));
        SetParameter("IPAddress", TVariant("127.0.0.1"));
        SetParameter("IPPort", TVariant(static_cast<std::int32_t>(port)));
    } else {
        SetParameter("PortNumber", TVariant(kComNumber));
        SetParameter("BaudRate", TVariant(115200));
    }
    TParams open(1);
    if (const TCall c = Call(u"Open", open); !c.Ok) {
        std::printf("%s: Open failed: %d %s\n", name.c_str(), c.Code, c.Text.c_str());
        return 1;
    }
    TLog::SetLogLevel(0);

    std::vector<long> rssAt;  // kB after each block of 1,000 receipts
    const auto start = Clock::now();
    for (int i = 1; i <= O.Receipts; ++i) {
        const std::string package = SalePackage(i, O.Positions);
        bool ok = false;
        for (int attempt = 1; attempt <= O.MaxAttempts && !ok; ++attempt) {
            TParams p{TVariant("0"), TVariant(false), TVariant(package), TVariant(), TVariant(), TVariant(), TVariant()};
            ok = FaultyCall(u"ProcessCheck", p).Ok;
            if (ok && attempt == 1) ++FFirstCall;
            if (attempt > 1) ++FRetries;
        }
        if (ok) {
            ++FHostSuccesses;
            FSucceeded.insert(i);
        } else {
            ++FGivenUp;
            FAbandoned.insert(i);
        }
        if (i % kShiftEvery == 0 || i == O.Receipts) {
            const bool closed = Shift(u"CloseShift");
            CheckAndCompact();
            const bool opened = i == O.Receipts || Shift(u"OpenShift");
            if (!closed || !opened) Violation("shift change after receipt " + std::to_string(i) + " failed");
            rssAt.push_back(StatusKb("VmRSS:"));
        }
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    TParams close(1);
    Call(u"Close", close);
    FObject->Done();
    FObject.reset();
    const int fdAfter = OpenDescriptors();

    int registeredOk = 0;
    for (int r : FSucceeded) {
        const auto it = FRegistered.find(r);
        const int n = it == FRegistered.end() ? 0 : it->second;
        if (n == 0) Violation("receipt " + std::to_string(r) + " reported registered, not in the register");
        registeredOk += n > 0;
    }
    for (int r : FAbandoned)
        if (FRegistered.count(r)) Violation("receipt " + std::to_string(r) + " given up by the cashier, yet registered");
    if (FHostSuccesses != FReceiptDocuments)
        Violation("host successes " + std::to_string(FHostSuccesses) + " != receipts registered " +
                  std::to_string(FReceiptDocuments));

    std::printf("%s: %d receipts of %d positions in %.1f s: %.1f receipts/s\n", name.c_str(), O.Receipts, O.Positions,
                seconds, O.Receipts / seconds);
    std::printf("  faults met %d (", FFaultsMet);
    bool first = true;
    for (const auto& [k, n] : FFaults) std::printf("%s%s %d", first ? "" : ", ", k.c_str(), n), first = false;
    std::printf(")\n  first-call completions %d, retries %d, given up %d, host successes %d, receipts registered %d\n",
                FFirstCall, FRetries, FGivenUp, FHostSuccesses, FReceiptDocuments);
    std::printf("  failure codes:");
    for (const auto& [code, n] : FFailureCodes) std::printf(" %d x%d", code, n);
    std::printf("%s%s\n", FFirstFailure.empty() ? "" : "; first: ", FFirstFailure.c_str());
    double growth = 0;
    if (rssAt.size() >= 2) growth = double(rssAt.back() - rssAt.front()) / double(rssAt.size() - 1);
    std::printf("  RSS peak %ld kB, after each 1,000 receipts:", StatusKb("VmHWM:"));
    for (long kb : rssAt) std::printf(" %ld", kb);
    std::printf(" kB; growth %.1f kB per 1,000 receipts after the first 1,000\n", growth);
    std::printf("  descriptors: %d before Init, %d after Done\n", fdBefore, fdAfter);
    const fr::TIntentCounts& intents = fr::IntentCounts();
    const long registered = intents.Registered - registered0, notRegistered = intents.NotRegistered - notRegistered0;
    std::printf("  intents written %ld, settled %ld (registered %ld, not registered %ld)\n",
                intents.Written - written0, registered + notRegistered, registered, notRegistered);
    if (fdAfter != fdBefore) Violation("descriptors " + std::to_string(fdBefore) + " -> " + std::to_string(fdAfter));
    if (FViolations == 0) {
        std::printf("  invariants hold\n");
    } else {
        std::printf("  INVARIANTS VIOLATED: %d; first examples:\n", FViolations);
        for (const std::string& e : FExamples) std::printf("    %s\n", e.c_str());
    }
    std::fflush(stdout);
    return FViolations == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    TOptions o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const char* v = i + 1 < argc ? argv[i + 1] : "";
        if (a == "--receipts") o.Receipts = std::max(1, std::atoi(v)), ++i;
        else if (a == "--fault-every") o.FaultEvery = std::max(0, std::atoi(v)), ++i;
        else if (a == "--positions") o.Positions = std::clamp(std::atoi(v), 1, 9), ++i;
        else if (a == "--random-start") o.RandomStart = static_cast<unsigned>(std::atol(v)), ++i;
        else if (a == "--max-attempts") o.MaxAttempts = std::max(1, std::atoi(v)), ++i;
        else if (a == "--link") {
            o.Tcp = std::strcmp(v, "pty") != 0;
            o.Pty = std::strcmp(v, "tcp") != 0;
            ++i;
        } else {
            std::fprintf(stderr,
                         "usage: bench_soak [--receipts N] [--fault-every F] [--link tcp|pty|both] [--positions P] "
                         "[--random-start R] [--max-attempts A]\n");
            return 2;
        }
    }
    SetHostExeNameForTests("1cv8.exe");
    const TLinkTimings t = SoakTimings();
    SetLinkTimings(t);
    std::printf("soak: link time constants shortened for the soak (handshake %d ms, inter-byte %d ms, receive %d ms, "
                "connect %d ms); faults at one frame in %d; shift change every %d receipts\n",
                t.HandshakeTimeoutMs, t.InterByteTimeoutMs, t.ReceiveTimeoutMs, t.ConnectTimeoutMs, o.FaultEvery,
                kShiftEvery);
    int status = 0;
    if (o.Tcp) status |= TSoak(o, true).Run();
    if (o.Pty) status |= TSoak(o, false).Run();
    return status;
}
