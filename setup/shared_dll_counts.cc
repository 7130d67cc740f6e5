#include "setup/shared_dll_counts.h"

#include <cerrno>

#include "platform/registry.h"
#include "setup/file_queue.h"

namespace hbt::setup {

void raise_shared_dll_counts(const std::string& system_directory,
                             const std::function<void(const std::string& value_name, int error)>& failed) {
  namespace registry = platform::registry;
  for (const char* file : {"OPCDAAuto.dll", "OPCProxy.dll", "opccomn_ps.dll"}) {
    std::string name = join_path(system_directory, file);
    std::uint32_t count = 0;
    if (auto value = registry::get_value(registry::Hive::LocalMachine, kSharedDllsKey, name)) {
      if (value->type != registry::ValueType::Dword) continue;
      count = value->dword;
    }
    if (!registry::set_dword(registry::Hive::LocalMachine, kSharedDllsKey, name, count + 1)) failed(name, errno);
  }
}

}  // namespace hbt::setup
