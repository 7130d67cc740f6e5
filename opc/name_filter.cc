#include "opc/name_filter.h"

#include <algorithm>

namespace hbt::opc {

bool name_passes_filter(std::string_view name, std::string_view filter) {
  if (filter.empty() || filter == "*") return true;
  const bool leading = filter.front() == '*';
  const bool trailing = filter.back() == '*';
  const auto stars = static_cast<std::size_t>(std::count(filter.begin(), filter.end(), '*'));
  if (stars == 0) return name == filter;
  if (!leading && !trailing) return true;
  if (name.size() < filter.size() - stars) return false;
  if (leading && trailing) return name.find(filter.substr(1, filter.size() - 2)) != std::string_view::npos;
  if (trailing) return name.starts_with(filter.substr(0, filter.find('*')));
  return name.ends_with(filter.substr(filter.rfind('*') + 1));
}

}  // namespace hbt::opc
