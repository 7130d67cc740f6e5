// A session: one client of the driver's image that keeps the points of the current
// configuration, their latest values and a change feed. A thread of its own (or the caller,
// for tests and benchmarks) looks at the image every update_ms: it keeps the poller alive and
// the records polled, follows reloads, judges the poller's liveness and turns what the image
// shows changed into feed entries. The caller's calls are those of the C interface.
//
// Threading: the calls may come from any thread, one at a time (the C interface's rule); the
// look runs beside them. The session's state is guarded by one mutex; the image mapping by a
// reader-writer lock that the look takes exclusively only to follow a reload.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <cstdint>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <thread>
#include <vector>

#include "hbt_points.h"
#include "image/message_ring.h"
#include "image/niolib.h"
#include "points/change_detection.h"
#include "points/change_feed.h"
#include "points/clock.h"
#include "points/diagnostics.h"
#include "points/host_exports.h"
#include "points/liveness.h"
#include "points/model.h"
#include "points/record_compare.h"
#include "points/tag_file.h"
#include "points/value_io.h"

namespace hbt::points {

struct SessionOptions {
  std::string host_library;  // empty: the default search (host_exports.h)
  std::string tag_file;      // empty: none
  std::uint32_t update_ms = 50;
  std::uint32_t stall_ms = 1000;
  // false: no thread; the caller calls update() (tests, benchmarks).
  bool background = true;
  // Instead of loading the host library: its entry points (tests).
  const HostExports* host = nullptr;
  Clock* clock = nullptr;  // null: the system's
  // How long open waits for the driver's image to appear.
  std::uint32_t attach_ms = 5000;
};

inline constexpr std::uint32_t kDefaultUpdateMs = 50;
inline constexpr std::uint32_t kDefaultStallMs = 1000;

class Session {
 public:
  // *result is an hbt_points_result; *error says why when it is not OK.
  static std::unique_ptr<Session> open(const SessionOptions& options, std::int32_t* result, std::string* error);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  std::int32_t state(hbt_driver_state* out);
  std::int32_t list(std::uint32_t* generation, const hbt_device_info** devices, std::uint32_t* device_count,
                    const hbt_record_info** records, std::uint32_t* record_count, const hbt_point_info** points,
                    std::uint32_t* point_count);
  std::int32_t read(const std::uint32_t* ids, std::uint32_t count, hbt_point_value* out);
  std::int32_t changes(std::uint64_t* cursor, hbt_point_value* out, std::uint32_t capacity, std::uint32_t* count,
                       std::uint32_t* more);
  std::int32_t wait(std::uint32_t timeout_ms);
  std::int32_t write(const hbt_point_value* values, std::uint32_t count, std::int32_t* results);
  std::int32_t channels(hbt_channel_diag* out, std::uint32_t capacity, std::uint32_t* count);
  std::int32_t messages(std::uint64_t* cursor, hbt_message* out, std::uint32_t capacity, std::uint32_t* count);

  const char* last_error() const;
  void set_error(std::string text);

  // One look at the image (what the session's thread does every update_ms).
  void update();

  // For the memory figures: bytes of the lists and of the values and feed.
  std::size_t model_bytes() const;
  std::size_t runtime_bytes() const;

 private:
  explicit Session(const SessionOptions& options);

  struct PointState {
    std::int64_t integer = 0;
    double real = 0;
    std::int64_t time_ms = 0;
    double reference = 0;  // the value the feed last took, for dead bands
    std::uint16_t status = 0;
    std::uint8_t quality = HBT_QUALITY_NOT_POLLED;
    std::uint8_t has_value = 0;
  };
  // The values and feed of one generation's points (guarded by mutex_).
  struct Runtime {
    std::shared_ptr<const Model> model;
    std::vector<PointState> states;
    std::vector<std::string> texts;  // per text slot
    std::unique_ptr<ChangeFeed> feed;
  };
  // A value found by a look, applied to the runtime under the lock.
  struct Update {
    std::uint32_t point;
    std::uint16_t record_status;
    std::int64_t time_ms;
    Reading reading;
  };
  // What the look keeps per record and channel (only the look touches it).
  struct LookRecord {
    image::PollRecordHead* head = nullptr;
    image::PollControlEntry* control = nullptr;
    hostlib::DataArea area;
    std::uint32_t copy_at = 0;
    RecordTrack track;
    std::uint16_t changed_count = 0;
  };
  struct LookChannel {
    image::ChannelRecord* record = nullptr;
    std::uint16_t replies = 0;
    std::int32_t window_ticks = 0;
  };

  bool attach(std::string* error);
  bool image_current() const;
  hostlib::ImageView view() const;
  // Builds the lists of the mapped image; false when the host and image disagree for now.
  bool rebuild(std::string* error);
  void install(std::shared_ptr<const Model> model);
  void resync_all(std::vector<Update>* updates);
  void look_at_records(std::vector<Update>* updates);
  void read_points_of_record(std::uint32_t r, bool all, const std::vector<WordChange>& changes,
                             std::vector<std::uint32_t>* points);
  // The value of point p as the look finds it: from the record's copy or through the host.
  Update update_of(std::uint32_t p, std::int64_t time_ms);
  void apply(const std::vector<Update>& updates, bool stalled_changed);
  void set_stalled_quality(bool stalled);
  void keep_polled(LookRecord& lr, const RecordPlan& plan);
  void drain_ring();
  void fill_value(const Runtime& rt, std::uint32_t p, std::uint32_t id_for_caller, hbt_point_value* out);
  void fill_value(const hbt_point_info& info, const PointState& st, const std::string* text, std::uint32_t id,
                  hbt_point_value* out);
  std::int64_t request_time(const RecordPlan& plan, std::int32_t countdown, std::int64_t now_unix) const;
  void run();

  SessionOptions options_;
  Clock* clock_;
  std::unique_ptr<LoadedHostLibrary> loaded_host_;
  HostExports host_;
  TagFile tags_;

  // The image as this session maps it (the look's; readers take the shared side).
  class Sink;
  std::unique_ptr<Sink> niolib_messages_;
  std::unique_ptr<image::Niolib> niolib_;
  mutable std::shared_mutex image_mutex_;

  // Guarded by mutex_.
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  Runtime runtime_;
  std::shared_ptr<const Model> client_model_;        // the generation the caller listed
  std::vector<std::uint32_t> client_to_current_;     // its ids in the current generation
  std::uint32_t generation_ = 0;
  std::uint64_t delivered_sequence_ = 0;
  std::uint64_t sequence_base_ = 1;
  bool stalled_ = true;
  bool running_ = false;
  MessageLog messages_;
  std::vector<ReplyRate> rates_;
  std::vector<std::uint32_t> forced_records_;  // records written by the caller: compare them
  std::deque<std::string> value_texts_;        // texts handed out by the last read or changes
  std::string last_error_;

  // The look's own state.
  std::shared_ptr<const Model> look_model_;
  std::vector<LookRecord> look_records_;
  std::vector<std::uint8_t> copies_;
  std::vector<LookChannel> look_channels_;
  std::vector<std::uint32_t> awaiting_;
  Liveness liveness_;
  bool look_stalled_ = true;
  std::int64_t last_look_ms_ = 0;
  std::int32_t freeze_ticks_ = 0;
  std::unique_ptr<image::RingReader> ring_;
  std::vector<WordChange> word_changes_;
  std::vector<std::uint32_t> touched_points_;

  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::mutex stop_mutex_;
  std::condition_variable stop_signal_;
};

}  // namespace hbt::points
