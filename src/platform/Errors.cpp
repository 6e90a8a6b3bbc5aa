#include "platform/Errors.h"

#include <cstring>

namespace fr {

EOSError::EOSError(const std::string& what, int err)
    : EFrError(what + ": " + std::strerror(err)), FCode(err) {}

EOSError::EOSError(const std::string& what, int err, const std::string& reason)
    : EFrError(what + ": " + reason), FCode(err) {}

}  // namespace fr
