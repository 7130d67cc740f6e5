// Points the private registry of a test at a configuration file and at the poller program.
#pragma once

#include <string>

#include "testsupport/image_builder.h"
#include "testsupport/test_environment.h"

namespace hbt::testsupport {

// Writes the configuration to `file` in the scratch folder and records it as "ConfigFile".
std::string install_configuration(const TestEnvironment& env, const ConfigSpec& plan,
                                  const std::string& file = "TEST.HBT");
std::string install_configuration_bytes(const TestEnvironment& env, const std::string& bytes,
                                        const std::string& file = "TEST.HBT");

// Records the poller program (HBTSPOLL in the build's bin folder, with arguments) as "DriverExe".
void install_driver_exe(const std::string& arguments = "");

std::string poller_path();

}  // namespace hbt::testsupport
