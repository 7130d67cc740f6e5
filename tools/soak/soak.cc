// hbt_soak: the whole driver under faults for a while, with an oracle.
//
// 32 channels (UDP and TCP; 3E binary, 1E binary, 1E ASCII) poll mcsim, whose counters move
// and whose every register change is logged with its time (--history). Faults are switched on
// random channels every few seconds (drops, replies later than the reply timeout, split and
// joined replies, closed connections, abnormal codes, silence, refused connections); a host
// reads and writes through HBTSTSR.so from two threads; the configuration is reloaded now and
// then, the poller held stopped for a while on about half the reloads, and now and then the poller
// is frozen (SIGSTOP) for a moment, as a hung process would be. An OPC client in a process
// of its own subscribes through the OPC server to every register of the first channels
// (opc_leg.h), judged by an oracle of its own (opc_oracle.h). The host's oracle checks
// - every value read with good status was held by that very register within the window
//   before the read (poll time + 4 x (retries + 1) x reply timeout + 300 ms);
// - every write reported as queued reaches the PLC, unless its record reported a failure or
//   a reload discarded it;
// - once a fault ends, both records of its channel read good again within a bound;
// - the poller never exits and its memory stays flat.
// Prints a summary; exit 0 only without violations.
#include <dlfcn.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "hostlib/nio_types.h"
#include "platform/clock.h"
#include "testsupport/mcsim_peer.h"
#include "testsupport/process_stats.h"
#include "tools/soak/opc_leg.h"
#include "tools/soak/opc_oracle.h"
#include "tools/soak/register_history.h"
#include "tools/soak/violations.h"

namespace {

using namespace hbt;
using hostlib::NioBlock;
using hostlib::NioFormat;
using hostlib::NioStatus;
using hostlib::NioValue;
using testsupport::cpu_seconds;
using testsupport::rss_kb;

constexpr int kChannels = 32;
constexpr int kMoving = 6;      // moving counters per channel, D base .. base+5
constexpr int kWriteRegs = 3;   // written by the host, D base+50 .. base+52
constexpr int kPollTime = 20;   // 1/100 s
constexpr int kWritePollTime = 50;
constexpr int kReplyTimeout = 30;  // 1/100 s
constexpr double kSlackMs = 300;
// Turns of a channel from one read of a record to its next: a write, the other record's read,
// another write, the record's own read.
constexpr double kTurnsBetweenReads = 4;
constexpr double kWriteDeadlineMs = 15000;
// The OPC leg subscribes to every register of the first channels: two of each transport and
// frame (channel c is TCP when odd, its frame c % 3), with and without retries.
constexpr int kOpcChannels = 12;
constexpr int kOpcUpdateRate = 100;      // ms
constexpr int kOpcThreadSleepTime = 40;  // the server's default poll-thread wait, ms

double now_ms() { return static_cast<double>(platform::monotonic_ns()) / 1e6; }

struct Options {
  int seconds = 60;
  unsigned seed = 1;
  std::vector<std::string> faults;  // kinds of fault to inject; empty: every kind
};

// ---- The host library, loaded as a host loads it.
struct Host {
  void* handle = nullptr;
  NioStatus (*paddr)(NioStatus*, NioBlock*, NioFormat*, const char*) = nullptr;
  NioStatus (*psig)(NioStatus*, NioBlock*, NioFormat*, const char*) = nullptr;
  NioStatus (*read)(NioStatus*, NioBlock*, NioFormat*, NioValue*) = nullptr;
  NioStatus (*send)(NioStatus*, NioBlock*, NioFormat*, NioValue*) = nullptr;

  bool load(std::string* error) {
    handle = dlopen(HBT_LIB_DIR "/HBTSTSR.so", RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
      *error = dlerror();
      return false;
    }
    paddr = reinterpret_cast<decltype(paddr)>(dlsym(handle, "nio_paddr"));
    psig = reinterpret_cast<decltype(psig)>(dlsym(handle, "nio_psig"));
    read = reinterpret_cast<decltype(read)>(dlsym(handle, "nio_read"));
    send = reinterpret_cast<decltype(send)>(dlsym(handle, "nio_send"));
    if (!paddr || !psig || !read || !send) {
      *error = "HBTSTSR.so lacks an nio_ entry point";
      return false;
    }
    return true;
  }
};

struct Point {
  int channel = 0;
  int record = 0;  // poll record index
  std::uint32_t reg = 0;  // D register number
  hostlib::NioAddress address{};
  hostlib::NioDriverArea driver{};
  NioFormat format{};
  NioBlock block{nullptr, &address, &driver};
  std::mutex lock;  // one call at a time on a point's records
};

struct ReadSample {
  int point;
  double t0, t1;
  std::uint16_t value;
};

struct PendingWrite {
  int point;
  std::uint16_t value;
  double sent;
  int reloads;  // reload count when it was queued
};

int find_poller_pid() {
  std::ifstream in("/proc/self/task/" + std::to_string(getpid()) + "/children");
  std::string word;
  int pid = -1;
  while (in >> word) {
    std::ifstream cmd("/proc/" + word + "/cmdline");
    std::string text((std::istreambuf_iterator<char>(cmd)), std::istreambuf_iterator<char>());
    if (text.find("HBTSPOLL") != std::string::npos) pid = std::stoi(word);
  }
  return pid;
}

struct ChannelPlan {
  bool tcp;
  std::string frame;
  int retries;
  std::uint32_t base;
};

ChannelPlan channel_plan(int c) {
  const char* frames[] = {"3e-binary", "1e-binary", "1e-ascii"};
  // Retries 0 on half the channels, UDP and TCP alike: a failure must still recover with the
  // next poll.
  return ChannelPlan{c % 2 == 1, frames[c % 3], c % 4 == 0 || c % 4 == 3 ? 0 : 2,
                     static_cast<std::uint32_t>(100 + 200 * c)};
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--seconds" && i + 1 < argc) {
      o.seconds = std::atoi(argv[++i]);
    } else if (a == "--seed" && i + 1 < argc) {
      o.seed = static_cast<unsigned>(std::atoi(argv[++i]));
    } else if (a == "--faults" && i + 1 < argc) {
      // One kind alone shows how the driver copes with it, without the others' noise.
      std::stringstream kinds(argv[++i]);
      for (std::string kind; std::getline(kinds, kind, ',');)
        if (!kind.empty()) o.faults.push_back(kind);
    } else {
      std::fprintf(stderr,
                   "Usage: hbt_soak [--seconds N] [--seed N] [--faults KIND,...]\n"
                   "  KIND: drop delay split join code badcmd silent close refuse\n");
      return 2;
    }
  }
  signal(SIGPIPE, SIG_IGN);
  std::mt19937 rng(o.seed);

  testsupport::TestEnvironment env;
  const std::string history_path = env.path("history.txt");
  std::vector<std::string> listens;
  for (int c = 0; c < kChannels; ++c) {
    const ChannelPlan p = channel_plan(c);
    listens.push_back(std::string(p.tcp ? "tcp" : "udp") + ":0:" + p.frame);
  }
  testsupport::McsimPeer plc(env.dir(), listens, {"--history", history_path, "--seed", std::to_string(o.seed)});
  if (!plc.ready()) {
    std::fprintf(stderr, "hbt_soak: mcsim did not start\n%s", plc.output().c_str());
    return 1;
  }
  // Moving counters: one step every 150..600 ms, so that a stale value shows.
  for (int c = 0; c < kChannels; ++c) {
    const std::uint32_t base = channel_plan(c).base;
    for (int m = 0; m < kMoving; ++m) {
      const int interval = 150 + static_cast<int>(rng() % 450);
      if (!plc.ok("move D" + std::to_string(base + m) + " counter " + std::to_string(1 + rng() % 7) + " " +
                  std::to_string(interval) + "ms")) {
        std::fprintf(stderr, "hbt_soak: mcsim refused a move\n");
        return 1;
      }
    }
  }

  testsupport::ConfigSpec config;
  config.channels.clear();
  for (int c = 0; c < kChannels; ++c) {
    const ChannelPlan p = channel_plan(c);
    testsupport::ChannelSpec ch;
    ch.ip_port = plc.port(static_cast<std::size_t>(c));
    ch.tcp = p.tcp;
    ch.retries = static_cast<std::uint8_t>(p.retries);
    ch.reply_timeout = kReplyTimeout;
    ch.delay = 100;
    ch.display_alarms = false;
    testsupport::DeviceSpec dev;
    dev.name = "C" + std::to_string(c);
    dev.cpu = p.frame == "3e-binary" ? image::CpuType::QSeries : image::CpuType::AnA;
    dev.coding = p.frame == "1e-ascii" ? image::Coding::Ascii : image::Coding::Binary;
    testsupport::RecordSpec moving{image::RegisterType::D, p.base, kMoving, image::DataType::Unsigned};
    moving.poll_time = kPollTime;
    testsupport::RecordSpec written{image::RegisterType::D, p.base + 50, kWriteRegs, image::DataType::Unsigned};
    written.poll_time = kWritePollTime;
    dev.records = {moving, written};
    ch.devices = {dev};
    config.channels.push_back(ch);
  }

  testsupport::PollerProcess poller(env, config);
  if (!poller.mapped()) {
    std::fprintf(stderr, "hbt_soak: the poller did not start\n%s", poller.output().c_str());
    return 1;
  }
  const int records = poller.image().poll_record_count();
  if (!poller.eventually(
          [&] {
            for (int k = 0; k < records; ++k)
              if (poller.status(k) != image::kStatusGood) return false;
            return true;
          },
          60000)) {
    std::fprintf(stderr, "hbt_soak: not every record became good\n");
    return 1;
  }
  const int pid = find_poller_pid();
  if (pid < 0) {
    std::fprintf(stderr, "hbt_soak: cannot find the poller process\n");
    return 1;
  }

  std::vector<soak::OpcItem> opc_items;
  std::vector<std::string> opc_ids;
  for (int c = 0; c < kOpcChannels; ++c) {
    const std::uint32_t base = channel_plan(c).base;
    for (int i = 0; i < kMoving + kWriteRegs; ++i) {
      soak::OpcItem item;
      item.channel = c;
      item.written = i >= kMoving;
      item.record = 2 * c + (item.written ? 1 : 0);
      item.reg = item.written ? base + 50 + static_cast<std::uint32_t>(i - kMoving) : base + static_cast<std::uint32_t>(i);
      item.id = "C" + std::to_string(c) + ":D:" + std::to_string(item.reg);
      opc_ids.push_back(item.id);
      opc_items.push_back(item);
    }
  }
  soak::OpcLeg opc(env.dir(), opc_ids, kOpcUpdateRate);
  std::vector<soak::OpcReport> opc_reports;  // handed to the oracle as they come
  {
    std::string error;
    if (!opc.start(&error)) {
      std::fprintf(stderr, "hbt_soak: %s\n", error.c_str());
      return 1;
    }
    // Up once every item has been delivered with good quality.
    std::vector<int> quality(opc_ids.size(), -1);
    const bool up = poller.eventually(
        [&] {
          const std::size_t seen = opc_reports.size();
          opc.collect(&opc_reports);
          for (std::size_t k = seen; k < opc_reports.size(); ++k) quality[static_cast<std::size_t>(opc_reports[k].item)] = opc_reports[k].quality;
          return std::all_of(quality.begin(), quality.end(), [](int q) { return (q & 0xC0) == soak::kQualityGood; });
        },
        60000);
    if (!up) {
      std::fprintf(stderr, "hbt_soak: the OPC client did not get every item good\n%s\n", opc.output_tail().c_str());
      return 1;
    }
  }

  Host host;
  std::string error;
  if (!host.load(&error)) {
    std::fprintf(stderr, "hbt_soak: %s\n", error.c_str());
    return 1;
  }
  std::vector<std::unique_ptr<Point>> points;
  for (int c = 0; c < kChannels; ++c) {
    const std::uint32_t base = channel_plan(c).base;
    for (int i = 0; i < kMoving + kWriteRegs; ++i) {
      auto p = std::make_unique<Point>();
      p->channel = c;
      p->record = 2 * c + (i < kMoving ? 0 : 1);
      p->reg = i < kMoving ? base + static_cast<std::uint32_t>(i) : base + 50 + static_cast<std::uint32_t>(i - kMoving);
      p->format.kind = hostlib::kKindAnalog;
      p->format.egu_low = 0;
      p->format.egu_span = 65535;
      NioStatus st = -1;
      const std::string text = "C" + std::to_string(c) + ":D:" + std::to_string(p->reg);
      host.paddr(&st, &p->block, &p->format, text.c_str());
      NioStatus sig = -1;
      host.psig(&sig, &p->block, &p->format, "UINT");
      if (st != 0 || sig != 0) {
        std::fprintf(stderr, "hbt_soak: cannot define %s (%d, %d)\n", text.c_str(), st, sig);
        return 1;
      }
      points.push_back(std::move(p));
    }
  }
  const std::size_t per_channel = kMoving + kWriteRegs;

  std::mutex mutex;  // guards what the threads hand over below
  std::vector<ReadSample> reads;
  std::vector<PendingWrite> writes;
  std::vector<double> last_failure(static_cast<std::size_t>(records), -1e18);  // host-visible failures
  std::atomic<int> reload_count{0};
  std::atomic<bool> stop{false};
  long read_calls = 0, write_calls = 0, reads_not_good = 0;

  // Reader: every point round and round.
  std::thread reader([&] {
    long calls = 0, not_good = 0;
    while (!stop) {
      for (std::size_t i = 0; i < points.size() && !stop; ++i) {
        Point& p = *points[i];
        float value = -1;
        NioValue v{hostlib::kValueFloat, 4, 0, &value};
        NioStatus st = -1;
        const double t0 = now_ms();
        {
          std::lock_guard<std::mutex> hold(p.lock);
          host.read(&st, &p.block, &p.format, &v);
        }
        const double t1 = now_ms();
        ++calls;
        std::lock_guard<std::mutex> hold(mutex);
        if (st == 0 && v.status == 0) {
          reads.push_back({static_cast<int>(i), t0, t1, static_cast<std::uint16_t>(std::lround(value))});
        } else {
          ++not_good;
          last_failure[static_cast<std::size_t>(p.record)] = t1;
        }
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::lock_guard<std::mutex> hold(mutex);
    read_calls = calls;
    reads_not_good = not_good;
  });

  // Writer: each written register gets a new value once its previous one was settled.
  std::vector<int> busy(points.size(), 0);  // 1 while a write to the point is pending
  std::thread writer([&] {
    std::mt19937 wrng(o.seed * 7 + 1);
    long calls = 0;
    std::vector<std::uint16_t> next(points.size(), 1);
    while (!stop) {
      const std::size_t c = wrng() % kChannels;
      const std::size_t i = c * per_channel + kMoving + wrng() % kWriteRegs;
      {
        std::lock_guard<std::mutex> hold(mutex);
        if (busy[i]) continue;
      }
      Point& p = *points[i];
      next[i] = static_cast<std::uint16_t>(next[i] % 60000 + 1 + wrng() % 50);
      float value = next[i];
      NioValue v{hostlib::kValueFloat, 4, 0, &value};
      NioStatus st = -1;
      const double t = now_ms();
      {
        std::lock_guard<std::mutex> hold(p.lock);
        host.send(&st, &p.block, &p.format, &v);
      }
      ++calls;
      if (st == 0) {
        std::lock_guard<std::mutex> hold(mutex);
        busy[i] = 1;
        writes.push_back({static_cast<int>(i), next[i], t, reload_count.load()});
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(15));
    }
    std::lock_guard<std::mutex> hold(mutex);
    write_calls = calls;
  });

  soak::RegisterHistory history(history_path);
  const double start = now_ms();
  soak::Violations violations;
  long reads_checked = 0, writes_checked = 0, writes_reached = 0, writes_excused_failure = 0,
       writes_excused_reload = 0, faults_injected = 0;
  std::map<std::string, int> fault_kinds;
  struct ActiveFault {
    int channel;
    double until;
    double from = 0;
    std::string what;
  };
  std::vector<ActiveFault> fault_log;  // every fault switched on, for the violation details
  auto faults_near = [&](int c, double t) {
    std::string out;
    for (const auto& f : fault_log)
      if (f.channel == c && f.from <= t && f.until >= t - 3000) {
        char text[120];
        std::snprintf(text, sizeof text, " [%s %.0f..%.0f ms]", f.what.c_str(), f.from - start, f.until - start);
        out += text;
      }
    return out.empty() ? std::string(" [no fault on the channel]") : out;
  };
  // A PLC that answers late (delay) or holds an answer back until the next one (join) hands
  // over values that were already that old when they left it, and the poller then waits out
  // the late copies of its request before it asks again (up to two reply timeouts): such a
  // value is allowed that much more age, on its own channel and only while the fault was on.
  // Any fault can leave copies of a request unanswered (dropped, ignored, mangled replies);
  // the poller then keeps quiet for up to two reply timeouts before its next request, so the
  // other record's read and a write queued ahead of the record's own read may each cost that
  // much more.
  // A late PLC also lengthens every turn of the channel: the poller takes the first copy's
  // late answer, then waits for the answers to the later copies, so a turn lasts
  // retries x timeout + lateness (at most a timeout plus the quiet spell of two more) instead
  // of (retries + 1) x timeout; two writes, the other record and the record's own read each
  // take such a turn. A joined answer comes with the next request, which is sent after the timeout
  // and the quiet spell.
  auto late_answer_allowance = [&](int c, double from, double to) {
    const double timeout = kReplyTimeout * 10.0;
    double extra = 0;
    for (const auto& f : fault_log) {
      if (f.channel != c || f.from > to || f.until < from) continue;
      extra = std::max(extra, 2 * 2.0 * timeout);
      double late = 0;
      if (f.what.rfind("delay ", 0) == 0)
        late = std::atof(f.what.c_str() + 6);
      else if (f.what.rfind("join", 0) == 0)
        late = 3.0 * timeout;
      if (late <= 0) continue;
      const double longer_turn = std::min(std::max(late - timeout, 0.0), 2.0 * timeout);
      extra = std::max(extra, late + 2.0 * timeout + kTurnsBetweenReads * longer_turn);
    }
    return extra;
  };
  std::vector<ActiveFault> active;
  // Recovery: once a fault ends, both records of its channel read good again within a bound:
  // the DELAY a failed record waits, the written record's poll time, a request and its
  // retries lost at the moment the fault ended and the late copies waited out, then one
  // more request and its retries, and slack for a loaded machine.
  struct Recovery {
    int channel;
    double cleared;
    std::string what;
    bool good[2] = {false, false};
    int reloads;
    std::size_t freezes;  // poller freezes so far
  };
  std::vector<Recovery> recovering;
  long recoveries_checked = 0, recoveries_excused = 0;
  double slowest_recovery = 0;
  auto recovery_bound = [&](int c) {
    return 1000.0 + kWritePollTime * 10.0 + 2.0 * (channel_plan(c).retries + 1) * kReplyTimeout * 10.0 +
           2.0 * kReplyTimeout * 10.0 + 1000.0;
  };
  double next_fault = now_ms() + 1000, next_reload = now_ms() + 20000 + rng() % 20000;
  // A poller that hangs: now and then it is frozen (SIGSTOP) for a moment. Its image keeps the
  // last values with good status, and a host read gives them as they are (a host learns of a
  // hung poller from the watchdog), so a read may be older by the freeze, and by the two reply
  // timeouts of quiet after the request that was out when it froze. The OPC server has to
  // notice the watchdog standing still.
  struct Freeze {
    double from, to;
  };
  std::vector<Freeze> freezes;
  double next_freeze = now_ms() + 10000 + rng() % 20000, thaw_at = -1;
  auto freeze_allowance = [&](double from, double to) {
    double extra = 0;
    for (const auto& f : freezes)
      if (f.from <= to && f.to >= from) extra += f.to - f.from + 2.0 * kReplyTimeout * 10.0;
    return extra;
  };
  // Memory: sampled once the first faults and reload have run their course.
  const double cpu_start = cpu_seconds(pid);
  const long rss_start = rss_kb(pid);
  long rss_warm = -1, rss_max = rss_start;
  bool poller_gone = false;
  auto endpoint = [&](int c) {
    return std::string(channel_plan(c).tcp ? "tcp:" : "udp:") + std::to_string(plc.port(static_cast<std::size_t>(c)));
  };
  // How old a value read with good status may be: the poll time, then the channel may be
  // busy with a write, a read of the other record and another write (reads and writes take
  // turns, so a write can come before each read), each trying (retries + 1) times before it
  // fails, then the record's own read.
  auto window_of = [&](int c, bool written_record = false) {
    return (written_record ? kWritePollTime : kPollTime) * 10.0 +
           kTurnsBetweenReads * (channel_plan(c).retries + 1) * kReplyTimeout * 10.0 + kSlackMs;
  };

  soak::OpcRules opc_rules;
  opc_rules.host_window = [&](const soak::OpcItem& item, double at) {
    const double window = window_of(item.channel, item.written);
    return window + late_answer_allowance(item.channel, at - window, at) + freeze_allowance(at - window, at);
  };
  opc_rules.recovery_bound = recovery_bound;
  opc_rules.fault_switched_on = [&](int c, double from, double to) {
    return std::any_of(fault_log.begin(), fault_log.end(),
                       [&](const ActiveFault& f) { return f.channel == c && f.from >= from && f.from <= to; });
  };
  opc_rules.faults_near = faults_near;
  soak::OpcOracle opc_oracle(opc_items, opc_rules, kOpcUpdateRate, kOpcThreadSleepTime, start);
  for (const auto& r : opc_reports) opc_oracle.add(r);
  opc_reports.clear();
  const double opc_cpu_start = cpu_seconds(opc.pid());
  double opc_cpu = 0;
  bool opc_gone = false;
  double restart_at = -1;  // while the poller is held stopped: when it is started again

  while (now_ms() - start < o.seconds * 1000.0) {
    poller.output();  // keep the poller's console drained
    plc.output();     // and the simulator's: a full pipe would stop it
    // After a reload the statuses below are those of the new generation, as a host sees them.
    poller.image().nio_map_hdr();
    const double now = now_ms();
    // Faults on, faults off.
    for (auto it = active.begin(); it != active.end();) {
      if (it->until <= now) {
        plc.control("fault " + endpoint(it->channel) + " clear");
        recovering.push_back({it->channel, now_ms(), it->what, {false, false}, reload_count.load(), freezes.size()});
        opc_oracle.fault_ended(it->channel, recovering.back().cleared, it->what);
        it = active.erase(it);
      } else {
        ++it;
      }
    }
    if (now >= next_fault) {
      next_fault = now + 1000 + rng() % 3000;
      const int c = static_cast<int>(rng() % kChannels);
      const bool busy_channel = std::any_of(active.begin(), active.end(), [&](const ActiveFault& f) { return f.channel == c; });
      if (!busy_channel) {
        const ChannelPlan p = channel_plan(c);
        const bool q = p.frame == "3e-binary";
        std::vector<std::pair<std::string, std::string>> kinds = {
            {"drop", "drop 0.5"},
            {"delay", "delay " + std::to_string(kReplyTimeout * 10 + 100 + static_cast<int>(rng() % 600)) + "ms"},
            {"split", "split " + std::to_string(1 + rng() % 7) + " 15ms"},
            {"join", "join on"},
            {"code", q ? "code 0xC056 p=0.5" : "code 0x5B 0x10 p=0.5"},
            {"badcmd", "badcmd p=0.5"},
            {"silent", "silent on"},
        };
        // A refused UDP port is a closed socket on this host: the poller's own UDP socket, bound
        // to the PLC's port number as on a plant, takes that port, and the PLC cannot have it
        // back. Refusal is a TCP fault here.
        if (p.tcp) kinds.push_back({"close", "close p=0.3"});
        if (p.tcp) kinds.push_back({"refuse", "refuse on"});
        if (!o.faults.empty())
          std::erase_if(kinds, [&](const auto& k) {
            return std::find(o.faults.begin(), o.faults.end(), k.first) == o.faults.end();
          });
        if (!kinds.empty()) {
          const auto& [name, line] = kinds[rng() % kinds.size()];
          if (plc.ok("fault " + endpoint(c) + " " + line)) {
            ++faults_injected;
            ++fault_kinds[name];
            active.push_back({c, now + 2000 + rng() % 4000, now, line});
            fault_log.push_back(active.back());
          }
        }
      }
    }
    // A reload now and then. On about half of them the poller stays stopped for a while, as when
    // an operator stops it and starts it again, so that the OPC server has to notice it is
    // gone.
    if (restart_at >= 0 && now >= restart_at) {
      opc_oracle.poller_started(now_ms());
      poller.image().nio_StartStop(1);
      restart_at = -1;
    } else if (restart_at < 0 && thaw_at < 0 && now >= next_reload) {
      next_reload = now + 20000 + rng() % 20000;
      ++reload_count;
      const bool hold = rng() % 2 == 1;
      const double hold_ms = 500 + rng() % 1500;
      if (poller.image().nio_StartStop(0)) {
        opc_oracle.poller_stopped(now_ms());
        if (hold) {
          restart_at = now_ms() + hold_ms;
        } else {
          opc_oracle.poller_started(now_ms());
          poller.image().nio_StartStop(1);
        }
      }
    }
    if (thaw_at >= 0 && now >= thaw_at) {
      kill(pid, SIGCONT);
      freezes.back().to = now_ms();
      opc_oracle.poller_started(freezes.back().to);
      thaw_at = -1;
    } else if (thaw_at < 0 && restart_at < 0 && now >= next_freeze) {
      next_freeze = now + 20000 + rng() % 20000;
      const double length = 600 + rng() % 1400;
      const double t = now_ms();
      if (kill(pid, SIGSTOP) == 0) {
        thaw_at = t + length;
        freezes.push_back({t, thaw_at});
        opc_oracle.poller_stopped(t);
      }
    }
    // What the OPC client received meanwhile.
    opc.collect(&opc_reports);
    for (const auto& r : opc_reports) opc_oracle.add(r);
    opc_reports.clear();
    if (!opc_gone && !opc.running()) {
      opc_gone = true;
      opc_oracle.problem("the OPC client exited: " + opc.output_tail());
    }
    // Poller statuses: a failure the host could have seen.
    {
      std::lock_guard<std::mutex> hold(mutex);
      for (int k = 0; k < records; ++k)
        if (poller.status(k) == image::kStatusCommFailure) last_failure[static_cast<std::size_t>(k)] = now;
    }
    // Channels whose fault has ended: good again within the bound, unless a new fault on
    // the channel or a reload came first.
    for (auto it = recovering.begin(); it != recovering.end();) {
      for (int r = 0; r < 2; ++r)
        if (poller.status(2 * it->channel + r) == image::kStatusGood) it->good[r] = true;
      const double took = now - it->cleared;
      const bool refaulted = std::any_of(active.begin(), active.end(), [&](const ActiveFault& f) { return f.channel == it->channel; });
      if (it->good[0] && it->good[1]) {
        ++recoveries_checked;
        slowest_recovery = std::max(slowest_recovery, took);
      } else if (refaulted || reload_count.load() != it->reloads || freezes.size() != it->freezes) {
        ++recoveries_excused;
      } else if (took > recovery_bound(it->channel)) {
        ++recoveries_checked;
        char text[300];
        std::snprintf(text, sizeof text,
                      "recovery: C%d (%s %s, retries %d) did not read good again within %.0f ms after its fault "
                      "'%s' ended at %.0f ms (record %s not good)",
                      it->channel, channel_plan(it->channel).tcp ? "TCP" : "UDP", channel_plan(it->channel).frame.c_str(),
                      channel_plan(it->channel).retries, recovery_bound(it->channel), it->what.c_str(), it->cleared - start,
                      it->good[0] ? "1" : it->good[1] ? "0" : "0 and 1");
        violations.add(text, "recovery " + std::to_string(it->channel));
      } else {
        ++it;
        continue;
      }
      it = recovering.erase(it);
    }
    if (kill(pid, 0) != 0 || find_poller_pid() != pid) {
      poller_gone = true;
      violations.add("the poller process is gone");
      break;
    }
    const long rss = rss_kb(pid);
    rss_max = std::max(rss_max, rss);
    if (rss_warm < 0 && now - start > std::min(30000.0, o.seconds * 500.0)) rss_warm = rss;

    // The oracle, over what is old enough for the history to hold every change before it.
    history.catch_up();
    const double settled = now_ms() - 500;
    {
      std::lock_guard<std::mutex> hold(mutex);
      std::size_t keep = 0;
      for (std::size_t r = 0; r < reads.size(); ++r) {
        const ReadSample& s = reads[r];
        if (s.t1 > settled) {
          reads[keep++] = s;
          continue;
        }
        ++reads_checked;
        const Point& p = *points[static_cast<std::size_t>(s.point)];
        double window = window_of(p.channel, p.record % 2 == 1);
        window += late_answer_allowance(p.channel, s.t0 - window, s.t1) + freeze_allowance(s.t0 - window, s.t1);
        if (!history.held(p.reg, s.value, s.t0 - window, s.t1)) {
          char text[300];
          const double held = history.last_held(p.reg, s.value, s.t1);
          std::snprintf(text, sizeof text,
                        "read: C%d:D:%u (%s %s, retries %d) gave %u with good status at %.0f ms, a value the "
                        "register did not hold in the %.0f ms before (%s %.0f ms before the read; now %u)",
                        p.channel, p.reg, channel_plan(p.channel).tcp ? "TCP" : "UDP",
                        channel_plan(p.channel).frame.c_str(), channel_plan(p.channel).retries, s.value,
                        s.t1 - start, window, held < 0 ? "never held;" : "last held", held < 0 ? 0.0 : s.t1 - held,
                        history.latest(p.reg));
          violations.add(text + faults_near(p.channel, s.t1), "read " + std::to_string(p.channel));
        }
      }
      reads.resize(keep);
      std::size_t wkeep = 0;
      for (std::size_t w = 0; w < writes.size(); ++w) {
        const PendingWrite& pw = writes[w];
        const Point& p = *points[static_cast<std::size_t>(pw.point)];
        bool done = false;
        if (history.became(p.reg, pw.value, pw.sent - 1)) {
          ++writes_reached;
          done = true;
        } else if (settled - pw.sent > kWriteDeadlineMs) {
          if (last_failure[static_cast<std::size_t>(p.record)] >= pw.sent) {
            ++writes_excused_failure;
          } else if (reload_count.load() != pw.reloads) {
            ++writes_excused_reload;
          } else {
            char text[300];
            std::snprintf(text, sizeof text,
                          "write: %u to C%d:D:%u queued at %.0f ms never reached the PLC (it holds %u) and the "
                          "record reported no failure",
                          pw.value, p.channel, p.reg, pw.sent - start, history.latest(p.reg));
            violations.add(text + faults_near(p.channel, pw.sent + kWriteDeadlineMs), "write " + std::to_string(p.channel));
          }
          done = true;
        }
        if (done) {
          ++writes_checked;
          busy[static_cast<std::size_t>(pw.point)] = 0;
        } else {
          writes[wkeep++] = pw;
        }
      }
      writes.resize(wkeep);
      opc_oracle.check(history, settled);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  stop = true;
  if (thaw_at >= 0) kill(pid, SIGCONT);
  if (!opc_gone) opc_cpu = cpu_seconds(opc.pid()) - opc_cpu_start;
  const int opc_exit = opc.stop();
  if (!opc_gone && opc_exit != 0) opc_oracle.problem("the OPC client ended with code " + std::to_string(opc_exit));
  for (const auto& p : opc.reader().problems()) opc_oracle.problem("the OPC client printed: " + p);
  reader.join();
  writer.join();
  const double wall = (now_ms() - start) / 1000.0;
  const double cpu = poller_gone ? 0 : cpu_seconds(pid) - cpu_start;
  const long rss_end = poller_gone ? -1 : rss_kb(pid);
  for (const auto& f : active) plc.control("fault " + endpoint(f.channel) + " clear");
  // Memory stays flat: after the warm-up, growth of more than 4 MiB is a leak.
  if (rss_warm > 0 && rss_end > rss_warm + 4096) {
    violations.add("poller memory grew from " + std::to_string(rss_warm) + " kB to " + std::to_string(rss_end) + " kB");
  }
  const int exit_code = poller.stop();
  (void)exit_code;

  std::printf("soak: %.0f s, %d channels (UDP and TCP; 3E binary, 1E binary, 1E ASCII), seed %u\n", wall, kChannels,
              o.seed);
  std::printf("reads: %ld calls, %ld checked with good status, %ld not good\n", read_calls, reads_checked,
              reads_not_good);
  std::printf("writes: %ld calls, %ld checked: %ld reached the PLC, %ld excused by a record failure, %ld by a reload\n",
              write_calls, writes_checked, writes_reached, writes_excused_failure, writes_excused_reload);
  std::string kinds;
  for (const auto& [name, n] : fault_kinds) kinds += " " + name + "=" + std::to_string(n);
  std::printf("faults injected: %ld (%s ), reloads: %d, poller freezes: %zu, history lines: %ld, read windows %.0f ms "
              "(no retries) and %.0f ms (2 retries)\n",
              faults_injected, kinds.c_str(), reload_count.load(), freezes.size(), history.lines(), window_of(0),
              window_of(1));
  std::printf("poller: RSS start %ld kB, after warm-up %ld kB, end %ld kB, max %ld kB; CPU %.1f%% of one core; %s\n",
              rss_start, rss_warm, rss_end, rss_max, wall > 0 ? 100.0 * cpu / wall : 0.0,
              poller_gone ? "EXITED" : "running to the end");
  std::printf("recovery after a fault: %ld fault ends checked, slowest %.0f ms (bounds %.0f ms without retries, "
              "%.0f ms with 2), %ld not judged (a new fault, a reload or a freeze first)\n",
              recoveries_checked, slowest_recovery, recovery_bound(0), recovery_bound(1), recoveries_excused);
  std::printf("violations: %ld\n", violations.count);
  for (const auto& v : violations.first) std::printf("  %s\n", v.c_str());
  const soak::Violations& ov = opc_oracle.violations();
  std::printf("opc: %zu items on %d channels (words; UDP and TCP; 3E binary, 1E binary, 1E ASCII), group rate %d ms: "
              "%ld reports, %ld good values checked as delivered and %ld as they stood, %ld not good; value windows %.0f ms (no retries) and %.0f ms "
              "(2 retries) when no fault is near\n",
              opc_items.size(), kOpcChannels, kOpcUpdateRate, opc_oracle.reports(), opc_oracle.values_checked(),
              opc_oracle.standing_checked(), opc_oracle.not_good(), window_of(0) + kOpcUpdateRate + soak::OpcOracle::kDeliverySlackMs,
              window_of(1) + kOpcUpdateRate + soak::OpcOracle::kDeliverySlackMs);
  std::printf("opc recovery after a fault: %ld fault ends checked, slowest %.0f ms, %ld not judged (a new fault or a "
              "stop first); poller stops and freezes longer than %.0f ms checked: %ld; client CPU %.1f%% of one core\n",
              opc_oracle.recoveries_checked(), opc_oracle.slowest_recovery(), opc_oracle.recoveries_excused(),
              opc_oracle.stop_grace(), opc_oracle.stops_checked(), wall > 0 ? 100.0 * opc_cpu / wall : 0.0);
  std::printf("opc violations: %ld (stale values %ld, good while the poller was stopped %ld, no recovery %ld, "
              "client trouble %ld)\n",
              ov.count, opc_oracle.value_violations(), opc_oracle.stop_violations(),
              opc_oracle.recovery_violations(), opc_oracle.client_problems());
  for (const auto& v : ov.first) std::printf("  %s\n", v.c_str());
  return violations.count == 0 && ov.count == 0 ? 0 : 1;
}
