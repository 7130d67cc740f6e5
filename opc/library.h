// Process-wide state of the OPC server library: the host entry points, the load time, the
// vendor text, the counts DllCanUnloadNow answers from, the server table and the bandwidth
// thread. Created by the library attach, torn down by the detach.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "opc/host_api.h"
#include "opc/wake_event.h"

namespace hbt::opc {

class COPCDrvServer;

struct Library {
  HostApi host;
  IMalloc* task_allocator = nullptr;
  FILETIME load_time{};
  std::atomic<std::int32_t> alive{0};  // the watchdog-changed flag last seen by a poll cycle
  // Looks at the watchdog the host library has answered in this process. It compares each
  // look with the one two before, and the first two with nothing, so those two say nothing.
  std::atomic<std::uint32_t> watchdog_looks{0};

  std::atomic<std::int32_t> live_servers{0};
  std::atomic<std::int32_t> locks{0};

  // The server table, keyed by serial number, and the bandwidth thread it drives.
  std::mutex server_table_mutex;
  std::map<std::uint32_t, COPCDrvServer*> servers;
  std::uint32_t next_serial = 1;
  struct BandwidthStop {
    std::atomic<bool> running{true};
    WakeEvent wake;
  };
  std::thread bandwidth_thread;
  // Poll threads that destroyed their own server object: joined before the library goes (and
  // when the next server starts), so that none still runs the library's code once unloaded.
  std::vector<std::thread> retired_threads;
  std::shared_ptr<BandwidthStop> bandwidth_stop;  // each thread has its own, so a restart never meets a stopping one
};

Library& library();

// Attach: host entry points, vendor text, load time, settings. False when the library cannot
// serve (reported to the event log).
bool library_attach(const HostApi& host);
void library_detach();

// The host's status text (up to 127 characters), refreshed by this call.
std::string refresh_vendor_text();

// Server table: entering a server starts the bandwidth thread if none runs; removing the
// last one stops it. Returns the serial number.
std::uint32_t enter_server(COPCDrvServer* server);
void remove_server(std::uint32_t serial);
bool server_table_empty();

// The process ends (or the library goes) with servers a client never released: their poll
// threads are stopped and waited for a bounded time, the bandwidth thread is stopped. What
// those servers hold stays, and so does the library's state while they exist: the process's
// end takes them, as a Windows process's end takes its DLLs' objects.
void stop_for_process_exit();

// A poll thread that is ending on its own, for the library to join.
void retire_thread(std::thread thread);
// Joins the retired threads (never the calling one).
void join_retired_threads();

}  // namespace hbt::opc
