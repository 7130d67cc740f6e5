// The oracle over what an OPC client subscribed to the driver's server receives while the
// soak runs:
// - every value delivered with good quality was held by its register within the window a host
//   read is allowed, plus the group's update rate, plus a fixed slack for the delivery; and as
//   long as it stands (a subscription reports changes only), it stays that fresh: a server that
//   stops reporting an item keeps it good only while the register holds still;
// - once a fault on a channel ends, the channel's items are good again within the recovery
//   time a host is allowed, plus the update rate and the same slack;
// - no item is good, delivered or standing, while the poller has been stopped for longer than
//   the server's watchdog time plus the update rate and the slack.
#pragma once

#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "tools/soak/opc_reports.h"
#include "tools/soak/register_history.h"
#include "tools/soak/violations.h"

namespace hbt::soak {

struct OpcItem {
  std::string id;  // the item ID the client subscribed to, e.g. "C3:D:703"
  int channel = 0;
  int record = 0;  // poll record index in the image
  std::uint32_t reg = 0;
  bool written = false;  // of the record the host writes to
};

// What the rest of the soak knows and the OPC oracle asks.
struct OpcRules {
  // How old a value a host read of the item may give when it reads at `at` (with the
  // allowances for faults on the item's channel around that time).
  std::function<double(const OpcItem&, double at)> host_window;
  std::function<double(int channel)> recovery_bound;  // how long a host waits for good again
  std::function<bool(int channel, double from, double to)> fault_switched_on;
  std::function<std::string(int channel, double t)> faults_near;  // for the details
};

class OpcOracle {
 public:
  // The server's poll thread wakes every `thread_sleep_ms`; it takes the poller for dead once
  // the watchdog has not moved between two of its looks, so by three sleeps after the
  // watchdog stopped.
  OpcOracle(std::vector<OpcItem> items, OpcRules rules, double update_rate_ms, double thread_sleep_ms,
            double start_ms);

  void add(const OpcReport& r) { pending_.push_back(r); }
  // Trouble of the client itself (it exited, printed an error, refused an item).
  void problem(const std::string& what) {
    violations_.add(what, "client");
    ++client_problems_;
  }
  void fault_ended(int channel, double cleared, const std::string& what);
  // The span in which the poller was certainly stopped: from when it was seen stopped until
  // it was told to start again.
  void poller_stopped(double from);
  void poller_started(double at);

  // Judges everything up to `settled` (the history must be complete up to then).
  void check(const RegisterHistory& history, double settled);

  // How old a good value the client shows may be: what a host read may give, then a change
  // the server's last update pass just missed waits one update rate for the next pass, then
  // the delivery.
  double value_window(const OpcItem& item, double at) const;
  double recovery_deadline(int channel, double cleared) const;
  double stop_grace() const { return 3 * thread_sleep_ms_ + update_rate_ms_ + kDeliverySlackMs; }

  const Violations& violations() const { return violations_; }
  // The failing ones by kind.
  long value_violations() const { return value_violations_; }
  long stop_violations() const { return stop_violations_; }
  long recovery_violations() const { return recovery_violations_; }
  long client_problems() const { return client_problems_; }
  long reports() const { return reports_; }
  long values_checked() const { return values_checked_; }
  long standing_checked() const { return standing_checked_; }
  long not_good() const { return not_good_; }
  long recoveries_checked() const { return recoveries_checked_; }
  long recoveries_excused() const { return recoveries_excused_; }
  double slowest_recovery() const { return slowest_recovery_; }
  long stops_checked() const { return stops_checked_; }

  // The update pass reads its items one after another and calls the client after the last;
  // a poll thread preempted on a loaded machine, and the client's own thread that stamps the
  // receipt, may each lose a few scheduler slices in between.
  static constexpr double kDeliverySlackMs = 200;

 private:
  struct Watch {
    int channel;
    double cleared, deadline;
    std::string what;
    bool started = false;       // item states taken at `cleared`
    std::vector<int> items;     // of the channel
    std::vector<bool> good;     // good at some time in [cleared, deadline]
    double all_good_at = -1;
  };
  struct Stop {
    double from, to;
  };
  // What the client shows of an item: its last report, from `since` on.
  struct Shown {
    OpcReport report;
    bool known = false;
    bool flagged = false;  // its violation is counted: one per report
  };

  void take(const OpcReport& r, const RegisterHistory& history);
  // Judges the item's good value as it stood from its report until `until`.
  void judge_standing(int item, double until, const RegisterHistory& history);
  void stale(const OpcItem& item, const OpcReport& r, double at, double window, const RegisterHistory& history);
  void start_watch(Watch& w);
  void judge(Watch& w);
  std::string where(const OpcItem& item) const;

  std::vector<OpcItem> items_;
  OpcRules rules_;
  double update_rate_ms_, thread_sleep_ms_, start_;
  std::vector<OpcReport> pending_;
  std::vector<Shown> shown_;  // per item
  std::vector<Watch> watches_;
  std::vector<Stop> stops_;
  Violations violations_;
  long reports_ = 0, values_checked_ = 0, standing_checked_ = 0, not_good_ = 0;
  long recoveries_checked_ = 0, recoveries_excused_ = 0, stops_checked_ = 0;
  double slowest_recovery_ = 0;
  long value_violations_ = 0, stop_violations_ = 0, recovery_violations_ = 0, client_problems_ = 0;
};

}  // namespace hbt::soak
