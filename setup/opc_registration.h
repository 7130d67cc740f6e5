// Registration of the installed OPC server by the registration program (hbtregsvr, or the one
// the settings name), run to its end so that its result and what it wrote are known.
#pragma once

#include <functional>
#include <string>

namespace hbt::setup {

inline constexpr const char* kOpcServerName = "HBTOPC.so";

enum class RegistrationStep { kRegister, kUnregister };

// The program: `configured` when not empty, else hbtregsvr of the install directory when it
// can be run, else hbtregsvr along PATH.
std::string registration_program(const std::string& install_directory, const std::string& configured);

// Runs `"PROGRAM" /s "INSTALL/HBTOPC.so"` (with /u to unregister) in the install directory
// and waits for it, at most a minute. True when it exited with 0; otherwise `failed` gets a
// message and an error number.
bool run_registration(const std::string& install_directory, const std::string& configured_program,
                      RegistrationStep step, const std::function<void(const std::string&, int)>& failed);

}  // namespace hbt::setup
