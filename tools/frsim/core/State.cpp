// The register's state as JSON: what a register keeps across power cycles (clock, fiscal
// storage, shift, counters, tables, paper) and the tape printed so far. An open receipt and
// a read-out in progress are not kept: a restart cancels them.

#include <fmt/format.h>

#include "Register.h"
#include "platform/Errors.h"

namespace fr::sim {

namespace {

std::string Hex(const TBytes& b) {
    std::string s;
    for (std::uint8_t c : b) s += fmt::format("{:02X}", c);
    return s;
}

TBytes Unhex(const std::string& s) {
    if (s.size() % 2) throw EFrError("odd hex text in the state: " + s);
    TBytes b;
    for (std::size_t i = 0; i < s.size(); i += 2) {
        int v = 0;
        for (int k = 0; k < 2; ++k) {
            char c = s[i + static_cast<std::size_t>(k)];
            int d = c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
            if (d < 0) throw EFrError("bad hex text in the state: " + s);
            v = v * 16 + d;
        }
        b.push_back(static_cast<std::uint8_t>(v));
    }
    return b;
}

const char* KindName(TTapeEntry::TKind k) {
    switch (k) {
    case TTapeEntry::TKind::Line: return "line";
    case TTapeEntry::TKind::Ean13: return "ean13";
    case TTapeEntry::TKind::Qr: return "qr";
    case TTapeEntry::TKind::Feed: return "feed";
    case TTapeEntry::TKind::Cut: return "cut";
    }
    return "line";
}

TTapeEntry::TKind KindOf(const std::string& s) {
    for (auto k : {TTapeEntry::TKind::Line, TTapeEntry::TKind::Ean13, TTapeEntry::TKind::Qr,
                   TTapeEntry::TKind::Feed, TTapeEntry::TKind::Cut})
        if (s == KindName(k)) return k;
    throw EFrError("unknown tape entry kind in the state: " + s);
}

}  // namespace

nlohmann::json TRegister::ToJson() const {
    using nlohmann::json;
    json j;
    j["version"] = 1;
    j["password"] = FPassword;
    j["clock"] = Now();
    j["clockRunning"] = FClockRunning;
    json fn;
    fn["fiscal"] = FFiscal;
    fn["closed"] = FFnClosed;
    fn["serial"] = FFnSerial;
    fn["warnings"] = FFnWarnings;
    fn["lastDocument"] = FLastDoc;
    fn["shortRegistrationAnswer"] = FShortRegAnswer;
    if (FReg.Present)
        fn["registration"] = {{"time", FReg.Time}, {"inn", FReg.Inn}, {"rnm", FReg.Rnm}, {"tax", FReg.Tax},
                              {"mode", FReg.Mode}, {"document", FReg.Doc}, {"sign", FReg.Sign}};
    json docs = json::array();
    for (const TFnDocument& d : FDocs) {
        json tl = json::array();
        for (const TBytes& t : d.Tlvs) tl.push_back(Hex(t));
        docs.push_back({{"number", d.Number}, {"type", d.Type}, {"time", d.Time}, {"sign", d.Sign},
                        {"sent", d.Sent}, {"tlv", tl}});
    }
    fn["documents"] = docs;
    j["fn"] = fn;
    json regs = json::object();
    for (auto& [k, v] : FOpRegs) regs[std::to_string(k)] = v;
    j["shift"] = {{"open", FShiftOpen},       {"number", FShiftNumber},  {"openedAt", FShiftOpenedAt},
                  {"receipts", FReceiptNumber}, {"documents", FShiftDocs}, {"registers", regs}};
    j["cash"] = FCash;
    j["documentCounter"] = FDocumentCounter;
    json tables = json::object();
    for (auto& [k, v] : FTables) tables[fmt::format("{}.{}", k / 256, k % 256)] = Hex(v);
    j["tables"] = tables;
    j["paper"] = {{"loaded", FPaper}, {"state", FPaperState}, {"linesLeft", FPaperLeft}, {"printMillis", FPrintMillis}};
    json tape = json::array();
    for (const TTapeEntry& e : FTape)
        tape.push_back({{"kind", KindName(e.Kind)}, {"flags", e.Flags}, {"text", e.Text}, {"count", e.Count}});
    j["tape"] = tape;
    return j;
}

void TRegister::FromJson(const nlohmann::json& j) {
    try {
        TRegister r(FSteadyNow);  // built aside, so a bad state leaves this one untouched
        r.FPassword = j.value("password", 30u);
        r.SetClock(j.value("clock", Now()));
        r.FClockRunning = j.value("clockRunning", true);
        if (j.contains("fn")) {
            const auto& fn = j.at("fn");
            r.FFiscal = fn.value("fiscal", false);
            r.FFnClosed = fn.value("closed", false);
            r.FFnSerial = fn.value("serial", r.FFnSerial);
            r.FFnWarnings = fn.value("warnings", std::uint8_t{0});
            r.FLastDoc = fn.value("lastDocument", 0u);
            r.FShortRegAnswer = fn.value("shortRegistrationAnswer", false);
            if (fn.contains("registration")) {
                const auto& g = fn.at("registration");
                r.FReg.Present = true;
                r.FReg.Time = g.at("time").get<std::int64_t>();
                r.FReg.Inn = g.at("inn").get<std::string>();
                r.FReg.Rnm = g.at("rnm").get<std::string>();
                r.FReg.Tax = g.at("tax").get<std::uint8_t>();
                r.FReg.Mode = g.at("mode").get<std::uint8_t>();
                r.FReg.Doc = g.at("document").get<std::uint32_t>();
                r.FReg.Sign = g.at("sign").get<std::uint32_t>();
            }
            const nlohmann::json docs = fn.value("documents", nlohmann::json::array());
            for (const auto& d : docs) {
                TFnDocument doc;
                doc.Number = d.at("number").get<std::uint32_t>();
                doc.Type = d.at("type").get<std::uint16_t>();
                doc.Time = d.at("time").get<std::int64_t>();
                doc.Sign = d.at("sign").get<std::uint32_t>();
                doc.Sent = d.value("sent", false);
                for (const auto& t : d.at("tlv")) {
                    TBytes b = Unhex(t.get<std::string>());
                    if (b.size() < 4 || b.size() != 4u + (b[2] | b[3] << 8)) throw EFrError("bad TLV in the state");
                    doc.Tlvs.push_back(std::move(b));
                }
                r.FDocs.push_back(std::move(doc));
            }
        }
        if (j.contains("shift")) {
            const auto& s = j.at("shift");
            r.FShiftOpen = s.value("open", false);
            r.FShiftNumber = s.value("number", 0);
            r.FShiftOpenedAt = s.value("openedAt", std::int64_t{0});
            r.FReceiptNumber = s.value("receipts", 0);
            r.FShiftDocs = s.value("documents", 0);
            const nlohmann::json regs = s.value("registers", nlohmann::json::object());
            for (auto& [k, v] : regs.items())
                r.FOpRegs[std::stoi(k) & 0xFF] = v.get<std::uint16_t>();
        }
        r.FCash = j.value("cash", std::int64_t{0});
        r.FDocumentCounter = j.value("documentCounter", 0);
        const nlohmann::json tables = j.value("tables", nlohmann::json::object());
        for (auto& [k, v] : tables.items()) {
            int t = 0, f = 0;
            if (std::sscanf(k.c_str(), "%d.%d", &t, &f) != 2 || !r.Field(t, f))
                throw EFrError("unknown table field in the state: " + k);
            TBytes b = Unhex(v.get<std::string>());
            b.resize(static_cast<std::size_t>(r.Field(t, f)->Size), 0);
            r.FTables[t * 256 + f] = b;
        }
        if (j.contains("paper")) {
            const auto& p = j.at("paper");
            r.FPaper = p.value("loaded", true);
            r.FPaperState = p.value("state", 0);
            if (r.FPaperState != 2 && r.FPaperState != 3) r.FPaperState = 0;
            r.FPaperLeft = p.value("linesLeft", -1);
            r.FPrintMillis = p.value("printMillis", 0);
        }
        const nlohmann::json tape = j.value("tape", nlohmann::json::array());
        for (const auto& e : tape) {
            TTapeEntry t;
            t.Kind = KindOf(e.at("kind").get<std::string>());
            t.Flags = e.value("flags", std::uint8_t{0});
            t.Text = e.value("text", std::string());
            t.Count = e.value("count", 0);
            r.FTape.push_back(std::move(t));
        }
        *this = std::move(r);
    } catch (const nlohmann::json::exception& e) {
        throw EFrError(std::string("malformed simulator state: ") + e.what());
    } catch (const std::invalid_argument& e) {
        throw EFrError(std::string("malformed simulator state: ") + e.what());
    } catch (const std::out_of_range& e) {
        throw EFrError(std::string("malformed simulator state: ") + e.what());
    }
}

}  // namespace fr::sim
