// Thread priorities on the 1 to 15 scale of the server's settings, applied to the calling
// thread as a nice value.
#pragma once

#include <cstdint>
#include <optional>

namespace hbt::opc {

// Windows relative priority of a scale value (-15 idle ... 2 highest); none for values off
// the scale.
std::optional<int> windows_priority(std::uint32_t scale);
// Sets the calling thread's priority; false when the value is off the scale or the system
// refuses the change (raising needs privilege), and the priority is then unchanged.
bool set_thread_priority(std::uint32_t scale);

}  // namespace hbt::opc
