#include "setup/opc_registration.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "setup/child_program.h"
#include "setup/file_queue.h"

namespace hbt::setup {

namespace {

constexpr const char* kRegistrationName = "hbtregsvr";
constexpr int kRegistrationTimeoutMs = 60000;

}  // namespace

std::string registration_program(const std::string& install_directory, const std::string& configured) {
  if (!configured.empty()) return configured;
  std::string program = join_path(install_directory, kRegistrationName);
  return access(program.c_str(), X_OK) == 0 ? program : kRegistrationName;
}

bool run_registration(const std::string& install_directory, const std::string& configured_program,
                      RegistrationStep step, const std::function<void(const std::string&, int)>& failed) {
  std::string command = "\"" + registration_program(install_directory, configured_program) + "\" " +
                        (step == RegistrationStep::kUnregister ? "/u /s" : "/s") + " \"" +
                        join_path(install_directory, kOpcServerName) + "\"";
  ChildOutcome outcome = run_to_end(command, install_directory, kRegistrationTimeoutMs);
  if (!outcome.started) {
    failed("Failed to start " + command + ": " + std::strerror(outcome.error), outcome.error);
  } else if (!outcome.finished) {
    failed(command + " did not finish within " + std::to_string(kRegistrationTimeoutMs / 1000) + " s", ETIMEDOUT);
  } else if (outcome.exit_code != 0) {
    failed(command + " failed with exit status " + std::to_string(outcome.exit_code), outcome.exit_code);
  } else {
    return true;
  }
  return false;
}

}  // namespace hbt::setup
