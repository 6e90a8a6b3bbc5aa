// A whole receipt as the platform would make it: only the binary interface, against the
// simulated register over TCP loopback.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/Simulator.h"
#include "native/AddInHost.h"
#include "platform/TempDir.h"

namespace fr::test {
namespace {

// The slots point into these: the platform's strings outlive the call.
const std::u16string kPortNumber = u"PortNumber", kIPAddress = u"IPAddress", kIPPort = u"IPPort",
                     kLoopback = u"127.0.0.1";
const std::u16string kCashier =
    u"<InputParameters><Parameters CashierName=\"Петрова А.С.\" CashierVATIN=\"500100732259\"/></InputParameters>";
const std::u16string kSale =
    u"<CheckPackage><Parameters PaymentType=\"1\" TaxVariant=\"0\" CashierName=\"Петрова А.С.\" "
    u"CashierVATIN=\"500100732259\"/><Positions><FiscalString Name=\"Хлеб\" Quantity=\"2\" "
    u"PriceWithDiscount=\"45.50\" SumWithDiscount=\"91.00\" DiscountSum=\"0\" Tax=\"10\" TaxSum=\"8.27\" "
    u"Department=\"1\" SignCalculationObject=\"1\" SignMethodCalculation=\"4\"/></Positions>"
    u"<Payments Cash=\"100\" ElectronicPayment=\"0\" PrePayment=\"0\" PostPayment=\"0\" Barter=\"0\"/>"
    u"</CheckPackage>";

class NativeReceiptTest : public TComponentFixture {
protected:
    void SetUp() override {
        TComponentFixture::SetUp();
        FSimulator.SetFiscal(true);
        FPort = FSimulator.StartTcp(0);
    }
    void TearDown() override {
        FSimulator.Stop();
        TComponentFixture::TearDown();
    }

    // Calls a method by name; returns its Boolean result. Strings the library put into the
    // slots are kept in ATexts and freed.
    bool Call(const std::u16string& AName, std::vector<tVariant> AParams, std::vector<std::u16string>* ATexts = nullptr) {
        tVariant ret = EmptyVariant();
        EXPECT_TRUE(FLang->CallAsFunc(FLang->FindMethod(AName.c_str()), &ret, AParams.data(),
                                      static_cast<long>(AParams.size())));
        if (ATexts) ATexts->assign(AParams.size(), u"");
        for (std::size_t i = 0; i < AParams.size(); ++i) {
            auto& p = AParams[i];
            if (p.vt != VTYPE_PWSTR || !FMemory.Owns(p.wstr.pwstrVal)) continue;
            if (ATexts) (*ATexts)[i] = std::u16string(p.wstr.pwstrVal, p.wstr.wstrLen);
            void* mem = p.wstr.pwstrVal;
            FMemory.FreeMemory(&mem);
        }
        return ret.vt == VTYPE_BOOL && ret.bVal;
    }

    TTempAppData FAppData;
    sim::TSimulator FSimulator;
    std::uint16_t FPort = 0;
};

TEST_F(NativeReceiptTest, SaleIsFiscalisedAndItsOutValuesComeBackThroughTheSlots) {
    ASSERT_TRUE(Call(u"SetParameter", {StringVariant(kPortNumber), IntVariant(9999)}));
    ASSERT_TRUE(Call(u"УстановитьПараметр", {StringVariant(kIPAddress), StringVariant(kLoopback)}));
    ASSERT_TRUE(Call(u"setparameter", {StringVariant(kIPPort), IntVariant(FPort)}));

    std::vector<std::u16string> texts;
    ASSERT_TRUE(Call(u"Подключить", {EmptyVariant()}, &texts));
    const std::u16string device = texts[0];
    ASSERT_TRUE(Call(u"OpenShift", {StringVariant(device), StringVariant(kCashier), EmptyVariant(), EmptyVariant(),
                                    EmptyVariant()}));

    ASSERT_TRUE(Call(u"СформироватьЧек", {StringVariant(device), BoolVariant(false), StringVariant(kSale),
                                          EmptyVariant(), EmptyVariant(), EmptyVariant(), EmptyVariant()},
                     &texts));
    EXPECT_FALSE(texts[5].empty());                // fiscal sign
    EXPECT_EQ(texts[6], u"www.nalog.gov.ru");      // the tax authority's site
    EXPECT_EQ(FSimulator.Status().ReceiptNumber, 1);

    EXPECT_TRUE(Call(u"Close", {StringVariant(device)}));
    EXPECT_TRUE(FConnection.FErrors.empty());
}

}  // namespace
}  // namespace fr::test
