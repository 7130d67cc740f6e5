#include "testsupport/driver_setup.h"

#include "image/niolib.h"
#include "platform/registry.h"

#ifndef HBT_BIN_DIR
#define HBT_BIN_DIR "."
#endif

namespace hbt::testsupport {

namespace reg = platform::registry;

std::string install_configuration_bytes(const TestEnvironment& env, const std::string& bytes,
                                        const std::string& file) {
  std::string path = env.path(file);
  write_file(path, bytes);
  reg::set_string(reg::Hive::LocalMachine, image::kDriverConfigKey, "ConfigFile", path);
  return path;
}

std::string install_configuration(const TestEnvironment& env, const ConfigSpec& plan, const std::string& file) {
  return install_configuration_bytes(env, build_configuration(plan), file);
}

std::string poller_path() { return std::string(HBT_BIN_DIR) + "/HBTSPOLL"; }

void install_driver_exe(const std::string& arguments) {
  std::string command = poller_path();
  if (!arguments.empty()) command += " " + arguments;
  reg::set_string(reg::Hive::LocalMachine, image::kDriverConfigKey, "DriverExe", command);
}

}  // namespace hbt::testsupport
