// The name filter of address-space browsing (case-sensitive, on the host library's narrow
// names): a filter ending in "*" keeps the names that start with its text up to the first
// "*"; one starting with "*" those that end with its text after the last "*"; one with "*"
// at both ends those that contain the text between the two; one with "*" only inside is
// ignored. A name shorter than the filter without its stars passes only an ignored filter.
#pragma once

#include <string_view>

namespace hbt::opc {

bool name_passes_filter(std::string_view name, std::string_view filter);

}  // namespace hbt::opc
