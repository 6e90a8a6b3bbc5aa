// Receipts and correction receipts: field layout, the answers read back, refusals before sending.

#include <gtest/gtest.h>

#include <cmath>

#include "device/FakeLink.h"
#include "framework/ErrorCodes.h"

namespace fr::test {
namespace {

TBytes Slice(const TBytes& AData, std::size_t AOffset, std::size_t ACount) {
    return TBytes(AData.begin() + static_cast<std::ptrdiff_t>(AOffset),
                  AData.begin() + static_cast<std::ptrdiff_t>(AOffset + ACount));
}

constexpr TCurrencyValue Rub(std::int64_t ARoubles, std::int64_t AKopecks = 0) { return ARoubles * 10000 + AKopecks * 100; }

// ---------------------------------------------------------------------------------------------
// Positions

TEST_F(DeviceTest, ItemFieldsAreLaidOutInOrder) {
    Link.Expect({0xFF, 0x46}, std::nullopt, Ok());
    EXPECT_EQ(Device.RegisterItem(1, 1.5, Rub(100), Rub(150), 0, 0x02, 3, 4, 1, BytesOf("Milk")), 0);
    ASSERT_EQ(Link.Sent.size(), 1u);
    const TBytes& d = Link.Sent[0].Data;
    ASSERT_EQ(d.size(), 28u + 4);
    EXPECT_EQ(d[0], 1);
    EXPECT_EQ(Slice(d, 1, 6), Bytes({0x60, 0xE3, 0x16, 0x00, 0x00, 0x00}));
    EXPECT_EQ(Slice(d, 7, 5), Bytes({0x10, 0x27, 0x00, 0x00, 0x00}));
    EXPECT_EQ(Slice(d, 12, 5), Bytes({0x98, 0x3A, 0x00, 0x00, 0x00}));
    EXPECT_EQ(Slice(d, 17, 5), Bytes({0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(Slice(d, 22, 6), Bytes({0x02, 3, 4, 1, 0x2F, 0x2F}));
    EXPECT_EQ(Slice(d, 28, 4), BytesOf("Milk"));
}

TEST_F(DeviceTest, ItemTaxSumOfOneKopeckIsSentAsKopecks) {
    Link.Expect({0xFF, 0x46}, std::nullopt, Ok());
    EXPECT_EQ(Device.RegisterItem(1, 1, Rub(1), Rub(1), Rub(0, 1), 0, 0, 0, 0, {}), 0);
    const TBytes& d = Link.Sent[0].Data;
    ASSERT_EQ(d.size(), 28u);  // an empty name ends the data with "//"
    EXPECT_EQ(Slice(d, 17, 5), Bytes({0x01, 0x00, 0x00, 0x00, 0x00}));
    EXPECT_EQ(Slice(d, 26, 2), Bytes({0x2F, 0x2F}));
}

TEST_F(DeviceTest, ItemValuesThatDoNotFitAreRefusedBeforeSending) {
    struct Case {
        const char* Name;
        double Quantity;
        TCurrencyValue Price, Sum, Tax;
    } cases[] = {
        {"negative quantity", -1, Rub(1), Rub(1), 0},
        {"quantity not a number", std::nan(""), Rub(1), Rub(1), 0},
        {"quantity of 2^48 millionths", std::ldexp(1.0, 48) / 1e6 + 1, Rub(1), Rub(1), 0},
        {"negative price", 1, -1, Rub(1), 0},
        {"negative sum", 1, Rub(1), -Rub(1), 0},
        {"negative tax", 1, Rub(1), Rub(1), -Rub(1)},
        {"sum of 2^40 kopecks", 1, Rub(1), (TCurrencyValue{1} << 40) * 100, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        EXPECT_EQ(Device.RegisterItem(1, c.Quantity, c.Price, c.Sum, c.Tax, 0, 0, 0, 0, BytesOf("X")),
                  errInvalidParameter);
    }
    EXPECT_TRUE(Link.Sent.empty());
}

// ---------------------------------------------------------------------------------------------
// Closing

TBytes CloseAnswer(std::uint32_t ADocNumber, std::uint32_t AFiscalSign) {
    TBytes a{0, 0, 0, 0, 0, 0};
    for (auto v : {ADocNumber, AFiscalSign}) {
        const TBytes b = IntToLEBytes(4, v);
        a.insert(a.end(), b.begin(), b.end());
    }
    return a;
}

TEST_F(DeviceTest, CloseSendsSixteenSlotsRoundingTaxesAndTaxSystem) {
    TCloseCheckData close;
    close.Sums[0] = Rub(1000);
    close.TaxVariant = 0x01;
    Link.ExpectIdle();
    Link.Expect({0xFF, 0x45}, std::nullopt, CloseAnswer(17, 3000000000u));
    std::string sign = "old";
    std::int64_t doc = -1;
    EXPECT_EQ(Device.CloseCheckEx(close, sign, doc), 0);
    const TBytes& d = Link.Sent.back().Data;
    ASSERT_EQ(d.size(), 112u);
    EXPECT_EQ(Slice(d, 0, 5), Bytes({0xA0, 0x86, 0x01, 0x00, 0x00}));
    EXPECT_EQ(Slice(d, 5, 106), TBytes(106, 0));
    EXPECT_EQ(d[111], 0x01);
    EXPECT_EQ(sign, "3000000000");
    EXPECT_EQ(doc, 17);
}

TEST_F(DeviceTest, CloseEncodesEverySlotAtItsOffset) {
    TCloseCheckData close;
    for (int i = 0; i < 16; ++i) close.Sums[static_cast<std::size_t>(i)] = Rub(0, i + 1);
    close.RoundSum = Rub(0, 99);
    for (int i = 0; i < 6; ++i) close.Taxes[static_cast<std::size_t>(i)] = Rub(0, 50 + i);
    close.Text = BytesOf("T");
    Link.ExpectIdle();
    Link.Expect({0xFF, 0x45}, std::nullopt, CloseAnswer(1, 2));
    std::string sign;
    std::int64_t doc = 0;
    EXPECT_EQ(Device.CloseCheckEx(close, sign, doc), 0);
    const TBytes& d = Link.Sent.back().Data;
    ASSERT_EQ(d.size(), 113u);
    for (std::size_t i = 0; i < 16; ++i) EXPECT_EQ(Slice(d, 5 * i, 5), IntToLEBytes(5, i + 1)) << "slot " << i;
    EXPECT_EQ(d[80], 99);
    for (std::size_t i = 0; i < 6; ++i) EXPECT_EQ(Slice(d, 81 + 5 * i, 5), IntToLEBytes(5, 50 + i)) << "tax " << i;
    EXPECT_EQ(d[112], 'T');
}

TEST_F(DeviceTest, CloseReadsOnlyWhatAShortAnswerHolds) {
    Link.ExpectIdle();
    Link.Expect({0xFF, 0x45}, std::nullopt, Bytes({0, 0, 0, 0, 0, 0, 0x05, 0x01}));
    std::string sign = "old";
    std::int64_t doc = -1;
    EXPECT_EQ(Device.CloseCheckEx({}, sign, doc), 0);
    EXPECT_EQ(sign, "0");
    EXPECT_EQ(doc, 0x105);
}

TEST_F(DeviceTest, RefusedCloseLeavesOuts) {
    Link.ExpectIdle();
    Link.Expect({0xFF, 0x45}, std::nullopt, Bytes({0x45}));
    std::string sign = "old";
    std::int64_t doc = -1;
    EXPECT_EQ(Device.CloseCheckEx({}, sign, doc), 0x45);
    EXPECT_EQ(sign, "old");
    EXPECT_EQ(doc, -1);
}

TEST_F(DeviceTest, CloseValuesThatDoNotFitAreRefusedBeforeSending) {
    std::string sign;
    std::int64_t doc = 0;
    TCloseCheckData close;
    close.RoundSum = Rub(2, 56);  // 256 kopecks in one byte
    EXPECT_EQ(Device.CloseCheckEx(close, sign, doc), errInvalidParameter);
    close = {};
    close.Sums[15] = -1;
    EXPECT_EQ(Device.CloseCheckEx(close, sign, doc), errInvalidParameter);
    close = {};
    close.Taxes[5] = (TCurrencyValue{1} << 40) * 100;
    EXPECT_EQ(Device.CloseCheckEx(close, sign, doc), errInvalidParameter);
    EXPECT_TRUE(Link.Sent.empty());
}

// ---------------------------------------------------------------------------------------------
// Cancelling

TEST_F(DeviceTest, CancelSendsTheCancelOnlyForAnOpenDocument) {
    struct Case {
        const char* Name;
        TBytes State;
        bool Cancels;
    } cases[] = {
        {"no open document", [] { TBytes s(15, 0); s[4] = 2; return s; }(), false},
        {"open document", [] { TBytes s(15, 0); s[4] = 0x18; return s; }(), true},
        {"short answer", [] { TBytes s(14, 0); s[4] = 8; return s; }(), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Link.Sent.clear();
        Link.Expect({0x10}, TBytes{}, c.State);
        if (c.Cancels) Link.Expect({0x88}, TBytes{}, Ok());
        EXPECT_EQ(Device.CancelReceipt(), 0);
        EXPECT_EQ(Link.Sent.size(), c.Cancels ? 2u : 1u);
    }
}

TEST_F(DeviceTest, CancelReturnsStateAndCancelFailures) {
    Link.ExpectLinkFailure({0x10}, 1007);
    EXPECT_EQ(Device.CancelReceipt(), 1007);
    TBytes open(15, 0);
    open[4] = 8;
    Link.Expect({0x10}, TBytes{}, open);
    Link.Expect({0x88}, TBytes{}, Bytes({0x73}));
    EXPECT_EQ(Device.CancelReceipt(), 0x73);
}

// ---------------------------------------------------------------------------------------------
// Correction receipts

TEST_F(DeviceTest, CorrectionSendsRequisitesThenTheSixtyThreeBytes) {
    TCorrectionCheckData c;
    c.CorrectionType = 1;
    c.PaymentType = 1;
    c.TaxVariant = 0x02;
    c.CorrectionSum = Rub(10);
    c.Cash = Rub(10);
    c.SumTAXNone = Rub(10);
    c.BaseCorrection = Bytes({0xC0, 'b'});  // "А" in 1251
    c.DocNumberCorrection = BytesOf("N1");
    c.CorrectionBaseDate = *TryEncodeDateTime({2026, 3, 15, 14, 30, 0});
    c.CashierName = BytesOf("K");
    c.CashierVATIN = BytesOf("123456789012");

    Link.Expect({0xFF, 0x35}, TBytes{}, Ok());
    Link.Expect({0xFF, 0x0C}, Bytes({0xFD, 0x03, 1, 0, 'K'}), Ok());
    TBytes inn{0xB3, 0x04, 12, 0};
    inn.insert(inn.end(), c.CashierVATIN.begin(), c.CashierVATIN.end());
    Link.Expect({0xFF, 0x0C}, inn, Ok());
    Link.Expect({0xFF, 0x0C}, Bytes({0x99, 0x04, 2, 0, 0x80, 'b'}), Ok());  // 1177 in 866
    Link.Expect({0xFF, 0x0C}, Bytes({0x9A, 0x04, 4, 0, 0x80, 0xF6, 0xB5, 0x69}), Ok());
    Link.Expect({0xFF, 0x0C}, Bytes({0x9B, 0x04, 2, 0, 'N', '1'}), Ok());
    Link.ExpectIdle();
    TBytes answer{0, 0, 0};
    for (std::uint32_t v : {42u, 4000000000u}) {
        const TBytes b = IntToLEBytes(4, v);
        answer.insert(answer.end(), b.begin(), b.end());
    }
    Link.Expect({0xFF, 0x4A}, std::nullopt, answer);

    std::string sign;
    std::int64_t doc = 0;
    EXPECT_EQ(Device.ProcessCorrectionCheck(c, sign, doc), 0);
    const TBytes& d = Link.Sent.back().Data;
    ASSERT_EQ(d.size(), 63u);
    EXPECT_EQ(Slice(d, 0, 2), Bytes({1, 1}));
    EXPECT_EQ(Slice(d, 2, 5), IntToLEBytes(5, 1000));
    EXPECT_EQ(Slice(d, 7, 5), IntToLEBytes(5, 1000));
    EXPECT_EQ(Slice(d, 12, 35), TBytes(35, 0));
    EXPECT_EQ(Slice(d, 47, 5), IntToLEBytes(5, 1000));
    EXPECT_EQ(Slice(d, 52, 10), TBytes(10, 0));
    EXPECT_EQ(d[62], 0x02);
    EXPECT_EQ(doc, 42);
    EXPECT_EQ(sign, "4000000000");
}

TEST_F(DeviceTest, CorrectionWithoutTextsStillSendsTheBasisDate) {
    TCorrectionCheckData c;
    c.CashierName = BytesOf("  ");
    c.BaseCorrection = BytesOf(" ");
    c.CorrectionBaseDate = *TryEncodeDateTime({2026, 3, 15, 0, 0, 0});
    Link.Expect({0xFF, 0x35}, TBytes{}, Ok());
    Link.Expect({0xFF, 0x0C}, Bytes({0x9A, 0x04, 4, 0, 0x80, 0xF6, 0xB5, 0x69}), Ok());
    Link.ExpectIdle();
    Link.Expect({0xFF, 0x4A}, std::nullopt, Bytes({0, 0, 0, 1}));  // short: missing bytes are absent
    std::string sign = "old";
    std::int64_t doc = -1;
    EXPECT_EQ(Device.ProcessCorrectionCheck(c, sign, doc), 0);
    EXPECT_EQ(doc, 1);
    EXPECT_EQ(sign, "0");
}

TEST_F(DeviceTest, CorrectionWithRefusedINNStopsWithIncorrectINN) {
    TCorrectionCheckData c;
    c.CashierVATIN = BytesOf("1");
    c.CorrectionBaseDate = *TryEncodeDateTime({2026, 3, 15, 0, 0, 0});
    Link.Expect({0xFF, 0x35}, TBytes{}, Ok());
    Link.Expect({0xFF, 0x0C}, std::nullopt, Bytes({0x33}));
    std::string sign;
    std::int64_t doc = 0;
    EXPECT_EQ(Device.ProcessCorrectionCheck(c, sign, doc), kResultIncorrectINN);
}

TEST_F(DeviceTest, CorrectionValuesThatDoNotFitAreRefusedBeforeTheDocumentBegins) {
    std::string sign;
    std::int64_t doc = 0;
    TCorrectionCheckData c;
    c.CorrectionBaseDate = *TryEncodeDateTime({2026, 3, 15, 0, 0, 0});
    c.Credit = -1;
    EXPECT_EQ(Device.ProcessCorrectionCheck(c, sign, doc), errInvalidParameter);
    c.Credit = 0;
    c.CorrectionBaseDate = *TryEncodeDateTime({1969, 12, 31, 0, 0, 0});  // before Unix time
    EXPECT_EQ(Device.ProcessCorrectionCheck(c, sign, doc), errInvalidParameter);
    EXPECT_TRUE(Link.Sent.empty());
}

TEST_F(DeviceTest, RequisiteThatDoesNotFitATLVIsRefused) {
    EXPECT_EQ(Device.SetFNRequisite(1021, TBytes(0x10000, 'a')), errInvalidParameter);
    EXPECT_EQ(Device.SetFNOperationRequisite(70000, BytesOf("a")), errInvalidParameter);
    EXPECT_EQ(Device.SetFNRequisite(-1, BytesOf("a")), errInvalidParameter);
    EXPECT_TRUE(Link.Sent.empty());
}

TEST(TLVTest, TagAndLengthAreLittleEndian) {
    const TBytes inn(12, '7');
    TBytes expected{0xB3, 0x04, 0x0C, 0x00};
    expected.insert(expected.end(), inn.begin(), inn.end());
    EXPECT_EQ(SetTLV(1203, inn), expected);
    EXPECT_EQ(SetTLV(1021, TBytes(5, 'a')).size(), 9u);
    EXPECT_EQ(Slice(SetTLV(1021, TBytes(5, 'a')), 0, 4), Bytes({0xFD, 0x03, 0x05, 0x00}));
    EXPECT_EQ(SetTLV(1008, {}), Bytes({0xF0, 0x03, 0x00, 0x00}));
}

}  // namespace
}  // namespace fr::test
