#pragma once
// Raw-data resources compiled into the module.

#include <optional>
#include <string_view>

namespace fr {

// The resource's bytes, or nullopt when the module has none of that name.
// "TableParameters": the parameter table (UTF-8 XML).
std::optional<std::string_view> FindRawResource(std::string_view AName);

}  // namespace fr
