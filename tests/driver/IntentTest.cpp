// The intent record: its file text both ways, damaged files refused, and which stored document
// counts as the one an intent was about.

#include <gtest/gtest.h>

#include <string>

#include "driver/Intents.h"

namespace fr::test {
namespace {

TIntent SaleIntent() {
    TIntent i;
    i.Id = "0123456789abcdef";
    i.Operation = "ProcessCheck";
    i.Register = "tcp_127.0.0.1_7778";
    i.Reference = "job\nwith=odd;chars\\";
    i.Time = 1765300000;
    i.NumberBefore = 41;
    i.DocumentType = 3;
    i.SettlementSign = 1;
    i.Total = 15000;
    i.Positions = {{"Кофе; латте=большой", 1000000, 10000}, {"Ёжик", 2500000, 5000}};
    i.Fingerprint = "00ff00ff00ff00ff";
    i.State = TIntent::TState::Registered;
    i.Number = 42;
    i.FiscalSign = "3735928559";
    i.Told = true;
    return i;
}

TEST(IntentText, ReadsBackWhatItWrote) {
    const TIntent i = SaleIntent();
    const auto back = ParseIntent(IntentText(i));
    ASSERT_TRUE(back);
    EXPECT_EQ(IntentText(*back), IntentText(i));
    EXPECT_EQ(back->Reference, i.Reference);
    EXPECT_EQ(back->Positions, i.Positions);
    EXPECT_TRUE(back->Told);
}

TEST(IntentText, DamagedOrForeignTextIsNoIntent) {
    const std::string good = IntentText(SaleIntent());
    const auto without = [&](const std::string& ALine) {
        std::string t = good;
        t.erase(t.find(ALine), ALine.size() + 1);
        return t;
    };
    const std::string cases[] = {
        "",
        "operation=ProcessCheck\nstate=pending\nbefore=1\ntype=3\n",  // no header
        without("fr-intent 1"),
        without("state=registered"),
        without("before=41"),
        without("operation=ProcessCheck"),
        good + "state=maybe\n",
        good + "position=1;x;name\n",
        "fr-intent 1\noperation=CashInOutcome\nstate=pending\ntype=0\n",  // cash without its cash before
    };
    for (const std::string& text : cases) EXPECT_FALSE(ParseIntent(text)) << text;
    // Windows line ends and unknown keys are tolerated.
    std::string crlf;
    for (char c : good + "future=1\n") crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    EXPECT_TRUE(ParseIntent(crlf));
}

TEST(IntentMatch, OnlyTheDocumentOfTheIntentMatches) {
    const TIntent sale = SaleIntent();
    TStoredDocument same;
    same.Type = 3;
    same.SettlementSign = 1;
    same.Total = 15000;
    same.Positions = sale.Positions;
    struct TCase {
        const char* Name;
        void (*Change)(TStoredDocument&);
        bool Matches;
    };
    const TCase cases[] = {
        {"same", [](TStoredDocument&) {}, true},
        {"another type", [](TStoredDocument& d) { d.Type = 31; }, false},
        {"a return", [](TStoredDocument& d) { d.SettlementSign = 2; }, false},
        {"another total", [](TStoredDocument& d) { d.Total = 15001; }, false},
        {"a position more", [](TStoredDocument& d) { d.Positions.push_back({"x", 1000000, 0}); }, false},
        {"another quantity", [](TStoredDocument& d) { d.Positions[1].Quantity = 2000000; }, false},
        {"another sum", [](TStoredDocument& d) { d.Positions[0].Sum = 9999; }, false},
        {"another name", [](TStoredDocument& d) { d.Positions[0].Name = "Чай; латте=большой"; }, false},
        {"a name the register cut", [](TStoredDocument& d) { d.Positions[0].Name = "Кофе; лат"; }, true},
        {"positions swapped", [](TStoredDocument& d) { std::swap(d.Positions[0], d.Positions[1]); }, false},
    };
    for (const TCase& c : cases) {
        TStoredDocument d = same;
        c.Change(d);
        EXPECT_EQ(MatchesIntent(sale, d), c.Matches) << c.Name;
    }
    // A report is known by its type alone.
    TIntent report;
    report.DocumentType = 5;
    TStoredDocument z;
    z.Type = 5;
    EXPECT_TRUE(MatchesIntent(report, z));
    z.Type = 2;
    EXPECT_FALSE(MatchesIntent(report, z));
}

TEST(IntentFingerprint, FieldsAreKeptApart) {
    EXPECT_NE(TFingerprint().Add("ab").Add("c").Text(), TFingerprint().Add("a").Add("bc").Text());
    EXPECT_EQ(TFingerprint().Add("a").Add(std::int64_t{7}).Text(), TFingerprint().Add("a").Add("7").Text());
    // Stable across builds: files written by one version are read by the next.
    EXPECT_EQ(TFingerprint().Add("ProcessCheck").Text(), "5c63a33dd66ef72f");
}

}  // namespace
}  // namespace fr::test
