#include "platform/environment.h"

#include <cstdlib>

namespace hbt::platform {

std::string env_or(const char* name, const std::string& fallback) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? std::string(value) : fallback;
}

std::string region_namespace() { return env_or("HBT_NAMESPACE", ""); }

}  // namespace hbt::platform
