#include "platform/event_log.h"

#include <syslog.h>

#include <string>

namespace hbt::platform {

void report_event(std::string_view source, EventType type, std::string_view text) {
  // openlog keeps the ident pointer, so it must outlive the call.
  static thread_local std::string ident;
  ident.assign(source);
  int priority = type == EventType::Error     ? LOG_ERR
                 : type == EventType::Warning ? LOG_WARNING
                                              : LOG_INFO;
  openlog(ident.c_str(), LOG_PID, LOG_USER);
  syslog(priority, "%.*s", static_cast<int>(text.size()), text.data());
  closelog();
}

}  // namespace hbt::platform
