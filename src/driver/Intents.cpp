#include "driver/Intents.h"

#include <algorithm>
#include <charconv>

#include <fmt/format.h>

#include "driver/DocumentRecovery.h"
#include "framework/ErrorCodes.h"
#include "framework/Log.h"
#include "platform/Encoding.h"

namespace fr {
namespace {

constexpr const char* kMagic = "fr-intent 1";
// A stored document is read TLV by TLV; a register that never ends it cannot hold the host.
constexpr int kMaxTlvReads = 1024;

std::int64_t ToInt(std::string_view AText, std::int64_t ADefault) {
    std::int64_t v = 0;
    const auto [p, ec] = std::from_chars(AText.data(), AText.data() + AText.size(), v);
    return ec == std::errc() && p == AText.data() + AText.size() ? v : ADefault;
}

std::uint64_t LittleEndian(const TBytes& AData, std::size_t AFrom, std::size_t ACount) {
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < ACount && AFrom + i < AData.size() && i < 8; ++i)
        v |= std::uint64_t{AData[AFrom + i]} << (8 * i);
    return v;
}

// Names and other text fields stay on one line.
std::string Escaped(std::string_view AText) {
    std::string out;
    for (char c : AText) {
        if (c == '\\') out += "\\\\";
        else if (c == '\n') out += "\\n";
        else if (c == '\r') out += "\\r";
        else out += c;
    }
    return out;
}

std::string Unescaped(std::string_view AText) {
    std::string out;
    for (std::size_t i = 0; i < AText.size(); ++i) {
        if (AText[i] != '\\' || i + 1 == AText.size()) {
            out += AText[i];
            continue;
        }
        const char c = AText[++i];
        out += c == 'n' ? '\n' : c == 'r' ? '\r' : c;
    }
    return out;
}

// A quantity in millionths from the fiscal data format's floating VLN: decimal places, mantissa.
std::uint64_t FvlnMillionths(const TBytes& AValue) {
    if (AValue.empty()) return 0;
    std::uint64_t mantissa = LittleEndian(AValue, 1, AValue.size() - 1);
    for (int places = AValue[0]; places < 6; ++places) mantissa *= 10;
    for (int places = AValue[0]; places > 6; --places) mantissa /= 10;
    return mantissa;
}

// The name as the register holds it: single-byte, so both sides lose the same characters.
TBytes RegisterName(std::string_view AUtf8) { return Utf8ToSingleByte(AUtf8, CodePage::Cp1251); }

}  // namespace

TIntentCounts& IntentCounts() {
    static TIntentCounts counts;
    return counts;
}

const char* IntentStateName(TIntent::TState AState) {
    switch (AState) {
        case TIntent::TState::Registered: return "registered";
        case TIntent::TState::NotRegistered: return "not-registered";
        default: return "pending";
    }
}

std::string IntentText(const TIntent& I) {
    std::string t = fmt::format("{}\nid={}\noperation={}\nregister={}\nreference={}\ntime={}\nstate={}\nbefore={}\n"
                                "type={}\nsign={}\ntotal={}\n",
                                kMagic, I.Id, Escaped(I.Operation), Escaped(I.Register), Escaped(I.Reference), I.Time,
                                IntentStateName(I.State), I.NumberBefore, I.DocumentType, I.SettlementSign, I.Total);
    for (const TIntentPosition& p : I.Positions) t += fmt::format("position={};{};{}\n", p.Quantity, p.Sum, Escaped(p.Name));
    t += fmt::format("fingerprint={}\ncash-before={}\ncash-change={}\nnumber={}\nfiscal-sign={}\ntold={}\n", I.Fingerprint,
                     I.CashBefore, I.CashChange, I.Number, I.FiscalSign, I.Told ? 1 : 0);
    return t;
}

std::optional<TIntent> ParseIntent(std::string_view AText) {
    TIntent I;
    bool magic = false, state = false;
    while (!AText.empty()) {
        const std::size_t eol = AText.find('\n');
        std::string_view line = AText.substr(0, eol);
        AText = eol == std::string_view::npos ? std::string_view{} : AText.substr(eol + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line == kMagic) {
            magic = true;
            continue;
        }
        const std::size_t eq = line.find('=');
        if (eq == std::string_view::npos) continue;
        const std::string_view key = line.substr(0, eq), value = line.substr(eq + 1);
        if (key == "id") I.Id = value;
        else if (key == "operation") I.Operation = Unescaped(value);
        else if (key == "register") I.Register = Unescaped(value);
        else if (key == "reference") I.Reference = Unescaped(value);
        else if (key == "time") I.Time = ToInt(value, 0);
        else if (key == "state") {
            state = true;
            if (value == "registered") I.State = TIntent::TState::Registered;
            else if (value == "not-registered") I.State = TIntent::TState::NotRegistered;
            else if (value == "pending") I.State = TIntent::TState::Pending;
            else return std::nullopt;
        } else if (key == "before") I.NumberBefore = ToInt(value, -1);
        else if (key == "type") I.DocumentType = static_cast<int>(ToInt(value, 0));
        else if (key == "sign") I.SettlementSign = static_cast<int>(ToInt(value, 0));
        else if (key == "total") I.Total = ToInt(value, -1);
        else if (key == "position") {
            const std::size_t a = value.find(';');
            const std::size_t b = a == std::string_view::npos ? a : value.find(';', a + 1);
            if (b == std::string_view::npos) return std::nullopt;
            const std::int64_t q = ToInt(value.substr(0, a), -1), s = ToInt(value.substr(a + 1, b - a - 1), -1);
            if (q < 0 || s < 0) return std::nullopt;
            I.Positions.push_back({Unescaped(value.substr(b + 1)), static_cast<std::uint64_t>(q),
                                   static_cast<std::uint64_t>(s)});
        } else if (key == "fingerprint") I.Fingerprint = value;
        else if (key == "cash-before") I.CashBefore = ToInt(value, -1);
        else if (key == "cash-change") I.CashChange = ToInt(value, 0);
        else if (key == "number") I.Number = ToInt(value, 0);
        else if (key == "fiscal-sign") I.FiscalSign = value;
        else if (key == "told") I.Told = value == "1";
    }
    // A document intent without its number before cannot be settled: not an intent.
    if (!magic || !state || I.Operation.empty() || (I.DocumentType != 0 && I.NumberBefore < 0) ||
        (I.DocumentType == 0 && I.CashBefore < 0))
        return std::nullopt;
    return I;
}

TFingerprint& TFingerprint::Add(std::string_view AField) {
    for (const char c : AField) {
        FHash ^= static_cast<std::uint8_t>(c);
        FHash *= 1099511628211ull;
    }
    FHash ^= 0x1F;  // the separator keeps "ab","c" apart from "a","bc"
    FHash *= 1099511628211ull;
    return *this;
}

TFingerprint& TFingerprint::Add(std::int64_t AValue) { return Add(std::to_string(AValue)); }

std::string TFingerprint::Text() const { return fmt::format("{:016x}", FHash); }

std::int32_t ReadStoredDocument(TDevice& ADevice, std::int64_t ANumber, TStoredDocument& D) {
    D = TStoredDocument{};
    std::int32_t type = 0, length = 0;
    const std::int32_t r = ADevice.GetFNRequestFiscalDocumentTLV(static_cast<std::int32_t>(ANumber), type, length);
    if (r != 0) return r;
    D.Type = type;
    bool ended = false;
    for (int i = 0; i < kMaxTlvReads; ++i) {
        TBytes tlv;
        if (ADevice.GetFNReadFiscalDocumentTLV(tlv) != 0 || tlv.size() < 4) {
            ended = true;
            break;
        }
        const auto tag = LittleEndian(tlv, 0, 2);
        const std::size_t len = std::min<std::size_t>(LittleEndian(tlv, 2, 2), tlv.size() - 4);
        const TBytes value(tlv.begin() + 4, tlv.begin() + static_cast<std::ptrdiff_t>(4 + len));
        if (tag == 1040) D.Number = static_cast<std::int64_t>(LittleEndian(value, 0, len));
        if (tag == 1020) D.Total = static_cast<std::int64_t>(LittleEndian(value, 0, len));
        if (tag == 1054) D.SettlementSign = static_cast<int>(LittleEndian(value, 0, len));
        if (tag == 1077 && len >= 4) {
            // Six bytes; the sign is the last four, most significant first.
            std::uint32_t sign = 0;
            for (std::size_t k = len - 4; k < len; ++k) sign = sign << 8 | value[k];
            D.FiscalSign = std::to_string(sign);
        }
        if (tag == 1059) {
            TIntentPosition p;
            for (std::size_t at = 0; at + 4 <= value.size();) {
                const auto inner = LittleEndian(value, at, 2);
                const std::size_t n = std::min<std::size_t>(LittleEndian(value, at + 2, 2), value.size() - at - 4);
                const TBytes v(value.begin() + static_cast<std::ptrdiff_t>(at + 4),
                               value.begin() + static_cast<std::ptrdiff_t>(at + 4 + n));
                if (inner == 1030) p.Name = SingleByteToUtf8(v, CodePage::Cp866);
                if (inner == 1023) p.Quantity = FvlnMillionths(v);
                if (inner == 1043) p.Sum = LittleEndian(v, 0, n);
                at += 4 + n;
            }
            D.Positions.push_back(std::move(p));
        }
    }
    // Leave the data-output mode whatever happened.
    ADevice.UnlockDataOutputMode();
    if (!ended || D.FiscalSign.empty() || (D.Number >= 0 && D.Number != ANumber)) return errProtocol;
    D.Number = ANumber;
    return 0;
}

bool MatchesIntent(const TIntent& I, const TStoredDocument& D) {
    if (D.Type != I.DocumentType) return false;
    if (I.SettlementSign != 0 && D.SettlementSign != I.SettlementSign) return false;
    if (I.Total >= 0 && D.Total != I.Total) return false;
    if (I.Positions.empty()) return true;
    if (D.Positions.size() != I.Positions.size()) return false;
    for (std::size_t i = 0; i < I.Positions.size(); ++i) {
        const TIntentPosition &want = I.Positions[i], &got = D.Positions[i];
        if (want.Quantity != got.Quantity || want.Sum != got.Sum) return false;
        const TBytes a = RegisterName(want.Name), b = RegisterName(got.Name);
        const std::size_t n = std::min(a.size(), b.size());
        if (!std::equal(a.begin(), a.begin() + static_cast<std::ptrdiff_t>(n), b.begin())) return false;
    }
    return true;
}

TSettlement SettleFromRegister(TDevice& ADevice, TIntent& I, std::int32_t& AFailure) {
    AFailure = 0;
    if (I.DocumentType == 0) {
        std::int64_t cash = 0;
        AFailure = ADevice.GetMoneyReg(kCashInTillRegister, cash);
        if (AFailure != 0) return TSettlement::Unknown;
        if (cash == I.CashBefore + I.CashChange) return TSettlement::Registered;
        if (cash != I.CashBefore)
            TLog::Append("TDriver",
                         fmt::format("WARNING: {}: the cash in the till moved by {} instead of {} or nothing; taken as "
                                     "not done",
                                     I.Operation, cash - I.CashBefore, I.CashChange),
                         TLog::mtError);
        return TSettlement::NotRegistered;
    }
    std::int64_t last = 0;
    AFailure = ReadLastDocumentNumber(ADevice, last);
    if (AFailure != 0) return TSettlement::Unknown;
    const std::int64_t end = std::min(last, I.NumberBefore + kIntentSearchWindow);
    for (std::int64_t n = I.NumberBefore + 1; n <= end; ++n) {
        TStoredDocument d;
        AFailure = ReadStoredDocument(ADevice, n, d);
        if (AFailure != 0) return TSettlement::Unknown;
        if (!MatchesIntent(I, d)) {
            TLog::Append("TDriver", fmt::format("{}: document {} (type {}) is not ours", I.Operation, n, d.Type),
                         TLog::mtInfo);
            continue;
        }
        I.Number = n;
        I.FiscalSign = d.FiscalSign;
        return TSettlement::Registered;
    }
    return TSettlement::NotRegistered;
}

}  // namespace fr
