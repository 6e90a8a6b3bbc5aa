#pragma once
// The root of the system's own exception hierarchy. Handlers at the host boundary catch
// exactly this type; anything else is a programming fault.

#include <stdexcept>
#include <string>

namespace fr {

class EFrError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A text that is not a number, a value of the wrong kind.
class EConvertError : public EFrError {
public:
    using EFrError::EFrError;
};

// A failed operating-system call, with the context captured where it happened.
class EOSError : public EFrError {
public:
    EOSError(const std::string& what, int err);
    // With the system's own text for err (for codes that are not errno values).
    EOSError(const std::string& what, int err, const std::string& reason);
    int Code() const { return FCode; }

private:
    int FCode;
};

}  // namespace fr
