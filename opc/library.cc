#include "opc/library.h"

#include <chrono>
#include <cstring>
#include <new>

#include "com/filetime.h"
#include "opc/identity.h"
#include "opc/reporting.h"
#include "opc/server.h"
#include "opc/settings.h"
#include "opc/thread_priority.h"

namespace hbt::opc {
namespace {

Library* state = nullptr;

// The host library's text buffer is shared by every caller of the process.
std::mutex vendor_mutex;
char vendor_text[128];

constexpr auto kBandwidthPeriod = std::chrono::milliseconds(500);
constexpr std::uint32_t kBandwidthPriority = 13;

void bandwidth_loop(std::shared_ptr<Library::BandwidthStop> stop) {
  Library& lib = library();
  if (!set_thread_priority(kBandwidthPriority)) log_event("Unable to change bandwidth thread priority", kEventSource);
  while (stop->running.load()) {
    stop->wake.wait_for(kBandwidthPeriod);
    if (!stop->running.load()) break;
    std::lock_guard lock(lib.server_table_mutex);
    for (auto& [serial, server] : lib.servers) server->take_bandwidth_sample();
  }
}

// Called with the server-table mutex held.
void start_bandwidth_thread(Library& lib) {
  if (lib.bandwidth_thread.joinable()) return;
  lib.bandwidth_stop = std::make_shared<Library::BandwidthStop>();
  lib.bandwidth_thread = std::thread(bandwidth_loop, lib.bandwidth_stop);
}

}  // namespace

Library& library() {
  static Library fallback;  // before attach and after detach: empty host table, no servers
  return state ? *state : fallback;
}

bool library_attach(const HostApi& host) {
  state = new Library();
  state->host = host;
  refresh_vendor_text();
  CoFileTimeNow(&state->load_time);
  if (FAILED(CoGetMalloc(1, &state->task_allocator)) || !state->task_allocator) {
    log_event(identity().imalloc_failure, "");
    delete state;
    state = nullptr;
    return false;
  }
  set_settings(load_settings());
  return true;
}

void library_detach() {
  if (!state) return;
  join_retired_threads();
  if (state->task_allocator) state->task_allocator->Release();
  delete state;
  state = nullptr;
}

std::string refresh_vendor_text() {
  std::lock_guard lock(vendor_mutex);
  const HostApi& host = library().host;
  if (host.get_ServerStatus) host.get_ServerStatus(vendor_text, nullptr);
  vendor_text[sizeof vendor_text - 1] = 0;
  return vendor_text;
}

std::uint32_t enter_server(COPCDrvServer* server) {
  join_retired_threads();
  Library& lib = library();
  std::lock_guard lock(lib.server_table_mutex);
  std::uint32_t serial = lib.next_serial++;
  lib.servers[serial] = server;
  start_bandwidth_thread(lib);
  return serial;
}

void remove_server(std::uint32_t serial) {
  Library& lib = library();
  std::thread stopping;
  std::shared_ptr<Library::BandwidthStop> stop;
  {
    std::lock_guard lock(lib.server_table_mutex);
    lib.servers.erase(serial);
    if (!lib.servers.empty() || !lib.bandwidth_thread.joinable()) return;
    stopping = std::move(lib.bandwidth_thread);
    stop = std::move(lib.bandwidth_stop);
  }
  // Joined outside the table lock, which the thread takes on its way.
  stop->running = false;
  stop->wake.signal();
  stopping.join();
}

void retire_thread(std::thread thread) {
  Library& lib = library();
  std::lock_guard lock(lib.server_table_mutex);
  try {
    lib.retired_threads.push_back(std::move(thread));
  } catch (const std::bad_alloc&) {
    thread.detach();  // out of memory: it ends on its own all the same
  }
}

void join_retired_threads() {
  Library& lib = library();
  std::vector<std::thread> joining;
  {
    std::lock_guard lock(lib.server_table_mutex);
    for (auto it = lib.retired_threads.begin(); it != lib.retired_threads.end();) {
      if (it->get_id() == std::this_thread::get_id()) {
        ++it;
        continue;
      }
      joining.push_back(std::move(*it));
      it = lib.retired_threads.erase(it);
    }
  }
  for (std::thread& t : joining) t.join();
}

bool server_table_empty() {
  Library& lib = library();
  std::lock_guard lock(lib.server_table_mutex);
  return lib.servers.empty();
}

}  // namespace hbt::opc
