// Result-code checks, short answers, refusals before sending, table fields and the state reads.

#include <gtest/gtest.h>

#include "device/FakeLink.h"
#include "framework/ErrorCodes.h"

namespace fr::test {
namespace {

TBytes Answer(std::size_t ALength, std::initializer_list<std::pair<std::size_t, std::uint8_t>> ABytes = {}) {
    TBytes a(ALength, 0);
    for (auto [i, v] : ABytes) a[i] = v;
    return a;
}

// ---------------------------------------------------------------------------------------------
// Result codes

TEST_F(DeviceTest, ResultCodeComesFromLinkThenAnswerByteZero) {
    struct Case {
        const char* Name;
        int LinkResult;
        TBytes Answer;
        int Expected;
    } cases[] = {
        {"link failure passes through", 1007, {}, 1007},
        {"TCP link code passes through", 606, {}, 606},
        {"empty answer", 0, {}, errProtocol},
        {"register refusal", 0, {93}, 93},
        {"success", 0, {0}, 0},
        {"result code 255", 0, {0xFF, 1}, 255},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        if (c.LinkResult != 0)
            Link.ExpectLinkFailure({0x28}, c.LinkResult);
        else
            Link.Expect({0x28}, std::nullopt, c.Answer);
        EXPECT_EQ(Device.OpenDrawer(), c.Expected);
    }
}

TEST_F(DeviceTest, DeviceWithoutLinkSendsNothingAndReportsProtocolError) {
    TDevice bare;
    EXPECT_EQ(bare.RunCommand({0x10}, {}, 0, true, true), 0);
    EXPECT_EQ(bare.CheckResultCode(0), errProtocol);
    EXPECT_EQ(bare.OpenDrawer(), errProtocol);
}

TEST_F(DeviceTest, ResponseIsEmptiedWhenACommandStarts) {
    Link.Expect({0x28}, std::nullopt, Bytes({0, 1, 2}));
    Link.ExpectLinkFailure({0x28}, 1007);
    Device.OpenDrawer();
    EXPECT_EQ(Device.Response().size(), 3u);
    Device.OpenDrawer();
    EXPECT_TRUE(Device.Response().empty());
}

TEST_F(DeviceTest, BeepIgnoresTheRegisterResultCode) {
    Link.Expect({0x13}, TBytes{}, Bytes({0x37}));
    EXPECT_EQ(Device.Beep(), 0);
    Link.ExpectLinkFailure({0x13}, 1007);
    EXPECT_EQ(Device.Beep(), 1007);
}

// ---------------------------------------------------------------------------------------------
// Settings

TEST_F(DeviceTest, FeedCountKeepsOnlyValuesOfOneByte) {
    for (auto [value, stored] : {std::pair{300, 0}, {255, 255}, {256, 0}, {-1, 0}, {0, 0}, {17, 17}}) {
        SCOPED_TRACE(value);
        Device.SetFeedCount(value);
        EXPECT_EQ(Device.GetFeedCount(), stored);
    }
}

TEST_F(DeviceTest, LineLengthStoresItsLowByte) {
    Device.SetLineLen(0x130);
    EXPECT_EQ(Device.GetLineLen(), 0x30);
}

// ---------------------------------------------------------------------------------------------
// Table fields

TEST_F(DeviceTest, LineLengthIsReadFromTableNine) {
    Link.Expect({0x1F}, Bytes({9, 1, 0, 3}), Bytes({0, 48}));
    EXPECT_EQ(Device.SetParams(), 0);
    EXPECT_EQ(Device.GetLineLen(), 48);
}

TEST_F(DeviceTest, FieldReadOfResultCodeAloneLeavesTheValue) {
    Link.Expect({0x1F}, std::nullopt, Ok());
    std::uint8_t value = 42;
    EXPECT_EQ(Device.GetFieldAsByte(1, 1, 7, value), 0);
    EXPECT_EQ(value, 42);

    Link.Expect({0x1F}, std::nullopt, Ok());
    TBytes text = BytesOf("old");
    EXPECT_EQ(Device.GetFieldAsStr(1, 1, 7, text), 0);
    EXPECT_TRUE(text.empty());

    Link.Expect({0x1F}, std::nullopt, Ok());
    std::string hex = "old";
    EXPECT_EQ(Device.GetFieldAsHex(1, 1, 7, hex), 0);
    EXPECT_EQ(hex, "");

    Link.Expect({0x1F}, std::nullopt, Ok());
    const TBytes* bin = nullptr;
    EXPECT_EQ(Device.GetFieldAsBIN(1, 1, 7, bin), 0);
    EXPECT_EQ(bin, nullptr);
}

TEST_F(DeviceTest, FieldReadsDeliverTheFieldBytes) {
    Link.Expect({0x1F}, std::nullopt, Bytes({0, 'A', 'B', 0}));
    TBytes text;
    EXPECT_EQ(Device.GetFieldAsStr(4, 300, 2, text), 0);
    EXPECT_EQ(text, Bytes({'A', 'B', 0}));  // zero padding kept
    EXPECT_EQ(Link.Sent.back().Data, Bytes({4, 0x2C, 0x01, 2}));

    Link.Expect({0x1F}, std::nullopt, Bytes({0, 0x1A, 0x2B}));
    std::string hex;
    EXPECT_EQ(Device.GetFieldAsHex(2, 1, 9, hex), 0);
    EXPECT_EQ(hex, "1A2B");

    Link.Expect({0x1F}, std::nullopt, Bytes({0, 0x05}));
    const TBytes* bin = nullptr;
    EXPECT_EQ(Device.GetFieldAsBIN(1, 1, 7, bin), 0);
    ASSERT_NE(bin, nullptr);
    EXPECT_EQ(*bin, Bytes({0, 0x05}));
}

TEST_F(DeviceTest, FieldReadRefusalIsReturned) {
    Link.Expect({0x1F}, std::nullopt, Bytes({93}));
    std::uint8_t value = 42;
    EXPECT_EQ(Device.GetFieldAsByte(99, 1, 1, value), 93);
    EXPECT_EQ(value, 42);
    Link.Expect({0x1F}, std::nullopt, Bytes({93}));
    TBytes text = BytesOf("old");
    EXPECT_EQ(Device.GetFieldAsStr(99, 1, 1, text), 93);
    EXPECT_TRUE(text.empty());
}

TEST_F(DeviceTest, StringFieldIsCutOrPaddedToTheFieldSize) {
    struct Case {
        const char* Value;
        TBytes Sent;
    } cases[] = {
        {"ABCDEFG", BytesOf("ABCD")},
        {"AB", Bytes({'A', 'B', 0, 0})},
        {"", Bytes({0, 0, 0, 0})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Value);
        Link.Expect({0x2E}, Bytes({4, 2}), Answer(43, {{42, 4}}));
        TBytes expected{4, 1, 0, 2};
        expected.insert(expected.end(), c.Sent.begin(), c.Sent.end());
        Link.Expect({0x1E}, expected, Ok());
        EXPECT_EQ(Device.SetFieldAsStr(4, 1, 2, BytesOf(c.Value)), 0);
    }
}

TEST_F(DeviceTest, StringFieldWriteStopsWhenTheStructureQueryFails) {
    Link.Expect({0x2E}, std::nullopt, Bytes({93}));
    EXPECT_EQ(Device.SetFieldAsStr(99, 1, 2, BytesOf("A")), 93);
}

TEST_F(DeviceTest, ShortFieldStructureAnswerIsAProtocolError) {
    Link.Expect({0x2E}, std::nullopt, Answer(42));
    std::uint8_t size = 7;
    EXPECT_EQ(Device.GetFieldStruct(4, 2, size), errProtocol);
    EXPECT_EQ(size, 7);
    // ...and a string write then sends nothing more.
    Link.Expect({0x2E}, std::nullopt, Answer(10));
    EXPECT_EQ(Device.SetFieldAsStr(4, 1, 2, BytesOf("A")), errProtocol);
}

TEST_F(DeviceTest, BCDValueThatDoesNotFitIsRefusedBeforeSending) {
    EXPECT_EQ(Device.SetFieldAsBCD(2, 1, 4, 10000), errInvalidParameter);
    EXPECT_EQ(Device.SetFieldAsBCD(2, 1, 4, 12345), errInvalidParameter);
    EXPECT_EQ(Device.SetFieldAsBCD(2, 1, 4, -1), errInvalidParameter);
    EXPECT_TRUE(Link.Sent.empty());
}

// ---------------------------------------------------------------------------------------------
// State and clock

TEST_F(DeviceTest, ShortStateGivesFlagsModeAndSubmode) {
    Link.Expect({0x10}, TBytes{}, Answer(15, {{2, 0xAB}, {3, 0xCD}, {4, 0x38}, {5, 5}}));
    TBytes flags;
    std::uint8_t mode = 0, submode = 0;
    EXPECT_EQ(Device.GetECRState(flags, mode, submode), 0);
    EXPECT_EQ(flags, Bytes({0xAB, 0xCD}));
    EXPECT_EQ(mode, 8);  // low four bits
    EXPECT_EQ(submode, 5);
}

TEST_F(DeviceTest, ShortStateAnswerBelowFifteenBytesLeavesOuts) {
    Link.Expect({0x10}, TBytes{}, Answer(14, {{4, 8}, {5, 5}}));
    TBytes flags = BytesOf("x");
    std::uint8_t mode = 9, submode = 9;
    EXPECT_EQ(Device.GetECRState(flags, mode, submode), 0);
    EXPECT_TRUE(flags.empty());
    EXPECT_EQ(mode, 9);
    EXPECT_EQ(submode, 9);
}

TEST_F(DeviceTest, FullStateGivesModeAndClock) {
    const TBytes full = Answer(47, {{14, 3}, {24, 31}, {25, 12}, {26, 26}, {27, 23}, {28, 59}, {29, 58}});
    Link.Expect({0x11}, TBytes{}, full);
    std::uint8_t mode = 0;
    EXPECT_EQ(Device.GetStateKKT(mode), 0);
    EXPECT_EQ(mode, 3);

    Link.Expect({0x11}, TBytes{}, full);
    TDateTime dt = 0;
    EXPECT_EQ(Device.GetDateTimeKKT(dt), 0);
    EXPECT_DOUBLE_EQ(dt, *TryEncodeDateTime({2026, 12, 31, 23, 59, 58}));
}

TEST_F(DeviceTest, ShortFullStateIsAProtocolError) {
    Link.Expect({0x11}, TBytes{}, Answer(46, {{14, 3}}));
    std::uint8_t mode = 7;
    EXPECT_EQ(Device.GetStateKKT(mode), errProtocol);
    EXPECT_EQ(mode, 7);
    Link.Expect({0x11}, TBytes{}, Answer(30));
    TDateTime dt = 5;
    EXPECT_EQ(Device.GetDateTimeKKT(dt), errProtocol);
    EXPECT_EQ(dt, 5);
}

TEST_F(DeviceTest, InvalidClockInFullStateLeavesTheValue) {
    Link.Expect({0x11}, TBytes{}, Answer(47, {{24, 31}, {25, 2}, {26, 26}, {27, 10}}));
    TDateTime dt = 5;
    EXPECT_EQ(Device.GetDateTimeKKT(dt), 0);
    EXPECT_EQ(dt, 5);
}

TEST_F(DeviceTest, SetDateTimeStopsAtTheFirstRefusal) {
    Link.Expect({0x21}, std::nullopt, Ok());
    Link.Expect({0x22}, std::nullopt, Bytes({7}));
    EXPECT_EQ(Device.SetDateTime(*TryEncodeDateTime({2026, 1, 2, 3, 4, 5})), 7);
}

TEST_F(DeviceTest, SetDateTimeRefusesAYearTheByteCannotHold) {
    EXPECT_EQ(Device.SetDateTime(*TryEncodeDateTime({1999, 1, 2, 3, 4, 5})), errInvalidParameter);
    EXPECT_EQ(Device.SetDateTime(*TryEncodeDateTime({2256, 1, 2, 3, 4, 5})), errInvalidParameter);
    EXPECT_TRUE(Link.Sent.empty());
}

// ---------------------------------------------------------------------------------------------
// Shift

TEST_F(DeviceTest, SessionParamsAreReadAfterPrintingEnds) {
    Link.ExpectIdle();
    Link.Expect({0xFF, 0x40}, TBytes{}, Bytes({0, 1, 0x34, 0x12, 0x05, 0x00}));
    std::uint8_t state = 9;
    std::int64_t session = -1, receipt = -1;
    EXPECT_EQ(Device.GetCurrentSessionParams(state, session, receipt), 0);
    EXPECT_EQ(state, 1);
    EXPECT_EQ(session, 0x1234);
    EXPECT_EQ(receipt, 5);
}

TEST_F(DeviceTest, ShortSessionParamsLeaveOuts) {
    Link.ExpectIdle();
    Link.Expect({0xFF, 0x40}, TBytes{}, Bytes({0, 1, 2, 3, 4}));
    std::uint8_t state = 9;
    std::int64_t session = -1, receipt = -1;
    EXPECT_EQ(Device.GetCurrentSessionParams(state, session, receipt), 0);
    EXPECT_EQ(state, 9);
    EXPECT_EQ(session, -1);
    EXPECT_EQ(receipt, -1);
}

TEST_F(DeviceTest, IsDayOpenedReportsShiftState) {
    struct Case {
        const char* Name;
        std::uint8_t FNState;
        std::uint8_t Mode;
        std::uint8_t Expected;
    } cases[] = {
        {"closed", 0, 4, 0},
        {"open", 1, 2, 1},
        {"open and expired", 1, 3, 2},
        {"unknown state leaves the value", 7, 2, 42},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Link.ExpectIdle();
        Link.Expect({0xFF, 0x40}, TBytes{}, Bytes({0, c.FNState, 1, 0, 1, 0}));
        Link.Expect({0x11}, TBytes{}, Answer(47, {{14, c.Mode}}));
        std::uint8_t state = 42;
        EXPECT_EQ(Device.IsDayOpened(state), 0);
        EXPECT_EQ(state, c.Expected);
    }
}

TEST_F(DeviceTest, IsDayOpenedStopsAtAFailure) {
    Link.ExpectIdle();
    Link.Expect({0xFF, 0x40}, TBytes{}, Bytes({0, 1, 1, 0, 1, 0}));
    Link.Expect({0x11}, TBytes{}, Answer(20));
    std::uint8_t state = 42;
    EXPECT_EQ(Device.IsDayOpened(state), errProtocol);
    EXPECT_EQ(state, 42);
}

TEST_F(DeviceTest, RefusedCashierINNIsReportedAsIncorrectINN) {
    Link.Expect({0xFF, 0x41}, TBytes{}, Ok());
    Link.Expect({0xFF, 0x0C}, std::nullopt, Ok());
    Link.Expect({0xFF, 0x0C}, std::nullopt, Bytes({0x33}));
    EXPECT_EQ(Device.OpenDay(BytesOf("K"), BytesOf("12")), kResultIncorrectINN);  // and no 0xE0

    Link.Expect({0xFF, 0x37}, TBytes{}, Ok());
    Link.Expect({0xFF, 0x0C}, std::nullopt, Ok());
    Link.Expect({0xFF, 0x0C}, std::nullopt, Bytes({0x33}));
    EXPECT_EQ(Device.CalculationStateReport(BytesOf("K"), BytesOf("12")), kResultIncorrectINN);
}

TEST_F(DeviceTest, RefusedCashierNameEndsTheOperationWithTheRegisterCode) {
    Link.Expect({0xFF, 0x42}, TBytes{}, Ok());
    Link.Expect({0xFF, 0x0C}, std::nullopt, Bytes({0x10}));
    EXPECT_EQ(Device.ZReport(BytesOf("K"), BytesOf("12")), 0x10);
    Link.Expect({0xFF, 0x41}, TBytes{}, Bytes({0x16}));
    EXPECT_EQ(Device.OpenDay(BytesOf("K"), {}), 0x16);
}

TEST_F(DeviceTest, SettlementReportCountsPrintingPreviousAsSuccess) {
    Link.ExpectIdle();
    Link.Expect({0xFF, 0x38}, TBytes{}, Bytes({80}));
    EXPECT_EQ(Device.CalculationStateReport({}, {}), 0);
    Link.ExpectIdle();
    Link.Expect({0xFF, 0x38}, TBytes{}, Bytes({81}));
    EXPECT_EQ(Device.CalculationStateReport({}, {}), 81);
}

TEST_F(DeviceTest, EncashOfZeroSendsNothing) {
    EXPECT_EQ(Device.Encash(0), 0);
    EXPECT_TRUE(Link.Sent.empty());
}

TEST_F(DeviceTest, EncashThatDoesNotFitIsRefusedBeforeSending) {
    EXPECT_EQ(Device.Encash(std::int64_t{1} << 40 << 7), errInvalidParameter);
    EXPECT_EQ(Device.Encash(std::numeric_limits<TCurrencyValue>::min()), errInvalidParameter);
    EXPECT_EQ(Device.Encash(-(std::int64_t{1} << 40) * 100), errInvalidParameter);
    EXPECT_TRUE(Link.Sent.empty());
}

TEST_F(DeviceTest, OperationRegisterIsReadFromAnswerBytesThreeAndFour) {
    Link.Expect({0x1B}, Bytes({144}), Bytes({0, 144, 0, 0x34, 0x12}));
    TBytes raw;
    EXPECT_EQ(Device.GetOperationReg(144, raw), 0);
    EXPECT_EQ(raw, Bytes({0x34, 0x12}));

    Link.Expect({0x1B}, Bytes({145}), Bytes({0, 145, 0, 0x34, 0x12}));
    std::int32_t value = 0;
    EXPECT_EQ(Device.GetOperationRegAsInt(145, value), 0);
    EXPECT_EQ(value, 0x1234);

    Link.Expect({0x1B}, Bytes({146}), Bytes({0, 146, 0, 0x34}));
    raw = BytesOf("x");
    value = 7;
    EXPECT_EQ(Device.GetOperationReg(146, raw), 0);
    EXPECT_TRUE(raw.empty());
    Link.Expect({0x1B}, Bytes({146}), Bytes({0, 146, 0, 0x34}));
    EXPECT_EQ(Device.GetOperationRegAsInt(146, value), 0);
    EXPECT_EQ(value, 7);
}

// ---------------------------------------------------------------------------------------------
// Waiting for the end of printing

TEST_F(DeviceTest, WaitForEndPrintingReturnsAtOnceBelowSubmodeFour) {
    for (std::uint8_t submode : {0, 1, 2, 3}) {
        SCOPED_TRACE(int(submode));
        Link.ExpectState(0, submode);
        EXPECT_EQ(Device.WaitForEndPrinting(), 0);
    }
    EXPECT_TRUE(Clock.Sleeps.empty());
}

TEST_F(DeviceTest, WaitForEndPrintingPollsEveryTwoHundredMilliseconds) {
    Link.ExpectState(0, 5);
    Link.ExpectState(0, 4);
    Link.ExpectState(0, 0);
    EXPECT_EQ(Device.WaitForEndPrinting(), 0);
    EXPECT_EQ(Clock.Sleeps, (std::vector<std::chrono::milliseconds>{kPrintPollInterval, kPrintPollInterval}));
    EXPECT_EQ(kPrintPollInterval, std::chrono::milliseconds(200));
}

TEST_F(DeviceTest, WaitForEndPrintingEndsWithAStateFailure) {
    Link.ExpectState(0, 5);
    Link.ExpectLinkFailure({0x10}, 1007);
    EXPECT_EQ(Device.WaitForEndPrinting(), 1007);
}

TEST_F(DeviceTest, WaitForEndPrintingGivesUpAsBusyAfterItsLimit) {
    const int polls = static_cast<int>(kPrintWaitLimit / kPrintPollInterval) + 1;
    for (int i = 0; i < polls; ++i) Link.ExpectState(0, 5);
    EXPECT_EQ(Device.WaitForEndPrinting(), kResultDeviceBusy);
    EXPECT_EQ(Clock.Sleeps.size(), static_cast<std::size_t>(polls - 1));
}

}  // namespace
}  // namespace fr::test
