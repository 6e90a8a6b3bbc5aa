// The operation bodies against the register simulator over TCP loopback and a pseudo-terminal.

#include <gtest/gtest.h>

#include <memory>

#include "core/Simulator.h"
#include "device/ComDevice.h"
#include "device/SocketDevice.h"
#include "driver/ReportOperations.h"
#include "platform/TempDir.h"
#include "platform/Xml.h"

namespace fr {
namespace {

using Strings = std::vector<std::string>;

// A real device with print helpers reduced to waiting for the printer and cutting.
class TDeviceContext : public TOperationContext {
public:
    explicit TDeviceContext(std::unique_ptr<TDevice> ADevice) : FDevice(std::move(ADevice)) {}
    TDevice& Device() override { return *FDevice; }
    std::int32_t CheckPrintState() override { return 0; }
    std::int32_t WaitPrintCompletion() override { return FDevice->WaitForEndPrinting(); }
    void CutAfterDocument(bool ANoCut, bool, std::int32_t) override {
        if (!ANoCut) FDevice->Cut(false);
    }
    TDateTime Now() const override { return LocalNow(); }

private:
    std::unique_ptr<TDevice> FDevice;
};

enum class TTransport { Tcp, Pty };

class SimulatorOperationsTest : public ::testing::TestWithParam<TTransport> {
protected:
    void SetUp() override {
        std::unique_ptr<TDevice> device;
        int r = 0;
        if (GetParam() == TTransport::Tcp) {
            const std::uint16_t port = Sim.StartTcp(0);
            device = std::make_unique<TSocketDevice>();
            device->SetConnectPwd(IntToLEBytes(4, 30));
            r = device->Enable("127.0.0.1", port);
        } else {
            Sim.StartPty(kComNumber);
            device = std::make_unique<TComDevice>();
            device->SetConnectPwd(IntToLEBytes(4, 30));
            r = device->Enable(kComNumber, 115200);
        }
        ASSERT_EQ(r, 0);
        Context = std::make_unique<TDeviceContext>(std::move(device));
    }
    void TearDown() override {
        if (Context) Context->Device().Disable();
        Sim.Stop();
    }

    pugi::xml_node ReadDataKKT(pugi::xml_document& ADoc) {
        NewXmlDocument(ADoc);
        TDocElementList list;
        EXPECT_EQ(GetDataKKTBody(*Context, ADoc, list), 0);
        return ADoc.child("Parameters");
    }

    static constexpr int kComNumber = 7;
    test::TTempAppData Data;
    sim::TSimulator Sim;
    std::unique_ptr<TDeviceContext> Context;
};

constexpr const char* kRegistration =
    "<Parameters CashierName=\"Петров\" CashierVATIN=\"500100732259\" KKTNumber=\"0000000001012345\" "
    "OrganizationName=\"ООО Ёлка\" VATIN=\"7700000000\" AddressSettle=\"Москва, ул. Ленина, 1\" "
    "PlaceSettle=\"Магазин\" TaxVariant=\"0,3\" OfflineMode=\"false\" DataEncryption=\"true\" "
    "ServiceSign=\"true\" SignOfAgent=\"1,6\" OFDOrganizationName=\"ОФД-Я\" OFDVATIN=\"7704358518\" "
    "SenderEmail=\"shop@example.ru\" FNSWebSite=\"www.nalog.gov.ru\" SignOfLottery=\"true\"/>";

TEST_P(SimulatorOperationsTest, RegistrationReadsBackFromTheFNReport) {
    pugi::xml_document before;
    EXPECT_STREQ(ReadDataKKT(before).attribute("Fiscal").value(), "false");
    EXPECT_FALSE(ReadDataKKT(before).attribute("VATIN"));

    pugi::xml_document in;
    LoadXmlDocument(in, kRegistration);
    ASSERT_EQ(OperationFNBody(*Context, 1, in), 0);
    EXPECT_TRUE(Sim.Status().Fiscal);

    pugi::xml_document out;
    const pugi::xml_node p = ReadDataKKT(out);
    const std::pair<const char*, const char*> expected[] = {
        {"Fiscal", "true"},
        {"FFDVersionFN", "1.0"},
        {"FFDVersionKKT", "1.0.5"},
        {"KKTNumber", "0000000001012345"},
        {"OrganizationName", "ООО Ёлка"},
        {"AddressSettle", "Москва, ул. Ленина, 1"},
        {"PlaceSettle", "Магазин"},
        {"TaxVariant", "0,3"},
        {"DataEncryption", "true"},
        {"OfflineMode", "false"},
        {"ServiceSign", "true"},
        {"AutomaticMode", "false"},
        {"SignOfAgent", "1,6"},
        {"OFDOrganizationName", "ОФД-Я"},
        {"OFDVATIN", "7704358518"},
        {"FNSWebSite", "www.nalog.gov.ru"},
        {"SenderEmail", "shop@example.ru"},
    };
    for (const auto& [name, value] : expected) EXPECT_STREQ(p.attribute(name).value(), value) << name;
    EXPECT_EQ(TrimText(p.attribute("VATIN").value()), "7700000000");
    EXPECT_EQ(std::string(p.attribute("DocumentNumber").value()), std::to_string(Sim.Status().LastDocument));
    EXPECT_EQ(std::string(p.attribute("DateTime").value()).size(), 19u);

    // A change of parameters: a new report the data is then read from.
    pugi::xml_document change;
    LoadXmlDocument(change, "<Parameters VATIN=\"7700000000\" KKTNumber=\"0000000001012345\" TaxVariant=\"1\" "
                            "OrganizationName=\"ООО Сосна\" ReasonCode=\"4\"/>");
    ASSERT_EQ(OperationFNBody(*Context, 2, change), 0);
    pugi::xml_document again;
    const pugi::xml_node q = ReadDataKKT(again);
    EXPECT_STREQ(q.attribute("OrganizationName").value(), "ООО Сосна");
    EXPECT_STREQ(q.attribute("TaxVariant").value(), "1");
    EXPECT_EQ(std::string(q.attribute("DocumentNumber").value()), std::to_string(Sim.Status().LastDocument));
}

TEST_P(SimulatorOperationsTest, RefusedReportReadOutFallsBackToTheTables) {
    Sim.SetFiscal(true);
    Sim.AddFault({sim::TFaultKind::Refuse, 0xFF3A, 1, 2});
    pugi::xml_document out;
    const pugi::xml_node p = ReadDataKKT(out);
    EXPECT_STREQ(p.attribute("Fiscal").value(), "true");
    EXPECT_STREQ(p.attribute("FFDVersionFN").value(), "");
    EXPECT_STREQ(p.attribute("FFDVersionKKT").value(), "1.0.5");
    EXPECT_STREQ(p.attribute("KKTSerialNumber").value(), "00000000000000012345");
    EXPECT_STREQ(p.attribute("VATIN").value(), "7700000000");
    EXPECT_STREQ(p.attribute("OrganizationName").value(), "ООО \"Ромашка\"");
    EXPECT_STREQ(p.attribute("TaxVariant").value(), "0,1,2,3,4,5");
    EXPECT_STREQ(p.attribute("DocumentNumber").value(), "1");
    EXPECT_FALSE(p.attribute("DataEncryption"));
}

TEST_P(SimulatorOperationsTest, ShiftOpenRefusedWhileOpenAndExpiredThenClosed) {
    Sim.SetFiscal(true);
    std::int64_t session = 0, document = 0;
    pugi::xml_document out;
    ASSERT_EQ(OpenShiftBody(*Context, "Петров", "500100732259", session, document, out), 0);
    EXPECT_EQ(session, Sim.Status().ShiftNumber);
    EXPECT_EQ(document, Sim.Status().LastDocument);
    EXPECT_STREQ(out.child("OutputParameters").child("Parameters").attribute("OFDTimeout").value(), "false");
    EXPECT_EQ(OpenShiftBody(*Context, "Петров", "", session, document, out), 3015);

    std::int64_t check = 0;
    std::uint8_t state = 0;
    ASSERT_EQ(GetCurrentStatusBody(*Context, check, session, state, out), 0);
    EXPECT_EQ(state, 2);

    Sim.AdvanceClock(25 * 3600);
    ASSERT_EQ(GetCurrentStatusBody(*Context, check, session, state, out), 0);
    EXPECT_EQ(state, 3) << "a shift past 24 hours";
    EXPECT_EQ(OpenShiftBody(*Context, "Петров", "", session, document, out), 3002);
    ASSERT_EQ(CloseShiftBody(*Context, "Петров", "500100732259", session, document, out), 0);
    EXPECT_FALSE(Sim.Status().ShiftOpen);
    const pugi::xml_node p = out.child("OutputParameters").child("Parameters");
    EXPECT_STREQ(p.attribute("NumberOfChecks").value(), "0");
    EXPECT_EQ(std::string(p.attribute("BacklogDocumentsCounter").value()), std::to_string(Sim.Status().Backlog));
    ASSERT_EQ(GetCurrentStatusBody(*Context, check, session, state, out), 0);
    EXPECT_EQ(state, 1);
}

TEST_P(SimulatorOperationsTest, CashXReportSettlementsAndDrawerPrintOnTheTape) {
    Sim.SetFiscal(true);
    Sim.OpenShift();
    EXPECT_EQ(CashInOutcomeBody(*Context, 1000000), 0);
    EXPECT_EQ(Sim.Status().CashKopecks, 10000);
    EXPECT_EQ(CashInOutcomeBody(*Context, -250000), 0);
    EXPECT_EQ(Sim.Status().CashKopecks, 7500);
    EXPECT_EQ(PrintXReportBody(*Context), 0);
    pugi::xml_document out;
    EXPECT_EQ(ReportCurrentStatusOfSettlementsBody(*Context, "Петров", "500100732259", out), 0);
    EXPECT_TRUE(out.child("OutputParameters").child("Parameters").attribute("BacklogDocumentFirstDateTime"));
    EXPECT_EQ(OpenCashDrawerBody(*Context), 0);
    EXPECT_FALSE(Sim.TapeText().empty());
}

TEST_P(SimulatorOperationsTest, CashInOnAClosedShiftIsTheRegistersRefusal) {
    Sim.SetFiscal(true);
    const std::int32_t r = CashInOutcomeBody(*Context, 1000000);
    EXPECT_NE(r, 0);
    EXPECT_EQ(Sim.Status().CashKopecks, 0);
}

TEST_P(SimulatorOperationsTest, DeviceTestLineNamesModelSerialAndFiscalState) {
    std::string line;
    ASSERT_EQ(DeviceTestBody(*Context, line), 0);
    EXPECT_NE(line.find(", № 0000000000000001, НЕ ФИСК"), std::string::npos) << line;
    Sim.SetFiscal(true);
    ASSERT_EQ(DeviceTestBody(*Context, line), 0);
    EXPECT_TRUE(line.ends_with(", ФИСК")) << line;
    EXPECT_NE(Sim.TapeText().find(line), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Transports, SimulatorOperationsTest, ::testing::Values(TTransport::Tcp, TTransport::Pty),
                         [](const ::testing::TestParamInfo<TTransport>& info) {
                             return info.param == TTransport::Tcp ? std::string("Tcp") : std::string("Pty");
                         });

}  // namespace
}  // namespace fr
