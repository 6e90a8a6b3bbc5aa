#include "platform/Errors.h"

#include <cstring>

namespace fr {

EOSError::EOSError(const std::string& what, int err)
    : EFrError(what + ": " + std::strerror(err)), FCode(err) {}

}  // namespace fr
