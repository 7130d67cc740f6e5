// The editor's marks in the host's registry key: the subkey "HBT" whose default value names
// the running editor (single instance), and the host paths the about box shows.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace hbt::editor {

// The host key the driver's installation belongs to (as for the import error file):
// "Software\\FixDMACS" or "Software\\Fix Dynamics" when "DriverExe" names that host,
// the driver's own key otherwise.
std::string host_key();

// A host value kept as the default value of a subkey of the host key ("NODENAME",
// "BASPATH", "PDBPATH"); "" when missing.
std::string host_value(std::string_view name);

// The running editor's mark: the default value of subkey "HBT" of the host key.
std::optional<std::string> running_editor_mark();
bool write_editor_mark(std::string_view mark);
// Deletes the subkey "HBT" where it was written and under "Software\\FixDMACS".
void delete_editor_mark();

}  // namespace hbt::editor
