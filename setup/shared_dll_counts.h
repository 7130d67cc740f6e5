// Reference counts of the shared OPC support libraries, kept in the registry so that an
// uninstaller removes a shared library only when its last user goes.
#pragma once

#include <functional>
#include <string>

namespace hbt::setup {

inline constexpr const char* kSharedDllsKey = "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDlls";

// Raises by one the count of each OPC support library (value name: system directory, '/',
// file name; a missing value counts as 0). A value of another type is left alone; a count
// that cannot be written is reported through `failed` and the others go on.
void raise_shared_dll_counts(const std::string& system_directory,
                             const std::function<void(const std::string& value_name, int error)>& failed);

}  // namespace hbt::setup
