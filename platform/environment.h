// Process environment settings that every program of the driver honours.
#pragma once

#include <string>

namespace hbt::platform {

// Prefix of every shared region name (HBT_NAMESPACE), so that test runs side by side never
// share a region. Empty when unset: names are then exactly the system's own.
std::string region_namespace();

// Value of an environment variable, or fallback when it is unset or empty.
std::string env_or(const char* name, const std::string& fallback);

}  // namespace hbt::platform
