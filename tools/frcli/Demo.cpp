#include "Demo.h"

#include <string>
#include <vector>

#include <fmt/format.h>

#include "ScriptRunner.h"
#include "core/Simulator.h"
#include "framework/Variant.h"
#include "platform/Encoding.h"
#include "platform/Errors.h"
#include "platform/Xml.h"

namespace frcli {
namespace {

using fr::TParams;
using fr::TVariant;

constexpr const char* kCashier =
    "<InputParameters><Parameters CashierName=\"Петрова А.С.\" CashierVATIN=\"500100732259\"/></InputParameters>";

constexpr const char* kRegistration =
    "<Parameters CashierName=\"Петрова А.С.\" CashierVATIN=\"500100732259\" KKTNumber=\"0000000001012345\" "
    "OrganizationName=\"ООО &quot;Ёлка&quot;\" VATIN=\"7700000000\" AddressSettle=\"Москва, ул. Лесная, 5\" "
    "PlaceSettle=\"Магазин № 1\" TaxVariant=\"0\" OfflineMode=\"false\" DataEncryption=\"false\" "
    "ServiceSign=\"false\" CalcOnlineSign=\"false\" AutomaticMode=\"false\" BSOSing=\"false\" SignOfAgent=\"\" "
    "OFDOrganizationName=\"ООО &quot;ОФД&quot;\" OFDVATIN=\"7704358518\" SenderEmail=\"shop@example.ru\" "
    "FNSWebSite=\"www.nalog.gov.ru\" SignOfGambling=\"false\" SignOfLottery=\"false\"/>";

constexpr const char* kSale =
    "<CheckPackage>"
    "<Parameters PaymentType=\"1\" TaxVariant=\"0\" CashierName=\"Петрова А.С.\" CashierVATIN=\"500100732259\" "
    "CustomerEmail=\"buyer@example.ru\" SenderEmail=\"shop@example.ru\"/>"
    "<Positions>"
    "<FiscalString Name=\"Хлеб пшеничный\" Quantity=\"2\" PriceWithDiscount=\"45.50\" SumWithDiscount=\"91.00\" "
    "DiscountSum=\"0\" Tax=\"10\" TaxSum=\"8.27\" Department=\"1\" SignCalculationObject=\"1\" "
    "SignMethodCalculation=\"4\"/>"
    "<FiscalString Name=\"Кофе молотый 250 г\" Quantity=\"1\" PriceWithDiscount=\"360.00\" "
    "SumWithDiscount=\"360.00\" DiscountSum=\"40.00\" Tax=\"20\" TaxSum=\"60.00\" Department=\"1\" "
    "SignCalculationObject=\"1\" SignMethodCalculation=\"4\"/>"
    "<FiscalString Name=\"Обувь кожаная\" Quantity=\"1\" PriceWithDiscount=\"4990.00\" SumWithDiscount=\"4990.00\" "
    "DiscountSum=\"0\" Tax=\"20\" TaxSum=\"831.67\" Department=\"2\" SignCalculationObject=\"1\" "
    "SignMethodCalculation=\"4\">"
    "<GoodCodeData StampType=\"05\" GTIN=\"4606203090627\" SerialNumber=\"ABCDEFGHIJKLM\"/>"
    "</FiscalString>"
    "<FiscalString Name=\"Пакет\" Quantity=\"1\" PriceWithDiscount=\"5.00\" SumWithDiscount=\"5.00\" "
    "DiscountSum=\"0\" Tax=\"none\" TaxSum=\"0\" Department=\"1\" SignCalculationObject=\"1\" "
    "SignMethodCalculation=\"4\"/>"
    "<TextString Text=\"Спасибо за покупку!\"/>"
    "<Barcode BarcodeType=\"QR\" Barcode=\"https://example.ru/loyalty/12345\"/>"
    "</Positions>"
    "<Payments Cash=\"500.00\" ElectronicPayment=\"4946.00\" AdvancePayment=\"0\" Credit=\"0\" CashProvision=\"0\"/>"
    "</CheckPackage>";

constexpr const char* kRefund =
    "<CheckPackage>"
    "<Parameters PaymentType=\"2\" TaxVariant=\"0\" CashierName=\"Петрова А.С.\" CashierVATIN=\"500100732259\"/>"
    "<Positions>"
    "<FiscalString Name=\"Пакет\" Quantity=\"1\" PriceWithDiscount=\"5.00\" SumWithDiscount=\"5.00\" "
    "DiscountSum=\"0\" Tax=\"none\" TaxSum=\"0\" Department=\"1\" SignCalculationObject=\"1\" "
    "SignMethodCalculation=\"4\"/>"
    "</Positions>"
    "<Payments Cash=\"5.00\" ElectronicPayment=\"0\" AdvancePayment=\"0\" Credit=\"0\" CashProvision=\"0\"/>"
    "</CheckPackage>";

constexpr const char* kTextDocument =
    "<Document><Positions>"
    "<TextString Text=\"ТЕРМИНАЛ 00012345\"/>"
    "<TextString Text=\"ОПЛАТА         4946.00\"/>"
    "<TextString Text=\"ОДОБРЕНО, КОД 123456\"/>"
    "</Positions></Document>";

// Longer outputs (the parameter table) are shortened in the listing.
constexpr std::size_t kMaxShownText = 2000;

std::string Shown(const TVariant& AValue) {
    if (AValue.IsString()) {
        std::string text = AValue.AsString();
        if (text.size() > kMaxShownText)
            return fmt::format("<{} characters of text, beginning:>\n{}...", text.size(), text.substr(0, 160));
        return text;
    }
    return VariantToJson(AValue).dump();
}

void PrintIndented(std::ostream& AOut, const std::string& ALabel, const std::string& AText) {
    AOut << "    " << ALabel;
    std::string line;
    bool first = true;
    for (char c : AText + "\n") {
        if (c == '\r') continue;
        if (c != '\n') {
            line += c;
            continue;
        }
        if (line.empty() && !first) continue;
        AOut << (first ? "" : "        ") << line << '\n';
        first = false;
        line.clear();
    }
}

class TDemo {
public:
    TDemo(IHostSession& ASession, std::ostream& AOut) : FSession(ASession), FOut(AOut) {}

    // Calls AMethod with its parameters filled from AInputs (the rest empty); prints the outcome.
    TParams Call(const std::string& AMethod, const std::vector<std::pair<int, TVariant>>& AInputs) {
        const std::int32_t num = FSession.FindMethod(fr::Utf8ToUtf16(AMethod));
        FOut << fmt::format("\n[{}] {}\n", ++FStep, AMethod);
        if (num < 0) {
            FOut << "    method not found\n";
            ++FFailures;
            return {};
        }
        TParams params(static_cast<std::size_t>(std::max(FSession.MethodInfo(num).ParamsCount, 0)));
        for (const auto& [index, value] : AInputs)
            if (index >= 0 && static_cast<std::size_t>(index) < params.size()) params[index] = value;
        const TParams before = params;
        TVariant ret;
        const fr::HRESULT hr = FSession.CallAsFunc(num, ret, params);
        const std::int32_t code = FSession.LastResultCode();
        FOut << fmt::format("    return: {}   code: {} ({})\n", VariantToJson(ret).dump(), code,
                            FSession.LastResultDescription());
        if (hr != 0) FOut << fmt::format("    hresult: {}\n", hr);
        for (std::size_t i = 0; i < params.size(); ++i)
            if (!(params[i] == before[i])) PrintIndented(FOut, fmt::format("out [{}]: ", i), Shown(params[i]));
        if (code != 0) ++FFailures;
        return params;
    }

    int Failures() const { return FFailures; }

private:
    IHostSession& FSession;
    std::ostream& FOut;
    int FStep = 0;
    int FFailures = 0;
};

bool IsFiscal(const TVariant& ADocument) {
    if (!ADocument.IsString()) return false;
    try {
        pugi::xml_document doc;
        fr::LoadXmlDocument(doc, ADocument.AsString());
        return std::string(doc.child("Parameters").attribute("Fiscal").value()) == "true";
    } catch (const fr::EFrError&) {
        return false;
    }
}

}  // namespace

int RunDemo(IHostSession& ASession, std::ostream& AOut, std::ostream& AErr,
            const std::vector<std::pair<std::string, fr::TVariant>>& ASettings) {
    fr::sim::TSimulator simulator;
    std::uint16_t port = 0;
    try {
        port = simulator.StartTcp(0);
    } catch (const std::exception& e) {
        AErr << "frcli demo: the simulator cannot start: " << e.what() << '\n';
        return 1;
    }
    AOut << fmt::format("Simulated register on 127.0.0.1:{}\n", port);
    try {
        ASession.Init();
    } catch (const std::exception& e) {
        AErr << "frcli demo: the add-in object cannot start: " << e.what() << '\n';
        return 1;
    }

    TDemo demo(ASession, AOut);
    demo.Call("GetDescription", {});
    demo.Call("GetParameters", {});
    demo.Call("SetParameter", {{0, TVariant("PortNumber")}, {1, TVariant(9999)}});
    demo.Call("SetParameter", {{0, TVariant("IPAddress")}, {1, TVariant("127.0.0.1")}});
    demo.Call("SetParameter", {{0, TVariant("IPPort")}, {1, TVariant(static_cast<std::int32_t>(port))}});
    for (const auto& [name, value] : ASettings) demo.Call("SetParameter", {{0, TVariant(name)}, {1, value}});
    const TParams opened = demo.Call("Open", {});
    const TVariant device = opened.empty() ? TVariant("") : opened[0];

    const TParams data = demo.Call("GetDataKKT", {{0, device}});
    if (data.size() < 2 || !IsFiscal(data[1]))
        demo.Call("OperationFN", {{0, device}, {1, TVariant(1)}, {2, TVariant(kRegistration)}});
    demo.Call("OpenShift", {{0, device}, {1, TVariant(kCashier)}});
    demo.Call("ProcessCheck", {{0, device}, {1, TVariant(false)}, {2, TVariant(kSale)}});
    demo.Call("ProcessCheck", {{0, device}, {1, TVariant(false)}, {2, TVariant(kRefund)}});
    demo.Call("PrintTextDocument", {{0, device}, {1, TVariant(kTextDocument)}});
    demo.Call("CashInOutcome", {{0, device}, {1, TVariant(kCashier)}, {2, TVariant(1000.0)}});
    demo.Call("PrintXReport", {{0, device}, {1, TVariant(kCashier)}});
    demo.Call("GetCurrentStatus", {{0, device}});
    demo.Call("CloseShift", {{0, device}, {1, TVariant(kCashier)}});
    demo.Call("GetDataKKT", {{0, device}});
    demo.Call("Close", {{0, device}});
    ASession.Done();

    const fr::sim::TSimStatus status = simulator.Status();
    AOut << fmt::format("\nRegister: {} commands over {} connections; shift {}, last fiscal document {}\n",
                        status.Commands, status.Connections, status.ShiftNumber, status.LastDocument);
    AOut << "\nPaper tape:\n" << simulator.TapeText();
    if (!simulator.TapeText().ends_with('\n')) AOut << '\n';
    simulator.Stop();
    AOut << fmt::format("\n{} of the calls did not succeed\n", demo.Failures());
    return 0;
}

}  // namespace frcli
