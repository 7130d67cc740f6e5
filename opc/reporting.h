// The server's two reporting channels: the event log (source "ROVUDE") for problems without
// a caller, and the host library's message ring through nio_SendMsg.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace hbt::opc {

inline constexpr std::int16_t kColourClient = 2;   // client activity
inline constexpr std::int16_t kColourError = 3;    // item and clean-up errors
inline constexpr std::int16_t kColourPollFailure = 70;

// One event-log record; `raw` is the record's data ("HBT", "ROVUDE" or none).
void log_event(std::string_view text, std::string_view raw = "HBT");
void send_message(std::int16_t colour, const std::string& text);

// Tests watch the event log through this; an empty function restores the system log.
void set_event_observer(std::function<void(const std::string& text, const std::string& raw)> observer);

}  // namespace hbt::opc
