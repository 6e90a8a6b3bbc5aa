// The connection test of the host's equipment settings, and the (absent) additional actions.

#include <fmt/format.h>

#include "driver/ReportOperations.h"
#include "framework/ErrorCodes.h"
#include "platform/Encoding.h"

namespace fr {
namespace {
constexpr std::size_t kSerialNumberChars = 16;
constexpr std::uint8_t kFnLifeFiscal = 0x02;
}  // namespace

std::int32_t DeviceTestBody(TOperationContext& C, std::string& ADescription) {
    TDevice& D = C.Device();
    ADescription.clear();
    D.Beep();  // a register that cannot beep still passes the test
    TBytes serial;
    if (const std::int32_t r = D.GetFieldAsStr(18, 1, 1, serial)) return r;
    if (serial.size() > kSerialNumberChars) serial.resize(kSerialNumberChars);
    // The field is padded with zero bytes; they do not belong in a printed line.
    serial = TrimBytes(serial);
    std::uint8_t life = 0, curDoc = 0, docData = 0, session = 0, warnings = 0;
    std::int64_t lastDoc = 0;
    if (const std::int32_t r = D.GetFNCurrentStatus(life, curDoc, docData, session, warnings, lastDoc)) return r;
    std::uint8_t protocol = 0, subversion = 0, language = 0, model = 0;
    std::string modelName;
    if (const std::int32_t r = D.GetDeviceType(protocol, subversion, language, model, modelName)) return r;
    ADescription = fmt::format("{}, № {}, {}", modelName, SingleByteToUtf8(serial),
                               life & kFnLifeFiscal ? "ФИСК" : "НЕ ФИСК");
    const std::int32_t r = D.PrintString(Utf8ToSingleByte(ADescription));
    C.CutAfterDocument(false, false, D.GetFeedCount());
    return r;
}

std::string AdditionalActionsText() { return {}; }

std::int32_t DoAdditionalActionResult(const std::string& AActionName) {
    return AActionName == "ShowSettingsDlg" ? 0 : errNotSupported;
}

}  // namespace fr
