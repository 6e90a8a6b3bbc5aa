#include "Simulator.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <sstream>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "Link.h"
#include "Register.h"
#include "platform/Errors.h"
#include "platform/System.h"

namespace fr::sim {

struct TSimulator::TShared {
    explicit TShared(TRegister::TSteadyNow now) : Reg(std::move(now)) {}
    mutable std::mutex Lock;
    // Notified after every command the register has handled (for WaitUntil).
    std::condition_variable Handled;
    TRegister Reg;
    std::vector<TFault> Faults;
    int Connections = 0;
    int Commands = 0;
    TLinkBehaviour Behaviour;

    TPlan Handle(const TBytes& m) {
        std::lock_guard<std::mutex> g(Lock);
        ++Commands;
        std::uint16_t code = 0;
        if (!m.empty()) code = m[0] >= 0xFE && m.size() > 1 ? static_cast<std::uint16_t>(m[0] << 8 | m[1]) : m[0];
        TPlan plan;
        plan.ResendAtOnce = Behaviour.ResendAtOnce;
        std::optional<int> refuse;
        for (auto it = Faults.begin(); it != Faults.end();) {
            if (it->Command && *it->Command != code) {
                ++it;
                continue;
            }
            if (it->After > 0) {
                --it->After;
                ++it;
                continue;
            }
            switch (it->Kind) {
            case TFaultKind::Silence: plan.Silence = true; break;
            case TFaultKind::Nak: plan.Nak = true; break;
            case TFaultKind::BadCheck: plan.BadCheck = true; break;
            case TFaultKind::NoAck: plan.NoAck = true; break;
            case TFaultKind::Uncollected: plan.Uncollected = true; break;
            case TFaultKind::Split:
                plan.BitRate = it->BitRate > 0 ? it->BitRate : 9600;
                plan.PieceSize = it->PieceSize > 0 ? it->PieceSize : 1;
                break;
            case TFaultKind::Delay: plan.DelayMs += std::max(0, it->DelayMs); break;
            case TFaultKind::Disconnect: plan.Disconnect = true; break;
            case TFaultKind::Refuse: refuse = it->Code; break;
            case TFaultKind::DropAfterExecute: plan.Drop = true; break;
            case TFaultKind::Deaf:
                plan.Deaf = true;
                plan.DelayMs = std::max(0, it->DelayMs);
                break;
            }
            if (it->Count > 0 && --it->Count == 0)
                it = Faults.erase(it);
            else
                ++it;
        }
        if (plan.Silence || plan.Nak || plan.Deaf) return plan;
        if (refuse) {
            std::size_t codeLen = !m.empty() && m[0] >= 0xFE ? std::min<std::size_t>(2, m.size()) : std::min<std::size_t>(1, m.size());
            plan.Answer.assign(m.begin(), m.begin() + static_cast<std::ptrdiff_t>(codeLen));
            plan.Answer.push_back(static_cast<std::uint8_t>(*refuse));
        } else {
            plan.Answer = Reg.Execute(m);
        }
        if (plan.Answer.size() > 255) plan.Answer.resize(255);
        Handled.notify_all();
        return plan;
    }
};

TSimulator::TSimulator(TLinkTimings timings, TSteadyNow steadyNow)
    : FShared(std::make_shared<TShared>(std::move(steadyNow))), FTimings(timings) {}

TSimulator::~TSimulator() { Stop(); }

// The link thread keeps the shared state alive on its own.
std::unique_ptr<TLinkServer> TSimulator::MakeLink(const std::shared_ptr<TShared>& shared, TLinkTimings t) {
    return std::make_unique<TLinkServer>(
        t, [shared](const TBytes& m) { return shared->Handle(m); },
        [shared] {
            std::lock_guard<std::mutex> g(shared->Lock);
            ++shared->Connections;
            return shared->Behaviour.KeepAnswerOnReconnect;
        });
}

std::uint16_t TSimulator::StartTcp(std::uint16_t port) {
    Stop();
    auto link = MakeLink(FShared, FTimings);
    std::uint16_t p = link->ListenTcp(port);
    link->Start();
    FLink = std::move(link);
    return p;
}

std::string TSimulator::StartPty(int comNumber) {
    Stop();
    auto link = MakeLink(FShared, FTimings);
    std::string slave = link->OpenPty();
    if (comNumber > 0) {
        std::string dir = CommonAppDataDir() + kModuleBaseName;
        ForceDirectories(dir);
        std::string path = dir + "/COM" + std::to_string(comNumber);
        struct stat st {};
        if (::lstat(path.c_str(), &st) == 0) {
            if (!S_ISLNK(st.st_mode)) throw EFrError(path + " exists and is not a link; not replaced");
            ::unlink(path.c_str());
        }
        if (::symlink(slave.c_str(), path.c_str()) != 0) throw EOSError("symlink " + path, errno);
        FComLink = path;
    }
    link->Start();
    FLink = std::move(link);
    return slave;
}

std::string TSimulator::ComLinkPath() const { return FComLink; }

void TSimulator::SetLinkBehaviour(const TLinkBehaviour& behaviour) {
    std::lock_guard<std::mutex> g(FShared->Lock);
    FShared->Behaviour = behaviour;
}

TLinkBehaviour TSimulator::LinkBehaviour() const {
    std::lock_guard<std::mutex> g(FShared->Lock);
    return FShared->Behaviour;
}

namespace {

std::uint64_t LittleEndian(const TBytes& b, std::size_t from, std::size_t count) {
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < count && from + i < b.size(); ++i) v |= std::uint64_t{b[from + i]} << (8 * i);
    return v;
}

// Calls f(tag, value) for each TLV of a record list.
template <class F>
void EachTlv(const TBytes& data, F f) {
    for (std::size_t at = 0; at + 4 <= data.size();) {
        const auto tag = static_cast<std::uint16_t>(LittleEndian(data, at, 2));
        const std::size_t len = LittleEndian(data, at + 2, 2);
        if (at + 4 + len > data.size()) return;
        f(tag, TBytes(data.begin() + static_cast<std::ptrdiff_t>(at + 4),
                      data.begin() + static_cast<std::ptrdiff_t>(at + 4 + len)));
        at += 4 + len;
    }
}

}  // namespace

std::vector<TSimDocument> TSimulator::Documents() const {
    std::lock_guard<std::mutex> g(FShared->Lock);
    std::vector<TSimDocument> out;
    for (const TFnDocument& d : FShared->Reg.FDocs) {
        TSimDocument doc;
        doc.Number = d.Number;
        doc.Type = d.Type;
        doc.Sign = d.Sign;
        for (const TBytes& tlv : d.Tlvs) {
            EachTlv(tlv, [&](std::uint16_t tag, const TBytes& value) {
                if (tag == 1020) doc.Total = static_cast<std::int64_t>(LittleEndian(value, 0, value.size()));
                if (tag != 1059) return;
                TSimDocument::TPosition pos;
                EachTlv(value, [&](std::uint16_t inner, const TBytes& v) {
                    if (inner == 1030) pos.Name = v;
                    if (inner == 1043) pos.Sum = LittleEndian(v, 0, v.size());
                });
                doc.Positions.push_back(std::move(pos));
            });
        }
        out.push_back(std::move(doc));
    }
    return out;
}

void TSimulator::Stop() {
    if (FLink) {
        FLink->Stop();
        FLink.reset();
    }
    if (!FComLink.empty()) {
        ::unlink(FComLink.c_str());
        FComLink.clear();
    }
}

bool TSimulator::Running() const { return FLink && FLink->Running(); }

TBytes TSimulator::Execute(const TBytes& message) {
    std::lock_guard<std::mutex> g(FShared->Lock);
    return FShared->Reg.Execute(message);
}

#define FR_LOCKED std::lock_guard<std::mutex> lockGuard(FShared->Lock)

void TSimulator::SetFiscal(bool fiscal) { FR_LOCKED; FShared->Reg.SetFiscal(fiscal); }
void TSimulator::OpenShift() {
    FR_LOCKED;
    if (!FShared->Reg.OpenShiftDirect()) throw EFrError("the shift cannot be opened (FN not fiscal or shift open)");
}
void TSimulator::SetLineWidth(int width) { FR_LOCKED; FShared->Reg.SetLineWidth(width); }
void TSimulator::SetClock(std::int64_t t) { FR_LOCKED; FShared->Reg.SetClock(t); }
void TSimulator::AdvanceClock(std::int64_t s) { FR_LOCKED; FShared->Reg.AdvanceClock(s); }
void TSimulator::SetClockRunning(bool r) { FR_LOCKED; FShared->Reg.SetClockRunning(r); }
void TSimulator::SetPaper(bool loaded) { FR_LOCKED; FShared->Reg.SetPaper(loaded); }
void TSimulator::SetPaperOutAfter(int lines) { FR_LOCKED; FShared->Reg.SetPaperOutAfter(lines); }
void TSimulator::SetPrintMillis(int ms) { FR_LOCKED; FShared->Reg.SetPrintMillis(ms); }
void TSimulator::SetFnWarnings(std::uint8_t f) { FR_LOCKED; FShared->Reg.SetFnWarnings(f); }
void TSimulator::SetPassword(std::uint32_t p) { FR_LOCKED; FShared->Reg.SetPassword(p); }
void TSimulator::MarkDocumentsSent() { FR_LOCKED; FShared->Reg.MarkSent(); }

TSimStatus TSimulator::Status() const {
    FR_LOCKED;
    TSimStatus s = FShared->Reg.Status();
    s.Connections = FShared->Connections;
    s.Commands = FShared->Commands;
    return s;
}

bool TSimulator::WaitUntil(const std::function<bool(const TSimStatus&)>& condition,
                           std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(FShared->Lock);
    return FShared->Handled.wait_for(lock, timeout, [&] {
        TSimStatus s = FShared->Reg.Status();
        s.Connections = FShared->Connections;
        s.Commands = FShared->Commands;
        return condition(s);
    });
}

void TSimulator::AddFault(const TFault& f) { FR_LOCKED; FShared->Faults.push_back(f); }
void TSimulator::EndDelay() {
    if (FLink) FLink->EndDelay();
}
void TSimulator::ClearFaults() { FR_LOCKED; FShared->Faults.clear(); }
std::vector<TFault> TSimulator::Faults() const { FR_LOCKED; return FShared->Faults; }

std::vector<TTapeEntry> TSimulator::Tape() const { FR_LOCKED; return FShared->Reg.Tape(); }
void TSimulator::ClearTape() { FR_LOCKED; FShared->Reg.ClearTape(); }

std::string TSimulator::TapeText() const {
    std::string out;
    for (const TTapeEntry& e : Tape()) {
        switch (e.Kind) {
        case TTapeEntry::TKind::Line: {
            std::string t = e.Text;
            for (char& c : t) {
                if (c == '\x1F') c = '=';  // the register prints 0x1F as its "=" glyph
                else if (static_cast<unsigned char>(c) < 0x20) c = ' ';
            }
            out += t;
            break;
        }
        case TTapeEntry::TKind::Ean13: out += "[EAN-13 " + e.Text + "]"; break;
        case TTapeEntry::TKind::Qr: out += fmt::format("[QR size {}: {}]", e.Count, e.Text); break;
        case TTapeEntry::TKind::Feed: out += fmt::format("[feed {}]", e.Count); break;
        case TTapeEntry::TKind::Cut: out += e.Flags ? "-------- partial cut --------" : "---------- full cut ----------"; break;
        }
        out += '\n';
    }
    return out;
}

nlohmann::json TSimulator::SaveJson() const { FR_LOCKED; return FShared->Reg.ToJson(); }
void TSimulator::LoadJson(const nlohmann::json& j) { FR_LOCKED; FShared->Reg.FromJson(j); }

void TSimulator::SaveFile(const std::string& path) const {
    std::string text = SaveJson().dump(1);
    std::string tmp = path + ".tmp";
    {
        std::ofstream f(tmp, std::ios::binary | std::ios::trunc);
        if (!f) throw EOSError("cannot write " + tmp, errno);
        f << text << '\n';
        if (!f.flush()) throw EOSError("cannot write " + tmp, errno);
    }
    // Replaced in one step, so a crash never leaves half a state behind.
    if (std::rename(tmp.c_str(), path.c_str()) != 0) throw EOSError("cannot replace " + path, errno);
}

void TSimulator::LoadFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    if (!f) throw EOSError("cannot read " + path, errno);
    nlohmann::json j = nlohmann::json::parse(f, nullptr, false);
    if (j.is_discarded() || !j.is_object()) throw EFrError(path + ": not a simulator state (JSON object)");
    LoadJson(j);
}

// ---- text control interface ----

namespace {

std::vector<std::string> Words(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> w;
    for (std::string s; in >> s;) w.push_back(s);
    return w;
}

template <class T>
std::optional<T> Number(std::string_view s, int base = 10) {
    T v{};
    if (!s.empty() && s[0] == '+') s.remove_prefix(1);
    auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v, base);
    if (ec != std::errc() || p != s.data() + s.size()) return std::nullopt;
    return v;
}

bool OnOff(const std::string& s, bool& v) {
    if (s == "on" || s == "1" || s == "yes" || s == "true") return v = true, true;
    if (s == "off" || s == "0" || s == "no" || s == "false") return v = false, true;
    return false;
}

std::optional<std::int64_t> ParseDateTime(const std::string& s) {
    int y, mo, d, h = 0, mi = 0, se = 0;
    char tail = 0;
    int n = std::sscanf(s.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%c", &y, &mo, &d, &h, &mi, &se, &tail);
    if (n != 3 && n != 6) return std::nullopt;
    if (mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || se > 59 || h < 0 || mi < 0 || se < 0)
        return std::nullopt;
    std::tm tm{};
    tm.tm_year = y - 1900;
    tm.tm_mon = mo - 1;
    tm.tm_mday = d;
    tm.tm_hour = h;
    tm.tm_min = mi;
    tm.tm_sec = se;
    std::time_t t = timegm(&tm);
    std::tm back{};
    gmtime_r(&t, &back);
    if (back.tm_mday != d || back.tm_mon != mo - 1) return std::nullopt;  // 30 February
    return static_cast<std::int64_t>(t);
}

const char* kKinds[] = {"silence", "nak",   "badcheck", "noack",  "uncollected",
                        "split",   "delay", "disconnect", "refuse", "drop", "deaf"};

}  // namespace

const char* FaultKindName(TFaultKind kind) {
    const auto i = static_cast<std::size_t>(kind);
    return i < std::size(kKinds) ? kKinds[i] : "?";
}

std::optional<TFault> TSimulator::ParseFault(const std::string& text) {
    std::string s = text;
    std::string arg;
    if (auto eq = s.find('='); eq != std::string::npos) {
        arg = s.substr(eq + 1);
        s.resize(eq);
    }
    std::string count;
    if (auto x = s.find('x'); x != std::string::npos) {
        count = s.substr(x + 1);
        s.resize(x);
    }
    std::string cmd;
    if (auto c = s.find(':'); c != std::string::npos) {
        cmd = s.substr(c + 1);
        s.resize(c);
    }
    TFault f;
    bool found = false;
    for (std::size_t i = 0; i < std::size(kKinds); ++i)
        if (s == kKinds[i]) {
            f.Kind = static_cast<TFaultKind>(i);
            found = true;
        }
    if (!found) return std::nullopt;
    if (!cmd.empty()) {
        auto v = Number<std::uint16_t>(cmd, 16);
        if (!v || cmd.size() > 4) return std::nullopt;
        f.Command = *v;
    }
    if (!count.empty()) {
        auto v = Number<int>(count);
        if (!v || *v < 0) return std::nullopt;
        f.Count = *v;
    }
    switch (f.Kind) {
    case TFaultKind::Refuse: {
        auto v = Number<int>(arg);
        if (!v || *v < 1 || *v > 255) return std::nullopt;
        f.Code = *v;
        break;
    }
    case TFaultKind::Deaf:
        if (arg.empty()) break;
        [[fallthrough]];
    case TFaultKind::Delay: {
        auto v = Number<int>(arg);
        if (!v || *v < 0 || *v > 600000) return std::nullopt;
        f.DelayMs = *v;
        break;
    }
    case TFaultKind::Split: {
        if (arg.empty()) break;
        std::string rate = arg, piece;
        if (auto sl = arg.find('/'); sl != std::string::npos) {
            rate = arg.substr(0, sl);
            piece = arg.substr(sl + 1);
        }
        auto r = Number<int>(rate);
        if (!r || *r < 50 || *r > 10000000) return std::nullopt;
        f.BitRate = *r;
        if (!piece.empty()) {
            auto p = Number<int>(piece);
            if (!p || *p < 1 || *p > 255) return std::nullopt;
            f.PieceSize = *p;
        }
        break;
    }
    default:
        if (!arg.empty()) return std::nullopt;
    }
    return f;
}

std::string TSimulator::ControlHelp() {
    return "commands:\n"
           "  status                      mode, submode, shift, documents, cash, clock\n"
           "  tape | tape clear           print the paper tape | clear it\n"
           "  paper on|off                load paper | take it out\n"
           "  paper after N               paper runs out after N more lines (-1: never)\n"
           "  clock +S | clock -S         move the register's clock by S seconds\n"
           "  clock YYYY-MM-DD[THH:MM:SS] set the register's clock\n"
           "  clock run|stop              let the clock run or stand still\n"
           "  fault FAULT                 add a fault, FAULT = KIND[:CMD][xCOUNT][=ARG]\n"
           "                              KIND: silence nak badcheck noack uncollected\n"
           "                              split(=RATE[/PIECE]) delay(=MS) disconnect\n"
           "                              refuse(=CODE) drop deaf(=MS); CMD hex (10, ff45);\n"
           "                              COUNT frames (default 1, 0 = until cleared)\n"
           "  faults | faults clear       list | clear the faults\n"
           "  resend now|enq              a NAKed answer is resent at once | at the next ENQ\n"
           "  reconnect keep|lose         an uncollected answer survives a new connection | not\n"
           "  fiscal on|off               register the FN with default data | unregister\n"
           "  shift open                  open a shift\n"
           "  width N                     line width (table 9, field 3)\n"
           "  printms N                   printing time of a document in ms (submode 5)\n"
           "  warnings N                  FN warning flags\n"
           "  sent                        all documents sent to the operator\n"
           "  save FILE | load FILE       state as JSON\n"
           "  help | quit\n";
}

std::string TSimulator::Control(const std::string& line) {
    auto w = Words(line);
    if (w.empty()) return "";
    const std::string& c = w[0];
    auto arg = [&w](std::size_t i) { return i < w.size() ? w[i] : std::string(); };
    try {
        if (c == "help") return ControlHelp();
        if (c == "status") {
            TSimStatus s = Status();
            std::time_t t = static_cast<std::time_t>(s.Clock);
            std::tm tm{};
            gmtime_r(&t, &tm);
            return fmt::format(
                "mode {} submode {} fiscal {} fn-closed {} shift {} #{} receipts {} last-document {} "
                "backlog {} cash {}.{:02} clock {:04}-{:02}-{:02}T{:02}:{:02}:{:02} width {} paper {} "
                "connections {} commands {}\n",
                s.Mode, s.Submode, s.Fiscal, s.FnClosed, s.ShiftOpen ? "open" : "closed", s.ShiftNumber,
                s.ReceiptNumber, s.LastDocument, s.Backlog, s.CashKopecks / 100, s.CashKopecks % 100,
                tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, s.LineWidth,
                s.Paper ? "on" : "off", s.Connections, s.Commands);
        }
        if (c == "tape") {
            if (arg(1) == "clear") return ClearTape(), "ok\n";
            return TapeText();
        }
        if (c == "paper") {
            bool on;
            if (OnOff(arg(1), on)) return SetPaper(on), "ok\n";
            if (arg(1) == "after")
                if (auto n = Number<int>(arg(2)); n && *n >= -1) return SetPaperOutAfter(*n), "ok\n";
        }
        if (c == "clock") {
            std::string a = arg(1);
            if (a == "run" || a == "stop") return SetClockRunning(a == "run"), "ok\n";
            if (!a.empty() && a[0] == '-') {
                if (auto n = Number<std::int64_t>(a.substr(1))) return AdvanceClock(-*n), "ok\n";
            } else if (!a.empty() && a[0] == '+') {
                if (auto n = Number<std::int64_t>(a)) return AdvanceClock(*n), "ok\n";
            } else if (auto t = ParseDateTime(a)) {
                return SetClock(*t), "ok\n";
            }
        }
        if (c == "fault") {
            if (auto f = ParseFault(arg(1))) return AddFault(*f), "ok\n";
            return "error: bad fault '" + arg(1) + "'\n";
        }
        if (c == "faults") {
            if (arg(1) == "clear") return ClearFaults(), "ok\n";
            std::string out;
            for (const TFault& f : Faults())
                out += fmt::format("{}{} x{}\n", FaultKindName(f.Kind),
                                   f.Command ? fmt::format(":{:X}", *f.Command) : "", f.Count);
            return out.empty() ? "no faults\n" : out;
        }
        if (c == "resend" && (arg(1) == "now" || arg(1) == "enq")) {
            TLinkBehaviour b = LinkBehaviour();
            b.ResendAtOnce = arg(1) == "now";
            return SetLinkBehaviour(b), "ok\n";
        }
        if (c == "reconnect" && (arg(1) == "keep" || arg(1) == "lose")) {
            TLinkBehaviour b = LinkBehaviour();
            b.KeepAnswerOnReconnect = arg(1) == "keep";
            return SetLinkBehaviour(b), "ok\n";
        }
        if (c == "fiscal") {
            bool on;
            if (OnOff(arg(1), on)) return SetFiscal(on), "ok\n";
        }
        if (c == "shift" && arg(1) == "open") return OpenShift(), "ok\n";
        if (c == "width")
            if (auto n = Number<int>(arg(1)); n && *n >= 0 && *n <= 255) return SetLineWidth(*n), "ok\n";
        if (c == "printms")
            if (auto n = Number<int>(arg(1)); n && *n >= 0) return SetPrintMillis(*n), "ok\n";
        if (c == "warnings")
            if (auto n = Number<int>(arg(1)); n && *n >= 0 && *n <= 255)
                return SetFnWarnings(static_cast<std::uint8_t>(*n)), "ok\n";
        if (c == "sent") return MarkDocumentsSent(), "ok\n";
        if (c == "save" && w.size() == 2) return SaveFile(w[1]), "ok\n";
        if (c == "load" && w.size() == 2) return LoadFile(w[1]), "ok\n";
    } catch (const EFrError& e) {
        return std::string("error: ") + e.what() + "\n";
    }
    return "error: unknown or malformed command '" + line + "' (try help)\n";
}

}  // namespace fr::sim
