// GUIDs as text, in the registry form "{6F1D2C3A-9B47-4E85-A0C2-7D5E8B91F346}": upper-case
// hexadecimal, braces and four hyphens, 38 characters.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "com/unknown.h"

namespace hbt::com {

std::string guid_text(const GUID& guid);
// Exactly the registry form (either letter case); anything else gives nullopt.
std::optional<GUID> parse_guid(std::string_view text);
std::optional<GUID> parse_guid(std::u16string_view text);

}  // namespace hbt::com
