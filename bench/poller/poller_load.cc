// Whole-process load of the poller against mcsim on loopback: requests per second per
// channel, the poller's share of a core and its tick lateness, with every record due every
// tick ("busy") or with many records none of which is due ("idle").
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "testsupport/mcsim_peer.h"

namespace {

using namespace hbt;

struct Options {
  std::string mode = "busy";
  int channels = 32;
  int records = 4;  // busy: per channel; idle: in all
  int seconds = 10;
  bool tcp = false;
  std::string frame = "3e-binary";
  int words = 8;             // registers per busy record
  std::string ports_file;    // an mcsim already running: its --port-file
};

void usage() {
  std::fprintf(stderr,
               "Usage: poller_load [--mode busy|idle] [--channels N] [--records N] [--seconds N]\n"
               "                   [--tcp] [--frame 3e-binary|1e-binary|1e-ascii] [--words N]\n"
               "                   [--mcsim-ports FILE]\n"
               "busy: N records per channel, each due every tick (poll time 0.01 s).\n"
               "idle: N records in all, spread over the channels, read once and then not due.\n"
               "--mcsim-ports: use the endpoints of a running mcsim (its --port-file) that match\n"
               "the protocol and frame, instead of starting one.\n");
}

bool parse(int argc, char** argv, Options* o) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
    if (a == "--mode") {
      const char* v = value();
      if (!v) return false;
      o->mode = v;
    } else if (a == "--channels" || a == "--records" || a == "--seconds" || a == "--words") {
      const char* v = value();
      if (!v) return false;
      const int n = std::atoi(v);
      if (n <= 0) return false;
      (a == "--channels" ? o->channels : a == "--records" ? o->records : a == "--words" ? o->words : o->seconds) = n;
    } else if (a == "--mcsim-ports") {
      const char* v = value();
      if (!v) return false;
      o->ports_file = v;
    } else if (a == "--tcp") {
      o->tcp = true;
    } else if (a == "--frame") {
      const char* v = value();
      if (!v) return false;
      o->frame = v;
    } else {
      return false;
    }
  }
  if (o->mode == "idle" && o->records == 4) o->records = 10000;
  return (o->mode == "busy" || o->mode == "idle") && o->channels <= image::kMaxChannels &&
         (o->frame == "3e-binary" || o->frame == "1e-binary" || o->frame == "1e-ascii");
}

// CPU time of a process in nanoseconds (its threads' time on a CPU).
double cpu_ns(int pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/schedstat");
  double ns = 0;
  if (in >> ns) return ns;
  return 0;
}

// User and kernel CPU time of a process in seconds, from /proc/PID/stat.
struct CpuSplit {
  double user = 0, kernel = 0;
};
CpuSplit cpu_split(int pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::size_t close = text.rfind(')');
  if (close == std::string::npos) return {};
  std::istringstream fields(text.substr(close + 2));
  std::string field;
  CpuSplit cpu;
  // After the command: state is field 3; utime and stime are fields 14 and 15.
  for (int i = 3; i <= 15 && fields >> field; ++i) {
    if (i == 14) cpu.user = std::stod(field) / static_cast<double>(sysconf(_SC_CLK_TCK));
    if (i == 15) cpu.kernel = std::stod(field) / static_cast<double>(sysconf(_SC_CLK_TCK));
  }
  return cpu;
}

// The ports of a running mcsim's endpoints whose listen text is PROTOCOL:...:FRAME.
std::vector<std::uint16_t> external_ports(const std::string& file, bool tcp, const std::string& frame) {
  std::ifstream in(file);
  std::string plan;
  unsigned port;
  std::vector<std::uint16_t> ports;
  while (in >> plan >> port) {
    const std::string want_start = tcp ? "tcp:" : "udp:";
    if (plan.rfind(want_start, 0) == 0 && plan.size() > frame.size() &&
        plan.compare(plan.size() - frame.size(), frame.size(), frame) == 0)
      ports.push_back(static_cast<std::uint16_t>(port));
  }
  return ports;
}

std::string read_text(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!parse(argc, argv, &o)) {
    usage();
    return 2;
  }
  testsupport::TestEnvironment env;
  std::vector<std::uint16_t> ports;
  std::unique_ptr<testsupport::McsimPeer> own;
  if (!o.ports_file.empty()) {
    ports = external_ports(o.ports_file, o.tcp, o.frame);
    if (ports.size() < static_cast<std::size_t>(o.channels)) {
      std::fprintf(stderr, "poller_load: %s lists %zu endpoints of that kind, %d wanted\n", o.ports_file.c_str(),
                   ports.size(), o.channels);
      return 1;
    }
  } else {
    std::vector<std::string> listens(o.channels, std::string(o.tcp ? "tcp" : "udp") + ":0:" + o.frame);
    own = std::make_unique<testsupport::McsimPeer>(env.dir(), listens);
    if (!own->ready()) {
      std::fprintf(stderr, "poller_load: mcsim did not start\n%s", own->output().c_str());
      return 1;
    }
    own->ok("size D 20000");
    for (int c = 0; c < o.channels; ++c) ports.push_back(own->port(static_cast<std::size_t>(c)));
  }

  testsupport::ConfigSpec plan;
  plan.channels.clear();
  const bool busy = o.mode == "busy";
  int left = o.records;
  for (int c = 0; c < o.channels; ++c) {
    testsupport::ChannelSpec ch;
    ch.ip_port = ports[static_cast<std::size_t>(c)];
    ch.tcp = o.tcp;
    ch.devices.clear();
    int count = busy ? o.records : (left + (o.channels - c) - 1) / (o.channels - c);
    left -= count;
    for (int d = 0; count > 0; ++d) {
      testsupport::DeviceSpec dev;
      dev.name = "C" + std::to_string(c) + "D" + std::to_string(d);
      dev.cpu = o.frame == "3e-binary" ? image::CpuType::QSeries : image::CpuType::AnU;
      dev.coding = o.frame == "1e-ascii" ? image::Coding::Ascii : image::Coding::Binary;
      dev.records.clear();
      const int here = std::min(count, 255);
      for (int r = 0; r < here; ++r) {
        testsupport::RecordSpec rec;
        rec.type = image::RegisterType::D;
        // Within the 1E range of D (0..8191) for every frame.
        rec.start = static_cast<std::uint32_t>((d * 255 + r) * (busy ? o.words : 1) % 8000);
        rec.length = static_cast<std::uint16_t>(busy ? o.words : 1);
        rec.poll_time = busy ? 1 : 360000;
        dev.records.push_back(rec);
      }
      count -= here;
      ch.devices.push_back(dev);
    }
    plan.channels.push_back(ch);
  }

  const std::string tick_file = env.path("ticks.txt");
  setenv("HBT_TICK_STATS", tick_file.c_str(), 1);
  testsupport::PollerProcess poller(env, plan);
  unsetenv("HBT_TICK_STATS");
  if (!poller.mapped()) {
    std::fprintf(stderr, "poller_load: the poller did not start\n%s", poller.output().c_str());
    return 1;
  }
  const int total = poller.image().poll_record_count();
  const bool all_good = poller.eventually(
      [&] {
        for (int k = 0; k < total; ++k)
          if (poller.status(k) != image::kStatusGood) return false;
        return true;
      },
      120000);
  if (!all_good) {
    std::fprintf(stderr, "poller_load: not every record became good\n");
    return 1;
  }
  poller.eventually([] { return false; }, 1000);  // settle

  // Find the poller's process: the one that holds the image and counts the alive counter.
  int pid = -1;
  {
    std::ifstream in("/proc/self/task/" + std::to_string(getpid()) + "/children");
    std::string word;
    while (in >> word) {
      const std::string cmd = read_text("/proc/" + word + "/cmdline");
      if (cmd.find("HBTSPOLL") != std::string::npos) pid = std::stoi(word);
    }
  }
  if (pid < 0) {
    std::fprintf(stderr, "poller_load: cannot find the poller process\n");
    return 1;
  }
  std::vector<std::uint16_t> sent0(o.channels), received0(o.channels);
  for (int c = 0; c < o.channels; ++c) {
    sent0[c] = poller.channel(c).stats.requests_sent;
    received0[c] = poller.channel(c).stats.replies_received;
  }
  // The image watchdog counts the ticks the poller actually ran (late ones are fewer).
  auto watchdog = [&]() -> std::uint16_t {
    image::ImageHeader* header = poller.image().nio_map_hdr();
    // Another process writes it; a volatile read takes it from memory each time.
    return header ? *static_cast<volatile std::uint16_t*>(&header->watchdog) : 0;
  };
  const std::uint16_t ticks0 = watchdog();
  const double cpu0 = cpu_ns(pid);
  const CpuSplit split0 = cpu_split(pid);
  const std::int64_t t0 = platform::monotonic_ns();
  poller.eventually([] { return false; }, o.seconds * 1000);
  const double cpu1 = cpu_ns(pid);
  const CpuSplit split1 = cpu_split(pid);
  const double wall = static_cast<double>(platform::monotonic_ns() - t0);
  const int ticks_run = static_cast<std::uint16_t>(watchdog() - ticks0);
  double min_rate = 1e9, max_rate = 0, sum_rate = 0;
  for (int c = 0; c < o.channels; ++c) {
    const double rate = static_cast<std::uint16_t>(poller.channel(c).stats.requests_sent - sent0[c]) / (wall / 1e9);
    min_rate = std::min(min_rate, rate);
    max_rate = std::max(max_rate, rate);
    sum_rate += rate;
  }
  int timeouts = 0, rejected = 0;
  std::string which;
  for (int c = 0; c < o.channels; ++c) {
    timeouts += poller.channel(c).stats.reply_timeouts;
    rejected += poller.channel(c).stats.rejected_replies;
    if (poller.channel(c).stats.reply_timeouts != 0) which += " " + std::to_string(c + 1);
  }
  const int code = poller.stop();
  std::string ticks = read_text(tick_file);
  ticks = ticks.substr(0, ticks.find('\n'));

  std::printf("mode=%s channels=%d records=%d protocol=%s frame=%s seconds=%.1f\n", o.mode.c_str(), o.channels, total,
              o.tcp ? "tcp" : "udp", o.frame.c_str(), wall / 1e9);
  std::printf("requests_per_second_per_channel min=%.1f mean=%.1f max=%.1f\n", min_rate, sum_rate / o.channels,
              max_rate);
  std::printf("poller_cpu_percent_of_one_core=%.2f\n", 100.0 * (cpu1 - cpu0) / wall);
  // Per tick the poller ran: on a loaded machine ticks come late and fewer, and the share
  // of a core alone would make the poller look cheaper than it is.
  std::printf("poller_cpu_us_per_tick=%.1f ticks=%d\n", ticks_run > 0 ? (cpu1 - cpu0) / 1e3 / ticks_run : 0.0,
              ticks_run);
  const double requests = sum_rate * wall / 1e9;
  const double user = split1.user - split0.user, kernel = split1.kernel - split0.kernel;
  std::printf("requests=%.0f requests_per_second=%.1f cpu_user_s=%.3f cpu_kernel_s=%.3f cpu_us_per_request=%.2f\n",
              requests, sum_rate, user, kernel, requests > 0 ? (cpu1 - cpu0) / 1e3 / requests : 0.0);
  std::printf("reply_timeouts=%d rejected_replies=%d poller_exit=%d%s%s\n", timeouts, rejected, code,
              which.empty() ? "" : " timeouts_on_channels", which.c_str());
  std::printf("%s (whole run, start-up included)\n", ticks.c_str());
  return 0;
}
