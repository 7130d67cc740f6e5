#include "points/session.h"

#include <algorithm>
#include <cstring>

#include "points/point_writer.h"
#include "points/quality.h"
#include "points/shared_fields.h"

namespace hbt::points {

using namespace hbt::image;

class Session::Sink final : public image::MessageSink {
 public:
  void message(std::uint16_t, std::string_view text) override {
    std::lock_guard lock(mutex_);
    last_.assign(text);
  }
  std::string last() const {
    std::lock_guard lock(mutex_);
    return last_;
  }

 private:
  mutable std::mutex mutex_;
  std::string last_;
};

namespace {

std::uint32_t clamp_ms(std::uint32_t v, std::uint32_t fallback, std::uint32_t low, std::uint32_t high) {
  if (v == 0 || v > high) return fallback;
  return std::max(v, low);
}

}  // namespace

Session::Session(const SessionOptions& options)
    : options_(options),
      clock_(options.clock ? options.clock : &system_clock()),
      liveness_(clamp_ms(options.stall_ms, kDefaultStallMs, 20, 600000)) {
  options_.update_ms = clamp_ms(options.update_ms, kDefaultUpdateMs, 1, 60000);
  options_.stall_ms = clamp_ms(options.stall_ms, kDefaultStallMs, 20, 600000);
}

std::unique_ptr<Session> Session::open(const SessionOptions& options, std::int32_t* result, std::string* error) {
  std::unique_ptr<Session> s(new Session(options));
  *result = HBT_POINTS_OK;
  if (!options.tag_file.empty() && !read_tag_file(options.tag_file, &s->tags_, error)) {
    *result = HBT_POINTS_E_TAGS;
    return nullptr;
  }
  if (options.host) {
    s->host_ = *options.host;
  } else {
    s->loaded_host_ = LoadedHostLibrary::load(options.host_library, error);
    if (!s->loaded_host_) {
      *result = HBT_POINTS_E_NO_DRIVER;
      return nullptr;
    }
    s->host_ = s->loaded_host_->exports();
  }
  if (!s->host_.complete()) {
    *error = "the host library's entry points are incomplete";
    *result = HBT_POINTS_E_NO_DRIVER;
    return nullptr;
  }
  if (!s->attach(error)) {
    *result = HBT_POINTS_E_NO_DRIVER;
    return nullptr;
  }
  // The first look decides the poller's liveness from what it sees now; later looks go on
  // from there. Values are not read before the watchdog has had the stall time to move.
  const std::int64_t start = s->clock_->monotonic_ms();
  for (;;) {
    const std::int64_t now = s->clock_->monotonic_ms();
    image::PointerBlock* b = s->niolib_->pointer_block();
    LivenessSample sample;
    sample.present = s->image_current();
    if (sample.present) {
      sample.running = block_field(b->state) == kStateRunning && (header_flags(s->niolib_->header()) & kPollingFlag);
      sample.watchdog = watchdog(s->niolib_->header());
    }
    s->liveness_.observe(now, sample);
    if (s->liveness_.seen_moving() || now - start > s->options_.stall_ms) break;
    s->clock_->sleep_ms(10);
  }
  s->look_stalled_ = s->liveness_.stalled();
  {
    std::lock_guard lock(s->mutex_);
    s->stalled_ = s->look_stalled_;
    const image::PointerBlock* b = s->niolib_->pointer_block();
    s->running_ = s->image_current() && block_field(b->state) == kStateRunning &&
                  (header_flags(s->niolib_->header()) & kPollingFlag);
  }
  std::string why;
  const std::int64_t deadline = s->clock_->monotonic_ms() + s->options_.attach_ms;
  while (!s->rebuild(&why)) {
    if (s->clock_->monotonic_ms() > deadline) {
      *error = "the configuration cannot be listed: " + why;
      *result = HBT_POINTS_E_NO_DRIVER;
      return nullptr;
    }
    s->clock_->sleep_ms(50);
    std::unique_lock lock(s->image_mutex_);
    s->niolib_->ReMapDIT();
  }
  s->last_look_ms_ = s->clock_->monotonic_ms();
  if (options.background) s->thread_ = std::thread(&Session::run, s.get());
  return s;
}

Session::~Session() {
  {
    std::lock_guard lock(stop_mutex_);
    stop_ = true;
  }
  stop_signal_.notify_all();
  if (thread_.joinable()) thread_.join();
  ring_.reset();
  niolib_.reset();
  loaded_host_.reset();
}

void Session::run() {
  while (!stop_) {
    try {
      update();
    } catch (const std::exception& e) {
      set_error(std::string("look: ") + e.what());
    } catch (...) {
      set_error("look: failed");
    }
    std::unique_lock lock(stop_mutex_);
    stop_signal_.wait_for(lock, std::chrono::milliseconds(options_.update_ms), [&] { return stop_.load(); });
  }
}

bool Session::attach(std::string* error) {
  niolib_messages_ = std::make_unique<Sink>();
  NiolibOptions o;
  o.variant = NiolibVariant::kClient;
  o.start_poller = false;  // the host library starts it
  o.create_pointer_block = false;
  niolib_ = std::make_unique<Niolib>(o, *niolib_messages_);
  const std::int64_t deadline = clock_->monotonic_ms() + options_.attach_ms;
  for (;;) {
    PointerBlock* b = niolib_->open_pointer_block();
    if (b != nullptr && block_field(b->loaded_generation) == block_field(b->map_generation)) {
      std::unique_lock lock(image_mutex_);
      niolib_->ReMapDIT();
    }
    if (image_current()) break;
    if (clock_->monotonic_ms() > deadline) {
      const std::string last = niolib_messages_->last();
      *error = b == nullptr ? "the driver is not running (no driver pointer block)"
                            : "the driver's image is not there" + (last.empty() ? "" : ": " + last);
      return false;
    }
    clock_->sleep_ms(50);
  }
  // The history still in the ring is there to read with a cursor of 0.
  PointerBlock* b = niolib_->pointer_block();
  ring_ = std::make_unique<RingReader>(b, (ring_index(b) + 1) % kMessageRingEntries);
  std::lock_guard lock(mutex_);
  drain_ring();
  return true;
}

bool Session::image_current() const {
  const PointerBlock* b = niolib_ ? niolib_->pointer_block() : nullptr;
  if (b == nullptr || !niolib_->mapped()) return false;
  const std::uint32_t map = block_field(b->map_generation);
  return niolib_->mapped_generation() == map && block_field(b->loaded_generation) == map;
}

hostlib::ImageView Session::view() const {
  hostlib::ImageView v;
  v.block = niolib_->pointer_block();
  v.base = niolib_->image_base();
  v.size = niolib_->image_size();
  v.header = niolib_->mapped() ? niolib_->header() : nullptr;
  v.channels = niolib_->channel_count();
  v.devices = niolib_->device_count();
  v.records = niolib_->poll_record_count();
  v.generation = niolib_->mapped_generation();
  return v;
}

const char* Session::last_error() const {
  std::lock_guard lock(mutex_);
  return last_error_.c_str();
}

void Session::set_error(std::string text) {
  std::lock_guard lock(mutex_);
  last_error_ = std::move(text);
}

std::int32_t Session::state(hbt_driver_state* out) {
  const std::uint32_t size = out->size;
  hbt_driver_state s{};
  s.size = size;
  char text[128] = {};
  host_.get_ServerStatus(text, nullptr);
  // The host's line is up to 127 characters; the state holds what fits.
  std::memcpy(s.status_text, text, std::min(strnlen(text, sizeof text), sizeof s.status_text - 1));
  {
    std::lock_guard lock(mutex_);
    s.generation = generation_;
    s.running = running_;
    s.stalled = stalled_;
    if (runtime_.model) {
      s.device_count = static_cast<std::uint32_t>(runtime_.model->devices.size());
      s.record_count = static_cast<std::uint32_t>(runtime_.model->records.size());
      s.point_count = static_cast<std::uint32_t>(runtime_.model->points.size());
    }
  }
  if (const PointerBlock* b = niolib_->pointer_block())
    std::snprintf(s.config_path, sizeof s.config_path, "%.*s", static_cast<int>(strnlen(b->config_path, sizeof b->config_path)),
                  b->config_path);
  std::memcpy(out, &s, std::min<std::size_t>(size, sizeof s));
  return HBT_POINTS_OK;
}

std::int32_t Session::list(std::uint32_t* generation, const hbt_device_info** devices, std::uint32_t* device_count,
                           const hbt_record_info** records, std::uint32_t* record_count,
                           const hbt_point_info** points, std::uint32_t* point_count) {
  std::lock_guard lock(mutex_);
  client_model_ = runtime_.model;
  client_to_current_.clear();
  const Model& m = *client_model_;
  if (generation) *generation = m.generation;
  if (devices) *devices = m.devices.data();
  if (device_count) *device_count = static_cast<std::uint32_t>(m.devices.size());
  if (records) *records = m.records.data();
  if (record_count) *record_count = static_cast<std::uint32_t>(m.records.size());
  if (points) *points = m.points.data();
  if (point_count) *point_count = static_cast<std::uint32_t>(m.points.size());
  return HBT_POINTS_OK;
}

void Session::fill_value(const hbt_point_info& info, const PointState& st, const std::string* text,
                         std::uint32_t id, hbt_point_value* out) {
  std::memset(out, 0, sizeof *out);
  out->id = id;
  out->type = info.type;
  out->quality = st.quality;
  out->status = st.status;
  out->source_time_ms = st.time_ms;
  if (info.type == HBT_POINT_STRING) {
    value_texts_.push_back(text ? *text : std::string());
    out->text = value_texts_.back().c_str();
    out->text_length = static_cast<std::uint32_t>(value_texts_.back().size());
  } else if (info.type == HBT_POINT_FLOAT || info.type == HBT_POINT_DOUBLE) {
    out->real = st.real;
  } else {
    out->integer = st.integer;
    out->real = static_cast<double>(st.integer);
  }
}

void Session::fill_value(const Runtime& rt, std::uint32_t p, std::uint32_t id, hbt_point_value* out) {
  const std::uint32_t slot = rt.model->text_slot[p];
  fill_value(rt.model->points[p], rt.states[p], slot == kNoPoint ? nullptr : &rt.texts[slot], id, out);
}

std::int32_t Session::read(const std::uint32_t* ids, std::uint32_t count, hbt_point_value* out) {
  std::lock_guard lock(mutex_);
  value_texts_.clear();
  const Model& client = *client_model_;
  for (std::uint32_t i = 0; i < count; ++i)
    if (ids[i] >= client.points.size()) return HBT_POINTS_E_ARGUMENT;
  std::shared_lock image_lock(image_mutex_);
  const hostlib::ImageView v = view();
  const Model& m = *runtime_.model;
  // Between a reload the look has followed and the lists it builds for it, the image shows
  // another configuration than the lists: the values known are given as they stand.
  const bool image_matches = v.valid() && v.generation == m.image_generation;
  const std::int64_t now_unix = clock_->unix_ms();
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::uint32_t id = ids[i];
    const std::uint32_t p =
        client_model_ == runtime_.model ? id : (id < client_to_current_.size() ? client_to_current_[id] : kNoPoint);
    if (p == kNoPoint) {
      std::memset(&out[i], 0, sizeof out[i]);
      out[i].id = id;
      out[i].type = client.points[id].type;
      out[i].quality = HBT_QUALITY_CONFIG;
      continue;
    }
    if (stalled_ || !image_matches) {
      fill_value(runtime_, p, id, &out[i]);
      continue;
    }
    const RecordPlan& plan = m.plan_of(p);
    const PollRecordHead* head = v.record(plan.image_record);
    const PollControlEntry* control = v.control(plan.image_record);
    const std::uint16_t status = head ? record_status(head) : kStatusNotPolled;
    Reading r = plan.bound ? read_fresh(host_, m, v, p) : Reading{};
    // A fresh reading goes into a copy of the point's state: the feed sees the change when
    // its look comes.
    PointState st = runtime_.states[p];
    const std::uint32_t slot = m.text_slot[p];
    std::string text = slot == kNoPoint ? std::string() : runtime_.texts[slot];
    if (r.has_value && !keeps_last_value(status)) {
      st.integer = r.integer;
      st.real = r.real;
      text = r.text;
      st.has_value = 1;
      st.time_ms = request_time(plan, control ? poll_countdown(control) : 0, now_unix);
    }
    const Quality q = quality_of(status, r.has_value ? r.value_status : 0, false);
    st.quality = plan.bound ? q.quality : static_cast<std::uint8_t>(HBT_QUALITY_CONFIG);
    st.status = q.status;
    fill_value(m.points[p], st, &text, id, &out[i]);
  }
  return HBT_POINTS_OK;
}

std::int32_t Session::changes(std::uint64_t* cursor, hbt_point_value* out, std::uint32_t capacity,
                              std::uint32_t* count, std::uint32_t* more) {
  std::lock_guard lock(mutex_);
  *count = 0;
  *more = 0;
  value_texts_.clear();
  if (client_model_ != runtime_.model) return HBT_POINTS_E_STALE;
  std::vector<std::uint32_t> ids;
  ids.reserve(std::min<std::uint32_t>(capacity, runtime_.feed->size()));
  bool waiting = false;
  runtime_.feed->collect(cursor, capacity, &ids, &waiting);
  for (std::size_t i = 0; i < ids.size(); ++i) fill_value(runtime_, ids[i], ids[i], &out[i]);
  *count = static_cast<std::uint32_t>(ids.size());
  *more = waiting ? 1 : 0;
  delivered_sequence_ = std::max(delivered_sequence_, *cursor);
  return HBT_POINTS_OK;
}

std::int32_t Session::wait(std::uint32_t timeout_ms) {
  std::unique_lock lock(mutex_);
  auto pending = [&] {
    return client_model_ != runtime_.model || runtime_.feed->last_sequence() > delivered_sequence_;
  };
  if (pending()) return 1;
  changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms), pending);
  return pending() ? 1 : 0;
}

std::int32_t Session::write(const hbt_point_value* values, std::uint32_t count, std::int32_t* results) {
  std::lock_guard lock(mutex_);
  std::shared_lock image_lock(image_mutex_);
  const hostlib::ImageView v = view();
  const Model& client = *client_model_;
  const Model& m = *runtime_.model;
  const bool image_matches = v.valid() && v.generation == m.image_generation;
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::uint32_t id = values[i].id;
    std::uint32_t p = kNoPoint;
    if (id < client.points.size())
      p = client_model_ == runtime_.model ? id : (id < client_to_current_.size() ? client_to_current_[id] : kNoPoint);
    if (p == kNoPoint) {
      results[i] = HBT_WRITE_UNKNOWN_POINT;
      continue;
    }
    const hbt_point_info& info = m.points[p];
    const std::int32_t refused = refuse_value(info, m.is_tag(p) ? &m.tag_of(p) : nullptr, values[i]);
    if (refused >= 0) {
      results[i] = refused;
      continue;
    }
    const RecordPlan& plan = m.plan_of(p);
    const PollRecordHead* head = image_matches ? v.record(plan.image_record) : nullptr;
    if (stalled_ || head == nullptr || record_status(head) == kStatusCommFailure) {
      results[i] = HBT_WRITE_COMM_FAILURE;
      continue;
    }
    if (!plan.bound) {
      results[i] = HBT_WRITE_UNKNOWN_POINT;
      continue;
    }
    results[i] = write_value(host_, m, v, p, values[i]);
    forced_records_.push_back(m.plan_index_of(p));
  }
  return HBT_POINTS_OK;
}

std::int32_t Session::channels(hbt_channel_diag* out, std::uint32_t capacity, std::uint32_t* count) {
  std::lock_guard lock(mutex_);
  std::shared_lock image_lock(image_mutex_);
  const hostlib::ImageView v = view();
  const auto n = static_cast<std::uint32_t>(std::max(v.channels, 0));
  if (out == nullptr || capacity == 0) {
    *count = n;
    return HBT_POINTS_OK;
  }
  *count = 0;
  for (std::uint32_t i = 0; i < n && i < capacity; ++i) {
    hbt_channel_diag& d = out[i];
    std::memset(&d, 0, sizeof d);
    d.channel = i + 1;
    StatisticsBlock stats{};
    std::int16_t selector = 0;
    hostlib::NioStatus status = -1;
    host_.read_stats(&status, nullptr, static_cast<std::int16_t>(i), &selector, reinterpret_cast<std::uint8_t*>(&stats));
    const ChannelRecord* ch = v.channel(static_cast<int>(i));
    if (status == 0) {
      d.in_service = stats.active_selector != kChannelNotInService;
      d.requests_sent = stats.requests_sent;
      d.replies_received = stats.replies_received;
      d.retries = stats.retries;
      d.reply_timeouts = stats.reply_timeouts;
      d.rejected_replies = stats.rejected_replies;
      d.abnormal_codes = stats.abnormal_codes;
      d.last_end_code = stats.last_abnormal_code;
    }
    if (ch != nullptr) {
      d.on_backup = d.in_service && stats.active_selector != ch->primary.port_low;
      d.tcp = ch->ip_protocol != 0;
      const std::uint32_t ip = ch->ip_address;
      std::snprintf(d.address, sizeof d.address, "%u.%u.%u.%u:%u", ip >> 24, (ip >> 16) & 0xFF, (ip >> 8) & 0xFF,
                    ip & 0xFF, static_cast<unsigned>(ch->ip_port));
      d.device_count = ch->device_count;
      d.record_count = ch->poll_record_count;
      // A Q-series CPU reports its end code per device.
      for (int j = ch->first_device; d.last_end_code == 0 && j < ch->first_device + ch->device_count; ++j)
        if (const DeviceRecord* dev = v.device(j)) d.last_end_code = dev->last_end_code;
    }
    if (i < rates_.size()) d.polls_per_second = rates_[i].per_second();
    ++*count;
  }
  return HBT_POINTS_OK;
}

std::int32_t Session::messages(std::uint64_t* cursor, hbt_message* out, std::uint32_t capacity,
                               std::uint32_t* count) {
  std::lock_guard lock(mutex_);
  messages_.collect(cursor, out, capacity, count);
  return HBT_POINTS_OK;
}

std::size_t Session::model_bytes() const {
  std::lock_guard lock(mutex_);
  return runtime_.model ? runtime_.model->bytes() : 0;
}

std::size_t Session::runtime_bytes() const {
  std::lock_guard lock(mutex_);
  std::size_t n = runtime_.states.capacity() * sizeof(PointState) + runtime_.texts.capacity() * sizeof(std::string);
  for (const std::string& t : runtime_.texts) n += t.capacity() > 15 ? t.capacity() : 0;
  if (runtime_.feed) n += runtime_.feed->bytes();
  n += look_records_.capacity() * sizeof(LookRecord) + copies_.capacity();
  return n;
}

}  // namespace hbt::points
