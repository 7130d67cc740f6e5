#include "tools/hbtio/watchdog.h"

#include "platform/clock.h"
#include "tools/hbtio/host_api.h"

namespace hbt::hbtio {

WatchdogSample sample_watchdog(int interval_ms) {
  WatchdogSample s;
  HostApi api;
  if (!api.ok()) return s;
  s.available = true;
  char text[128] = {};
  api.get_server_status(text, nullptr);
  s.server_status = text;
  s.first = api.get_watchdog();
  platform::sleep_ms(interval_ms);
  s.second = api.get_watchdog();
  s.advancing = s.first != s.second;
  return s;
}

}  // namespace hbt::hbtio
