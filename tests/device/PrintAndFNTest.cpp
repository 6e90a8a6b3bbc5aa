// Printing (lines, QR, EAN-13, cut) and the fiscal-storage reads.

#include <gtest/gtest.h>

#include "device/FakeLink.h"
#include "framework/ErrorCodes.h"
#include "platform/Errors.h"

namespace fr::test {
namespace {

// ---------------------------------------------------------------------------------------------
// PrintString

struct PrintCase {
    const char* Name;
    std::string Text;
    int LineLen;
    std::vector<std::string> Lines;
};

void PrintTo(const PrintCase& c, std::ostream* os) { *os << c.Name; }

class PrintStringTest : public DeviceTest, public ::testing::WithParamInterface<PrintCase> {};

TEST_P(PrintStringTest, SendsOneCommandPerPiece) {
    const PrintCase& c = GetParam();
    Device.SetLineLen(c.LineLen);
    for (const auto& line : c.Lines) {
        TBytes data{0x03};
        data.insert(data.end(), line.begin(), line.end());
        Link.Expect({0x17}, data, Ok());
    }
    EXPECT_EQ(Device.PrintString(BytesOf(c.Text)), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Table, PrintStringTest,
    ::testing::Values(PrintCase{"EmptyLinesPrintNothing", "AB\r\rC", 32, {"AB", "C"}},
                      PrintCase{"LongLineIsSplit", std::string(70, 'x'), 32,
                                {std::string(32, 'x'), std::string(32, 'x'), std::string(6, 'x')}},
                      PrintCase{"EmptyTextSendsNothing", "", 32, {}},
                      PrintCase{"TrailingCarriageReturn", "AB\r", 32, {"AB"}},
                      PrintCase{"LineFeedStaysInTheLine", "A\nB", 32, {"A\nB"}},
                      PrintCase{"ZeroLineLengthSendsLinesWhole", std::string(70, 'y') + "\rZ", 0,
                                {std::string(70, 'y'), "Z"}}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(DeviceTest, PrintStringStopsAtTheFirstRefusedLine) {
    Device.SetLineLen(32);
    Link.Expect({0x17}, std::nullopt, Ok());
    Link.Expect({0x17}, std::nullopt, Bytes({0x6B}));
    EXPECT_EQ(Device.PrintString(BytesOf("A\rB\rC")), 0x6B);
}

// ---------------------------------------------------------------------------------------------
// Barcodes

TEST_F(DeviceTest, QRDataIsLoadedInSixtyFourByteBlocks) {
    Device.SetQRSize(6);
    TBytes qr(150, 0);
    for (std::size_t i = 0; i < qr.size(); ++i) qr[i] = static_cast<std::uint8_t>(i);
    for (std::uint8_t block = 0; block < 3; ++block) {
        TBytes data{0x00, block};
        const std::size_t from = block * 64u, to = std::min<std::size_t>(qr.size(), from + 64);
        data.insert(data.end(), qr.begin() + static_cast<std::ptrdiff_t>(from),
                    qr.begin() + static_cast<std::ptrdiff_t>(to));
        Link.Expect({0xDD}, data, Ok());
    }
    Link.ExpectIdle();
    Link.Expect({0xDE}, Bytes({0x03, 0x96, 0x00, 0x00, 0x00, 0x08, 0x06, 0x00, 0x02, 0x01}), Ok());
    EXPECT_EQ(Device.PrintQRCode(qr), 0);
    EXPECT_EQ(Link.Sent[2].Data.size(), 2u + 22);
}

TEST_F(DeviceTest, QRStopsAtTheFirstRefusedBlock) {
    Link.Expect({0xDD}, std::nullopt, Bytes({0x01}));
    EXPECT_EQ(Device.PrintQRCode(TBytes(100, 'a')), 0x01);
}

TEST_F(DeviceTest, QRDataThatIsEmptyOrTooLongSendsNothing) {
    EXPECT_EQ(Device.PrintQRCode({}), errProtocol);
    EXPECT_EQ(Device.PrintQRCode(TBytes(256 * 64 + 1, 'a')), errInvalidParameter);
    EXPECT_TRUE(Link.Sent.empty());
}

TEST_F(DeviceTest, QRDataOfExactlyTwoHundredFiftySixBlocksIsPrinted) {
    for (int i = 0; i < 256; ++i) Link.Expect({0xDD}, std::nullopt, Ok());
    Link.ExpectIdle();
    Link.Expect({0xDE}, std::nullopt, Ok());
    EXPECT_EQ(Device.PrintQRCode(TBytes(256 * 64, 'a')), 0);
    EXPECT_EQ(Link.Sent[255].Data[1], 255);
    EXPECT_EQ(Link.Sent.back().Data[1], 0x00);  // 16384 = 00 40
    EXPECT_EQ(Link.Sent.back().Data[2], 0x40);
}

TEST_F(DeviceTest, EAN13ThatIsNotANumberIsAConversionError) {
    for (const char* code : {"46012345678X3", "", "12 4"}) {
        SCOPED_TRACE(code);
        EXPECT_THROW(Device.PrintEAN13(code), EConvertError);
    }
    EXPECT_TRUE(Link.Sent.empty());
}

// ---------------------------------------------------------------------------------------------
// Cut

TEST_F(DeviceTest, DisabledCutSendsNoCutCommand) {
    Device.SetDisableCut(true);
    Link.ExpectIdle();
    EXPECT_EQ(Device.Cut(true), 0);
    Link.ExpectIdle();
    Link.Expect({0x29}, Bytes({0x02, 0x03}), Ok());
    Link.ExpectIdle();
    Device.FeedAndCut(3);
    for (const auto& sent : Link.Sent) EXPECT_NE(sent.Cmd, Bytes({0x25}));
}

TEST_F(DeviceTest, FeedAndCutCutsEvenWhenTheFeedIsRefused) {
    Link.ExpectIdle();
    Link.Expect({0x29}, std::nullopt, Bytes({0x6B}));
    Link.ExpectIdle();
    Link.Expect({0x25}, Bytes({0x01}), Ok());
    Device.FeedAndCut(1);
}

// ---------------------------------------------------------------------------------------------
// Fiscal-storage reads

TEST_F(DeviceTest, FNStatusGivesStateBytesAndLastDocument) {
    TBytes answer(31, 0);
    for (std::uint8_t i = 1; i <= 5; ++i) answer[i] = static_cast<std::uint8_t>(i * 3);
    answer[27] = 0x10;
    answer[28] = 0x27;
    Link.Expect({0xFF, 0x01}, TBytes{}, answer);
    std::uint8_t life = 0, doc = 0, data = 0, session = 0, warn = 0;
    std::int64_t last = 0;
    EXPECT_EQ(Device.GetFNCurrentStatus(life, doc, data, session, warn, last), 0);
    EXPECT_EQ(life, 3);
    EXPECT_EQ(doc, 6);
    EXPECT_EQ(data, 9);
    EXPECT_EQ(session, 12);
    EXPECT_EQ(warn, 15);
    EXPECT_EQ(last, 10000);
}

TEST_F(DeviceTest, ShortFNStatusReadsOnlyWhatIsThere) {
    Link.Expect({0xFF, 0x01}, TBytes{}, Bytes({0, 1, 2, 3, 4, 5}));
    std::uint8_t life = 0, doc = 0, data = 0, session = 0, warn = 0;
    std::int64_t last = -1;
    EXPECT_EQ(Device.GetFNCurrentStatus(life, doc, data, session, warn, last), 0);
    EXPECT_EQ(warn, 5);
    EXPECT_EQ(last, 0);  // bytes beyond the answer are absent

    Link.Expect({0xFF, 0x01}, TBytes{}, Bytes({0, 9, 9, 9, 9}));
    last = -1;
    EXPECT_EQ(Device.GetFNCurrentStatus(life, doc, data, session, warn, last), 0);
    EXPECT_EQ(life, 1);
    EXPECT_EQ(last, -1);
}

TBytes RegistrationAnswer(std::size_t ALength) {
    TBytes a(ALength, 0);
    a[1] = 26;  // 2026-03-15 14:30
    a[2] = 3;
    a[3] = 15;
    a[4] = 14;
    a[5] = 30;
    const std::string inn = " 7700000000 ";
    const std::string reg = "0000000001012345    ";
    std::copy(inn.begin(), inn.end(), a.begin() + 6);
    std::copy(reg.begin(), reg.end(), a.begin() + 18);
    a[38] = 0x21;
    a[40] = 0x11;
    a[41] = 0x22;
    a[42] = 0x33;
    a[43] = 0x44;
    if (ALength > 44) a[44] = 0x55;
    return a;
}

TEST_F(DeviceTest, RegistrationDocumentNumberDependsOnAnswerLength) {
    struct Case {
        std::size_t Length;
        std::int64_t DocNumber;
    } cases[] = {{48, 0x44332211}, {49, 0x55443322}, {60, 0x55443322}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Length);
        Link.Expect({0xFF, 0x09}, TBytes{}, RegistrationAnswer(c.Length));
        TDateTime when = 0;
        TBytes inn, reg;
        std::int32_t tax = 0;
        std::int64_t doc = 0;
        EXPECT_EQ(Device.GetFiscalizationParameters(when, inn, reg, tax, doc), 0);
        EXPECT_EQ(doc, c.DocNumber);
        EXPECT_DOUBLE_EQ(when, *TryEncodeDateTime({2026, 3, 15, 14, 30, 0}));
        EXPECT_EQ(inn, BytesOf("7700000000"));
        EXPECT_EQ(reg, BytesOf("0000000001012345"));
        EXPECT_EQ(tax, 0x21);
    }
}

TEST_F(DeviceTest, ShortRegistrationAnswerLeavesEmptyTexts) {
    Link.Expect({0xFF, 0x09}, TBytes{}, RegistrationAnswer(47));
    TDateTime when = 5;
    TBytes inn = BytesOf("x"), reg = BytesOf("y");
    std::int32_t tax = -1;
    std::int64_t doc = -1;
    EXPECT_EQ(Device.GetFiscalizationParameters(when, inn, reg, tax, doc), 0);
    EXPECT_EQ(when, 5);
    EXPECT_TRUE(inn.empty());
    EXPECT_TRUE(reg.empty());
    EXPECT_EQ(tax, -1);
    EXPECT_EQ(doc, -1);
}

TEST_F(DeviceTest, ExchangeStatusReadsDateOnlyFromALongEnoughAnswer) {
    Link.Expect({0xFF, 0x39}, TBytes{}, Bytes({0, 1, 0, 0x05, 0x00, 0x10, 0x00, 0x00, 0x00, 26, 3, 15, 14, 30}));
    std::int32_t count = 0;
    std::int64_t first = 0;
    TDateTime when = 0;
    EXPECT_EQ(Device.GetFNInfoExchangeStatus(count, first, when), 0);
    EXPECT_EQ(count, 5);
    EXPECT_EQ(first, 16);
    EXPECT_DOUBLE_EQ(when, *TryEncodeDateTime({2026, 3, 15, 14, 30, 0}));

    Link.Expect({0xFF, 0x39}, TBytes{}, Bytes({0, 1, 0, 0x07, 0x00, 0x20, 0x00}));
    when = 5;
    EXPECT_EQ(Device.GetFNInfoExchangeStatus(count, first, when), 0);
    EXPECT_EQ(count, 7);
    EXPECT_EQ(first, 32);
    EXPECT_EQ(when, 5);
}

TEST_F(DeviceTest, DocumentRequestGivesTypeAndLength) {
    Link.ExpectIdle();
    Link.Expect({0xFF, 0x3A}, Bytes({5, 0, 0, 0}), Bytes({0, 0x03, 0x00, 0x2C, 0x01}));
    std::int32_t type = 0, length = 0;
    EXPECT_EQ(Device.GetFNRequestFiscalDocumentTLV(5, type, length), 0);
    EXPECT_EQ(type, 3);
    EXPECT_EQ(length, 300);
    EXPECT_EQ(Device.GetFNRequestFiscalDocumentTLV(-1, type, length), errInvalidParameter);
}

TEST_F(DeviceTest, DocumentReadGivesOneTLVOrNothing) {
    Link.Expect({0xFF, 0x3B}, TBytes{}, Bytes({0, 0xF0, 0x03, 0x01, 0x00, 0x07}));
    TBytes tlv;
    EXPECT_EQ(Device.GetFNReadFiscalDocumentTLV(tlv), 0);
    EXPECT_EQ(tlv, Bytes({0xF0, 0x03, 0x01, 0x00, 0x07}));
    Link.Expect({0xFF, 0x3B}, TBytes{}, Ok());
    EXPECT_EQ(Device.GetFNReadFiscalDocumentTLV(tlv), 0);
    EXPECT_TRUE(tlv.empty());
}

TEST_F(DeviceTest, UnlockOutsideDataOutputSendsOnlyTheFullState) {
    Link.Expect({0x11}, TBytes{}, TBytes(47, 0));
    Device.UnlockDataOutputMode();
}

TEST_F(DeviceTest, UnlockDrainsTheDocumentUntilEmptyOrFailure) {
    TBytes full(47, 0);
    full[14] = 1;
    Link.Expect({0x11}, TBytes{}, full);
    Link.Expect({0xFF, 0x3B}, TBytes{}, Bytes({0, 1, 2, 0, 0}));
    Link.Expect({0xFF, 0x3B}, TBytes{}, Bytes({0, 3, 4, 0, 0}));
    Link.Expect({0xFF, 0x3B}, TBytes{}, Ok());
    Device.UnlockDataOutputMode();

    Link.Expect({0x11}, TBytes{}, full);
    Link.Expect({0xFF, 0x3B}, TBytes{}, Bytes({0, 1, 2, 0, 0}));
    Link.Expect({0xFF, 0x3B}, TBytes{}, Bytes({0x08}));
    Device.UnlockDataOutputMode();
}

// A link that answers every TLV read with data, as a faulty register might.
class EndlessDocumentLink : public TLinkProtocol {
public:
    int RunCommand(TBytes& AResponse, const TBytes&, const TBytes& ACmd, const TBytes&, int, bool, bool) override {
        ++Count;
        if (ACmd == TBytes{0x11}) {
            AResponse.assign(47, 0);
            AResponse[14] = 1;
        } else {
            AResponse = {0, 1, 2, 0, 0};
        }
        return 0;
    }
    int Count = 0;
};

TEST(UnlockDataOutputModeTest, EndlessDocumentIsNotReadForEver) {
    EndlessDocumentLink link;
    TDevice device(&link);
    device.UnlockDataOutputMode();
    EXPECT_GT(link.Count, 1000);
    EXPECT_LT(link.Count, 100000);
}

}  // namespace
}  // namespace fr::test
