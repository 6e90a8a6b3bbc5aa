// The register model through in-process command messages: state, refusals, receipts, reports,
// tables, printing and the fiscal storage.

#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>

#include <nlohmann/json.hpp>

#include "FrameClient.h"
#include "core/Simulator.h"
#include "platform/Encoding.h"

using namespace frtest;
using fr::sim::TSimulator;
using fr::sim::TTapeEntry;

namespace {

// A steady clock the test moves by hand.
struct TFakeSteady {
    std::shared_ptr<std::chrono::steady_clock::time_point> Now =
        std::make_shared<std::chrono::steady_clock::time_point>(std::chrono::steady_clock::time_point{} + std::chrono::hours(1));
    TSimulator::TSteadyNow Fn() const {
        auto p = Now;
        return [p] { return *p; };
    }
    void Advance(std::chrono::milliseconds ms) { *Now += ms; }
};

class ModelTest : public ::testing::Test {
protected:
    TFakeSteady Steady;
    TSimulator Sim{{}, Steady.Fn()};

    TBytes Run(std::uint16_t code, const TBytes& data = {}, std::uint32_t pwd = 30) {
        TBytes a = Sim.Execute(Cmd(code, data, pwd));
        std::size_t n = code > 0xFF ? 2 : 1;
        EXPECT_GE(a.size(), n + 1);
        return TBytes(a.begin() + static_cast<std::ptrdiff_t>(n), a.end());
    }
    int Result(std::uint16_t code, const TBytes& data = {}) { return Run(code, data).at(0); }

public:

    static TBytes Tlv(std::uint16_t tag, const TBytes& v) {
        TBytes t;
        Le(t, tag, 2);
        Le(t, v.size(), 2);
        t.insert(t.end(), v.begin(), v.end());
        return t;
    }
    static TBytes Item(std::uint8_t op, std::uint64_t qty, std::uint64_t price, std::uint64_t sum,
                       const std::string& name = "Item", std::uint8_t tax = 0x01) {
        TBytes d{op};
        Le(d, qty, 6);
        Le(d, price, 5);
        Le(d, sum, 5);
        Le(d, 0xFFFFFFFFFFULL, 5);
        d.insert(d.end(), {tax, 1, 4, 1, '/', '/'});
        d.insert(d.end(), name.begin(), name.end());
        return d;
    }
    static TBytes Close(std::uint64_t cash, std::uint64_t card = 0, std::uint8_t taxSystem = 0x01) {
        TBytes d;
        Le(d, cash, 5);
        Le(d, card, 5);
        Le(d, 0, 5 * 14);
        d.push_back(0);
        Le(d, 0, 30);
        d.push_back(taxSystem);
        return d;
    }
protected:
    int Mode() { return Run(0x10).at(4); }
    int Submode() { return Run(0x10).at(5); }
    void FiscalWithShift() {
        Sim.SetFiscal(true);
        Sim.OpenShift();
    }
};

// ---- state ----

TEST_F(ModelTest, ShortStateAnswerHasModeAndSubmodeWhereTheDriverReadsThem) {
    TBytes a = Run(0x10);
    ASSERT_GE(a.size(), 15u);
    EXPECT_EQ(a[0], 0);
    EXPECT_EQ(a[4] & 0x0F, 4);  // shift closed
    EXPECT_EQ(a[5], 0);
}

TEST_F(ModelTest, FullStateCarriesTheRegisterClock) {
    Sim.SetClock(1798761598);  // 2026-12-31 23:59:58
    TBytes a = Run(0x11);
    ASSERT_GE(a.size(), 47u);
    EXPECT_EQ(TBytes(a.begin() + 24, a.begin() + 30), (TBytes{31, 12, 26, 23, 59, 58}));
}

TEST_F(ModelTest, SetTimeAndConfirmedDateMoveTheClock) {
    Sim.SetClockRunning(false);
    EXPECT_EQ(Result(0x21, {0x17, 0x3B, 0x3A}), 0);
    EXPECT_EQ(Result(0x22, {0x1F, 0x0C, 0x1A}), 0);
    EXPECT_EQ(Result(0x23, {0x1F, 0x0C, 0x1A}), 0);
    EXPECT_EQ(Sim.Status().Clock, 1798761598);
}

TEST_F(ModelTest, DeviceTypeNeedsNoPassword) {
    TBytes a = Sim.Execute({0xFC});
    ASSERT_GE(a.size(), 8u);
    EXPECT_EQ(a[0], 0xFC);
    EXPECT_EQ(a[1], 0);
    EXPECT_EQ(std::string(a.begin() + 8, a.end()), "FRSIM-01");
}

// ---- refusals ----

struct TRefusal {
    const char* Name;
    TBytes Message;
    TBytes Answer;
};

class RefusalTest : public ModelTest, public ::testing::WithParamInterface<TRefusal> {};

TEST_P(RefusalTest, AnswersWithTheRegisterCode) { EXPECT_EQ(Sim.Execute(GetParam().Message), GetParam().Answer); }

INSTANTIATE_TEST_SUITE_P(
    Refusals, RefusalTest,
    ::testing::Values(
        TRefusal{"WrongPassword", Cmd(0x10, {}, 31), {0x10, 79}},
        TRefusal{"UnknownCommand", Cmd(0x99), {0x99, 1}},
        TRefusal{"UnknownTwoByteCommand", Cmd(0xFF77), {0xFF, 0x77, 1}},
        TRefusal{"NoPassword", {0x10, 0x1E}, {0x10, 1}},
        TRefusal{"EmptyMessage", {}, {0x00, 1}},
        TRefusal{"LoneFF", {0xFF}, {0xFF, 0x00, 1}},
        TRefusal{"UndefinedTable", Cmd(0x1F, {2, 1, 0, 1}), {0x1F, 93}},
        TRefusal{"UndefinedTableStructure", Cmd(0x2E, {200, 1}), {0x2E, 93}},
        TRefusal{"FieldBeyondTable", Cmd(0x1F, {9, 1, 0, 99}), {0x1F, 51}},
        TRefusal{"RowTwo", Cmd(0x1F, {9, 2, 0, 3}), {0x1F, 51}},
        TRefusal{"ReadFieldShort", Cmd(0x1F, {9, 1}), {0x1F, 1}},
        TRefusal{"SerialNumberReadOnly", Cmd(0x1E, {18, 1, 0, 1, '1'}), {0x1E, 122}},
        TRefusal{"TextLongerThanField", Cmd(0x1E, {18, 1, 0, 12, '1', '2', '3', '4', '5', '6', '7', '8', '9', '0', '1', '2', '3'}), {0x1E, 144}},
        TRefusal{"OpenShiftNotFiscal", Cmd(0xE0), {0xE0, 2}},
        TRefusal{"ZReportShiftClosed", Cmd(0x41), {0x41, 115}},
        TRefusal{"ReceiptShiftClosed", Cmd(0x8D, {0}), {0x8D, 2}},
        TRefusal{"ItemWithoutReceipt", Cmd(0xFF46, TBytes(28, 1)), {0xFF, 0x46, 85}},
        TRefusal{"CancelWithoutReceipt", Cmd(0x88), {0x88, 85}},
        TRefusal{"CashOutShiftClosed", Cmd(0x51, {1, 0, 0, 0, 0}), {0x51, 115}},
        TRefusal{"CashWrongLength", Cmd(0x50, {1, 0}), {0x50, 1}},
        TRefusal{"BadTime", Cmd(0x21, {24, 0, 0}), {0x21, 51}},
        TRefusal{"BadDate", Cmd(0x22, {30, 2, 26}), {0x22, 125}},
        TRefusal{"UnconfirmedDate", Cmd(0x23, {1, 1, 26}), {0x23, 124}},
        TRefusal{"DocumentNotStored", Cmd(0xFF3A, {9, 0, 0, 0}), {0xFF, 0x3A, 8}},
        TRefusal{"RegistrationNotFiscal", Cmd(0xFF09), {0xFF, 0x09, 8}},
        TRefusal{"RequisiteLengthMismatch", Cmd(0xFF0C, {0xFD, 0x03, 5, 0, 'a'}), {0xFF, 0x0C, 1}},
        TRefusal{"CashierInnNotDigits", Cmd(0xFF0C, {0xB3, 0x04, 3, 0, 'a', 'b', 'c'}), {0xFF, 0x0C, 51}},
        TRefusal{"QrWithoutBlocks", Cmd(0xDE, {3, 10, 0, 0, 0, 8, 6, 0, 2, 1}), {0xDE, 51}},
        TRefusal{"EanTooLong", Cmd(0xC2, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF}), {0xC2, 51}},
        TRefusal{"CutKind", Cmd(0x25, {2}), {0x25, 51}},
        TRefusal{"ContinueWithoutPaperTrouble", Cmd(0xB0), {0xB0, 0, 30}},
        TRefusal{"CloseFnNotFiscal", Cmd(0xFF3E), {0xFF, 0x3E, 2}}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(ModelTest, RandomMessagesNeverCrashAndAlwaysEchoTheCode) {
    std::uint32_t rng = 12345;
    auto next = [&rng] { return rng = rng * 1103515245u + 12345u, static_cast<std::uint8_t>(rng >> 16); };
    FiscalWithShift();
    for (int i = 0; i < 20000; ++i) {
        TBytes m;
        int len = next() % 40;
        m.push_back(next() % 4 == 0 ? 0xFF : next());
        if (i % 2) Le(m, 30, 4);
        for (int k = 0; k < len; ++k) m.push_back(next());
        TBytes a = Sim.Execute(m);
        ASSERT_GE(a.size(), 2u);
        ASSERT_LE(a.size(), 255u);
        ASSERT_EQ(a[0], m[0]);
    }
}

// ---- shift, receipts, cash ----

TEST_F(ModelTest, ShiftOpensWithCashierRequisitesAndCloses) {
    Sim.SetFiscal(true);
    EXPECT_EQ(Result(0xFF41), 0);
    EXPECT_EQ(Result(0xFF0C, Tlv(1021, fr::BytesOf("Ivanov"))), 0);
    EXPECT_EQ(Result(0xFF0C, Tlv(1203, fr::BytesOf("771234567890"))), 0);
    EXPECT_EQ(Result(0xE0), 0);
    EXPECT_EQ(Mode() & 0x0F, 2);
    EXPECT_EQ(Result(0xE0), 60);
    TBytes p = Run(0xFF40);
    ASSERT_GE(p.size(), 6u);
    EXPECT_EQ(p[1], 1);
    EXPECT_EQ(GetLe(p, 2, 2), 1u);
    EXPECT_EQ(Result(0xFF42), 0);
    EXPECT_EQ(Result(0x41), 0);
    EXPECT_EQ(Run(0xFF40).at(1), 0);
    EXPECT_EQ(Mode(), 4);
}

TEST_F(ModelTest, ShiftOlderThan24HoursIsModeThreeAndRefusesReceipts) {
    FiscalWithShift();
    Sim.AdvanceClock(24 * 3600 + 1);
    EXPECT_EQ(Run(0x11).at(14), 3);
    EXPECT_EQ(Result(0x8D, {0}), 78);
    EXPECT_EQ(Result(0x41), 0);
}

TEST_F(ModelTest, SaleReceiptIsFiscalisedWithChangeNumberAndSign) {
    FiscalWithShift();
    std::uint32_t before = Sim.Status().LastDocument;
    ASSERT_EQ(Result(0x8D, {0}), 0);
    EXPECT_EQ(Mode() & 0x0F, 8);
    ASSERT_EQ(Result(0xFF46, Item(1, 1500000, 10000, 15000)), 0);
    ASSERT_EQ(Result(0xFF4D, Tlv(1229, {1, 2})), 0);
    ASSERT_EQ(Result(0xFF0C, Tlv(1021, fr::BytesOf("Kassir"))), 0);
    TBytes a = Run(0xFF45, Close(20000));
    ASSERT_EQ(a.at(0), 0);
    ASSERT_GE(a.size(), 14u);
    EXPECT_EQ(GetLe(a, 1, 5), 5000u);  // change
    EXPECT_EQ(GetLe(a, 6, 4), before + 1);
    std::uint32_t sign = static_cast<std::uint32_t>(GetLe(a, 10, 4));
    EXPECT_NE(sign, 0u);
    EXPECT_EQ(Mode() & 0x0F, 2);
    EXPECT_EQ(Sim.Status().CashKopecks, 15000);
    EXPECT_EQ(Sim.Status().ReceiptNumber, 1);
    EXPECT_EQ(GetLe(Run(0x1B, {144}), 3, 2), 1u);
    EXPECT_EQ(GetLe(Run(0xFF40), 4, 2), 1u);
}

TEST_F(ModelTest, SameDocumentGetsTheSameFiscalSign) {
    auto once = [] {
        TFakeSteady steady;
        TSimulator sim({}, steady.Fn());
        sim.SetClock(1773532800);
        sim.SetClockRunning(false);
        sim.SetFiscal(true);
        sim.OpenShift();
        sim.Execute(Cmd(0x8D, {0}));
        sim.Execute(Cmd(0xFF46, Item(1, 1000000, 100, 100)));
        return sim.Execute(Cmd(0xFF45, Close(100)));
    };
    EXPECT_EQ(once(), once());
}

struct TReceiptRefusal {
    const char* Name;
    std::uint8_t Type;
    TBytes ItemData;
    TBytes CloseData;
    int ItemResult;
    int CloseResult;
};

class ReceiptRefusalTest : public ModelTest, public ::testing::WithParamInterface<TReceiptRefusal> {};

TEST_P(ReceiptRefusalTest, RefusesWithTheRegisterCode) {
    const auto& p = GetParam();
    FiscalWithShift();
    ASSERT_EQ(Result(0x8D, {p.Type}), 0);
    EXPECT_EQ(Result(0xFF46, p.ItemData), p.ItemResult);
    if (!p.CloseData.empty()) {
        EXPECT_EQ(Result(0xFF45, p.CloseData), p.CloseResult);
    }
    EXPECT_EQ(Mode() & 0x0F, 8);  // a refusal leaves the receipt open
    EXPECT_EQ(Result(0x88), 0);
    EXPECT_EQ(Mode() & 0x0F, 2);
}

INSTANTIATE_TEST_SUITE_P(
    Receipts, ReceiptRefusalTest,
    ::testing::Values(
        TReceiptRefusal{"PaymentBelowTotal", 0, ModelTest::Item(1, 1000000, 10000, 10000), ModelTest::Close(9999), 0, 69},
        TReceiptRefusal{"CardAboveTotal", 0, ModelTest::Item(1, 1000000, 10000, 10000), ModelTest::Close(0, 10001), 0, 77},
        TReceiptRefusal{"NotEnoughCashForReturn", 2, ModelTest::Item(2, 1000000, 10000, 10000), ModelTest::Close(10000), 0, 70},
        TReceiptRefusal{"TaxSystemTwoBits", 0, ModelTest::Item(1, 1000000, 100, 100), ModelTest::Close(100, 0, 0x03), 0, 51},
        TReceiptRefusal{"ShortClose", 0, ModelTest::Item(1, 1000000, 100, 100), TBytes(111, 0), 0, 1},
        TReceiptRefusal{"QuantityTimesPriceMismatch", 0, ModelTest::Item(1, 2000000, 10000, 10003), {}, 51, 0},
        TReceiptRefusal{"OperationOfAnotherReceiptType", 0, ModelTest::Item(3, 1000000, 100, 100), {}, 73, 0},
        TReceiptRefusal{"ZeroQuantity", 0, ModelTest::Item(1, 0, 100, 0), {}, 51, 0},
        TReceiptRefusal{"TwoTaxGroups", 0, ModelTest::Item(1, 1000000, 100, 100, "x", 0x03), {}, 51, 0},
        TReceiptRefusal{"ShortItem", 0, TBytes(27, 1), {}, 1, 0},
        TReceiptRefusal{"NoItems", 0, TBytes(27, 1), ModelTest::Close(100), 1, 142}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(ModelTest, CashInAndOutKeepTheBalance) {
    FiscalWithShift();
    EXPECT_EQ(Result(0x50, {0x10, 0x27, 0, 0, 0}), 0);     // 100.00 in
    EXPECT_EQ(Result(0x51, {0xB1, 0x3A, 0, 0, 0}), 70);    // 150.25 out: too little cash
    EXPECT_EQ(Result(0x50, {0xB1, 0x3A, 0, 0, 0}), 0);
    EXPECT_EQ(Result(0x51, {0xB1, 0x3A, 0, 0, 0}), 0);
    EXPECT_EQ(Sim.Status().CashKopecks, 10000);
}

TEST_F(ModelTest, CashOutAboveBalanceIsRefused) {
    FiscalWithShift();
    EXPECT_EQ(Result(0x50, {100, 0, 0, 0, 0}), 0);
    EXPECT_EQ(Result(0x51, {101, 0, 0, 0, 0}), 70);
    EXPECT_EQ(Sim.Status().CashKopecks, 100);
}

TEST_F(ModelTest, CorrectionReceiptAnswersNumberAndSignAtTheirOffsets) {
    FiscalWithShift();
    EXPECT_EQ(Result(0xFF4A, TBytes(63, 0)), 85);
    ASSERT_EQ(Result(0xFF35), 0);
    EXPECT_EQ(Mode() & 0x0F, 8);
    ASSERT_EQ(Result(0xFF0C, Tlv(1178, {0x80, 0xF6, 0xB5, 0x69})), 0);
    TBytes d{0, 1};
    Le(d, 5000, 5);  // sum
    Le(d, 5000, 5);  // cash
    Le(d, 0, 5 * 10);
    d.push_back(0x01);
    TBytes a = Run(0xFF4A, d);
    ASSERT_EQ(a.at(0), 0);
    ASSERT_GE(a.size(), 11u);
    EXPECT_EQ(GetLe(a, 3, 4), Sim.Status().LastDocument);
    EXPECT_NE(GetLe(a, 7, 4), 0u);
    EXPECT_EQ(Mode() & 0x0F, 2);
}

// ---- tables ----

TEST_F(ModelTest, TableFieldsHaveSizesAndKeepWrites) {
    struct {
        int Table, Field, Size;
    } fields[] = {{1, 7, 1}, {9, 3, 1}, {17, 17, 1}, {18, 1, 20}, {18, 7, 128}, {18, 12, 12}, {18, 16, 1}, {24, 1, 20}};
    for (auto f : fields) {
        SCOPED_TRACE(testing::Message() << f.Table << "." << f.Field);
        TBytes s = Run(0x2E, {static_cast<std::uint8_t>(f.Table), static_cast<std::uint8_t>(f.Field)});
        ASSERT_GE(s.size(), 43u);
        EXPECT_EQ(s[42], f.Size);
        TBytes r = Run(0x1F, {static_cast<std::uint8_t>(f.Table), 1, 0, static_cast<std::uint8_t>(f.Field)});
        EXPECT_EQ(r.size(), 1u + static_cast<std::size_t>(f.Size));
    }
    EXPECT_EQ(Run(0x1F, {9, 1, 0, 3}), (TBytes{0, 48}));
    EXPECT_EQ(Result(0x1E, {9, 1, 0, 3, 32}), 0);
    EXPECT_EQ(Run(0x1F, {9, 1, 0, 3}), (TBytes{0, 32}));
    EXPECT_EQ(Result(0x1E, {18, 1, 0, 13, 'a', 'b'}), 0);
    TBytes site = Run(0x1F, {18, 1, 0, 13});
    EXPECT_EQ(site.size(), 65u);
    EXPECT_EQ(site[1], 'a');
    EXPECT_EQ(site[3], 0);
}

// ---- printing ----

TEST_F(ModelTest, TapeKeepsLinesBarcodesFeedsAndCuts) {
    Sim.SetLineWidth(32);
    EXPECT_EQ(Result(0x17, {3, 'A', 'B'}), 0);
    TBytes longLine{3};
    longLine.insert(longLine.end(), 40, 'x');
    EXPECT_EQ(Result(0x17, longLine), 0);
    EXPECT_EQ(Result(0xC2, {0x15, 0xC5, 0x7E, 0x21, 0x6B}), 0);
    TBytes block{0, 0};
    std::string qr(70, 'q');
    block.insert(block.end(), qr.begin(), qr.begin() + 64);
    EXPECT_EQ(Result(0xDD, block), 0);
    TBytes block2{0, 1};
    block2.insert(block2.end(), qr.begin() + 64, qr.end());
    EXPECT_EQ(Result(0xDD, block2), 0);
    EXPECT_EQ(Result(0xDE, {3, 70, 0, 0, 0, 8, 6, 0, 2, 1}), 0);
    EXPECT_EQ(Result(0x29, {2, 5}), 0);
    EXPECT_EQ(Result(0x25, {1}), 0);
    auto tape = Sim.Tape();
    ASSERT_EQ(tape.size(), 6u);
    EXPECT_EQ(tape[0].Text, "AB");
    EXPECT_EQ(tape[0].Flags, 3);
    EXPECT_EQ(tape[1].Text, std::string(32, 'x'));
    EXPECT_EQ(tape[2].Kind, TTapeEntry::TKind::Ean13);
    EXPECT_EQ(tape[2].Text, "4601234567893");
    EXPECT_EQ(tape[3].Kind, TTapeEntry::TKind::Qr);
    EXPECT_EQ(tape[3].Text, qr);
    EXPECT_EQ(tape[3].Count, 6);
    EXPECT_EQ(tape[4].Count, 5);
    EXPECT_EQ(tape[5].Kind, TTapeEntry::TKind::Cut);
    EXPECT_EQ(tape[5].Flags, 1);
    EXPECT_NE(Sim.TapeText().find("[EAN-13 4601234567893]"), std::string::npos);
}

TEST_F(ModelTest, CyrillicLineIsKeptAsUtf8) {
    TBytes text = fr::Utf8ToSingleByte("ИТОГ");
    TBytes d{3};
    d.insert(d.end(), text.begin(), text.end());
    EXPECT_EQ(Result(0x17, d), 0);
    EXPECT_EQ(Sim.Tape().at(0).Text, "ИТОГ");
}

TEST_F(ModelTest, PaperRunsOutMidDocumentAndContinuesAfterLoading) {
    Sim.SetPaperOutAfter(2);
    EXPECT_EQ(Result(0x17, {3, '1'}), 0);
    EXPECT_EQ(Result(0x17, {3, '2'}), 0);
    EXPECT_EQ(Result(0x17, {3, '3'}), 0);  // accepted, held: the paper ran out on it
    EXPECT_EQ(Submode(), 2);
    EXPECT_EQ(Result(0x17, {3, '4'}), 107);
    EXPECT_EQ(Result(0xB0), 107);
    Sim.SetPaper(true);
    EXPECT_EQ(Submode(), 3);
    EXPECT_EQ(Result(0x17, {3, '4'}), 88);
    EXPECT_EQ(Result(0xB0), 0);
    EXPECT_EQ(Submode(), 0);
    auto tape = Sim.Tape();
    ASSERT_EQ(tape.size(), 3u);
    EXPECT_EQ(tape[2].Text, "3");
}

TEST_F(ModelTest, ReceiptFiscalisedWhenPaperRunsOutDuringItsPrint) {
    FiscalWithShift();
    ASSERT_EQ(Result(0x8D, {0}), 0);
    ASSERT_EQ(Result(0xFF46, Item(1, 1000000, 100, 100)), 0);
    Sim.SetPaperOutAfter(1);
    TBytes a = Run(0xFF45, Close(100));
    EXPECT_EQ(a.at(0), 0);
    EXPECT_EQ(Submode(), 2);
    EXPECT_EQ(Mode() & 0x0F, 2);
}

TEST_F(ModelTest, NoPaperRefusesPrintingWithSubmodeOne) {
    Sim.SetPaper(false);
    EXPECT_EQ(Submode(), 1);
    EXPECT_EQ(Result(0x17, {3, 'a'}), 107);
    EXPECT_EQ(Result(0x40), 107);
}

TEST_F(ModelTest, PrintingDocumentIsSubmodeFiveForTheConfiguredTime) {
    Sim.SetPrintMillis(500);
    EXPECT_EQ(Result(0x40), 0);
    EXPECT_EQ(Submode(), 5);
    EXPECT_EQ(Result(0x17, {3, 'a'}), 80);
    EXPECT_EQ(Result(0xFF38), 80);
    Steady.Advance(std::chrono::milliseconds(499));
    EXPECT_EQ(Submode(), 5);
    Steady.Advance(std::chrono::milliseconds(1));
    EXPECT_EQ(Submode(), 0);
    EXPECT_EQ(Result(0x17, {3, 'a'}), 0);
}

TEST_F(ModelTest, ShiftCloseReportPrintsInSubmodeFour) {
    FiscalWithShift();
    Sim.SetPrintMillis(200);
    EXPECT_EQ(Result(0x41), 0);
    EXPECT_EQ(Submode(), 4);
    EXPECT_EQ(Result(0xE0), 80);
    Steady.Advance(std::chrono::milliseconds(200));
    EXPECT_EQ(Result(0xE0), 0);
}

TEST_F(ModelTest, AutoCutTableFieldMakesTheRegisterCutAfterDocuments) {
    EXPECT_EQ(Result(0x1E, {1, 1, 0, 7, 1}), 0);
    EXPECT_EQ(Result(0x40), 0);
    EXPECT_EQ(Sim.Tape().back().Kind, TTapeEntry::TKind::Cut);
}

// ---- fiscal storage ----

struct TDocRead {
    int Type = 0;
    std::vector<std::pair<int, TBytes>> Tlvs;
};

class FiscalStorageTest : public ModelTest {
protected:
    TDocRead Read(std::uint32_t number) {
        TDocRead r;
        TBytes d;
        Le(d, number, 4);
        TBytes a = Run(0xFF3A, d);
        EXPECT_EQ(a.at(0), 0);
        if (a[0] != 0) return r;
        r.Type = static_cast<int>(GetLe(a, 1, 2));
        std::size_t length = GetLe(a, 3, 2), got = 0;
        EXPECT_EQ(Run(0x11).at(14), 1);  // data output
        EXPECT_EQ(Result(0xFF3A, d), 115);
        for (int guard = 0; guard < 500; ++guard) {
            TBytes t = Run(0xFF3B);
            EXPECT_EQ(t.at(0), 0);
            if (t.size() == 1) break;
            EXPECT_EQ(t.size(), 5 + GetLe(t, 3, 2));
            got += t.size() - 1;
            r.Tlvs.emplace_back(static_cast<int>(GetLe(t, 1, 2)), TBytes(t.begin() + 5, t.end()));
        }
        EXPECT_EQ(got, length);
        EXPECT_NE(Run(0x11).at(14), 1);
        return r;
    }
    static std::optional<TBytes> Find(const TDocRead& d, int tag) {
        for (auto& [t, v] : d.Tlvs)
            if (t == tag) return v;
        return std::nullopt;
    }
    void WriteText(int table, int field, const std::string& utf8) {
        TBytes d{static_cast<std::uint8_t>(table), 1, 0, static_cast<std::uint8_t>(field)};
        TBytes s = fr::Utf8ToSingleByte(utf8);
        d.insert(d.end(), s.begin(), s.end());
        ASSERT_EQ(Result(0x1E, d), 0);
    }
};

TEST_F(FiscalStorageTest, RegistrationReportIsFormedFromRequisitesAndTablesAndReadBackAsTlv) {
    EXPECT_EQ(Run(0xFF01).at(1), 0x01);
    ASSERT_EQ(Result(0xFF05, {0}), 0);
    ASSERT_EQ(Result(0xFF0C, Tlv(1203, fr::BytesOf("771234567890"))), 0);
    WriteText(18, 10, "ОФД");
    WriteText(18, 12, "7704211201");
    WriteText(18, 7, "ООО Ромашка");
    WriteText(18, 9, "Москва");
    ASSERT_EQ(Result(0x1E, {17, 1, 0, 17, 2}), 0);
    ASSERT_EQ(Result(0x1E, {18, 1, 0, 16, 0x05}), 0);
    ASSERT_EQ(Result(0xFF0C, Tlv(1193, {})), 0);
    ASSERT_EQ(Result(0xFF0C, Tlv(1126, {1})), 0);
    TBytes build = fr::BytesOf("7701234567  ");
    TBytes rnm = fr::BytesOf("0000000001012345    ");
    build.insert(build.end(), rnm.begin(), rnm.end());
    build.push_back(0x05);  // tax systems 0 and 2
    build.push_back(0x02);  // offline
    TBytes a = Run(0xFF06, build);
    ASSERT_EQ(a.at(0), 0);

    TBytes st = Run(0xFF01);
    ASSERT_GE(st.size(), 31u);
    EXPECT_EQ(st[1], 0x03);
    std::uint32_t doc = static_cast<std::uint32_t>(GetLe(st, 27, 4));
    EXPECT_EQ(doc, GetLe(a, 1, 4));
    TBytes reg = Run(0xFF09);
    ASSERT_GT(reg.size(), 48u);
    EXPECT_EQ(std::string(reg.begin() + 6, reg.begin() + 18), "7701234567  ");
    EXPECT_EQ(std::string(reg.begin() + 18, reg.begin() + 38), "0000000001012345    ");
    EXPECT_EQ(reg[38], 0x05);
    EXPECT_EQ(GetLe(reg, 41, 4), doc);

    TDocRead r = Read(doc);
    EXPECT_EQ(r.Type, 1);
    EXPECT_EQ(Find(r, 1018), fr::BytesOf("7701234567  "));
    EXPECT_EQ(Find(r, 1037), fr::BytesOf("0000000001012345"));
    EXPECT_EQ(Find(r, 1048), fr::Utf8ToSingleByte("ООО Ромашка", fr::CodePage::Cp866));
    EXPECT_EQ(Find(r, 1046), fr::Utf8ToSingleByte("ОФД", fr::CodePage::Cp866));
    EXPECT_EQ(Find(r, 1017), fr::BytesOf("7704211201"));
    EXPECT_EQ(Find(r, 1062), TBytes{0x05});
    EXPECT_EQ(Find(r, 1002), TBytes{1});
    EXPECT_EQ(Find(r, 1056), TBytes{0});
    EXPECT_EQ(Find(r, 1057), TBytes{0x05});
    EXPECT_EQ(Find(r, 1209), TBytes{2});
    EXPECT_EQ(Find(r, 1203), fr::BytesOf("771234567890"));
    EXPECT_EQ(Find(r, 1126), TBytes{1});
    EXPECT_EQ(Find(r, 1193), TBytes{});
    EXPECT_EQ(GetLe(*Find(r, 1040), 0, 4), doc);
    ASSERT_TRUE(Find(r, 1077));
    EXPECT_EQ(Find(r, 1077)->size(), 6u);
    // The registration data reaches the tables too.
    EXPECT_EQ(Run(0x1F, {18, 1, 0, 5}), (TBytes{0, 0x05}));
}

TEST_F(FiscalStorageTest, ShortRegistrationAnswerVariantCarriesTheNumberAtByteForty) {
    Sim.SetFiscal(true);
    auto j = Sim.SaveJson();
    j["fn"]["shortRegistrationAnswer"] = true;
    Sim.LoadJson(j);
    TBytes reg = Run(0xFF09);
    ASSERT_EQ(reg.size(), 48u);
    EXPECT_EQ(GetLe(reg, 40, 4), 1u);
}

TEST_F(FiscalStorageTest, ReregistrationAndClosingTheStorage) {
    Sim.SetFiscal(true);
    EXPECT_EQ(Result(0xFF05, {0}), 2);
    TBytes d = fr::BytesOf("7701234567  0000000001012345    ");
    d.insert(d.end(), {0x01, 0x00});
    EXPECT_EQ(Result(0xFF06, d), 2);
    d.push_back(4);
    ASSERT_EQ(Result(0xFF34, d), 0);
    TDocRead r = Read(Sim.Status().LastDocument);
    EXPECT_EQ(r.Type, 11);
    EXPECT_EQ(Find(r, 1101), TBytes{4});
    Sim.OpenShift();
    EXPECT_EQ(Result(0xFF3E), 60);
    ASSERT_EQ(Result(0xFF42), 0);
    ASSERT_EQ(Result(0x41), 0);
    ASSERT_EQ(Result(0xFF3E), 0);
    EXPECT_EQ(Run(0xFF01).at(1) & 0x02, 0);
    EXPECT_EQ(Result(0xE0), 2);
}

TEST_F(FiscalStorageTest, ReceiptIsStoredWithItemsPaymentsAndSign) {
    FiscalWithShift();
    ASSERT_EQ(Result(0x8D, {0}), 0);
    TBytes name = fr::Utf8ToSingleByte("Молоко");
    ASSERT_EQ(Result(0xFF46, Item(1, 2000000, 5000, 10000, std::string(name.begin(), name.end()))), 0);
    ASSERT_EQ(Result(0xFF0C, Tlv(1008, fr::BytesOf("a@b.ru"))), 0);
    TBytes a = Run(0xFF45, Close(4000, 6000));
    ASSERT_EQ(a.at(0), 0);
    TDocRead r = Read(static_cast<std::uint32_t>(GetLe(a, 6, 4)));
    EXPECT_EQ(r.Type, 3);
    EXPECT_EQ(Find(r, 1054), TBytes{1});
    EXPECT_EQ(Find(r, 1020), (TBytes{0x10, 0x27}));
    EXPECT_EQ(Find(r, 1031), (TBytes{0xA0, 0x0F}));
    EXPECT_EQ(Find(r, 1081), (TBytes{0x70, 0x17}));
    EXPECT_EQ(Find(r, 1008), fr::BytesOf("a@b.ru"));
    auto fp = Find(r, 1077);
    ASSERT_TRUE(fp);
    EXPECT_EQ((std::uint32_t((*fp)[2]) << 24 | (*fp)[3] << 16 | (*fp)[4] << 8 | (*fp)[5]), GetLe(a, 10, 4));
    auto item = Find(r, 1059);
    ASSERT_TRUE(item);
    TBytes want = fr::Utf8ToSingleByte("Молоко", fr::CodePage::Cp866);
    EXPECT_NE(std::search(item->begin(), item->end(), want.begin(), want.end()), item->end());
}

TEST_F(FiscalStorageTest, BacklogCountsDocumentsNotSent) {
    FiscalWithShift();
    TBytes e = Run(0xFF39);
    ASSERT_GE(e.size(), 14u);
    EXPECT_EQ(GetLe(e, 3, 2), 2u);
    EXPECT_EQ(GetLe(e, 5, 4), 1u);
    Sim.MarkDocumentsSent();
    EXPECT_EQ(GetLe(Run(0xFF39), 3, 2), 0u);
}

}  // namespace
