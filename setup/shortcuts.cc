#include "setup/shortcuts.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/environment.h"
#include "setup/file_queue.h"

namespace hbt::setup {

namespace {

const std::string kEditorLink = std::string(kDisplayName) + " Configurator";

// A value of a desktop entry key: the escapes of the format for backslash and line breaks.
std::string desktop_string(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default: out.push_back(c);
    }
  }
  return out;
}

// One argument of an Exec line: quoted, with the characters the launcher treats specially
// escaped, and % doubled (field codes), then escaped once more as a desktop string.
std::string exec_argument(const std::string& text) {
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') quoted.push_back('\\');
    if (c == '%') quoted.push_back('%');
    quoted.push_back(c);
  }
  quoted.push_back('"');
  return desktop_string(quoted);
}

int write_whole_file(const std::string& path, const std::string& text) {
  std::string temp = path + ".XXXXXX";
  int fd = mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) return errno;
  int result = 0;
  std::size_t done = 0;
  while (done < text.size()) {
    ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      result = errno;
      break;
    }
    done += static_cast<std::size_t>(n);
  }
  if (result == 0 && fchmod(fd, 0644) != 0) result = errno;
  if (close(fd) != 0 && result == 0) result = errno;
  if (result == 0 && rename(temp.c_str(), path.c_str()) != 0) result = errno;
  if (result != 0) unlink(temp.c_str());
  return result;
}

}  // namespace

std::optional<ShortcutPlan> plan_shortcuts(const char* host_name, int shortcut_mode) {
  if (host_name == nullptr) return std::nullopt;
  std::string host = host_name;
  ShortcutPlan plan;
  plan.editor_link = kEditorLink;
  plan.help_link = std::string(kDisplayName) + " Help";
  bool known = host == "iFIX" || host == "FIX Dynamics" || host == "Intellution FIX";
  if (!known) {
    plan.group = host;
    plan.help_link = kEditorLink + " Help";
  } else if (shortcut_mode == 0) {
    plan.all_users = false;
    plan.group = "Intellution FIX";
  } else {
    plan.group = host == "iFIX" ? "iFIX" : "FIX Dynamics";
  }
  return plan;
}

bool valid_group(const std::string& group) {
  std::string path = group;
  for (char& c : path)
    if (c == '\\') c = '/';
  for (std::size_t start = 0; start <= path.size();) {
    std::size_t end = path.find('/', start);
    if (path.substr(start, end - start) == "..") return false;
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return true;
}

std::string applications_folder(bool all_users) {
  if (all_users) {
    std::string dirs = platform::env_or("XDG_DATA_DIRS", "/usr/local/share/:/usr/share/");
    std::string first = dirs.substr(0, dirs.find(':'));
    if (first.empty()) first = "/usr/local/share";
    return join_path(first, "applications");
  }
  std::string home = platform::env_or("HOME", "");
  return join_path(platform::env_or("XDG_DATA_HOME", join_path(home, ".local/share")), "applications");
}

std::string desktop_entry(const std::string& name, const std::string& comment, const std::string& exec_program,
                          const std::string& exec_arg, const std::string& directory) {
  std::string exec = exec_argument(exec_program);
  if (!exec_arg.empty()) exec += " " + exec_argument(exec_arg);
  return "[Desktop Entry]\n"
         "Type=Application\n"
         "Version=1.0\n"
         "Name=" + desktop_string(name) + "\n"
         "Comment=" + desktop_string(comment) + "\n"
         "Exec=" + exec + "\n"
         "Path=" + desktop_string(directory) + "\n"
         "Terminal=false\n"
         "Categories=Development;Engineering;\n";
}

int create_shortcuts(const ShortcutPlan& plan, const ShortcutTargets& targets, std::string* failed_path,
                     ShortcutRecord* record) {
  ShortcutRecord local;
  ShortcutRecord& done = record ? *record : local;
  if (!valid_group(plan.group)) {
    *failed_path = plan.group;
    return EINVAL;
  }
  std::string group = plan.group;
  for (char& c : group)
    if (c == '\\') c = '/';
  std::string folder = join_path(applications_folder(plan.all_users), group);
  if (int e = make_directories(folder, &done.created_folders)) {
    *failed_path = folder;
    return e;
  }
  std::string description = std::string(kDisplayName) + " Configurator";
  std::string editor = join_path(folder, plan.editor_link + ".desktop");
  if (int e = write_whole_file(editor, desktop_entry(description, description, targets.editor, "", targets.directory))) {
    *failed_path = editor;
    return e;
  }
  done.launchers.push_back(editor);
  std::string help = join_path(folder, plan.help_link + ".desktop");
  std::string help_description = description + " Help";
  if (int e = write_whole_file(help, desktop_entry(help_description, help_description, "xdg-open", targets.help,
                                                   targets.directory))) {
    *failed_path = help;
    return e;
  }
  done.launchers.push_back(help);
  return 0;
}

}  // namespace hbt::setup
