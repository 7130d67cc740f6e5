// The control language, fault settings and moving values, without any sockets.
#include <gtest/gtest.h>

#include <cmath>

#include "tools/mcsim/control.h"

namespace hbt::mcsim {
namespace {

class Control : public ::testing::Test {
 protected:
  Control() {
    sim_.plc(kDefaultPlc);
    ListenSpec plan = *parse_listen_spec("udp:5000:3e-binary", &err_);
    sim_.add_endpoint(plan).port = 5000;
    plan = *parse_listen_spec("tcp:0:1e-ascii:plc=line2", &err_);
    sim_.add_endpoint(plan).port = 40001;
  }
  std::string run(std::string_view line, double now = 0) { return ctl_.execute(line, now); }

  std::string err_;
  Simulator sim_;
  Controller ctl_{&sim_};
};

TEST_F(Control, GetSetFillRoundTrip) {
  EXPECT_EQ(run("set D100 1 -1 0x10"), "ok 3");
  EXPECT_EQ(run("get D100 4"), "ok 1 65535 16 0");
  EXPECT_EQ(run("fill W1F 3 7"), "ok 3");
  EXPECT_EQ(run("get w1f 3"), "ok 7 7 7") << "device names are case-insensitive";
  EXPECT_EQ(sim_.plc(kDefaultPlc).own().word(RegisterType::W, 0x21), 7);
  EXPECT_EQ(run("set X1F 1 0 1"), "ok 3");
  EXPECT_EQ(run("get X1F 3"), "ok 1 0 1");
  EXPECT_EQ(run("set EX2:300 42"), "ok 1");
  EXPECT_EQ(run("get EX2:300"), "ok 42");
  EXPECT_EQ(run("get EX3:300"), "ok 0");
}

TEST_F(Control, RefusesBadInputWithoutChangingMemory) {
  EXPECT_EQ(run("set D100 5"), "ok 1");
  EXPECT_TRUE(run("set D100 70000").starts_with("error bad value"));
  EXPECT_TRUE(run("set D100 1 2 x").starts_with("error bad value"));
  EXPECT_EQ(run("get D100 2"), "ok 5 0") << "a refused line wrote part of its values";
  EXPECT_TRUE(run("set M0 2").starts_with("error bit devices take 0 or 1"));
  EXPECT_TRUE(run("get Q100").starts_with("error bad device"));
  EXPECT_TRUE(run("get D12288").starts_with("error D12288 is beyond"));
  EXPECT_TRUE(run("set D12287 1 2").starts_with("error"));
  EXPECT_TRUE(run("get EX9:0").starts_with("error no extension file register block 9"));
  EXPECT_TRUE(run("get D0 0").starts_with("error bad count"));
  EXPECT_TRUE(run("get D0 @7").starts_with("error no such memory"));
  EXPECT_TRUE(run("get D0 plc=nowhere").starts_with("error no such memory"));
  EXPECT_TRUE(run("frobnicate").starts_with("error unknown command"));
  EXPECT_EQ(run(""), "");
  EXPECT_EQ(run("   # a comment"), "");
}

TEST_F(Control, StationsCpusAndPlcsHaveSeparateMemory) {
  EXPECT_EQ(run("station add 3"), "ok");
  EXPECT_TRUE(run("station add 3").starts_with("error"));
  EXPECT_TRUE(run("station add 255").starts_with("error"));
  EXPECT_EQ(run("station list"), "ok 255 3");
  EXPECT_EQ(run("set D0 11 @3"), "ok 1");
  EXPECT_EQ(run("get D0"), "ok 0");
  EXPECT_EQ(run("cpus 2"), "ok");
  EXPECT_EQ(run("set D0 22 cpu=2"), "ok 1");
  EXPECT_EQ(run("get D0 cpu=2"), "ok 22");
  EXPECT_TRUE(run("cpus 5").starts_with("error"));
  EXPECT_EQ(run("set D0 33 plc=line2"), "ok 1");
  EXPECT_EQ(sim_.endpoints()[1]->plc->own().word(RegisterType::D, 0), 33);
  EXPECT_EQ(run("get D0 @3"), "ok 11");
  EXPECT_EQ(run("station remove 3"), "ok");
  EXPECT_TRUE(run("get D0 @3").starts_with("error"));
  EXPECT_EQ(run("size D 20000"), "ok");
  EXPECT_EQ(run("get D19999"), "ok 0");
  EXPECT_EQ(run("blocks 2"), "ok");
  EXPECT_TRUE(run("get EX3:0").starts_with("error"));
}

TEST_F(Control, NetworkNumbersPerPlc) {
  EXPECT_EQ(run("network list"), "ok any");
  EXPECT_EQ(run("network 0 2"), "ok");
  EXPECT_EQ(run("network list"), "ok 0 2");
  EXPECT_EQ(run("network list plc=line2"), "ok any") << "each PLC has its own";
  EXPECT_TRUE(sim_.endpoints()[0]->plc->reaches_network(2));
  EXPECT_FALSE(sim_.endpoints()[0]->plc->reaches_network(1));
  EXPECT_TRUE(run("network 256").starts_with("error bad network number"));
  EXPECT_TRUE(run("network x").starts_with("error"));
  EXPECT_TRUE(run("network").starts_with("error usage"));
  EXPECT_EQ(run("network list"), "ok 0 2") << "a refused line changes nothing";
  EXPECT_EQ(run("network any"), "ok");
  EXPECT_TRUE(sim_.endpoints()[0]->plc->reaches_network(77));
}

TEST_F(Control, FaultsByEndpointName) {
  EXPECT_EQ(run("fault udp:5000 drop 0.3"), "ok");
  EXPECT_DOUBLE_EQ(sim_.endpoints()[0]->faults.settings().drop, 0.3);
  EXPECT_EQ(sim_.endpoints()[1]->faults.settings().drop, 0);
  EXPECT_EQ(run("fault tcp:0:1e-ascii:plc=line2 code 0x5B 0x10 p=50%"), "ok");
  const FaultSettings& f = sim_.endpoints()[1]->faults.settings();
  EXPECT_TRUE(f.code_on);
  EXPECT_EQ(f.code, 0x5B);
  EXPECT_EQ(f.extended, 0x10);
  EXPECT_DOUBLE_EQ(f.code_share, 0.5);
  EXPECT_EQ(run("fault tcp:40001"), "ok tcp:40001 code=0x5B/0x10 p=0.5");
  EXPECT_EQ(run("fault * silent"), "ok");
  EXPECT_TRUE(sim_.endpoints()[0]->faults.settings().silent);
  EXPECT_TRUE(sim_.endpoints()[1]->faults.settings().silent);
  EXPECT_EQ(run("fault * clear"), "ok");
  EXPECT_EQ(run("fault *"), "ok udp:5000 none; tcp:40001 none");
  EXPECT_TRUE(run("fault udp:5001 drop 1").starts_with("error no endpoint"));
  EXPECT_TRUE(run("fault udp:5000 drop 1.5").starts_with("error bad share"));
  EXPECT_TRUE(run("fault udp:5000 wobble").starts_with("error unknown fault"));
  EXPECT_TRUE(run("fault * split 0").starts_with("error"));
  EXPECT_EQ(sim_.endpoints()[0]->faults.describe(), "none") << "a refused line changed a fault";
}

TEST(Faults, SettingsFromArguments) {
  Faults f;
  EXPECT_EQ(f.configure({"delay", "250ms", "1s"}), "");
  EXPECT_EQ(f.settings().delay_ms, 250);
  EXPECT_EQ(f.settings().delay_jitter_ms, 1000);
  EXPECT_EQ(f.configure({"split", "3", "5ms"}), "");
  EXPECT_EQ(f.settings().split_bytes, 3);
  EXPECT_EQ(f.settings().split_gap_ms, 5);
  EXPECT_EQ(f.configure({"join"}), "");
  EXPECT_EQ(f.configure({"refuse", "on"}), "");
  EXPECT_EQ(f.configure({"close", "p=0.25"}), "");
  EXPECT_EQ(f.configure({"badcmd"}), "");
  EXPECT_EQ(f.describe(), "delay=250ms+1000ms badcmd=1 split=3/5ms join close=0.25 refuse");
  EXPECT_EQ(f.configure({"refuse", "off"}), "");
  EXPECT_EQ(f.configure({"split", "off"}), "");
  EXPECT_EQ(f.configure({"badcmd", "off"}), "");
  EXPECT_FALSE(f.settings().refuse);
  EXPECT_NE(f.configure({"delay", "-5"}), "");
  EXPECT_NE(f.configure({"code", "0"}), "");
  EXPECT_NE(f.configure({"code", "0x10000"}), "");
  EXPECT_NE(f.configure({"join", "maybe"}), "");
  EXPECT_NE(f.configure({}), "");
}

TEST(Faults, PlansFollowTheShares) {
  Faults f(7);
  ASSERT_EQ(f.configure({"drop", "0.3"}), "");
  int dropped = 0;
  for (int i = 0; i < 10000; ++i) dropped += f.plan().drop;
  EXPECT_GT(dropped, 2700);
  EXPECT_LT(dropped, 3300);

  ASSERT_EQ(f.configure({"clear"}), "");
  ASSERT_EQ(f.configure({"code", "0xC051"}), "");
  ReplyPlan p = f.plan();
  EXPECT_TRUE(p.forced.active);
  EXPECT_EQ(p.forced.code, 0xC051);
  EXPECT_FALSE(p.drop);

  ASSERT_EQ(f.configure({"silent"}), "");
  p = f.plan();
  EXPECT_TRUE(p.silent);
  EXPECT_FALSE(p.forced.active) << "a silent peer does not answer at all";

  ASSERT_EQ(f.configure({"clear"}), "");
  ASSERT_EQ(f.configure({"delay", "100", "50"}), "");
  for (int i = 0; i < 200; ++i) {
    int d = f.plan().delay_ms;
    ASSERT_GE(d, 100);
    ASSERT_LE(d, 150);
  }
}

TEST(Faults, SlowRequestsTakeTheirShareOfExtraTimeAndSerialIsPassedOn) {
  Faults f(3);
  ASSERT_EQ(f.configure({"slow", "1.2s", "p=0.25"}), "");
  ASSERT_EQ(f.configure({"serial", "on"}), "");
  EXPECT_EQ(f.describe(), "slow=1200ms p=0.25 serial");
  int slow = 0;
  for (int i = 0; i < 4000; ++i) {
    const ReplyPlan p = f.plan();
    ASSERT_TRUE(p.delay_ms == 0 || p.delay_ms == 1200) << p.delay_ms;
    ASSERT_TRUE(p.serial);
    slow += p.delay_ms > 0;
  }
  EXPECT_GT(slow, 850);
  EXPECT_LT(slow, 1150);
  ASSERT_EQ(f.configure({"slow", "off"}), "");
  ASSERT_EQ(f.configure({"serial", "off"}), "");
  EXPECT_EQ(f.describe(), "none");
  EXPECT_NE(f.configure({"slow"}), "");
  EXPECT_NE(f.configure({"slow", "soon"}), "");
}

TEST(Parsing, DurationsSharesIntegersDevicesAndListenSpecs) {
  EXPECT_DOUBLE_EQ(*parse_duration_ms("250"), 250);
  EXPECT_DOUBLE_EQ(*parse_duration_ms("1.5s"), 1500);
  EXPECT_DOUBLE_EQ(*parse_duration_ms("2m"), 120000);
  EXPECT_FALSE(parse_duration_ms("fast"));
  EXPECT_DOUBLE_EQ(*parse_share("30%"), 0.3);
  EXPECT_FALSE(parse_share("101%"));
  EXPECT_EQ(*parse_integer("0x1F"), 31);
  EXPECT_EQ(*parse_integer("-12"), -12);
  EXPECT_FALSE(parse_integer("12a"));
  EXPECT_FALSE(parse_integer(""));

  auto d = parse_device("CN12");
  ASSERT_TRUE(d);
  EXPECT_EQ(d->type, RegisterType::CN);
  EXPECT_EQ(parse_device("x1f")->number, 0x1Fu);
  EXPECT_EQ(parse_device("M9000")->number, 9000u);
  EXPECT_EQ(parse_device("EX2:300")->block, 2);
  EXPECT_FALSE(parse_device("D1F"));
  EXPECT_FALSE(parse_device("EX300"));
  EXPECT_FALSE(parse_device("EX256:1"));
  EXPECT_FALSE(parse_device("D"));
  EXPECT_EQ(device_name(*parse_device("w1a")), "W1A");

  std::string error;
  auto s = parse_listen_spec("tcp:5002:1e-binary:plc=press", &error);
  ASSERT_TRUE(s);
  EXPECT_EQ(s->transport, Transport::kTcp);
  EXPECT_EQ(s->port, 5002);
  EXPECT_EQ(s->format, (FrameFormat{FrameType::k1E, Coding::kBinary}));
  EXPECT_EQ(s->plc, "press");
  EXPECT_FALSE(parse_listen_spec("sctp:5000:3e-binary", &error));
  EXPECT_FALSE(parse_listen_spec("udp:70000:3e-binary", &error));
  EXPECT_FALSE(parse_listen_spec("udp:5000:4e-binary", &error));
  EXPECT_FALSE(parse_listen_spec("udp:5000", &error));
  EXPECT_FALSE(parse_listen_spec("udp:5000:3e-ascii:press", &error));
}

TEST(Moving, ValuesFollowTheClock) {
  Move ramp;
  ramp.kind = MoveKind::kRamp;
  ramp.low = 0;
  ramp.high = 1000;
  ramp.period_ms = 10000;
  ramp.start_ms = 500;
  EXPECT_EQ(move_value(ramp, 500), 0);
  EXPECT_EQ(move_value(ramp, 5500), 500);
  EXPECT_EQ(move_value(ramp, 10499), 999);
  EXPECT_EQ(move_value(ramp, 10500), 0) << "starts again after one period";

  Move sine = ramp;
  sine.kind = MoveKind::kSine;
  sine.low = -100;
  sine.high = 100;
  sine.start_ms = 0;
  EXPECT_EQ(move_value(sine, 0), 0);
  EXPECT_EQ(move_value(sine, 2500), 100);
  EXPECT_EQ(static_cast<std::int16_t>(move_value(sine, 7500)), -100);

  Move counter;
  counter.kind = MoveKind::kCounter;
  counter.step = 10;
  counter.period_ms = 100;
  counter.start_value = 65530;
  EXPECT_EQ(move_value(counter, 99), 65530);
  EXPECT_EQ(move_value(counter, 100), 4) << "16-bit wrap";

  Move toggle;
  toggle.kind = MoveKind::kToggle;
  toggle.period_ms = 1000;
  toggle.start_value = 1;
  EXPECT_EQ(move_value(toggle, 999), 1);
  EXPECT_EQ(move_value(toggle, 1000), 0);
  EXPECT_EQ(move_value(toggle, 2000), 1);
}

TEST_F(Control, MovesWriteIntoDeviceMemory) {
  EXPECT_EQ(run("set D5 100"), "ok 1");
  EXPECT_EQ(run("move D5 counter 3 1s", 1000), "ok");
  EXPECT_EQ(run("move M7 toggle 500ms", 1000), "ok");
  EXPECT_EQ(run("move D6 sine 0 1000 4s @3", 0).substr(0, 5), "error") << "no station 3";
  EXPECT_EQ(run("move M8 ramp 0 10 1s"), "error ramp and sine need a word device");
  EXPECT_EQ(run("move D9 ramp 10 0 1s"), "error bad LOW HIGH");
  EXPECT_EQ(run("move list"), "ok 2; D5 counter 3 1000ms; M7 toggle 500ms");
  auto resolve = [this](const MemoryTarget& t) { return sim_.memory(t); };
  sim_.movers().apply(3500, resolve);
  EXPECT_EQ(run("get D5"), "ok 106");
  EXPECT_EQ(run("get M7"), "ok 1");
  sim_.movers().apply(4000, resolve);  // D5: three steps, 109
  EXPECT_EQ(run("get M7"), "ok 0");
  EXPECT_EQ(run("move D5 stop"), "ok");
  EXPECT_TRUE(run("move D5 stop").starts_with("error"));
  sim_.movers().apply(9000, resolve);
  EXPECT_EQ(run("get D5"), "ok 109") << "a stopped move keeps moving";
  EXPECT_EQ(run("move clear"), "ok");
  EXPECT_EQ(run("move list"), "ok 0");
}

TEST_F(Control, StatsEchoHelpQuit) {
  sim_.endpoints()[0]->counters.requests = 5;
  sim_.endpoints()[0]->counters.open = 2;
  EXPECT_TRUE(run("stats udp:5000").starts_with("ok udp:5000 3e-binary plc=main requests=5 "));
  EXPECT_EQ(run("stats reset udp:5000"), "ok");
  EXPECT_EQ(sim_.endpoints()[0]->counters.requests, 0u);
  EXPECT_EQ(sim_.endpoints()[0]->counters.open, 2u) << "open connections are a state, not a count";
  EXPECT_EQ(run("endpoints"), "ok udp:5000:3e-binary:plc=main tcp:40001:1e-ascii:plc=line2");
  EXPECT_EQ(run("echo hello  world"), "ok hello world");
  EXPECT_TRUE(run("help").starts_with("ok commands:"));
  EXPECT_FALSE(sim_.quit_requested());
  EXPECT_EQ(run("quit"), "ok bye");
  EXPECT_TRUE(sim_.quit_requested());
}

}  // namespace
}  // namespace hbt::mcsim
