#include "tools/hbtio/host_api.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "image/message_ring.h"
#include "platform/process.h"
#include "tools/hbtio/driver_access.h"

namespace hbt::hbtio {

struct HostApi::Ring {
  DriverAccess driver{false};
  std::unique_ptr<image::RingReader> reader;
};

namespace {

std::string library_path() {
  if (const char* path = std::getenv("HBT_HOSTLIB"); path && *path) return path;
  // The build and package tree keep libraries in ../lib, an installed node folder beside the
  // program. Explicit paths, because a run-path search depends on which object calls dlopen.
  std::string folder = platform::directory_of(platform::program_path());
  for (const char* relative : {"/../lib/HBTSTSR.so", "/HBTSTSR.so"}) {
    std::string path = folder + relative;
    if (access(path.c_str(), R_OK) == 0) return path;
  }
  return "HBTSTSR.so";
}

bool verbose() {
  const char* v = std::getenv("HBTIO_VERBOSE");
  return v && std::strcmp(v, "1") == 0;
}

}  // namespace

template <typename F>
void HostApi::bind(F* target, const char* name) {
  *target = reinterpret_cast<F>(dlsym(handle_, name));
  if (*target == nullptr && error_.empty()) error_ = path_ + " has no " + name;
}

HostApi::HostApi() : path_(library_path()) {
  handle_ = dlopen(path_.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle_ == nullptr) {
    const char* why = dlerror();
    error_ = why ? why : "cannot load " + path_;
    return;
  }
  bind(&paddr, "nio_paddr");
  bind(&daddr, "nio_daddr");
  bind(&psig, "nio_psig");
  bind(&popt, "nio_popt");
  bind(&readEx, "nio_readEx");
  bind(&sendEx, "nio_sendEx");
  bind(&enable_options, "nio_enable_options");
  bind(&on, "nio_on");
  bind(&off, "nio_off");
  bind(&fetch, "nio_fetch");
  bind(&enum_devices, "nio_Enum_Devices");
  bind(&enum_pollrecs, "nio_Enum_PollRecs");
  bind(&free, "nio_Free");
  bind(&read_stats, "nio_read_stats");
  bind(&reset_stats, "nio_reset_stats");
  bind(&get_watchdog, "nio_get_Watchdog");
  bind(&get_server_status, "nio_get_ServerStatus");
  // The library has made the pointer block by now; its messages are read back from the ring.
  ring_ = std::make_unique<Ring>();
  if (ring_->driver.block) ring_->reader = std::make_unique<image::RingReader>(ring_->driver.block);
}

HostApi::~HostApi() {
  ring_.reset();
  if (handle_) dlclose(handle_);
}

std::vector<std::string> HostApi::new_messages() {
  std::vector<std::string> out;
  if (!ring_ || !ring_->reader) return out;
  while (auto m = ring_->reader->next())
    if (m->text.rfind("NIO-", 0) == 0) out.push_back(m->text);
  return out;
}

void HostApi::report_messages(bool failed) {
  const bool show = failed || verbose();
  for (const auto& m : new_messages())
    if (show) std::fprintf(stderr, "hbtio: %s\n", m.c_str());
}

std::string status_text(NioStatus status) {
  switch (status) {
    case 0: return "ok";
    case 100: return "output buffer missing or too small";
    case 203: return "enumeration without room";
    case 510: return "request not usable for this point";
    case 514: return "address not resolvable or outside its poll record";
    case 516: return "signal conditioning or options refused";
    case 519: return "kind not valid for the poll record's data type";
    case 520: return "registered";
    case 521: return "exception reporting disabled for the poll record";
    case 522: return "already registered";
  }
  return "status " + std::to_string(status);
}

}  // namespace hbt::hbtio
