#include "opc/library.h"

#include <chrono>
#include <cstdlib>
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
constexpr auto kExitGrace = std::chrono::milliseconds(2000);
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
  stop_for_process_exit();
  {
    std::lock_guard lock(state->server_table_mutex);
    if (!state->servers.empty() || state->live_servers.load() != 0) return;  // they keep what they use
  }
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
  // A client may end its process holding servers: their threads must stop before the
  // process's static objects go, not run on into them. Registered from this library, the hook
  // also runs when the library is unloaded, and at most once per load.
  static const bool exit_hook = std::atexit(stop_for_process_exit) == 0;
  (void)exit_hook;
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

void stop_for_process_exit() {
  if (state == nullptr) return;  // detached: nothing runs
  Library& lib = *state;
  std::vector<std::pair<std::shared_ptr<DoneFlag>, std::thread::id>> poll_threads;
  std::thread bandwidth;
  std::shared_ptr<Library::BandwidthStop> bandwidth_stop;
  {
    std::lock_guard lock(lib.server_table_mutex);
    try {
      for (auto& [serial, server] : lib.servers) {
        server->stop_for_exit();
        poll_threads.emplace_back(server->poll_thread_end(), server->poll_thread_id());
      }
    } catch (const std::bad_alloc&) {
      // The threads were told to stop all the same; they are not waited for.
    }
    bandwidth = std::move(lib.bandwidth_thread);
    bandwidth_stop = std::move(lib.bandwidth_stop);
  }
  // A poll thread inside a client's callback that does not return is left behind; one that
  // itself called exit() is the caller and is not waited for.
  const auto deadline = std::chrono::steady_clock::now() + kExitGrace;
  for (auto& [end, id] : poll_threads)
    if (id != std::this_thread::get_id()) end->wait_until(deadline);
  {
    std::lock_guard lock(lib.server_table_mutex);
    for (auto& [serial, server] : lib.servers) server->join_ended_poll_thread();
  }
  if (bandwidth.joinable()) {
    bandwidth_stop->running = false;
    bandwidth_stop->wake.signal();
    bandwidth.join();
  }
  join_retired_threads();
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
