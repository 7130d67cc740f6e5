// The texts GetErrorString returns for the result codes this server knows.
#pragma once

#include <optional>
#include <string_view>

#include "opc/com_base.h"

namespace hbt::opc {

std::optional<std::string_view> error_text(HRESULT code);

}  // namespace hbt::opc
