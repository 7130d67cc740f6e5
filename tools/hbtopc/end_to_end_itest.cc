// The whole chain as a plant runs it: mcsim → HBTSPOLL → HBTSTSR.so → HBTOPC.so → hbtopc, a
// subscribing client in its own process, over UDP and over TCP. The simulator's history of
// every register change is the oracle: each good value a subscription delivers must be one
// the registers held in the moments before (in order, never invented), and the last one must
// be what the PLC holds at the end. Writes go the other way and are read back from mcsim.
#include <signal.h>

#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <thread>

#include "json_lines.h"
#include "server_registration.h"
#include "testsupport/child_process.h"
#include "testsupport/driver_setup.h"
#include "testsupport/mcsim_peer.h"

namespace hbt::hbtopc {
namespace {

using testsupport::McsimPeer;
using testsupport::ChildProcess;
using testsupport::eventually;

const std::string kHbtopc = std::string(HBT_BIN_DIR) + "/hbtopc";

// Register contents over time, replayed from mcsim's history ("MS TYPE NUMBER VALUE").
class RegisterHistory {
 public:
  struct Change {
    double ms;
    std::string reg;  // "D100", "M3"
    std::uint16_t value;
  };
  explicit RegisterHistory(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
      std::istringstream fields(line);
      Change c;
      std::string type;
      unsigned number = 0, value = 0;
      if (fields >> c.ms >> type >> number >> value) {
        c.reg = type + std::to_string(number);
        c.value = static_cast<std::uint16_t>(value);
        changes_.push_back(c);
      }
    }
  }
  // Contents at `ms` (registers never set hold 0).
  std::map<std::string, std::uint16_t> at(double ms) const {
    std::map<std::string, std::uint16_t> state;
    for (const auto& c : changes_) {
      if (c.ms > ms) break;
      state[c.reg] = c.value;
    }
    return state;
  }
  // The moments at which the contents changed within (from, to], with `from` itself first.
  std::vector<double> moments(double from, double to) const {
    std::vector<double> out{from};
    for (const auto& c : changes_)
      if (c.ms > from && c.ms <= to) out.push_back(c.ms);
    return out;
  }
  std::size_t size() const { return changes_.size(); }

 private:
  std::vector<Change> changes_;
};

using Registers = std::map<std::string, std::uint16_t>;

// A field of a printed line; null when the line has none.
const JsonValue& field(const JsonObject& o, const std::string& name) {
  static const JsonValue kNone;
  auto it = o.find(name);
  return it == o.end() ? kNone : it->second;
}
bool is_data(const JsonObject& o) { return field(o, "event").text == "data"; }
bool is_good(const JsonObject& o) { return field(o, "quality").text == "192"; }

std::uint16_t reg(const Registers& r, const std::string& name) {
  auto it = r.find(name);
  return it == r.end() ? 0 : it->second;
}

// What each subscribed item must show for given register contents, as hbtopc prints it.
struct Point {
  std::string item;
  std::function<bool(const JsonValue&, const Registers&)> matches;
};

bool float_is(const JsonValue& v, float want) {
  return v.kind == JsonValue::Kind::kNumber && v.number_as_float() == want;
}

std::vector<Point> points() {
  return {
      {"PLC1:D:100", [](const JsonValue& v, const Registers& r) { return float_is(v, reg(r, "D100")); }},
      {"PLC1:D:200",
       [](const JsonValue& v, const Registers& r) {
         const std::uint32_t bits = reg(r, "D200") | (static_cast<std::uint32_t>(reg(r, "D201")) << 16);
         return float_is(v, std::bit_cast<float>(bits));
       }},
      {"PLC1:M:3",
       [](const JsonValue& v, const Registers& r) {
         return v.kind == JsonValue::Kind::kBool && v.boolean == (reg(r, "M3") != 0);
       }},
      {"PLC1:D:300$6",
       [](const JsonValue& v, const Registers& r) {
         std::string text;
         for (int k = 0; k < 3; ++k) {
           const std::uint16_t w = reg(r, "D" + std::to_string(300 + k));
           text.push_back(static_cast<char>(w & 0xFF));
           text.push_back(static_cast<char>(w >> 8));
         }
         return v.kind == JsonValue::Kind::kString && v.text == text;
       }},
      {"PLC1:D:110[4]",
       [](const JsonValue& v, const Registers& r) {
         if (v.kind != JsonValue::Kind::kArray || v.elements.size() != 4) return false;
         for (int k = 0; k < 4; ++k)
           if (!float_is(v.elements[k], reg(r, "D" + std::to_string(110 + k)))) return false;
         return true;
       }},
  };
}

// Random contents the items can show unambiguously: printable text, regular floats.
std::vector<std::string> random_changes(std::mt19937& rng) {
  std::vector<std::string> lines;
  switch (rng() % 5) {
    case 0: lines.push_back("set D100 " + std::to_string(rng() % 65536)); break;
    case 1: {
      const float f = static_cast<float>(static_cast<int>(rng() % 200000) - 100000) / 16.0f;
      const auto bits = std::bit_cast<std::uint32_t>(f);
      lines.push_back("set D200 " + std::to_string(bits & 0xFFFF) + " " + std::to_string(bits >> 16));
      break;
    }
    case 2: lines.push_back("set M3 " + std::to_string(rng() % 2)); break;
    case 3: {
      std::string set = "set D300";
      for (int k = 0; k < 3; ++k) set += " " + std::to_string((0x41 + rng() % 26) | ((0x61 + rng() % 26) << 8));
      lines.push_back(set);
      break;
    }
    case 4: lines.push_back("set D" + std::to_string(110 + rng() % 4) + " " + std::to_string(rng() % 1000)); break;
  }
  return lines;
}

class OpcEndToEnd : public ::testing::TestWithParam<std::string> {
 protected:
  testsupport::TestEnvironment env;
  std::string history_path = env.path("history.txt");
  McsimPeer plc{env.dir(), {GetParam() + ":0:3e-binary"}, {"--history", history_path}};
  std::unique_ptr<ChildProcess> poller;

  void SetUp() override {
    ASSERT_TRUE(plc.ready()) << plc.output();
    // Text and floats start as something every item can show.
    ASSERT_TRUE(plc.ok("set D300 0x4241 0x4443 0x4645"));
    ASSERT_TRUE(plc.ok("set D200 0 0x3F80"));
    testsupport::ConfigSpec plan;
    auto& ch = plan.channels[0];
    ch.ip_port = plc.port(0);
    ch.tcp = GetParam() == "tcp";
    ch.reply_timeout = 50;
    ch.delay = 50;
    ch.devices[0].name = "PLC1";
    auto record = [](image::RegisterType type, std::uint32_t start, std::uint16_t length, image::DataType dt) {
      testsupport::RecordSpec r;
      r.type = type;
      r.start = start;
      r.length = length;
      r.data_type = dt;
      r.poll_time = 10;  // 100 ms
      return r;
    };
    using image::DataType;
    using image::RegisterType;
    ch.devices[0].records = {record(RegisterType::D, 100, 20, DataType::Unsigned),
                             record(RegisterType::D, 200, 10, DataType::Float),
                             record(RegisterType::M, 0, 16, DataType::Digital),
                             record(RegisterType::D, 300, 10, DataType::Ascii)};
    testsupport::install_configuration(env, plan);
    testsupport::install_driver_exe("S");
    ASSERT_EQ(register_server(HBT_LIB_DIR "/HBTOPC.so"), "");
    start_poller();
  }
  void TearDown() override { stop_poller(); }

  void start_poller() {
    poller = std::make_unique<ChildProcess>(std::vector<std::string>{testsupport::poller_path(), "S"}, false, env.dir());
    // Up once a device read through the OPC server is good.
    std::string last;
    ASSERT_TRUE(eventually(
        [&] {
          poller->output();
          last = hbtopc({"--json", "read", "PLC1:D:100"}).output;
          return last.find("\"quality\":192") != std::string::npos;
        },
        15000))
        << last << poller->output();
  }
  void stop_poller() {
    if (!poller) return;
    poller->kill_now(SIGTERM);
    if (!poller->wait_exit(5000)) poller->kill_now();
    poller.reset();
  }

  testsupport::ProgramResult hbtopc(std::vector<std::string> args) {
    args.insert(args.begin(), kHbtopc);
    return testsupport::run_program(args, 30000, env.dir());
  }
  std::unique_ptr<ChildProcess> subscriber(std::vector<std::string> extra) {
    std::vector<std::string> argv = {kHbtopc, "--json", "subscribe"};
    for (const auto& p : points()) argv.push_back(p.item);
    argv.insert(argv.end(), extra.begin(), extra.end());
    return std::make_unique<ChildProcess>(argv, false, env.dir());
  }
};

// Every good value matches the registers at some moment of the `window` before its receipt,
// those moments never go back in time per item, and the last value of each item is the
// registers' final contents.
void check_against_history(const std::vector<JsonObject>& lines, const RegisterHistory& history, double window,
                           int* checked) {
  std::map<std::string, Point> by_item;
  for (auto& p : points()) by_item[p.item] = p;
  std::map<std::string, double> last_moment;
  std::map<std::string, const JsonObject*> last_line;
  std::set<std::string> not_carried;
  for (const auto& o : lines) {
    if (!is_data(o)) continue;
    const std::string item = field(o, "item").text;
    // A DA 1.0 stream names an array entry without carrying it.
    if (!field(o, "note").text.empty()) {
      not_carried.insert(item);
      continue;
    }
    ASSERT_TRUE(by_item.count(item)) << "a value for an item nobody subscribed to: " << item;
    EXPECT_EQ(field(o, "result").text, "0x00000000") << item;
    last_line[item] = &o;
    if (!is_good(o)) continue;
    const double received = field(o, "received_ms").number();
    const double from = std::max(last_moment.count(item) ? last_moment[item] : 0.0, received - window);
    bool found = false;
    for (double m : history.moments(from, received)) {
      if (by_item[item].matches(field(o, "value"), history.at(m))) {
        last_moment[item] = m;
        found = true;
        break;
      }
    }
    EXPECT_TRUE(found) << item << " delivered a value the PLC did not hold in the " << window
                       << " ms before (or went back in time): " << field(o, "value").text;
    ++*checked;
  }
  const Registers final = history.at(1e18);
  for (const auto& [item, point] : by_item) {
    if (not_carried.count(item)) continue;
    ASSERT_TRUE(last_line.count(item)) << "nothing delivered for " << item;
    const JsonObject& o = *last_line[item];
    EXPECT_TRUE(is_good(o)) << item;
    EXPECT_TRUE(point.matches(field(o, "value"), final)) << item << " ends on " << field(o, "value").text;
  }
}

TEST_P(OpcEndToEnd, ASubscriberSeesEveryKindOfValueTheRegistersHeldInOrder) {
  // The same changes through the DA 2.0 callback and through the DA 1.0 data streams.
  auto sub = subscriber({"--rate", "100", "--seconds", "5"});
  auto da1 = subscriber({"--rate", "100", "--seconds", "5", "--da1"});
  ASSERT_TRUE(sub->wait_for_output("\"event\":\"data\"", 10000)) << sub->output();
  ASSERT_TRUE(da1->wait_for_output("\"event\":\"data\"", 10000)) << da1->output();
  std::mt19937 rng(GetParam() == "tcp" ? 2 : 1);
  // Changes at random moments, some faster than the poll time, then quiet until the end.
  const auto start = std::chrono::steady_clock::now();
  int changes = 0;
  while (std::chrono::steady_clock::now() - start < std::chrono::milliseconds(3000)) {
    for (const auto& line : random_changes(rng)) ASSERT_TRUE(plc.ok(line)) << line;
    ++changes;
    std::this_thread::sleep_for(std::chrono::milliseconds(20 + rng() % 300));
  }
  RegisterHistory history(history_path);
  for (auto* p : {sub.get(), da1.get()}) {
    auto code = p->wait_exit(15000);
    ASSERT_TRUE(code.has_value());
    EXPECT_EQ(*code, 0) << p->output();
    const auto lines = parse_json_lines(p->output());
    int checked = 0;
    // Poll time and update rate are 100 ms each; the rest of the window is for a loaded
    // machine and the sanitizer builds.
    check_against_history(lines, history, 3000, &checked);
    EXPECT_GT(checked, changes / 3) << "most changes reach the subscriber";
    std::printf("%s%s: %d changes made, %d good values checked against the history\n", GetParam().c_str(),
                p == da1.get() ? " DA 1.0" : "", changes, checked);
  }
}

// Each kind written through OPC lands in the PLC's registers, synchronously and with --async.
TEST_P(OpcEndToEnd, WritesFromTheClientReachThePlc) {
  struct Case {
    std::vector<std::string> args;
    std::string get, want;
  };
  const std::vector<Case> cases = {
      {{"write", "PLC1:D:105", "1234"}, "get D105", "ok 1234"},
      {{"write", "PLC1:D:106", "4321", "--async"}, "get D106", "ok 4321"},
      {{"write", "PLC1:D:204", "12.5"}, "get D204 2", "ok 0 16712"},  // 0x41480000
      {{"write", "PLC1:M:5", "true"}, "get M5", "ok 1"},
      {{"write", "PLC1:M:6", "on", "--async"}, "get M6", "ok 1"},
      {{"write", "PLC1:D:305$4", "HI!?"}, "get D305 2", "ok 18760 16161"},  // "HI" "!?" low byte first
      {{"write", "PLC1:D:114[3]", "7,8,9"}, "get D114 3", "ok 7 8 9"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"--json"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    auto r = hbtopc(args);
    EXPECT_EQ(r.exit_code, 0) << c.args[1] << ": " << r.output;
    EXPECT_NE(r.output.find("\"result\":\"0x00000000\""), std::string::npos) << r.output;
    std::string got;
    EXPECT_TRUE(eventually([&] { return (got = plc.control(c.get)) == c.want; }, 5000))
        << c.args[1] << " " << c.args[2] << ": mcsim has " << got;
  }
  // Refused before anything reaches the PLC: the reason, exit status 1, the register untouched.
  auto bad = hbtopc({"write", "PLC1:D:107", "12abc"});
  EXPECT_EQ(bad.exit_code, 1);
  EXPECT_NE(bad.output.find("'12abc' is not a number"), std::string::npos) << bad.output;
  auto unknown = hbtopc({"--json", "write", "PLC9:D:1", "5"});
  EXPECT_EQ(unknown.exit_code, 1);
  EXPECT_NE(unknown.output.find("\"result\":\"0xC0040008\""), std::string::npos) << unknown.output;
  EXPECT_EQ(plc.control("get D107"), "ok 0");
}

INSTANTIATE_TEST_SUITE_P(Transports, OpcEndToEnd, ::testing::Values("udp", "tcp"),
                         [](const auto& info) { return info.param; });

// The poller stopped and started again under one live subscription: the items go bad while it
// is away and good again afterwards, with the value the PLC took meanwhile, on the same
// connection.
class OpcPollerRestart : public OpcEndToEnd {};

TEST_P(OpcPollerRestart, QualityGoesBadThenGoodWithoutANewSubscription) {
  auto sub = subscriber({"--rate", "100", "--seconds", "25"});
  ASSERT_TRUE(sub->wait_for_output("\"quality\":192", 10000)) << sub->output();
  stop_poller();
  ASSERT_TRUE(eventually(
      [&] {
        for (const auto& o : parse_json_lines(sub->output()))
          if (is_data(o) && field(o, "item").text == "PLC1:D:100" && !is_good(o)) return true;
        return false;
      },
      10000))
      << sub->output();
  ASSERT_TRUE(plc.ok("set D100 777"));
  poller = std::make_unique<ChildProcess>(std::vector<std::string>{testsupport::poller_path(), "S"}, false, env.dir());
  bool good_again = false;
  EXPECT_TRUE(eventually(
      [&] {
        poller->output();
        bool bad_seen = false;
        for (const auto& o : parse_json_lines(sub->output())) {
          if (!is_data(o) || field(o, "item").text != "PLC1:D:100") continue;
          if (!is_good(o)) bad_seen = true;
          if (bad_seen && is_good(o) && field(o, "value").text == "777") good_again = true;
        }
        return good_again;
      },
      15000))
      << sub->output();
  sub->kill_now(SIGTERM);
  EXPECT_EQ(sub->wait_exit(10000), 0) << "the subscriber ends cleanly on SIGTERM";
  // Every item went bad while the poller was away, not only the one watched.
  std::map<std::string, bool> went_bad;
  for (const auto& o : parse_json_lines(sub->output()))
    if (is_data(o) && !is_good(o)) went_bad[field(o, "item").text] = true;
  for (const auto& p : points()) EXPECT_TRUE(went_bad[p.item]) << p.item;
}

INSTANTIATE_TEST_SUITE_P(Udp, OpcPollerRestart, ::testing::Values("udp"), [](const auto& info) { return info.param; });

}  // namespace
}  // namespace hbt::hbtopc
