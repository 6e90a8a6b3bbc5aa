// TLV documents read back from the fiscal storage: the decoder of the driver's requisite table
// (structures nested inside structures, lengths past the end, unknown tags) and the registration
// data the driver builds from the registration report for the host (GetDataKKT's body).
//
// Input: the document's TLV blocks, each with a two-byte little-endian length in front, as the
// register hands them out one read command at a time.
// Properties: decoding ends; every decoded value is a copy of bytes of the document and its text
// is well-formed UTF-8 (it goes to the host as UTF-16); the registration data is an XML document
// that reads back.

#include <cstdint>
#include <string>
#include <vector>

#include <pugixml.hpp>

#include "FuzzSupport.h"
#include "driver/FiscalTags.h"
#include "driver/ReportOperations.h"
#include "framework/Log.h"

namespace {

using namespace fr;

// Answers the commands of the registration-data read: a fiscal FN, the registration parameters,
// the document's blocks from the input, zeros for every table field.
class TDocumentLink : public TLinkProtocol {
public:
    explicit TDocumentLink(std::vector<TBytes> ABlocks) : FBlocks(std::move(ABlocks)) {}
    int RunCommand(TBytes& AResponse, const TBytes&, const TBytes& ACmd, const TBytes&, int, bool,
                   bool) override {
        AResponse = {0};
        const int code = ACmd.size() == 2 ? ACmd[1] : -1;
        if (code == 0x01) {
            AResponse.resize(31, 0);
            AResponse[1] = 0x03;  // fiscal
        } else if (code == 0x09) {
            AResponse.resize(48, '0');
            AResponse[0] = 0;
            AResponse[1] = 26, AResponse[2] = 3, AResponse[3] = 15, AResponse[4] = 10, AResponse[5] = 0;
            AResponse[38] = 1;
            AResponse[40] = 1, AResponse[41] = AResponse[42] = AResponse[43] = 0;
        } else if (code == 0x3A) {
            AResponse.insert(AResponse.end(), {1, 0, 0, 1});
        } else if (code == 0x3B) {
            if (FNext >= FBlocks.size()) {
                AResponse = {0x08};  // no more data
            } else {
                const TBytes& b = FBlocks[FNext++];
                AResponse.insert(AResponse.end(), b.begin(), b.end());
            }
        } else if (code == 0x0F || code == 0x11) {
            AResponse = {0};
        } else {
            AResponse.resize(64, 0);
        }
        return 0;
    }

private:
    std::vector<TBytes> FBlocks;
    std::size_t FNext = 0;
};

class TContext : public TOperationContext {
public:
    explicit TContext(TDevice& ADevice) : FDevice(ADevice) {}
    TDevice& Device() override { return FDevice; }
    std::int32_t CheckPrintState() override { return 0; }
    std::int32_t WaitPrintCompletion() override { return 0; }
    void CutAfterDocument(bool, bool, std::int32_t) override {}
    TDateTime Now() const override { return 46000.0; }

private:
    TDevice& FDevice;
};

bool Utf8Ok(const std::string& AText) { return fuzz::IsUtf8(AText); }

void CheckElements(const TDocElementList& AList, std::size_t AInputSize) {
    for (const auto& e : AList) {
        FR_FUZZ_CHECK(e->TLV.size() <= AInputSize, "tag %d value of %zu bytes from %zu", e->Tag, e->TLV.size(),
                      AInputSize);
        FR_FUZZ_CHECK(Utf8Ok(e->Value), "tag %d text is not UTF-8", e->Tag);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* AData, std::size_t ASize) {
    static const bool quiet = (TLog::SetLogLevel(0), true);
    (void)quiet;
    fuzz::TInput in(AData, ASize);
    std::vector<TBytes> blocks;
    TBytes whole;
    while (!in.Empty()) {
        blocks.push_back(in.Bytes(in.Word()));
        whole.insert(whole.end(), blocks.back().begin(), blocks.back().end());
    }

    TDocElementList list;
    DecodeFiscalBlocks(whole, list);
    CheckElements(list, whole.size());

    TDocumentLink link(blocks);
    TDevice device(&link);
    fuzz::TInstantClock clock;
    device.SetClock(&clock);
    TContext context(device);
    pugi::xml_document out;
    TDocElementList report;
    GetDataKKTBody(context, out, report);
    CheckElements(report, whole.size());
    std::string text;
    struct TWriter : pugi::xml_writer {
        std::string* Out;
        void write(const void* AData, std::size_t ASize) override { Out->append(static_cast<const char*>(AData), ASize); }
    } writer;
    writer.Out = &text;
    out.save(writer);
    FR_FUZZ_CHECK(Utf8Ok(text), "registration data is not UTF-8");
    pugi::xml_document back;
    FR_FUZZ_CHECK(back.load_string(text.c_str()), "registration data does not read back");
    return 0;
}
