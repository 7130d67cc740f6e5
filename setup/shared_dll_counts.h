// Reference counts of shared files, kept in the registry as the SharedDlls values (value
// name: the file's full path) so that an uninstaller removes a shared file only when its last
// user goes: the OPC support libraries that every OPC server counts, and the files the driver
// puts into the system folder.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace hbt::setup {

inline constexpr const char* kSharedDllsKey = "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDlls";

// Value names of the OPC support libraries in the system folder.
std::vector<std::string> opc_support_count_names(const std::string& system_directory);

// Raises each count by one (a missing value counts as 0). A value of another type is left
// alone; a count that cannot be written is reported through `failed` and the others go on.
// Returns the names whose count was raised.
std::vector<std::string> raise_shared_counts(const std::vector<std::string>& names,
                                             const std::function<void(const std::string& value_name, int error)>& failed);

// Lowers a count by `by` (never below 0); a count that reaches 0 is deleted. Returns the count
// left; none when the value is no count (left alone) or cannot be written (errno tells why).
std::optional<std::uint32_t> lower_shared_count(const std::string& name, std::uint32_t by);

}  // namespace hbt::setup
