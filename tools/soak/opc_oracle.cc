#include "tools/soak/opc_oracle.h"

#include <algorithm>
#include <cstdio>

namespace hbt::soak {

namespace {

constexpr double kOpen = std::numeric_limits<double>::infinity();

}  // namespace

OpcOracle::OpcOracle(std::vector<OpcItem> items, OpcRules rules, double update_rate_ms, double thread_sleep_ms,
                     double start_ms)
    : items_(std::move(items)),
      rules_(std::move(rules)),
      update_rate_ms_(update_rate_ms),
      thread_sleep_ms_(thread_sleep_ms),
      start_(start_ms),
      shown_(items_.size()) {}

double OpcOracle::value_window(const OpcItem& item, double at) const {
  return rules_.host_window(item, at) + update_rate_ms_ + kDeliverySlackMs;
}

double OpcOracle::recovery_deadline(int channel, double cleared) const {
  return cleared + rules_.recovery_bound(channel) + update_rate_ms_ + kDeliverySlackMs;
}

void OpcOracle::fault_ended(int channel, double cleared, const std::string& what) {
  Watch w{channel, cleared, recovery_deadline(channel, cleared), what};
  for (std::size_t i = 0; i < items_.size(); ++i)
    if (items_[i].channel == channel) w.items.push_back(static_cast<int>(i));
  if (w.items.empty()) return;
  w.good.assign(w.items.size(), false);
  watches_.push_back(std::move(w));
}

void OpcOracle::poller_stopped(double from) { stops_.push_back({from, kOpen}); }

void OpcOracle::poller_started(double at) {
  if (stops_.empty() || stops_.back().to != kOpen) return;
  stops_.back().to = at;
  if (at - stops_.back().from > stop_grace()) ++stops_checked_;
}

std::string OpcOracle::where(const OpcItem& item) const {
  char text[120];
  std::snprintf(text, sizeof text, "OPC item %s (channel C%d)", item.id.c_str(), item.channel);
  return text;
}

void OpcOracle::start_watch(Watch& w) {
  w.started = true;
  for (std::size_t k = 0; k < w.items.size(); ++k) {
    const Shown& s = shown_[static_cast<std::size_t>(w.items[k])];
    w.good[k] = s.known && s.report.good();
  }
  if (std::all_of(w.good.begin(), w.good.end(), [](bool g) { return g; })) w.all_good_at = w.cleared;
}

void OpcOracle::stale(const OpcItem& item, const OpcReport& r, double at, double window,
                      const RegisterHistory& history) {
  const double held = history.last_held(item.reg, r.value, at);
  char text[400];
  std::snprintf(text, sizeof text,
                "%s showed %u with good quality at %.0f ms (delivered at %.0f ms), a value D%u did not hold in the "
                "%.0f ms before (%s %.0f ms before; now %u)",
                where(item).c_str(), r.value, at - start_, r.received_ms - start_, item.reg, window,
                held < 0 ? "never held;" : "last held", held < 0 ? 0.0 : at - held, history.latest(item.reg));
  violations_.add(text + rules_.faults_near(item.channel, at), "value " + std::to_string(item.channel));
  ++value_violations_;
}

void OpcOracle::judge_standing(int index, double until, const RegisterHistory& history) {
  Shown& s = shown_[static_cast<std::size_t>(index)];
  if (!s.known || !s.report.good() || s.flagged) return;
  const OpcItem& item = items_[static_cast<std::size_t>(index)];
  const double since = s.report.received_ms;
  for (const Stop& stop : stops_) {
    const double from = std::max(since, stop.from + stop_grace());
    if (from > std::min(until, stop.to)) continue;
    char text[400];
    std::snprintf(text, sizeof text,
                  "%s was good (0x%02X, delivered at %.0f ms) at %.0f ms, %.0f ms into a stop of the poller; the "
                  "server must see the watchdog stand still within %.0f ms",
                  where(item).c_str(), s.report.quality, since - start_, from - start_, from - stop.from,
                  3 * thread_sleep_ms_);
    // One in detail: a server that misses a stop misses it for every item.
    violations_.add(text, "stop");
    ++stop_violations_;
    s.flagged = true;
    return;
  }
  if (!s.report.register_value) return;  // counted when it was delivered
  ++standing_checked_;
  const double window = value_window(item, until);
  if (history.held(item.reg, s.report.value, until - window, until)) return;
  stale(item, s.report, until, window, history);
  s.flagged = true;
}

void OpcOracle::take(const OpcReport& r, const RegisterHistory& history) {
  // Watches whose fault ended before this report start from what the client showed then.
  for (Watch& w : watches_)
    if (!w.started && w.cleared <= r.received_ms) start_watch(w);
  ++reports_;
  if (r.item < 0 || static_cast<std::size_t>(r.item) >= items_.size()) return;
  const OpcItem& item = items_[static_cast<std::size_t>(r.item)];
  const double t = r.received_ms;
  judge_standing(r.item, t, history);  // the value this report replaces, up to now
  Shown& s = shown_[static_cast<std::size_t>(r.item)];
  s = Shown{r, true, false};
  if (!r.good()) {
    ++not_good_;
    return;
  }
  for (Watch& w : watches_) {
    if (w.channel != item.channel || !w.started || t > w.deadline || w.all_good_at >= 0) continue;
    for (std::size_t k = 0; k < w.items.size(); ++k)
      if (w.items[k] == r.item) w.good[k] = true;
    if (std::all_of(w.good.begin(), w.good.end(), [](bool g) { return g; })) w.all_good_at = t;
  }
  ++values_checked_;
  if (!r.register_value) {
    char text[400];
    std::snprintf(text, sizeof text,
                  "%s was delivered with good quality at %.0f ms with the value %s, which no 16-bit register holds",
                  where(item).c_str(), t - start_, r.value_text.c_str());
    violations_.add(text, "value " + std::to_string(item.channel));
    ++value_violations_;
    s.flagged = true;
    return;
  }
  const double window = value_window(item, t);
  if (history.held(item.reg, r.value, t - window, t)) return;
  stale(item, r, t, window, history);
  s.flagged = true;
}

void OpcOracle::judge(Watch& w) {
  if (w.all_good_at >= 0) {
    ++recoveries_checked_;
    slowest_recovery_ = std::max(slowest_recovery_, w.all_good_at - w.cleared);
    return;
  }
  // A new fault or a stop of the poller before the deadline starts another story.
  const bool stopped = std::any_of(stops_.begin(), stops_.end(),
                                   [&](const Stop& s) { return s.from <= w.deadline && s.to >= w.cleared; });
  if (stopped || rules_.fault_switched_on(w.channel, w.cleared, w.deadline)) {
    ++recoveries_excused_;
    return;
  }
  ++recoveries_checked_;
  std::string bad;
  for (std::size_t k = 0; k < w.items.size(); ++k)
    if (!w.good[k]) bad += (bad.empty() ? "" : ", ") + items_[static_cast<std::size_t>(w.items[k])].id;
  char text[400];
  std::snprintf(text, sizeof text,
                "OPC recovery: the items of C%d were not all good again within %.0f ms after the fault '%s' ended "
                "at %.0f ms (not good: %s)",
                w.channel, w.deadline - w.cleared, w.what.c_str(), w.cleared - start_, bad.c_str());
  violations_.add(text, "recovery " + std::to_string(w.channel));
  ++recovery_violations_;
}

void OpcOracle::check(const RegisterHistory& history, double settled) {
  std::size_t used = 0;
  while (used < pending_.size() && pending_[used].received_ms <= settled) take(pending_[used++], history);
  pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(used));
  for (std::size_t i = 0; i < shown_.size(); ++i) judge_standing(static_cast<int>(i), settled, history);
  for (Watch& w : watches_)
    if (!w.started && w.cleared <= settled) start_watch(w);
  for (auto it = watches_.begin(); it != watches_.end();) {
    if (it->started && it->deadline <= settled) {
      judge(*it);
      it = watches_.erase(it);
    } else {
      ++it;
    }
  }
}

}  // namespace hbt::soak
