// The bytes every operation sends, one row per operation: command code, data and time-out, with
// the register answering success and, for commands that print, an idle printer first.

#include <gtest/gtest.h>

#include <functional>

#include "device/FakeLink.h"

namespace fr::test {
namespace {

struct TExpectedCommand {
    TBytes Cmd;
    TBytes Data;
    int Timeout = 0;
};

struct CommandCase {
    const char* Name;
    std::function<int(TDevice&)> Run;
    std::vector<TExpectedCommand> Commands;  // a {0x10} entry is answered "idle"
};

void PrintTo(const CommandCase& c, std::ostream* os) { *os << c.Name; }

const TBytes kState{0x10};

class CommandDataTest : public DeviceTest, public ::testing::WithParamInterface<CommandCase> {};

TEST_P(CommandDataTest, SendsExactBytes) {
    const CommandCase& c = GetParam();
    for (const auto& cmd : c.Commands) {
        if (cmd.Cmd == kState)
            Link.ExpectIdle();
        else
            Link.Expect(cmd.Cmd, cmd.Data, Ok(), cmd.Timeout);
    }
    EXPECT_EQ(c.Run(Device), 0);
    for (const auto& sent : Link.Sent) {
        SCOPED_TRACE(BytesToHexText(sent.Cmd));
        EXPECT_TRUE(sent.SendPwd);
        EXPECT_EQ(sent.Message.size(), sent.Cmd.size() + 4 + sent.Data.size());
    }
}

TDateTime At(int y, int mo, int d, int h, int mi, int s) { return *TryEncodeDateTime({y, mo, d, h, mi, s}); }

const CommandCase kCases[] = {
    {"SetFieldAsByte", [](TDevice& d) { return d.SetFieldAsByte(1, 1, 7, 5); }, {{{0x1E}, {1, 1, 0, 7, 5}}}},
    {"SetFieldAsBCD9999", [](TDevice& d) { return d.SetFieldAsBCD(2, 1, 4, 9999); }, {{{0x1E}, {2, 1, 0, 4, 0x99, 0x99}}}},
    {"SetFieldAsBCD7", [](TDevice& d) { return d.SetFieldAsBCD(2, 1, 4, 7); }, {{{0x1E}, {2, 1, 0, 4, 0x00, 0x07}}}},
    {"SetFieldAsHex", [](TDevice& d) { return d.SetFieldAsHex(2, 1, 9, "1A2B", 2); }, {{{0x1E}, {2, 1, 0, 9, 0x1A, 0x2B}}}},
    {"SetFieldAsHexShortText", [](TDevice& d) { return d.SetFieldAsHex(2, 1, 9, "A", 2); },
     {{{0x1E}, {2, 1, 0, 9, 0x00, 0x0A}}}},
    {"SetFieldAsHexRowAbove255", [](TDevice& d) { return d.SetFieldAsHex(2, 300, 9, "01", 1); },
     {{{0x1E}, {2, 0x2C, 0x01, 9, 0x01}}}},
    {"SetFNRequisite", [](TDevice& d) { return d.SetFNRequisite(1021, BytesOf("ABCDE")); },
     {{{0xFF, 0x0C}, {0xFD, 0x03, 0x05, 0x00, 'A', 'B', 'C', 'D', 'E'}}}},
    {"SetFNRequisiteEmpty", [](TDevice& d) { return d.SetFNRequisite(1008, {}); }, {{{0xFF, 0x0C}, {0xF0, 0x03, 0, 0}}}},
    {"SetFNOperationRequisiteBytes", [](TDevice& d) { return d.SetFNOperationRequisite(1162, Bytes({0x01})); },
     {{{0xFF, 0x4D}, {0x8A, 0x04, 0x01, 0x00, 0x01}}}},
    {"SetFNOperationRequisiteTextIn1251",
     [](TDevice& d) { return d.SetFNOperationRequisite(1191, std::string("ОО")); },
     {{{0xFF, 0x4D}, {0xA7, 0x04, 0x02, 0x00, 0xCE, 0xCE}}}},
    {"SetTime", [](TDevice& d) { return d.SetDateTime(At(2026, 12, 31, 23, 59, 58)); },
     {{{0x21}, {0x17, 0x3B, 0x3A}}, {{0x22}, {0x1F, 0x0C, 0x1A}}, {{0x23}, {0x1F, 0x0C, 0x1A}}}},
    {"XReport", [](TDevice& d) { return d.XReport(); }, {{kState, {}}, {{0x40}, {}}}},
    {"OpenDayWithoutCashier", [](TDevice& d) { return d.OpenDay({}, {}); }, {{kState, {}}, {{0xE0}, {}, 10000}}},
    {"OpenDayWithCashier", [](TDevice& d) { return d.OpenDay(BytesOf("Ivanov"), BytesOf("7700000000  ")); },
     {{{0xFF, 0x41}, {}},
      {{0xFF, 0x0C}, {0xFD, 0x03, 6, 0, 'I', 'v', 'a', 'n', 'o', 'v'}},
      {{0xFF, 0x0C}, {0xB3, 0x04, 12, 0, '7', '7', '0', '0', '0', '0', '0', '0', '0', '0', ' ', ' '}},
      {kState, {}},
      {{0xE0}, {}, 10000}}},
    {"OpenDayNameOfSpacesStillSendsRequisite", [](TDevice& d) { return d.OpenDay(BytesOf(" "), {}); },
     {{{0xFF, 0x41}, {}}, {{0xFF, 0x0C}, {0xFD, 0x03, 1, 0, ' '}}, {kState, {}}, {{0xE0}, {}, 10000}}},
    {"ZReportWithoutCashier", [](TDevice& d) { return d.ZReport({}, {}); }, {{kState, {}}, {{0x41}, {}, 40000}}},
    {"ZReportWithCashier", [](TDevice& d) { return d.ZReport(BytesOf("K"), {}); },
     {{{0xFF, 0x42}, {}}, {{0xFF, 0x0C}, {0xFD, 0x03, 1, 0, 'K'}}, {kState, {}}, {{0x41}, {}, 40000}}},
    {"CalculationStateReportSpacesOnly", [](TDevice& d) { return d.CalculationStateReport(BytesOf("   "), {}); },
     {{kState, {}}, {{0xFF, 0x38}, {}}}},
    {"CalculationStateReportWithCashier",
     [](TDevice& d) { return d.CalculationStateReport(BytesOf(" K "), BytesOf(" ")); },
     {{{0xFF, 0x37}, {}}, {{0xFF, 0x0C}, {0xFD, 0x03, 3, 0, ' ', 'K', ' '}}, {kState, {}}, {{0xFF, 0x38}, {}}}},
    {"CashIn", [](TDevice& d) { return d.Encash(1502500); }, {{kState, {}}, {{0x50}, {0xB1, 0x3A, 0, 0, 0}}}},
    {"CashOut", [](TDevice& d) { return d.Encash(-1502500); }, {{kState, {}}, {{0x51}, {0xB1, 0x3A, 0, 0, 0}}}},
    {"CashOfHalfAKopeckRoundsToEven", [](TDevice& d) { return d.Encash(150); }, {{kState, {}}, {{0x50}, {2, 0, 0, 0, 0}}}},
    {"ContinuePrint", [](TDevice& d) { return d.ContinuePrint(); }, {{{0xB0}, {}}}},
    {"OpenReceipt", [](TDevice& d) { return d.OpenReceipt(2); }, {{kState, {}}, {{0x8D}, {0x02}}}},
    {"PrintNormalString", [](TDevice& d) { return d.PrintNormalString(3, BytesOf("AB")); }, {{{0x17}, {3, 'A', 'B'}}}},
    {"PrintBoldString", [](TDevice& d) { return d.PrintBoldString(2, BytesOf("AB")); }, {{{0x12}, {2, 'A', 'B'}}}},
    {"PrintFontString", [](TDevice& d) { return d.PrintFontString(3, BytesOf("AB")); }, {{{0x2F}, {3, 1, 'A', 'B'}}}},
    {"PrintDocTitle", [](TDevice& d) { return d.PrintDocTitle(BytesOf("TITLE")); },
     {{{0x18}, [] {
           TBytes t = PadToLength(BytesOf("TITLE"), 30, 0);
           t.push_back(0);
           t.push_back(1);
           return t;
       }()}}},
    {"PrintEAN13DropsCheckDigit", [](TDevice& d) { return d.PrintEAN13("4601234567893"); },
     {{kState, {}}, {{0xC2}, {0x15, 0xC5, 0x7E, 0x21, 0x6B}}}},
    {"FullCut", [](TDevice& d) { return d.Cut(true); }, {{kState, {}}, {{0x25}, {0x00}}}},
    {"PartialCut", [](TDevice& d) { return d.Cut(false); }, {{kState, {}}, {{0x25}, {0x01}}}},
    {"Feed", [](TDevice& d) { return d.Feed(5); }, {{kState, {}}, {{0x29}, {0x02, 0x05}}}},
    {"FeedAndCut", [](TDevice& d) { d.FeedAndCut(5); return 0; },
     {{kState, {}}, {{0x29}, {0x02, 0x05}}, {kState, {}}, {{0x25}, {0x01}}}},
    {"OpenDrawer", [](TDevice& d) { return d.OpenDrawer(); }, {{{0x28}, {0x00}}}},
    {"FNBeginRegistrationReport", [](TDevice& d) { return d.FNBeginRegistrationReport(1); }, {{{0xFF, 0x05}, {0x01}}}},
    {"FNBuildRegistrationReport",
     [](TDevice& d) { return d.FNBuildRegistrationReport(TBytes(12, '1'), TBytes(20, '2'), 0x01, 0x02); },
     {{kState, {}}, {{0xFF, 0x06}, [] {
           TBytes t(12, '1');
           t.insert(t.end(), 20, '2');
           t.push_back(1);
           t.push_back(2);
           return t;
       }(), 5000}}},
    {"FNBuildReregistrationReport",
     [](TDevice& d) { return d.FNBuildReregistrationReport(TBytes(12, '1'), TBytes(20, '2'), 0x01, 0x02, 0x04); },
     {{kState, {}}, {{0xFF, 0x34}, [] {
           TBytes t(12, '1');
           t.insert(t.end(), 20, '2');
           t.push_back(1);
           t.push_back(2);
           t.push_back(4);
           return t;
       }(), 5000}}},
    {"FNClose", [](TDevice& d) { return d.FNClose(); }, {{kState, {}}, {{0xFF, 0x3E}, {}, 2000}}},
    {"RequestDocument", [](TDevice& d) {
         std::int32_t type = 0, length = 0;
         return d.GetFNRequestFiscalDocumentTLV(0x01020304, type, length);
     },
     {{kState, {}}, {{0xFF, 0x3A}, {0x04, 0x03, 0x02, 0x01}}}},
};

INSTANTIATE_TEST_SUITE_P(Operations, CommandDataTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST_F(DeviceTest, CommandCarriesCodePasswordAndData) {
    Device.SetConnectPwd(IntToLEBytes(4, 0x01020304));
    Link.Expect({0xFF, 0x0C}, std::nullopt, Ok());
    Device.SetFNRequisite(1008, Bytes({0xAA}));
    ASSERT_EQ(Link.Sent.size(), 1u);
    EXPECT_EQ(Link.Sent[0].Message, Bytes({0xFF, 0x0C, 0x04, 0x03, 0x02, 0x01, 0xF0, 0x03, 0x01, 0x00, 0xAA}));
}

TEST_F(DeviceTest, DeviceTypeQuerySendsItsCodeAlone) {
    TBytes answer{0x00, 0x00, 0x00, 0x01, 0x02, 0x05, 0x00};
    const TBytes name = BytesOf("FR-01\xC0");
    answer.insert(answer.end(), name.begin(), name.end());
    Link.Expect({0xFC}, TBytes{}, answer, 2000);
    std::uint8_t ver = 9, sub = 9, lng = 9, model = 9;
    std::string modelName = "old";
    EXPECT_EQ(Device.GetDeviceType(ver, sub, lng, model, modelName), 0);
    ASSERT_EQ(Link.Sent.size(), 1u);
    EXPECT_FALSE(Link.Sent[0].SendPwd);
    EXPECT_EQ(Link.Sent[0].Message, Bytes({0xFC}));
    EXPECT_EQ(ver, 1);
    EXPECT_EQ(sub, 2);
    EXPECT_EQ(model, 5);
    EXPECT_EQ(lng, 0);
    EXPECT_EQ(modelName, "FR-01А");
}

TEST_F(DeviceTest, ShortDeviceTypeAnswerGivesZerosWithoutReadingPastIt) {
    Link.Expect({0xFC}, TBytes{}, Bytes({0x00, 0x00, 0x00, 0x01}));
    std::uint8_t ver = 9, sub = 9, lng = 9, model = 9;
    std::string modelName = "old";
    EXPECT_EQ(Device.GetDeviceType(ver, sub, lng, model, modelName), 0);
    EXPECT_EQ(ver, 1);
    EXPECT_EQ(sub, 0);
    EXPECT_EQ(model, 0);
    EXPECT_EQ(modelName, "");
}

}  // namespace
}  // namespace fr::test
