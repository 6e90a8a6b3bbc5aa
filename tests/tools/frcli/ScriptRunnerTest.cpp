// frcli's script interface: arguments, output lines, refused scripts, and the tool run as a
// separate process.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <sstream>

#include "ScriptRunner.h"
#include "platform/System.h"
#include "platform/TempDir.h"

namespace frcli {
namespace {

using nlohmann::json;
using fr::test::TTempAppData;
using fr::test::TTempDir;

// ---- arguments ----

struct TArgCase {
    const char* Name;
    const char* Json;
    fr::TVariant Value;
};

class ScriptArguments : public ::testing::TestWithParam<TArgCase> {};

TEST_P(ScriptArguments, BecomeHostValues) { EXPECT_EQ(JsonToVariant(json::parse(GetParam().Json)), GetParam().Value); }

INSTANTIATE_TEST_SUITE_P(
    Kinds, ScriptArguments,
    ::testing::Values(TArgCase{"Null", "null", fr::TVariant()}, TArgCase{"True", "true", fr::TVariant(true)},
                      TArgCase{"Integer", "-7", fr::TVariant(std::int32_t{-7})},
                      TArgCase{"LargestInteger", "2147483647", fr::TVariant(std::int32_t{2147483647})},
                      TArgCase{"SmallestInteger", "-2147483648", fr::TVariant(std::int32_t{-2147483647 - 1})},
                      TArgCase{"PastInteger", "2147483648", fr::TVariant(2147483648.0)},
                      TArgCase{"BelowInteger", "-2147483649", fr::TVariant(-2147483649.0)},
                      TArgCase{"Fraction", "12.5", fr::TVariant(12.5)},
                      TArgCase{"WholeDouble", "3.0", fr::TVariant(3.0)},
                      TArgCase{"String", "\"Чек\"", fr::TVariant(u"Чек")}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(ScriptArgumentFile, IsTheFileText) {
    TTempDir dir;
    fr::test::WriteFile(dir.Path() + "doc.xml", "<Документ/>\r\n");
    EXPECT_EQ(JsonToVariant(json{{"file", dir.Path() + "doc.xml"}}), fr::TVariant(u"<Документ/>\r\n"));
    EXPECT_THROW(JsonToVariant(json{{"file", dir.Path() + "missing.xml"}}), EScriptError);
}

TEST(ScriptParsing, RefusesScriptsOfTheWrongForm) {
    const char* const scripts[] = {
        R"({"call": "GetVersion"})",
        R"([1])",
        R"([{"args": []}])",
        R"([{"call": 5}])",
        R"([{"call": "GetVersion", "args": 5}])",
        R"([{"call": "GetVersion", "args": [[1]]}])",
        R"([{"call": "GetVersion", "args": [{"path": "x"}]}])",
        R"([{"call": "GetVersion", "arg": []}])",
        R"([{"property": "X", "value": [1]}])",
    };
    for (const char* s : scripts) {
        SCOPED_TRACE(s);
        EXPECT_THROW(ParseScript(json::parse(s)), EScriptError);
    }
    std::istringstream notJson("[{");
    EXPECT_THROW(LoadScript("-", notJson), EScriptError);
    std::istringstream empty("[]");
    EXPECT_TRUE(LoadScript("-", empty).empty());
}

// ---- running ----

// A session that records the order of its calls around a direct one.
class TRecordingSession : public TDirectSession {
public:
    std::vector<std::string> Events;
    void Init() override {
        Events.push_back("Init");
        TDirectSession::Init();
    }
    void Done() override {
        Events.push_back("Done");
        TDirectSession::Done();
    }
    fr::HRESULT CallAsFunc(std::int32_t AMethodNum, fr::TVariant& ARet, fr::TParams& AParams) override {
        Events.push_back("Call");
        return TDirectSession::CallAsFunc(AMethodNum, ARet, AParams);
    }
};

std::vector<std::string> Lines(const std::string& AText) {
    std::vector<std::string> lines;
    std::istringstream in(AText);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

TEST(ScriptRunner, InitsOnceRunsEveryStepInOrderAndEndsWithDone) {
    TTempAppData data;
    TRecordingSession session;
    std::istringstream script(R"([{"call": "GetLineLength", "args": [null, null]},
                                  {"property": "QRSize", "value": 4},
                                  {"call": "nosuch", "args": ["a"]}])");
    std::ostringstream out, err;
    EXPECT_EQ(RunScript(session, LoadScript("-", script), out, err), 0);
    EXPECT_EQ(session.Events, (std::vector<std::string>{"Init", "Call", "Call", "Done"}));
    EXPECT_EQ(Lines(out.str()),
              (std::vector<std::string>{
                  // The driver's line length needs the register: before Open it answers 1005.
                  R"({"call":"GetLineLength","found":true,"hresult":0,"return":false,"args":[null,null],"code":1005,"description":"Устройство не найдено или не проинициализировано"})",
                  R"({"property":"QRSize","found":true,"value":4})",
                  R"({"call":"nosuch","found":false,"hresult":1,"return":null,"args":["a"],"code":1005,"description":"Устройство не найдено или не проинициализировано"})"}));
    EXPECT_EQ(err.str(), "");
}

// ---- the tool as a process ----

struct TProcessResult {
    int Status = -1;
    std::string Out;
};

TProcessResult RunFrcli(const std::string& AArgs) {
    TProcessResult r;
    const std::string command = std::string(FRCLI_PATH) + " " + AArgs + " 2>/dev/null";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return r;
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) r.Out.append(buf, n);
    const int status = ::pclose(pipe);
    r.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

class FrcliProcess : public ::testing::Test {
protected:
    TTempAppData Data;  // the child inherits FR_APPDATA_DIR

    std::string Script(const std::string& AText) {
        const std::string path = Data.Path() + "script.json";
        fr::test::WriteFile(path, AText);
        return path;
    }
};

TEST_F(FrcliProcess, ScriptGivesOneJsonLinePerStep) {
    fr::test::WriteFile(Data.Path() + "cashier.xml",
                        R"(<InputParameters><Parameters CashierName="Кассир"/></InputParameters>)");
    const std::string path = Script(R"([
        {"call": "ПолучитьОписание", "args": [null, null, null, null, null, null, null]},
        {"call": "processcheck", "args": ["", true, "<CheckPackage>", null, null, null, null]},
        {"call": "OpenShift", "args": ["", {"file": ")" + Data.Path() + R"(cashier.xml"}, null, null, null]},
        {"call": "GetLastError", "args": [null]},
        {"property": "CutString", "value": "a\nb"},
        {"property": "NoSuchSetting"}
    ])");
    const TProcessResult r = RunFrcli("script " + path);
    EXPECT_EQ(r.Status, 0);
    const auto lines = Lines(r.Out);
    ASSERT_EQ(lines.size(), 6u) << r.Out;
    const json description = json::parse(lines[0]);
    EXPECT_EQ(description["return"], true);
    EXPECT_EQ(description["args"][2], "ККТ");
    EXPECT_EQ(description["args"][3], 2005);
    EXPECT_EQ(description["args"][4], false);
    EXPECT_EQ(lines[1],
              R"({"call":"processcheck","found":true,"hresult":0,"return":false,"args":["",true,"<CheckPackage>",null,null,null,null],"code":1001,"description":"XML parse error: Start-end tags mismatch at offset 13"})");
    EXPECT_EQ(json::parse(lines[2])["code"], 1004);
    EXPECT_EQ(lines[3],
              R"({"call":"GetLastError","found":true,"hresult":0,"return":1004,"args":["Ошибка входных параметров команды"],"code":1004,"description":"Ошибка входных параметров команды"})");
    EXPECT_EQ(lines[4], R"({"property":"CutString","found":true,"value":"a\nb"})");
    EXPECT_EQ(lines[5], R"({"property":"NoSuchSetting","found":false,"value":null})");
}

TEST_F(FrcliProcess, SevenSevenHostSeesItsMethodsAndIntegerReturns) {
    const std::string path = Script(R"([{"call": "SetDeviceID", "args": ["kkt1"]},
                                        {"call": "GetLineLength", "args": [null, null]}])");
    const TProcessResult r = RunFrcli("--host-exe 1cv7.exe script " + path);
    EXPECT_EQ(r.Status, 0);
    const auto lines = Lines(r.Out);
    ASSERT_EQ(lines.size(), 2u) << r.Out;
    EXPECT_EQ(json::parse(lines[0])["found"], true);
    EXPECT_EQ(lines[1],
              R"({"call":"GetLineLength","found":true,"hresult":0,"return":0,"args":[null,null],"code":1005,"description":"Устройство не найдено или не проинициализировано"})");
    EXPECT_EQ(json::parse(Lines(RunFrcli("script " + path).Out)[0])["found"], false);
}

TEST_F(FrcliProcess, UnreadableScriptsExitWithTwoAndRunNothing) {
    EXPECT_EQ(RunFrcli("script " + Data.Path() + "missing.json").Status, 2);
    const TProcessResult bad = RunFrcli("script " + Script(R"([{"call": "GetVersion"}, {"oops": 1}])"));
    EXPECT_EQ(bad.Status, 2);
    EXPECT_EQ(bad.Out, "");
    EXPECT_EQ(RunFrcli("script " + Script("not json")).Status, 2);
}

}  // namespace
}  // namespace frcli
