// The OPC oracle on made-up histories and client reports: what it must flag and what it must
// let pass, with windows that are round numbers (host window 1000 ms, update rate 100 ms, so a
// value may be 1300 ms old; stops are judged from 420 ms; recovery deadline 2300 ms).
#include "tools/soak/opc_oracle.h"

#include <gtest/gtest.h>

#include <random>

namespace hbt::soak {
namespace {

struct Fixture {
  RegisterHistory history;
  std::vector<std::pair<int, double>> faults_on;  // channel, time switched on

  OpcOracle make() {
    std::vector<OpcItem> items = {{"C0:D:100", 0, 0, 100, false}, {"C0:D:150", 0, 1, 150, true},
                                  {"C1:D:300", 1, 2, 300, false}};
    OpcRules rules;
    rules.host_window = [](const OpcItem&, double) { return 1000.0; };
    rules.recovery_bound = [](int) { return 2000.0; };
    rules.fault_switched_on = [this](int c, double from, double to) {
      for (const auto& [channel, t] : faults_on)
        if (channel == c && t >= from && t <= to) return true;
      return false;
    };
    rules.faults_near = [](int, double) { return std::string(); };
    return OpcOracle(items, rules, 100, 40, 0);
  }
};

OpcReport report(int item, double t, std::uint16_t value, int quality = 0xC0) {
  OpcReport r;
  r.item = item;
  r.received_ms = t;
  r.quality = quality;
  r.register_value = true;
  r.value = value;
  r.value_text = std::to_string(value);
  return r;
}

TEST(SoakOpcOracle, AGoodValueMustBeFreshWhenDeliveredAndForAsLongAsItStands) {
  Fixture f;
  f.history.add(0, 100, 1);
  f.history.add(1000, 100, 2);
  f.history.add(5000, 100, 3);
  OpcOracle o = f.make();
  o.add(report(0, 500, 1));
  o.add(report(0, 2200, 2));  // the change 1200 ms late: inside the window
  o.check(f.history, 3000);
  o.check(f.history, 6200);  // 2 left the register 1200 ms ago: still allowed
  EXPECT_EQ(o.violations().count, 0);
  o.check(f.history, 6400);  // 1400 ms ago: the server missed the change
  o.check(f.history, 7000);
  EXPECT_EQ(o.value_violations(), 1) << "one standing value counts once";
  o.add(report(0, 7100, 2));  // the old value delivered again
  o.add(report(0, 7200, 3));
  o.check(f.history, 8000);
  EXPECT_EQ(o.value_violations(), 2);
  EXPECT_EQ(o.values_checked(), 4);
  // Not judged: a bad quality, whatever the value; judged: a good value no register holds.
  o.add(report(0, 8100, 77, 0x18));
  OpcReport fraction = report(0, 8200, 0);
  fraction.register_value = false;
  o.add(fraction);
  o.check(f.history, 9000);
  EXPECT_EQ(o.value_violations(), 3);
  EXPECT_EQ(o.not_good(), 1);
}

TEST(SoakOpcOracle, NothingIsGoodOnceThePollerHasBeenStoppedForTheWatchdogTime) {
  Fixture f;
  OpcOracle o = f.make();
  o.add(report(0, 100, 0));
  o.add(report(2, 100, 0));
  o.poller_stopped(1000);
  o.add(report(0, 1200, 0, 0x1C));  // noticed in time
  o.check(f.history, 1400);
  EXPECT_EQ(o.stop_violations(), 0);
  o.check(f.history, 1500);  // item 2 still shows good 500 ms into the stop
  EXPECT_EQ(o.stop_violations(), 1);
  EXPECT_NE(o.violations().first[0].find("C1:D:300"), std::string::npos);
  // Delivered good during the stop, and good after the start: only the first counts.
  o.add(report(0, 2000, 0));
  o.poller_started(3000);
  o.add(report(1, 3050, 0));
  o.check(f.history, 4000);
  EXPECT_EQ(o.stop_violations(), 2);
  EXPECT_EQ(o.stops_checked(), 1);
  // A stop shorter than the watchdog time is never judged.
  OpcOracle brief = f.make();
  brief.add(report(0, 100, 0));
  brief.poller_stopped(1000);
  brief.poller_started(1300);
  brief.check(f.history, 5000);
  EXPECT_EQ(brief.violations().count, 0);
  EXPECT_EQ(brief.stops_checked(), 0);
}

TEST(SoakOpcOracle, TheItemsOfAChannelAreGoodAgainInTimeAfterItsFault) {
  Fixture f;
  OpcOracle o = f.make();
  for (int item : {0, 1, 2}) o.add(report(item, 100, 0));
  // Recovered in 1800 ms of the 2300 allowed; the other channel's item plays no part.
  o.add(report(0, 900, 0, 0x18));
  o.add(report(1, 950, 0, 0x18));
  o.add(report(2, 960, 0, 0x18));
  o.fault_ended(0, 1000, "silent on");
  o.add(report(0, 1500, 0));
  o.add(report(1, 2800, 0));
  o.check(f.history, 3400);
  EXPECT_EQ(o.recoveries_checked(), 1);
  EXPECT_DOUBLE_EQ(o.slowest_recovery(), 1800);
  EXPECT_EQ(o.violations().count, 0);
  // One item never comes back.
  o.add(report(1, 4900, 0, 0x18));
  o.fault_ended(0, 5000, "drop 0.5");
  o.check(f.history, 7250);
  EXPECT_EQ(o.recovery_violations(), 0) << "judged only at the deadline";
  o.check(f.history, 7400);
  EXPECT_EQ(o.recovery_violations(), 1);
  EXPECT_NE(o.violations().first.back().find("C0:D:150"), std::string::npos);
  // Not judged when a new fault or a stop of the poller came first.
  f.faults_on.push_back({0, 9000});
  o.fault_ended(0, 8000, "code");
  o.poller_stopped(12000);
  o.poller_started(12100);
  o.fault_ended(0, 11000, "join on");
  o.check(f.history, 20000);
  EXPECT_EQ(o.recovery_violations(), 1);
  EXPECT_EQ(o.recoveries_excused(), 2);
}

// A simulated server that updates every 100 ms with values up to `lag` ms old, with spells of
// bad quality, or with one spell of 2 s in which it stops reporting while the item stays
// good: a lag inside the window never gives a violation, a silent spell always does.
long simulate(std::mt19937& rng, double lag, bool silent_spell) {
  Fixture f;
  std::vector<std::pair<double, std::uint16_t>> changes = {{0, 0}};
  for (double t = 0; t < 20000;) {
    t += 100 + static_cast<double>(rng() % 400);
    changes.push_back({t, static_cast<std::uint16_t>(changes.back().second + 1 + rng() % 5)});
    f.history.add(t, 100, changes.back().second);
  }
  auto value_at = [&](double t) {
    std::uint16_t v = 0;
    for (const auto& [c, x] : changes)
      if (c <= t) v = x;
    return v;
  };
  OpcOracle o = f.make();
  const double silent_from = 5000 + static_cast<double>(rng() % 10000);
  int last_value = -1, last_quality = -1;
  for (double pass = 0; pass < 20000; pass += 100) {
    // Bad spells only where the silence is not tried (a bad item is rightly left unjudged).
    const bool bad = !silent_spell && (static_cast<int>(pass) / 100) % 37 < 3;
    const int quality = bad ? 0x18 : 0xC0;
    const std::uint16_t v = value_at(pass - static_cast<double>(rng() % (static_cast<unsigned>(lag) + 1)));
    const bool silent = silent_spell && pass >= silent_from && pass < silent_from + 2000;
    if (!silent && (v != last_value || quality != last_quality)) {
      o.add(report(0, pass + static_cast<double>(rng() % 20), v, quality));
      last_value = v;
      last_quality = quality;
    }
    if (static_cast<int>(pass) % 500 == 0) o.check(f.history, pass - 300);
  }
  o.check(f.history, 20000);
  return o.violations().count;
}

TEST(SoakOpcOracle, ALaggingServerPassesAndASilentOneIsCaught) {
  std::mt19937 rng(21);
  for (int run = 0; run < 40; ++run) {
    EXPECT_EQ(simulate(rng, 1050, false), 0) << run;
    EXPECT_GT(simulate(rng, 300, true), 0) << run;
  }
}

}  // namespace
}  // namespace hbt::soak
