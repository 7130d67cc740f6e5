// Start-menu shortcuts of the driver as freedesktop launchers: a folder per program group in
// the applications folder of all users (the first folder of XDG_DATA_DIRS) or of the current
// user (XDG_DATA_HOME), holding a .desktop file for the configuration editor and one for its
// help page.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace hbt::setup {

inline constexpr const char* kDisplayName = "Brenlow Ethernet Driver";

struct ShortcutPlan {
  bool all_users = true;
  std::string group;        // program-group folder, also recorded as "FolderName"
  std::string editor_link;  // link names, without the .desktop extension
  std::string help_link;
};

// Which menu, group and link names the host name (may be null: no shortcuts) and mode give.
std::optional<ShortcutPlan> plan_shortcuts(const char* host_name, int shortcut_mode);

// A group names a folder inside the menu folder: one that climbs out of it ("..") is refused.
bool valid_group(const std::string& group);

// applications folder of all users or of the current user, from the XDG variables and their
// documented defaults.
std::string applications_folder(bool all_users);

struct ShortcutTargets {
  std::string editor;     // program the editor link starts
  std::string help;       // page the help link opens
  std::string directory;  // working folder of both
};

struct ShortcutRecord {
  std::vector<std::string> launchers;        // written
  std::vector<std::string> created_folders;  // made, parents first
};

// Writes the group folder and both launchers. Returns 0, or an error number with the path
// that failed in *failed_path. What was written is added to *record when given.
int create_shortcuts(const ShortcutPlan& plan, const ShortcutTargets& targets, std::string* failed_path,
                     ShortcutRecord* record = nullptr);

// Text of a .desktop launcher that runs `argv` (quoted by the launcher rules).
std::string desktop_entry(const std::string& name, const std::string& comment, const std::string& exec_program,
                          const std::string& exec_argument, const std::string& directory);

}  // namespace hbt::setup
