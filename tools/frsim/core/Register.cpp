#include "Register.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <ctime>
#include <set>

#include <fmt/format.h>

#include "platform/Encoding.h"
#include "platform/Errors.h"

namespace fr::sim {

namespace {

constexpr std::uint8_t kOperator = 30;  // the administrator, whose password is the default
constexpr std::size_t kMaxTlv = 252;    // one TLV must fit an answer frame
constexpr std::size_t kMaxPending = 2048;
constexpr std::size_t kMaxItems = 100;
constexpr std::uint64_t kMaxMoney = (1ULL << 40) - 1;

void PutLE(TBytes& b, std::uint64_t v, int width) {
    for (int i = 0; i < width; ++i) b.push_back(i < 8 ? static_cast<std::uint8_t>(v >> (8 * i)) : 0);
}

std::uint64_t GetLE(const TBytes& b, std::size_t off, int width) {
    std::uint64_t v = 0;
    for (int i = width - 1; i >= 0; --i) v = (v << 8) | b.at(off + static_cast<std::size_t>(i));
    return v;
}

TBytes Tlv(std::uint16_t tag, const TBytes& value) {
    TBytes t;
    PutLE(t, tag, 2);
    PutLE(t, value.size(), 2);
    t.insert(t.end(), value.begin(), value.end());
    return t;
}
TBytes TlvByte(std::uint16_t tag, std::uint8_t v) { return Tlv(tag, TBytes{v}); }
TBytes TlvU32(std::uint16_t tag, std::uint64_t v) {
    TBytes b;
    PutLE(b, v, 4);
    return Tlv(tag, b);
}
TBytes TlvVln(std::uint16_t tag, std::uint64_t v) {
    TBytes b;
    do {
        b.push_back(static_cast<std::uint8_t>(v));
        v >>= 8;
    } while (v);
    return Tlv(tag, b);
}
// Quantity in millionths as a floating-point VLN: decimal places, then the mantissa.
TBytes TlvFvln(std::uint16_t tag, std::uint64_t millionths) {
    std::uint8_t places = 6;
    while (places > 0 && millionths % 10 == 0) {
        millionths /= 10;
        --places;
    }
    TBytes b{places};
    do {
        b.push_back(static_cast<std::uint8_t>(millionths));
        millionths >>= 8;
    } while (millionths);
    return Tlv(tag, b);
}
TBytes TlvSign(std::uint16_t tag, std::uint32_t sign) {
    return Tlv(tag, TBytes{0, 0, static_cast<std::uint8_t>(sign >> 24),
                           static_cast<std::uint8_t>(sign >> 16), static_cast<std::uint8_t>(sign >> 8),
                           static_cast<std::uint8_t>(sign)});
}

std::tm Split(std::int64_t t) {
    std::tm tm{};
    std::time_t tt = static_cast<std::time_t>(t);
    gmtime_r(&tt, &tm);
    return tm;
}

std::optional<std::int64_t> Join(int y, int mo, int d, int h, int mi, int s) {
    if (mo < 1 || mo > 12 || d < 1 || h < 0 || h > 23 || mi < 0 || mi > 59 || s < 0 || s > 59)
        return std::nullopt;
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    int dim = kDays[mo - 1] + (mo == 2 && (y % 4 == 0 && (y % 100 != 0 || y % 400 == 0)) ? 1 : 0);
    if (d > dim) return std::nullopt;
    std::tm tm{};
    tm.tm_year = y - 1900;
    tm.tm_mon = mo - 1;
    tm.tm_mday = d;
    tm.tm_hour = h;
    tm.tm_min = mi;
    tm.tm_sec = s;
    return static_cast<std::int64_t>(timegm(&tm));
}

std::string Money(std::uint64_t kop) { return fmt::format("{}.{:02}", kop / 100, kop % 100); }

std::string Trim(std::string s) {
    auto blank = [](unsigned char c) { return c <= ' '; };
    while (!s.empty() && blank(static_cast<unsigned char>(s.back()))) s.pop_back();
    std::size_t i = 0;
    while (i < s.size() && blank(static_cast<unsigned char>(s[i]))) ++i;
    return s.substr(i);
}

// An INN: 10 or 12 digits, trailing blanks allowed.
bool ValidInn(const TBytes& b) {
    std::string s = Trim(std::string(b.begin(), b.end()));
    if (s.size() != 10 && s.size() != 12) return false;
    return std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Table 1 (modes), 9 (printing), 17 (fiscal storage format), 18 (registration), 24 (automat).
bool KnownTable(int t) { return t == 1 || t == 9 || t == 17 || t == 18 || t == 24; }

bool OneTaxBit(std::uint8_t v) { return v != 0 && v < 0x40 && std::has_single_bit(v); }

TBytes Answer(std::uint8_t code) { return TBytes{code}; }
TBytes AnswerOp() { return TBytes{rc::Ok, kOperator}; }

// Commands that read only: served while printing and, except 0xFF 0x3A, in data output.
const std::set<std::uint16_t> kReadOnly = {0x10,   0x11,   0x13,   0x1B,   0x1F,   0x2E,  0xFC,
                                           0xFF01, 0xFF09, 0xFF39, 0xFF40, 0xFF3A, 0xFF3B};

}  // namespace

TRegister::TRegister(TSteadyNow steadyNow) : FSteadyNow(std::move(steadyNow)) {
    if (!FSteadyNow) FSteadyNow = [] { return std::chrono::steady_clock::now(); };
    FClockRef = FSteadyNow();
    FClockBase = static_cast<std::int64_t>(std::time(nullptr));
    ResetTables();
}

// ---- schema and tables ----

const TRegister::TFieldDef* TRegister::Field(int table, int field) const {
    static const std::map<int, TFieldDef> kSchema = {
        {1 * 256 + 1, {1, false, false, "Автоматическое обнуление наличности"}},
        {1 * 256 + 2, {1, false, false, "Звуковой сигнал"}},
        {1 * 256 + 3, {1, false, false, "Печать заголовка чека"}},
        {1 * 256 + 4, {1, false, false, "Печать рекламного текста"}},
        {1 * 256 + 5, {1, false, false, "Открытие денежного ящика"}},
        {1 * 256 + 6, {1, false, false, "Сохранение строк в буфере"}},
        {1 * 256 + 7, {1, false, false, "Автоматическая отрезка чека"}},
        {9 * 256 + 1, {1, false, false, "Номер шрифта"}},
        {9 * 256 + 2, {1, false, false, "Межстрочный интервал"}},
        {9 * 256 + 3, {1, false, false, "Ширина строки"}},
        {17 * 256 + 1, {1, false, false, "Режим ОФД"}},
        {17 * 256 + 17, {1, false, false, "Версия ФФД"}},
        {18 * 256 + 1, {20, true, true, "Заводской номер ККТ"}},
        {18 * 256 + 2, {12, true, true, "ИНН пользователя"}},
        {18 * 256 + 3, {20, true, true, "Регистрационный номер ККТ"}},
        {18 * 256 + 4, {16, true, true, "Заводской номер ФН"}},
        {18 * 256 + 5, {1, false, true, "Системы налогообложения"}},
        {18 * 256 + 6, {1, false, true, "Режим работы"}},
        {18 * 256 + 7, {128, true, false, "Наименование пользователя"}},
        {18 * 256 + 8, {64, true, false, "Кассир"}},
        {18 * 256 + 9, {128, true, false, "Адрес расчетов"}},
        {18 * 256 + 10, {64, true, false, "Наименование ОФД"}},
        {18 * 256 + 11, {64, true, false, "Адрес сервера ОФД"}},
        {18 * 256 + 12, {12, true, false, "ИНН ОФД"}},
        {18 * 256 + 13, {64, true, false, "Адрес сайта ФНС"}},
        {18 * 256 + 14, {128, true, false, "Место расчетов"}},
        {18 * 256 + 15, {64, true, false, "Адрес эл. почты отправителя"}},
        {18 * 256 + 16, {1, false, false, "Признак агента"}},
        {24 * 256 + 1, {20, true, false, "Номер автомата"}},
    };
    auto it = kSchema.find(table * 256 + field);
    return it == kSchema.end() ? nullptr : &it->second;
}

void TRegister::ResetTables() {
    FTables.clear();
    for (int t : {1, 9, 17, 18, 24})
        for (int f = 1; f <= 17; ++f)
            if (const TFieldDef* def = Field(t, f)) FTables[t * 256 + f] = TBytes(def->Size, 0);
    FTables[9 * 256 + 3] = {48};
    FTables[17 * 256 + 17] = {2};
    auto setText = [this](int t, int f, const std::string& s) {
        TBytes& v = FTables[t * 256 + f];
        TBytes b = Utf8ToSingleByte(s);
        std::fill(v.begin(), v.end(), 0);
        std::copy_n(b.begin(), std::min(b.size(), v.size()), v.begin());
    };
    setText(18, 1, "00000000000000012345");
    setText(18, 4, FFnSerial);
    setText(18, 13, "www.nalog.gov.ru");
}

TBytes& TRegister::FieldValue(int table, int field) { return FTables[table * 256 + field]; }

std::string TRegister::FieldText(int table, int field) const {
    auto it = FTables.find(table * 256 + field);
    if (it == FTables.end()) return {};
    std::string s;
    for (std::uint8_t c : it->second) {
        if (c == 0) break;
        s.push_back(static_cast<char>(c));
    }
    return Trim(s);
}

TBytes TRegister::FieldOem(int table, int field) const {
    std::string s = FieldText(table, field);
    return Cp1251ToCp866(TBytes(s.begin(), s.end()));
}

std::uint8_t TRegister::FieldByte(int table, int field) const {
    auto it = FTables.find(table * 256 + field);
    return it == FTables.end() || it->second.empty() ? 0 : it->second[0];
}

// ---- clock, modes ----

std::int64_t TRegister::Now() const {
    if (!FClockRunning) return FClockBase;
    auto elapsed = std::chrono::duration_cast<std::chrono::seconds>(FSteadyNow() - FClockRef);
    return FClockBase + elapsed.count();
}

void TRegister::SetClock(std::int64_t t) {
    FClockBase = t;
    FClockRef = FSteadyNow();
}

void TRegister::SetClockRunning(bool running) {
    FClockBase = Now();
    FClockRef = FSteadyNow();
    FClockRunning = running;
}

bool TRegister::ShiftExpired() const { return FShiftOpen && Now() - FShiftOpenedAt > 24 * 3600; }

bool TRegister::Busy() const { return FSteadyNow() < FBusyUntil; }

int TRegister::Mode() const {
    if (FOutDoc) return 1;
    if (FReceiptOpen) return 8 | (FReceiptType << 4);
    if (FCorrectionOpen) return 8;
    if (FShiftOpen) return ShiftExpired() ? 3 : 2;
    return 4;
}

int TRegister::Submode() const {
    if (FPaperState == 2 || FPaperState == 3) return FPaperState;
    if (Busy()) return FBusySubmode;
    if (!FPaper) return 1;
    return 0;
}

std::optional<std::uint8_t> TRegister::PrintCheck() const {
    if (FPaperState == 3) return rc::WaitContinue;
    if (FPaperState == 2 || !FPaper) return rc::NoPaper;
    return std::nullopt;
}

void TRegister::StartBusy(int busySubmode) {
    FBusyUntil = FSteadyNow() + std::chrono::milliseconds(FPrintMillis);
    FBusySubmode = busySubmode;
}

void TRegister::SetPaper(bool loaded) {
    FPaper = loaded;
    if (loaded) {
        FPaperLeft = -1;
        if (FPaperState == 2) FPaperState = 3;
    }
}

// ---- printing ----

void TRegister::PrintEntry(const TTapeEntry& e, int lines) {
    if (FPaperState == 2 || FPaperState == 3) {
        FHeld.emplace_back(e, lines);
        return;
    }
    if (FPaperLeft >= 0 && lines > 0) {
        if (FPaperLeft < lines) {
            FPaper = false;
            FPaperState = 2;
            FHeld.emplace_back(e, lines);
            return;
        }
        FPaperLeft -= lines;
    }
    FTape.push_back(e);
}

void TRegister::Print(const std::string& utf8, std::uint8_t flags, int style) {
    TBytes b = Utf8ToSingleByte(utf8);
    int width = FieldByte(9, 3);
    if (width > 0 && b.size() > static_cast<std::size_t>(width)) b.resize(static_cast<std::size_t>(width));
    TTapeEntry e;
    e.Kind = TTapeEntry::TKind::Line;
    e.Flags = flags;
    e.Count = style;
    e.Text = SingleByteToUtf8(b);
    PrintEntry(e, 1);
}

void TRegister::EndDocument(int busySubmode) {
    ++FDocumentCounter;
    if (FieldByte(1, 7) != 0) {
        TTapeEntry cut;
        cut.Kind = TTapeEntry::TKind::Cut;
        cut.Flags = 1;
        PrintEntry(cut, 0);
    }
    StartBusy(busySubmode);
}

// ---- fiscal storage helpers ----

std::uint32_t TRegister::Sign(std::uint32_t doc, std::int64_t time, std::uint64_t total) const {
    // FNV-1a over the FN serial and the document's key values: the same document always gets
    // the same sign.
    std::uint32_t h = 2166136261u;
    auto mix = [&h](std::uint64_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) {
            h ^= static_cast<std::uint8_t>(v >> (8 * i));
            h *= 16777619u;
        }
    };
    for (char c : FFnSerial) mix(static_cast<std::uint8_t>(c), 1);
    mix(doc, 4);
    mix(static_cast<std::uint64_t>(time), 8);
    mix(total, 8);
    return h;
}

void TRegister::CommonTags(std::vector<TBytes>& t) const {
    t.push_back(TlvU32(1012, static_cast<std::uint64_t>(Now())));
    t.push_back(TlvU32(1040, FLastDoc + 1));
    t.push_back(Tlv(1041, BytesOf(FFnSerial)));
    t.push_back(Tlv(1037, BytesOf(Trim(FReg.Rnm))));
    t.push_back(Tlv(1018, BytesOf(FReg.Inn)));
    t.push_back(Tlv(1048, FieldOem(18, 7)));
    t.push_back(Tlv(1009, FieldOem(18, 9)));
    t.push_back(Tlv(1187, FieldOem(18, 14)));
    t.push_back(TlvByte(1209, FieldByte(17, 17)));
}

std::vector<TBytes> TRegister::TakePending() {
    std::vector<TBytes> p;
    p.swap(FPending);
    FContext = TContext::None;
    return p;
}

TFnDocument& TRegister::AddDocument(std::uint16_t type, std::vector<TBytes> tlvs) {
    TFnDocument d;
    d.Number = ++FLastDoc;
    d.Type = type;
    d.Time = Now();
    std::uint64_t total = 0;
    for (const TBytes& t : tlvs)
        if (t.size() >= 4 && GetLE(t, 0, 2) == 1020) total = GetLE(t, 4, std::min<int>(8, static_cast<int>(t.size()) - 4));
    d.Sign = Sign(d.Number, d.Time, total);
    tlvs.push_back(TlvSign(1077, d.Sign));
    d.Tlvs = std::move(tlvs);
    FDocs.push_back(std::move(d));
    return FDocs.back();
}

void TRegister::MarkSent() {
    for (TFnDocument& d : FDocs) d.Sent = true;
}

// ---- registration ----

bool TRegister::Register(const std::string& inn, const std::string& rnm, std::uint8_t tax,
                         std::uint8_t mode, int reason) {
    std::vector<TBytes> t = TakePending();
    FReg.Present = true;
    FReg.Time = Now();
    FReg.Inn = inn;
    FReg.Rnm = rnm;
    FReg.Tax = tax;
    FReg.Mode = mode;
    auto setText = [this](int f, const std::string& s) {
        TBytes& v = FieldValue(18, f);
        std::fill(v.begin(), v.end(), 0);
        std::copy_n(s.begin(), std::min(s.size(), v.size()), v.begin());
    };
    setText(2, inn);
    setText(3, rnm);
    FieldValue(18, 5) = {tax};
    FieldValue(18, 6) = {mode};
    CommonTags(t);
    t.push_back(Tlv(1013, FieldOem(18, 1)));
    t.push_back(TlvByte(1062, tax));
    t.push_back(TlvByte(1056, mode & 0x01 ? 1 : 0));
    t.push_back(TlvByte(1002, mode & 0x02 ? 1 : 0));
    t.push_back(TlvByte(1001, mode & 0x04 ? 1 : 0));
    t.push_back(TlvByte(1109, mode & 0x08 ? 1 : 0));
    t.push_back(TlvByte(1110, mode & 0x10 ? 1 : 0));
    t.push_back(TlvByte(1108, mode & 0x20 ? 1 : 0));
    t.push_back(Tlv(1057, TBytes{FieldByte(18, 16)}));
    if (mode & 0x04) t.push_back(Tlv(1036, FieldOem(24, 1)));
    t.push_back(Tlv(1046, FieldOem(18, 10)));
    t.push_back(Tlv(1017, FieldOem(18, 12)));
    t.push_back(Tlv(1060, FieldOem(18, 13)));
    t.push_back(Tlv(1117, FieldOem(18, 15)));
    t.push_back(TlvByte(1189, 2));
    t.push_back(TlvByte(1190, 2));
    if (reason >= 0) t.push_back(TlvByte(1101, static_cast<std::uint8_t>(reason)));
    TFnDocument& d = AddDocument(reason >= 0 ? 11 : 1, std::move(t));
    FReg.Doc = d.Number;
    FReg.Sign = d.Sign;
    FFiscal = true;
    Print(reason >= 0 ? "ОТЧЕТ ОБ ИЗМ. ПАРАМЕТРОВ РЕГИСТРАЦИИ" : "ОТЧЕТ О РЕГИСТРАЦИИ");
    Print("ИНН " + Trim(inn));
    Print("РН ККТ " + Trim(rnm));
    Print(fmt::format("ФД {}", d.Number));
    Print(fmt::format("ФП {}", d.Sign));
    EndDocument();
    return true;
}

void TRegister::SetFiscal(bool fiscal) {
    if (fiscal == FFiscal) return;
    if (fiscal) {
        FFnClosed = false;
        if (FieldText(18, 7).empty()) {
            TBytes& v = FieldValue(18, 7);
            TBytes n = Utf8ToSingleByte("ООО \"Ромашка\"");
            std::copy_n(n.begin(), std::min(n.size(), v.size()), v.begin());
        }
        Register("7700000000  ", "0000000001012345    ", 0x3F, 0, -1);
    } else {
        FFiscal = false;
        FShiftOpen = false;
        FReceiptOpen = FCorrectionOpen = false;
    }
}

// ---- command dispatch ----

TBytes TRegister::Execute(const TBytes& m) {
    if (m.empty()) return TBytes{0x00, rc::BadFormat};
    std::size_t codeLen = m[0] >= 0xFE ? 2 : 1;
    if (m.size() < codeLen) return TBytes{m[0], 0x00, rc::BadFormat};
    std::uint16_t code = codeLen == 2 ? static_cast<std::uint16_t>(m[0] << 8 | m[1]) : m[0];
    TBytes out(m.begin(), m.begin() + static_cast<std::ptrdiff_t>(codeLen));
    TBytes answer;
    if (code == 0xFC) {
        answer = DeviceType();
    } else if (m.size() < codeLen + 4) {
        answer = Answer(rc::BadFormat);
    } else if (GetLE(m, codeLen, 4) != FPassword) {
        answer = Answer(rc::BadPassword);
    } else {
        answer = Run(code, TBytes(m.begin() + static_cast<std::ptrdiff_t>(codeLen + 4), m.end()));
    }
    out.insert(out.end(), answer.begin(), answer.end());
    return out;
}

TBytes TRegister::Run(std::uint16_t code, const TBytes& d) {
    bool readOnly = kReadOnly.count(code) != 0;
    if (FOutDoc && (!readOnly || code == 0xFF3A)) return Answer(rc::NotInMode);
    if (Busy() && !readOnly) return Answer(rc::Printing);
    switch (code) {
    case 0x10: return ShortState();
    case 0x11: return FullState();
    case 0x13: return AnswerOp();
    case 0x1A: return ReadMoneyRegister(d);
    case 0x1B: return ReadRegister(d);
    case 0x21: return SetTime(d);
    case 0x22: return SetDate(d, false);
    case 0x23: return SetDate(d, true);
    case 0x1E: return WriteField(d);
    case 0x1F: return ReadField(d);
    case 0x2E: return FieldStruct(d);
    case 0x40: return XReport();
    case 0x41: return ZReport();
    case 0x50: return Encash(d, true);
    case 0x51: return Encash(d, false);
    case 0xB0: return ContinuePrint();
    case 0xE0: return OpenShiftCmd();
    case 0x17:
    case 0x12:
    case 0x2F: return PrintLine(static_cast<std::uint8_t>(code), d);
    case 0x18: return PrintTitle(d);
    case 0xC2: return PrintEan13(d);
    case 0xDD: return LoadBlock(d);
    case 0xDE: return Print2D(d);
    case 0x25: return Cut(d);
    case 0x29: return Feed(d);
    case 0x28: return Drawer(d);
    case 0x8D: return OpenReceipt(d);
    case 0x88: return CancelReceipt();
    case 0xFF46: return RegisterItem(d);
    case 0xFF4D: return ItemRequisite(d);
    case 0xFF0C: return DocRequisite(d);
    case 0xFF45: return CloseReceipt(d);
    case 0xFF35: return BeginCorrection();
    case 0xFF4A: return Correction(d);
    case 0xFF01: return FnStatus();
    case 0xFF09: return FnRegistration();
    case 0xFF39: return FnExchange();
    case 0xFF3A: return FnRequestDoc(d);
    case 0xFF3B: return FnReadTlv();
    case 0xFF05: return BeginRegistration(d);
    case 0xFF06: return BuildRegistration(d, false);
    case 0xFF34: return BuildRegistration(d, true);
    case 0xFF3E: return CloseFn();
    case 0xFF37: return Begin(TContext::Settlements);
    case 0xFF38: return Settlements();
    case 0xFF40: return ShiftParams();
    case 0xFF41: return Begin(TContext::OpenShift);
    case 0xFF42: return Begin(TContext::CloseShift);
    default: return Answer(rc::BadFormat);
    }
}

// ---- state ----

TBytes TRegister::ShortState() {
    TBytes a{rc::Ok, kOperator};
    std::uint16_t flags = (FPaper ? 0x0002 : 0) | (FDrawerOpenings % 2 ? 0x0200 : 0);
    PutLE(a, flags, 2);
    a.push_back(static_cast<std::uint8_t>(Mode()));
    a.push_back(static_cast<std::uint8_t>(Submode()));
    a.push_back(static_cast<std::uint8_t>(FItems.size()));
    a.push_back(0x9C);  // battery voltage
    a.push_back(0xB4);  // supply voltage
    a.push_back(0);     // FN error
    a.push_back(0);     // reserved error
    a.push_back(static_cast<std::uint8_t>(FItems.size() >> 8));
    a.insert(a.end(), {0, 0, 0});
    a.push_back(0);  // last print result
    return a;        // 16 bytes
}

TBytes TRegister::FullState() {
    std::tm tm = Split(Now());
    TBytes a{rc::Ok, kOperator, '1', '0'};
    PutLE(a, 1, 2);             // firmware build
    a.insert(a.end(), {1, 1, 24});  // firmware date
    a.push_back(1);             // number in the hall
    PutLE(a, static_cast<std::uint64_t>(FDocumentCounter), 2);
    std::uint16_t flags = FPaper ? 0x0002 : 0;
    PutLE(a, flags, 2);
    a.push_back(static_cast<std::uint8_t>(Mode()));     // byte 14
    a.push_back(static_cast<std::uint8_t>(Submode()));  // byte 15
    a.push_back(1);                                     // port
    a.insert(a.end(), 7, 0);                            // bytes 17..23 reserved
    a.push_back(static_cast<std::uint8_t>(tm.tm_mday));  // byte 24
    a.push_back(static_cast<std::uint8_t>(tm.tm_mon + 1));
    a.push_back(static_cast<std::uint8_t>((tm.tm_year + 1900 - 2000) & 0xFF));
    a.push_back(static_cast<std::uint8_t>(tm.tm_hour));  // byte 27
    a.push_back(static_cast<std::uint8_t>(tm.tm_min));
    a.push_back(static_cast<std::uint8_t>(tm.tm_sec));
    a.push_back(0);                                      // byte 30
    PutLE(a, 12345, 4);                                  // bytes 31..34 serial number
    PutLE(a, static_cast<std::uint64_t>(FShiftOpen ? FShiftNumber - 1 : FShiftNumber), 2);
    PutLE(a, 2000, 2);                                   // free records
    a.push_back(0);                                      // re-registrations
    a.push_back(0);                                      // re-registrations left
    std::string inn = Trim(FReg.Inn);
    std::uint64_t innNum = 0;
    for (char c : inn) innNum = innNum * 10 + static_cast<std::uint64_t>(c - '0');
    PutLE(a, innNum, 6);  // bytes 41..46
    a.push_back(0);       // byte 47
    return a;             // 48 bytes
}

TBytes TRegister::ReadRegister(const TBytes& d) {
    if (d.size() != 1) return Answer(rc::BadFormat);
    TBytes a{rc::Ok, kOperator, d[0]};
    auto it = FOpRegs.find(d[0]);
    PutLE(a, it == FOpRegs.end() ? 0 : it->second, 2);
    return a;
}

// Money registers: 241 is the cash in the till; the others read 0.
TBytes TRegister::ReadMoneyRegister(const TBytes& d) {
    if (d.size() != 1) return Answer(rc::BadFormat);
    TBytes a{rc::Ok, kOperator};
    PutLE(a, d[0] == 241 ? static_cast<std::uint64_t>(FCash) : 0, 6);
    return a;
}

TBytes TRegister::SetTime(const TBytes& d) {
    if (d.size() != 3) return Answer(rc::BadFormat);
    std::tm tm = Split(Now());
    auto t = Join(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, d[0], d[1], d[2]);
    if (!t) return Answer(rc::BadParam);
    SetClock(*t);
    return AnswerOp();
}

TBytes TRegister::SetDate(const TBytes& d, bool confirm) {
    if (d.size() != 3) return Answer(rc::BadFormat);
    std::array<std::uint8_t, 3> date{d[0], d[1], d[2]};
    if (!Join(2000 + d[2], d[1], d[0], 0, 0, 0)) return Answer(rc::BadDate);
    if (!confirm) {
        FPendingDate = date;
        return AnswerOp();
    }
    if (!FPendingDate || *FPendingDate != date) return Answer(rc::DateMismatch);
    FPendingDate.reset();
    std::tm tm = Split(Now());
    SetClock(*Join(2000 + d[2], d[1], d[0], tm.tm_hour, tm.tm_min, tm.tm_sec));
    return AnswerOp();
}

TBytes TRegister::WriteField(const TBytes& d) {
    if (d.size() < 5) return Answer(rc::BadFormat);
    int table = d[0], row = static_cast<int>(GetLE(d, 1, 2)), field = d[3];
    if (!KnownTable(table)) return Answer(rc::NoTable);
    const TFieldDef* def = Field(table, field);
    if (!def || row != 1) return Answer(rc::BadParam);
    if (def->ReadOnly) return Answer(rc::ReadOnlyField);
    std::size_t n = d.size() - 4;
    if (n > static_cast<std::size_t>(def->Size)) return Answer(rc::FieldTooLong);
    if (!def->Text && n != static_cast<std::size_t>(def->Size)) return Answer(rc::BadFormat);
    TBytes v(d.begin() + 4, d.end());
    v.resize(static_cast<std::size_t>(def->Size), 0);
    FieldValue(table, field) = v;
    return AnswerOp();
}

TBytes TRegister::ReadField(const TBytes& d) {
    if (d.size() != 4) return Answer(rc::BadFormat);
    int table = d[0], row = static_cast<int>(GetLE(d, 1, 2)), field = d[3];
    if (!KnownTable(table)) return Answer(rc::NoTable);
    if (!Field(table, field) || row != 1) return Answer(rc::BadParam);
    TBytes a{rc::Ok};
    const TBytes& v = FieldValue(table, field);
    a.insert(a.end(), v.begin(), v.end());
    return a;
}

TBytes TRegister::FieldStruct(const TBytes& d) {
    if (d.size() != 2) return Answer(rc::BadFormat);
    if (!KnownTable(d[0])) return Answer(rc::NoTable);
    const TFieldDef* def = Field(d[0], d[1]);
    if (!def) return Answer(rc::BadParam);
    TBytes a{rc::Ok};
    TBytes name = Utf8ToSingleByte(def->Name);
    name.resize(40, 0);
    a.insert(a.end(), name.begin(), name.end());  // bytes 1..40
    a.push_back(def->Text ? 1 : 0);                // byte 41: 0 number, 1 text
    a.push_back(static_cast<std::uint8_t>(def->Size));  // byte 42
    if (!def->Text) {
        PutLE(a, 0, def->Size);                                          // minimum
        PutLE(a, (1ULL << (8 * def->Size)) - 1, def->Size);             // maximum
    }
    return a;
}

TBytes TRegister::DeviceType() {
    TBytes a{rc::Ok, 0, 0, 1, 5, 0, 0};  // type, subtype, protocol 1.5, model 0, language 0
    TBytes name = Utf8ToSingleByte("FRSIM-01");
    a.insert(a.end(), name.begin(), name.end());
    return a;
}

TBytes TRegister::ShiftParams() {
    TBytes a{rc::Ok, static_cast<std::uint8_t>(FShiftOpen ? 1 : 0)};
    PutLE(a, static_cast<std::uint64_t>(FShiftNumber), 2);
    PutLE(a, static_cast<std::uint64_t>(FReceiptNumber), 2);
    return a;
}

// ---- shift and reports ----

TBytes TRegister::Begin(TContext c) {
    if (!FFiscal || FFnClosed) return Answer(rc::FnState);
    if (FReceiptOpen || FCorrectionOpen) return Answer(rc::ReceiptOpen);
    if (c == TContext::OpenShift && FShiftOpen) return Answer(rc::OpenShift);
    if (c == TContext::CloseShift && !FShiftOpen) return Answer(rc::NotInMode);
    FPending.clear();
    FContext = c;
    return Answer(rc::Ok);
}

bool TRegister::OpenShiftDirect() {
    if (!FFiscal || FFnClosed || FShiftOpen) return false;
    std::vector<TBytes> t = TakePending();
    ++FShiftNumber;
    FShiftOpen = true;
    FShiftOpenedAt = Now();
    FReceiptNumber = 0;
    FShiftDocs = 0;
    FOpRegs.clear();
    CommonTags(t);
    t.push_back(TlvU32(1038, static_cast<std::uint64_t>(FShiftNumber)));
    TFnDocument& doc = AddDocument(2, std::move(t));
    Print("ОТЧЕТ ОБ ОТКРЫТИИ СМЕНЫ");
    Print(fmt::format("СМЕНА {}", FShiftNumber));
    Print(fmt::format("ФД {}", doc.Number));
    Print(fmt::format("ФП {}", doc.Sign));
    EndDocument();
    return true;
}

TBytes TRegister::OpenShiftCmd() {
    if (!FFiscal || FFnClosed) return Answer(rc::FnState);
    if (FShiftOpen) return Answer(rc::OpenShift);
    if (auto r = PrintCheck()) return Answer(*r);
    OpenShiftDirect();
    return AnswerOp();
}

TBytes TRegister::XReport() {
    if (FReceiptOpen || FCorrectionOpen) return Answer(rc::ReceiptOpen);
    if (auto r = PrintCheck()) return Answer(*r);
    Print("ОТЧЕТ БЕЗ ГАШЕНИЯ");
    Print(fmt::format("СМЕНА {}", FShiftNumber));
    Print(fmt::format("ЧЕКОВ {}", FReceiptNumber));
    Print("НАЛИЧНЫХ В КАССЕ " + Money(static_cast<std::uint64_t>(FCash)));
    EndDocument();
    return AnswerOp();
}

TBytes TRegister::ZReport() {
    if (FReceiptOpen || FCorrectionOpen) return Answer(rc::ReceiptOpen);
    if (!FShiftOpen) return Answer(rc::NotInMode);
    if (auto r = PrintCheck()) return Answer(*r);
    std::vector<TBytes> t = TakePending();
    CommonTags(t);
    t.push_back(TlvU32(1038, static_cast<std::uint64_t>(FShiftNumber)));
    t.push_back(TlvU32(1118, static_cast<std::uint64_t>(FReceiptNumber)));
    t.push_back(TlvU32(1111, static_cast<std::uint64_t>(FShiftDocs + 1)));
    int unsent = static_cast<int>(std::count_if(FDocs.begin(), FDocs.end(), [](auto& d) { return !d.Sent; }));
    t.push_back(TlvU32(1097, static_cast<std::uint64_t>(unsent)));
    TFnDocument& doc = AddDocument(5, std::move(t));
    FShiftOpen = false;
    Print("ОТЧЕТ О ЗАКРЫТИИ СМЕНЫ");
    Print(fmt::format("СМЕНА {}", FShiftNumber));
    Print(fmt::format("ЧЕКОВ ЗА СМЕНУ {}", FReceiptNumber));
    Print(fmt::format("ФД {}", doc.Number));
    Print(fmt::format("ФП {}", doc.Sign));
    EndDocument(4);
    return AnswerOp();
}

TBytes TRegister::Settlements() {
    if (!FFiscal || FFnClosed) return Answer(rc::FnState);
    if (FReceiptOpen || FCorrectionOpen) return Answer(rc::ReceiptOpen);
    if (auto r = PrintCheck()) return Answer(*r);
    std::vector<TBytes> t = TakePending();
    CommonTags(t);
    int unsent = 0;
    std::int64_t first = 0;
    for (const TFnDocument& d : FDocs)
        if (!d.Sent && unsent++ == 0) first = d.Time;
    t.push_back(TlvU32(1097, static_cast<std::uint64_t>(unsent)));
    if (unsent) t.push_back(TlvU32(1098, static_cast<std::uint64_t>(first)));
    TFnDocument& doc = AddDocument(21, std::move(t));
    Print("ОТЧЕТ О ТЕКУЩЕМ СОСТОЯНИИ РАСЧЕТОВ");
    Print(fmt::format("НЕПЕРЕДАННЫХ ФД {}", unsent));
    Print(fmt::format("ФД {}", doc.Number));
    Print(fmt::format("ФП {}", doc.Sign));
    EndDocument(4);
    TBytes a{rc::Ok};
    PutLE(a, doc.Number, 4);
    PutLE(a, doc.Sign, 4);
    return a;
}

TBytes TRegister::Encash(const TBytes& d, bool in) {
    if (d.size() != 5) return Answer(rc::BadFormat);
    if (FReceiptOpen || FCorrectionOpen) return Answer(rc::ReceiptOpen);
    if (!FShiftOpen) return Answer(rc::NotInMode);
    if (ShiftExpired()) return Answer(rc::ShiftExpired);
    std::int64_t sum = static_cast<std::int64_t>(GetLE(d, 0, 5));
    if (!in && sum > FCash) return Answer(rc::NoCash);
    if (in && FCash + sum > static_cast<std::int64_t>(kMaxMoney)) return Answer(rc::TotalOverflow);
    if (auto r = PrintCheck()) return Answer(*r);
    FCash += in ? sum : -sum;
    Print(in ? "ВНЕСЕНИЕ" : "ВЫПЛАТА");
    Print("СУММА " + Money(static_cast<std::uint64_t>(sum)));
    Print("НАЛИЧНЫХ В КАССЕ " + Money(static_cast<std::uint64_t>(FCash)));
    EndDocument();
    TBytes a = AnswerOp();
    PutLE(a, static_cast<std::uint64_t>(FDocumentCounter), 2);
    return a;
}

TBytes TRegister::ContinuePrint() {
    if (FPaperState == 2 || (!FPaper && FPaperState == 0)) return Answer(rc::NoPaper);
    if (FPaperState == 3) {
        FPaperState = 0;
        auto held = std::move(FHeld);
        FHeld.clear();
        for (auto& [e, lines] : held) PrintEntry(e, lines);
        StartBusy();
    }
    return AnswerOp();
}

// ---- printing commands ----

TBytes TRegister::PrintLine(std::uint8_t cmd, const TBytes& d) {
    std::size_t head = cmd == 0x2F ? 2 : 1;
    if (d.size() < head) return Answer(rc::BadFormat);
    if (auto r = PrintCheck()) return Answer(*r);
    TBytes text(d.begin() + static_cast<std::ptrdiff_t>(head), d.end());
    while (!text.empty() && text.back() == 0) text.pop_back();
    Print(SingleByteToUtf8(text), d[0], cmd == 0x17 ? 0 : cmd == 0x12 ? 1 : 2);
    return AnswerOp();
}

TBytes TRegister::PrintTitle(const TBytes& d) {
    if (d.size() != 32) return Answer(rc::BadFormat);
    if (auto r = PrintCheck()) return Answer(*r);
    TBytes text(d.begin(), d.begin() + 30);
    auto z = std::find(text.begin(), text.end(), 0);
    text.erase(z, text.end());
    Print(SingleByteToUtf8(text), 2, 3);
    return AnswerOp();
}

TBytes TRegister::PrintEan13(const TBytes& d) {
    if (d.size() != 5) return Answer(rc::BadFormat);
    std::uint64_t v = GetLE(d, 0, 5);
    if (v >= 1000000000000ULL) return Answer(rc::BadParam);
    if (auto r = PrintCheck()) return Answer(*r);
    std::string digits = fmt::format("{:012}", v);
    int sum = 0;
    for (int i = 0; i < 12; ++i) sum += (digits[static_cast<std::size_t>(i)] - '0') * (i % 2 ? 3 : 1);
    digits.push_back(static_cast<char>('0' + (10 - sum % 10) % 10));
    TTapeEntry e;
    e.Kind = TTapeEntry::TKind::Ean13;
    e.Text = digits;
    PrintEntry(e, 3);
    return AnswerOp();
}

TBytes TRegister::LoadBlock(const TBytes& d) {
    if (d.size() < 2 || d.size() > 66) return Answer(rc::BadFormat);
    if (d[0] != 0) return Answer(rc::BadParam);
    std::size_t block = d[1];
    if (block == 0) FQrBlocks.clear();
    if (block != FQrBlocks.size()) return Answer(rc::BadParam);
    FQrBlocks.emplace_back(d.begin() + 2, d.end());
    return AnswerOp();
}

TBytes TRegister::Print2D(const TBytes& d) {
    if (d.size() != 10) return Answer(rc::BadFormat);
    if (d[0] != 3 || d[3] != 0) return Answer(rc::BadParam);
    std::size_t length = GetLE(d, 1, 2);
    TBytes data;
    for (const TBytes& b : FQrBlocks) data.insert(data.end(), b.begin(), b.end());
    if (length == 0 || length > data.size()) return Answer(rc::BadParam);
    if (auto r = PrintCheck()) return Answer(*r);
    data.resize(length);
    TTapeEntry e;
    e.Kind = TTapeEntry::TKind::Qr;
    e.Text = SingleByteToUtf8(data);
    e.Count = d[6];
    PrintEntry(e, 10);
    return AnswerOp();
}

TBytes TRegister::Cut(const TBytes& d) {
    if (d.size() != 1) return Answer(rc::BadFormat);
    if (d[0] > 1) return Answer(rc::BadParam);
    if (auto r = PrintCheck()) return Answer(*r);
    TTapeEntry e;
    e.Kind = TTapeEntry::TKind::Cut;
    e.Flags = d[0];
    PrintEntry(e, 0);
    return AnswerOp();
}

TBytes TRegister::Feed(const TBytes& d) {
    if (d.size() != 2) return Answer(rc::BadFormat);
    if (auto r = PrintCheck()) return Answer(*r);
    if (d[1] > 0) {
        TTapeEntry e;
        e.Kind = TTapeEntry::TKind::Feed;
        e.Flags = d[0];
        e.Count = d[1];
        PrintEntry(e, d[1]);
    }
    return AnswerOp();
}

TBytes TRegister::Drawer(const TBytes& d) {
    if (d.size() != 1) return Answer(rc::BadFormat);
    if (d[0] > 1) return Answer(rc::BadParam);
    ++FDrawerOpenings;
    return AnswerOp();
}

// ---- receipts ----

TBytes TRegister::OpenReceipt(const TBytes& d) {
    if (d.size() != 1) return Answer(rc::BadFormat);
    if (d[0] > 3) return Answer(rc::BadParam);
    if (FReceiptOpen || FCorrectionOpen) return Answer(rc::ReceiptOpen);
    if (!FFiscal || FFnClosed) return Answer(rc::FnState);
    if (!FShiftOpen) return Answer(rc::NotInMode);
    if (ShiftExpired()) return Answer(rc::ShiftExpired);
    FPending.clear();
    FContext = TContext::None;
    FReceiptOpen = true;
    FReceiptType = d[0];
    FItems.clear();
    return AnswerOp();
}

TBytes TRegister::CancelReceipt() {
    if (!FReceiptOpen && !FCorrectionOpen) return Answer(rc::ReceiptClosed);
    bool printed = FReceiptOpen;
    FReceiptOpen = FCorrectionOpen = false;
    FItems.clear();
    FPending.clear();
    if (printed && !PrintCheck()) {
        Print("ЧЕК АННУЛИРОВАН");
        EndDocument();
    }
    return AnswerOp();
}

static std::uint8_t SignOfType(std::uint8_t type) {
    static const std::uint8_t kSign[] = {1, 3, 2, 4};
    return kSign[type & 3];
}

static std::size_t ItemSize(const std::vector<TBytes>& tlvs) {
    std::size_t n = 4;
    for (const TBytes& t : tlvs) n += t.size();
    return n;
}

TBytes TRegister::RegisterItem(const TBytes& d) {
    if (d.size() < 28) return Answer(rc::BadFormat);
    if (!FReceiptOpen) return Answer(rc::ReceiptClosed);
    TItem it;
    it.Op = d[0];
    it.Qty = GetLE(d, 1, 6);
    it.Price = GetLE(d, 7, 5);
    it.Sum = GetLE(d, 12, 5);
    it.TaxSum = GetLE(d, 17, 5);
    it.Tax = d[22];
    it.Dept = d[23];
    it.Method = d[24];
    it.Object = d[25];
    it.Name.assign(d.begin() + 28, d.end());
    if (it.Name.size() > 128) it.Name.resize(128);
    if (it.Op != SignOfType(FReceiptType)) return Answer(rc::WrongReceiptType);
    if (it.Qty == 0) return Answer(rc::BadParam);
    if (it.Dept > 16) return Answer(rc::BadDepartment);
    if (it.Method < 1 || it.Method > 7 || it.Object < 1 || it.Object > 26) return Answer(rc::BadParam);
    if (it.Tax != 0 && !OneTaxBit(it.Tax)) return Answer(rc::BadParam);
    // The sum must be quantity x price within one kopeck.
    long double exact = static_cast<long double>(it.Qty) * static_cast<long double>(it.Price) / 1e6L;
    if (std::abs(exact - static_cast<long double>(it.Sum)) > 1.0L) return Answer(rc::BadParam);
    if (it.TaxSum == kMaxMoney) {  // the register computes the tax
        static const int kNum[] = {20, 10, 0, 0, 20, 10};
        static const int kDen[] = {120, 110, 100, 100, 120, 110};
        int g = it.Tax ? std::countr_zero(it.Tax) : 2;
        it.TaxSum = (it.Sum * static_cast<std::uint64_t>(kNum[g]) + static_cast<std::uint64_t>(kDen[g]) / 2) /
                    static_cast<std::uint64_t>(kDen[g]);
    }
    std::uint64_t total = it.Sum;
    for (const TItem& i : FItems) total += i.Sum;
    if (total > kMaxMoney) return Answer(rc::TotalOverflow);
    if (FItems.size() >= kMaxItems) return Answer(rc::TooManyItems);
    FItems.push_back(std::move(it));
    return AnswerOp();
}

static bool ValidTlv(const TBytes& d) { return d.size() >= 4 && GetLE(d, 2, 2) + 4 == d.size(); }

TBytes TRegister::ItemRequisite(const TBytes& d) {
    if (!ValidTlv(d)) return Answer(rc::BadFormat);
    if (!FReceiptOpen) return Answer(rc::ReceiptClosed);
    if (FItems.empty()) return Answer(rc::BadParam);
    std::vector<TBytes>& reqs = FItems.back().Requisites;
    if (ItemSize(reqs) + d.size() + 64 + FItems.back().Name.size() > kMaxTlv) return Answer(rc::TlvTooBig);
    reqs.push_back(d);
    return Answer(rc::Ok);
}

TBytes TRegister::DocRequisite(const TBytes& d) {
    if (!ValidTlv(d)) return Answer(rc::BadFormat);
    std::uint16_t tag = static_cast<std::uint16_t>(GetLE(d, 0, 2));
    if (tag == 1203 && !ValidInn(TBytes(d.begin() + 4, d.end()))) return Answer(rc::BadParam);
    std::size_t total = d.size();
    for (const TBytes& t : FPending) total += t.size();
    if (total > kMaxPending) return Answer(rc::TlvTooBig);
    // A requisite sent again replaces the earlier one.
    FPending.erase(std::remove_if(FPending.begin(), FPending.end(),
                                  [tag](const TBytes& t) { return GetLE(t, 0, 2) == tag; }),
                   FPending.end());
    FPending.push_back(d);
    return Answer(rc::Ok);
}

TBytes TRegister::CloseReceipt(const TBytes& d) {
    if (d.size() < 112) return Answer(rc::BadFormat);
    if (!FReceiptOpen) return Answer(rc::ReceiptClosed);
    std::uint64_t pay[16];
    std::uint64_t paid = 0;
    for (int i = 0; i < 16; ++i) paid += pay[i] = GetLE(d, static_cast<std::size_t>(5 * i), 5);
    std::uint64_t taxes[6];
    for (int i = 0; i < 6; ++i) taxes[i] = GetLE(d, static_cast<std::size_t>(81 + 5 * i), 5);
    std::uint8_t taxSystem = d[111];
    if (FItems.empty()) return Answer(rc::ZeroReceipt);
    std::uint64_t total = 0;
    for (const TItem& i : FItems) total += i.Sum;
    if (paid < total) return Answer(rc::PaymentLow);
    if (paid - pay[0] > total) return Answer(rc::NonCashTooBig);
    if (!OneTaxBit(taxSystem)) return Answer(rc::BadParam);
    if (!(FReg.Tax & taxSystem)) return Answer(rc::TaxNotRegistered);
    std::uint64_t change = paid - total;
    std::int64_t cash = static_cast<std::int64_t>(pay[0] - change);
    bool cashIn = FReceiptType == 0 || FReceiptType == 3;
    if (!cashIn && cash > FCash) return Answer(rc::NoCash);
    if (auto r = PrintCheck()) return Answer(*r);

    std::vector<TBytes> t = TakePending();
    t.push_back(TlvByte(1054, SignOfType(FReceiptType)));
    std::uint64_t groupTax[6] = {};
    static const std::uint8_t kRate[] = {1, 2, 5, 6, 3, 4};  // tax group -> 1199
    for (const TItem& i : FItems) {
        std::vector<TBytes> in;
        in.push_back(TlvByte(1214, i.Method));
        in.push_back(TlvByte(1212, i.Object));
        in.push_back(Tlv(1030, Cp1251ToCp866(i.Name)));
        in.push_back(TlvVln(1079, i.Price));
        in.push_back(TlvFvln(1023, i.Qty));
        if (i.Tax) {
            int g = std::countr_zero(i.Tax);
            groupTax[g] += i.TaxSum;
            in.push_back(TlvByte(1199, kRate[g]));
            in.push_back(TlvVln(1200, i.TaxSum));
        }
        in.push_back(TlvVln(1043, i.Sum));
        for (const TBytes& r : i.Requisites) in.push_back(r);
        TBytes body;
        for (const TBytes& x : in) body.insert(body.end(), x.begin(), x.end());
        t.push_back(Tlv(1059, body));
    }
    t.push_back(TlvVln(1020, total));
    t.push_back(TlvVln(1031, static_cast<std::uint64_t>(cash)));
    std::uint64_t electronic = 0;
    for (int i = 1; i < 13; ++i) electronic += pay[i];
    t.push_back(TlvVln(1081, electronic));
    t.push_back(TlvVln(1215, pay[13]));
    t.push_back(TlvVln(1216, pay[14]));
    t.push_back(TlvVln(1217, pay[15]));
    for (int g = 0; g < 6; ++g) {
        std::uint64_t v = taxes[g] ? taxes[g] : groupTax[g];
        if (v || groupTax[g]) t.push_back(TlvVln(static_cast<std::uint16_t>(1102 + g), v));
    }
    t.push_back(TlvByte(1055, taxSystem));
    CommonTags(t);
    t.push_back(TlvU32(1038, static_cast<std::uint64_t>(FShiftNumber)));
    t.push_back(TlvU32(1042, static_cast<std::uint64_t>(FReceiptNumber + 1)));
    TFnDocument& doc = AddDocument(3, std::move(t));

    FCash += cashIn ? cash : -cash;
    ++FOpRegs[144 + FReceiptType];
    ++FReceiptNumber;
    ++FShiftDocs;
    FReceiptOpen = false;
    FItems.clear();
    static const char* kTitle[] = {"ПРИХОД", "РАСХОД", "ВОЗВРАТ ПРИХОДА", "ВОЗВРАТ РАСХОДА"};
    Print(kTitle[FReceiptType & 3]);
    Print("ИТОГ =" + Money(total));
    if (pay[0]) Print("НАЛИЧНЫМИ =" + Money(pay[0]));
    if (electronic) Print("БЕЗНАЛИЧНЫМИ =" + Money(electronic));
    if (change) Print("СДАЧА =" + Money(change));
    Print("ФН " + FFnSerial);
    Print(fmt::format("ФД {}", doc.Number));
    Print(fmt::format("ФП {}", doc.Sign));
    EndDocument();

    TBytes a{rc::Ok};
    PutLE(a, change, 5);      // bytes 1..5
    PutLE(a, doc.Number, 4);  // bytes 6..9
    PutLE(a, doc.Sign, 4);    // bytes 10..13
    return a;
}

TBytes TRegister::BeginCorrection() {
    if (FReceiptOpen || FCorrectionOpen) return Answer(rc::ReceiptOpen);
    if (!FFiscal || FFnClosed) return Answer(rc::FnState);
    if (!FShiftOpen) return Answer(rc::NotInMode);
    if (ShiftExpired()) return Answer(rc::ShiftExpired);
    FPending.clear();
    FContext = TContext::Correction;
    FCorrectionOpen = true;
    return Answer(rc::Ok);
}

TBytes TRegister::Correction(const TBytes& d) {
    if (d.size() != 63) return Answer(rc::BadFormat);
    if (!FCorrectionOpen) return Answer(rc::ReceiptClosed);
    std::uint8_t type = d[0], sign = d[1], taxSystem = d[62];
    std::uint64_t v[12];
    for (int i = 0; i < 12; ++i) v[i] = GetLE(d, static_cast<std::size_t>(2 + 5 * i), 5);
    if (type > 1 || sign < 1 || sign > 4 || !OneTaxBit(taxSystem)) return Answer(rc::BadParam);
    if (!(FReg.Tax & taxSystem)) return Answer(rc::TaxNotRegistered);
    std::uint64_t paid = v[1] + v[2] + v[3] + v[4] + v[5];
    if (paid < v[0]) return Answer(rc::PaymentLow);
    bool cashIn = sign == 1 || sign == 4;
    std::int64_t cash = static_cast<std::int64_t>(v[1]);
    if (!cashIn && cash > FCash) return Answer(rc::NoCash);
    if (auto r = PrintCheck()) return Answer(*r);
    std::vector<TBytes> t = TakePending();
    t.push_back(TlvByte(1173, type));
    t.push_back(TlvByte(1054, sign));
    t.push_back(TlvVln(1020, v[0]));
    t.push_back(TlvVln(1031, v[1]));
    t.push_back(TlvVln(1081, v[2]));
    t.push_back(TlvVln(1215, v[3]));
    t.push_back(TlvVln(1216, v[4]));
    t.push_back(TlvVln(1217, v[5]));
    static const std::uint16_t kTaxTags[] = {1102, 1103, 1104, 1105, 1106, 1107};
    for (int i = 0; i < 6; ++i)
        if (v[6 + i]) t.push_back(TlvVln(kTaxTags[i], v[6 + i]));
    t.push_back(TlvByte(1055, taxSystem));
    CommonTags(t);
    t.push_back(TlvU32(1038, static_cast<std::uint64_t>(FShiftNumber)));
    t.push_back(TlvU32(1042, static_cast<std::uint64_t>(FReceiptNumber + 1)));
    TFnDocument& doc = AddDocument(31, std::move(t));
    FCash += cashIn ? cash : -cash;
    ++FReceiptNumber;
    ++FShiftDocs;
    FCorrectionOpen = false;
    Print("КАССОВЫЙ ЧЕК КОРРЕКЦИИ");
    Print("ИТОГ =" + Money(v[0]));
    Print(fmt::format("ФД {}", doc.Number));
    Print(fmt::format("ФП {}", doc.Sign));
    EndDocument();
    TBytes a{rc::Ok};
    PutLE(a, static_cast<std::uint64_t>(FReceiptNumber), 2);  // bytes 1..2
    PutLE(a, doc.Number, 4);                                  // bytes 3..6
    PutLE(a, doc.Sign, 4);                                    // bytes 7..10
    return a;
}

// ---- fiscal storage ----

TBytes TRegister::FnStatus() {
    std::uint8_t life = FFnClosed ? 0x05 : FFiscal ? 0x03 : 0x01;
    std::uint8_t current = FReceiptOpen ? 0x04 : FCorrectionOpen ? 0x13 : 0;
    TBytes a{rc::Ok, life, current, static_cast<std::uint8_t>(FPending.empty() ? 0 : 1),
             static_cast<std::uint8_t>(FShiftOpen ? 1 : 0), FFnWarnings};
    std::tm tm = Split(FDocs.empty() ? Now() : FDocs.back().Time);
    a.insert(a.end(), {static_cast<std::uint8_t>(tm.tm_year - 100), static_cast<std::uint8_t>(tm.tm_mon + 1),
                       static_cast<std::uint8_t>(tm.tm_mday), static_cast<std::uint8_t>(tm.tm_hour),
                       static_cast<std::uint8_t>(tm.tm_min)});  // bytes 6..10
    TBytes serial = BytesOf(FFnSerial);
    serial.resize(16, ' ');
    a.insert(a.end(), serial.begin(), serial.end());  // bytes 11..26
    PutLE(a, FLastDoc, 4);                            // bytes 27..30
    return a;
}

TBytes TRegister::FnRegistration() {
    if (!FReg.Present) return Answer(rc::NoData);
    std::tm tm = Split(FReg.Time);
    TBytes a{rc::Ok, static_cast<std::uint8_t>(tm.tm_year - 100), static_cast<std::uint8_t>(tm.tm_mon + 1),
             static_cast<std::uint8_t>(tm.tm_mday), static_cast<std::uint8_t>(tm.tm_hour),
             static_cast<std::uint8_t>(tm.tm_min)};
    TBytes inn = BytesOf(FReg.Inn), rnm = BytesOf(FReg.Rnm);
    inn.resize(12, ' ');
    rnm.resize(20, ' ');
    a.insert(a.end(), inn.begin(), inn.end());  // 6..17
    a.insert(a.end(), rnm.begin(), rnm.end());  // 18..37
    a.push_back(FReg.Tax);                      // 38
    a.push_back(FReg.Mode);                     // 39
    if (!FShortRegAnswer) a.push_back(0);       // 40: extended work mode
    PutLE(a, FReg.Doc, 4);                      // 41..44 (40..43 in the short form)
    PutLE(a, FReg.Sign, 4);
    return a;  // 49 bytes, 48 in the short form
}

TBytes TRegister::FnExchange() {
    int unsent = 0;
    const TFnDocument* first = nullptr;
    for (const TFnDocument& d : FDocs)
        if (!d.Sent && unsent++ == 0) first = &d;
    TBytes a{rc::Ok, static_cast<std::uint8_t>(unsent ? 0x02 : 0), 0};
    PutLE(a, static_cast<std::uint64_t>(unsent), 2);    // 3..4
    PutLE(a, first ? first->Number : 0, 4);             // 5..8
    if (first) {
        std::tm tm = Split(first->Time);
        a.insert(a.end(), {static_cast<std::uint8_t>(tm.tm_year - 100), static_cast<std::uint8_t>(tm.tm_mon + 1),
                           static_cast<std::uint8_t>(tm.tm_mday), static_cast<std::uint8_t>(tm.tm_hour),
                           static_cast<std::uint8_t>(tm.tm_min)});
    } else {
        a.insert(a.end(), 5, 0);
    }
    return a;  // 14 bytes
}

TBytes TRegister::FnRequestDoc(const TBytes& d) {
    if (d.size() != 4) return Answer(rc::BadFormat);
    std::uint64_t n = GetLE(d, 0, 4);
    auto it = std::find_if(FDocs.begin(), FDocs.end(), [n](const TFnDocument& x) { return x.Number == n; });
    if (it == FDocs.end()) return Answer(rc::NoData);
    FOutDoc = static_cast<std::size_t>(it - FDocs.begin());
    FOutPos = 0;
    std::size_t length = 0;
    for (const TBytes& t : it->Tlvs) length += t.size();
    TBytes a{rc::Ok};
    PutLE(a, it->Type, 2);
    PutLE(a, length, 2);
    return a;
}

TBytes TRegister::FnReadTlv() {
    if (!FOutDoc || *FOutDoc >= FDocs.size()) {
        FOutDoc.reset();
        return Answer(rc::NoData);
    }
    const TFnDocument& doc = FDocs[*FOutDoc];
    if (FOutPos >= doc.Tlvs.size()) {
        FOutDoc.reset();
        return Answer(rc::Ok);
    }
    TBytes a{rc::Ok};
    const TBytes& t = doc.Tlvs[FOutPos++];
    a.insert(a.end(), t.begin(), t.end());
    return a;
}

TBytes TRegister::BeginRegistration(const TBytes& d) {
    if (d.size() != 1) return Answer(rc::BadFormat);
    if (d[0] > 2) return Answer(rc::BadParam);
    if (FFnClosed || (d[0] == 0) == FFiscal) return Answer(rc::FnState);
    if (FShiftOpen) return Answer(rc::OpenShift);
    FPending.clear();
    FContext = TContext::Registration;
    return Answer(rc::Ok);
}

TBytes TRegister::BuildRegistration(const TBytes& d, bool re) {
    if (d.size() != (re ? 35u : 34u)) return Answer(rc::BadFormat);
    if (FFnClosed || re != FFiscal) return Answer(rc::FnState);
    if (FShiftOpen) return Answer(rc::OpenShift);
    TBytes innBytes(d.begin(), d.begin() + 12);
    std::uint8_t tax = d[32], mode = d[33];
    if (!ValidInn(innBytes) || tax == 0 || tax >= 0x40 || mode >= 0x40) return Answer(rc::BadParam);
    if (re && d[34] > 4) return Answer(rc::BadParam);
    if (auto r = PrintCheck()) return Answer(*r);
    Register(std::string(d.begin(), d.begin() + 12), std::string(d.begin() + 12, d.begin() + 32), tax,
             mode, re ? d[34] : -1);
    TBytes a{rc::Ok};
    PutLE(a, FReg.Doc, 4);
    PutLE(a, FReg.Sign, 4);
    return a;
}

TBytes TRegister::CloseFn() {
    if (!FFiscal || FFnClosed) return Answer(rc::FnState);
    if (FReceiptOpen || FCorrectionOpen) return Answer(rc::ReceiptOpen);
    if (FShiftOpen) return Answer(rc::OpenShift);
    if (auto r = PrintCheck()) return Answer(*r);
    std::vector<TBytes> t = TakePending();
    CommonTags(t);
    TFnDocument& doc = AddDocument(6, std::move(t));
    FFnClosed = true;
    FFiscal = false;
    Print("ОТЧЕТ О ЗАКРЫТИИ ФН");
    Print(fmt::format("ФД {}", doc.Number));
    Print(fmt::format("ФП {}", doc.Sign));
    EndDocument();
    TBytes a{rc::Ok};
    PutLE(a, doc.Number, 4);
    PutLE(a, doc.Sign, 4);
    return a;
}

// ---- control ----

void TRegister::SetLineWidth(int width) { FieldValue(9, 3) = {static_cast<std::uint8_t>(std::clamp(width, 0, 255))}; }

TSimStatus TRegister::Status() const {
    TSimStatus s;
    s.Mode = Mode();
    s.Submode = Submode();
    s.Fiscal = FFiscal;
    s.FnClosed = FFnClosed;
    s.ShiftOpen = FShiftOpen;
    s.ShiftNumber = FShiftNumber;
    s.ReceiptNumber = FReceiptNumber;
    s.LastDocument = FLastDoc;
    s.Backlog = static_cast<int>(std::count_if(FDocs.begin(), FDocs.end(), [](auto& d) { return !d.Sent; }));
    s.CashKopecks = FCash;
    s.Clock = Now();
    s.LineWidth = FieldByte(9, 3);
    s.Paper = FPaper;
    return s;
}

}  // namespace fr::sim
