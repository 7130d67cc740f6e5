// Texts for system error numbers, in the form the driver's messages quote them.
#pragma once

#include <string>

namespace hbt::platform {

// Error number of the last failed system call on this thread.
int last_error();

// Human-readable text for an error number ("Connection refused").
std::string system_error_text(int error);

}  // namespace hbt::platform
