// The value history of --history FILE: one line per change of a register or point, written
// at once, "MS TYPE NUMBER VALUE" with MS the monotonic clock in milliseconds (the clock
// other processes on the host read as CLOCK_MONOTONIC), TYPE the register name ("D", "EX2"
// for extension block 2), NUMBER decimal, VALUE decimal. Lets a test check that a value a
// client read was held by that very register at the time.
#pragma once

#include <string>

namespace hbt::mcsim {

// Starts writing the history of every memory to `path` (replaced). False with a message
// when the file cannot be made.
bool start_history(const std::string& path, std::string* error);

}  // namespace hbt::mcsim
