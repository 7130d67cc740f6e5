// hbtopc status: what the server says about itself (IOPCServer::GetStatus).
#include <cstdio>

#include "tools/hbtio/json.h"
#include "commands.h"
#include "session.h"

namespace hbt::hbtopc {

namespace {

const char* state_name(OPCSERVERSTATE s) {
  switch (s) {
    case OPC_STATUS_RUNNING: return "running";
    case OPC_STATUS_FAILED: return "failed";
    case OPC_STATUS_NOCONFIG: return "noconfig";
    case OPC_STATUS_SUSPENDED: return "suspended";
    case OPC_STATUS_TEST: return "test";
    case OPC_STATUS_COMM_FAULT: return "comm_fault";
  }
  return "unknown";
}

}  // namespace

int cmd_status(const Options& options) {
  Session session;
  std::string error;
  if (!session.connect(options.server, &error)) {
    std::fprintf(stderr, "hbtopc: %s\n", error.c_str());
    return 1;
  }
  // A fresh server has not yet seen the poller's watchdog move: give it the time to.
  session.wait_until_running(kRunningWaitMs);
  OPCSERVERSTATUS* status = nullptr;
  HRESULT hr = session.server()->GetStatus(&status);
  if (FAILED(hr) || !status) {
    std::fprintf(stderr, "hbtopc: GetStatus failed: %s\n", session.error_text(hr).c_str());
    return 1;
  }
  std::string version = std::to_string(status->wMajorVersion) + "." + std::to_string(status->wMinorVersion) + "." +
                        std::to_string(status->wBuildNumber);
  std::string vendor = narrow(status->szVendorInfo);
  if (options.json) {
    hbtio::JsonLine()
        .field("server", options.server)
        .field("state", state_name(status->dwServerState))
        .field("vendor", vendor)
        .field("version", version)
        .field("groups", static_cast<std::int64_t>(status->dwGroupCount))
        .field("bandwidth", static_cast<std::int64_t>(status->dwBandWidth))
        .field("start_time", filetime_text(status->ftStartTime))
        .field("current_time", filetime_text(status->ftCurrentTime))
        .print();
  } else {
    std::printf("server     %s\nstate      %s\nvendor     %s\nversion    %s\ngroups     %u\nbandwidth  %u%%\n"
                "started    %s\nnow        %s\n",
                options.server.c_str(), state_name(status->dwServerState), vendor.c_str(), version.c_str(),
                status->dwGroupCount, status->dwBandWidth, filetime_text(status->ftStartTime).c_str(),
                filetime_text(status->ftCurrentTime).c_str());
  }
  CoTaskMemFree(status->szVendorInfo);
  CoTaskMemFree(status);
  return 0;
}

}  // namespace hbt::hbtopc
