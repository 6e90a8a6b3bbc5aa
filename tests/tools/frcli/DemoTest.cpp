#include <gtest/gtest.h>

#include <sstream>

#include "Demo.h"
#include "HostSession.h"
#include "platform/TempDir.h"

namespace frcli {
namespace {

TEST(Demo, RunsTheWholeDayInOrderAndEndsWithTheTape) {
    fr::test::TTempAppData data;
    TDirectSession session;
    std::ostringstream out, err;
    ASSERT_EQ(RunDemo(session, out, err), 0) << err.str();
    const std::string text = out.str();
    std::size_t at = 0;
    for (const char* step : {"] GetDescription", "] Open\n", "] GetDataKKT", "] OpenShift", "] ProcessCheck",
                             "] ProcessCheck", "] PrintTextDocument", "] CashInOutcome", "] PrintXReport",
                             "] CloseShift", "] GetDataKKT", "] Close\n", "Paper tape:"}) {
        const std::size_t found = text.find(step, at);
        ASSERT_NE(found, std::string::npos) << step << " after offset " << at << "\n" << text;
        at = found + 1;
    }
    EXPECT_NE(text.find("return: "), std::string::npos);
    EXPECT_NE(text.find("code: "), std::string::npos);
}

}  // namespace
}  // namespace frcli
