// Store and forward: what the node could not publish while the broker (or the primary host)
// was away, kept on disk in arrival order within a size bound and handed back oldest first.
//
// The folder holds segment files of records ("<n>.seg": magic, length, CRC-32, device name,
// payload) and "head", the read position. A record cut short by a crash, or one whose
// checksum fails, ends its segment: what follows it is not trusted. When a new record would
// pass the bound, whole segments are dropped from the old end and their unread records
// counted as dropped, so the newest data always wins the space.
//
// Threading: one thread at a time.
#pragma once

#include <cstdint>
#include <cstdio>
#include <deque>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace hbt::mqtt {

struct StoredRecord {
  std::string device;
  std::vector<uint8_t> payload;
};

class StoreForward {
 public:
  StoreForward(std::string dir, uint64_t max_bytes);
  ~StoreForward();
  StoreForward(const StoreForward&) = delete;
  StoreForward& operator=(const StoreForward&) = delete;

  // Creates the folder when missing and takes up what an earlier run left there.
  bool open(std::string& error);

  // Adds a record at the new end. False when it could not be written (it is counted as
  // dropped, and last_error says why).
  bool append(std::string_view device, std::span<const uint8_t> payload);

  // The oldest record not yet popped; false when there is none (or it cannot be read).
  bool front(StoredRecord& out);
  void pop();
  // Writes the read position, so a restart does not hand out popped records again.
  void sync_head();

  bool empty() const { return queued() == 0; }
  uint64_t queued() const;
  uint64_t dropped() const { return dropped_; }
  uint64_t bytes() const;
  const std::string& last_error() const { return last_error_; }

 private:
  struct Segment {
    uint64_t number = 0;
    uint64_t size = 0;
    uint64_t records = 0;
  };
  std::string segment_path(uint64_t number) const;
  void scan_segment(Segment& segment, bool truncate_bad_tail, uint64_t stop_offset, uint64_t* records_before);
  void drop_oldest_segment();
  bool start_segment();
  void close_reader();

  std::string dir_;
  uint64_t max_bytes_;
  uint64_t segment_limit_;
  std::deque<Segment> segments_;
  uint64_t head_offset_ = 0;    // read position in segments_.front()
  uint64_t head_consumed_ = 0;  // records of segments_.front() before head_offset_
  uint64_t dropped_ = 0;
  FILE* writer_ = nullptr;      // segments_.back(), when open
  FILE* reader_ = nullptr;      // segments_.front(), when open
  uint64_t reader_number_ = 0;
  uint64_t next_number_ = 1;
  uint64_t front_size_ = 0;     // bytes of the record front() last handed out, 0: none
  std::string last_error_;
};

uint32_t crc32(std::span<const uint8_t> bytes);

}  // namespace hbt::mqtt
