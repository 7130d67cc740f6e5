// HBTSTSR.so as hbtio uses it: loaded with dlopen and reached through its nio_* exports,
// exactly as a SCADA host does. Loading it attaches this process as a client of the driver
// (and starts the poller when none runs); unloading detaches.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "hostlib/nio_exports.h"
#include "image/layout.h"

namespace hbt::hbtio {

class HostApi {
 public:
  // Loads the library: $HBT_HOSTLIB, else ../lib/HBTSTSR.so beside this program, else the
  // loader's search path. On failure ok() is false and error() says why.
  HostApi();
  ~HostApi();
  HostApi(const HostApi&) = delete;
  HostApi& operator=(const HostApi&) = delete;

  bool ok() const { return handle_ != nullptr && error_.empty(); }
  const std::string& error() const { return error_; }
  const std::string& path() const { return path_; }

  decltype(&::nio_paddr) paddr = nullptr;
  decltype(&::nio_daddr) daddr = nullptr;
  decltype(&::nio_psig) psig = nullptr;
  decltype(&::nio_popt) popt = nullptr;
  decltype(&::nio_readEx) readEx = nullptr;
  decltype(&::nio_sendEx) sendEx = nullptr;
  decltype(&::nio_enable_options) enable_options = nullptr;
  decltype(&::nio_on) on = nullptr;
  decltype(&::nio_off) off = nullptr;
  decltype(&::nio_fetch) fetch = nullptr;
  decltype(&::nio_Enum_Devices) enum_devices = nullptr;
  decltype(&::nio_Enum_PollRecs) enum_pollrecs = nullptr;
  decltype(&::nio_Free) free = nullptr;
  decltype(&::nio_read_stats) read_stats = nullptr;
  decltype(&::nio_reset_stats) reset_stats = nullptr;
  decltype(&::nio_get_Watchdog) get_watchdog = nullptr;
  decltype(&::nio_get_ServerStatus) get_server_status = nullptr;

  // The library's own messages ("NIO-...") since the last call, read from the message ring.
  std::vector<std::string> new_messages();
  // Shows them on standard error (always when HBTIO_VERBOSE=1, else only when asked).
  void report_messages(bool failed);

 private:
  template <typename F>
  void bind(F* target, const char* name);

  void* handle_ = nullptr;
  std::string path_;
  std::string error_;
  struct Ring;
  std::unique_ptr<Ring> ring_;
};

// The host status word of a call, in words.
std::string status_text(NioStatus status);

}  // namespace hbt::hbtio
