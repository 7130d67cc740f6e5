#include "mqtt/command_line.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <iostream>

#include "mqtt/node_service.h"

namespace hbt::mqtt {
namespace {

std::atomic<bool> stop_requested{false};

void on_signal(int) { stop_requested.store(true); }

constexpr const char* kUsage =
    "Usage: hbtmqtt --config FILE [--check]\n"
    "\n"
    "Publishes the driver's values to an MQTT broker as a Sparkplug B edge node: NBIRTH and\n"
    "one device per PLC (DBIRTH, DDATA by exception, DDEATH), writes from DCMD, rebirth from\n"
    "NCMD, store and forward while the broker or the primary host is away.\n"
    "\n"
    "  --config FILE  the settings file: broker, TLS files, username and password, group and\n"
    "                 edge node ids, primary host id, publish interval, store-and-forward folder\n"
    "                 and size, tag file, deadbands (see the README)\n"
    "  --check        read and check the settings, print what they resolve to, and exit\n"
    "  --help         this text\n"
    "\n"
    "Runs in the foreground and logs to standard error. SIGTERM or SIGINT: NDEATH, then exit 0.\n"
    "Exit status: 0 stopped cleanly, 1 bad settings or a broker that refuses the node, 2 wrong usage.\n";

void log_line(std::string_view line) {
  std::fprintf(stderr, "hbtmqtt: %.*s\n", static_cast<int>(line.size()), line.data());
  std::fflush(stderr);
}

void print_settings(const Settings& s) {
  std::printf("broker             %s://%s:%u\n", s.tls ? "mqtts" : "mqtt", s.host.c_str(), s.port);
  std::printf("client id          %s\n", s.client_id.c_str());
  std::printf("username           %s\n", s.username.empty() ? "(none)" : s.username.c_str());
  std::printf("group / edge node  %s / %s\n", s.group_id.c_str(), s.edge_node_id.c_str());
  std::printf("primary host       %s\n", s.primary_host_id.empty() ? "(none)" : s.primary_host_id.c_str());
  std::printf("publish interval   %u ms\n", s.publish_interval_ms);
  std::printf("store and forward  %s (at most %llu bytes)\n", s.store_dir.c_str(),
              static_cast<unsigned long long>(s.store_max_bytes));
  std::printf("tag file           %s\n", s.tag_file.empty() ? "(none)" : s.tag_file.c_str());
  std::printf("deadband           %g\n", s.deadband);
}

}  // namespace

int hbtmqtt_main(int argc, char** argv, const SourceFactory& make_source) {
  std::string config;
  bool check = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (arg == "--config" && i + 1 < argc) {
      config = argv[++i];
    } else if (arg.rfind("--config=", 0) == 0) {
      config = arg.substr(9);
    } else if (arg == "--check") {
      check = true;
    } else {
      std::fprintf(stderr, "hbtmqtt: unknown argument \"%s\"\n\n%s", arg.c_str(), kUsage);
      return 2;
    }
  }
  if (config.empty()) {
    std::fprintf(stderr, "hbtmqtt: --config FILE is needed\n\n%s", kUsage);
    return 2;
  }
  std::string error;
  auto settings = load_settings(config, error);
  if (!settings) {
    std::fprintf(stderr, "hbtmqtt: bad configuration: %s\n", error.c_str());
    return 1;
  }
  if (check) {
    print_settings(*settings);
    return 0;
  }

  struct sigaction action {};
  action.sa_handler = on_signal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
  std::signal(SIGPIPE, SIG_IGN);

  std::unique_ptr<PointSource> source = make_source(*settings, error);
  if (!source) {
    std::fprintf(stderr, "hbtmqtt: %s\n", error.c_str());
    return 1;
  }
  log_line("edge node " + settings->group_id + "/" + settings->edge_node_id + " for broker " + settings->host + ":" +
           std::to_string(settings->port));
  NodeService service(*settings, *source, log_line);
  const int status = service.run(stop_requested, error);
  if (status != 0) std::fprintf(stderr, "hbtmqtt: %s\n", error.c_str());
  return status;
}

}  // namespace hbt::mqtt
