// State saved to and loaded from JSON, the text control interface and the fault syntax.

#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include <nlohmann/json.hpp>

#include "FrameClient.h"
#include "core/Simulator.h"
#include "platform/Errors.h"

using namespace frtest;
using fr::sim::TFault;
using fr::sim::TFaultKind;
using fr::sim::TSimulator;

namespace {

class TempDir {
public:
    TempDir() {
        char t[] = "/tmp/frsim-state-XXXXXX";
        if (!::mkdtemp(t)) throw std::runtime_error("mkdtemp");
        Path = t;
    }
    ~TempDir() { std::filesystem::remove_all(Path); }
    std::string Path;
};

TBytes Exec(TSimulator& sim, std::uint16_t code, const TBytes& data = {}) {
    TBytes a = sim.Execute(Cmd(code, data));
    return TBytes(a.begin() + (code > 0xFF ? 2 : 1), a.end());
}

TEST(StateTest, FiscalDocumentsShiftAndCountersSurviveASaveAndLoad) {
    TempDir dir;
    std::string file = dir.Path + "/state.json";
    TBytes stored;
    {
        TSimulator sim;
        sim.SetFiscal(true);
        sim.OpenShift();
        ASSERT_EQ(Exec(sim, 0x50, {0x10, 0x27, 0, 0, 0}).at(0), 0);
        ASSERT_EQ(Exec(sim, 0x1E, {9, 1, 0, 3, 36}).at(0), 0);
        ASSERT_EQ(Exec(sim, 0x17, {3, 'h', 'i'}).at(0), 0);
        stored = Exec(sim, 0xFF3A, {2, 0, 0, 0});
        while (Exec(sim, 0xFF3B).size() > 1) {
        }
        sim.SaveFile(file);
    }
    TSimulator sim;
    sim.LoadFile(file);
    auto s = sim.Status();
    EXPECT_TRUE(s.Fiscal);
    EXPECT_TRUE(s.ShiftOpen);
    EXPECT_EQ(s.ShiftNumber, 1);
    EXPECT_EQ(s.LastDocument, 2u);
    EXPECT_EQ(s.CashKopecks, 10000);
    EXPECT_EQ(s.LineWidth, 36);
    EXPECT_EQ(Exec(sim, 0xFF3A, {2, 0, 0, 0}), stored);
    EXPECT_EQ(sim.Status().Mode, 1);  // reading the stored document out
    while (Exec(sim, 0xFF3B).size() > 1) {
    }
    EXPECT_EQ(sim.Status().Mode, 2);
    EXPECT_NE(sim.TapeText().find("hi\n"), std::string::npos);
}

TEST(StateTest, MalformedStateIsRefusedAndLeavesTheRegisterAsItWas) {
    TSimulator sim;
    sim.SetFiscal(true);
    auto before = sim.SaveJson();
    struct {
        const char* Name;
        nlohmann::json State;
    } cases[] = {
        {"WrongType", {{"shift", {{"number", "one"}}}}},
        {"BadHex", {{"tables", {{"9.3", "ZZ"}}}}},
        {"UnknownField", {{"tables", {{"9.99", "30"}}}}},
        {"TlvLengthMismatch", {{"fn", {{"documents", {{{"number", 1}, {"type", 1}, {"time", 0}, {"sign", 0}, {"tlv", {"01020300"}}}}}}}}},
        {"TapeKind", {{"tape", {{{"kind", "smoke"}}}}}},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.Name);
        EXPECT_THROW(sim.LoadJson(c.State), fr::EFrError);
        EXPECT_EQ(sim.SaveJson()["fn"], before["fn"]);
    }
    TempDir dir;
    std::ofstream(dir.Path + "/bad.json") << "{ not json";
    EXPECT_THROW(sim.LoadFile(dir.Path + "/bad.json"), fr::EFrError);
    EXPECT_THROW(sim.LoadFile(dir.Path + "/missing.json"), fr::EFrError);
}

TEST(StateTest, ControlInterfaceChangesStateWhileServing) {
    TSimulator sim;
    std::uint16_t port = sim.StartTcp(0);
    TClient c = TClient::Tcp(port);
    struct {
        const char* Line;
        const char* Reply;
    } steps[] = {
        {"clock 2026-03-15T14:30:00", "ok\n"},
        {"clock stop", "ok\n"},
        {"fiscal on", "ok\n"},
        {"shift open", "ok\n"},
        {"clock +90000", "ok\n"},
        {"paper off", "ok\n"},
        {"width 40", "ok\n"},
        {"fault refuse:10=80", "ok\n"},
        {"paper sideways", nullptr},
        {"clock 2026-02-30", nullptr},
        {"fault explode", nullptr},
        {"", ""},
    };
    for (auto& s : steps) {
        SCOPED_TRACE(s.Line);
        std::string reply = sim.Control(s.Line);
        if (s.Reply)
            EXPECT_EQ(reply, s.Reply);
        else
            EXPECT_EQ(reply.rfind("error:", 0), 0u) << reply;
    }
    EXPECT_EQ(c.Run(0x10), TBytes{80});
    TBytes st = c.Run(0x11);
    EXPECT_EQ(st.at(14), 3);  // more than 24 hours since the shift opened
    EXPECT_EQ(TBytes(st.begin() + 24, st.begin() + 30), (TBytes{16, 3, 26, 15, 30, 0}));
    EXPECT_EQ(c.Run(0x10).at(5), 1);  // no paper
    EXPECT_EQ(c.Run(0x1F, {9, 1, 0, 3}), (TBytes{0, 40}));
    EXPECT_NE(sim.Control("status").find("mode 3 submode 1"), std::string::npos);
    EXPECT_NE(sim.Control("help").find("fault FAULT"), std::string::npos);
}

struct TFaultText {
    const char* Text;
    std::optional<TFault> Want;
};

TFault F(TFaultKind k, std::optional<std::uint16_t> cmd, int count, int code = 0, int delay = 0, int rate = 9600, int piece = 1) {
    TFault f;
    f.Kind = k;
    f.Command = cmd;
    f.Count = count;
    f.Code = code;
    f.DelayMs = delay;
    f.BitRate = rate;
    f.PieceSize = piece;
    return f;
}

TEST(FaultSyntaxTest, ParsesKindCommandCountAndArgument) {
    TFaultText cases[] = {
        {"silence", F(TFaultKind::Silence, std::nullopt, 1)},
        {"nak:10x3", F(TFaultKind::Nak, 0x10, 3)},
        {"badcheck:ff45", F(TFaultKind::BadCheck, 0xFF45, 1)},
        {"noack", F(TFaultKind::NoAck, std::nullopt, 1)},
        {"uncollected:e0x0", F(TFaultKind::Uncollected, 0xE0, 0)},
        {"split=1200/4", F(TFaultKind::Split, std::nullopt, 1, 0, 0, 1200, 4)},
        {"split:11", F(TFaultKind::Split, 0x11, 1)},
        {"delay:41=3000", F(TFaultKind::Delay, 0x41, 1, 0, 3000)},
        {"disconnect:ff45x2", F(TFaultKind::Disconnect, 0xFF45, 2)},
        {"refuse:8d=115", F(TFaultKind::Refuse, 0x8D, 1, 115)},
        {"drop:ff45", F(TFaultKind::DropAfterExecute, 0xFF45, 1)},
        {"refuse", std::nullopt},
        {"refuse=0", std::nullopt},
        {"refuse=256", std::nullopt},
        {"delay", std::nullopt},
        {"nak:zz", std::nullopt},
        {"nak:12345", std::nullopt},
        {"nakx-1", std::nullopt},
        {"nak=5", std::nullopt},
        {"split=10", std::nullopt},
        {"", std::nullopt},
        {"boom", std::nullopt},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.Text);
        auto got = TSimulator::ParseFault(c.Text);
        ASSERT_EQ(got.has_value(), c.Want.has_value());
        if (!got) continue;
        EXPECT_EQ(got->Kind, c.Want->Kind);
        EXPECT_EQ(got->Command, c.Want->Command);
        EXPECT_EQ(got->Count, c.Want->Count);
        EXPECT_EQ(got->Code, c.Want->Code);
        EXPECT_EQ(got->DelayMs, c.Want->DelayMs);
        EXPECT_EQ(got->BitRate, c.Want->BitRate);
        EXPECT_EQ(got->PieceSize, c.Want->PieceSize);
    }
}

}  // namespace
