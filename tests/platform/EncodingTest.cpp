#include <gtest/gtest.h>

#include "platform/Encoding.h"

namespace fr {
namespace {

struct SingleByteCase {
    const char* Name;
    const char* Utf8;
    TBytes Cp1251;
    TBytes Cp866;
};

class SingleByteTest : public ::testing::TestWithParam<SingleByteCase> {};

TEST_P(SingleByteTest, ConvertsBothWays) {
    const auto& c = GetParam();
    EXPECT_EQ(Utf8ToSingleByte(c.Utf8, CodePage::Cp1251), c.Cp1251);
    EXPECT_EQ(Utf8ToSingleByte(c.Utf8, CodePage::Cp866), c.Cp866);
    EXPECT_EQ(Cp1251ToCp866(c.Cp1251), c.Cp866);
    EXPECT_EQ(Cp866ToCp1251(c.Cp866), c.Cp1251);
    EXPECT_EQ(SingleByteToUtf8(c.Cp1251, CodePage::Cp1251), c.Utf8);
    EXPECT_EQ(SingleByteToUtf8(c.Cp866, CodePage::Cp866), c.Utf8);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SingleByteTest,
    ::testing::Values(SingleByteCase{"Ascii", "A1 z", {0x41, 0x31, 0x20, 0x7A}, {0x41, 0x31, 0x20, 0x7A}},
                      SingleByteCase{"Cyrillic", "АЯая", {0xC0, 0xDF, 0xE0, 0xFF}, {0x80, 0x9F, 0xA0, 0xEF}},
                      SingleByteCase{"Yo", "Ёё", {0xA8, 0xB8}, {0xF0, 0xF1}},
                      SingleByteCase{"Numero", "№", {0xB9}, {0xFC}}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(EncodingTest, CharacterWithoutSingleByteFormBecomesQuestionMark) {
    EXPECT_EQ(Utf8ToSingleByte("a€b", CodePage::Cp866), (TBytes{'a', '?', 'b'}));
    EXPECT_EQ(Utf8ToSingleByte("\xF0\x9F\x98\x80"), (TBytes{'?'}));
}

TEST(EncodingTest, Utf16RoundTripKeepsSurrogatePairs) {
    const std::string text = "Чек \xF0\x9F\x98\x80 ok";
    const std::u16string wide = Utf8ToUtf16(text);
    EXPECT_EQ(wide.size(), 9u);
    EXPECT_EQ(Utf16ToUtf8(wide), text);
}

TEST(EncodingTest, MalformedUtf8NeverReadsPastTheEnd) {
    EXPECT_EQ(Utf8ToUtf16("\xD0"), u"\uFFFD");
    EXPECT_EQ(Utf8ToUtf16("a\xE0\x80"), u"a\uFFFD\uFFFD");
    EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
}

}  // namespace
}  // namespace fr
