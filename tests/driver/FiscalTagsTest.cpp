#include <gtest/gtest.h>

#include <set>

#include "device/Device.h"
#include "driver/FiscalTags.h"
#include "platform/Encoding.h"

namespace fr {
namespace {

TEST(FiscalTagTable, Holds137DistinctTagsInAscendingOrder) {
    const auto& tags = FiscalTags();
    EXPECT_EQ(tags.size(), 137u);
    for (std::size_t i = 1; i < tags.size(); ++i) EXPECT_LT(tags[i - 1].Tag, tags[i].Tag) << tags[i].Tag;
}

TEST(FiscalTagTable, TypesOfTheTagsTheRegistrationDataReads) {
    const std::pair<std::int32_t, TFFD> rows[] = {
        {1000, ffdString}, {1013, ffdString},   {1037, ffdString},  {1041, ffdString}, {1048, ffdString},
        {1057, ffdRegister}, {1012, ffdUnixTime}, {1040, ffdUInt32}, {1062, ffdByte},   {1209, ffdByte},
        {1189, ffdByte},   {1077, ffdBytes},    {1162, ffdBytes},   {1020, ffdVLN},    {1107, ffdVLN},
        {1224, ffdVLN},    {1023, ffdFVLN},     {1059, ffdSTLV},    {1129, ffdSTLV},   {1194, ffdSTLV},
    };
    for (const auto& [tag, type] : rows) {
        SCOPED_TRACE(tag);
        const TFiscalTag* entry = FindFiscalTag(tag);
        ASSERT_NE(entry, nullptr);
        EXPECT_EQ(entry->Type, type);
        EXPECT_NE(std::string(entry->Caption), "");
    }
    for (std::int32_t unknown : {0, 999, 1003, 1137, 1227, 65535}) EXPECT_EQ(FindFiscalTag(unknown), nullptr) << unknown;
}

struct TextFormCase {
    const char* Name;
    TFFD Type;
    TBytes Value;
    std::string Text;
};

class FiscalValueTextTest : public ::testing::TestWithParam<TextFormCase> {};

TEST_P(FiscalValueTextTest, RendersTheValue) {
    EXPECT_EQ(FiscalValueText(GetParam().Type, GetParam().Value), GetParam().Text);
}

INSTANTIATE_TEST_SUITE_P(
    AllTypes, FiscalValueTextTest,
    ::testing::Values(
        TextFormCase{"OemText", ffdString, Utf8ToSingleByte("ООО Ёлка", CodePage::Cp866), "ООО Ёлка"},
        TextFormCase{"EmptyText", ffdString, {}, ""},
        TextFormCase{"RawBytesAsOemText", ffdRegister, Utf8ToSingleByte("Ж1", CodePage::Cp866), "Ж1"},
        TextFormCase{"UnixTime", ffdUnixTime, IntToLEBytes(4, 1798761598), "31.12.2026 23:59:58"},
        TextFormCase{"UnixTimeEpoch", ffdUnixTime, IntToLEBytes(4, 0), "01.01.1970 00:00:00"},
        TextFormCase{"UnixTimeReadsFourBytesOnly", ffdUnixTime, {0x00, 0x00, 0x00, 0x00, 0xFF}, "01.01.1970 00:00:00"},
        TextFormCase{"UInt32", ffdUInt32, IntToLEBytes(4, 4294967295u), "4294967295"},
        TextFormCase{"UInt32Short", ffdUInt32, {0x2A}, "42"},
        TextFormCase{"Byte", ffdByte, {0x05, 0x07}, "5"},
        TextFormCase{"EmptyByte", ffdByte, {}, ""},
        TextFormCase{"FiscalSignBigEndianFromThirdByte", ffdBytes, {0x31, 0x04, 0xDE, 0xAD, 0xBE, 0xEF}, "3735928559"},
        TextFormCase{"MoneyWhole", ffdVLN, {0x10, 0x27}, "100"},
        TextFormCase{"MoneyKopecks", ffdVLN, {0x96}, "1.5"},
        TextFormCase{"MoneyTwoDecimals", ffdVLN, IntToLEBytes(5, 1234567), "12345.67"},
        TextFormCase{"FloatingPoint", ffdFVLN, {0x03, 0xE8, 0x03}, "1"},
        TextFormCase{"FloatingPointFraction", ffdFVLN, {0x02, 0x7B}, "1.23"},
        TextFormCase{"StructureHasNoText", ffdSTLV, {0x01, 0x02}, ""}),
    [](const ::testing::TestParamInfo<TextFormCase>& info) { return std::string(info.param.Name); });

TBytes Block(std::int32_t ATag, const TBytes& AValue) { return SetTLV(ATag, AValue); }
TBytes Concat(std::initializer_list<TBytes> AParts) {
    TBytes all;
    for (const TBytes& p : AParts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

TEST(FiscalBlockDecoding, StructuresAreDecodedRecursivelyAndUnknownTagsSkipped) {
    const TBytes inner = Concat({Block(1030, Utf8ToSingleByte("Хлеб", CodePage::Cp866)), Block(9999, {1, 2}),
                                 Block(1084, Concat({Block(1085, BytesOf("k")), Block(1086, BytesOf("v"))})),
                                 Block(1043, {0xE8, 0x03})});
    TDocElementList list;
    DecodeFiscalBlocks(Concat({Block(1059, inner), Block(1040, {7}), Block(3000, {1})}), list);
    std::vector<std::pair<std::int32_t, std::string>> got;
    for (const auto& e : list) got.emplace_back(e->Tag, e->Value);
    EXPECT_EQ(got, (std::vector<std::pair<std::int32_t, std::string>>{
                       {1030, "Хлеб"}, {1085, "k"}, {1086, "v"}, {1043, "10"}, {1040, "7"}}));
    EXPECT_EQ(list[4]->TLV, TBytes{7});
    EXPECT_EQ(list[4]->DataType, ffdUInt32);
}

TEST(FiscalBlockDecoding, ALengthBeyondTheDataIsCutToWhatArrived) {
    TDocElementList list;
    EXPECT_EQ(DecodeFiscalBlock({0x18, 0x04, 0x10, 0x00, 'a', 'b'}, 0, list), 6u);  // 1048, says 16 bytes
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0]->Value, "ab");
    EXPECT_EQ(DecodeFiscalBlock({0x18, 0x04, 0x00}, 0, list), 0u);
}

TEST(FiscalBlockDecoding, DeeplyNestedStructuresStopWithoutExhaustingTheStack) {
    TBytes data = Block(1040, {1});
    for (int i = 0; i < 5000 && data.size() < 60000; ++i) data = Block(1059, data);
    TDocElementList list;
    DecodeFiscalBlocks(data, list);
    EXPECT_TRUE(list.empty());
}

TEST(FFDVersions, FromTags1209And1189) {
    struct Row {
        const char *T1209, *T1189, *FN, *KKT;
    };
    const Row rows[] = {{"", "", "1.0", "1.0"},      {"", "2", "1.0", "1.0"},   {"2", "2", "1.0", "1.0.5"},
                        {"2", "3", "1.0", "1.1"},    {"2", "", "1.0", "1.1"},   {"3", "2", "1.1", "1.1"},
                        {"4", "", "1.1", "1.0.5"},   {"1", "1", "1.1", "1.0.5"}};
    for (const Row& r : rows) {
        SCOPED_TRACE(std::string(r.T1209) + "/" + r.T1189);
        const TFFDVersions v = FFDVersionsFromTags(r.T1209, r.T1189);
        EXPECT_EQ(v.FN, r.FN);
        EXPECT_EQ(v.KKT, r.KKT);
    }
}

TEST(BitLists, SetBitsLowestFirstUpToTheHighestBit) {
    EXPECT_EQ(BitListText(0x05, 5), "0,2");
    EXPECT_EQ(BitListText(0x00, 5), "");
    EXPECT_EQ(BitListText(0xFF, 5), "0,1,2,3,4,5");
    EXPECT_EQ(BitListText(0xFF, 6), "0,1,2,3,4,5,6");
    EXPECT_EQ(BitListText(0x40, 5), "");
}

TEST(TextToInteger, AcceptsOnlyWholeNumbers) {
    EXPECT_EQ(TextToIntDef(" 12 "), 12);
    EXPECT_EQ(TextToIntDef("-3"), -3);
    EXPECT_EQ(TextToIntDef("1a"), 0);
    EXPECT_EQ(TextToIntDef(""), 0);
    EXPECT_EQ(TextToIntDef("x", 7), 7);
}

TEST(DateTexts, ShortAndIsoForms) {
    const TDateTime t = *TryEncodeDateTime({2026, 3, 4, 5, 6, 7});
    EXPECT_EQ(DateTimeText(t), "04.03.2026 05:06:07");
    EXPECT_EQ(IsoDateTimeText(t), "2026-03-04T05:06:07.000Z");
}

}  // namespace
}  // namespace fr
