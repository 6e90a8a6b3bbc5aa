#include <gtest/gtest.h>

#include "platform/TextCase.h"

namespace fr {
namespace {

struct SameTextCase {
    const char* A;
    const char* B;
    bool Same;
};

TEST(TextCaseTest, FoldsLatinAndCyrillicWithoutTheLocale) {
    const SameTextCase cases[] = {
        {"GetVersion", "getversion", true},
        {"GetVersion", "GETVERSION", true},
        {"ПолучитьНомерВерсии", "получитьномерверсии", true},
        {"ПолучитьНомерВерсии", "ПОЛУЧИТЬНОМЕРВЕРСИИ", true},
        {"ЁЖ", "ёж", true},
        {"Ё", "Е", false},
        {"ЀЂЏ", "ѐђџ", true},
        {"ÀÉÞ", "àéþ", true},
        {"×", "÷", false},
        {"Порт", "Порты", false},
        {"", "", true},
        {"A", "", false},
        {"[cut]", "[CUT]", true},
        {"@", "`", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.A) + " / " + c.B);
        EXPECT_EQ(SameText(std::string_view(c.A), std::string_view(c.B)), c.Same);
    }
}

TEST(TextCaseTest, UpperCaseAsciiLeavesOtherBytesAlone) {
    EXPECT_EQ(UpperCaseAscii("1cv8c.exe"), "1CV8C.EXE");
    EXPECT_EQ(UpperCaseAscii("ая"), "ая");
}

}  // namespace
}  // namespace fr
