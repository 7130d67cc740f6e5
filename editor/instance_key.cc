#include "editor/instance_key.h"

#include <cctype>

#include "editor/host_settings.h"
#include "image/layout.h"
#include "platform/registry.h"

namespace hbt::editor {

namespace reg = hbt::platform::registry;

std::string host_key() {
  auto driver = reg::get_string(reg::Hive::LocalMachine, kDriverConfigKey, kDriverExeValue);
  std::string exe = driver.value_or("");
  for (char& c : exe) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (exe.find("FIX32") != std::string::npos) return std::string(kHostKeyFix32);
  if (exe.find("DYNAMICS") != std::string::npos) return std::string(kHostKeyDynamics);
  return std::string(kDriverOwnKey);
}

std::string host_value(std::string_view name) {
  return reg::get_string(reg::Hive::ClassesRoot, host_key() + "\\" + std::string(name), "").value_or("");
}

namespace {

std::string mark_key(std::string_view host) { return std::string(host) + "\\" + image::kAcronym; }

}  // namespace

std::optional<std::string> running_editor_mark() {
  return reg::get_string(reg::Hive::ClassesRoot, mark_key(host_key()), "");
}

bool write_editor_mark(std::string_view mark) {
  return reg::set_string(reg::Hive::ClassesRoot, mark_key(host_key()), "", mark);
}

void delete_editor_mark() {
  // Deleting only under FixDMACS would leave a stale mark under any other host key.
  reg::delete_key(reg::Hive::ClassesRoot, mark_key(host_key()));
  reg::delete_key(reg::Hive::ClassesRoot, mark_key(kHostKeyFix32));
}

}  // namespace hbt::editor
