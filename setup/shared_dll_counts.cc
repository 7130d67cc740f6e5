#include "setup/shared_dll_counts.h"

#include <cerrno>

#include "platform/registry.h"
#include "setup/file_queue.h"

namespace hbt::setup {

namespace registry = platform::registry;

std::vector<std::string> opc_support_count_names(const std::string& system_directory) {
  std::vector<std::string> names;
  for (const char* file : {"OPCDAAuto.dll", "OPCProxy.dll", "opccomn_ps.dll"})
    names.push_back(join_path(system_directory, file));
  return names;
}

std::vector<std::string> raise_shared_counts(const std::vector<std::string>& names,
                                             const std::function<void(const std::string& value_name, int error)>& failed) {
  std::vector<std::string> raised;
  for (const auto& name : names) {
    std::uint32_t count = 0;
    if (auto value = registry::get_value(registry::Hive::LocalMachine, kSharedDllsKey, name)) {
      if (value->type != registry::ValueType::Dword) continue;
      count = value->dword;
    }
    if (registry::set_dword(registry::Hive::LocalMachine, kSharedDllsKey, name, count + 1)) {
      raised.push_back(name);
    } else {
      failed(name, errno);
    }
  }
  return raised;
}

std::optional<std::uint32_t> lower_shared_count(const std::string& name, std::uint32_t by) {
  auto value = registry::get_value(registry::Hive::LocalMachine, kSharedDllsKey, name);
  if (!value) return 0;
  if (value->type != registry::ValueType::Dword) return std::nullopt;
  std::uint32_t left = value->dword > by ? value->dword - by : 0;
  bool ok = left == 0 ? registry::delete_value(registry::Hive::LocalMachine, kSharedDllsKey, name)
                      : registry::set_dword(registry::Hive::LocalMachine, kSharedDllsKey, name, left);
  if (!ok) return std::nullopt;
  return left;
}

}  // namespace hbt::setup
