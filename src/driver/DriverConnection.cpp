// TDriver: enabling and disabling the register, the operation frame, the line length and the
// common table values.


#include <algorithm>
#include <charconv>
#include <ctime>
#include <exception>
#include <filesystem>

#include <fmt/format.h>

#include "device/ComDevice.h"
#include "device/ResultCodes.h"
#include "device/SocketDevice.h"
#include "driver/Driver.h"
#include "framework/ErrorCodes.h"
#include "framework/Log.h"
#include "platform/Errors.h"
#include "platform/Files.h"
#include "platform/System.h"
#include "platform/TextCase.h"

namespace fr {

namespace {

constexpr int kConnectionSerial = 0;
constexpr int kConnectionTcp = 1;

std::string_view TrimBlanks(std::string_view s) {
    while (!s.empty() && static_cast<unsigned char>(s.front()) <= ' ') s.remove_prefix(1);
    while (!s.empty() && static_cast<unsigned char>(s.back()) <= ' ') s.remove_suffix(1);
    return s;
}

// Decimal text to the register's 4-byte password, least significant byte first; text that is not
// a 32-bit decimal number gives 0.
TBytes ConnectPasswordBytes(std::string_view AText) {
    const std::string_view text = TrimBlanks(AText);
    std::int32_t value = 0;
    const auto r = std::from_chars(text.data(), text.data() + text.size(), value, 10);
    if (r.ec != std::errc() || r.ptr != text.data() + text.size()) value = 0;
    return IntToLEBytes(4, static_cast<std::uint32_t>(value));
}

std::string ExceptionText(const std::exception_ptr& AException) {
    try {
        std::rethrow_exception(AException);
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "unknown exception";
    }
}

}  // namespace

TDriver::~TDriver() {
    if (!FDevice) return;
    TLogScope logScope(FLog);
    try {
        FDevice->Disable();
    } catch (...) {
        // A destructor never throws; the device's own destructor closes what is left.
    }
}

void TDriver::SetClock(TDeviceClock* AClock) {
    FClock = AClock;
    if (FDevice) FDevice->SetClock(AClock);
}

TDeviceClock& TDriver::Clock() const { return FClock ? *FClock : TDeviceClock::System(); }

std::unique_ptr<TDevice> TDriver::CreateDevice(bool ATcp) {
    if (ATcp) return std::make_unique<TSocketDevice>();
    return std::make_unique<TComDevice>();
}

// ---------------------------------------------------------------------------------------------
// Enable / Disable

void TDriver::SetUpLog() {
    if (!GetSettingValueBool("WriteLog")) {
        FLog.SetLogLevel(0);
        return;
    }
    FLog.SetLogStarted(false);
    FLog.SetLogLevel(2);

    const std::string defaultDir = CommonAppDataDir() + kModuleBaseName + "/";
    const std::string setting = GetSettingValueStr("LogDir");
    std::string dir = TrimBlanks(setting).empty() ? defaultDir : setting;
    // A folder that cannot be made is not the operation's failure: the log's first write reports
    // it once and the driver goes on without a log.
    try {
        // The log keeps relative names under the data folder, so a relative folder is pinned to
        // the current directory here, where it is created.
        if (dir.front() != '/') dir = std::filesystem::absolute(dir).string();
        if (!DirectoryExists(dir)) {
            try {
                ForceDirectories(dir);
            } catch (const std::exception&) {
                dir = defaultDir;
                if (!DirectoryExists(dir)) ForceDirectories(dir);
            }
        }
    } catch (const std::exception&) {
    }
    if (dir.back() != '/') dir += '/';
    FLogDirName = dir;

    const std::time_t now = std::time(nullptr);
    const std::tm tm = LocalTime(now);
    FLog.SetLogFileName(fmt::format("{}{}_{:04}.{:02}.{:02}.log", dir, kModuleBaseName, tm.tm_year + 1900,
                                    tm.tm_mon + 1, tm.tm_mday));
    FLog.Start();
}

std::int32_t TDriver::EnableDevice() {
    // A value of the wrong kind stored through the property interface is the host's mistake:
    // refused before the log or the port is touched, instead of a conversion exception.
    if (const std::string wrong = SettingOfWrongKind(); !wrong.empty()) {
        FExtErrorDescr = fmt::format("Недопустимое значение параметра {}", wrong);
        return errInvalidParameter;
    }
    SetUpLog();
    // The process's locale is never changed (the driver lives in the host's process): every number
    // the driver reads or writes is formatted locale-independently with "." as the separator.

    Disable();
    FDevice.reset();
    const bool tcp = GetSettingValueInt("PortNumber") == kTcpPortNumber;
    FDevice = CreateDevice(tcp);
    if (FClock) FDevice->SetClock(FClock);

    FDevice->SetQRSize(GetSettingValueInt("QRSize"));
    FPrintSignObjAndMethod = GetSettingValueBool("PrintSignObjAndMethod");
    FDevice->SetConnectPwd(ConnectPasswordBytes(GetSettingValueStr("ConnectPassword")));
    FDevice->SetFeedCount(GetSettingValueInt("FeedCount"));
    FCutMarker = UpperCaseAscii(GetSettingValueStr("CutString"));
    FDevice->SetDisableCut(GetSettingValueBool("DisableCut"));

    std::int32_t result = 0;
    if (tcp) {
        FDevice->SetIPAddress(GetSettingValueStr("IPAddress"));
        FDevice->SetTCPPort(GetSettingValueInt("IPPort"));
        result = FDevice->Enable(FDevice->GetIPAddress(), FDevice->GetTCPPort());
        FDevice->SetConnectionType(kConnectionTcp);
        if (result != 0) FExtErrorDescr = FDevice->ConnectionErrorText();
    } else {
        const int port = GetSettingValueInt("PortNumber");
        const int baud = GetSettingValueInt("BaudRate");
        FDevice->SetPortNumber(port);
        FDevice->SetBaudRate(baud);
        result = FDevice->Enable(port, baud);
        FDevice->SetConnectionType(kConnectionSerial);
        if (result != 0) FExtErrorDescr = FDevice->ConnectionErrorText();
    }
    if (result != 0) return result;

    std::uint8_t autoCut = 0;
    result = FDevice->GetFieldAsByte(kAutoCutTable, kAutoCutRow, kAutoCutField, autoCut);
    if (result != 0) return result;

    // Runs in its own operation frame (over TCP on a connection of its own).
    std::int32_t lineLength = 0;
    result = GetLineLength(lineLength);
    if (result == 0) {
        FLineLen = lineLength;
        FAutoCut = autoCut != 0;
    }
    return result;
}

std::int32_t TDriver::Enable() {
    // The byte trace below the driver goes to this driver's log.
    TLogScope logScope(FLog);
    FLog.Append(kClassName, "Start Enable", TLog::mtInfo);
    // The register may be another one now: its intent is read from its own file.
    FIntent.reset();
    FIntentLoaded = false;
    FIntentPath.clear();
    std::int32_t result = errUnknown;
    std::exception_ptr error;
    try {
        result = EnableDevice();
    } catch (...) {
        error = std::current_exception();
    }
    FEnabled = !error && result == 0;
    // Over TCP an enable that failed half-way must not keep the register's only host connection.
    try {
        DisconnectAfterOperation();
    } catch (...) {
        if (!error) error = std::current_exception();
    }
    if (error) {
        try {
            FinishOperation("Enable", errUnknown, ExceptionText(error));
        } catch (...) {
        }
        std::rethrow_exception(error);
    }
    FinishOperation("Enable", result);
    return result;
}

void TDriver::Disable() {
    TBaseDriverECR::Disable();
    if (FDevice) FDevice->Disable();
}

// ---------------------------------------------------------------------------------------------
// Operation frame

std::int32_t TDriver::ConnectForOperation() {
    if (!FDevice) return errDeviceNotReady;
    if (FDevice->GetConnectionType() != kConnectionTcp) return 0;
    DisconnectAfterOperation();
    // The connection re-reads the register's width; a positive "MaxReceiptRowLength" must keep
    // holding for everything printed, as it does over serial, where the width stays as set.
    const std::uint8_t lineLength = FDevice->GetLineLen();
    const std::int32_t result = FDevice->Enable(FDevice->GetIPAddress(), FDevice->GetTCPPort());
    if (result != 0) FExtErrorDescr = FDevice->ConnectionErrorText();
    bool keepLineLength = false;
    try {
        keepLineLength = GetSettingValueInt("MaxReceiptRowLength") > 0;
    } catch (const EFrError&) {
        // A value of the wrong kind stored since Open: the register's width, as without a setting.
    }
    if (keepLineLength) FDevice->SetLineLen(lineLength);
    return result;
}

void TDriver::DisconnectAfterOperation() {
    if (FDevice && FDevice->GetConnectionType() == kConnectionTcp) FDevice->Disable();
}

void TDriver::FinishOperation(std::string_view AName, std::int32_t AResult, const std::string& AExceptionText) {
    std::string extText = FExtErrorDescr;
    if (!AExceptionText.empty()) extText = extText.empty() ? AExceptionText : extText + "; " + AExceptionText;
    GetDeviceResultDescription(AResult, FExtError, extText, FLastResultDescription);
    FExtError = 0;
    FExtErrorDescr.clear();
    FLog.Append(kClassName, fmt::format("{} [{}] - {}", AName, AResult, FLastResultDescription),
                AResult == 0 ? TLog::mtInfo : TLog::mtError);
}

std::int32_t TDriver::RunOperation(std::string_view AName, const TOperationBody& ABody,
                                   const TOperationCompletion& ACompletion) {
    // The byte trace below the driver goes to this driver's log.
    TLogScope logScope(FLog);
    FLog.Append(kClassName, "Start " + std::string(AName), TLog::mtInfo);
    std::int32_t result = errUnknown;
    std::exception_ptr error;
    try {
        result = ConnectForOperation();
        if (result == 0) {
            // A document whose outcome an earlier call (or a killed host) left open is settled first.
            SettleLeftIntent();
            result = ABody();
        }
    } catch (...) {
        error = std::current_exception();
        result = errUnknown;
    }
    try {
        if (ACompletion) ACompletion(result);
    } catch (...) {
        if (!error) error = std::current_exception();
        result = errUnknown;
    }
    try {
        FinishDocument(result);
    } catch (...) {
        if (!error) error = std::current_exception();
        result = errUnknown;
    }
    try {
        DisconnectAfterOperation();
    } catch (...) {
        if (!error) error = std::current_exception();
        result = errUnknown;
    }
    if (error) {
        try {
            FinishOperation(AName, result, ExceptionText(error));
        } catch (...) {
        }
        std::rethrow_exception(error);
    }
    FinishOperation(AName, result);
    return result;
}

// ---------------------------------------------------------------------------------------------
// Line length

std::int32_t TDriver::GetLineLength(std::int32_t& ALineLength) {
    // Before the first Open there is no register to ask: the default width, as the base answers.
    if (!FDevice) return TBaseDriverECR::GetLineLength(ALineLength);
    return RunOperation("GetLineLength", [&]() -> std::int32_t {
        // A failed query keeps the length already known rather than some arbitrary value.
        std::uint8_t length = FDevice->GetLineLen();
        const std::int32_t result = FDevice->GetLineLength(length);
        const std::int32_t maxLength = GetSettingValueInt("MaxReceiptRowLength");
        // The device keeps the length in one byte; a larger setting means "as wide as possible".
        if (maxLength > 0) length = static_cast<std::uint8_t>(std::min(maxLength, 255));
        FDevice->SetLineLen(length);
        ALineLength = length;
        return result;
    });
}

// ---------------------------------------------------------------------------------------------
// Common values: table 2, row 1

std::int32_t TDriver::GetCommonValueBool(std::uint8_t ANum, bool& AValue) {
    std::uint8_t value = 0;
    const std::int32_t result = GetCommonValueByte(ANum, value);
    if (result == 0) AValue = value != 0;
    return result;
}

std::int32_t TDriver::GetCommonValueByte(std::uint8_t ANum, std::uint8_t& AValue) {
    if (!FDevice) return errDeviceNotReady;
    return FDevice->GetFieldAsByte(kCommonValueTable, kCommonValueRow, ANum, AValue);
}

std::int32_t TDriver::GetCommonValueHex(std::uint8_t ANum, std::string& AValue) {
    if (!FDevice) return errDeviceNotReady;
    return FDevice->GetFieldAsHex(kCommonValueTable, kCommonValueRow, ANum, AValue);
}

std::int32_t TDriver::GetCommonValueBIN(std::uint8_t ANum, const TBytes*& AValue) {
    if (!FDevice) return errDeviceNotReady;
    return FDevice->GetFieldAsBIN(kCommonValueTable, kCommonValueRow, ANum, AValue);
}

std::int32_t TDriver::SetCommonValueBool(std::uint8_t ANum, bool AValue) {
    return SetCommonValueByte(ANum, AValue ? 1 : 0);
}

std::int32_t TDriver::SetCommonValueByte(std::uint8_t ANum, std::uint8_t AValue) {
    if (!FDevice) return errDeviceNotReady;
    return FDevice->SetFieldAsByte(kCommonValueTable, kCommonValueRow, ANum, AValue);
}

std::int32_t TDriver::SetCommonValueBCD(std::uint8_t ANum, std::int32_t AValue) {
    if (!FDevice) return errDeviceNotReady;
    return FDevice->SetFieldAsBCD(kCommonValueTable, kCommonValueRow, ANum, AValue);
}

std::int32_t TDriver::SetCommonValueHex(std::uint8_t ANum, const std::string& AValue, std::uint8_t ASize) {
    if (!FDevice) return errDeviceNotReady;
    return FDevice->SetFieldAsHex(kCommonValueTable, kCommonValueRow, ANum, AValue, ASize);
}

}  // namespace fr
