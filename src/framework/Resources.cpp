#include "framework/Resources.h"

namespace fr {
namespace {

constexpr std::string_view kTableParameters =
#include "TableParameters.inc"
    ;

}  // namespace

std::optional<std::string_view> FindRawResource(std::string_view AName) {
    if (AName == "TableParameters") return kTableParameters;
    return std::nullopt;
}

}  // namespace fr
