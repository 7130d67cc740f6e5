#include "opc/reporting.h"

#include <mutex>

#include "opc/identity.h"
#include "opc/library.h"
#include "platform/event_log.h"

namespace hbt::opc {
namespace {

std::mutex observer_mutex;

std::function<void(const std::string&, const std::string&)>& observer() {
  static std::function<void(const std::string&, const std::string&)> o;
  return o;
}

}  // namespace

void log_event(std::string_view text, std::string_view raw) {
  {
    std::lock_guard lock(observer_mutex);
    if (observer()) {
      observer()(std::string(text), std::string(raw));
      return;
    }
  }
  platform::report_event(kEventSource, platform::EventType::Information, text);
}

void send_message(std::int16_t colour, const std::string& text) {
  const HostApi& host = library().host;
  if (host.SendMsg) host.SendMsg(colour, text.c_str());
}

void set_event_observer(std::function<void(const std::string&, const std::string&)> o) {
  std::lock_guard lock(observer_mutex);
  observer() = std::move(o);
}

}  // namespace hbt::opc
