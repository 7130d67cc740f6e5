#include "mqtt/store_forward.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace hbt::mqtt {
namespace {

constexpr uint32_t kMagic = 0x31465348;  // "HSF1"
constexpr size_t kHeader = 12;           // magic, body length, CRC-32 of the body
constexpr uint32_t kMaxBody = 64u << 20;

void put_u32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

uint32_t get_u32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

const std::array<uint32_t, 256>& crc_table() {
  static const std::array<uint32_t, 256> table = [] {
    std::array<uint32_t, 256> t{};
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[i] = c;
    }
    return t;
  }();
  return table;
}

// Reads one record at the reader's position; false at the end or on a bad record.
bool read_record(FILE* f, std::vector<uint8_t>& body) {
  uint8_t header[kHeader];
  if (std::fread(header, 1, kHeader, f) != kHeader) return false;
  if (get_u32(header) != kMagic) return false;
  uint32_t length = get_u32(header + 4);
  if (length < 2 || length > kMaxBody) return false;
  body.resize(length);
  if (std::fread(body.data(), 1, length, f) != length) return false;
  if (crc32(body) != get_u32(header + 8)) return false;
  uint16_t name_length = static_cast<uint16_t>(body[0] | body[1] << 8);
  return size_t{name_length} + 2 <= body.size();
}

}  // namespace

uint32_t crc32(std::span<const uint8_t> bytes) {
  const auto& table = crc_table();
  uint32_t c = 0xFFFFFFFFu;
  for (uint8_t b : bytes) c = table[(c ^ b) & 0xFF] ^ (c >> 8);
  return c ^ 0xFFFFFFFFu;
}

StoreForward::StoreForward(std::string dir, uint64_t max_bytes)
    : dir_(std::move(dir)), max_bytes_(max_bytes), segment_limit_(std::clamp<uint64_t>(max_bytes / 8, 1024, 8u << 20)) {}

StoreForward::~StoreForward() {
  close_reader();
  if (writer_) std::fclose(writer_);
  sync_head();
}

std::string StoreForward::segment_path(uint64_t number) const {
  char name[32];
  std::snprintf(name, sizeof name, "/%016llu.seg", static_cast<unsigned long long>(number));
  return dir_ + name;
}

void StoreForward::close_reader() {
  if (reader_) std::fclose(reader_);
  reader_ = nullptr;
}

void StoreForward::scan_segment(Segment& segment, bool truncate_bad_tail, uint64_t stop_offset,
                                uint64_t* records_before) {
  FILE* f = std::fopen(segment_path(segment.number).c_str(), "rb");
  segment.records = 0;
  uint64_t good_end = 0;
  if (f) {
    std::vector<uint8_t> body;
    while (read_record(f, body)) {
      if (records_before && good_end < stop_offset) ++*records_before;
      good_end += kHeader + body.size();
      ++segment.records;
    }
    std::fclose(f);
  }
  segment.size = good_end;
  if (truncate_bad_tail) {
    std::error_code ec;
    if (std::filesystem::file_size(segment_path(segment.number), ec) != good_end && !ec) {
      std::filesystem::resize_file(segment_path(segment.number), good_end, ec);
    }
  }
}

bool StoreForward::open(std::string& error) {
  std::error_code ec;
  std::filesystem::create_directories(dir_, ec);
  if (ec || !std::filesystem::is_directory(dir_)) {
    error = "cannot create the store-and-forward folder " + dir_ + ": " + ec.message();
    return false;
  }
  std::vector<uint64_t> numbers;
  for (const auto& entry : std::filesystem::directory_iterator(dir_, ec)) {
    const std::string name = entry.path().filename().string();
    if (name.size() == 20 && name.ends_with(".seg") &&
        std::all_of(name.begin(), name.begin() + 16, [](char c) { return c >= '0' && c <= '9'; })) {
      numbers.push_back(std::stoull(name.substr(0, 16)));
    }
  }
  std::sort(numbers.begin(), numbers.end());
  if (!numbers.empty()) next_number_ = numbers.back() + 1;
  uint64_t head_number = 0, head_offset = 0;
  if (std::ifstream head(dir_ + "/head"); head) head >> head_number >> head_offset;
  for (uint64_t number : numbers) {
    if (number < head_number) {  // fully read before the last stop
      std::filesystem::remove(segment_path(number), ec);
      continue;
    }
    Segment segment{number, 0, 0};
    uint64_t consumed = 0;
    const bool is_head = number == head_number;
    scan_segment(segment, true, is_head ? head_offset : 0, is_head ? &consumed : nullptr);
    if (segments_.empty() && is_head) {
      head_offset_ = std::min(head_offset, segment.size);
      head_consumed_ = consumed;
    }
    segments_.push_back(segment);
  }
  // Appends go to a fresh segment, never after a tail that a crash may have left short.
  if (!start_segment()) {
    error = last_error_;
    return false;
  }
  return true;
}

bool StoreForward::start_segment() {
  if (writer_) std::fclose(writer_);
  writer_ = nullptr;
  const uint64_t number = next_number_++;
  writer_ = std::fopen(segment_path(number).c_str(), "ab");
  if (!writer_) {
    last_error_ = "cannot write " + segment_path(number) + ": " + std::strerror(errno);
    return false;
  }
  segments_.push_back(Segment{number, 0, 0});
  return true;
}

void StoreForward::drop_oldest_segment() {
  Segment& oldest = segments_.front();
  dropped_ += oldest.records - head_consumed_;
  const bool was_tail = segments_.size() == 1;
  if (was_tail && writer_) {
    std::fclose(writer_);
    writer_ = nullptr;
  }
  if (reader_number_ == oldest.number) close_reader();
  std::error_code ec;
  std::filesystem::remove(segment_path(oldest.number), ec);
  segments_.pop_front();
  head_offset_ = 0;
  head_consumed_ = 0;
  front_size_ = 0;
}

bool StoreForward::append(std::string_view device, std::span<const uint8_t> payload) {
  const uint64_t name_length = std::min<size_t>(device.size(), 0xFFFF);
  const uint64_t body_length = 2 + name_length + payload.size();
  const uint64_t record = kHeader + body_length;
  if (body_length > kMaxBody || record > max_bytes_) {
    ++dropped_;
    last_error_ = "a record of " + std::to_string(record) + " bytes does not fit the store";
    return false;
  }
  while (bytes() + record > max_bytes_ && !segments_.empty()) drop_oldest_segment();
  if (!writer_ || segments_.empty() || (segments_.back().size > 0 && segments_.back().size + record > segment_limit_)) {
    if (!start_segment()) {
      ++dropped_;
      return false;
    }
  }
  std::vector<uint8_t> bytes(record);
  bytes[kHeader] = static_cast<uint8_t>(name_length);
  bytes[kHeader + 1] = static_cast<uint8_t>(name_length >> 8);
  std::memcpy(bytes.data() + kHeader + 2, device.data(), name_length);
  if (!payload.empty()) std::memcpy(bytes.data() + kHeader + 2 + name_length, payload.data(), payload.size());
  put_u32(bytes.data(), kMagic);
  put_u32(bytes.data() + 4, static_cast<uint32_t>(body_length));
  put_u32(bytes.data() + 8, crc32(std::span<const uint8_t>(bytes).subspan(kHeader)));
  if (std::fwrite(bytes.data(), 1, bytes.size(), writer_) != bytes.size() || std::fflush(writer_) != 0) {
    last_error_ = "cannot write to " + segment_path(segments_.back().number) + ": " + std::strerror(errno);
    ++dropped_;
    // Whatever part reached the file ends that segment; the next record starts a new one.
    std::fclose(writer_);
    writer_ = nullptr;
    scan_segment(segments_.back(), true, 0, nullptr);
    return false;
  }
  segments_.back().size += record;
  segments_.back().records += 1;
  return true;
}

bool StoreForward::front(StoredRecord& out) {
  while (!segments_.empty()) {
    Segment& head = segments_.front();
    if (head_consumed_ < head.records) {
      if (!reader_ || reader_number_ != head.number) {
        close_reader();
        reader_ = std::fopen(segment_path(head.number).c_str(), "rb");
        reader_number_ = head.number;
        if (!reader_) {
          last_error_ = "cannot read " + segment_path(head.number) + ": " + std::strerror(errno);
          return false;
        }
      }
      std::vector<uint8_t> body;
      if (std::fseek(reader_, static_cast<long>(head_offset_), SEEK_SET) == 0 && read_record(reader_, body)) {
        const size_t name_length = body[0] | body[1] << 8;
        out.device.assign(reinterpret_cast<const char*>(body.data() + 2), name_length);
        out.payload.assign(body.begin() + 2 + static_cast<ptrdiff_t>(name_length), body.end());
        front_size_ = kHeader + body.size();
        return true;
      }
      // Unreadable now although it was sound when written: count what is left of it as lost.
      last_error_ = "a damaged record in " + segment_path(head.number);
    }
    if (segments_.size() == 1) {
      if (head_consumed_ < head.records) drop_oldest_segment();
      return false;
    }
    if (head_consumed_ < head.records) {
      drop_oldest_segment();
    } else {
      close_reader();
      std::error_code ec;
      std::filesystem::remove(segment_path(head.number), ec);
      segments_.pop_front();
      head_offset_ = 0;
      head_consumed_ = 0;
    }
  }
  return false;
}

void StoreForward::pop() {
  if (front_size_ == 0) {
    StoredRecord skipped;
    if (!front(skipped)) return;
  }
  head_offset_ += front_size_;
  head_consumed_ += 1;
  front_size_ = 0;
  Segment& head = segments_.front();
  if (head_consumed_ >= head.records && segments_.size() > 1) {
    close_reader();
    std::error_code ec;
    std::filesystem::remove(segment_path(head.number), ec);
    segments_.pop_front();
    head_offset_ = 0;
    head_consumed_ = 0;
  }
}

void StoreForward::sync_head() {
  if (dir_.empty()) return;
  const uint64_t number = segments_.empty() ? 0 : segments_.front().number;
  const std::string tmp = dir_ + "/head.tmp";
  if (FILE* f = std::fopen(tmp.c_str(), "w")) {
    std::fprintf(f, "%llu %llu\n", static_cast<unsigned long long>(number),
                 static_cast<unsigned long long>(head_offset_));
    std::fclose(f);
    std::rename(tmp.c_str(), (dir_ + "/head").c_str());
  }
}

uint64_t StoreForward::queued() const {
  uint64_t n = 0;
  for (const Segment& s : segments_) n += s.records;
  return n - head_consumed_;
}

uint64_t StoreForward::bytes() const {
  uint64_t n = 0;
  for (const Segment& s : segments_) n += s.size;
  return n;
}

}  // namespace hbt::mqtt
