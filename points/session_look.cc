// The session's look at the image: follows reloads, judges the poller's liveness, keeps the
// records polled, and turns what the image shows changed into values for the change feed.
#include <algorithm>
#include <cmath>

#include "image/lock_byte.h"
#include "points/quality.h"
#include "points/session.h"
#include "points/shared_fields.h"

namespace hbt::points {

using namespace hbt::image;

namespace {

constexpr std::int32_t kMaxWindowTicks = 30000;
// Reply time allowed beyond the channel's own retries and timeouts, in ticks.
constexpr std::int32_t kWindowMarginTicks = 100;

bool numeric_with_deadband(const hbt_point_info& info) {
  return info.deadband > 0 && info.type != HBT_POINT_BOOL && info.type != HBT_POINT_STRING;
}

double number_of(const hbt_point_info& info, std::int64_t integer, double real) {
  return info.type == HBT_POINT_FLOAT || info.type == HBT_POINT_DOUBLE ? real : static_cast<double>(integer);
}

}  // namespace

std::int64_t Session::request_time(const RecordPlan& plan, std::int32_t countdown, std::int64_t now_unix) const {
  // The poller reloads the countdown with the poll time when it sends the read: what has run
  // off since is the age of the request.
  const std::int64_t age = std::int64_t{plan.poll_time} - countdown;
  if (plan.poll_time <= 0 || age < 0 || age > plan.poll_time) return now_unix;
  return now_unix - 10 * age;
}

bool Session::rebuild(std::string* error) {
  auto model = build_model(view(), host_, tags_, error);
  if (!model) return false;
  model->generation = generation_ + 1;
  install(std::move(model));
  return true;
}

void Session::install(std::shared_ptr<const Model> model) {
  const hostlib::ImageView v = view();
  const Model& m = *model;
  const std::int64_t now_unix = clock_->unix_ms();

  look_model_ = model;
  look_records_.assign(m.plans.size(), LookRecord{});
  std::uint32_t copy_bytes = 0;
  for (std::size_t r = 0; r < m.plans.size(); ++r) {
    LookRecord& lr = look_records_[r];
    lr.head = v.record(m.plans[r].image_record);
    lr.control = v.control(m.plans[r].image_record);
    lr.area = v.area(lr.head, kAreaCurrent);
    if (lr.head == nullptr || lr.control == nullptr) lr.head = nullptr;
    lr.copy_at = copy_bytes;
    copy_bytes += static_cast<std::uint32_t>(lr.area.size);
  }
  copies_.assign(copy_bytes, 0);
  look_channels_.assign(static_cast<std::size_t>(std::max(v.channels, 0)), LookChannel{});
  for (std::size_t c = 0; c < look_channels_.size(); ++c) {
    LookChannel& lc = look_channels_[c];
    lc.record = v.channel(static_cast<int>(c));
    if (lc.record == nullptr) continue;
    lc.replies = replies_received(lc.record);
    const std::int64_t window = std::int64_t{lc.record->primary.retries + 1} * lc.record->primary.reply_timeout;
    lc.window_ticks = static_cast<std::int32_t>(std::min<std::int64_t>(window + kWindowMarginTicks, kMaxWindowTicks));
  }
  awaiting_.clear();

  // Every value once, from the image as it stands.
  std::vector<Update> updates;
  updates.reserve(m.points.size());
  touched_points_.reserve(m.points.size());
  for (std::uint32_t r = 0; r < m.plans.size(); ++r) {
    LookRecord& lr = look_records_[r];
    if (lr.head == nullptr) continue;
    copy_values(lr.head, lr.area, copies_.data() + lr.copy_at);
    lr.track.status = record_status(lr.head);
    lr.track.countdown = poll_countdown(lr.control);
    lr.track.request_unix_ms = request_time(m.plans[r], lr.track.countdown, now_unix);
    lr.changed_count = changed_count(lr.control);
    read_points_of_record(r, true, {}, &touched_points_);
  }
  for (std::uint32_t p : touched_points_) {
    const LookRecord& lr = look_records_[m.plan_index_of(p)];
    updates.push_back(update_of(p, lr.track.status == 0 ? lr.track.request_unix_ms : now_unix));
  }
  touched_points_.clear();

  Runtime rt;
  rt.model = model;
  rt.states.assign(m.points.size(), PointState{});
  rt.texts.assign(m.text_count, std::string());
  {
    std::lock_guard lock(mutex_);
    // Points that remain keep their last values while their new record has none yet.
    if (runtime_.model) {
      const Model& old = *runtime_.model;
      for (std::uint32_t p = 0; p < m.points.size(); ++p) {
        const std::uint32_t q = old.index.find(m.points[p].item_id);
        if (q == kNoPoint || old.points[q].type != m.points[p].type) continue;
        rt.states[p] = runtime_.states[q];
        const std::uint32_t slot = m.text_slot[p];
        if (slot != kNoPoint && old.text_slot[q] != kNoPoint) rt.texts[slot] = runtime_.texts[old.text_slot[q]];
      }
    }
    const std::uint64_t first = runtime_.feed ? runtime_.feed->last_sequence() + 1 : 1;
    rt.feed = std::make_unique<ChangeFeed>(static_cast<std::uint32_t>(m.points.size()), first);
    for (const Update& u : updates) {
      PointState& st = rt.states[u.point];
      const bool keep = !u.reading.has_value || keeps_last_value(u.record_status);
      if (!keep) {
        st.integer = u.reading.integer;
        st.real = u.reading.real;
        st.has_value = 1;
        st.reference = number_of(m.points[u.point], st.integer, st.real);
        const std::uint32_t slot = m.text_slot[u.point];
        if (slot != kNoPoint) rt.texts[slot] = u.reading.text;
      }
      const Quality q = quality_of(u.record_status, u.reading.has_value ? u.reading.value_status : 0, stalled_);
      st.quality = q.quality;
      st.status = q.status;
      st.time_ms = u.time_ms;
    }
    // Points of records the host does not resolve have no value to give.
    for (std::uint32_t p = 0; p < m.points.size(); ++p)
      if (!m.plan_of(p).bound) rt.states[p].quality = HBT_QUALITY_CONFIG;
    if (!client_model_) {
      client_model_ = model;
    } else if (client_model_ != model) {
      const Model& client = *client_model_;
      client_to_current_.assign(client.points.size(), kNoPoint);
      for (std::uint32_t p = 0; p < client.points.size(); ++p) client_to_current_[p] = m.index.find(client.points[p].item_id);
    }
    runtime_ = std::move(rt);
    generation_ = m.generation;
    if (rates_.size() != look_channels_.size()) rates_.assign(look_channels_.size(), ReplyRate{});
    for (const std::string& note : m.notes) messages_.add(kColourWarning, "points: " + note);
  }
  changed_.notify_all();
}

Session::Update Session::update_of(std::uint32_t p, std::int64_t time_ms) {
  const Model& m = *look_model_;
  const std::uint32_t r = m.plan_index_of(p);
  const LookRecord& lr = look_records_[r];
  Update u{p, static_cast<std::uint16_t>(lr.track.status), time_ms, {}};
  if (m.plans[r].bound)
    u.reading = read_from_area(m, p) ? read_from_copy(m, p, copies_.data() + lr.copy_at, lr.area.size)
                                     : read_through_host(host_, m, p);
  return u;
}

void Session::read_points_of_record(std::uint32_t r, bool all, const std::vector<WordChange>& changes,
                                    std::vector<std::uint32_t>* points) {
  const Model& m = *look_model_;
  const RecordPlan& plan = m.plans[r];
  const hbt_record_info& info = m.records[r];
  // Points of a record the host does not resolve stay CONFIG.
  if (!plan.bound) return;
  if (all) {
    for (std::uint32_t p = info.first_point; p < info.first_point + info.point_count; ++p) points->push_back(p);
    for (std::uint32_t t = plan.first_tag; t < plan.first_tag + plan.tag_count; ++t)
      points->push_back(m.tags[m.record_tags[t]].point);
    return;
  }
  for (const WordChange& c : changes) {
    points_of_word(plan.layout, c.word, c.bits, [&](std::uint32_t local) {
      const std::uint32_t p = m.point_of_local(plan, r, local);
      if (p != kNoPoint) points->push_back(p);
    });
  }
  for (std::uint32_t t = plan.first_tag; t < plan.first_tag + plan.tag_count; ++t) {
    const TagPlan& tag = m.tags[m.record_tags[t]];
    for (const WordChange& c : changes) {
      if (c.word < tag.place.first_word || c.word >= tag.place.first_word + tag.place.word_count) continue;
      if (tag.place.bit_mask != 0 && !(c.bits & tag.place.bit_mask)) continue;
      points->push_back(tag.point);
      break;
    }
  }
}

void Session::keep_polled(LookRecord& lr, const RecordPlan& plan) {
  // Reloading the access countdown is the host's proof of use; a session proves it for every
  // record, read or not, so that none stops being polled while it is open.
  if (plan.access_time <= 0 || plan.access_time == kAccessNeverExpires) return;
  if (access_expired(lr.control) == 0 && access_countdown(lr.control) >= plan.access_time / 2) return;
  ByteLock lock(&lr.control->lock);
  lr.control->access_countdown = plan.access_time;
  lr.control->access_expired = 0;
}

void Session::look_at_records(std::vector<Update>* updates) {
  const Model& m = *look_model_;
  const std::int64_t now = clock_->monotonic_ms();
  const std::int64_t now_unix = clock_->unix_ms();
  const std::uint16_t w = watchdog(niolib_->header());
  LookTiming timing;
  timing.elapsed_ticks = static_cast<std::int32_t>(std::min<std::int64_t>((now - last_look_ms_ + 9) / 10, 1 << 20));
  timing.freeze_ticks = freeze_ticks_;

  std::vector<std::uint32_t> seen, check;
  for (std::uint32_t r = 0; r < m.plans.size(); ++r) {
    LookRecord& lr = look_records_[r];
    if (lr.head == nullptr) continue;
    const RecordPlan& plan = m.plans[r];
    const std::uint16_t status = record_status(lr.head);
    const std::int32_t countdown = poll_countdown(lr.control);
    if (read_request_seen(lr.track.countdown, countdown, plan.poll_time, timing)) seen.push_back(r);
    lr.track.countdown = countdown;
    // A new exception flag of some client's point is a stored change.
    const std::uint16_t flagged = changed_count(lr.control);
    const bool more_flagged = flagged > lr.changed_count;
    lr.changed_count = flagged;
    if (status != lr.track.status) {
      lr.track.status = status;
      check.push_back(r);
    } else if (more_flagged) {
      check.push_back(r);
    }
    keep_polled(lr, plan);
  }
  for (LookChannel& lc : look_channels_)
    if (lc.record) lc.replies = replies_received(lc.record);
  auto replies_of = [&](const RecordPlan& plan) -> std::uint16_t {
    return plan.channel >= 0 && static_cast<std::size_t>(plan.channel) < look_channels_.size()
               ? look_channels_[plan.channel].replies
               : 0;
  };
  {
    std::lock_guard lock(mutex_);
    for (std::uint32_t r : forced_records_)
      if (r < m.plans.size()) seen.push_back(r);
    forced_records_.clear();
  }
  for (std::uint32_t r : seen) {
    LookRecord& lr = look_records_[r];
    if (lr.head == nullptr) continue;
    if (!lr.track.awaiting) awaiting_.push_back(r);
    await_reply(lr.track, replies_of(m.plans[r]), w);
    lr.track.request_unix_ms = request_time(m.plans[r], lr.track.countdown, now_unix);
  }

  // Compare what may have changed: awaited records and those whose status moved.
  std::vector<std::uint8_t> all(m.plans.size(), 0);
  for (std::uint32_t r : check) all[r] = 1;
  std::vector<std::uint32_t> compare = awaiting_;
  compare.insert(compare.end(), check.begin(), check.end());
  std::sort(compare.begin(), compare.end());
  compare.erase(std::unique(compare.begin(), compare.end()), compare.end());
  for (std::uint32_t r : compare) {
    LookRecord& lr = look_records_[r];
    const RecordPlan& plan = m.plans[r];
    note_replies(lr.track, replies_of(plan), w);
    word_changes_.clear();
    compare_values(lr.head, lr.area, copies_.data() + lr.copy_at, &word_changes_);
    const std::size_t first = touched_points_.size();
    read_points_of_record(r, all[r] != 0, word_changes_, &touched_points_);
    std::sort(touched_points_.begin() + static_cast<std::ptrdiff_t>(first), touched_points_.end());
    touched_points_.erase(std::unique(touched_points_.begin() + static_cast<std::ptrdiff_t>(first), touched_points_.end()),
                          touched_points_.end());
    const std::int64_t time = lr.track.status == 0 ? lr.track.request_unix_ms : now_unix;
    for (std::size_t i = first; i < touched_points_.size(); ++i) {
      updates->push_back(update_of(touched_points_[i], time));
    }
    const std::int32_t window =
        plan.channel >= 0 && static_cast<std::size_t>(plan.channel) < look_channels_.size()
            ? look_channels_[plan.channel].window_ticks
            : kWindowMarginTicks;
    settle(lr.track, w, window);
  }
  touched_points_.clear();
  awaiting_.erase(std::remove_if(awaiting_.begin(), awaiting_.end(),
                                 [&](std::uint32_t r) { return !look_records_[r].track.awaiting; }),
                  awaiting_.end());
}

void Session::resync_all(std::vector<Update>* updates) {
  const Model& m = *look_model_;
  const std::int64_t now_unix = clock_->unix_ms();
  awaiting_.clear();
  for (LookChannel& lc : look_channels_)
    if (lc.record) lc.replies = replies_received(lc.record);
  for (std::uint32_t r = 0; r < m.plans.size(); ++r) {
    LookRecord& lr = look_records_[r];
    if (lr.head == nullptr) continue;
    copy_values(lr.head, lr.area, copies_.data() + lr.copy_at);
    lr.track = RecordTrack{};
    lr.track.status = record_status(lr.head);
    lr.track.countdown = poll_countdown(lr.control);
    lr.track.request_unix_ms = request_time(m.plans[r], lr.track.countdown, now_unix);
    lr.changed_count = changed_count(lr.control);
    keep_polled(lr, m.plans[r]);
    const std::size_t first = touched_points_.size();
    read_points_of_record(r, true, {}, &touched_points_);
    const std::int64_t time = lr.track.status == 0 ? lr.track.request_unix_ms : now_unix;
    for (std::size_t i = first; i < touched_points_.size(); ++i) {
      updates->push_back(update_of(touched_points_[i], time));
    }
  }
  touched_points_.clear();
}

void Session::apply(const std::vector<Update>& updates, bool stalled_changed) {
  // Called with mutex_ held.
  Runtime& rt = runtime_;
  if (!rt.model || rt.model != look_model_) return;
  const Model& m = *rt.model;
  if (stalled_changed && stalled_) {
    for (std::uint32_t p = 0; p < m.points.size(); ++p) {
      if (rt.states[p].quality == HBT_QUALITY_CONFIG) continue;
      rt.states[p].quality = HBT_QUALITY_STALLED;
      rt.feed->touch(p);
    }
    return;
  }
  for (const Update& u : updates) {
    PointState& st = rt.states[u.point];
    const hbt_point_info& info = m.points[u.point];
    const Quality q = quality_of(u.record_status, u.reading.has_value ? u.reading.value_status : 0, false);
    bool changed = q.quality != st.quality || q.status != st.status;
    st.quality = q.quality;
    st.status = q.status;
    if (u.reading.has_value && !keeps_last_value(u.record_status)) {
      bool differs;
      const std::uint32_t slot = m.text_slot[u.point];
      if (slot != kNoPoint) {
        differs = rt.texts[slot] != u.reading.text;
        if (differs) rt.texts[slot] = u.reading.text;
      } else {
        differs = st.integer != u.reading.integer ||
                  std::memcmp(&st.real, &u.reading.real, sizeof st.real) != 0 || !st.has_value;
        st.integer = u.reading.integer;
        st.real = u.reading.real;
      }
      st.has_value = 1;
      if (differs) {
        st.time_ms = u.time_ms;
        const double now = number_of(info, st.integer, st.real);
        if (!numeric_with_deadband(info) || std::fabs(now - st.reference) >= info.deadband || !std::isfinite(now) ||
            !std::isfinite(st.reference))
          changed = true;
      }
    } else if (changed) {
      st.time_ms = u.time_ms;
    }
    if (changed) {
      st.reference = number_of(info, st.integer, st.real);
      rt.feed->touch(u.point);
    }
  }
}

void Session::drain_ring() {
  // Called with mutex_ held.
  if (!ring_) return;
  while (auto m = ring_->next())
    if (!m->text.empty()) messages_.add(m->colour, m->text);
}

void Session::update() {
  const std::int64_t now = clock_->monotonic_ms();
  PointerBlock* block = niolib_->pointer_block();
  if (block == nullptr) return;
  // The poller exits when no client has used it for a while: this session uses it.
  std::atomic_ref<std::int32_t>(block->client_usage_countdown).store(kClientUsageTicks, std::memory_order_relaxed);

  bool current = image_current();
  if (!current && block_field(block->loaded_generation) == block_field(block->map_generation)) {
    std::unique_lock lock(image_mutex_);
    niolib_->ReMapDIT();
    current = image_current();
  }
  if (current && (!look_model_ || look_model_->image_generation != niolib_->mapped_generation())) {
    std::string why;
    if (!rebuild(&why)) set_error("the configuration cannot be listed yet: " + why);
  }

  LivenessSample sample;
  sample.present = current && look_model_ && look_model_->image_generation == niolib_->mapped_generation();
  if (sample.present) {
    sample.running = block_field(block->state) == kStateRunning && (header_flags(niolib_->header()) & kPollingFlag);
    sample.watchdog = watchdog(niolib_->header());
  }
  liveness_.observe(now, sample);
  const bool stalled = liveness_.stalled();
  const bool stalled_changed = stalled != look_stalled_;

  std::vector<Update> updates;
  if (!stalled) {
    if (look_stalled_)
      resync_all(&updates);
    else
      look_at_records(&updates);
  }
  look_stalled_ = stalled;
  freeze_ticks_ = static_cast<std::int32_t>(std::min<std::int64_t>(liveness_.standing_ms(now) / 10 + 1, 1 << 20));
  last_look_ms_ = now;

  {
    std::lock_guard lock(mutex_);
    stalled_ = stalled;
    running_ = sample.running;
    if (stalled_changed && stalled) {
      apply({}, true);
    } else {
      apply(updates, false);
    }
    for (std::size_t c = 0; c < look_channels_.size() && c < rates_.size(); ++c)
      if (look_channels_[c].record && sample.present) rates_[c].sample(now, replies_received(look_channels_[c].record));
    drain_ring();
  }
  changed_.notify_all();
}

}  // namespace hbt::points
