// The system event log, for problems that have no caller to report to.
#pragma once

#include <string_view>

namespace hbt::platform {

enum class EventType { Error, Warning, Information };

// Writes one entry under the given source name. Never fails visibly.
void report_event(std::string_view source, EventType type, std::string_view text);

}  // namespace hbt::platform
