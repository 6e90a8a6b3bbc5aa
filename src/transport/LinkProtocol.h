#pragma once
// The link a device hands its commands to. Serial and TCP implementations are chosen when the
// device is constructed; the device never asks which one it has.

#include "platform/Bytes.h"

namespace fr {

class TLinkProtocol {
public:
    virtual ~TLinkProtocol() = default;

    // Sends one command (code, optionally the password, data) and, when asked, reads its answer.
    // On 0, AResponse holds the answer without the echoed command code: result-code byte first.
    // Otherwise 1007 (no answer / port failure), 1014 (malformed answer) or a link code (605, 606).
    virtual int RunCommand(TBytes& AResponse, const TBytes& AConnectPwd, const TBytes& ACmd, const TBytes& AData,
                           int ATimeout, bool ASendPwd, bool AWaitResponse) = 0;
};

}  // namespace fr
